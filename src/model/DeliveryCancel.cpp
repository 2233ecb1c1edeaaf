#include "model/DeliveryCancel.h"

#include "model/Text.h"

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

std::mutex SwitchMutex; // keeps the flag and the descriptor's state in step
std::atomic<bool> Cancelled {false};

// Level-triggered wake-up: the eventfd's counter is non-zero exactly while the
// switch is on, so a wait that starts after the switch was set still sees it.
int WakeFd()
{
    static const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}

} // namespace

void SetDeliveriesCancelled(bool cancelled)
{
    std::lock_guard lock(SwitchMutex);
    if (Cancelled.load() == cancelled)
        return;
    // The descriptor is readable only while the flag is on: the flag goes on
    // before the descriptor wakes the waiters, and off after it is drained.
    std::uint64_t value = 1;
    if (cancelled) {
        Cancelled.store(true);
        if (WakeFd() >= 0)
            (void)write(WakeFd(), &value, sizeof value);
    } else {
        if (WakeFd() >= 0)
            (void)read(WakeFd(), &value, sizeof value);
        Cancelled.store(false);
    }
}

bool DeliveriesCancelled() { return Cancelled.load(); }

int DeliveriesCancelledFd() { return WakeFd(); }

bool WaitUnlessDeliveriesCancelled(int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (Cancelled.load())
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        pollfd p {WakeFd(), POLLIN, 0};
        // Without a descriptor the wait still ends on time, only not early.
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return !Cancelled.load();
    }
}

std::string DeliveriesCancelledMessage() { return Cp1251("Отправка SMS прервана."); }
