// The real program on a damaged queue file, started from a shell under Xvfb:
// it starts with every message it can read, keeps the damaged file beside the
// data and says so; a file of a newer version is kept and the queue starts
// empty once the user agrees.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

std::string Program()
{
    const char* other = std::getenv("VELOTEXT_TEST_PROGRAM");
    return "'" + std::string(other && *other ? other : VELOTEXT_PROGRAM) + "'";
}

class DamagedQueue : public ::testing::Test {
protected:
    // Two contacts on one operator, and a journal an earlier run left with a
    // message queued to each.
    void SetUp() override
    {
        std::filesystem::create_directories(Home.file("config/Velotext"));
        std::filesystem::create_directories(Home.file("data"));
        Home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
        SetProgramSettingsFolder(Home.file("config/Velotext"));
        SetDataDir(Home.file("data"));
        RegisterIoClasses();
        ResetTranslitTable();
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ProgramOptions().Load();
        auto* web = new TStdSmsSender;
        web->SetName(U("МТС"));
        web->GateType = TStdSmsSender::WebGateType;
        web->WebGate = "http://127.0.0.1:9/send?to={phone}&text={message}";
        SmsManager().AddSmsSender(web);
        std::string records;
        int id = 0;
        for (auto [name, phone] : {std::pair {"Анна Петрова", "+7 (916) 123-45-01"}, std::pair {"Глеб", "8 (900) 444-00-04"}}) {
            auto* c = new TContact;
            c->SetName(U(name));
            c->PhoneNumber = phone;
            c->SmsSender = web;
            SmsManager().AddContact(c);
            records += "+\t" + std::to_string(++id) + "\t20261201100000\t0\t0\t" + std::to_string(c->ContactId()) + "\t" +
                       std::to_string(web->SenderId()) + "\t" + U(name) + "\t" + phone + "\t" +
                       U("Встреча в 15:00") + "\n";
        }
        Records = records;
        const TProgramOptions& names = ProgramOptions();
        SmsManager().SaveSmsSenders(names.SmsGatesFileName);
        SmsManager().SaveAddressBook(names.AddressBookFileName);
        TSmsOptions().Save(names.OptionsFileName);
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        SetDataDir("");
        SetProgramSettingsFolder("");
    }

    std::string Start() const
    {
        return "XDG_CONFIG_HOME='" + Home.path() + "/config' " + Program() + " --data-dir '" + Home.file("data") + "'";
    }
    // Runs the script; it ends the programs it started and prints "READY key=value ..." when done.
    std::unique_ptr<TPeerProcess> Run(const std::string& script)
    {
        return std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 90);
    }
    // Shell words: waits (at most 20 s) for a visible window of that title and focuses it; $w is it.
    static std::string FocusWindow(const std::string& title)
    {
        return "w=$(timeout 20 xdotool search --sync --onlyvisible --name '^" + title +
               "$' | head -1); [ -n \"$w\" ] && xdotool windowfocus --sync $w; ";
    }
    // The files beside the data called "SmsQueue.journal.damaged-...".
    std::vector<std::string> Kept() const
    {
        std::vector<std::string> kept;
        for (const auto& entry : std::filesystem::directory_iterator(Home.file("data")))
            if (entry.path().filename().string().rfind("SmsQueue.journal.damaged-", 0) == 0)
                kept.push_back(entry.path().filename().string());
        return kept;
    }

    TTempDir Home;
    std::string Records;
};

const char* const QueueListing = "01.12.2026 10:00:00\tАнна Петрова (+7 (916) 123-45-01)\tпопыток: 0\tВстреча в 15:00\n"
                                 "01.12.2026 10:00:00\tГлеб (8 (900) 444-00-04)\tпопыток: 0\tВстреча в 15:00\n";

