// Timings of the contacts import: 100,000 vCards (2.1 with quoted-printable
// Cyrillic and 3.0 with a note folded inside a letter, several TEL each) written to a temporary file, then read,
// parsed and planned against a book of 10,000 contacts. Prints the median of
// several runs; the goal is at most 2 s for reading, parsing and planning.
#include "model/ContactExport.h"
#include "model/ContactImport.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

std::string QuotedPrintable(const std::string& utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        if (c >= 33 && c <= 126 && c != '=') {
            out += static_cast<char>(c);
        } else {
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// A property line folded as mail clients fold it: at 75 octets, inside a letter if need be.
std::string Folded(const std::string& line)
{
    std::string out;
    size_t pos = 0, room = 75;
    while (line.size() - pos > room) {
        out.append(line, pos, room);
        out += "\r\n ";
        pos += room;
        room = 74;
    }
    out.append(line, pos, std::string::npos);
    return out + "\r\n";
}

std::string MakeCards(int count)
{
    const char* first[] = {"Иван", "Мария", "Пётр", "Анна", "Сергей", "Ольга", "Дмитрий", "Елена"};
    const char* last[] = {"Петров", "Смирнова", "Кузнецов", "Попова", "Соколов", "Лебедева", "Новиков", "Морозова"};
    std::string out;
    out.reserve(static_cast<size_t>(count) * 220);
    for (int i = 0; i < count; ++i) {
        const std::string name = std::string(first[i % 8]) + " " + last[(i / 8) % 8] + " " + std::to_string(i);
        const std::string n = std::to_string(1000000 + i);
        if (i % 2 == 0) {
            out += "BEGIN:VCARD\r\nVERSION:2.1\r\n";
            out += "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" + QuotedPrintable(last[(i / 8) % 8]) + ";" +
                   QuotedPrintable(first[i % 8]) + ";;;\r\n";
            out += "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:" + QuotedPrintable(name) + "\r\n";
            out += "TEL;HOME:+7 495 " + n + "\r\nTEL;CELL;PREF:8 (916) " + n + "\r\nEND:VCARD\r\n";
        } else {
            out += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nN:" + last[(i / 8) % 8] + ";" + first[i % 8] +
                   ";;;\r\n";
            out += "TEL;TYPE=WORK,VOICE:+7 (495) " + n + "\r\nTEL;TYPE=CELL:+7 903 " + n + "\r\n";
            out += "TEL;TYPE=HOME:+7 (812) " + n + "\r\nCATEGORIES:Коллеги,Друзья\r\n";
            out += Folded("NOTE:Встреча выпускников в первую субботу февраля\\, звонить после шести вечера");
            out += "END:VCARD\r\n";
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = 5;
    const std::string path = (std::filesystem::temp_directory_path() / "bench_contact_import.vcf").string();
    const std::string cards = MakeCards(count);
    SaveFileSafely(path, cards, 0, false);
    std::printf("%d vCards, %.1f MB in %s\n", count, cards.size() / 1048576.0, path.c_str());

    TContactList book(true);
    TSmsSenderList senders(true);
    for (int i = 0; i < 10000; ++i) {
        auto* c = new TContact;
        c->SetName(Cp1251("Абонент ") + IntToStr(i));
        c->PhoneNumber = "+7901" + IntToStr(1000000 + i);
        book.Add(c);
    }
    std::vector<double> readMs, planMs, totalMs;
    size_t rows = 0;
    int added = 0;
    for (int run = 0; run < runs; ++run) {
        auto start = TClock::now();
        const TImportSource source = ReadContactFile(path);
        readMs.push_back(MsSince(start));
        auto planStart = TClock::now();
        const TImportPlan plan = PlanImport(source.Rows, book, senders, {});
        planMs.push_back(MsSince(planStart));
        totalMs.push_back(MsSince(start));
        rows = source.Rows.size();
        added = plan.Added;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("rows %zu, to add %d\n", rows, added);
    std::printf("%-40s %10.1f ms (median of %d)\n", "read + parse", median(readMs), runs);
    std::printf("%-40s %10.1f ms\n", "plan against 10000 contacts", median(planMs));
    std::printf("%-40s %10.1f ms (goal: 2000 ms)\n", "read + parse + plan", median(totalMs));

    // The export of as many contacts, for comparison.
    std::vector<TExportedContact> out(static_cast<size_t>(count));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = {Cp1251("Абонент ") + IntToStr(static_cast<long long>(i)), "+7901" + IntToStr(1000000 + static_cast<long long>(i)),
                  "", {Cp1251("Коллеги")}};
    auto start = TClock::now();
    const std::string vcard = VCardExport(out);
    std::printf("%-40s %10.1f ms (%.1f MB)\n", "vCard export", MsSince(start), vcard.size() / 1048576.0);
    std::filesystem::remove(path);
    return 0;
}
