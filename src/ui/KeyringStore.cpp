#include "ui/KeyringStore.h"

#include "model/Error.h"
#include "model/Text.h"
#include "ui/UiText.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

const QString Service = QStringLiteral("Velotext");

// How long a keyring may take to answer: a prompt nobody can see (no prompter
// on this desktop, e.g. for a keyring still to be created) would otherwise
// hold the program for ever. VELOTEXT_KEYRING_TIMEOUT_MS sets it (tests).
int AnswerTimeoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELOTEXT_KEYRING_TIMEOUT_MS", &ok);
    return ok && ms > 0 ? ms : 15000;
}

// Runs the job (created with new) to its end; false when the keyring did not
// answer in time. The job deletes itself once it ends, answered or not.
bool Run(QKeychain::Job* job)
{
    job->setAutoDelete(true);
    QEventLoop loop;
    bool answered = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        answered = true;
        loop.quit();
    });
    QTimer::singleShot(AnswerTimeoutMs(), &loop, &QEventLoop::quit);
    job->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!answered) // its late answer must reach nobody whose scope has ended
        QObject::disconnect(job, &QKeychain::Job::finished, nullptr, nullptr);
    return answered;
}

[[noreturn]] void Refused(const QString& reason) { throw TError(FromQt(reason)); }

[[noreturn]] void NoAnswer()
{
    throw TError(Cp1251("Связка ключей не ответила (возможно, она заблокирована и ждёт пароля)."));
}

// The Secret Service's default collection is locked. Asked then, it fails a
// write with a text in English and reads a stored password as missing, so the
// lock is looked at first, and nothing is asked of a locked keyring.
void RefuseWhenLocked()
{
    const QString service = QStringLiteral("org.freedesktop.secrets");
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.interface();
    if (!names || !names->isServiceRegistered(service).value())
        return; // KWallet's own interface, or a service still to start: it answers for itself
    QDBusMessage get = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusMessage reply = bus.call(get, QDBus::Block, AnswerTimeoutMs());
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply"))
        NoAnswer();
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
        reply.arguments()[0].value<QDBusVariant>().variant().toBool())
        throw TError(Cp1251("связка ключей заблокирована (её открывает пароль, например при входе в сеанс)."));
}

} // namespace

bool TKeyringStore::Available()
{
    // Without a session bus of the desktop there is no keyring; asking for one
    // would start a bus of its own on the display.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    const QStringList activatable = bus->activatableServiceNames().value();
    for (const QString& name : {QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
                                QStringLiteral("org.kde.kwalletd6")})
        if (bus->isServiceRegistered(name).value() || activatable.contains(name))
            return true;
    return false;
}

std::optional<std::string> TKeyringStore::Read(const std::string& key)
{
    RefuseWhenLocked();
    auto* job = new QKeychain::ReadPasswordJob(Service);
    job->setKey(ToQt(key));
    // The answer is read in the finished handler's time: the job deletes itself after it.
    std::optional<std::string> value;
    QKeychain::Error error = QKeychain::NoError;
    QString reason;
    QObject::connect(job, &QKeychain::Job::finished, job, [&](QKeychain::Job*) {
        error = job->error();
        reason = job->errorString();
        value = FromQt(job->textData());
    });
    if (!Run(job))
        NoAnswer();
    if (error == QKeychain::EntryNotFound)
        return std::nullopt;
    if (error != QKeychain::NoError)
        Refused(reason);
    return value;
}

void TKeyringStore::Write(const std::string& key, const std::string& value)
{
    RefuseWhenLocked();
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(ToQt(key));
    job->setTextData(ToQt(value));
    QKeychain::Error error = QKeychain::NoError;
    QString reason;
    QObject::connect(job, &QKeychain::Job::finished, job, [&](QKeychain::Job*) {
        error = job->error();
        reason = job->errorString();
    });
    if (!Run(job))
        NoAnswer();
    if (error != QKeychain::NoError)
        Refused(reason);
}
