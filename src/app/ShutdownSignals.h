#pragma once
// SIGTERM, SIGINT and SIGHUP become an orderly close on the UI thread: the
// handler only writes the signal's number into a pipe, whose reading end a
// QSocketNotifier watches; Received is emitted from the event loop. A signal
// that was ignored when the program started stays ignored.
#include <QObject>

class QSocketNotifier;

class TShutdownSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; one object at a time. Raises std::system_error
    // when the pipe cannot be made.
    explicit TShutdownSignals(QObject* parent = nullptr);
    // Puts the default handlers back.
    ~TShutdownSignals() override;

signals:
    void Received(int signalNumber);

private:
    void Read();
    QSocketNotifier* FNotifier = nullptr;
};
