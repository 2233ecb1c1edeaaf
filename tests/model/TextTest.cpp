#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/TextLines.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

TEST(Text, TrimRemovesEveryCodeUpTo32)
{
    EXPECT_EQ(Trim(std::string("\t\r\n \x01" "abc d\x1f \x20", 12)), "abc d");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(U(" Ёж ")), U("Ёж"));
    // Byte 160 (no-break space) is above 32 and stays.
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");
}

TEST(Text, CaseFoldingCoversEveryCyrillicLetterAndLatin)
{
    EXPECT_EQ(UpperCase(U("абвгдеёжзийклмнопрстуфхцчшщъыьэюя")), U("АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"));
    EXPECT_EQ(UpperCase(U("іїєґў")), U("ІЇЄҐЎ"));
    EXPECT_EQ(UpperCase("abc-XYZ 09"), "ABC-XYZ 09");
    EXPECT_TRUE(SameText(U("Ёлка Іван"), U("ёЛКА іВАН")));
    EXPECT_FALSE(SameText(U("елка"), U("ёлка")));
    EXPECT_FALSE(SameText("abc", "abcd"));
    // Upper-casing leaves non-letters alone, such as the unassigned byte 152.
    EXPECT_EQ(UpperCase("\x98\xB9"), "\x98\xB9");
    EXPECT_EQ(UpperCase(U("ђѓљњќћџјѕ")), U("ЂЃЉЊЌЋЏЈЅ"));
    EXPECT_TRUE(SameText(U("Љиљана"), U("љИЉАНА")));
    // Every small Cyrillic letter of the code page has its capital: U+0430..U+044F
    // are 0x20 above theirs, U+0450..U+045F 0x50 above, U+0491 one above.
    for (int b = 128; b < 256; ++b) {
        const char32_t cp = Cp1251CodePoint(static_cast<unsigned char>(b));
        char32_t capital = cp;
        if (cp >= 0x430 && cp <= 0x44F)
            capital = cp - 0x20;
        else if (cp >= 0x450 && cp <= 0x45F)
            capital = cp - 0x50;
        else if (cp == 0x491)
            capital = 0x490;
        EXPECT_EQ(Cp1251CodePoint(UpperCaseChar(static_cast<unsigned char>(b))), capital) << "byte " << b;
    }
}

// The word-at-a-time scans: a break at any place of any length is seen,
// bytes next to CR and LF in value are not; texts equal but for letter case
// hash alike, texts of other lengths (even of zero bytes) do not.
TEST(Text, WordAtATimeScansAgreeWithACharacterScan)
{
    const std::string near = std::string("\x09\x0B\x0C\x0E\x8A\x8D\xFF\x00 a", 10);
    std::mt19937 rng(5);
    for (size_t length = 0; length <= 24; ++length) {
        for (int round = 0; round < 40; ++round) {
            std::string text;
            for (size_t i = 0; i < length; ++i)
                text += near[rng() % near.size()];
            if (round % 2 && length > 0)
                text[rng() % length] = round % 4 == 1 ? '\r' : '\n';
            const bool expected = text.find('\r') != std::string::npos || text.find('\n') != std::string::npos;
            ASSERT_EQ(HasLineBreak(text), expected) << length << " " << round;
        }
    }
    const std::string letters = U("абвгдеёжзийклмнопрстуфхцчшщъыьэюяabcxyz 0");
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (size_t i = 0, n = rng() % 30; i < n; ++i)
            text += letters[rng() % letters.size()];
        ASSERT_EQ(CaseFoldHash(text), CaseFoldHash(UpperCase(text))) << round;
    }
    EXPECT_NE(CaseFoldHash(""), CaseFoldHash(std::string(1, '\0')));
    EXPECT_NE(CaseFoldHash(std::string(8, '\0')), CaseFoldHash(std::string(9, '\0')));
}

