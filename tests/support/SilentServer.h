#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

// A server on 127.0.0.1 that takes connections (the system completes them) and
// never says a word: a web gate that never answers, an SMTP relay that never greets.
class TSilentServer {
public:
    TSilentServer()
    {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(Fd, 8) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("silent server");
        Port = ntohs(a.sin_port);
    }
    ~TSilentServer() { close(Fd); }
    TSilentServer(const TSilentServer&) = delete;
    TSilentServer& operator=(const TSilentServer&) = delete;
    // A connection is waiting to be accepted: a client reached us.
    bool Reached() const
    {
        pollfd p {Fd, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }
    int Port = 0;

private:
    int Fd = -1;
};
