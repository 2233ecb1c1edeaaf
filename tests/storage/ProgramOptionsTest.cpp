#include "storage/ProgramOptions.h"

#include "model/Error.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

struct TFakeWindow : TPlacedWindow {
    std::string Name;
    int L = 5, T = 6, W, H;
    bool Sizeable;
    bool Shown = false;
    int ScreenW = 1024, ScreenH = 768;

    TFakeWindow(std::string name, int w, int h, bool sizeable = true)
        : Name(std::move(name)), W(w), H(h), Sizeable(sizeable)
    {
    }
    std::string WindowName() const override { return Name; }
    int Left() const override { return L; }
    int Top() const override { return T; }
    int Width() const override { return W; }
    int Height() const override { return H; }
    void SetLeft(int v) override { L = v; }
    void SetTop(int v) override { T = v; }
    void SetWidth(int v) override { W = v; }
    void SetHeight(int v) override { H = v; }
    bool SizeableBorder() const override { return Sizeable; }
    bool Visible() const override { return Shown; }
    void SetVisible(bool v) override { Shown = v; }
    int ScreenWidth() const override { return ScreenW; }
    int ScreenHeight() const override { return ScreenH; }
};

// Each test gets its own empty settings folder.
class ProgramOptionsTest : public ::testing::Test {
protected:
    ProgramOptionsTest() { SetProgramSettingsFolder(Dir.path() + "/config"); }
    ~ProgramOptionsTest() override { SetProgramSettingsFolder(""); }

    // Writes raw values into the store, as another start of the program would have.
    void Store(const QString& key, const QString& value)
    {
        QSettings s(QString::fromStdString(ProgramSettingsFile()), QSettings::IniFormat);
        s.setValue(key, value);
    }
    QString Stored(const QString& key)
    {
        QSettings s(QString::fromStdString(ProgramSettingsFile()), QSettings::IniFormat);
        return s.value(key, QStringLiteral("<missing>")).toString();
    }

    TTempDir Dir;
};

using TField = std::string TProgramOptions::*;
const TField Fields[] = {&TProgramOptions::AddressBookFileName, &TProgramOptions::OptionsFileName,
                         &TProgramOptions::HistoryFileName,     &TProgramOptions::TemplatesFileName,
                         &TProgramOptions::SmsGatesFileName,    &TProgramOptions::TranslitFileName};

TEST_F(ProgramOptionsTest, FirstStartNextStartAndFileNames)
{
    TProgramOptions first;
    first.Load();
    EXPECT_TRUE(first.FirstRun);
    EXPECT_EQ(first.AddressBookFileName, "SmsAddressBook.ini");
    EXPECT_EQ(first.OptionsFileName, "SmsOptions.ini");
    EXPECT_EQ(first.HistoryFileName, "SmsHistory.txt");
    EXPECT_EQ(first.TemplatesFileName, "SmsTemplates.txt");
    EXPECT_EQ(first.SmsGatesFileName, "SmsGates.ini");
    EXPECT_EQ(first.TranslitFileName, "SmsTranslit.txt");
    EXPECT_EQ(ProgramSettingsFile(), Dir.path() + "/config/Velotext.ini");

    // The user cancelled the options dialog, nothing else was saved: not a first start any more.
    TProgramOptions second;
    second.Load();
    EXPECT_FALSE(second.FirstRun);

    const std::string names[] = {U("/home/user/Мои документы/book.ini"), "opts/options.ini", "h, comma.txt",
                                 "t.txt", "g.ini", "tr.txt"};
    for (size_t i = 0; i < std::size(Fields); ++i)
        second.*Fields[i] = names[i];
    second.Save();
    EXPECT_EQ(Stored("Directories/OptionsFileName"), "opts/options.ini");
    TProgramOptions third;
    third.Load();
    for (size_t i = 0; i < std::size(Fields); ++i)
        EXPECT_EQ(third.*Fields[i], names[i]) << i;
}

TEST_F(ProgramOptionsTest, MissingValuesLeaveFieldsAndAHandWrittenListReadsAsText)
{
    ASSERT_EQ(::mkdir((Dir.path() + "/config").c_str(), 0755), 0);
    Dir.write("config/Velotext.ini", "[Directories]\nHistoryFileName=only.txt\nTemplatesFileName=a, b\n");
    TProgramOptions o;
    o.OptionsFileName = "current.ini";
    o.Load();
    EXPECT_FALSE(o.FirstRun);
    EXPECT_EQ(o.HistoryFileName, "only.txt");
    EXPECT_EQ(o.TemplatesFileName, "a, b");
    EXPECT_EQ(o.OptionsFileName, "current.ini");
    EXPECT_EQ(o.AddressBookFileName, "SmsAddressBook.ini");
}

