#include "FakeSmtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TFakeSmtpServer::TFakeSmtpServer(std::string greeting, std::vector<std::string> replies)
    : Greeting(std::move(greeting)), Replies(std::move(replies))
{
    ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (ListenFd < 0 || bind(ListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(ListenFd, 4) != 0 || getsockname(ListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("fake SMTP server: cannot listen");
    Port = ntohs(addr.sin_port);
    Thread = std::thread([this] { Run(); });
}

TFakeSmtpServer::~TFakeSmtpServer()
{
    Stop = true;
    if (Thread.joinable())
        Thread.join();
    if (ListenFd >= 0)
        close(ListenFd);
}

std::vector<std::string> TFakeSmtpServer::received()
{
    Stop = true;
    if (Thread.joinable())
        Thread.join();
    std::lock_guard lock(Mutex);
    return Lines;
}

void TFakeSmtpServer::Run()
{
    while (!Stop) {
        pollfd p {ListenFd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        int fd = accept4(ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Connected = true;
        Session(fd);
        close(fd);
        return;
    }
}

void TFakeSmtpServer::Session(int fd)
{
    auto say = [fd](const std::string& reply) {
        std::string bytes = reply + "\r\n";
        (void)send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    };
    if (!Greeting.empty())
        say(Greeting);
    size_t next = 0;
    bool inData = false;
    std::string buffer;
    for (;;) {
        size_t lf;
        while ((lf = buffer.find('\n')) == std::string::npos) {
            // A safety net for a client that never leaves; tests do not rely on it.
            pollfd p {fd, POLLIN, 0};
            if (poll(&p, 1, 30000) != 1)
                return;
            char chunk[4096];
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            buffer.append(chunk, static_cast<size_t>(n));
            BytesIn += static_cast<size_t>(n);
        }
        std::string line = buffer.substr(0, lf);
        buffer.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        {
            std::lock_guard lock(Mutex);
            Lines.push_back(line);
        }
        if (inData && line != ".")
            continue;
        inData = false;
        if (next >= Replies.size())
            return;
        std::string reply = Replies[next++];
        const std::string closeMark = "<close>";
        if (reply.size() >= closeMark.size() && reply.compare(reply.size() - closeMark.size(), closeMark.size(), closeMark) == 0) {
            reply.resize(reply.size() - closeMark.size());
            if (!reply.empty())
                say(reply);
            return;
        }
        if (!reply.empty())
            say(reply);
        inData = reply.rfind("354", 0) == 0;
    }
}
