// A notification service for tests on a private session bus: it takes the
// name org.freedesktop.Notifications, appends each notification to the log
// file given as its argument (UTF-8, one line: summary TAB body TAB actions,
// then TAB "replaces " id for one that replaces a notification still shown)
// and, like a user's click, invokes the default action of each one; with
// --no-click as its second argument it leaves them shown.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

class TRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    TRecorder(QString log, bool click) : FLog(std::move(log)), FClick(click) {}

public slots:
    uint Notify(const QString& /*app*/, uint replaces, const QString& /*icon*/, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& /*hints*/, int /*timeout*/)
    {
        QString line = summary + u'\t' + body + u'\t' + actions.join(u',');
        if (replaces != 0)
            line += QStringLiteral("\treplaces %1").arg(replaces);
        QFile file(FLog);
        if (file.open(QIODevice::Append))
            file.write((line + u'\n').toUtf8());
        const uint id = replaces != 0 && replaces <= FLast ? replaces : ++FLast;
        if (FClick && actions.contains(QStringLiteral("default")))
            QTimer::singleShot(50, this, [this, id] { emit ActionInvoked(id, QStringLiteral("default")); });
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }
    // For the tests: a user's click on the notification.
    void Click(uint id) { emit ActionInvoked(id, QStringLiteral("default")); }

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    QString FLog;
    bool FClick;
    uint FLast = 0;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    TRecorder recorder(QString::fromLocal8Bit(argv[1]), !(argc > 2 && QByteArray(argv[2]) == "--no-click"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notify_recorder: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    return app.exec();
}

#include "NotifyRecorder.moc"
