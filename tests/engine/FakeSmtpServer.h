#pragma once
// A scripted SMTP server on 127.0.0.1 for one connection, run on its own
// thread: it sends the greeting, then answers each line it receives with the
// next reply of the script and records every line. After a "354" reply it
// takes message lines until "." without answering them. Special replies:
// "" answers nothing; a reply ending in "<close>" is sent without that mark
// and then the connection is dropped. When the script runs
// out, the connection is dropped.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFakeSmtpServer {
public:
    TFakeSmtpServer(std::string greeting, std::vector<std::string> replies);
    ~TFakeSmtpServer();
    TFakeSmtpServer(const TFakeSmtpServer&) = delete;
    TFakeSmtpServer& operator=(const TFakeSmtpServer&) = delete;

    int port() const { return Port; }
    std::string relay() const { return "127.0.0.1:" + std::to_string(Port); }
    // Stops waiting for a client, waits for the session to end and returns
    // every line received (without line ends), commands and message lines alike.
    std::vector<std::string> received();
    // Whether a client connected at all (valid after received()).
    bool connected() const { return Connected; }
    // Bytes received so far; readable while the session runs.
    size_t bytesReceived() const { return BytesIn; }

private:
    void Run();
    void Session(int fd);

    std::string Greeting;
    std::vector<std::string> Replies;
    int ListenFd = -1;
    int Port = 0;
    std::atomic<bool> Stop {false};
    std::atomic<bool> Connected {false};
    std::atomic<size_t> BytesIn {0};
    std::thread Thread;
    std::mutex Mutex;
    std::vector<std::string> Lines;
};
