// Address-book figures on a generated book of 20,000 contacts, 1,000 groups
// of 50 members and 50 operators: full load with name resolution, save,
// a search for a three-letter Cyrillic text, queuing one message to 20
// recipients, and the peak resident memory of the process.
#include "engine/SmsManager.h"
#include "engine/StdSmsSenderIo.h"
#include "model/Clock.h"
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int ContactCount = 20000;
constexpr int GroupCount = 1000;
constexpr int GroupSize = 50;
constexpr int SenderCount = 50;

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

// Best and median of several runs.
void Report(const char* what, std::vector<double> times, double targetMs)
{
    std::sort(times.begin(), times.end());
    std::printf("%-44s best %8.3f ms  median %8.3f ms  (target < %.0f ms)\n", what, times.front(),
                times[times.size() / 2], targetMs);
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

// The two files as the program writes them, built as text.
void GenerateFiles()
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
    names.reserve(ContactCount);
    for (int i = 1; i <= ContactCount; ++i)
        names.push_back(ContactName(random, i));
    std::string book;
    book.reserve(4u << 20);
    for (int i = ContactCount; i >= 1; --i) {
        const std::string& name = names[static_cast<size_t>(i - 1)];
        book += "[Contact:TContact:" + name + "]\r\nContactId=" + IntToStr(i) + "\r\nName=" + name +
                "\r\nPhoneNumber=+7912" + IntToStr(1000000 + i) + "\r\nSmsSenderName=" + Cp1251("Оператор ") +
                IntToStr(1 + i % SenderCount) + "\r\n";
    }
    for (int g = GroupCount; g >= 1; --g) {
        const std::string name = Cp1251("Группа ") + IntToStr(g);
        book += "[Group:TGroup:" + name + "]\r\nGroupId=" + IntToStr(g + 2) + "\r\nName=" + name +
                "\r\nContactCount=" + IntToStr(GroupSize) + "\r\n";
        for (int m = GroupSize - 1; m >= 0; --m)
            book += "Contact" + IntToStr(m) + "=" + names[random() % ContactCount] + "\r\n";
    }
    SaveFileSafely(ResolveDataFilePath("SmsGates.ini"), gates);
    SaveFileSafely(ResolveDataFilePath("SmsAddressBook.ini"), book);
    std::printf("generated: operators file %zu bytes, address book %zu bytes\n", gates.size(), book.size());
}

void Load()
{
    ResetSmsManagerForTests();
    SmsManager().LoadSmsSenders("SmsGates.ini");
    SmsManager().LoadAddressBook("SmsAddressBook.ini");
}

} // namespace

int main()
{
    char folder[] = "/tmp/velotext-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    SetDataDir(folder);
    SetWaiter([](int) {});
    RegisterIoClasses();
    GenerateFiles();
    std::printf("peak RSS after generating the files: %.1f MB\n", PeakRssMb());

    std::vector<double> load, save, search, queue;
    for (int run = 0; run < 5; ++run)
        load.push_back(MillisecondsOf(Load));
    std::printf("peak RSS after loading: %.1f MB\n", PeakRssMb());
    TSmsManager& m = SmsManager();
    int members = 0;
    for (const TGroup* group : m.Groups)
        if (group != m.AllContactsGroup)
            members += group->Contacts.Count();
    std::printf("loaded: %d contacts, %d groups, %d operators, %d group members\n", m.Contacts().Count(),
                m.Groups.Count() - 2, m.SmsSenders.Count(), members);

    for (int run = 0; run < 5; ++run)
        save.push_back(MillisecondsOf([&] { m.SaveAddressBook("SmsAddressBook.ini"); }));

    const std::string text = Cp1251("ова");
    for (int run = 0; run < 50; ++run)
        search.push_back(MillisecondsOf([&] { m.SearchContacts(text); }));
    std::printf("search \"%s\" finds %d contacts\n", Cp1251ToUtf8(text).c_str(),
                m.FoundContactsGroup->Contacts.Count());

    for (int i = 0; i < 20; ++i)
        m.AddRecipientContact(m.Contacts()[i * 997]);
    for (int run = 0; run < 50; ++run) {
        m.ClearQueue();
        queue.push_back(MillisecondsOf([&] { m.QueueSms(Cp1251("Привет")); }));
    }

    std::printf("peak RSS after saving: %.1f MB\n", PeakRssMb());
    Report("load (operators + address book, resolved)", load, 250);
    Report("save address book", save, 150);
    Report("SearchContacts, 3 Cyrillic letters", search, 5);
    Report("QueueSms, 20 recipients", queue, 1);

    std::printf("peak RSS %.1f MB (target < 60 MB)\n", PeakRssMb());

    ResetSmsManagerForTests();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return 0;
}
