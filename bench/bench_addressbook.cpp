// Address-book figures on generated books: the 20,000-contact book (1,000
// groups of 50 members, 50 operators) and the same book four times over.
// Rows: load with name resolution, save beside a plain copy of the file, the
// search keystrokes (the worst of them is a text every contact matches), the
// peak memory of a fresh process that loads and saves the book, the growth to
// 80,000 contacts, and the load of a damaged book whose ids start at the
// largest 32-bit id.
#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/Clock.h"
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int SenderCount = 50;
constexpr int GroupSize = 50;

double PeakRssMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double MillisecondsOf(const std::function<void()>& action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::vector<double> Runs(int count, const std::function<void()>& action)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i)
        times.push_back(MillisecondsOf(action));
    return times;
}

std::string ContactName(std::mt19937& random, int index)
{
    static const char* const syllables[] = {"ко", "ва", "ли", "но", "ре", "ст", "ма", "са", "ту", "ры",
                                            "бе", "де", "жу", "зо", "пе", "гу", "ша", "чи", "фе", "ло"};
    static const char* const endings[] = {"ов", "ова", "ин", "ина", "ский", "ская", "енко", "ук"};
    std::string name;
    const int length = 2 + static_cast<int>(random() % 3);
    for (int i = 0; i < length; ++i)
        name += syllables[random() % 20];
    name += endings[random() % 8];
    std::string result = Cp1251(name);
    result[0] = static_cast<char>(UpperCaseChar(static_cast<unsigned char>(result[0])));
    return result + " " + IntToStr(index);
}

// The two files as the program writes them, built as text. `damaged`: the
// last contact section (read first) holds the largest id and no other
// contact has one.
void GenerateFiles(int contactCount, int groupCount, bool damaged = false)
{
    std::mt19937 random(20260201);
    std::string gates;
    for (int i = SenderCount; i >= 1; --i) {
        const std::string name = Cp1251("Оператор ") + IntToStr(i);
        gates += "[SmsSender:TStdSmsSender:" + name + "]\r\nName=" + name + "\r\nSenderId=" + IntToStr(i) +
                 "\r\nTranslitFlag=0\r\nMaxSmsLen=160\r\nCharset=CP1251\r\n"
                 "WebGate=http://127.0.0.1/send?to={phone}&text={message}\r\nEmailGate={phone}@\r\n"
                 "EmailSubj={message}\r\nEmailBody={message}\r\nGateType=0\r\nNotes=\r\n";
    }
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(contactCount));
    for (int i = 1; i <= contactCount; ++i)
        names.push_back(ContactName(random, i));
    std::string book;
    book.reserve(static_cast<size_t>(contactCount) * 220);
    for (int i = contactCount; i >= 1; --i) {
        const std::string& name = names[static_cast<size_t>(i - 1)];
        std::string id = "ContactId=" + IntToStr(i) + "\r\n";
        if (damaged)
            id = i == 1 ? "ContactId=" + IntToStr(INT_MAX) + "\r\n" : "";
        book += "[Contact:TContact:" + name + "]\r\n" + id + "Name=" + name + "\r\nPhoneNumber=+7912" +
                IntToStr(1000000 + i) + "\r\nSmsSenderName=" + Cp1251("Оператор ") +
                IntToStr(1 + i % SenderCount) + "\r\n";
    }
    for (int g = groupCount; g >= 1; --g) {
        const std::string name = Cp1251("Группа ") + IntToStr(g);
        book += "[Group:TGroup:" + name + "]\r\nGroupId=" + IntToStr(g + 2) + "\r\nName=" + name +
                "\r\nContactCount=" + IntToStr(GroupSize) + "\r\n";
        for (int m = GroupSize - 1; m >= 0; --m)
            book += "Contact" + IntToStr(m) + "=" + names[random() % static_cast<unsigned>(contactCount)] + "\r\n";
    }
    SaveFileSafely(ResolveDataFilePath("SmsGates.ini"), gates);
    SaveFileSafely(ResolveDataFilePath("SmsAddressBook.ini"), book);
}

