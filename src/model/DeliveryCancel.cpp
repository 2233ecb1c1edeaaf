#include "model/DeliveryCancel.h"

#include "model/Text.h"

#include <chrono>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
thread_local const TCancelToken* Current = nullptr;
} // namespace

// Level-triggered: the eventfd's counter becomes non-zero when the token is
// cancelled and stays so, so a wait that starts after the cancel still sees it.
TCancelToken::TCancelToken() : FFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

TCancelToken::~TCancelToken()
{
    if (FFd >= 0)
        close(FFd);
}

void TCancelToken::Cancel()
{
    // The flag goes on before the descriptor wakes the waiters.
    if (FCancelled.exchange(true))
        return;
    std::uint64_t value = 1;
    if (FFd >= 0)
        (void)write(FFd, &value, sizeof value);
}

TCancelScope::TCancelScope(const TCancelToken& token) : FPrevious(Current) { Current = &token; }

TCancelScope::~TCancelScope() { Current = FPrevious; }

bool DeliveriesCancelled() { return Current && Current->Cancelled(); }

int DeliveriesCancelledFd() { return Current ? Current->Fd() : -1; }

bool WaitUnlessDeliveriesCancelled(int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    const int fd = DeliveriesCancelledFd();
    for (;;) {
        if (DeliveriesCancelled())
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        // Without a token (or a descriptor) the wait still ends on time, only not early.
        pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return !DeliveriesCancelled();
    }
}

std::string DeliveriesCancelledMessage() { return Cp1251("Отправка SMS прервана."); }