TEST(Text, UnicodeBoundaryConversion)
{
    std::string all;
    for (int i = 1; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    std::string back = Utf8ToCp1251(Cp1251ToUtf8(all));
    all[151] = '?'; // byte 152 decodes to U+FFFD, which has no CP1251 form
    EXPECT_EQ(back, all);
    EXPECT_EQ(Cp1251ToUtf16("\x98")[0], u'\xFFFD');
    EXPECT_EQ(Cp1251ToUtf8(U("Привет")), "Привет");
    EXPECT_EQ(Utf16ToCp1251(u"日本 ok"), "?? ok");
    EXPECT_EQ(Utf8ToCp1251("a\xF0\x9F\x98\x80" "b"), "a?b"); // an emoji has no CP1251 form
    EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");                    // a cut sequence
}

TEST(Text, ControlCharsToSpacesKeepsLength)
{
    EXPECT_EQ(ControlCharsToSpaces(std::string("a\rb\nc\0d", 7)), "a b c d");
}

TEST(Text, SystemErrorForm)
{
    EXPECT_EQ(SystemError("bad").message(), U("Системная ошибка:") + "\r\r\"bad\".");
}

TEST(DataPaths, ResolveKeepsOnlyFolderPartsLongerThanOneCharacter)
{
    TScopedDataDir data;
    const std::string d = data.dir().path();
    EXPECT_EQ(ResolveDataFilePath("Sms.ini"), d + "/Sms.ini");
    EXPECT_EQ(ResolveDataFilePath("/Sms.ini"), d + "/Sms.ini");
    EXPECT_EQ(ResolveDataFilePath("/etc/velo/Sms.ini"), "/etc/velo/Sms.ini");
    EXPECT_EQ(ResolveDataFilePath("sub/Sms.ini"), d + "/sub/Sms.ini");
    EXPECT_EQ(ResolveDataFilePath("../Sms.ini"), std::filesystem::path(d).parent_path().string() + "/Sms.ini");
    // Names are the program's text (CP1251, as the options hold them); paths
    // are the file system's (UTF-8).
    EXPECT_EQ(ResolveDataFilePath(U("Документы/Книга.ini")), d + "/Документы/Книга.ini");
    EXPECT_EQ(ResolveDataFilePath(U("/home/Иван/Sms.ini")), "/home/Иван/Sms.ini");
}

TEST(DataPaths, AFolderNamedInCyrillicIsTheOneOnDiskAndErrorsNameItReadably)
{
    TScopedDataDir data;
    std::filesystem::create_directory(data.dir().file("Документы"));
    SaveFileSafely(ResolveDataFilePath(U("Документы/Книга.ini")), "x");
    EXPECT_EQ(data.dir().read("Документы/Книга.ini"), "x");
    const std::string error = ErrorOf([] { SaveFileSafely(ResolveDataFilePath(U("Нет такой/Книга.ini")), "x"); });
    EXPECT_NE(error.find(U("Нет такой/Книга.ini\"")), std::string::npos) << error;
}

namespace {
void FailAtRename(const char* stage)
{
    if (std::string(stage) == "rename")
        throw TError("disk full");
}
void FailAtWrite(const char* stage)
{
    if (std::string(stage) == "write")
        throw TError("disk full");
}
} // namespace

TEST(SafeFile, FailedSaveKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    TTempDir dir;
    SaveFileSafely(dir.file("a.txt"), "old\r\n");
    for (auto hook : {&FailAtWrite, &FailAtRename}) {
        SetSaveFaultHook(hook);
        EXPECT_THROW(SaveFileSafely(dir.file("a.txt"), "new"), TError);
        SetSaveFaultHook(nullptr);
        EXPECT_EQ(dir.read("a.txt"), "old\r\n");
        // No temporary is left; a backup made before the failing rename
        // holds the file as it still is.
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            EXPECT_TRUE(entry.path().filename() == "a.txt" || entry.path().filename() == "a.txt.bak") << entry.path();
        if (std::filesystem::exists(dir.file("a.txt.bak"))) {
            EXPECT_EQ(dir.read("a.txt.bak"), "old\r\n");
        }
    }
    SaveFileSafely(dir.file("a.txt"), "new", 0600);
    EXPECT_EQ(dir.read("a.txt"), "new");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SafeFile, ErrorsNameTheFile)
{
    TTempDir dir;
    try {
        ReadWholeFile(dir.path());
        FAIL() << "reading a folder must fail";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find(dir.path()), std::string::npos);
    }
    EXPECT_THROW(SaveFileSafely(dir.file("missing/x.txt"), "x"), TError);
    EXPECT_THROW(ReadWholeFile(dir.file("none")), TError);
}

