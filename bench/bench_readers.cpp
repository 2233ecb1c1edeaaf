// How long the readers of the two growing files take: the queue's journal
// (100,000 records: 20,000 messages, each attempted twice and sent to the
// back) and the history (1 MB of ordinary records, and 1 MB that is one
// "Для:" line of " (" pairs). Both should grow in proportion to the size.
//   bench_readers [FOLDER]   (default: the temporary folder)
#include "model/SafeFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsQueueJournal.h"
#include "model/Text.h"
#include "model/TextLines.h"

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

// A journal of `messages` messages, each attempted `rounds` times and sent to the back.
void MeasureJournal(const std::string& path, int messages, int rounds)
{
    std::string text = "VELOTEXT-QUEUE 1\n";
    for (int i = 1; i <= messages; ++i)
        text += "+\t" + std::to_string(i) + "\t20261208090000\t0\t0\t" + std::to_string(i) + "\t1\t" +
                Cp1251("Абонент ") + std::to_string(i) + "\t+7901" + std::to_string(1000000 + i) + "\t" +
                Cp1251("Напоминание: встреча завтра в 10:00") + "\n";
    for (int r = 0; r < rounds; ++r)
        for (int i = 1; i <= messages; ++i)
            text += "B\t" + std::to_string(i) + "\nR\t" + std::to_string(i) + "\n";
    SaveFileSafely(path, text, 0600, false);
    const int records = messages * (1 + 2 * rounds);
    TSmsQueueJournal journal(path);
    const auto start = TClock::now();
    const TJournalRead read = journal.Read();
    const double ms = MsSince(start);
    std::printf("journal: %7d records, %6d messages, %6.1f MB   read in %8.1f ms (%zu owed)\n", records, messages,
                static_cast<double>(text.size()) / 1e6, ms, read.Entries.size());
}

void MeasureHistory(const char* what, const std::string& text)
{
    const auto start = TClock::now();
    const std::vector<std::string> lines = SplitLines(text);
    TSmsHistoryIndex index;
    index.AddLines(lines, 0, lines.size());
    index.Finish();
    const double ms = MsSince(start);
    std::printf("history: %-40s %6.2f MB   indexed in %8.1f ms (%zu records)\n", what,
                static_cast<double>(text.size()) / 1e6, ms, index.Records().size());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
    const std::string path = folder + "/bench-readers.journal";
    MeasureJournal(path, 5000, 4);   // 45,000 records
    MeasureJournal(path, 20000, 2);  // 100,000 records
    MeasureJournal(path, 100000, 0); // 100,000 records, all owed
    std::filesystem::remove(path);

    const std::string top(80, '='), rule(80, '-');
    std::string ordinary;
    for (int i = 0; ordinary.size() < 1000000; ++i)
        ordinary += top + "\r\n" + Cp1251("Для: Абонент ") + std::to_string(i) + " (8 (916) 123-45-" +
                    std::to_string(10 + i % 90) + ")\r\n" + Cp1251("Дата: 08.12.2026 09:00:00\r\nСтатус: Сообщение отправлено.\r\n") +
                    rule + "\r\n" + Cp1251("Напоминание: встреча завтра в 10:00 в переговорной на третьем этаже.") +
                    "\r\n";
    MeasureHistory("ordinary records", ordinary);
    std::string pairs = top + "\r\n" + Cp1251("Для: Имя");
    while (pairs.size() < 1000000)
        pairs += " (";
    pairs += ")\r\n" + rule + "\r\nx\r\n";
    MeasureHistory("one \"Для:\" line of \" (\" pairs", pairs);
    return 0;
}
