#pragma once
// Desktop notifications: the freedesktop notification service on the session
// bus (org.freedesktop.Notifications), or the tray icon's balloon when no
// service answers. A click on the notification (its default action) or on the
// balloon runs the notification's own handler.
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <optional>

class QSystemTrayIcon;

class TNotifier : public QObject {
    Q_OBJECT
public:
    // `tray`: the program's tray icon (not owned), for the balloon.
    TNotifier(QSystemTrayIcon* tray, QObject* parent);

    // `group` not empty: a notification of that group still shown is replaced
    // by this one (its handler too) rather than joined by another.
    void Notify(const QString& title, const QString& body, std::function<void()> activated,
                const QString& group = QString());
    // A notification of `group` is still shown by the notification service:
    // neither closed nor clicked (a tray balloon counts as gone at once).
    bool Showing(const QString& group) const;

signals:
    // A notification went out: through "dbus" or the "tray" balloon.
    void Shown(const QString& way, const QString& title, const QString& body);

private slots:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    struct TRequest {
        QString Title, Body;
        std::function<void()> Activated;
    };
    struct TGroup {
        uint Id = 0;                 // the service's id of the one shown, 0: none yet
        bool Asking = false;         // a Notify call waits for its answer
        std::optional<TRequest> Next; // to replace it once that answer came
    };
    void Send(TRequest request, const QString& group);
    void Forget(uint id);
    void ShowBalloon(const QString& title, const QString& body, std::function<void()> activated);

    QSystemTrayIcon* FTray;
    bool FTrayShownHere = false;                    // the icon is shown only for the balloon
    std::function<void()> FBalloonActivated;        // the last balloon's handler
    std::map<uint, std::function<void()>> FPending; // the service's notification ids
    std::map<QString, TGroup> FGroups;
};
