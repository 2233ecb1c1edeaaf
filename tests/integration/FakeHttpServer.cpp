#include "FakeHttpServer.h"

#include "model/Text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

TFakeHttpServer::TFakeHttpServer(TScript script) : Script(std::move(script))
{
    if (pipe(StopPipe) != 0)
        throw std::runtime_error("pipe failed");
    ListenFd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(ListenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(ListenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(ListenFd, 16) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    socklen_t len = sizeof a;
    getsockname(ListenFd, reinterpret_cast<sockaddr*>(&a), &len);
    Port = ntohs(a.sin_port);
    Thread = std::thread([this] { Run(); });
}

TFakeHttpServer::~TFakeHttpServer()
{
    (void)!write(StopPipe[1], "x", 1);
    Thread.join();
    close(ListenFd);
    close(StopPipe[0]);
    close(StopPipe[1]);
}

std::string TFakeHttpServer::url(const std::string& pathAndQuery) const
{
    return "http://127.0.0.1:" + std::to_string(Port) + pathAndQuery;
}

std::vector<std::string> TFakeHttpServer::requests() const
{
    std::lock_guard lock(Mutex);
    return Requests;
}

std::string TFakeHttpServer::Reply(const std::string& statusLine, const std::string& body,
                                   const std::string& extraHeaders)
{
    return statusLine + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extraHeaders + "\r\n" + body;
}

void TFakeHttpServer::Run()
{
    for (;;) {
        pollfd p[2] = {{ListenFd, POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0)
            continue;
        if (p[1].revents)
            return;
        int fd = accept(ListenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        ++Connections;
        Serve(fd);
        close(fd);
    }
}

void TFakeHttpServer::Serve(int fd)
{
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd p[2] = {{fd, POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
        poll(p, 2, -1);
        if (p[1].revents)
            return;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return;
        head.append(buf, static_cast<size_t>(n));
    }
    head.resize(head.find("\r\n\r\n") + 2);
    {
        std::lock_guard lock(Mutex);
        Requests.push_back(head);
    }
    std::optional<std::string> reply = Script(head);
    if (!reply) {
        // Hold the connection without answering until the server stops.
        pollfd p{StopPipe[0], POLLIN, 0};
        poll(&p, 1, -1);
        return;
    }
    auto sendAll = [&](const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    };
    std::string chunk;
    {
        std::lock_guard lock(Mutex);
        chunk = EndlessChunk;
    }
    if (sendAll(*reply) && !chunk.empty()) {
        // Until the client hangs up (send fails) or the server stops.
        for (;;) {
            pollfd p[2] = {{fd, POLLOUT, 0}, {StopPipe[0], POLLIN, 0}};
            poll(p, 2, -1);
            if (p[1].revents || !sendAll(chunk))
                break;
        }
    }
    shutdown(fd, SHUT_WR);
}

void TFakeHttpServer::repeatAfterReply(const std::string& chunk)
{
    std::lock_guard lock(Mutex);
    EndlessChunk = chunk;
}

std::string RequestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::string HeaderValue(const std::string& head, const std::string& name)
{
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        size_t start = pos + 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameText(line.substr(0, colon), name))
            return Trim(line.substr(colon + 1));
        pos = end;
    }
    return "";
}
