// Start-up figures under X (run it under xvfb-run): the time from starting
// the real program until its main window is mapped, on an empty data folder
// and on an address book of 20,000 contacts, against a bare Qt main window
// holding a list of 20,000 rows started the same way (this program with
// --bare). The cases take turns, several rounds; the medians count.
//   xvfb-run -a build/bench/bench_startup [RUNS]
//   build/bench/bench_startup --make-book DIR [CONFIG]   (the 20,000-contact book into DIR; CONFIG as
//   XDG_CONFIG_HOME of a later start)
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "model/Text.h"
#include "storage/ProgramOptions.h"

#include <QApplication>
#include <QListView>
#include <QStringListModel>
#include <QMainWindow>
#include <QTemporaryDir>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int ContactCount = 20000;

int Bare(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare"));
    auto* list = new QListView(&window);
    std::mt19937 random(20000);
    QStringList rows;
    for (int i = 0; i < ContactCount; ++i)
        rows << QStringLiteral("Контакт %1 +7916%2").arg(i).arg(1000000 + random() % 9000000);
    rows.sort();
    list->setUniformItemSizes(true);
    list->setModel(new QStringListModel(rows, list));
    window.setCentralWidget(list);
    window.resize(800, 514);
    window.show();
    return QApplication::exec();
}

void BuildBook(const std::string& folder)
{
    SetDataDir(folder);
    TSmsManager& manager = SmsManager();
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    manager.AddSmsSender(sender);
    static const char* const syllables[] = {"ко", "ва", "ли", "но", "ре", "ст", "ма", "са", "ту", "ры",
                                            "Бе", "де", "жу", "зо", "пе", "гу", "Ша", "чи", "фе", "ло"};
    std::mt19937 random(20000);
    for (int i = 0; i < ContactCount; ++i) {
        std::string name;
        const int length = 2 + static_cast<int>(random() % 3);
        for (int k = 0; k < length; ++k)
            name += syllables[random() % 20];
        auto* contact = new TContact;
        contact->SetName(Cp1251(name) + " " + std::to_string(i));
        contact->PhoneNumber = "+7916" + std::to_string(1000000 + static_cast<int>(random() % 9000000));
        contact->SmsSender = sender;
        manager.AddContact(contact);
    }
    manager.SaveSmsSenders("SmsGates.ini");
    manager.SaveAddressBook("SmsAddressBook.ini");
}

// A settings store that marks a later start (no options dialog at start-up).
void PrepareSettings(const std::string& configHome)
{
    SetProgramSettingsFolder(configHome + "/Velotext");
    TProgramOptions options;
    options.Load();
    SetProgramSettingsFolder("");
}

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

// Milliseconds from starting argv until a top-level window named `title` is mapped.
double TimeToMap(xcb_connection_t* c, const std::vector<std::string>& argv, const std::vector<std::string>& env,
                 const std::string& title)
{
    while (xcb_generic_event_t* stale = xcb_poll_for_event(c)) // what the last run left
        std::free(stale);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        for (const std::string& e : env)
            putenv(strdup(e.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    double ms = -1;
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
        const xcb_window_t window = mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
        std::free(event);
        if (mapped && WindowName(c, window) == title) {
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            break;
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return ms;
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0)
        return Bare(argc, argv);
    if (argc > 2 && std::strcmp(argv[1], "--make-book") == 0) { // the book alone, to profile a start by hand
        int qargc = 1;
        QApplication app(qargc, argv);
        BuildBook(argv[2]);
        if (argc > 3)
            PrepareSettings(argv[3]);
        return 0;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QTemporaryDir empty, book, config;
    {
        int qargc = 1;
        QApplication app(qargc, argv); // the manager's files need no display, but the Qt text codecs do
        BuildBook(book.path().toStdString());
    }
    PrepareSettings(config.path().toStdString());
    const std::string self = QFile::decodeName(argv[0]).toStdString();
    const std::vector<std::string> env = {"QT_QPA_PLATFORM=xcb", "XDG_CONFIG_HOME=" + config.path().toStdString()};
    struct TCase {
        const char* What;
        std::vector<std::string> Argv;
        const char* Title;
    };
    const TCase cases[] = {
        {"bare Qt main window, list of 20,000 rows", {self, "--bare"}, "Bare"},
        {"Velotext, empty data folder", {VELOTEXT_PROGRAM, "--data-dir", empty.path().toStdString()}, "Velotext"},
        {"Velotext, 20,000 contacts", {VELOTEXT_PROGRAM, "--data-dir", book.path().toStdString()}, "Velotext"},
    };
    // One connection watches the screen for the whole run: windows mapped on the root window.
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "no X display: run it under xvfb-run\n");
        return 1;
    }
    fcntl(xcb_get_file_descriptor(x), F_SETFD, FD_CLOEXEC); // the programs started are no clients of ours
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, xcb_setup_roots_iterator(xcb_get_setup(x)).data->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    // The cases take turns (bare, empty, book, bare, ...), so that a machine
    // whose speed drifts affects them alike; each round also gives each
    // case's ratio to the bare window of the same round.
    constexpr size_t CaseCount = std::size(cases);
    std::vector<double> times[CaseCount];
    std::vector<double> ratios[CaseCount];
    for (int i = 0; i < runs; ++i) {
        double round[CaseCount];
        for (size_t k = 0; k < CaseCount; ++k) {
            round[k] = TimeToMap(x, cases[k].Argv, env, cases[k].Title);
            if (round[k] < 0)
                std::printf("  %s, run %d: the window never came\n", cases[k].What, i + 1);
            else
                times[k].push_back(round[k]);
        }
        for (size_t k = 1; k < CaseCount; ++k)
            if (round[0] > 0 && round[k] > 0)
                ratios[k].push_back(round[k] / round[0]);
    }
    for (size_t k = 0; k < CaseCount; ++k) {
        if (times[k].empty())
            continue;
        std::printf("%-44s median %7.1f ms  best %7.1f ms  worst %7.1f ms  (%d runs)", cases[k].What,
                    Median(times[k]), *std::min_element(times[k].begin(), times[k].end()),
                    *std::max_element(times[k].begin(), times[k].end()), static_cast<int>(times[k].size()));
        if (!ratios[k].empty())
            std::printf("  = %.2f x bare (median of the rounds' ratios)", Median(ratios[k]));
        std::printf("\n");
    }
    xcb_disconnect(x);
    return 0;
}