TEST_F(ProgramOptionsTest, CentringAndBadStoredNumbers)
{
    TProgramOptions o;
    TFakeWindow main("MainForm", 401, 300);
    main.ScreenH = 769;
    o.RestoreWindow(main);
    EXPECT_EQ(main.L, 311); // (1024 - 401) / 2 rounded toward zero
    EXPECT_EQ(main.T, 234);
    EXPECT_FALSE(main.Shown); // the current visibility is the default

    TFakeWindow wide("SmsTemplatesForm", 2000, 900);
    wide.Shown = true;
    o.RestoreWindow(wide);
    EXPECT_EQ(wide.L, 0);
    EXPECT_EQ(wide.T, 0);
    EXPECT_TRUE(wide.Shown);

    Store("Windows/MainForm/Top", "abc");
    Store("Windows/MainForm/Left", "0x10");
    Store("Windows/MainForm/Width", "12.5");
    Store("Windows/MainForm/Height", "");
    Store("Windows/MainForm/Visible", "2");
    TFakeWindow stored("MainForm", 400, 300);
    o.RestoreWindow(stored);
    EXPECT_EQ(stored.T, 234); // centred
    EXPECT_EQ(stored.L, 16);
    EXPECT_EQ(stored.W, 400);
    EXPECT_EQ(stored.H, 300);
    EXPECT_TRUE(stored.Shown);
}

TEST_F(ProgramOptionsTest, PlacementSavedAndRestored)
{
    TProgramOptions o;
    TFakeWindow ops("SmsSendersForm", 500, 400);
    ops.L = 10;
    ops.T = -20;
    ops.Shown = true;
    o.SaveWindow(ops);
    EXPECT_EQ(Stored("Windows/SmsSendersForm/Top"), "-20");
    EXPECT_EQ(Stored("Windows/SmsSendersForm/Left"), "10");
    EXPECT_EQ(Stored("Windows/SmsSendersForm/Width"), "500");
    EXPECT_EQ(Stored("Windows/SmsSendersForm/Height"), "400");
    EXPECT_EQ(Stored("Windows/SmsSendersForm/Visible"), "1");

    TFakeWindow again("SmsSendersForm", 100, 100);
    o.RestoreWindow(again);
    EXPECT_EQ(again.L, 10);
    EXPECT_EQ(again.T, -20);
    EXPECT_EQ(again.W, 500);
    EXPECT_EQ(again.H, 400);
    EXPECT_TRUE(again.Shown);

    // The queue window has a fixed border: its size is written but not applied.
    TFakeWindow queue("SmsQueueForm", 300, 200, false);
    queue.W = 999;
    queue.H = 888;
    o.SaveWindow(queue);
    EXPECT_EQ(Stored("Windows/SmsQueueForm/Width"), "999");
    TFakeWindow queueAgain("SmsQueueForm", 300, 200, false);
    queueAgain.Shown = true;
    o.RestoreWindow(queueAgain);
    EXPECT_EQ(queueAgain.W, 300);
    EXPECT_EQ(queueAgain.H, 200);
    EXPECT_EQ(queueAgain.L, 5);
    EXPECT_FALSE(queueAgain.Shown); // stored hidden
}

TEST(ProgramOptionsFolder, DefaultFolderFollowsTheConfigHome)
{
    SetProgramSettingsFolder("");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", "/tmp/velotext-config-test", 1);
    EXPECT_EQ(ProgramSettingsFile(), "/tmp/velotext-config-test/Velotext/Velotext.ini");
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

TEST_F(ProgramOptionsTest, AJunkStoreGivesDefaultsAndIsReplacedByASoundOne)
{
    ASSERT_EQ(::mkdir((Dir.path() + "/config").c_str(), 0755), 0);
    std::string junk = "[Directories\nHistoryFileName=kept.txt\n";
    for (int i = 0; i < 5000; ++i)
        junk += static_cast<char>((i * 7919) % 256);
    Dir.write("config/Velotext.ini", junk);
    TProgramOptions o;
    o.Load();
    EXPECT_EQ(o.OptionsFileName, "SmsOptions.ini");
    o.OptionsFileName = "new.ini";
    o.Save();
    TProgramOptions back;
    back.Load();
    EXPECT_FALSE(back.FirstRun);
    EXPECT_EQ(back.OptionsFileName, "new.ini");
}

TEST_F(ProgramOptionsTest, AFolderInPlaceOfTheStoreIsAClearError)
{
    ASSERT_EQ(::mkdir((Dir.path() + "/config").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((Dir.path() + "/config/Velotext.ini").c_str(), 0755), 0);
    TProgramOptions o;
    try {
        o.Load();
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_NE(e.message().find(U("Не удалось прочитать настройки программы")), std::string::npos);
    }
    TFakeWindow w("MainForm", 10, 10);
    EXPECT_THROW(o.RestoreWindow(w), TError);
    EXPECT_THROW(o.SaveWindow(w), TError);
    EXPECT_THROW(o.Save(), TError);
}
} // namespace
