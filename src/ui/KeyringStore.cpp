#include "ui/KeyringStore.h"

#include "model/Error.h"
#include "model/Text.h"
#include "ui/UiText.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

const QString Service = QStringLiteral("Velotext");

// How long a keyring may take to answer before the password stays in the
// options file: a keyring is asked while a window waits (the options
// dialog's OK, the start). VELOTEXT_KEYRING_TIMEOUT_MS sets it (tests).
int AnswerTimeoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELOTEXT_KEYRING_TIMEOUT_MS", &ok);
    return ok && ms > 0 ? ms : 3000;
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

std::string NoAnswerText()
{
    return Cp1251("Связка ключей не ответила (возможно, она заблокирована и ждёт пароля).");
}

[[noreturn]] void NoAnswer() { throw TError(NoAnswerText()); }

// A call to the Secret Service that waits at most the answer time; one that
// gets no answer in that time ends in NoAnswer.
QDBusMessage CallSecrets(const QString& path, const QString& interface, const QString& method,
                         const QVariantList& arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), path, interface, method);
    call.setArguments(arguments);
    // Waited for in an event loop, as the keyring jobs are: the windows keep
    // painting meanwhile (the user's input waits).
    QDBusPendingCallWatcher watcher(QDBusConnection::sessionBus().asyncCall(call, AnswerTimeoutMs()));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    const QDBusMessage reply = watcher.reply();
    if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NoReply"))
        NoAnswer();
    return reply;
}

// Waits for the Completed signal of one Secret Service prompt.
class TPromptWait : public QObject {
    Q_OBJECT
public:
    bool Done = false;
    bool Dismissed = true;
    QEventLoop Loop;

public slots:
    void Completed(bool dismissed, const QDBusVariant&)
    {
        Done = true;
        Dismissed = dismissed;
        Loop.quit();
    }
};

// KWallet serves the Secret Service: the same process owns both names.
bool ServedByKWallet()
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    const QString secrets = bus->serviceOwner(QStringLiteral("org.freedesktop.secrets")).value();
    for (const QString& name : {QStringLiteral("org.kde.kwalletd5"), QStringLiteral("org.kde.kwalletd6")})
        if (!secrets.isEmpty() && bus->serviceOwner(name).value() == secrets)
            return true;
    return false;
}

