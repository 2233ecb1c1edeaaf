// The passwords of the sending options in a real GNOME Keyring on a private
// session bus (the ui_keyring test runs this under tests/keyring/with-keyring.sh).
#include "model/Text.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/KeyringStore.h"

#include "UiTestSupport.h"

#include <gtest/gtest.h>

TEST(RealKeyring, OptionsFilePasswordsMoveToTheKeyringAndComeBack)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_KEYRING"))
        GTEST_SKIP() << "needs the private keyring of the ui_keyring test";
    TestApp();
    TScopedDataDir data;
    TKeyringStore keyring;
    ASSERT_TRUE(keyring.Available());
    // An options file of before: the passwords scrambled in it.
    data.dir().write("SmsOptions.ini", "[SMTP]\r\nSmtpPassword=" + ScramblePassword(U("пароль smtp")) +
                                           "\r\n[Proxy]\r\nProxyPassword=" + ScramblePassword("proxy") + "\r\n");
    SetSecretStore(&keyring);
    TSmsOptions o;
    o.Load("SmsOptions.ini");
    EXPECT_EQ(o.SmtpPassword, U("пароль smtp"));
    o.Save("SmsOptions.ini");
    EXPECT_EQ(TakeSecretStoreMessage(), "");
    const std::string file = data.dir().read("SmsOptions.ini");
    EXPECT_NE(file.find("SmtpPassword=\r\n"), std::string::npos);
    EXPECT_NE(file.find("ProxyPassword=\r\n"), std::string::npos);
    EXPECT_EQ(TKeyringStore().Read("SmtpPassword"), U("пароль smtp"));

    TSmsOptions back;
    back.Load("SmsOptions.ini");
    EXPECT_EQ(back.SmtpPassword, U("пароль smtp"));
    EXPECT_EQ(back.ProxyPassword, "proxy");
    SetSecretStore(nullptr);
}
