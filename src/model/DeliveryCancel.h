#pragma once
// The one way to cut a delivery short. A delivery owns a cancel token; while it
// runs it installs the token on its thread (TCancelScope), and everything that
// waits on its behalf (the pauses between pieces, the HTTP request, the SMTP
// exchange and the relay's name lookup) watches the current thread's token.
// Whoever stops the delivery (the program's exit, a signal) cancels the token
// from any thread, and those waits end at once.
#include <atomic>
#include <string>

class TCancelToken {
public:
    TCancelToken();
    ~TCancelToken();
    TCancelToken(const TCancelToken&) = delete;
    TCancelToken& operator=(const TCancelToken&) = delete;

    // Any thread, any number of times; there is no way back.
    void Cancel();
    bool Cancelled() const { return FCancelled.load(); }
    // Polls readable (POLLIN) once the token is cancelled; -1 if none could be made.
    int Fd() const { return FFd; }

private:
    std::atomic<bool> FCancelled {false};
    int FFd = -1;
};

// Makes `token` the current thread's token for the scope's life (scopes nest).
class TCancelScope {
public:
    explicit TCancelScope(const TCancelToken& token);
    ~TCancelScope();
    TCancelScope(const TCancelScope&) = delete;
    TCancelScope& operator=(const TCancelScope&) = delete;

private:
    const TCancelToken* FPrevious;
};

// The current thread's token is cancelled (false when the thread has none).
bool DeliveriesCancelled();
// Its descriptor, for waiting on a socket and the cancel together; -1 when the
// thread has no token (poll ignores a negative descriptor).
int DeliveriesCancelledFd();
// Waits the given time; false (at once) when the current token is or gets cancelled.
bool WaitUnlessDeliveriesCancelled(int milliseconds);
// The error text of a delivery ended by a cancel (CP1251).
std::string DeliveriesCancelledMessage();
