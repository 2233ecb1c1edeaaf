#pragma once
// The program ends when its main window closes, not when its last window
// does (a dialog opened from the tray while the main window is hidden would
// otherwise end it). The filter lets the window handle its close first, with
// any question it asks and the event loop that question runs, and ends the
// program only when the window accepted the close.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <functional>

class TQuitOnClose : public QObject {
public:
    explicit TQuitOnClose(std::function<void()> quit = [] { QCoreApplication::quit(); }) : FQuit(std::move(quit)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close || FInside)
            return false;
        FInside = true;
        QCoreApplication::sendEvent(watched, event); // the window's own close handling
        FInside = false;
        if (event->isAccepted())
            FQuit();
        return true; // handled: the caller reads the outcome from the same event
    }

private:
    std::function<void()> FQuit;
    bool FInside = false;
};
