#include "storage/IniFile.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

namespace {

using Names = std::vector<std::string>;

TIniFile Parse(std::string_view text)
{
    TIniFile ini;
    ini.LoadFromText(text);
    return ini;
}

TIniFile Reloaded(const TIniFile& ini) { return Parse(ini.SaveToText()); }

TEST(IniFileRead, LinesNamesValuesAndStrayInput)
{
    TIniFile ini = Parse("orphan=1\r\n"
                         "[A]\r\nk1=1\nk2=2\rk3=  plain value \t\r\n\r\n"
                         "  [B]  \n\tk = \" inside \" \r\nd=\"\"twice\"\"\ns='single'\nm=\"mixed'\nq=\"\ne=a=b\n"
                         "; comment=1\nno equals sign\n=no key\nk=second\n"
                         "[a]\nmore=2\n"
                         "[broken\nlost=1\n"
                         + U("[Группа:a]b]\r\nИмя=Ёжик"));
    EXPECT_EQ(ini.ReadSections(), (Names{"A", "B", U("Группа:a]b")}));
    EXPECT_EQ(ini.ReadSection("A"), (Names{"k1", "k2", "k3", "more"})); // a repeated section is merged
    EXPECT_EQ(ini.ReadSection("B"), (Names{"k", "d", "s", "m", "q", "e"}));
    EXPECT_EQ(ini.ReadString("a", "K3", "?"), "plain value");
    const std::pair<const char*, std::string> expected[] = {
        {"k", " inside "}, {"d", "\"twice\""}, {"s", "single"}, {"m", "\"mixed'"}, {"q", "\""}, {"e", "a=b"}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(ini.ReadString("b", key, "?"), value) << key;
    // Names match without regard to case, Cyrillic included, and blanks around them.
    EXPECT_EQ(ini.ReadString(U(" гРУППА:A]B "), U("иМЯ"), ""), U("Ёжик"));
    EXPECT_FALSE(ini.ValueExists("B", "lost"));
    EXPECT_EQ(ini.ReadString("Missing", "k", "def"), "def");
}

TEST(IniFileRead, IntegersAndBooleans)
{
    TIniFile ini = Parse("[N]\r\ndec=-42\r\nplus=+7\r\nhex=0x1F90\r\nhex2=0XfF\r\nbare=0x\r\nbadhex=0x1G\r\n"
                         "all=0xFFFFFFFF\r\nwide=0x100000000\r\nbig=2147483648\r\nword=abc\r\nspaced=1 2\r\n"
                         "quoted=\"12\"\r\nzero=0\r\n");
    const std::pair<const char*, int> expected[] = {
        {"dec", -42}, {"plus", 7},  {"hex", 8080}, {"hex2", 255},  {"bare", 5},   {"badhex", 5}, {"all", -1},
        {"wide", 5},  {"big", 5},   {"word", 5},   {"spaced", 5},  {"quoted", 12}, {"missing", 5}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(ini.ReadInteger("N", key, 5), value) << key;
    EXPECT_TRUE(ini.ReadBool("N", "word", true));
    EXPECT_FALSE(ini.ReadBool("N", "word", false));
    EXPECT_TRUE(ini.ReadBool("N", "dec", false));
    EXPECT_FALSE(ini.ReadBool("N", "zero", true));
}

TEST(IniFileWrite, ExactLayoutAndOrder)
{
    TIniFile ini;
    ini.WriteString("Proxy", "ProxyServer", "host");
    ini.WriteInteger("Proxy", "ProxyPort", 8080);
    ini.WriteBool("SMS", "HistoryFlag", true);
    ini.WriteBool("SMS", "TranslitFlag", false);
    ini.WriteString("proxy", "PROXYSERVER", U("хост")); // replaced in place
    ini.WriteString("Empty", "Value", "");
    EXPECT_EQ(ini.SaveToText(), "[Proxy]\r\nProxyServer=" + U("хост") +
                                    "\r\nProxyPort=8080\r\n[SMS]\r\nHistoryFlag=1\r\nTranslitFlag=0\r\n"
                                    "[Empty]\r\nValue=\r\n");
}

TEST(IniFileWrite, WhatALineCannotCarryIsMadeSafe)
{
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        if (c != '\r' && c != '\n')
            allBytes += static_cast<char>(c);
    const Names values = {" leading", "trailing ", "\tboth\t", "\"quoted\"", "'single'", "\"", "\"half",
                          "=equals", "[section]", "; comment", std::string("nul\0in", 7), "  ", allBytes};
    TIniFile ini;
    for (size_t i = 0; i < values.size(); ++i)
        ini.WriteString("S", "k" + std::to_string(i), values[i]);
    ini.WriteString("S", "breaks", "line 1\r\nline 2\rline 3\nline 4");
    ini.WriteString("Two\r\nLines", "k", "1");
    ini.WriteString("Last", "k", "2");
    for (const TIniFile& f : {Reloaded(ini), Parse(ini.SaveToText())}) {
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(f.ReadString("S", "k" + std::to_string(i), "?"), values[i]) << i;
        EXPECT_EQ(f.ReadString("S", "breaks", ""), "line 1 line 2 line 3 line 4");
        EXPECT_EQ(f.ReadSections(), (Names{"S", "Two Lines", "Last"}));
        EXPECT_EQ(f.ReadString("Last", "k", ""), "2");
    }
    // The object already holds what the file will give back.
    EXPECT_EQ(ini.ReadString("S", "breaks", ""), "line 1 line 2 line 3 line 4");
    EXPECT_EQ(Reloaded(ini).SaveToText(), ini.SaveToText());
    EXPECT_NE(ini.SaveToText().find("k3=\"\"quoted\"\"\r\n"), std::string::npos);
    EXPECT_NE(ini.SaveToText().find("k6=\"half\r\n"), std::string::npos); // plain when safe

    for (std::string bad : {"", "  ", "a=b", "a\nb", "[x", ";x"})
        EXPECT_THROW(ini.WriteString("S", bad, "v"), TError) << bad;
}

TEST(IniFileEdit, EraseDeleteAndManySectionsKeepOrderAndLookups)
{
    TIniFile ini;
    for (int i = 0; i < 1000; ++i)
        ini.WriteInteger("S" + std::to_string(i), "v", i);
    for (int i = 0; i < 1000; i += 3)
        ini.EraseSection("s" + std::to_string(i));
    ini.WriteInteger("S0", "v", 0); // comes back at the end
    Names expected;
    for (int i = 1; i < 1000; ++i)
        if (i % 3 != 0)
            expected.push_back("S" + std::to_string(i));
    expected.push_back("S0");
    EXPECT_EQ(ini.ReadSections(), expected);
    for (int i = 1; i < 1000; ++i)
        ASSERT_EQ(ini.ReadInteger("S" + std::to_string(i), "v", -1), i % 3 ? i : -1) << i;

    // A group with many members: keys found by index survive deletions.
    for (int i = 0; i < 100; ++i)
        ini.WriteString("Group", "Contact" + std::to_string(i), "m" + std::to_string(i));
    for (int i = 0; i < 100; i += 2)
        ini.DeleteKey("Group", "CONTACT" + std::to_string(i));
    ini.WriteString("Group", "contact99", "replaced");
    TIniFile back = Reloaded(ini);
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(back.ReadString("Group", "Contact" + std::to_string(i), "-"), i % 2 ? "m" + std::to_string(i) : "-");
    EXPECT_EQ(back.ReadString("Group", "Contact99", ""), "replaced");

    ini.Clear();
    EXPECT_EQ(ini.SaveToText(), "");
}

TEST(IniFileLimits, NoSizeLimitsAndJunkNeverBreaksTheReader)
{
    TIniFile ini;
    std::string big(100000, 'x');
    big[50000] = 'y';
    ini.WriteString("S", "big", big);
    for (int i = 0; i < 5000; ++i)
        ini.WriteString("Contact:TContact:" + std::to_string(i), "Name", std::to_string(i));
    TIniFile back = Reloaded(ini);
    EXPECT_EQ(back.ReadString("S", "big", ""), big);
    EXPECT_EQ(back.ReadSections().size(), 5001u);

    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::string junk(rng() % 4000, '\0');
        static const char special[] = "[]=;\"' \t\r\n";
        for (char& c : junk)
            c = rng() % 3 ? static_cast<char>(rng()) : special[rng() % (sizeof special - 1)];
        TIniFile parsed = Parse(junk);
        ASSERT_EQ(Reloaded(parsed).SaveToText(), parsed.SaveToText()) << round;
    }
}

const char* gFailStage = nullptr;
void FailAtStage(const char* stage)
{
    if (gFailStage && std::string(stage) == gFailStage)
        throw TError("disk failure");
}

TEST(IniFileDisk, LoadSaveMissingFileFolderAndFailedSaves)
{
    TTempDir dir;
    TIniFile ini(dir.file("f.ini"));
    EXPECT_FALSE(FileExists(dir.file("f.ini"))); // loading a missing file does not create it
    ini.WriteString(U("Раздел"), "k", U("значение"));
    ini.Save(0600);
    const std::string old = U("[Раздел]\r\nk=значение\r\n");
    EXPECT_EQ(dir.read("f.ini"), old);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("f.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    TIniFile again(dir.file("f.ini"));
    again.WriteString("New", "k", "2");
    SetSaveFaultHook(FailAtStage);
    for (const char* stage : {"open", "write", "flush", "rename"}) {
        gFailStage = stage;
        EXPECT_THROW(again.Save(), TError) << stage;
        EXPECT_EQ(dir.read("f.ini"), old) << stage;
    }
    SetSaveFaultHook(nullptr);

    ASSERT_EQ(::mkdir(dir.file("folder.ini").c_str(), 0755), 0);
    try {
        TIniFile folder(dir.file("folder.ini"));
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find(U("Не удалось прочитать файл")), std::string::npos);
        EXPECT_NE(e.message().find("folder.ini"), std::string::npos);
    }
}

} // namespace
