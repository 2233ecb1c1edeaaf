#include "engine/ReportListener.h"

#include "model/Error.h"
#include "model/Text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kHeadLimit = 8 * 1024;
constexpr int kReadTimeoutMs = 2000;

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    default: return "Error";
    }
}

void WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace

bool QueryParameter(const std::string& target, const std::string& name, std::string& value)
{
    const size_t question = target.find('?');
    if (question == std::string::npos)
        return false;
    size_t pos = question + 1;
    while (pos <= target.size()) {
        size_t end = target.find('&', pos);
        if (end == std::string::npos)
            end = target.size();
        const std::string_view pair(target.data() + pos, end - pos);
        const size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name) {
            value.clear();
            const std::string_view raw = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '+') {
                    value.push_back(' ');
                } else if (raw[i] == '%' && i + 2 < raw.size() && HexDigitValue(raw[i + 1]) >= 0 &&
                           HexDigitValue(raw[i + 2]) >= 0) {
                    value.push_back(static_cast<char>(HexDigitValue(raw[i + 1]) * 16 + HexDigitValue(raw[i + 2])));
                    i += 2;
                } else {
                    value.push_back(raw[i]);
                }
            }
            return true;
        }
        pos = end + 1;
    }
    return false;
}

TReportListener::TReportListener(int port, THandler handler, TAfterAnswer after)
    : FHandler(std::move(handler)), FAfter(std::move(after))
{
    auto fail = [&](int error) {
        const std::string text = Cp1251("Не удалось открыть порт ") + IntToStr(port) +
                                 Cp1251(" для отчётов о доставке на 127.0.0.1: ") + std::strerror(error) + ".";
        if (FListenFd >= 0)
            ::close(FListenFd);
        return TError(text);
    };
    FListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListenFd < 0)
        throw fail(errno);
    int yes = 1;
    ::setsockopt(FListenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(FListenFd, 16) != 0)
        throw fail(errno);
    socklen_t length = sizeof address;
    ::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = ntohs(address.sin_port);
    if (::pipe2(FStopPipe, O_CLOEXEC) != 0)
        throw fail(errno);
    FThread = std::thread([this] { Run(); });
}

TReportListener::~TReportListener()
{
    const char stop = 1;
    [[maybe_unused]] const ssize_t n = ::write(FStopPipe[1], &stop, 1);
    if (FThread.joinable())
        FThread.join();
    ::close(FListenFd);
    ::close(FStopPipe[0]);
    ::close(FStopPipe[1]);
}

void TReportListener::Run()
{
    while (true) {
        pollfd fds[2] = {{FListenFd, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        Serve(fd);
        ::close(fd);
        if (FAfter)
            FAfter();
    }
}

void TReportListener::Serve(int fd)
{
    std::string head;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || head.size() > kHeadLimit)
            return;
        pollfd fds[2] = {{fd, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(left.count())) <= 0 || fds[1].revents)
            return;
        char buffer[2048];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        head.append(buffer, static_cast<size_t>(n));
    }
    // "GET /target HTTP/1.x"
    const size_t lineEnd = head.find_first_of("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t first = line.find(' '), last = line.rfind(' ');
    int status = 400;
    if (first != std::string::npos && last > first) {
        if (line.substr(0, first) != "GET")
            status = 405;
        else
            status = FHandler(line.substr(first + 1, last - first - 1));
    }
    const std::string body = status == 200 ? "OK\n" : std::string(ReasonPhrase(status)) + "\n";
    WriteAll(fd, "HTTP/1.1 " + IntToStr(status) + " " + ReasonPhrase(status) +
                     "\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: " +
                     IntToStr(static_cast<long long>(body.size())) + "\r\n\r\n" + body);
}
