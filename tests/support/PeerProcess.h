#pragma once
// Starts a real server for an integration test as a child process and stops it.
// The child prints one line "READY key=value key=value ..." on stdout when it
// serves; the values (ports, folders) are read back with value().
#include <map>
#include <string>
#include <vector>

class TPeerProcess {
public:
    // Runs argv (argv[0] searched on PATH) and waits up to timeoutSec for the READY line;
    // throws std::runtime_error with the child's output when it does not come.
    explicit TPeerProcess(const std::vector<std::string>& argv, int timeoutSec = 30);
    ~TPeerProcess(); // SIGTERM, then SIGKILL after 5 s
    TPeerProcess(const TPeerProcess&) = delete;
    TPeerProcess& operator=(const TPeerProcess&) = delete;

    std::string value(const std::string& key) const;
    int port(const std::string& key = "port") const { return std::stoi(value(key)); }
    int pid() const { return Pid; }
    // Lines the child printed after READY so far (non-blocking read).
    std::string drainOutput();

private:
    int Pid = -1;
    int OutFd = -1;
    std::map<std::string, std::string> Values;
};

// Path of a script in tests/peers.
std::string PeerScript(const std::string& name);
// A free TCP port on 127.0.0.1 (bound and released).
int FreeLoopbackPort();