size_t FileSize(const char* name)
{
    std::error_code ec;
    return static_cast<size_t>(std::filesystem::file_size(ResolveDataFilePath(name), ec));
}

// One load into an empty manager, as at the program's start: the previous
// book is destroyed before the clock starts (its cost is timed on its own).
double destroyMs = 0;

void LoadOnly()
{
    SmsManager().LoadSmsSenders("SmsGates.ini");
    SmsManager().LoadAddressBook("SmsAddressBook.ini");
}

void Load()
{
    ResetSmsManagerForTests();
    LoadOnly();
}

std::vector<double> LoadRuns(int count)
{
    std::vector<double> times;
    std::vector<double> destroys;
    for (int i = 0; i < count; ++i) {
        destroys.push_back(MillisecondsOf(ResetSmsManagerForTests));
        times.push_back(MillisecondsOf(LoadOnly));
    }
    destroyMs = Median(destroys);
    return times;
}

void Save() { SmsManager().SaveAddressBook("SmsAddressBook.ini"); }

// The peak memory of a fresh process (this program run as "child") that
// loads both files and saves the address book: the figure a user's program
// reaches, without the memory the generating took here.
double ChildPeakMb()
{
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return -1;
    self[n] = 0;
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFd[1], 1);
        close(pipeFd[0]);
        execl(self, self, "child", DataDir().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFd[1]);
    char buffer[64] = {};
    const ssize_t got = read(pipeFd[0], buffer, sizeof buffer - 1);
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got > 0 ? std::atof(buffer) : -1;
}

int Child(const char* folder)
{
    SetDataDir(folder);
    RegisterIoClasses();
    Load();
    Save();
    std::printf("%.1f\n", PeakRssMb());
    return 0;
}

