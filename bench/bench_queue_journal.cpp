// What a change of the queue costs on this disk with 1,000 messages queued:
// a record appended to the journal (as the program does, with its flush to the
// disk in the background), the same with the flush waited for, and the whole
// queue rewritten through the safe save (the other way a queue could be kept).
//   bench_queue_journal [FOLDER]   (default: the temporary folder; name a folder on the disk to measure it)
#include "model/SafeFile.h"
#include "model/SmsQueueJournal.h"
#include "model/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %8.3f ms   p90 %8.3f ms   max %8.3f ms\n", what, ms[ms.size() / 2],
                ms[ms.size() * 9 / 10], ms.back());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    const std::string path = folder + "/bench-queue.journal";
    std::vector<TJournalEntry> live;
    for (int i = 1; i <= 1000; ++i) {
        TJournalEntry e;
        e.Id = static_cast<std::uint64_t>(i);
        e.Created = TDateTime {2026, 12, 8, 9, 0, 0};
        e.ContactId = i;
        e.SenderId = 1;
        e.ContactName = Cp1251("Абонент ") + std::to_string(i);
        e.Phone = "+7901" + std::to_string(1000000 + i);
        e.Text = Cp1251("Напоминание: встреча завтра в 10:00 в переговорной на третьем этаже. Не опаздывайте!");
        live.push_back(e);
    }
    const int rounds = 300;
    {
        TSmsQueueJournal journal(path);
        auto start = TClock::now();
        journal.Open(live, {});
        std::printf("%-58s %8.3f ms\n", "open: 1,000 messages written through the safe save", MsSince(start));
        std::vector<double> append, synced;
        for (int i = 0; i < rounds; ++i) {
            // An attempt begins, fails and goes to the back: two changes.
            start = TClock::now();
            journal.Begun(live[static_cast<size_t>(i)].Id);
            append.push_back(MsSince(start));
            start = TClock::now();
            journal.Requeued(live[static_cast<size_t>(i)].Id);
            append.push_back(MsSince(start));
            start = TClock::now();
            journal.Begun(live[static_cast<size_t>(i)].Id);
            journal.Sync(); // what a delivery's worker waits for before it sends
            synced.push_back(MsSince(start));
            journal.Requeued(live[static_cast<size_t>(i)].Id);
        }
        Report("change appended (the window's thread)", append);
        Report("change appended and flushed to the disk (the worker)", synced);
    }
    std::vector<double> rewrite;
    for (int i = 0; i < 30; ++i) {
        auto start = TClock::now();
        TSmsQueueJournal journal(path);
        journal.Open(live, {}); // a full rewrite, as a queue kept in one file would do for every change
        rewrite.push_back(MsSince(start));
    }
    Report("change by rewriting the whole queue (safe save)", rewrite);
    std::filesystem::remove(path);
    return 0;
}
