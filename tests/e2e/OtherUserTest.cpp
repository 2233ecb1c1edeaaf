// The real program against other users of the same machine: a local socket
// another user set up in wait never gets a command line, the channel outlives
// clients that hold connections or send half a command, and the data files
// are closed to other users. The tests run as root: the program's user is
// "velotext-test" (made with useradd when missing), the other user "nobody".
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Program()
{
    const char* other = std::getenv("VELOTEXT_TEST_PROGRAM");
    return "'" + std::string(other && *other ? other : VELOTEXT_PROGRAM) + "'";
}

const char* const ProgramUser = "velotext-test";

// Why a second user cannot be had here; empty when it can.
std::string NoOtherUser()
{
    if (::geteuid() != 0)
        return "running as another user needs root";
    if (std::system("runuser -u nobody -- true >/dev/null 2>&1") != 0)
        return "runuser -u nobody does not work here";
    const std::string make = std::string("id -u ") + ProgramUser + " >/dev/null 2>&1 || useradd --system --no-create-home " +
                             ProgramUser + " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0)
        return std::string("no user ") + ProgramUser + " and useradd failed";
    return {};
}

mode_t Mode(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

// A home every user may pass through (not list), with a temporary folder
// every user writes ("tmp", as /tmp is) and the data folder "data".
class OtherUser : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = NoOtherUser(); !why.empty())
            GTEST_SKIP() << why;
        MakeHome();
    }
    void MakeHome()
    {
        ::chmod(Home.path().c_str(), 0711);
        std::filesystem::create_directories(Home.file("config/Velotext"));
        std::filesystem::create_directories(Home.file("tmp"));
        ::chmod(Home.file("tmp").c_str(), 01777);
        Home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    }
    // Shell words: the environment of the program's user (its own runtime
    // folder "run" when `runtime`), then the program on the data folder.
    std::string Env(bool runtime, const char* folder = "data") const
    {
        return "env -u DISPLAY -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen HOME='" + Home.path() +
               "' XDG_CONFIG_HOME='" + Home.file("config") + "' TMPDIR='" + Home.file("tmp") + "' " +
               (runtime ? "XDG_RUNTIME_DIR='" + Home.file("run") + "' " : std::string()) + Program() +
               " --data-dir '" + Home.file(folder) + "'";
    }
    // The shell's $hash: the hash the socket is named by (the data folder's canonical path).
    std::string Hash() const
    {
        return "hash=$(printf %s \"$(realpath '" + Home.file("data") + "')\" | sha256sum | cut -c1-32); ";
    }
    std::unique_ptr<TPeerProcess> Run(const std::string& script)
    {
        return std::make_unique<TPeerProcess>(std::vector<std::string> {"bash", "-c", script}, 120);
    }
    std::string Peer(const char* script) const { return "python3 '" + PeerScript(script) + "'"; }
    TTempDir Home;
};

// "nobody" lies in wait where the socket used to be (the temporary folder,
// named after the folder's hash) and where a fallback folder of the user's
// would be. The program's own sends reach the program (its refusal of an
// unknown name comes back) with a runtime folder, and with none they reach
// nobody at all; the other user gets neither a connection nor a byte.
TEST_F(OtherUser, ASocketSetUpByAnotherUserNeverGetsACommand)
{
    const std::string as = std::string("runuser -u ") + ProgramUser + " -- ";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(
        run = Run(Hash() + "cd '" + Home.path() + "'; mkdir -p data run; chown -R " + ProgramUser +
                  " data run config; chmod 700 run; uid=$(id -u " + ProgramUser + "); "
                  "runuser -u nobody -- " + Peer("socket_squatter.py") + " tmp/squat.log tmp/velotext-$hash "
                  "tmp/velotext-$uid/velotext-$hash >/dev/null 2>>tmp/squat.err & s=$!; until [ -e tmp/squat.log ]; do sleep 0.1; done; "
                  "for runtime in 1 0; do "
                  "  if [ $runtime = 1 ]; then env=\"" + Env(true) + "\"; else env=\"" + Env(false) + "\"; fi; " +
                  as + " bash -c \"$env\" 2>>tmp/program.log & a=$!; until [ -e data/Velotext.lock ]; do sleep 0.1; done; "
                  "[ $runtime = 1 ] && for i in $(seq 100); do [ -S run/velotext-$hash ] && break; sleep 0.1; done; sleep 1; " +
                  as + " bash -c \"$env send --to Никто --text 'Секрет 42'\" 2>tmp/err$runtime; eval rc$runtime=$?; "
                  "  kill -TERM $a; wait $a 2>/dev/null; "
                  "done; kill $s; wait $s 2>/dev/null; log=$(wc -c <tmp/squat.log); echo READY rc1=$rc1 rc0=$rc0 log=$log"));
    EXPECT_EQ(run->value("log"), "0") << Home.read("tmp/squat.log");
    EXPECT_EQ(run->value("rc1"), "2") << Home.read("tmp/err1");
    EXPECT_NE(Home.read("tmp/err1").find("Нет абонента «Никто»"), std::string::npos) << Home.read("tmp/err1");
    EXPECT_NE(run->value("rc0"), "0") << Home.read("tmp/err0");
}

