#include "ui/KeyringStore.h"

#include "model/Error.h"
#include "model/Text.h"
#include "ui/UiText.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <qt6keychain/keychain.h>

namespace {

const QString Service = QStringLiteral("Velotext");

// Runs the job to its end and raises the keyring's reason when it failed.
void Run(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

[[noreturn]] void Refused(const QKeychain::Job& job) { throw TError(FromQt(job.errorString())); }

} // namespace

bool TKeyringStore::Available()
{
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
    QKeychain::ReadPasswordJob job(Service);
    job.setKey(ToQt(key));
    Run(job);
    if (job.error() == QKeychain::EntryNotFound)
        return std::nullopt;
    if (job.error() != QKeychain::NoError)
        Refused(job);
    return FromQt(job.textData());
}

void TKeyringStore::Write(const std::string& key, const std::string& value)
{
    QKeychain::WritePasswordJob job(Service);
    job.setKey(ToQt(key));
    job.setTextData(ToQt(value));
    Run(job);
    if (job.error() != QKeychain::NoError)
        Refused(job);
}
