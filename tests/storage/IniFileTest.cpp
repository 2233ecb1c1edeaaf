#include "storage/IniFile.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <sys/stat.h>

namespace {

TIniFile Parse(std::string_view text)
{
    TIniFile ini;
    ini.LoadFromText(text);
    return ini;
}

// The state after writing it to bytes and reading them back.
TIniFile Reloaded(const TIniFile& ini) { return Parse(ini.SaveToText()); }

TEST(IniFileRead, LineEndsOfEveryKindAndBlanksAroundLines)
{
    TIniFile ini = Parse("[A]\r\nk1=1\nk2=2\rk3=3\r\n\r\n  [B]  \n\tk4 = four \r\n[C]\n\n\nk5=5");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"k1", "k2", "k3"}));
    EXPECT_EQ(ini.ReadString("A", "k3", "?"), "3");
    EXPECT_EQ(ini.ReadString("B", "k4", "?"), "four");
    EXPECT_EQ(ini.ReadString("C", "k5", "?"), "5");
}

TEST(IniFileRead, NamesMatchWithoutRegardToCaseCyrillicIncluded)
{
    TIniFile ini = Parse(U("[Группа:Друзья]\r\nИмя=Ёжик\r\n[proxy]\r\nProxyPort=8080\r\n"));
    EXPECT_EQ(ini.ReadString(U("ГРУППА:друзья"), U("имЯ"), ""), U("Ёжик"));
    EXPECT_EQ(ini.ReadInteger("PROXY", "proxyport", 0), 8080);
    EXPECT_TRUE(ini.SectionExists(" Proxy "));
    EXPECT_TRUE(ini.ValueExists("Proxy", " PROXYPORT"));
    EXPECT_FALSE(ini.ValueExists("Proxy", "ProxyServer"));
    EXPECT_EQ(ini.ReadString("Missing", "k", "def"), "def");
    EXPECT_EQ(ini.ReadString("Proxy", "Missing", "def"), "def");
}

TEST(IniFileRead, ValuesLoseBlanksThenOnePairOfEnclosingQuotes)
{
    TIniFile ini = Parse("[S]\r\n"
                         "a=  plain value \t\r\n"
                         "b=\"double\"\r\n"
                         "c='single'\r\n"
                         "d=\"\"twice\"\"\r\n"
                         "e=\"mixed'\r\n"
                         "f=\"\r\n"
                         "g= \" inside \" \r\n"
                         "h=\r\n"
                         "i=a=b=c\r\n"
                         "j=''\r\n");
    EXPECT_EQ(ini.ReadString("S", "a", "?"), "plain value");
    EXPECT_EQ(ini.ReadString("S", "b", "?"), "double");
    EXPECT_EQ(ini.ReadString("S", "c", "?"), "single");
    EXPECT_EQ(ini.ReadString("S", "d", "?"), "\"twice\"");
    EXPECT_EQ(ini.ReadString("S", "e", "?"), "\"mixed'");
    EXPECT_EQ(ini.ReadString("S", "f", "?"), "\"");
    EXPECT_EQ(ini.ReadString("S", "g", "?"), " inside ");
    EXPECT_EQ(ini.ReadString("S", "h", "?"), "");
    EXPECT_EQ(ini.ReadString("S", "i", "?"), "a=b=c");
    EXPECT_EQ(ini.ReadString("S", "j", "?"), "");
}