// The Secret Service's default collection must be unlocked before it is
// asked: a locked GNOME Keyring fails a write with a text in English and
// reads a stored password as missing. A locked GNOME Keyring is refused at
// once (its prompt would hold the window until the user typed its password);
// KWallet shows its wallet as locked to every new client, even when the
// session opened it, and its prompt then completes without a word. A prompt
// dismissed, or not answered in time, refuses the keyring. Returns false
// when there is no default collection yet (creating one would prompt for a
// new keyring password): nothing is stored there.
bool UnlockOrRefuse()
{
    // Without the service (KWallet's own interface only) the first call fails at once.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString root = QStringLiteral("/org/freedesktop/secrets");
    const QDBusMessage alias = CallSecrets(root, QStringLiteral("org.freedesktop.Secret.Service"),
                                           QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    if (alias.type() != QDBusMessage::ReplyMessage || alias.arguments().isEmpty())
        return true; // KWallet's own interface only: the keyring library knows it
    const QDBusObjectPath collection = alias.arguments()[0].value<QDBusObjectPath>();
    if (collection.path().isEmpty() || collection.path() == QStringLiteral("/"))
        return false;
    const QDBusMessage locked =
        CallSecrets(collection.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
    if (locked.type() != QDBusMessage::ReplyMessage || locked.arguments().isEmpty() ||
        !locked.arguments()[0].value<QDBusVariant>().variant().toBool())
        return true;
    const std::string lockedText = Cp1251("связка ключей заблокирована, её не открыли.");
    if (!ServedByKWallet())
        throw TError(lockedText);
    const QDBusMessage unlock =
        CallSecrets(root, QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Unlock"),
                    {QVariant::fromValue(QList<QDBusObjectPath> {collection})});
    if (unlock.type() != QDBusMessage::ReplyMessage || unlock.arguments().size() != 2)
        throw TError(lockedText);
    if (qdbus_cast<QList<QDBusObjectPath>>(unlock.arguments()[0]).contains(collection))
        return true;
    const QString prompt = unlock.arguments()[1].value<QDBusObjectPath>().path();
    if (prompt.isEmpty() || prompt == QStringLiteral("/"))
        throw TError(lockedText);
    TPromptWait wait;
    bus.connect(QStringLiteral("org.freedesktop.secrets"), prompt, QStringLiteral("org.freedesktop.Secret.Prompt"),
                QStringLiteral("Completed"), &wait, SLOT(Completed(bool, QDBusVariant)));
    QTimer::singleShot(AnswerTimeoutMs(), &wait.Loop, &QEventLoop::quit);
    const QDBusMessage shown = CallSecrets(prompt, QStringLiteral("org.freedesktop.Secret.Prompt"),
                                           QStringLiteral("Prompt"), {QString()});
    if (shown.type() == QDBusMessage::ReplyMessage && !wait.Done)
        wait.Loop.exec(QEventLoop::ExcludeUserInputEvents);
    bus.disconnect(QStringLiteral("org.freedesktop.secrets"), prompt, QStringLiteral("org.freedesktop.Secret.Prompt"),
                   QStringLiteral("Completed"), &wait, SLOT(Completed(bool, QDBusVariant)));
    if (!wait.Done) {
        // Taken away, so that a prompt nobody saw does not stay on the desktop.
        CallSecrets(prompt, QStringLiteral("org.freedesktop.Secret.Prompt"), QStringLiteral("Dismiss"), {});
        NoAnswer();
    }
    if (wait.Dismissed)
        throw TError(lockedText);
    return true;
}

std::string NotCreatedText()
{
    return Cp1251("связка ключей ещё не создана (нет связки ключей по умолчанию).");
}

} // namespace

bool TKeyringStore::Available()
{
    if (FAvailable)
        return *FAvailable;
    FAvailable = false;
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
            FAvailable = true;
    return *FAvailable;
}

void TKeyringStore::Refuse(const QString& reason)
{
    FRefusal = FromQt(reason);
    throw TError(*FRefusal);
}

bool TKeyringStore::Ready()
{
    if (FRefusal)
        throw TError(*FRefusal);
    try {
        return UnlockOrRefuse();
    } catch (...) {
        FRefusal = ExceptionMessage(std::current_exception());
        throw;
    }
}

std::optional<std::string> TKeyringStore::Read(const std::string& key)
{
    if (!Ready()) { // no keyring created yet: it holds nothing
        FKnown[key] = std::string();
        return std::nullopt;
    }
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
    if (!Run(job)) {
        FRefusal = NoAnswerText();
        NoAnswer();
    }
    if (error == QKeychain::EntryNotFound) {
        FKnown[key] = std::string();
        return std::nullopt;
    }
    if (error != QKeychain::NoError)
        Refuse(reason);
    FKnown[key] = *value;
    return value;
}

void TKeyringStore::Write(const std::string& key, const std::string& value)
{
    if (const auto known = FKnown.find(key); known != FKnown.end() && known->second == value)
        return; // held already: a save need not ask the keyring
    if (!Ready()) {
        FRefusal = NotCreatedText();
        throw TError(*FRefusal);
    }
    auto* job = new QKeychain::WritePasswordJob(Service);
    job->setKey(ToQt(key));
    job->setTextData(ToQt(value));
    QKeychain::Error error = QKeychain::NoError;
    QString reason;
    QObject::connect(job, &QKeychain::Job::finished, job, [&](QKeychain::Job*) {
        error = job->error();
        reason = job->errorString();
    });
    if (!Run(job)) {
        FRefusal = NoAnswerText();
        NoAnswer();
    }
    if (error != QKeychain::NoError)
        Refuse(reason);
    FKnown[key] = value;
}

#include "KeyringStore.moc"
