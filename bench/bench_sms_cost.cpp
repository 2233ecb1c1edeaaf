// What recomputing the composer's cost line takes: a 480-character Cyrillic
// text, 20 contacts picked one by one over three operators (KOI8-R split at
// 160, UTF-8 whole, one that transliterates) and a group of 2,000 contacts;
// then the same with the recipient's name in the text.
#include "engine/SmsCost.h"
#include "engine/StdSmsSender.h"
#include "model/Text.h"
#include "model/Translit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-56s median %7.3f ms   p90 %7.3f ms   max %7.3f ms\n", what, ms[ms.size() / 2], ms[ms.size() * 9 / 10],
                ms.back());
}

} // namespace

int main()
{
    ResetTranslitTable();
    TStdSmsSender koi, utf, lat;
    koi.Charset = "KOI8-R";
    koi.MaxSmsLen = 160;
    utf.Charset = "UTF-8";
    lat.TranslitFlag = true;
    lat.MaxSmsLen = 70;
    TStdSmsSender* ops[] = {&koi, &utf, &lat};
    std::vector<std::unique_ptr<TContact>> contacts;
    auto contact = [&](int i) {
        auto c = std::make_unique<TContact>();
        c->SetName("c" + std::to_string(i));
        c->SetContactId(i);
        c->SmsSender = ops[i % 3];
        contacts.push_back(std::move(c));
        return contacts.back().get();
    };
    TRecipientList picked;
    for (int i = 1; i <= 20; ++i)
        picked.Contacts.Add(contact(i));
    TGroup big;
    big.SetName("big");
    for (int i = 21; i <= 2020; ++i)
        big.Contacts.Add(contact(i));
    TRecipientList withGroup;
    for (int i = 0; i < 20; ++i)
        withGroup.Contacts.Add(picked.Contacts[i]);
    withGroup.Groups.Add(&big);

    std::string text;
    const std::string phrase = Cp1251("Съешь же ещё этих мягких французских булок, да выпей чаю. ");
    while (text.size() < 480)
        text += phrase;
    text.resize(480);

    // The same length with the recipient's name in it: each recipient's own text is billed.
    std::string named = text.substr(0, 474) + "{name}";
    for (auto [what, list, message] :
         {std::tuple {"20 contacts, 480 characters", &picked, &text},
          std::tuple {"20 contacts and a group of 2,000, 480 characters", &withGroup, &text},
          std::tuple {"20 contacts, 480 characters with {name}", &picked, &named},
          std::tuple {"20 contacts and a group of 2,000, with {name}", &withGroup, &named}}) {
        std::vector<double> ms;
        int total = 0;
        for (int i = 0; i < 300; ++i) {
            const auto start = TClock::now();
            total += ComputeSmsCost(*message, *list, TranslitTable()).Total;
            ms.push_back(std::chrono::duration<double, std::milli>(TClock::now() - start).count());
        }
        Report(what, ms);
        if (total == 0)
            std::printf("(no SMS counted)\n");
    }
    return 0;
}