TEST(IniFileRead, IntegersAndBooleans)
{
    TIniFile ini = Parse("[N]\r\ndec=-42\r\nplus=+7\r\nhex=0x1F90\r\nhex2=0XfF\r\nbare0x=0x\r\n"
                         "badhex=0x1G\r\nall=0xFFFFFFFF\r\nwide=0x100000000\r\nbig=2147483648\r\n"
                         "word=abc\r\nspaced=1 2\r\nquoted=\"12\"\r\nyes=yes\r\ntwo=2\r\nzero=0\r\nneg=-1\r\n");
    EXPECT_EQ(ini.ReadInteger("N", "dec", 0), -42);
    EXPECT_EQ(ini.ReadInteger("N", "plus", 0), 7);
    EXPECT_EQ(ini.ReadInteger("N", "hex", 0), 8080);
    EXPECT_EQ(ini.ReadInteger("N", "hex2", 0), 255);
    EXPECT_EQ(ini.ReadInteger("N", "bare0x", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "badhex", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "all", 5), -1);
    EXPECT_EQ(ini.ReadInteger("N", "wide", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "big", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "word", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "spaced", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "quoted", 5), 12);
    EXPECT_EQ(ini.ReadInteger("N", "missing", 5), 5);

    EXPECT_TRUE(ini.ReadBool("N", "yes", true));
    EXPECT_FALSE(ini.ReadBool("N", "yes", false));
    EXPECT_TRUE(ini.ReadBool("N", "two", false));
    EXPECT_TRUE(ini.ReadBool("N", "neg", false));
    EXPECT_TRUE(ini.ReadBool("N", "hex", false));
    EXPECT_FALSE(ini.ReadBool("N", "zero", true));
    EXPECT_TRUE(ini.ReadBool("N", "missing", true));
}

TEST(IniFileRead, DuplicatesCommentsAndStrayLines)
{
    TIniFile ini = Parse("orphan=1\r\n"
                         "[A]\r\nk=first\r\nK=second\r\n; comment=1\r\nno equals sign\r\n=no key\r\n"
                         "[B]\r\nx=1\r\n"
                         "[a]\r\nmore=2\r\n"
                         "[broken\r\nlost=1\r\n"
                         "[C]\r\nc=3\r\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"k", "more"}));
    EXPECT_EQ(ini.ReadString("A", "k", ""), "first");
    EXPECT_FALSE(ini.ValueExists("A", "; comment"));
    EXPECT_FALSE(ini.ValueExists("B", "lost"));
    EXPECT_EQ(ini.ReadString("C", "c", ""), "3");
}

TEST(IniFileRead, SectionNameRunsToTheLastClosingBracket)
{
    TIniFile ini = Parse("[Contact:TContact:a]b]\r\nName=a]b\r\n[ [x] ]\r\nk=1\r\n[]\r\ne=1\r\n");
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"Contact:TContact:a]b", "[x]", ""}));
    EXPECT_EQ(ini.ReadString("", "e", ""), "1");
}

TEST(IniFileWrite, ExactLayoutAndOrder)
{
    TIniFile ini;
    ini.WriteString("Proxy", "ProxyServer", "host");
    ini.WriteInteger("Proxy", "ProxyPort", 8080);
    ini.WriteBool("SMS", "HistoryFlag", true);
    ini.WriteBool("SMS", "TranslitFlag", false);
    ini.WriteInteger("SMS", "MaxTryCount", -3);
    ini.WriteString("proxy", "PROXYSERVER", U("хост")); // replaces in place, keeps the first spelling
    ini.WriteString("Empty", "Value", "");
    EXPECT_EQ(ini.SaveToText(), "[Proxy]\r\nProxyServer=" + U("хост") +
                                    "\r\nProxyPort=8080\r\n"
                                    "[SMS]\r\nHistoryFlag=1\r\nTranslitFlag=0\r\nMaxTryCount=-3\r\n"
                                    "[Empty]\r\nValue=\r\n");
    EXPECT_EQ(TIniFile().SaveToText(), "");
}

TEST(IniFileWrite, AwkwardValuesComeBackUnchanged)
{
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        if (c != '\r' && c != '\n')
            allBytes += static_cast<char>(c);
    const std::vector<std::string> values = {
        " leading", "trailing ", "\tboth\t", "\"quoted\"", "'single'", "\"", "'", "\"half", "half'",
        "\"x'", "=starts with equals", "[looks like a section]", "; looks like a comment",
        std::string("nul\0inside", 10), std::string("\0", 1), "  ", "\"\"", allBytes, U("Привет, мир")};
    TIniFile ini;
    for (size_t i = 0; i < values.size(); ++i)
        ini.WriteString("S", "k" + std::to_string(i), values[i]);
    ini.WriteString("S", "after", "intact");
    TIniFile back = Reloaded(ini);
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(ini.ReadString("S", "k" + std::to_string(i), "?"), values[i]) << i;
        EXPECT_EQ(back.ReadString("S", "k" + std::to_string(i), "?"), values[i]) << i;
    }
    EXPECT_EQ(back.ReadString("S", "after", "?"), "intact");
    EXPECT_EQ(back.SaveToText(), ini.SaveToText());
    // Values that need no protection stay plain in the file.
    EXPECT_NE(ini.SaveToText().find("k0=\" leading\"\r\n"), std::string::npos);
    EXPECT_NE(ini.SaveToText().find("k3=\"\"quoted\"\"\r\n"), std::string::npos);
    EXPECT_NE(ini.SaveToText().find("k7=\"half\r\n"), std::string::npos);
}

