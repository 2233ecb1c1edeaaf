// The operators window's "Статус доставки" block: the fields show the stored
// settings and write back, the patterns are refused where they are typed
// when they do not compile, the Kannel box sets dlr-mask, and the file gets
// the keys only for the operator that has them.
#include "WindowFixture.h"
#include "engine/StdSmsSender.h"
#include "ui/dialogs/SmsSendersForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

TEST_F(TWindowTest, SendersFormDeliveryStatusBlockWritesBackAndChecksPatterns)
{
    auto* service = new TStdSmsSender;
    service->SetName(U("Сервис"));
    service->StatusPendingPattern = "ENROUTE";
    SmsManager().AddSmsSender(service);
    auto* plain = new TStdSmsSender;
    plain->SetName(U("Простой"));
    SmsManager().AddSmsSender(plain);
    TSmsSendersForm::Open(Main.get());
    TSmsSendersForm* form = TSmsSendersForm::Existing();
    ASSERT_NE(form, nullptr);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    auto* list = form->findChild<QTreeView*>("SmsSendersListView");
    ASSERT_TRUE(SelectRow(list, QStringLiteral("Сервис")));
    auto* pending = form->findChild<QLineEdit*>("StatusPendingPatternEdit");
    auto* idPattern = form->findChild<QLineEdit*>("StatusIdPatternEdit");
    auto* url = form->findChild<QLineEdit*>("StatusUrlEdit");
    auto* reports = form->findChild<QCheckBox*>("DlrReportsCheckBox");
    ASSERT_TRUE(pending && idPattern && url && reports);
    EXPECT_EQ(pending->text(), QStringLiteral("ENROUTE"));

    idPattern->setFocus();
    idPattern->setText(QStringLiteral("id=(\\w+"));
    list->setFocus();
    ASSERT_EQ(Ui.Calls.size(), 1u);
    EXPECT_TRUE(Ui.Calls.back().Text.startsWith(QStringLiteral("Ошибка в регулярном выражении")));
    EXPECT_EQ(service->StatusIdPattern, "");
    EXPECT_TRUE(idPattern->hasFocus());
    idPattern->setText(QStringLiteral("id=(\\w+)"));
    list->setFocus();
    EXPECT_EQ(service->StatusIdPattern, "id=(\\w+)");
    url->setText(QStringLiteral(" https://sms.example.net/status?id={id} "));
    EXPECT_EQ(service->StatusUrl, "https://sms.example.net/status?id={id}");
    reports->click();
    EXPECT_EQ(service->DlrMask, 31);
    reports->click();
    EXPECT_EQ(service->DlrMask, 0);

    ASSERT_TRUE(SelectRow(list, QStringLiteral("Простой")));
    EXPECT_EQ(pending->text(), QString());
    EXPECT_FALSE(reports->isChecked());
    reports->click();
    form->close(); // writes the file
    const std::string file = Data.dir().read("SmsGates.ini");
    std::string plainSection = file.substr(file.find(U("[SmsSender:TStdSmsSender:Простой]")));
    plainSection = plainSection.substr(0, plainSection.find("\r\n["));
    EXPECT_NE(plainSection.find("DlrMask=31"), std::string::npos) << file;
    EXPECT_EQ(plainSection.find("Status"), std::string::npos) << file;
    EXPECT_NE(file.find("StatusIdPattern=id=(\\w+)\r\nStatusUrl=https://sms.example.net/status?id={id}\r\n"),
              std::string::npos)
        << file;
    EXPECT_EQ(Ui.Calls.size(), 1u);
}
