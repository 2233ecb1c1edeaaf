#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Translit.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace {

// Every test starts and ends with the default process table.
class TranslitTableTest : public ::testing::Test {
protected:
    void SetUp() override { ResetTranslitTable(); }
    void TearDown() override
    {
        SetSaveFaultHook(nullptr);
        ResetTranslitTable();
    }
    TScopedDataDir Data;
};

std::string Byte(int code) { return std::string(1, static_cast<char>(code)); }

} // namespace

TEST_F(TranslitTableTest, DefaultsConvertRussianAndFourPunctuationMarks)
{
    EXPECT_EQ(Translit(U("абвгдеёжзийклмнопрстуфхцчшщъыьэюя")),
              "abvgdejozhzijjklmnoprstufkhcchshshh\"y'ehjuja");
    EXPECT_EQ(Translit(U("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ")),
              "ABVGDEJOZHZIJJKLMNOPRSTUFKHCCHSHSHH\"Y'EHJUJA");
    EXPECT_EQ(Translit(U("Щука-рыба")), "SHHuka ryba");
    EXPECT_EQ(Translit(U("ёлка")), "jolka");
    EXPECT_EQ(Translit(U("ЁЛКА")), "JOLKA");
    EXPECT_EQ(Translit(U("съел")), "s\"el");
    EXPECT_EQ(Translit(U("SMS-шлюз")), "SMS shljuz");
    EXPECT_EQ(Translit("`\x93q\x94"), "'\"q\"");
    // Ukrainian and Belarusian letters, digits and Latin map to themselves.
    EXPECT_EQ(Translit(U("іїєґў ІЇЄҐЎ 09 azAZ")), U("іїєґў ІЇЄҐЎ 09 azAZ"));
    EXPECT_EQ(Translit(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST_F(TranslitTableTest, DefaultsChangeExactlySeventyBytes)
{
    const TTranslitTable& table = TranslitTable();
    int changed = 0;
    for (int i = 0; i < 256; ++i)
        if (table[i] != Byte(i))
            ++changed;
    EXPECT_EQ(changed, 66 + 4);
    EXPECT_EQ(TranslitChar('-'), " ");
    EXPECT_EQ(TranslitChar(0xD9), "SHH");
}

TEST_F(TranslitTableTest, ConversionUsesTheGivenTable)
{
    TTranslitTable table = DefaultTranslitTable();
    table['x'] = "";
    table[0xE6] = "[zh]";
    EXPECT_EQ(Translit(table, U("xжx")), "[zh]");
    // The process table is untouched.
    EXPECT_EQ(Translit(U("xжx")), "xzhx");
    TranslitTable()['a'] = "4";
    EXPECT_EQ(Translit("abc"), "4bc");
    ResetTranslitTable();
    EXPECT_EQ(Translit("abc"), "abc");
}

TEST_F(TranslitTableTest, LineRules)
{
    const std::string zh = U("ж");
    struct TCase {
        const char* what;
        std::string file;
        std::string expected; // entry of ж afterwards
    } cases[] = {
        {"key alone keeps the entry", zh + "\r\n", "zh"},
        {"key and blanks keep the entry", zh + " \t \r\n", "zh"},
        {"rest after the run is ignored", zh + "  zz yy\r\n", "zz"},
        {"no separator at all", zh + "Z\r\n", "Z"},
        {"leading blanks before the key", " \t" + zh + "\tq\r\n", "q"},
        {"later lines win", zh + "\ta\r\n" + zh + "\tb\r\n", "b"},
        {"no final line break", zh + "\tlast", "last"},
        {"lone LF ends a line", zh + "\ta\n" + zh + "\tb", "b"},
        {"lone CR ends a line", zh + "\ta\r" + zh + "\tc\r", "c"},
        {"blank and empty lines are ignored", "\r\n   \r\n\t\r\n" + zh + "\tw", "w"},
    };
    for (const auto& c : cases) {
        TTranslitTable table = DefaultTranslitTable();
        ParseTranslitText(table, c.file);
        EXPECT_EQ(table[0xE6], c.expected) << c.what;
        // Nothing else is touched.
        TTranslitTable defaults = DefaultTranslitTable();
        for (int i = 0; i < 256; ++i) {
            if (i != 0xE6) {
                EXPECT_EQ(table[i], defaults[i]) << c.what << " byte " << i;
            }
        }
    }
}

TEST_F(TranslitTableTest, BinaryBytesNulAndLongLines)
{
    TTranslitTable table = DefaultTranslitTable();
    std::string longText(1 << 20, 'q');
    std::string file = std::string("\0\tnul\r\n", 7) + "\xFF" + "\t" + longText + "\r\n" + std::string("k\t\x01\x02\x80\x00z x\r\n", 11);
    file.push_back('\0'); // a last line made of a NUL key alone
    ParseTranslitText(table, file);
    EXPECT_EQ(table[0], "nul");
    EXPECT_EQ(table[0xFF], longText);
    EXPECT_EQ(table['k'], std::string("\x01\x02\x80\x00z", 5));
}

TEST_F(TranslitTableTest, RandomJunkFollowsTheLineRules)
{
    // A slow, literal reading of the rules as the reference.
    auto reference = [](const std::string& file) {
        TTranslitTable table = DefaultTranslitTable();
        std::vector<std::string> lines;
        std::string line;
        for (size_t i = 0; i < file.size(); ++i) {
            char c = file[i];
            if (c == '\r' || c == '\n') {
                lines.push_back(line);
                line.clear();
                if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
                    ++i;
            } else {
                line += c;
            }
        }
        if (!line.empty())
            lines.push_back(line);
        for (const std::string& l : lines) {
            size_t i = l.find_first_not_of(" \t");
            if (i == std::string::npos)
                continue;
            unsigned char key = static_cast<unsigned char>(l[i]);
            size_t start = l.find_first_not_of(" \t", i + 1);
            if (start == std::string::npos)
                continue;
            size_t end = l.find_first_of(" \t", start);
            table[key] = l.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        return table;
    };
    std::mt19937 rng(12345);
    const std::string alphabet = std::string(" \t\r\n\0ab", 8) + U("жЖ") + "\xFF\x98";
    for (int round = 0; round < 300; ++round) {
        std::string file;
        int length = static_cast<int>(rng() % 200);
        for (int i = 0; i < length; ++i)
            file += (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        TTranslitTable table = DefaultTranslitTable();
        ParseTranslitText(table, file);
        ASSERT_EQ(table, reference(file)) << "round " << round;
    }
}

TEST_F(TranslitTableTest, SavedFileHoldsChangedEntriesInByteOrder)
{
    SaveTranslitTable("SmsTranslit.txt");
    std::string saved = Data.dir().read("SmsTranslit.txt");
    // The hyphen's single space trims to nothing: the key and the tab alone.
    std::string expected = "-\t\r\n`\t'\r\n\x93\t\"\r\n\x94\t\"\r\n" + U("Ё") + "\tJO\r\n" + U("ё") + "\tjo\r\n" + U("А") +
                           "\tA\r\n";
    EXPECT_EQ(saved.substr(0, expected.size()), expected);
    EXPECT_EQ(saved.substr(saved.size() - 6), U("я") + "\tja\r\n");
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 70);
}

TEST_F(TranslitTableTest, SaveAndLoadRoundTrip)
{
    SaveTranslitTable("SmsTranslit.txt");
    TranslitTable()['a'] = "changed";
    LoadTranslitTable("SmsTranslit.txt");
    EXPECT_EQ(TranslitTable(), DefaultTranslitTable());

    // A table of arbitrary non-blank entries survives a save and a load.
    std::mt19937 rng(7);
    TTranslitTable& table = TranslitTable();
    for (int i = 0; i < 256; ++i) {
        if (i == ' ' || i == '\t' || i == '\r' || i == '\n' || rng() % 3 == 0)
            continue;
        std::string text;
        int length = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < length; ++k)
            text += static_cast<char>(33 + rng() % 223);
        table[i] = text;
    }
    TTranslitTable before = table;
    SaveTranslitTable("SmsTranslit.txt");
    LoadTranslitTable("SmsTranslit.txt");
    EXPECT_EQ(TranslitTable(), before);
}

TEST_F(TranslitTableTest, LetterMappedToItselfSurvivesSaveAndLoad)
{
    // The user keeps "ж" as it is: the saved file must say so, or loading
    // would bring back the default "zh".
    TranslitTable()[static_cast<unsigned char>(U("ж")[0])] = U("ж");
    SaveTranslitTable("SmsTranslit.txt");
    std::string saved = Data.dir().read("SmsTranslit.txt");
    EXPECT_NE(saved.find(U("ж") + "\t" + U("ж") + "\r\n"), std::string::npos);
    LoadTranslitTable("SmsTranslit.txt");
    EXPECT_EQ(TranslitChar(static_cast<unsigned char>(U("ж")[0])), U("ж"));
    EXPECT_EQ(TranslitChar(static_cast<unsigned char>(U("з")[0])), "z");
}

TEST_F(TranslitTableTest, EntriesTheFormatCannotCarryDoNotCorruptOthers)
{
    TTranslitTable& table = TranslitTable();
    table[' '] = "ab";
    table['\t'] = "cd";
    table['\n'] = "ef";
    table['\r'] = "gh";
    table['x'] = "one\r\nyz"; // a line end inside the text
    table['y'] = " padded\t";
    SaveTranslitTable("SmsTranslit.txt");
    LoadTranslitTable("SmsTranslit.txt");
    TTranslitTable expected = DefaultTranslitTable();
    expected['x'] = "one";
    expected['y'] = "padded";
    EXPECT_EQ(TranslitTable(), expected);
}

TEST_F(TranslitTableTest, LoadResetsFirstAndMissingFileIsNotCreated)
{
    TranslitTable()[0xE6] = "XX";
    LoadTranslitTable("SmsTranslit.txt");
    EXPECT_EQ(TranslitTable(), DefaultTranslitTable());
    EXPECT_FALSE(FileExists(Data.dir().file("SmsTranslit.txt")));

    Data.dir().write("empty.txt", "");
    TranslitTable()[0xE6] = "XX";
    LoadTranslitTable("empty.txt");
    EXPECT_EQ(TranslitTable(), DefaultTranslitTable());
}

TEST_F(TranslitTableTest, FileNamesResolveInTheDataFolder)
{
    Data.dir().write("t.txt", "a\tA\r\n");
    LoadTranslitTable("t.txt");
    EXPECT_EQ(TranslitChar('a'), "A");

    TTempDir other;
    other.write("u.txt", "b\tB");
    LoadTranslitTable(other.file("u.txt"));
    EXPECT_EQ(TranslitChar('a'), "a");
    EXPECT_EQ(TranslitChar('b'), "B");
}

TEST_F(TranslitTableTest, ReadAndWriteFailuresRaise)
{
    std::filesystem::create_directory(Data.dir().file("dir.txt"));
    TranslitTable()['a'] = "X";
    EXPECT_THROW(LoadTranslitTable("dir.txt"), TError);
    EXPECT_EQ(TranslitTable(), DefaultTranslitTable());

    Data.dir().write("SmsTranslit.txt", "old");
    SetSaveFaultHook([](const char* stage) {
        if (std::string(stage) == "write")
            throw TError("disk full");
    });
    EXPECT_THROW(SaveTranslitTable("SmsTranslit.txt"), TError);
    SetSaveFaultHook(nullptr);
    EXPECT_EQ(Data.dir().read("SmsTranslit.txt"), "old");
}