// Wall time of one run of the shell command, in milliseconds.
double CommandMs(const std::string& command)
{
    return MillisecondsOf([&] {
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "failed: %s\n", command.c_str());
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "child") == 0)
        return Child(argv[2]);

    char folder[] = "/tmp/velotext-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    SetDataDir(folder);
    SetWaiter([](int) {});
    RegisterIoClasses();
    const std::string book = ResolveDataFilePath("SmsAddressBook.ini");

    // --- the 20,000-contact book ---
    GenerateFiles(20000, 1000);
    std::printf("book: 20000 contacts, 1000 groups of %d, %d operators, %zu bytes\n", GroupSize, SenderCount,
                FileSize("SmsAddressBook.ini"));
    const double load20 = Median(LoadRuns(21));
    const double destroy20 = destroyMs;
    TSmsManager& m = SmsManager();
    const double save20 = Median(Runs(21, Save));
    // The share of the backup generation: the same bytes saved with and
    // without keeping "<file>.bak".
    const std::string bookText = [&] {
        std::FILE* f = std::fopen(book.c_str(), "rb");
        std::string text(FileSize("SmsAddressBook.ini"), '\0');
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fclose(f);
        return text;
    }();
    // Two versions in turn, so that every save replaces another version; and
    // the same bytes again (compared with the file, the backup left alone).
    std::string otherText = bookText;
    otherText.back() = ' ';
    int turn = 0;
    const auto alternate = [&](bool keep) {
        return [&, keep] { SaveFileSafely(book + ".plain", ++turn % 2 ? otherText : bookText, 0, keep); };
    };
    const double withBackup = Median(Runs(21, alternate(true)));
    const double withoutBackup = Median(Runs(21, alternate(false)));
    const double sameBytes = Median(Runs(21, [&] { SaveFileSafely(book + ".plain", bookText, 0, true); }));
    std::vector<double> copies;
    for (int i = 0; i < 7; ++i)
        copies.push_back(CommandMs("cp '" + book + "' '" + book + ".copy'"));
    const double copy = Median(copies);
    // The save ends with the file flushed to the disk; the copy with the same
    // flush of its file is the like-for-like figure.
    std::vector<double> syncedCopies;
    for (int i = 0; i < 7; ++i)
        syncedCopies.push_back(CommandMs("cp '" + book + "' '" + book + ".copy' && sync '" + book + ".copy'"));
    const double syncedCopy = Median(syncedCopies);
    std::vector<double> wcs;
    for (int i = 0; i < 7; ++i)
        wcs.push_back(CommandMs("wc -l '" + book + "' >/dev/null"));

    double worstSearch = 0;
    std::string worstText;
    std::string searchRows;
    for (const char* utf8 : {"+", "7", "о", "ова", "ков 1", "zz"}) {
        const std::string text = Cp1251(utf8);
        const double ms = Median(Runs(21, [&] { m.SearchContacts(text); }));
        char row[160];
        std::snprintf(row, sizeof row, "    \"%s\": %.3f ms, %d found\n", utf8, ms,
                      m.FoundContactsGroup->Contacts.Count());
        searchRows += row;
        if (ms > worstSearch) {
            worstSearch = ms;
            worstText = utf8;
        }
    }
    for (int i = 0; i < 20; ++i)
        m.AddRecipientContact(m.Contacts()[i * 997]);
    const double queue = Median(Runs(51, [&] {
        m.ClearQueue();
        m.QueueSms(Cp1251("Привет"));
    }));
    ResetSmsManagerForTests();
    const double peak20 = ChildPeakMb();

    // --- four times the book, in a folder of its own ---
    const std::string folder20 = folder;
    const std::string folder80 = folder20 + "/80k";
    std::filesystem::create_directory(folder80);
    SetDataDir(folder80);
    GenerateFiles(80000, 4000);
    const size_t size80 = FileSize("SmsAddressBook.ini");
    ResetSmsManagerForTests();
    const double peak80 = ChildPeakMb();
    // The growth: loads of the two books taken in turn, so that a busy
    // moment of the machine weighs on both alike.
    std::vector<double> turns20, turns80, destroys80;
    for (int i = 0; i < 9; ++i) {
        SetDataDir(folder20);
        turns20.push_back(Median(LoadRuns(1)));
        if (i > 0)
            destroys80.push_back(destroyMs); // the 80k book of the turn before
        SetDataDir(folder80);
        turns80.push_back(Median(LoadRuns(1)));
    }
    const double destroy80 = Median(destroys80);
    ResetSmsManagerForTests();
    const double load80 = Median(turns80);
    const double growth = load80 / Median(turns20);
    SetDataDir(folder20);

    // --- a damaged book: ids after the largest one ---
    GenerateFiles(20000, 1000, true);
    ResetSmsManagerForTests();
    const double damaged = MillisecondsOf(LoadOnly);
    ResetSmsManagerForTests();

    std::printf("load + resolve (operators, address book)   %8.1f ms   (target <= 40 ms; wc -l %.1f ms)\n",
                load20, Median(wcs));
    std::printf("save address book                          %8.1f ms   = %.1f x cp (%.1f ms; target <= 3 x)\n",
                save20, save20 / copy, copy);
    std::printf("                                                          = %.1f x cp + sync of the copy (%.1f ms)\n",
                save20 / syncedCopy, syncedCopy);
    std::printf("save of a changed book, keeping .bak / not %8.1f ms / %.1f ms; unchanged bytes %.1f ms\n",
                withBackup, withoutBackup, sameBytes);
    std::printf("peak memory, fresh process load + save    %8.1f MB   (target <= 35 MB)\n", peak20);
    std::printf("search, worst keystroke (\"%s\")            %8.3f ms   (target <= 2 ms)\n", worstText.c_str(),
                worstSearch);
    std::printf("%s", searchRows.c_str());
    std::printf("QueueSms, 20 recipients                    %8.3f ms\n", queue);
    std::printf("80,000 contacts, 4,000 groups (%zu bytes): load %.1f ms = %.2f x the 20k book loaded in turn "
                "with it (target <= 4.2 x), peak %.1f MB\n",
                size80, load80, growth, peak80);
    std::printf("destroying the loaded book (outside the load figures): 20k %.1f ms, 80k %.1f ms\n", destroy20,
                destroy80);
    std::printf("damaged book (20,000 contacts after ContactId=%d): load %.1f ms\n", INT_MAX, damaged);

    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
