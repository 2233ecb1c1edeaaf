// The one rule for a message's text, and what is refused as not being text.
#include "model/MessageText.h"
#include "model/Text.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(MessageText, ALineBreakOfAnyKindIsOneBlank)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Первая строка\nвторая строка\n", "Первая строка вторая строка"}, // a file or a pipe: LF
        {" \t ab\r\ncd\r\n ", "ab cd"},                                     // the composer: CR LF
        {"А\rБ", "А Б"},
        {"\r\n", ""},
    };
    for (const auto& [typed, sent] : cases)
        EXPECT_EQ(ComposedMessageText(U(typed)), U(sent)) << typed;
}

TEST(MessageText, BytesThatAreNotTextAreRefusedWithTheReason)
{
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"Привет\0мир"s, "нулевой байт (NUL) в позиции 13"},
        {"a\0b"s, "нулевой байт (NUL) в позиции 2"}, // one NUL makes no UTF-16
        {"\xFF\xFEH\0i\0"s, "UTF-16"},
        {"H\0e\0l\0l\0o\0,\0 \0w\0o\0r\0l\0d\0"s, "UTF-16"}, // no byte-order mark
        {"\x7F" "ELF\x02\x01\x01\0\0\0"s, "это не текст"},
        {"\x1B[31mкрасный"s, "управляющий байт 0x1B в позиции 1"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2"s, "не в кодировке UTF-8"}, // CP1251
        {"Текст\tс табуляцией\r\nи строками"s, ""},
        {"Эмодзи 😀"s, ""}, // text all the same: what CP1251 lacks is named elsewhere
    };
    for (const auto& [bytes, reason] : cases) {
        const std::string problem = Cp1251ToUtf8(MessageBytesProblem(bytes));
        if (reason.empty())
            EXPECT_EQ(problem, "") << bytes;
        else
            EXPECT_NE(problem.find(reason), std::string::npos) << problem;
    }
}

TEST(MessageText, CharactersCp1251LacksAreNamedOnce)
{
    EXPECT_EQ(CharsCp1251Lacks("Эмодзи 😀, ещё 😀 и ✓; € и № есть"), (std::vector<char32_t> {0x1F600, 0x2713}));
    EXPECT_EQ(CharsCp1251Lacks("Ёжик, «кавычки» — тире"), std::vector<char32_t> {});
}
