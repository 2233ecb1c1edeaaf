#pragma once
// A scripted HTTP server on 127.0.0.1 in a thread of the test: it takes one
// connection at a time, reads the request head, records it and answers with
// whatever the script returns for it: raw bytes (sent, then the connection is
// closed), or nothing (the connection is held open without a reply until the
// server stops).
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class TFakeHttpServer {
public:
    using TScript = std::function<std::optional<std::string>(const std::string& requestHead)>;

    explicit TFakeHttpServer(TScript script);
    ~TFakeHttpServer();
    TFakeHttpServer(const TFakeHttpServer&) = delete;
    TFakeHttpServer& operator=(const TFakeHttpServer&) = delete;

    int port() const { return Port; }
    std::string url(const std::string& pathAndQuery = "/") const;
    // The request heads received so far (request line and headers, up to the empty line).
    std::vector<std::string> requests() const;
    int connections() const { return Connections.load(); }
    // After each reply, sends this chunk again and again until the client
    // closes the connection (an endless body); empty: the reply is all.
    void repeatAfterReply(const std::string& chunk);

    // A complete response with the given status line and body.
    static std::string Reply(const std::string& statusLine, const std::string& body = "OK",
                             const std::string& extraHeaders = "");

private:
    void Run();
    void Serve(int fd);

    TScript Script;
    int ListenFd = -1;
    int StopPipe[2] = {-1, -1};
    int Port = 0;
    std::atomic<int> Connections{0};
    mutable std::mutex Mutex;
    std::vector<std::string> Requests;
    std::string EndlessChunk;
    std::thread Thread;
};

// The request line of a recorded request head, and one header's value ("" when absent).
std::string RequestLine(const std::string& head);
std::string HeaderValue(const std::string& head, const std::string& name);
