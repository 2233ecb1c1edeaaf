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

void TNotifier::Notify(const QString& title, const QString& body, std::function<void()> activated,
                       const QString& group)
{
    TRequest request {title, body, std::move(activated)};
    if (!group.isEmpty()) {
        TGroup& g = FGroups[group];
        if (g.Asking) { // the one before still waits for its id: this one follows it
            g.Next = std::move(request);
            return;
        }
    }
    Send(std::move(request), group);
}

bool TNotifier::Showing(const QString& group) const
{
    const auto it = FGroups.find(group);
    return it != FGroups.end() && (it->second.Asking || it->second.Id != 0);
}

void TNotifier::Send(TRequest request, const QString& group)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        FGroups.erase(group);
        ShowBalloon(request.Title, request.Body, std::move(request.Activated));
        return;
    }
    uint replaces = 0;
    if (!group.isEmpty()) {
        TGroup& g = FGroups[group];
        replaces = g.Id;
        g.Asking = true;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    call << QStringLiteral("Velotext") << replaces << QStringLiteral("velotext") << request.Title << request.Body
         << QStringList {QStringLiteral("default"), QStringLiteral("Открыть историю")} << QVariantMap()
         << int(-1);
    // Asynchronous: a service that is slow to answer never holds the window up.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, group, request = std::move(request)]() mutable {
                watcher->deleteLater();
                QDBusPendingReply<uint> reply = *watcher;
                std::optional<TRequest> next;
                if (!group.isEmpty()) {
                    TGroup& g = FGroups[group];
                    g.Asking = false;
                    next = std::exchange(g.Next, std::nullopt);
                    if (reply.isError())
                        FGroups.erase(group);
                    else {
                        if (g.Id != 0 && g.Id != reply.value())
                            FPending.erase(g.Id); // a service that gave the replacement an id of its own
                        g.Id = reply.value();
                    }
                }
                if (reply.isError())
                    ShowBalloon(request.Title, request.Body, std::move(request.Activated));
                else {
                    FPending[reply.value()] = std::move(request.Activated);
                    emit Shown(QStringLiteral("dbus"), request.Title, request.Body);
                }
                if (next)
                    Send(std::move(*next), group);
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
    Forget(id);
    if (activated)
        Guard([&] { activated(); });
}

void TNotifier::NotificationClosed(uint id, uint /*reason*/) { Forget(id); }

// The notification is gone from the desktop: a later one of its group is new.
void TNotifier::Forget(uint id)
{
    FPending.erase(id);
    for (auto& [group, g] : FGroups)
        if (g.Id == id)
            g.Id = 0;
}
