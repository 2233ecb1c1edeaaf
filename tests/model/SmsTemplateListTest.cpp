#include "model/SmsTemplateList.h"

#include "model/Error.h"
#include "model/SafeFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Lines = std::vector<std::string>;

TEST(SmsTemplateList, MissingFileIsCreatedEmpty)
{
    TScopedDataDir data;
    TSmsTemplateList list("SmsTemplates.txt");
    EXPECT_FALSE(FileExists(data.dir().file("SmsTemplates.txt"))); // creation does not touch it
    list.Add("stale");
    list.LoadFromFile();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(FileExists(data.dir().file("SmsTemplates.txt")));
    EXPECT_EQ(data.dir().read("SmsTemplates.txt"), "");
}

TEST(SmsTemplateList, LinesEndAtAnyBreakAndTheFinalBreakAddsNothing)
{
    TScopedDataDir data;
    struct {
        std::string file;
        Lines templates;
    } cases[] = {
        {"one\r\ntwo", {"one", "two"}},
        {"one\r\n\r\ntwo\r\n", {"one", "", "two"}},
        {"a\nb\rc\r\nd\n", {"a", "b", "c", "d"}},
        {"\r\n", {""}},
        {"a\r\n\r\n", {"a", ""}},
        {"\n\r", {"", ""}},
        {U("Перезвони мне\r\nЯ на встрече\r\n"), {U("Перезвони мне"), U("Я на встрече")}},
    };
    for (const auto& c : cases) {
        data.dir().write("t.txt", c.file);
        TSmsTemplateList list("t.txt");
        list.LoadFromFile();
        EXPECT_EQ(list.Lines(), c.templates) << c.file;
        // Saving writes every line with CR LF; the result loads the same and is stable.
        list.SaveToFile();
        const std::string saved = data.dir().read("t.txt");
        std::string expected;
        for (const auto& t : c.templates)
            expected += t + "\r\n";
        EXPECT_EQ(saved, expected);
        list.LoadFromFile();
        EXPECT_EQ(list.Lines(), c.templates);
        list.SaveToFile();
        EXPECT_EQ(data.dir().read("t.txt"), saved);
    }
    // A NUL byte means the file is no text (UTF-16, binary): refused, and
    // the list keeps what it held.
    const std::string nul("nul\0byte\r\n", 10);
    data.dir().write("t.txt", nul);
    TSmsTemplateList list("t.txt");
    list.Add("kept");
    EXPECT_NE(ErrorOf([&] { list.LoadFromFile(); }).find(U("нулевые байты")), std::string::npos);
    EXPECT_EQ(list.Lines(), Lines {"kept"});
    EXPECT_EQ(data.dir().read("t.txt"), nul);
}

TEST(SmsTemplateList, FileNameFollowsTheLastNonEmptyName)
{
    TScopedDataDir data;
    TSmsTemplateList list("first.txt");
    list.Add("x");
    list.SaveToFile("");
    EXPECT_EQ(data.dir().read("first.txt"), "x\r\n");
    list.SaveToFile("second.txt");
    EXPECT_EQ(list.FileName, "second.txt");
    list.Add("y");
    list.SaveToFile();
    EXPECT_EQ(data.dir().read("second.txt"), "x\r\ny\r\n");
    EXPECT_EQ(data.dir().read("first.txt"), "x\r\n");
    list.LoadFromFile("first.txt");
    EXPECT_EQ(list.FileName, "first.txt");
    EXPECT_EQ(list.Lines(), Lines{"x"});
}

TEST(SmsTemplateList, EditingKeepsEveryTemplateOnOneLine)
{
    TScopedDataDir data;
    TSmsTemplateList list("t.txt");
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("two\r\nlines"), 1);
    list.Insert(0, "first\nsecond");
    list.Put(2, "x\ry");
    EXPECT_EQ(list.Lines(), (Lines{"first second", "a", "x y"}));
    list.Delete(1);
    EXPECT_EQ(list.Lines(), (Lines{"first second", "x y"}));
    list.SaveToFile();
    list.LoadFromFile();
    EXPECT_EQ(list.Lines(), (Lines{"first second", "x y"}));

    EXPECT_THROW(list.Get(2), TError);
    EXPECT_THROW(list.Put(-1, "z"), TError);
    EXPECT_THROW(list.Delete(2), TError);
    EXPECT_THROW(list.Insert(3, "z"), TError);
    list.Insert(2, "end");
    EXPECT_EQ(list.Lines(), (Lines{"first second", "x y", "end"}));
}

TEST(SmsTemplateList, InsertTemplateCallsTheBoundHandlerOnly)
{
    TSmsTemplateList unbound("t.txt");
    unbound.Add("a");
    EXPECT_NO_THROW(unbound.InsertTemplate(0));
    EXPECT_NO_THROW(unbound.InsertTemplate(7)); // nothing is fetched without a handler

    std::vector<std::string> inserted;
    TSmsTemplateList bound("t.txt", [&](const std::string& t) { inserted.push_back(t); });
    bound.Add("a");
    bound.Add("b");
    bound.InsertTemplate(1);
    bound.InsertTemplate(0);
    EXPECT_EQ(inserted, (Lines{"b", "a"}));
    EXPECT_THROW(bound.InsertTemplate(2), TError);
    EXPECT_EQ(inserted.size(), 2u);
}

void FailRename(const char* stage)
{
    if (std::string(stage) == "rename")
        throw TError("rename failed");
}

TEST(SmsTemplateList, FailuresNameTheFileAndLoseNothing)
{
    TScopedDataDir data;
    ASSERT_EQ(::mkdir(data.dir().file("folder.txt").c_str(), 0755), 0);
    TSmsTemplateList list("folder.txt");
    list.Add("kept");
    try {
        list.LoadFromFile();
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find("folder.txt"), std::string::npos);
    }
    EXPECT_EQ(list.Lines(), Lines{"kept"});

    data.dir().write("t.txt", "old\r\n");
    list.FileName = "t.txt";
    SetSaveFaultHook(FailRename);
    EXPECT_THROW(list.SaveToFile(), TError);
    SetSaveFaultHook(nullptr);
    EXPECT_EQ(data.dir().read("t.txt"), "old\r\n");

    TSmsTemplateList missingFolder("no/such/folder/t.txt");
    EXPECT_THROW(missingFolder.LoadFromFile(), TError);
}

} // namespace