// A line appended by hand, an unknown record, binary junk: the window comes up
// with both messages (its title counts them), after a box that says how many
// records were lost.
TEST_F(DamagedQueue, TheWindowStartsWithTheMessagesThatReadAndTheDamagedFileIsKept)
{
    const std::string damaged = "VELOTEXT-QUEUE 1\n" + Records.substr(0, Records.find('\n') + 1) + "X\t1\n" +
                                U("записка от руки\n") + Records.substr(Records.find('\n') + 1) +
                                std::string("\x7f" "ELF\x02\x01\0\0\n", 9);
    Home.write("data/SmsQueue.journal", damaged);
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run(Start() + " 2>err & a=$!; " + FocusWindow("Файл очереди сообщений") +
                              "box=$w; xdotool key Return; " + FocusWindow("Подтверждение") + "xdotool key Escape; " +
                              FocusWindow("Velotext \\(2\\)") + "main=$w; kill -TERM $a; wait $a; echo READY box=$box main=$main rc=$?"));
    EXPECT_NE(run->value("box"), "") << Home.read("err");
    EXPECT_NE(run->value("main"), "");
    EXPECT_EQ(run->value("rc"), "0");
    const std::vector<std::string> kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Home.read("data/" + kept[0]), damaged);
    EXPECT_EQ(Home.read("data/SmsQueue.journal"), "VELOTEXT-QUEUE 1\n" + Records);
}

// Without a window the command line says the same on standard error and goes on.
TEST_F(DamagedQueue, TheCommandLineListsTheMessagesThatReadAndSaysHowManyRecordsWereLost)
{
    Home.write("data/SmsQueue.journal", "VELOTEXT-QUEUE 1\n" + Records + "garbage\n");
    const std::string line = "cd '" + Home.path() + "' && env -u DISPLAY -u QT_QPA_PLATFORM " + Start() +
                             " queue >out 2>err";
    const int status = std::system(line.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << Home.read("err");
    EXPECT_EQ(Home.read("out"), QueueListing);
    EXPECT_NE(Home.read("err").find("не удалось прочитать записей: 1"), std::string::npos) << Home.read("err");
    EXPECT_EQ(Kept().size(), 1u);
}

// A file from a newer version: "Нет" leaves it and ends the program; "Да"
// keeps it aside and starts with an empty queue.
TEST_F(DamagedQueue, ANewerFileIsKeptAndTheQueueStartsEmptyOnlyWhenTheUserAgrees)
{
    const std::string newer = "VELOTEXT-QUEUE 2\n" + Records;
    Home.write("data/SmsQueue.journal", newer);
    std::unique_ptr<TPeerProcess> run;
    // "Нет" is the default button; the error box that follows is closed with Return too.
    ASSERT_NO_THROW(run = Run(Start() + " & a=$!; " + FocusWindow("Файл очереди сообщений") + "asked=$w; xdotool key Return; " +
                              "sleep 1; e=$(xdotool search --onlyvisible --name '^Ошибка$' | head -1); "
                              "[ -n \"$e\" ] && xdotool windowfocus --sync $e key Return; "
                              "wait $a; echo READY asked=$asked"));
    EXPECT_NE(run->value("asked"), "");
    EXPECT_EQ(Home.read("data/SmsQueue.journal"), newer);
    EXPECT_TRUE(Kept().empty());

    ASSERT_NO_THROW(run = Run(Start() + " & a=$!; " + FocusWindow("Файл очереди сообщений") +
                              "asked=$w; xdotool key shift+Tab space; " + FocusWindow("Velotext") +
                              "main=$w; kill -TERM $a; wait $a; echo READY asked=$asked main=$main rc=$?"));
    EXPECT_NE(run->value("asked"), "");
    EXPECT_NE(run->value("main"), "");
    EXPECT_EQ(run->value("rc"), "0");
    const std::vector<std::string> kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(Home.read("data/" + kept[0]), newer);
    EXPECT_EQ(Home.read("data/SmsQueue.journal"), "VELOTEXT-QUEUE 1\n");
}

} // namespace
