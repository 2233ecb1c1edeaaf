#include "WindowFixture.h"
#include "model/SafeFile.h"
#include "ui/dialogs/OptionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTabWidget>

class TOptionsDlgTest : public TWindowTest {
protected:
    template <class W = QLineEdit>
    W* Field(const char* name)
    {
        W* field = Dialog->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(field, nullptr) << name;
        return field;
    }
    void OpenDialog() { Dialog = std::make_unique<TOptionsDlg>(nullptr); }
    // Presses OK; true when the dialog closed with it.
    bool PressOk()
    {
        Dialog->setResult(QDialog::Rejected);
        Dialog->accept();
        return Dialog->result() == QDialog::Accepted;
    }

    std::unique_ptr<TOptionsDlg> Dialog;
};

TEST_F(TOptionsDlgTest, ProxyFieldsNotInUseAreStoredEmpty)
{
    TSmsOptions& o = SmsOptions();
    o.ProxyServer = "old-proxy";
    o.ProxyPort = 3128;
    o.ProxyUsername = "old-user";
    o.ProxyPassword = "old-pass";
    o.ProxyAuthFlag = true;
    OpenDialog();
    EXPECT_TRUE(Field("ProxyServerEdit")->isReadOnly());
    EXPECT_FALSE(Field<QCheckBox>("ProxyAuthCheckBox")->isEnabled());
    Field("ProxyPortEdit")->setText(QStringLiteral("восемь")); // not in use: no check
    ASSERT_TRUE(PressOk());
    EXPECT_EQ(o.ProxyServer, "");
    EXPECT_EQ(o.ProxyPort, 0);
    EXPECT_EQ(o.ProxyUsername, "");
    EXPECT_EQ(o.ProxyPassword, "");
    EXPECT_TRUE(o.ProxyAuthFlag); // the disabled box keeps its mark

    OpenDialog();
    Field<QCheckBox>("ProxyCheckBox")->click();
    Field<QCheckBox>("ProxyAuthCheckBox")->click(); // authorisation off
    EXPECT_TRUE(Field("ProxyUsernameEdit")->isReadOnly());
    Field("ProxyServerEdit")->setText(QStringLiteral(" proxy.local "));
    Field("ProxyPortEdit")->setText(QStringLiteral(" 0 "));
    Field("ProxyUsernameEdit")->setText(QStringLiteral("typed"));
    ASSERT_TRUE(PressOk());
    EXPECT_TRUE(o.ProxyFlag);
    EXPECT_FALSE(o.ProxyAuthFlag);
    EXPECT_EQ(o.ProxyServer, "proxy.local");
    EXPECT_EQ(o.ProxyPort, 0);
    EXPECT_EQ(o.ProxyUsername, "");
    EXPECT_TRUE(FileExists(Data.dir().file("SmsOptions.ini")));
}

TEST_F(TOptionsDlgTest, PortAndTryCountChecksKeepTheDialogOpenAndTakeNothing)
{
    SmsOptions().ProxyFlag = true;
    OpenDialog();
    const QString portMessage = QStringLiteral("Указан неверный номер порта.");
    for (const QString& port : {QStringLiteral("-1"), QString(), QStringLiteral("80x")}) {
        Field("ProxyPortEdit")->setText(port);
        EXPECT_FALSE(PressOk()) << port.toStdString();
        EXPECT_EQ(Ui.Calls.back().Text, portMessage);
    }
    Field("ProxyPortEdit")->setText(QStringLiteral("8080"));
    const QString tryMessage = QStringLiteral("Кол-во попыток отсылки SMS \rдолжно быть положительным числом.");
    Field("PrefixEdit")->setText(QStringLiteral("  начало  "));
    for (const QString& count : {QStringLiteral("0"), QStringLiteral("-3"), QString(), QStringLiteral("три")}) {
        Field("TryCountEdit")->setText(count);
        EXPECT_FALSE(PressOk()) << count.toStdString();
        EXPECT_EQ(Ui.Calls.back().Text, tryMessage);
        EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Ошибка"));
    }
    EXPECT_EQ(SmsOptions().Prefix, ""); // nothing taken over while refused
    EXPECT_EQ(Field("TryCountEdit")->text(), QStringLiteral("три"));
    EXPECT_FALSE(FileExists(Data.dir().file("SmsOptions.ini")));

    Field("TryCountEdit")->setText(QStringLiteral(" 7 "));
    ASSERT_TRUE(PressOk());
    EXPECT_EQ(SmsOptions().MaxTryCount, 7);
    EXPECT_EQ(SmsOptions().ProxyPort, 8080);
    EXPECT_EQ(SmsOptions().Prefix, U("начало"));
    EXPECT_EQ(Ui.Calls.size(), 7u);
}

