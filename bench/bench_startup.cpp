// Start-up figures, as a user meets them: the time from exec until the main
// window is mapped, on an X server of the bench's own (Xvfb: no other client,
// no window manager), and the CPU time the process used until that moment
// (all its threads, read through its CPU clock when the map is seen). Three
// cases:
//   the yardstick: a minimal Qt Widgets program (bench_startup_yardstick:
//   QApplication and an empty QMainWindow with a title, built beside this
//   one with the same flags);
//   the program on an empty data folder;
//   the program on an address book of 20,000 contacts, 1,000 groups of 50 and
//   50 operators.
// The cases take turns (yardstick, empty, book, yardstick, ...), so that a
// machine whose speed drifts affects them alike; each round gives each case's
// ratio to the yardstick of the same round; medians over the rounds.
// The programs run with a runtime folder of their own and, with --bus, on a
// session bus of their own (dbus-daemon), as in a desktop session.
//   build/bench/bench_startup [--bus] [--program PATH] [ROUNDS]   (21 rounds by default;
//                                                 PATH: another build of the program)
//   build/bench/bench_startup --phases [--bus] [--program PATH] [ROUNDS]   where the time goes:
//                                                 the same starts with VELOTEXT_STARTUP_TRACE set,
//                                                 medians per phase (11 rounds by default)
//   build/bench/bench_startup --make-book DIR [CONFIG]   (the book alone into DIR; CONFIG as
//                                                 XDG_CONFIG_HOME of a later start)
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "model/Text.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ContactCount = 20000;
constexpr int GroupCount = 1000;
constexpr int GroupSize = 50;
constexpr int SenderCount = 50;

void BuildBook(const std::string& folder)
{
    SetDataDir(folder);
    EnsureDataDir();
    TSmsManager& manager = SmsManager();
    std::vector<TSmsSender*> senders;
    for (int i = 1; i <= SenderCount; ++i) {
        auto* sender = new TStdSmsSender;
        sender->SetName(Cp1251("Оператор ") + std::to_string(i));
        manager.AddSmsSender(sender);
        senders.push_back(sender);
    }
    static const char* const syllables[] = {"ко", "ва", "ли", "но", "ре", "ст", "ма", "са", "ту", "ры",
                                            "Бе", "де", "жу", "зо", "пе", "гу", "Ша", "чи", "фе", "ло"};
    std::mt19937 random(20000);
    std::vector<TContact*> contacts;
    for (int i = 0; i < ContactCount; ++i) {
        std::string name;
        const int length = 2 + static_cast<int>(random() % 3);
        for (int k = 0; k < length; ++k)
            name += syllables[random() % 20];
        auto* contact = new TContact;
        contact->SetName(Cp1251(name) + " " + std::to_string(i));
        contact->PhoneNumber = "+7916" + std::to_string(1000000 + static_cast<int>(random() % 9000000));
        contact->SmsSender = senders[static_cast<size_t>(i % SenderCount)];
        manager.AddContact(contact);
        contacts.push_back(contact);
    }
    for (int g = 1; g <= GroupCount; ++g) {
        auto* group = new TGroup;
        group->SetName(Cp1251("Группа ") + std::to_string(g));
        manager.AddGroup(group);
        while (group->Contacts.Count() < GroupSize) // a contact picked twice joins once
            manager.AddContactToGroup(contacts[random() % contacts.size()], group);
    }
    manager.SaveSmsSenders("SmsGates.ini");
    manager.SaveAddressBook("SmsAddressBook.ini");
    SmsOptions().Save("SmsOptions.ini"); // as the program leaves it: every key, the passwords empty
}

// A settings store that marks a later start (no options dialog at start-up).
void PrepareSettings(const std::string& configHome)
{
    SetProgramSettingsFolder(configHome + "/Velotext");
    TProgramOptions options;
    options.Load();
    SetProgramSettingsFolder("");
}

long long NowNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

