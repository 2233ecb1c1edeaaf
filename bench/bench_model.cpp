// Timings of the message model: the validated append on a big contact list,
// name lookups, the index rebuild after a rename, and transliteration.
#include "model/AddressBook.h"
#include "model/Text.h"
#include "model/Translit.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

void Report(const char* what, double ms, double items)
{
    std::printf("%-52s %10.2f ms %14.0f items/s\n", what, ms, items / (ms / 1000.0));
}

} // namespace

int main()
{
    const int count = 100000;
    std::vector<TContact*> contacts;
    contacts.reserve(count);
    for (int i = 0; i < count; ++i) {
        auto* c = new TContact;
        c->SetName(Cp1251("Абонент ") + IntToStr(i));
        c->PhoneNumber = "+7901" + IntToStr(1000000 + i);
        contacts.push_back(c);
    }

    {
        TContactList list(true);
        auto start = TClock::now();
        for (TContact* c : contacts)
            list.Add(c);
        Report("validated append, 100000 contacts, new ids", MsSince(start), count);

        // Appends that fail on a clash with the first item (found last by a scan).
        TContact clash;
        clash.SetName(Cp1251("абонент 0"));
        int failures = 0;
        start = TClock::now();
        for (int i = 0; i < 10000; ++i) {
            try {
                list.Add(&clash);
            } catch (const TError&) {
                ++failures;
            }
        }
        Report("failed append (clash at the front), x10000", MsSince(start), failures);

        std::mt19937 rng(1);
        start = TClock::now();
        long long found = 0;
        for (int i = 0; i < 100000; ++i)
            found += list.IndexOfName(Cp1251("АБОНЕНТ ") + IntToStr(rng() % count)) >= 0;
        Report("IndexOfName, x100000", MsSince(start), static_cast<double>(found));

        // A rename makes the index rebuild on the next append.
        start = TClock::now();
        const int renames = 20;
        for (int i = 0; i < renames; ++i) {
            list.Items(i)->SetName(Cp1251("Переименован ") + IntToStr(i));
            TContact probe;
            probe.SetName("probe");
            list.Add(&probe);
            list.Extract(&probe);
        }
        Report("rename + append (index rebuild), x20", MsSince(start), renames);
        list.Clear();
        contacts.clear();
    }

    {
        TContactList list(true);
        std::vector<TContact*> numbered;
        for (int i = 0; i < count; ++i) {
            auto* c = new TContact;
            c->SetName("c" + IntToStr(i));
            c->SetContactId(count - i);
            numbered.push_back(c);
        }
        auto start = TClock::now();
        for (TContact* c : numbered)
            list.Add(c);
        Report("validated append, 100000 contacts, given ids", MsSince(start), count);
    }

    {
        // 1 MB of Russian text with punctuation.
        const std::string sample = Cp1251("Съешь же ещё этих мягких французских булок, да выпей чаю - 2024! ");
        std::string text;
        while (text.size() < (1u << 20))
            text += sample;
        text.resize(1u << 20);
        std::string out;
        const int rounds = 20;
        auto start = TClock::now();
        for (int i = 0; i < rounds; ++i)
            out = Translit(text);
        double ms = MsSince(start) / rounds;
        std::printf("%-52s %10.2f ms %11.1f MB/s  (%zu -> %zu bytes)\n", "Translit of 1 MB", ms,
                    1.0 / (ms / 1000.0), text.size(), out.size());
    }
    return 0;
}
