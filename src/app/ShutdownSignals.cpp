#include "app/ShutdownSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <system_error>
#include <unistd.h>

namespace {
int Pipe[2] = {-1, -1};
constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};
bool Handled[std::size(Signals)] = {};

extern "C" void OnSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(Pipe[1], &byte, 1); // a full pipe has one pending already
    errno = saved;
}
} // namespace

TShutdownSignals::TShutdownSignals(QObject* parent) : QObject(parent)
{
    if (pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    FNotifier = new QSocketNotifier(Pipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, &TShutdownSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(Signals); ++i) {
        // A signal ignored by whoever started us stays ignored (nohup, a
        // background job of a shell without job control).
        struct sigaction previous {};
        sigaction(Signals[i], nullptr, &previous);
        Handled[i] = previous.sa_handler != SIG_IGN;
        if (Handled[i])
            sigaction(Signals[i], &action, nullptr);
    }
}

TShutdownSignals::~TShutdownSignals()
{
    for (size_t i = 0; i < std::size(Signals); ++i)
        if (Handled[i])
            std::signal(Signals[i], SIG_DFL);
    delete FNotifier;
    close(Pipe[0]);
    close(Pipe[1]);
    Pipe[0] = Pipe[1] = -1;
}

void TShutdownSignals::Read()
{
    unsigned char byte = 0;
    while (read(Pipe[0], &byte, 1) == 1)
        emit Received(byte);
}
