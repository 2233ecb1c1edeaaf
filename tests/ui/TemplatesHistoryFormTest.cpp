#include "WindowFixture.h"
#include "model/SmsQueue.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SmsTemplatesForm.h"

#include <QListWidget>
#include <QPlainTextEdit>

class TTemplatesFormTest : public TWindowTest {
protected:
    void OpenForm()
    {
        TSmsTemplatesForm::Open(SmsManager().Templates, Main.get());
        Form = TSmsTemplatesForm::Existing();
        List = Form->findChild<QListWidget*>("TemplatesListBox");
    }
    std::string File() { return Data.dir().read("SmsTemplates.txt"); }

    TSmsTemplatesForm* Form = nullptr;
    QListWidget* List = nullptr;
};

TEST_F(TTemplatesFormTest, AddEditDeleteSaveTheFileAfterEachChange)
{
    Data.dir().write("SmsTemplates.txt", U("Перезвони\r\n"));
    OpenForm();
    ASSERT_EQ(List->count(), 1);

    Ui.Input(QString()).Input(QStringLiteral("Буду в 18:00"));
    EXPECT_TRUE(Trigger(Form, "AddTB"));
    EXPECT_EQ(File(), U("Перезвони\r\n\r\n")); // an empty template is a template
    EXPECT_TRUE(Trigger(Form, "AddTB"));
    EXPECT_EQ(File(), U("Перезвони\r\n\r\nБуду в 18:00\r\n"));
    EXPECT_EQ(List->item(2)->text(), QStringLiteral("Буду в 18:00"));

    List->setCurrentRow(0);
    Ui.Input(QStringLiteral("Перезвони мне"));
    EXPECT_TRUE(Trigger(Form, "EditTB"));
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Изменение шаблона SMS"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Перезвони")); // the prompt holds the old text
    EXPECT_EQ(File(), U("Перезвони мне\r\n\r\nБуду в 18:00\r\n"));

    List->setCurrentRow(2);
    Ui.No().Yes();
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_EQ(SmsManager().Templates.Count(), 3);
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Удалить выбранный шаблон SMS?"));
    EXPECT_EQ(File(), U("Перезвони мне\r\n\r\n"));
    EXPECT_EQ(List->count(), 2);
    // No row is selected now: edit, delete and insert do nothing and ask nothing.
    const size_t calls = Ui.Calls.size();
    int inserted = 0;
    SmsManager().Templates.OnInsertTemplate = [&](const std::string&) { ++inserted; };
    EXPECT_TRUE(Trigger(Form, "EditTB"));
    EXPECT_TRUE(Trigger(Form, "DeleteTB"));
    EXPECT_TRUE(Trigger(Form, "InsertTB"));
    EXPECT_EQ(Ui.Calls.size(), calls);
    EXPECT_EQ(inserted, 0);
}

TEST_F(TTemplatesFormTest, InsertHandsTheTemplateToTheComposerEachTime)
{
    Data.dir().write("SmsTemplates.txt", U("Привет\r\nПока\r\n"));
    std::string composer;
    SmsManager().Templates.OnInsertTemplate = [&](const std::string& text) { composer += text + "\r\n"; };
    // Restored as visible at start: the window binds to the manager's list itself.
    TSmsTemplatesForm::Instance(Main.get())->show();
    Form = TSmsTemplatesForm::Existing();
    List = Form->findChild<QListWidget*>("TemplatesListBox");
    ASSERT_EQ(List->count(), 2);
    List->setCurrentRow(1);
    EXPECT_TRUE(Trigger(Form, "InsertTB"));
    emit List->itemDoubleClicked(List->item(1));
    EXPECT_EQ(composer, U("Пока\r\nПока\r\n"));
    EXPECT_TRUE(Form->isVisible());
    EXPECT_TRUE(Trigger(Form, "CloseTB"));
    EXPECT_FALSE(Form->isVisible());
}

using TSmsHistoryFormTest = TWindowTest;

