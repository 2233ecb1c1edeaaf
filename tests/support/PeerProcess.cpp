#include "support/PeerProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

TPeerProcess::TPeerProcess(const std::vector<std::string>& argv, int timeoutSec)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    Pid = fork();
    if (Pid < 0)
        throw std::runtime_error("fork failed");
    if (Pid == 0) {
        setpgid(0, 0); // its own process group, so that stopping it stops its children too
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    setpgid(Pid, Pid);
    close(fds[1]);
    OutFd = fds[0];
    std::string output, line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSec);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{OutFd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0)
            continue;
        char c;
        ssize_t n = read(OutFd, &c, 1);
        if (n <= 0)
            break;
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        output += line + "\n";
        if (line.rfind("READY", 0) == 0) {
            std::istringstream in(line.substr(5));
            std::string kv;
            while (in >> kv) {
                auto eq = kv.find('=');
                if (eq != std::string::npos)
                    Values[kv.substr(0, eq)] = kv.substr(eq + 1);
            }
            fcntl(OutFd, F_SETFL, fcntl(OutFd, F_GETFL) | O_NONBLOCK);
            return;
        }
        line.clear();
    }
    this->~TPeerProcess();
    throw std::runtime_error("peer did not become ready: " + argv[0] + "\n" + output + line);
}

TPeerProcess::~TPeerProcess()
{
    if (Pid > 0) {
        kill(-Pid, SIGTERM);
        kill(Pid, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
                Pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (Pid > 0) {
            kill(-Pid, SIGKILL);
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
            Pid = -1;
        }
    }
    if (OutFd >= 0) {
        close(OutFd);
        OutFd = -1;
    }
}

std::string TPeerProcess::value(const std::string& key) const
{
    auto it = Values.find(key);
    if (it == Values.end())
        throw std::runtime_error("peer gave no value for " + key);
    return it->second;
}

std::string TPeerProcess::drainOutput()
{
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(OutFd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string PeerScript(const std::string& name) { return std::string(VELOTEXT_PEERS_DIR) + "/" + name; }

int FreeLoopbackPort()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    int port = ntohs(a.sin_port);
    close(s);
    return port;
}
