// Deliveries through the web gate to a loopback HTTP server in this process,
// against the same number of bare libcurl GETs of the same URL, and with a
// gate check's observer listening (every step built and handed over).
// Usage: bench_webgate [N]   (default 2000)
#include "engine/GateTrace.h"
#include "engine/StdSmsSender.h"
#include "model/Text.h"
#include "storage/SmsOptions.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <curl/curl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Answers every request with 200 and keeps the connection while the client does.
class TLoopbackServer {
public:
    TLoopbackServer()
    {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(Fd, 64) != 0) {
            perror("listen");
            std::exit(1);
        }
        socklen_t len = sizeof a;
        getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        Thread = std::thread([this] { Run(); });
    }
    ~TLoopbackServer()
    {
        Stop = true;
        shutdown(Fd, SHUT_RDWR);
        Thread.join();
        close(Fd);
    }
    int port() const { return Port; }
    long served() const { return Served.load(); }

private:
    void Run()
    {
        static const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK";
        while (!Stop) {
            int c = accept(Fd, nullptr, nullptr);
            if (c < 0)
                continue;
            std::string buf;
            char chunk[8192];
            for (;;) {
                ssize_t n = read(c, chunk, sizeof chunk);
                if (n <= 0)
                    break;
                buf.append(chunk, static_cast<size_t>(n));
                size_t end;
                while ((end = buf.find("\r\n\r\n")) != std::string::npos) {
                    buf.erase(0, end + 4);
                    ++Served;
                    (void)!send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
                }
            }
            close(c);
        }
    }

    int Fd = -1;
    int Port = 0;
    std::atomic<bool> Stop{false};
    std::atomic<long> Served{0};
    std::thread Thread;
};

// Takes every step and keeps only its size, so that the figure is the cost of
// building the trace in the transports.
class TCountingObserver final : public TGateObserver {
public:
    void Step(TGateStep, const std::string& text) override { Bytes += text.size(); }
    void HideSecret(const std::string&) override {}
    bool BuildOnly() const override { return false; }
    size_t Bytes = 0;
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    TLoopbackServer server;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    TSmsOptions options;
    TStdSmsSender sender;
    sender.GateType = TStdSmsSender::WebGateType;
    sender.Charset = "UTF-8";
    sender.Options = &options;
    sender.WebGate = base + "/cgi-bin/sendsms?user=u&pass=p&to={phone}&text={message}&len={length}&coding=2";
    const std::string text = Cp1251("Привет! Это проверочное сообщение для шлюза, 70 символов в длину....");
    const std::string url = TStdSmsSender::ExpandMacros(sender.WebGate, FormUrlEncode("+79001234567"),
                                                        FormUrlEncode(Cp1251ToUtf8(text)));

    // Warm up both paths (global init, first connection).
    sender.DoSend("+79001234567", text);

    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i)
        sender.DoSend("+79001234567", text);
    const double gateSec = Seconds(t0);

    TCountingObserver observer;
    t0 = std::chrono::steady_clock::now();
    {
        TGateObserverScope observe(&observer);
        for (int i = 0; i < n; ++i)
            sender.DoSend("+79001234567", text);
    }
    const double observedSec = Seconds(t0);

    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) {
        CURL* h = curl_easy_init();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        if (curl_easy_perform(h) != CURLE_OK) {
            std::fprintf(stderr, "bare GET failed\n");
            return 1;
        }
        curl_easy_cleanup(h);
    }
    const double bareSec = Seconds(t0);

    // For reference: one handle reused, so the connection stays open.
    t0 = std::chrono::steady_clock::now();
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    for (int i = 0; i < n; ++i)
        curl_easy_perform(h);
    curl_easy_cleanup(h);
    const double reuseSec = Seconds(t0);

    std::printf("requests per run:              %d (served in total: %ld)\n", n, server.served());
    std::printf("web gate deliveries:           %8.0f /s  (%.1f us each)\n", n / gateSec, gateSec * 1e6 / n);
    std::printf("the same, observed (a check):  %8.0f /s  (%.1f us each, %zu trace bytes each)\n",
                n / observedSec, observedSec * 1e6 / n, observer.Bytes / static_cast<size_t>(n));
    std::printf("bare libcurl GETs, new handle: %8.0f /s  (%.1f us each)\n", n / bareSec, bareSec * 1e6 / n);
    std::printf("ratio web gate / bare:         %8.2f\n", (n / gateSec) / (n / bareSec));
    std::printf("bare GETs, reused connection:  %8.0f /s  (for reference)\n", n / reuseSec);
    return 0;
}