// The program's own user, no other one needed.
class Channel : public OtherUser {
protected:
    void SetUp() override { MakeHome(); }
};

// A client that sends 9 bytes of a 100-byte command is cut off. The program
// may open 96 descriptors; a client takes 200 connections at once and lets
// them go a second later; then a send still reaches the program.
TEST_F(Channel, OutlivesHeldConnectionsAndCutsAHalfWrittenCommand)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(
        run = Run(Hash() + "cd '" + Home.path() + "'; mkdir -p data run; chmod 700 run; (ulimit -n 96; exec " +
                  Env(true) + ") & a=$!; sock=; until [ -n \"$sock\" ]; do sleep 0.1; "
                  "for s in run/velotext-$hash tmp/velotext-$hash; do [ -S $s ] && sock=$s; done; done; " +
                  Peer("socket_client.py") + " half $sock 20 >tmp/half; " + Peer("socket_client.py") +
                  " hold $sock 200 1 >tmp/held; sleep 1; " + Env(true) +
                  " send --to Никто --text x 2>tmp/err; rc=$?; kill -TERM $a; wait $a; "
                  "echo READY rc=$rc $(cat tmp/held tmp/half)"));
    EXPECT_NE(run->value("held"), "0");
    EXPECT_EQ(run->value("rc"), "2") << Home.read("tmp/err");
    EXPECT_NE(Home.read("tmp/err").find("Нет абонента «Никто»"), std::string::npos) << Home.read("tmp/err");
    EXPECT_EQ(run->value("cut"), "1");
}

// No runtime folder, and the per-user folder in the temporary folder made in
// wait by "nobody": the program runs without the channel and says so in
// Russian, in a box ("Канал для команд") for the window and on standard
// error for a command line run.
TEST_F(OtherUser, AChannelThatCannotOpenIsToldInRussian)
{
    const std::string env = "env -u XDG_RUNTIME_DIR XDG_CONFIG_HOME='" + Home.file("config") + "' TMPDIR='" +
                            Home.file("tmp") + "' " + Program() + " --data-dir '" + Home.file("data") + "'";
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(
        run = Run("cd '" + Home.path() + "'; mkdir -p data; runuser -u nobody -- mkdir -m 777 tmp/velotext-$(id -u); " +
                  env + " send --to Никто --text x 2>tmp/err; rc=$?; " + env + " 2>/dev/null & a=$!; "
                  "box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Канал для команд$' | wc -l); "
                  "kill -TERM $a; wait $a; echo READY rc=$rc box=$box"));
    EXPECT_EQ(run->value("rc"), "2") << Home.read("tmp/err");
    EXPECT_NE(Home.read("tmp/err").find("Канал для команд не открыт"), std::string::npos) << Home.read("tmp/err");
    EXPECT_EQ(run->value("box"), "1");
}

