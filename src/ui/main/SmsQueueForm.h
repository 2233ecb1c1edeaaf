#pragma once
// The queue window: the messages waiting for delivery, and the send timer that
// works the queue off, one delivery attempt per tick, whether the window is
// shown or not. An attempt runs in three steps: BeginDelivery on this thread,
// TSmsDelivery::Run on a worker thread, FinishDelivery back here when the
// worker is done, so the windows keep working during the network exchange.
// Closing the window only hides it.
#include "ui/WindowPlacement.h"

#include <QFutureWatcher>
#include <QWidget>

#include <memory>

class QAction;
class QListView;
class QStandardItemModel;
class QTimer;
class QToolBar;
class TSms;
class TSmsDelivery;
struct TQueueWait;

class TSmsQueueForm : public QWidget, public TPlacedWidget {
    Q_OBJECT
public:
    explicit TSmsQueueForm(QWidget* parent = nullptr);
    ~TSmsQueueForm() override;

    // Sending is paused: the timer is off (a delivery out still ends).
    bool Paused() const { return FPaused; }
    // A delivery is out (from its start on this thread to its end here).
    bool Sending() const { return FSending; }

    void Pause();
    void Resume();
    // The grid from the queue, then the buttons, then QueueChanged().
    void RefreshQueue();

    // Shut-down: no further attempt starts; a delivery out is cancelled (a
    // piece already on the network completes), waited for and recorded.
    void StopDelivery();

    // The text of one grid row: header line, "\r", the message, and a line
    // saying why it waits (or that it is being delivered).
    static QString RowText(const TSms& sms, bool delivering = false);
    // Why the queue waits, as a sentence with the exact moment (a date when it
    // is not today, seconds for the short waits): for the main window's status
    // and for a command handed to the program.
    static QString WaitSentence(const TSms& sms, const TQueueWait& wait, long long now);
    static QString QuietSentence(long long until, long long now);

signals:
    // The queue or the pause state changed (the main window's status texts).
    void QueueChanged();
    // A delivery finished its message for good (sent or given up); the
    // manager's Finished holds its history record.
    void SmsFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillGrid();
    void UpdateButtons();
    void NotifyQueueChanged() { emit QueueChanged(); }
    void SenderTimerTimer();
    void DeliveryFinished();
    void PauseTBClick();
    void DeleteTBClick();
    void DeleteAllTBClick();
    void SendNowTBClick();
    const TSms* CurrentHeld() const;
    void CloseTBClick();

    QToolBar* ToolBar;
    QAction* PauseTB;
    QAction* DeleteTB;
    QAction* DeleteAllTB;
    QAction* SendNowTB;
    QAction* CloseTB;
    QListView* SmsStringGrid;
    QStandardItemModel* FRows;
    QTimer* SenderTimer;

    bool FPaused = false;
    bool FSending = false;
    bool FStopped = false; // shut-down: the timer stays off
    std::shared_ptr<TSmsDelivery> FDelivery;
    QFutureWatcher<void> FWatcher;
};
