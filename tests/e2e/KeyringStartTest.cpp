// The real program with a desktop keyring (GNOME Keyring on a private session
// bus, run by the e2e_keyring test): the keyring is asked for the passwords
// once the main window is up, not on the way to it, and a start and an orderly
// exit leave the password it holds as it was.
#include "model/Text.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"
#include "ui/KeyringStore.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace {

// The keyring's daemon registers on the bus a moment after it was started.
bool KeyringUp()
{
    for (int i = 0; i < 50; ++i) {
        if (TKeyringStore().Available())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// The position of the first trace line of that mark, or npos.
size_t MarkAt(const std::string& trace, const std::string& mark)
{
    return trace.find("velotext-trace " + mark + " ");
}

TEST(KeyringStart, ThePasswordsAreAskedOnceTheWindowIsUpAndStayInTheKeyring)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_KEYRING"))
        GTEST_SKIP() << "needs the private keyring of the e2e_keyring test";
    ASSERT_TRUE(KeyringUp());
    TKeyringStore().Write("SmtpPassword", U("секрет smtp"));
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    // As a save with the keyring leaves it: the password keys empty.
    const std::string options = "[Proxy]\r\nProxyPassword=\r\n[SMTP]\r\nSmtpHost=127.0.0.1\r\nSmtpPassword=\r\n[SMS]\r\n";
    home.write("data/SmsOptions.ini", options);
    const std::string trace = home.file("trace.txt");
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {
                            "bash", "-c",
                            "XDG_CONFIG_HOME='" + home.path() + "/config' VELOTEXT_STARTUP_TRACE=1 '" VELOTEXT_PROGRAM
                            "' --data-dir '" + home.file("data") + "' 2>'" + trace + "' & a=$!; "
                            "xdotool search --sync --onlyvisible --name '^Velotext$' >/dev/null; "
                            "for i in $(seq 50); do grep -q 'keyring asked' '" + trace + "' && break; sleep 0.1; done; "
                            "kill -TERM $a; wait $a; echo READY rc=$?"},
                        90));
    EXPECT_EQ(run->value("rc"), "0");
    const std::string marks = home.read("trace.txt");
    ASSERT_NE(MarkAt(marks, "main window shown"), std::string::npos) << marks;
    ASSERT_NE(MarkAt(marks, "keyring asked"), std::string::npos) << marks;
    EXPECT_LT(MarkAt(marks, "main window shown"), MarkAt(marks, "keyring asked")) << marks;
    // Read at the start, written back at the exit: the keyring holds it still, the file does not.
    EXPECT_EQ(TKeyringStore().Read("SmtpPassword"), U("секрет smtp"));
    EXPECT_NE(home.read("data/SmsOptions.ini").find("SmtpPassword=\r\n"), std::string::npos);
}

// A start that stops with an error never asks the keyring, and its exit
// writes nothing there: the password it holds stays.
TEST(KeyringStart, AFailedStartLeavesTheKeyringAlone)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_KEYRING"))
        GTEST_SKIP() << "needs the private keyring of the e2e_keyring test";
    ASSERT_TRUE(KeyringUp());
    TKeyringStore().Write("ProxyPassword", U("прокси 1"));
    TTempDir home;
    std::filesystem::create_directories(home.file("config/Velotext"));
    std::filesystem::create_directories(home.file("data"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    home.write("data/SmsOptions.ini", "[Proxy]\r\nProxyPassword=\r\n[SMTP]\r\nSmtpPassword=\r\n[SMS]\r\n");
    home.write("data/SmsAddressBook.ini", std::string("[Contact:TContact:A]\r\n\0\0\0\r\n", 27)); // not text
    const std::string trace = home.file("trace.txt");
    std::unique_ptr<TPeerProcess> run;
    ASSERT_NO_THROW(run = std::make_unique<TPeerProcess>(
                        std::vector<std::string> {
                            "bash", "-c",
                            "XDG_CONFIG_HOME='" + home.path() + "/config' VELOTEXT_STARTUP_TRACE=1 '" VELOTEXT_PROGRAM
                            "' --data-dir '" + home.file("data") + "' 2>'" + trace + "' & a=$!; "
                            "w=$(xdotool search --sync --onlyvisible --name '^Ошибка' | head -1); "
                            "xdotool windowfocus --sync $w; xdotool key Return; wait $a; echo READY rc=$?"},
                        90));
    const std::string marks = home.read("trace.txt");
    EXPECT_EQ(MarkAt(marks, "keyring asked"), std::string::npos) << marks;
    EXPECT_EQ(TKeyringStore().Read("ProxyPassword"), U("прокси 1"));
    EXPECT_NE(home.read("data/SmsOptions.ini").find("ProxyPassword=\r\n"), std::string::npos);
}

} // namespace
