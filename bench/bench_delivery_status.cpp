// Delivery status with 1,000 messages awaiting it: what a poll round costs the
// calling thread (the window's) when nothing is due and when all 1,000 queries
// fall due at once (their HTTP exchanges run elsewhere and are not counted),
// and how fast the report listener answers a Kannel report over a loopback
// socket (a report that changes nothing, and one that changes a state and so
// saves the state file of 1,000 messages).
//   bench_delivery_status [FOLDER]   (default: the temporary folder)
#include "engine/DeliveryTracker.h"
#include "engine/StdSmsSender.h"
#include "model/Clock.h"
#include "model/DataPaths.h"
#include "model/SmsHistoryIndex.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using TSteady = std::chrono::steady_clock;

double MsSince(TSteady::time_point start)
{
    return std::chrono::duration<double, std::milli>(TSteady::now() - start).count();
}

void Print(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-62s median %8.3f ms   p90 %8.3f ms   max %8.3f ms  (%zu runs)\n", what, ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back(), ms.size());
}

long long gNow = 0;

// Accepts 1,000 messages, half followed by query, half by report; returns their tokens.
std::vector<std::string> Fill(const std::string& folder)
{
    DeliveryTracker().Close();
    std::filesystem::remove(folder + "/bench.delivery");
    DeliveryTracker().Open(folder + "/bench.delivery");
    TStdSmsSender sent;
    sent.SetName("Bench");
    sent.StatusUrl = "http://127.0.0.1:9/status?id={id}";
    sent.StatusIdPattern = "id=(\\w+)";
    sent.StatusDeliveredPattern = "DELIVRD";
    std::vector<std::string> tokens;
    for (int i = 0; i < 1000; ++i) {
        TSmsHistoryRecord record;
        record.Name = "Contact " + std::to_string(i);
        record.Phone = "+7916" + std::to_string(1000000 + i);
        record.Date = "08.12.2026 10:00:00";
        sent.GateMessageId = i % 2 ? std::to_string(100000 + i) : "";
        sent.ReportToken = i % 2 ? "" : "token" + std::to_string(i);
        sent.DlrMask = i % 2 ? 0 : 31;
        if (!sent.ReportToken.empty())
            tokens.push_back(sent.ReportToken);
        DeliveryTracker().Accepted(record, sent, record.Phone, "text", "");
    }
    return tokens;
}

double Ask(int port, const std::string& target)
{
    const auto start = TSteady::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    if (::send(fd, request.data(), request.size(), 0) < 0)
        std::exit(1);
    char buffer[512];
    std::string reply;
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        reply.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    const double ms = MsSince(start);
    if (reply.rfind("HTTP/1.1 200", 0) != 0) {
        std::printf("unexpected answer: %s\n", reply.c_str());
        std::exit(1);
    }
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    SetDataDir(folder);
    gNow = LocalSeconds(SystemNow());
    SetClock([] { return FromLocalSeconds(gNow); });
    DeliveryTracker().SetListenerPortForTests(0);

    std::vector<std::string> tokens = Fill(folder);
    std::vector<double> idle;
    for (int i = 0; i < 1000; ++i) {
        const auto start = TSteady::now();
        auto round = DeliveryTracker().BeginRound();
        idle.push_back(MsSince(start));
        if (round)
            return 1;
    }
    Print("poll round, 1,000 awaiting, none due (calling thread)", idle);

    std::vector<double> due;
    for (int i = 0; i < 20; ++i) {
        tokens = Fill(folder);
        gNow += 30; // every query falls due
        const auto start = TSteady::now();
        auto round = DeliveryTracker().BeginRound();
        due.push_back(MsSince(start));
        if (!round || round->Size() != 500)
            return 1;
        gNow -= 30;
    }
    Print("poll round, 1,000 awaiting, 500 queries due (calling thread)", due);

    tokens = Fill(folder);
    const std::string url = DeliveryTracker().ReportUrl("x");
    const int port = DeliveryTracker().ListenerPort();
    std::vector<double> unchanged, changed;
    for (int i = 0; i < 500; ++i)
        unchanged.push_back(Ask(port, "/dlr?t=" + tokens[static_cast<size_t>(i)] + "&d=8&a=ACK%2F"));
    Print("listener answer, report that changes nothing (8)", unchanged);
    for (int i = 0; i < 500; ++i)
        changed.push_back(Ask(port, "/dlr?t=" + tokens[static_cast<size_t>(i)] + "&d=1&a="));
    Print("listener answer, delivered (1), back to back: file saved after each", changed);
    DeliveryTracker().Close();
    std::filesystem::remove(folder + "/bench.delivery");
    std::filesystem::remove(folder + "/bench.delivery.bak");
    return 0;
}