TEST(SafeFile, AFileWithoutWritePermissionIsNeverReplaced)
{
    TTempDir dir;
    SaveFileSafely(dir.file("a.txt"), "old");
    chmod(dir.file("a.txt").c_str(), 0444);
    const std::string error = ErrorOf([&] { SaveFileSafely(dir.file("a.txt"), "new", 0600); });
    EXPECT_NE(error.find(U("Не удалось сохранить файл")), std::string::npos) << error;
    EXPECT_NE(error.find(dir.file("a.txt")), std::string::npos);
    EXPECT_EQ(dir.read("a.txt"), "old");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SafeFile, ANonRegularFileIsRefusedWithoutWaitingOnIt)
{
    TTempDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    for (const std::string& path : {dir.file("pipe"), dir.path()}) {
        const std::string error = ErrorOf([&] { ReadWholeFile(path); });
        EXPECT_NE(error.find(U("Не удалось прочитать файл")), std::string::npos) << error;
        EXPECT_NE(error.find(NotRegularFileText()), std::string::npos) << error;
    }
}

TEST(SafeFile, ASaveRemovesOnlyItsOwnStaleTemporaries)
{
    TTempDir dir;
    dir.write("a.txt.tmp-Ab1234", "killed save");
    dir.write("a.txt.tmp-zz9XYZ", "killed save");
    const std::vector<std::string> kept = {"a.txt.tmp-short", "a.txt.tmp-Ab12345", "b.txt.tmp-Ab1234",
                                           "a.txt.tmp-Ab_234", "xa.txt.tmp-Ab1234"};
    for (const std::string& name : kept)
        dir.write(name, "not ours");
    std::filesystem::create_directory(dir.file("a.txt.tmp-Dir123"));
    SaveFileSafely(dir.file("a.txt"), "new");
    EXPECT_EQ(dir.read("a.txt"), "new");
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.txt.tmp-Ab1234")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.txt.tmp-zz9XYZ")));
    for (const std::string& name : kept)
        EXPECT_EQ(dir.read(name), "not ours") << name;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("a.txt.tmp-Dir123")));
    // So are the temporary links of a backup that a killed save left.
    dir.write("a.txt.bak.tmp-Qw1234", "killed backup");
    SaveFileSafely(dir.file("a.txt"), "newer");
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.txt.bak.tmp-Qw1234")));
    EXPECT_EQ(dir.read("a.txt.bak"), "new");
}

TEST(SafeFile, ASymbolicLinkStaysALinkAndItsTargetGetsTheContent)
{
    TTempDir dir;
    std::filesystem::create_directory(dir.file("synced"));
    dir.write("synced/book.ini", "old");
    // A chain: a relative link to a link to the file.
    std::filesystem::create_symlink(dir.file("synced/book.ini"), dir.file("synced/alias.ini"));
    std::filesystem::create_symlink("synced/alias.ini", dir.file("book.ini"));
    chmod(dir.file("synced/book.ini").c_str(), 0640);
    SaveFileSafely(dir.file("book.ini"), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("book.ini")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("synced/alias.ini")));
    EXPECT_EQ(dir.read("synced/book.ini"), "new");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("synced/book.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
    // The backup lies beside the file that was replaced.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("synced")), {}), 3);
    EXPECT_EQ(dir.read("synced/book.ini.bak"), "old");
    // A link to nothing yet: the save creates its target.
    std::filesystem::create_symlink("synced/later.ini", dir.file("later.ini"));
    SaveFileSafely(dir.file("later.ini"), "first");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("later.ini")));
    EXPECT_EQ(dir.read("synced/later.ini"), "first");
}
