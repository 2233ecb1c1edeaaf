// The real program on a data folder, started from a shell under Xvfb: one
// program per folder, the lock of a killed program taken over, and SIGTERM
// closing the program in order with its edits saved.
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

// The program under test; VELOTEXT_TEST_PROGRAM names another build (an older one, say).
std::string Program()
{
    const char* other = std::getenv("VELOTEXT_TEST_PROGRAM");
    return "'" + std::string(other && *other ? other : VELOTEXT_PROGRAM) + "'";
}

// A home whose settings store is not empty (no first-run dialog), with the data folder "data".
class TProgramHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(Home.file("config/Velotext"));
        std::filesystem::create_directories(Home.file("data"));
        Home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    }
    // The shell words that start the program on a data folder of the home.
    std::string Start(const char* folder = "data") const
    {
        return "XDG_CONFIG_HOME='" + Home.path() + "/config' " + Program() + " --data-dir '" + Home.file(folder) + "'";
    }
    // Shell words: the program started in the background as $a, a group added
    // through its window (Insert in the groups list, the name, Enter).
    std::string StartAndAddGroup(const std::string& group) const
    {
        return Start() + " & a=$!; xdotool windowfocus --sync $(" + WaitWindow +
               "); xdotool key Insert; xdotool search --sync --onlyvisible --name '^Создание группы$' >/dev/null; "
               "xdotool type --delay 20 " + group + "; xdotool key Return; ";
    }
    std::string Lock() const { return Home.file("data/Velotext.lock"); }
    // Runs the script; it ends the programs it started and prints "READY key=value ..." when done.
    std::unique_ptr<TPeerProcess> Run(const std::string& script)
    {
        return std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 90);
    }

    static constexpr const char* WaitWindow = "xdotool search --sync --onlyvisible --name '^Velotext$' | head -1";
    static constexpr const char* CountWindows = "xdotool search --onlyvisible --name '^Velotext$' | wc -l";
    TTempDir Home;
};

TEST_F(TProgramHome, TwoStartsOnOneFolderGiveOneWindowAndAnotherFolderItsOwn)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run(Start() + " & a=$!; w=$(" + WaitWindow + "); " + Start() + "; second=$?; windows=$(" +
                              CountWindows + "); focus=$(xdotool getwindowfocus); " + Start("other") +
                              " & c=$!; until [ $(" + CountWindows + ") -ge 2 ]; do sleep 0.2; done; " +
                              "kill -TERM $a $c; wait $a; rc=$?; wait $c; "
                              "echo READY second=$second windows=$windows w=$w focus=$focus rc=$rc"));
    EXPECT_EQ(run->value("second"), "0");
    EXPECT_EQ(run->value("windows"), "1");
    EXPECT_EQ(run->value("focus"), run->value("w")); // the running window was activated
    EXPECT_EQ(run->value("rc"), "0");
    EXPECT_FALSE(std::filesystem::exists(Lock())); // the program ended in order
}

TEST_F(TProgramHome, AStartAfterKill9TakesTheStaleLock)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run(Start() + " & a=$!; " + WaitWindow + " >/dev/null; kill -9 $a; wait $a; " + Start() +
                              " & b=$!; " + WaitWindow + " >/dev/null; lock=$(head -1 '" + Lock() +
                              "'); kill -TERM $b; wait $b; echo READY b=$b lock=$lock"));
    EXPECT_EQ(run->value("lock"), run->value("b"));
}

// A group added through the window is not saved yet when the signal comes
// (the saves as edits happen wait a second): the orderly close saves it. Job
// control on, so that a background start does not ignore SIGINT.
TEST_F(TProgramHome, TermIntAndHupSaveTheUnsavedEditsAndExitZero)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run("set -m; for s in TERM INT HUP; do " + StartAndAddGroup("Group$s") +
                              "sleep 0.3; kill -$s $a; wait $a; eval rc$s=$?; done; "
                              "echo READY TERM=$rcTERM INT=$rcINT HUP=$rcHUP"));
    const std::string book = Home.read("data/SmsAddressBook.ini");
    for (const char* signal : {"TERM", "INT", "HUP"}) {
        EXPECT_EQ(run->value(signal), "0") << signal;
        EXPECT_NE(book.find(std::string("[Group:TGroup:Group") + signal + "]"), std::string::npos) << signal;
    }
    EXPECT_FALSE(std::filesystem::exists(Lock()));
}

// An edit reaches the disk by itself shortly after it is made: a kill -9
// afterwards loses nothing.
TEST_F(TProgramHome, AGroupAddedThroughTheWindowSurvivesAKill9)
{
    const std::string book = Home.file("data/SmsAddressBook.ini");
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run(StartAndAddGroup("Kollegi") + "until grep -q Kollegi '" + book + "'; do sleep 0.1; done; kill -9 $a; echo READY"));
    run.reset();
    EXPECT_NE(Home.read("data/SmsAddressBook.ini").find("[Group:TGroup:Kollegi]"), std::string::npos);
}

} // namespace

namespace {

// A start made while the running program closes (SIGTERM; its save fails, so
// it shows the error and its event loop runs on) is not handed to the closing
// program: it waits until that one has ended, then opens its own window.
TEST_F(TProgramHome, AStartDuringTheCloseWaitsForItAndOpensItsOwnWindow)
{
    const std::string book = Home.file("data/SmsAddressBook.ini");
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(
        run = Run(Start() + " & a=$!; timeout 60 xdotool search --all --sync --onlyvisible --pid $a --name '^Velotext$' >/dev/null; "
                            "rm -f '" + book + "'; mkdir '" + book + "'; kill -TERM $a; "
                            "box=$(timeout 60 xdotool search --all --sync --onlyvisible --pid $a --name '^Ошибка$' | head -1); "
                            "rmdir '" + book + "'; " + Start() + " & b=$!; sleep 2; kill -0 $b; waiting=$?; "
                            "xdotool windowfocus --sync $box; xdotool key Return; wait $a; rc=$?; "
                            "n=$(timeout 60 xdotool search --all --sync --onlyvisible --pid $b --name '^Velotext$' | wc -l); "
                            "lock=$(head -1 '" + Lock() + "'); kill -TERM $b; wait $b; "
                            "echo READY waiting=$waiting rc=$rc n=$n b=$b lock=$lock"));
    EXPECT_EQ(run->value("waiting"), "0"); // still there: not handed over and gone
    EXPECT_EQ(run->value("rc"), "0");
    EXPECT_EQ(run->value("n"), "1");
    EXPECT_EQ(run->value("lock"), run->value("b"));
}

} // namespace