TEST(IniFileWrite, LineBreaksBecomeBlanksAndNeverSpillIntoTheFile)
{
    TIniFile ini;
    ini.WriteString("S", "v", "line 1\r\nline 2\rline 3\nline 4\n\r");
    ini.WriteString("S", "next", "kept");
    ini.WriteString("Two\r\nLines", "k", "1");
    ini.WriteString("Last", "k", "2");
    const std::string expectedValue = "line 1 line 2 line 3 line 4  ";
    EXPECT_EQ(ini.ReadString("S", "v", ""), expectedValue);
    EXPECT_EQ(ini.ReadString("Two Lines", "k", ""), "1");
    EXPECT_EQ(ini.ReadString("Two\nLines", "k", ""), "1");

    TIniFile back = Reloaded(ini);
    EXPECT_EQ(back.ReadSections(), (std::vector<std::string>{"S", "Two Lines", "Last"}));
    EXPECT_EQ(back.ReadSection("S"), (std::vector<std::string>{"v", "next"}));
    EXPECT_EQ(back.ReadString("S", "v", ""), expectedValue);
    EXPECT_EQ(back.ReadString("S", "next", ""), "kept");
    EXPECT_EQ(back.ReadString("Last", "k", ""), "2");
}

TEST(IniFileWrite, KeysTheFormatCannotCarryAreRefused)
{
    TIniFile ini;
    for (std::string bad : {"", "  ", "a=b", "a\r\nb", "a\nb", "[x", ";x"})
        EXPECT_THROW(ini.WriteString("S", bad, "v"), TError) << bad;
    EXPECT_FALSE(ini.SectionExists("S"));
    ini.WriteString("S", " spaced key ", "v");
    EXPECT_EQ(ini.ReadSection("S"), (std::vector<std::string>{"spaced key"}));
    EXPECT_EQ(Reloaded(ini).ReadString("S", "spaced key", ""), "v");
}

TEST(IniFileEdit, EraseDeleteAndClear)
{
    TIniFile ini = Parse("[A]\r\na=1\r\nb=2\r\n[B]\r\nc=3\r\n[C]\r\nd=4\r\n");
    ini.EraseSection("b");
    ini.EraseSection("missing");
    EXPECT_FALSE(ini.SectionExists("B"));
    EXPECT_EQ(ini.ReadString("B", "c", "gone"), "gone");
    ini.WriteString("B", "c", "new"); // comes back at the end
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "C", "B"}));
    ini.DeleteKey("A", "A");
    ini.DeleteKey("A", "missing");
    EXPECT_EQ(ini.SaveToText(), "[A]\r\nb=2\r\n[C]\r\nd=4\r\n[B]\r\nc=new\r\n");
    ini.Clear();
    EXPECT_TRUE(ini.ReadSections().empty());
    EXPECT_EQ(ini.SaveToText(), "");
}

