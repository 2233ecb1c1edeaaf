// "send" from the command line takes the SMTP password from where the window
// keeps it: a real GNOME Keyring on a private bus (the e2e_keyring test runs
// this under tests/keyring/with-keyring.sh) and an SMTP server (aiosmtpd)
// that refuses mail before a login.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/DataPaths.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"
#include "ui/KeyringStore.h"

#include <QTest>

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

} // namespace

TEST(KeyringCommandLine, SendLogsInWithThePasswordTheKeyringHolds)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_KEYRING"))
        GTEST_SKIP() << "needs the private keyring of the e2e_keyring test";
    TTempDir home, mail;
    std::unique_ptr<TPeerProcess> smtp;
    ASSERT_NO_THROW(smtp = std::make_unique<TPeerProcess>(std::vector<std::string> {
                        "/usr/bin/python3", PeerScript("smtp_peer.py"), "--user=anna", "--password=Pa55-w0rd",
                        "--dir=" + mail.path(), "--require-auth"}));
    TKeyringStore keyring;
    ASSERT_TRUE(QTest::qWaitFor([&] { return keyring.Available(); }, 10000));

    // The window's way: an operator that mails, a contact, and the options
    // saved with the password going to the keyring.
    std::filesystem::create_directories(home.file("config/Velotext"));
    home.write("config/Velotext/Velotext.ini", "[Test]\nStarted=1\n");
    SetProgramSettingsFolder(home.file("config/Velotext"));
    SetDataDir(home.file("data"));
    EnsureDataDir();
    RegisterIoClasses();
    ResetSmsManagerForTests();
    ResetSmsOptionsForTests();
    auto* gate = new TStdSmsSender;
    gate->SetName(U("Почта"));
    gate->GateType = TStdSmsSender::EmailGateType;
    gate->EmailGate = "{phone}@sms.test";
    SmsManager().AddSmsSender(gate);
    auto* anna = new TContact;
    anna->SetName(U("Анна"));
    anna->PhoneNumber = "+7 (916) 123-45-03";
    anna->SmsSender = gate;
    SmsManager().AddContact(anna);
    SmsManager().SaveSmsSenders("SmsGates.ini");
    SmsManager().SaveAddressBook("SmsAddressBook.ini");
    SetSecretStore(&keyring);
    TSmsOptions options;
    options.SmtpHost = "127.0.0.1:" + smtp->value("port");
    options.SmtpUsername = "anna";
    options.SmtpPassword = "Pa55-w0rd";
    options.SmtpSecurity = TSmtpSecurity::None;
    options.Save("SmsOptions.ini", true);
    SetSecretStore(nullptr);
    EXPECT_EQ(TakeSecretStoreMessage(), "");
    ResetSmsManagerForTests();
    ResetSmsOptionsForTests();
    SetDataDir("");
    SetProgramSettingsFolder("");
    ASSERT_NE(home.read("data/SmsOptions.ini").find("SmtpPassword=\r\n"), std::string::npos);

    const std::string line = "cd '" + home.path() + "' && env -u DISPLAY QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME='" +
                             home.file("config") + "' " + Program() + " --data-dir '" + home.file("data") +
                             "' send --to Анна --text 'Через связку ключей' >out 2>err";
    const int status = std::system(line.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << home.read("err");
    EXPECT_NE(home.read("out").find("Отправлено: Анна"), std::string::npos) << home.read("out") << home.read("err");
    EXPECT_TRUE(std::filesystem::exists(mail.file("message-001.eml")));
    // Nothing changed: the password stays in the keyring, the file keeps none.
    EXPECT_NE(home.read("data/SmsOptions.ini").find("SmtpPassword=\r\n"), std::string::npos);
}
