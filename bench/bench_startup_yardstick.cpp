// The yardstick of bench_startup: a minimal Qt Widgets program, QApplication
// and an empty main window with a title, built with the program's flags.
// With VELOTEXT_STARTUP_TRACE set it writes the same marks as the program
// (and with "exit" ends as soon as its window is mapped, for callgrind).
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const char* const Trace = std::getenv("VELOTEXT_STARTUP_TRACE");

long long Ns(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void Mark(const char* what)
{
    if (Trace)
        std::fprintf(stderr, "velotext-trace %s %lld %lld %lld\n", what, Ns(CLOCK_MONOTONIC),
                     Ns(CLOCK_PROCESS_CPUTIME_ID), Ns(CLOCK_THREAD_CPUTIME_ID));
}

class TFirstPaintMark : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType() && static_cast<QWindow*>(watched)->isExposed()) {
            QCoreApplication::instance()->removeEventFilter(this);
            Mark("exposed");
            QTimer::singleShot(0, [] {
                Mark("painted");
            });
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    Mark("main");
    QApplication app(argc, argv);
    Mark("QApplication");
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Yardstick"));
    window.resize(800, 514); // the program's main window's size
    Mark("main window built");
    window.show();
    Mark("main window shown");
    if (Trace && std::strcmp(Trace, "exit") == 0)
        std::_Exit(0);
    if (Trace)
        app.installEventFilter(new TFirstPaintMark(&app));
    return QApplication::exec();
}