TEST_F(TSmsHistoryFormTest, ShowsTheFileAndClearsItOnlyWhenConfirmed)
{
    Data.dir().write("SmsHistory.txt", U("=====\r\nДля: Иван (123)\r\n"));
    QString shown;
    Ui.Dialog([&](QDialog& d) {
        auto* memo = d.findChild<QPlainTextEdit*>("SmsHistoryMemo");
        shown = memo->toPlainText();
        EXPECT_TRUE(Trigger(&d, "ClearTB")); // No: nothing changes
        EXPECT_EQ(memo->toPlainText(), shown);
        EXPECT_TRUE(Trigger(&d, "ClearTB"));
        EXPECT_TRUE(memo->toPlainText().isEmpty());
        EXPECT_TRUE(Trigger(&d, "CloseTB"));
    });
    Ui.No().Yes();
    TSmsHistoryForm::Execute(SmsManager().History, Main.get());
    EXPECT_EQ(shown, QStringLiteral("=====\nДля: Иван (123)"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm).size(), 2);
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), "");

    // Nothing recorded yet: the error is reported and no window opens.
    std::remove(Data.dir().file("SmsHistory.txt").c_str());
    const size_t calls = Ui.Calls.size();
    TSmsHistoryForm::Execute(SmsManager().History, Main.get());
    ASSERT_EQ(Ui.Calls.size(), calls + 1);
    EXPECT_EQ(Ui.Calls.back().Kind, TUiCallKind::Error);
    EXPECT_EQ(Ui.Calls.back().Title, QApplication::applicationDisplayName()); // the top-level report
}

// A history of more lines than one piece: the window runs while the rest is
// added, and what it ends up showing is the whole file, in order, once.
TEST_F(TSmsHistoryFormTest, ALongHistoryIsShownWholeAndAClearStopsTheRest)
{
    std::string file;
    QStringList expected;
    for (int i = 0; i < 45000; ++i) {
        file += U("Строка ") + std::to_string(i) + "\r\n";
        expected << QStringLiteral("Строка %1").arg(i);
    }
    Data.dir().write("SmsHistory.txt", file);
    TSmsHistoryForm form(SmsManager().History, Main.get());
    form.Fill();
    auto* memo = form.findChild<QPlainTextEdit*>("SmsHistoryMemo");
    EXPECT_TRUE(form.Filling());
    EXPECT_LT(memo->blockCount(), 45000);
    while (form.Filling())
        QCoreApplication::processEvents();
    EXPECT_TRUE(memo->toPlainText() == expected.join(QLatin1Char('\n')));
    EXPECT_EQ(memo->textCursor().position(), 0); // the view stayed at the start

    form.Fill();
    Ui.Yes();
    form.ClearTBClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.Filling());
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    EXPECT_EQ(Data.dir().read("SmsHistory.txt"), "");
}

// A failed delivery whose error has several lines (the gate's failure, the
// recipient, the cause): the file keeps the record's one "Ошибка:" line with
// its inner line breaks, and the window shows each as a line of its own.
TEST_F(TSmsHistoryFormTest, AnErrorOfSeveralLinesIsShownLineByLine)
{
    TContact contact;
    contact.SetName(U("Иван"));
    contact.PhoneNumber = "9161234503";
    TSms sms(&contact, "hi");
    sms.FinishAttempt(TSmsFailure {U("Не удалось отправить SMS через E-Mail шлюз.\r9161234503@sms.test\r"
                                     "SMTP сервер отказал в соединении (127.0.0.1:2525: Connection refused).")});
    SmsManager().History.AddSms(sms);
    EXPECT_NE(Data.dir().read("SmsHistory.txt").find(U("шлюз.\r9161234503@sms.test\rSMTP сервер")), std::string::npos);
    QStringList shown;
    Ui.Dialog([&](QDialog& d) {
        shown = d.findChild<QPlainTextEdit*>("SmsHistoryMemo")->toPlainText().split(QLatin1Char('\n'));
        EXPECT_TRUE(Trigger(&d, "CloseTB"));
    });
    TSmsHistoryForm::Execute(SmsManager().History, Main.get());
    const qsizetype at = shown.indexOf(QStringLiteral("Ошибка: Не удалось отправить SMS через E-Mail шлюз."));
    ASSERT_GE(at, 0) << shown.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(shown.value(at + 1), QStringLiteral("9161234503@sms.test"));
    EXPECT_EQ(shown.value(at + 2), QStringLiteral("SMTP сервер отказал в соединении (127.0.0.1:2525: Connection refused)."));
}