TEST_F(TOptionsDlgTest, FirstRunOpensOnConnectionAndTheMailboxFieldsCompose)
{
    ProgramOptions().FirstRun = true;
    OpenDialog();
    EXPECT_EQ(Field<QTabWidget>("PageControl")->currentWidget()->objectName(), QStringLiteral("ConnectionTS"));

    Field("SmtpPasswordEdit")->setText(QStringLiteral("secret"));
    Dialog->findChild<QPushButton*>("StdEmailGateButton")->click();
    EXPECT_EQ(Field<QComboBox>("SmtpHostEdit")->currentText(), TOptionsDlg::SmtpRelays()[1]);
    EXPECT_EQ(Field("SmtpUsernameEdit")->text(), QStringLiteral("qarvo"));
    EXPECT_EQ(Field("SmtpPasswordEdit")->text(), QString());
    EXPECT_EQ(Field<QComboBox>("EmailFromAddressEdit")->currentText(), QStringLiteral("qarvo") + TOptionsDlg::MailSuffixes()[1]);

    Field("SmtpUsernameEdit")->setText(QStringLiteral("  ivan  "));
    auto* from = Field<QComboBox>("EmailFromAddressEdit");
    from->setCurrentIndex(2);
    emit from->activated(2); // as a choice in the drop-down list
    EXPECT_EQ(from->currentText(), QStringLiteral("ivan") + TOptionsDlg::MailSuffixes()[2]);
    // A user name as long as the field takes still composes the whole address.
    const QString longName(64, QLatin1Char('u'));
    Field("SmtpUsernameEdit")->setText(longName);
    emit from->activated(2);
    EXPECT_EQ(from->currentText(), longName + TOptionsDlg::MailSuffixes()[2]);
}

TEST_F(TOptionsDlgTest, CancelLeavesBothStoresUntouchedAndOkWritesTheNewOptionsFile)
{
    OpenDialog();
    EXPECT_EQ(Field<QTabWidget>("PageControl")->currentWidget()->objectName(), QStringLiteral("SmsTS"));
    Field("OptionsFileEdit")->setText(QStringLiteral(" other.ini "));
    Field<QCheckBox>("HistoryCheckBox")->click();
    Dialog->reject();
    EXPECT_EQ(ProgramOptions().OptionsFileName, "SmsOptions.ini");
    EXPECT_TRUE(SmsOptions().HistoryFlag);
    EXPECT_FALSE(FileExists(ProgramSettingsFile()));

    OpenDialog();
    Field("OptionsFileEdit")->setText(QStringLiteral(" other.ini "));
    // A name typed without an extension gets the chosen filter's (here "*.ini").
    Ui.File(QStringLiteral("/chosen/книга"));
    Field<QToolButton>("AddressBookFileSB")->click();
    EXPECT_EQ(Field("AddressBookFileEdit")->text(), QStringLiteral("/chosen/книга.ini"));
    Ui.File(QStringLiteral("/chosen/book.ini"));
    Field<QToolButton>("AddressBookFileSB")->click();
    EXPECT_EQ(Field("AddressBookFileEdit")->text(), QStringLiteral("/chosen/book.ini"));
    Field<QComboBox>("SmtpSecurityComboBox")->setCurrentIndex(2);
    ASSERT_TRUE(PressOk());
    EXPECT_EQ(SmsOptions().SmtpSecurity, TSmtpSecurity::Tls);
    EXPECT_EQ(ProgramOptions().OptionsFileName, "other.ini");
    EXPECT_EQ(ProgramOptions().AddressBookFileName, "/chosen/book.ini");
    EXPECT_TRUE(FileExists(Data.dir().file("other.ini")));
    EXPECT_FALSE(FileExists(Data.dir().file("SmsOptions.ini")));
    TProgramOptions stored;
    stored.Load();
    EXPECT_EQ(stored.OptionsFileName, "other.ini");
}
