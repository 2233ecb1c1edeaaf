#pragma once
// Drives the delivery-status rounds in the running program: a timer on the
// window's thread takes the due queries (cheap), a worker thread asks them;
// one round at a time. The state file beside the history is opened at the
// first tick, once the data files are loaded.
#include <QFutureWatcher>
#include <QObject>
#include <QStringList>

#include <memory>

class QTimer;
class TCancelToken;

class TDeliveryPoller : public QObject {
    Q_OBJECT
public:
    // Ticks every `intervalMs` (the back-off's shortest step is 30 s).
    explicit TDeliveryPoller(QObject* parent = nullptr, int intervalMs = 5000);
    // Cuts the round under way short (its queries are asked again later) and waits for it.
    ~TDeliveryPoller() override;

    // One tick now (tests).
    void Tick();
    bool RoundRunning() const { return FWatcher.isRunning(); }

signals:
    // A round has ended: the states may have changed.
    void RoundFinished();
    // Messages became "не доставлено" (by a query or a report), one line each:
    // "name (phone): reason".
    void NotDelivered(const QStringList& lines);

private:
    void TellNotDelivered();

    QTimer* FTimer;
    QFutureWatcher<void> FWatcher;
    std::shared_ptr<TCancelToken> FCancel;
    bool FOpenTried = false;
};
