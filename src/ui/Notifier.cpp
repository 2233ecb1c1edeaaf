#include "ui/Notifier.h"

#include "ui/dialogs/UiHelpers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QTimer>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

} // namespace

TNotifier::TNotifier(QSystemTrayIcon* tray, QObject* parent) : QObject(parent), FTray(tray)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
        bus.connect(Service, Path, Service, QStringLiteral("NotificationClosed"), this,
                    SLOT(NotificationClosed(uint, uint)));
    }
    if (FTray)
        connect(FTray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (FTrayShownHere) {
                FTray->hide();
                FTrayShownHere = false;
            }
            if (auto activated = std::exchange(FBalloonActivated, nullptr))
                Guard([&] { activated(); });
        });
}

void TNotifier::Notify(const QString& title, const QString& body, std::function<void()> activated)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ShowBalloon(title, body, std::move(activated));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    call << QStringLiteral("Velotext") << uint(0) << QStringLiteral("velotext") << title << body
         << QStringList {QStringLiteral("default"), QStringLiteral("Открыть историю")} << QVariantMap()
         << int(-1);
    // Asynchronous: a service that is slow to answer never holds the window up.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, title, body, activated = std::move(activated)]() mutable {
                watcher->deleteLater();
                QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    ShowBalloon(title, body, std::move(activated));
                    return;
                }
                FPending[reply.value()] = std::move(activated);
                emit Shown(QStringLiteral("dbus"), title, body);
            });
}

void TNotifier::ShowBalloon(const QString& title, const QString& body, std::function<void()> activated)
{
    if (FTray && !FTray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) {
        // The icon is there for the balloon only: it goes when the balloon has had its time.
        FTray->show();
        FTrayShownHere = true;
        QTimer::singleShot(30000, this, [this] {
            if (std::exchange(FTrayShownHere, false))
                FTray->hide();
        });
    }
    FBalloonActivated = std::move(activated);
    if (FTray)
        FTray->showMessage(title, body, QSystemTrayIcon::Warning);
    emit Shown(QStringLiteral("tray"), title, body);
}

void TNotifier::ActionInvoked(uint id, const QString& action)
{
    const auto it = FPending.find(id);
    if (it == FPending.end() || action != QStringLiteral("default"))
        return;
    std::function<void()> activated = std::move(it->second);
    FPending.erase(it);
    if (activated)
        Guard([&] { activated(); });
}

void TNotifier::NotificationClosed(uint id, uint /*reason*/) { FPending.erase(id); }
