#pragma once
// A small HTTP listener on 127.0.0.1 for the delivery reports a gateway
// (Kannel's dlr-url) sends back: one thread, one connection at a time, a GET
// request head of at most 8 KB read within 2 s; the handler decides the answer.
#include <functional>
#include <string>
#include <thread>

class TReportListener {
public:
    // Gets the request target ("/dlr?t=...&d=1") and returns the HTTP status
    // to answer with (200: taken; anything else refuses). Runs on the
    // listener's thread.
    using THandler = std::function<int(const std::string& target)>;

    // Runs after each answer has gone out (work the gateway need not wait for).
    using TAfterAnswer = std::function<void()>;

    // Opens the port (0: any free one) on 127.0.0.1; raises TError with a
    // Russian text naming the port when it cannot be opened.
    TReportListener(int port, THandler handler, TAfterAnswer after = {});
    // Stops the thread and closes the port.
    ~TReportListener();
    TReportListener(const TReportListener&) = delete;
    TReportListener& operator=(const TReportListener&) = delete;

    int Port() const { return FPort; }

private:
    void Run();
    void Serve(int fd);

    THandler FHandler;
    TAfterAnswer FAfter;
    int FListenFd = -1;
    int FStopPipe[2] = {-1, -1};
    int FPort = 0;
    std::thread FThread;
};

// The value of one query parameter of a request target, percent-decoded ("+"
// as a blank); nothing when the parameter is absent.
bool QueryParameter(const std::string& target, const std::string& name, std::string& value);