long long CpuNs(clockid_t clock)
{
    timespec t {};
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// An X server of our own: Xvfb on a display number it picks itself.
struct TXServer {
    pid_t Pid = -1;
    std::string Display;

    bool Start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        Pid = fork();
        if (Pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "1280x1024x24",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[32] = {};
        const ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        if (n <= 0)
            return false;
        Display = ":" + std::string(number, static_cast<size_t>(n - (number[n - 1] == '\n' ? 1 : 0)));
        return true;
    }

    ~TXServer()
    {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
};

// A session bus of our own, as a desktop session has one.
struct TSessionBus {
    pid_t Pid = -1;
    std::string Address;

    bool Start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        Pid = fork();
        if (Pid == 0) {
            close(fds[0]);
            dup2(fds[1], 1);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char text[512] = {};
        const ssize_t n = read(fds[0], text, sizeof text - 1);
        close(fds[0]);
        if (n <= 0)
            return false;
        Address.assign(text, static_cast<size_t>(n));
        while (!Address.empty() && (Address.back() == '\n' || Address.back() == '\r'))
            Address.pop_back();
        return !Address.empty();
    }

    ~TSessionBus()
    {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
};

std::string WindowName(xcb_connection_t* c, xcb_window_t window)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
    std::string name;
    if (reply) {
        name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                    static_cast<size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
    }
    return name;
}

struct TCase {
    const char* What;
    std::vector<std::string> Argv;
    const char* Title;
};

struct TStart {
    bool Mapped = false;
    long long ForkNs = 0;
    double MapMs = 0; // exec -> MapNotify
    double CpuMs = 0; // the process's CPU time until then
    std::string Trace; // the program's VELOTEXT_STARTUP_TRACE lines
};

// One start: from fork and exec until a top-level window named `title` is
// mapped; the program is killed then (after its first paint when traced).
TStart Run(xcb_connection_t* c, const TCase& what, const std::vector<std::string>& env, bool trace)
{
    while (xcb_generic_event_t* stale = xcb_poll_for_event(c)) // what the last run left
        std::free(stale);
    char traceFile[] = "/tmp/velotext-trace-XXXXXX";
    const int traceFd = trace ? mkstemp(traceFile) : -1;
    TStart start;
    start.ForkNs = NowNs();
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& e : env)
            putenv(strdup(e.c_str()));
        if (trace) {
            putenv(strdup("VELOTEXT_STARTUP_TRACE=1"));
            dup2(traceFd, 2);
        }
        std::vector<char*> args;
        for (const std::string& a : what.Argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    clockid_t cpu {};
    const bool cpuClock = clock_getcpuclockid(pid, &cpu) == 0;
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        // Taken as the event arrives, before the name is asked for.
        const long long now = NowNs();
        const long long cpuNs = cpuClock ? CpuNs(cpu) : -1;
        const xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
        std::free(event);
        if (mapped && WindowName(c, window) == what.Title) {
            start.Mapped = true;
            start.MapMs = static_cast<double>(now - start.ForkNs) / 1e6;
            start.CpuMs = static_cast<double>(cpuNs) / 1e6;
            break;
        }
    }
    if (trace) { // the marks up to the first paint
        for (int wait = 0; wait < 400; ++wait) {
            std::ifstream file(traceFile);
            std::stringstream text;
            text << file.rdbuf();
            start.Trace = text.str();
            if (start.Trace.find(" painted ") != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        close(traceFd);
        unlink(traceFile);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return start;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double LoadAverage()
{
    double load[1] = {};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// The figures: medians of the rounds, and of each round's ratio to the yardstick.
void Figures(const std::vector<TCase>& cases, xcb_connection_t* x, const std::vector<std::string>& env, int rounds)
{
    const size_t count = cases.size();
    std::vector<std::vector<double>> times(count), cpus(count), ratios(count);
    for (int i = 0; i < rounds; ++i) {
        std::vector<TStart> round;
        for (const TCase& c : cases)
            round.push_back(Run(x, c, env, false));
        for (size_t k = 0; k < count; ++k) {
            if (!round[k].Mapped) {
                std::printf("  %s, round %d: the window never came\n", cases[k].What, i + 1);
                continue;
            }
            times[k].push_back(round[k].MapMs);
            cpus[k].push_back(round[k].CpuMs);
            if (round[0].Mapped)
                ratios[k].push_back(round[k].MapMs / round[0].MapMs);
        }
    }
    std::printf("%-46s %12s %12s %12s %10s %s\n", "case", "to the map", "(best)", "CPU till map", "ratio",
                "CPU ratio");
    const double yardstickCpu = Median(cpus[0]);
    for (size_t k = 0; k < count; ++k)
        std::printf("%-46s %9.1f ms %9.1f ms %9.1f ms %9.2f x %8.2f x\n", cases[k].What, Median(times[k]),
                    times[k].empty() ? 0.0 : *std::min_element(times[k].begin(), times[k].end()), Median(cpus[k]),
                    Median(ratios[k]), yardstickCpu > 0 ? Median(cpus[k]) / yardstickCpu : 0.0);
}

// One mark of a traced start: its name, and its wall and CPU times in ms from exec.
struct TMark {
    std::string What;
    double Wall = 0;
    double Cpu = 0;
    double ThreadCpu = 0;
};

std::vector<TMark> Marks(const TStart& start)
{
    std::vector<TMark> marks;
    std::istringstream lines(start.Trace);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("velotext-trace ", 0) != 0)
            continue;
        std::vector<std::string> words;
        std::istringstream split(line.substr(15));
        for (std::string w; split >> w;)
            words.push_back(w);
        if (words.size() < 4)
            continue;
        TMark mark;
        for (size_t i = 0; i + 3 < words.size(); ++i)
            mark.What += (i ? " " : "") + words[i];
        mark.Wall = static_cast<double>(std::stoll(words[words.size() - 3]) - start.ForkNs) / 1e6;
        mark.Cpu = static_cast<double>(std::stoll(words[words.size() - 2])) / 1e6;
        mark.ThreadCpu = static_cast<double>(std::stoll(words[words.size() - 1])) / 1e6;
        marks.push_back(mark);
    }
    marks.push_back({"== MapNotify of the main window ==", start.MapMs, start.CpuMs, 0});
    std::stable_sort(marks.begin(), marks.end(), [](const TMark& a, const TMark& b) { return a.Wall < b.Wall; });
    return marks;
}

// Where the time goes: per phase (the time between one mark of the main
// thread and the next), medians over the rounds of the wall time and of the
// process's CPU time (the reading thread's included); the reading thread's
// own marks apart, with their time since exec and that thread's CPU time.
void Phases(const std::vector<TCase>& cases, xcb_connection_t* x, const std::vector<std::string>& env, int rounds)
{
    for (const TCase& c : cases) {
        std::vector<std::string> order;
        std::map<std::string, std::vector<double>> wall, cpu, at;
        for (int i = 0; i < rounds; ++i) {
            const TStart start = Run(x, c, env, true);
            if (!start.Mapped)
                continue;
            double lastWall = 0, lastCpu = 0;
            for (const TMark& mark : Marks(start)) {
                if (std::find(order.begin(), order.end(), mark.What) == order.end())
                    order.push_back(mark.What);
                at[mark.What].push_back(mark.Wall);
                if (mark.What.rfind("reader:", 0) == 0) { // the reading thread's own
                    cpu[mark.What].push_back(mark.ThreadCpu);
                    continue;
                }
                wall[mark.What].push_back(mark.Wall - lastWall);
                cpu[mark.What].push_back(mark.Cpu - lastCpu);
                lastWall = mark.Wall;
                lastCpu = mark.Cpu;
            }
        }
        std::printf("\n%s (%d rounds, medians)\n", c.What, rounds);
        std::printf("  %-46s %10s %10s %10s\n", "phase, ending at the mark", "wall ms", "CPU ms", "at ms");
        std::stable_sort(order.begin(), order.end(),
                         [&](const std::string& a, const std::string& b) { return Median(at[a]) < Median(at[b]); });
        for (const std::string& what : order) {
            if (what.rfind("reader:", 0) == 0)
                std::printf("  %-46s %10s %10.1f %10.1f   (the reading thread: its own CPU)\n", what.c_str(), "",
                            Median(cpu[what]), Median(at[what]));
            else
                std::printf("  %-46s %10.1f %10.1f %10.1f\n", what.c_str(), Median(wall[what]), Median(cpu[what]),
                            Median(at[what]));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--make-book") == 0) { // the book alone, to profile a start by hand
        int qargc = 1;
        QCoreApplication app(qargc, argv);
        BuildBook(argv[2]);
        if (argc > 3)
            PrepareSettings(argv[3]);
        return 0;
    }
    bool phases = false, bus = false;
    std::string program = VELOTEXT_PROGRAM;
    int rounds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--phases") == 0)
            phases = true;
        else if (std::strcmp(argv[i], "--bus") == 0)
            bus = true;
        else if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc)
            program = argv[++i];
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }
    if (rounds == 0)
        rounds = phases ? 11 : 21;
    QTemporaryDir empty, book, config, runtime;
    {
        int qargc = 1;
        QCoreApplication app(qargc, argv); // the manager's files need no display, but the Qt text codecs do
        BuildBook(book.path().toStdString());
    }
    PrepareSettings(config.path().toStdString());
    TXServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    std::vector<std::string> env = {"DISPLAY=" + server.Display, "QT_QPA_PLATFORM=xcb",
                                    "XDG_CONFIG_HOME=" + config.path().toStdString(),
                                    "XDG_RUNTIME_DIR=" + runtime.path().toStdString()};
    TSessionBus sessionBus;
    if (bus) {
        if (!sessionBus.Start()) {
            std::fprintf(stderr, "dbus-daemon did not start\n");
            return 1;
        }
        env.push_back("DBUS_SESSION_BUS_ADDRESS=" + sessionBus.Address);
    }
    const std::vector<TCase> cases = {
        {"yardstick: QApplication, empty QMainWindow", {VELOTEXT_YARDSTICK}, "Yardstick"},
        {"Velotext, empty data folder", {program, "--data-dir", empty.path().toStdString()}, "Velotext"},
        {"Velotext, 20,000 contacts", {program, "--data-dir", book.path().toStdString()}, "Velotext"},
    };
    // One connection watches the screen for the whole run: windows mapped on the root window.
    xcb_connection_t* x = xcb_connect(server.Display.c_str(), nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no connection to Xvfb %s\n", server.Display.c_str());
        return 1;
    }
    fcntl(xcb_get_file_descriptor(x), F_SETFD, FD_CLOEXEC); // the programs started are no clients of ours
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, xcb_setup_roots_iterator(xcb_get_setup(x)).data->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    std::printf("program: %s; session bus: %s\n", program.c_str(),
                bus ? "of its own" : std::getenv("DBUS_SESSION_BUS_ADDRESS") ? "the caller's" : "none");
    std::printf("load average before: %.2f\n", LoadAverage());
    if (phases)
        Phases(cases, x, env, rounds);
    else
        Figures(cases, x, env, rounds);
    std::printf("load average after: %.2f\n", LoadAverage());
    xcb_disconnect(x);
    return 0;
}