// The running program's descriptor limit lowered to four above what it
// holds (prlimit): a client's 20 connections use them up, so accepting the
// next fails and the server stops listening. Once they are let go, it
// listens again and a send reaches the program.
TEST_F(Channel, ListensAgainAfterTheDescriptorsRanOut)
{
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(
        run = Run(Hash() + "cd '" + Home.path() + "'; mkdir -p data run; chmod 700 run; " + Env(true) +
                  " & a=$!; sock=; until [ -n \"$sock\" ]; do sleep 0.1; "
                  "for s in run/velotext-$hash tmp/velotext-$hash; do [ -S $s ] && sock=$s; done; done; sleep 1; "
                  "n=$(ls /proc/$a/fd | wc -l); prlimit --pid $a --nofile=$((n + 4)):; " +
                  Peer("socket_client.py") + " hold $sock 20 1 >tmp/held; prlimit --pid $a --nofile=1024:; sleep 1; " +
                  Env(true) + " send --to Никто --text x 2>tmp/err; rc=$?; kill -TERM $a; wait $a; "
                  "echo READY rc=$rc $(cat tmp/held)"));
    EXPECT_NE(run->value("held"), "0");
    EXPECT_EQ(run->value("rc"), "2") << Home.read("tmp/err");
    EXPECT_NE(Home.read("tmp/err").find("Нет абонента «Никто»"), std::string::npos) << Home.read("tmp/err");
}

// Under umask 022 the data folder is made with its parent, an operator is
// saved into the operators file, a send from the command line adds a contact (the address book's
// backup appears), fails and is recorded, and the window starts and closes:
// every folder made is 0700, every file 0600, and "nobody" reads none of them
// even once the folders are opened to others.
TEST_F(OtherUser, TheDataFilesAndFoldersAreClosedToAnotherUser)
{
    // The program makes the folders and its empty files; an operator is then
    // saved into its file by the program's own code.
    // (A command refuses a data folder that is not there: the window makes it.)
    const std::string made = "cd '" + Home.path() + "'; umask 022; " + Env(true, "fresh/data") +
                             " & a=$!; until [ -e fresh/data/Velotext.lock ]; do sleep 0.1; done; sleep 1; "
                             "kill -TERM $a; wait $a";
    ASSERT_EQ(std::system(made.c_str()), 0);
    const mode_t umaskBefore = ::umask(022);
    SetDataDir(Home.file("fresh/data"));
    RegisterIoClasses();
    ResetSmsManagerForTests();
    auto* gate = new TStdSmsSender;
    gate->SetName(U("Шлюз"));
    gate->GateType = TStdSmsSender::WebGateType;
    gate->WebGate = "http://127.0.0.1:9/send?user=me&password=S3cret&to={phone}&text={message}";
    SmsManager().AddSmsSender(gate);
    SmsManager().SaveSmsSenders("SmsGates.ini");
    ResetSmsManagerForTests();
    SetDataDir("");
    ::umask(umaskBefore);
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = Run("cd '" + Home.path() + "'; umask 022; " + Env(true, "fresh/data") +
                              " send --to '+7 (916) 123-45-03' --operator Шлюз --text 'Секрет' 2>tmp/err; rc=$?; " +
                              Env(true, "fresh/data") + " & a=$!; until [ -e fresh/data/Velotext.lock ]; do sleep 0.1; "
                              "done; sleep 2; cp -p fresh/data/Velotext.lock tmp/lock; kill -TERM $a; wait $a; "
                              "echo READY rc=$rc"));
    EXPECT_EQ(run->value("rc"), "1") << Home.read("tmp/err");
    EXPECT_EQ(Mode(Home.file("fresh")), 0700u);
    EXPECT_EQ(Mode(Home.file("fresh/data")), 0700u);
    ::chmod(Home.file("fresh").c_str(), 0755);
    ::chmod(Home.file("fresh/data").c_str(), 0755);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(Home.file("fresh/data"))) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file())
            continue;
        files.insert(name);
        EXPECT_EQ(Mode(entry.path().string()) & 077, 0u) << name;
        const std::string read = "runuser -u nobody -- cat '" + entry.path().string() + "' >/dev/null 2>&1";
        EXPECT_NE(std::system(read.c_str()), 0) << name << " is readable by another user";
    }
    // The lock file of the running program, copied with its permissions.
    EXPECT_EQ(Mode(Home.file("tmp/lock")), 0600u);
    for (const char* made : {"SmsGates.ini", "SmsAddressBook.ini", "SmsAddressBook.ini.bak", "SmsOptions.ini",
                             "SmsHistory.txt", "SmsQueue.journal"})
        EXPECT_EQ(files.count(made), 1u) << made;
}

} // namespace