TEST(IniFileEdit, ManySectionsAndKeysKeepOrderAndLookupsThroughErasures)
{
    TIniFile ini;
    for (int i = 0; i < 1000; ++i)
        ini.WriteInteger("S" + std::to_string(i), "v", i);
    for (int i = 0; i < 1000; i += 3)
        ini.EraseSection("s" + std::to_string(i));
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i)
        if (i % 3 != 0)
            expected.push_back("S" + std::to_string(i));
    EXPECT_EQ(ini.ReadSections(), expected);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ini.ReadInteger("S" + std::to_string(i), "v", -1), i % 3 ? i : -1) << i;

    // A group with many members: keys past the first few are found by index.
    for (int i = 0; i < 100; ++i)
        ini.WriteString("Group", "Contact" + std::to_string(i), "m" + std::to_string(i));
    for (int i = 0; i < 100; i += 2)
        ini.DeleteKey("Group", "CONTACT" + std::to_string(i));
    ini.WriteString("Group", "contact99", "replaced");
    TIniFile back = Reloaded(ini);
    for (int i = 0; i < 99; ++i)
        ASSERT_EQ(back.ReadString("Group", "Contact" + std::to_string(i), "-"), i % 2 ? "m" + std::to_string(i) : "-");
    EXPECT_EQ(back.ReadString("Group", "Contact99", ""), "replaced");
    EXPECT_EQ(back.ReadSection("Group").size(), 50u);
}

TEST(IniFileLimits, NoValueOrSectionListLimit)
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
    EXPECT_EQ(back.ReadSections().back(), "Contact:TContact:4999");
}

TEST(IniFileLimits, BinaryJunkNeverBreaksTheReader)
{
    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::string junk(static_cast<size_t>(rng() % 4000), '\0');
        for (char& c : junk) {
            // Lean towards the bytes that matter to the parser.
            static const char special[] = "[]=;\"' \t\r\n";
            c = rng() % 3 ? static_cast<char>(rng()) : special[rng() % (sizeof special - 1)];
        }
        TIniFile ini = Parse(junk);
        // Whatever was read is written so that it reads back the same.
        std::string saved = ini.SaveToText();
        ASSERT_EQ(Reloaded(ini).SaveToText(), saved) << round;
    }
}

TEST(IniFileDisk, LoadSaveAndMissingFile)
{
    TTempDir dir;
    TIniFile missing(dir.file("none.ini"));
    EXPECT_TRUE(missing.ReadSections().empty());
    EXPECT_FALSE(FileExists(dir.file("none.ini"))); // loading does not create it

    missing.WriteString(U("Раздел"), "k", U("значение"));
    missing.Save();
    EXPECT_EQ(dir.read("none.ini"), U("[Раздел]\r\nk=значение\r\n"));

    TIniFile again(dir.file("none.ini"));
    EXPECT_EQ(again.ReadString(U("раздел"), "K", ""), U("значение"));
    again.Save(0600);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("none.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.read("none.ini"), U("[Раздел]\r\nk=значение\r\n"));
}

TEST(IniFileDisk, AFolderInPlaceOfTheFileIsAClearError)
{
    TTempDir dir;
    ASSERT_EQ(::mkdir(dir.file("folder.ini").c_str(), 0755), 0);
    try {
        TIniFile ini(dir.file("folder.ini"));
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find(U("Не удалось прочитать файл")), std::string::npos);
        EXPECT_NE(e.message().find("folder.ini"), std::string::npos);
    }
    TIniFile ini;
    ini.SetFileName(dir.file("folder.ini"));
    ini.WriteString("S", "k", "v");
    EXPECT_THROW(ini.Save(), TError);
}

const char* gFailStage = nullptr;
void FailAtStage(const char* stage)
{
    if (gFailStage && std::string(stage) == gFailStage)
        throw TError("disk failure at " + std::string(stage));
}

TEST(IniFileDisk, AFailedSaveAtAnyStageKeepsTheOldFile)
{
    TTempDir dir;
    const std::string old = "[Old]\r\nk=1\r\n";
    dir.write("f.ini", old);
    TIniFile ini(dir.file("f.ini"));
    ini.WriteString("New", "k", "2");
    SetSaveFaultHook(FailAtStage);
    for (const char* stage : {"open", "write", "flush", "rename"}) {
        gFailStage = stage;
        EXPECT_THROW(ini.Save(), TError) << stage;
        EXPECT_EQ(dir.read("f.ini"), old) << stage;
    }
    gFailStage = nullptr;
    SetSaveFaultHook(nullptr);
    ini.Save();
    EXPECT_EQ(dir.read("f.ini"), old + "[New]\r\nk=2\r\n");
}

} // namespace
