#pragma once
// Desktop notifications: the freedesktop notification service on the session
// bus (org.freedesktop.Notifications), or the tray icon's balloon when no
// service answers. A click on the notification (its default action) or on the
// balloon runs the notification's own handler.
#include <QObject>
#include <QString>

#include <functional>
#include <map>

class QSystemTrayIcon;

class TNotifier : public QObject {
    Q_OBJECT
public:
    // `tray`: the program's tray icon (not owned), for the balloon.
    TNotifier(QSystemTrayIcon* tray, QObject* parent);

    void Notify(const QString& title, const QString& body, std::function<void()> activated);

signals:
    // A notification went out: through "dbus" or the "tray" balloon.
    void Shown(const QString& way, const QString& title, const QString& body);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    void ShowBalloon(const QString& title, const QString& body, std::function<void()> activated);

    QSystemTrayIcon* FTray;
    bool FTrayShownHere = false;                    // the icon is shown only for the balloon
    std::function<void()> FBalloonActivated;        // the last balloon's handler
    std::map<uint, std::function<void()>> FPending; // the service's notification ids
};
