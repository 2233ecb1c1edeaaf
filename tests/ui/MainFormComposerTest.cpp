// The main window's composer, send cycle, countdown, status texts, start-up and
// shut-down, driven offscreen against a temporary data folder.
#include "UiTestSupport.h"

#include "engine/ManagerFixture.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/SmsLink.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"
#include "ui/Notifier.h"
#include "ui/dialogs/SmsHistoryForm.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTimeEdit>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <filesystem>
#include <memory>

namespace {

class TMainFormComposer : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        SetProgramSettingsFolder(Data.dir().path() + "/settings");
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ResetTranslitTable();
        RegisterIoClasses();
    }
    void TearDown() override
    {
        if (Form)
            Form->close();
        Form.reset();
        ResetSmsManagerForTests();
        SetProgramSettingsFolder("");
        EXPECT_EQ(Ui.Unanswered, 0);
    }

    // Starts the window as the program does; `firstRun` false stores a key first.
    void Start(bool firstRun = false)
    {
        if (!firstRun) {
            TProgramOptions stored;
            stored.Load();
        }
        Form = std::make_unique<TMainForm>();
        Form->SetStartUpOnShow(true);
        Form->show();
        Memo = Form->findChild<TMessageMemo*>("MessageMemo");
        ASSERT_NE(Memo, nullptr);
    }

    // One contact (with a web-gate operator) added through the manager and picked as a recipient.
    TContact* AddRecipient(const std::string& name, const std::string& phone)
    {
        auto* contact = new TContact;
        contact->SetName(U(name));
        contact->PhoneNumber = phone;
        SmsManager().AddContact(contact);
        SmsManager().AddRecipientContact(contact);
        return contact;
    }

    // Queues one message to a new contact without an operator and lets the
    // queue window's timer deliver it: it fails for good (one attempt).
    void FailOneMessage(const std::string& name, const std::string& phone)
    {
        SmsOptions().MaxTryCount = 1;
        SmsOptions().HistoryFlag = true;
        SmsManager().ClearRecipients();
        AddRecipient(name, phone);
        SmsManager().QueueSms(U("Привет"));
        TSmsQueueForm* queue = Form->SmsQueueForm();
        QSignalSpy finished(queue, &TSmsQueueForm::SmsFinished);
        QMetaObject::invokeMethod(queue->findChild<QTimer*>("SenderTimer"), "timeout");
        ASSERT_TRUE(finished.wait(10000));
    }
    QString Label(const char* name) const { return Form->findChild<QLabel*>(name)->text(); }
    QAction* Action(const char* name) const { return Form->findChild<QAction*>(name); }
    QStringList ErrorTexts() const { return Ui.Texts(TUiCallKind::Error); }

    TScopedDataDir Data;
    TUiScript Ui;
    std::unique_ptr<TMainForm> Form;
    TMessageMemo* Memo = nullptr;
};

TEST(ComposerRules, MessageTextAndCounter)
{
    EXPECT_EQ(ComposedMessageText(" \t ab\r\ncd\r\n "), "ab cd"); // a line break is one blank
    EXPECT_EQ(ComposedMessageText("\r\n"), "");
    EXPECT_EQ(CharCounterText(0), "0 (0 SMS)");
    EXPECT_EQ(CharCounterText(160), "160 (1 SMS)");
    EXPECT_EQ(CharCounterText(161), "161 (2 SMS)");
}

TEST_F(TMainFormComposer, TypingCountsTheSentTextAndStopsAt480ButOtherTextDoesNot)
{
    Start();
    Memo->SetText("");
    Memo->setFocus();
    TypeText(Memo, QStringLiteral("  ab"));
    QTest::keyClick(Memo, Qt::Key_Return);
    TypeText(Memo, QStringLiteral("cd "));
    EXPECT_EQ(Memo->Text(), "  ab\r\ncd ");
    EXPECT_EQ(Form->MessageText(), "ab cd");
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("5 (1 SMS)"));

    // Typing: 478 characters, then a line break (two) fits, a letter no more.
    Memo->SetText(std::string(478, 'x'));
    Memo->moveCursor(QTextCursor::End);
    QTest::keyClick(Memo, Qt::Key_Return);
    TypeText(Memo, QStringLiteral("я"));
    EXPECT_EQ(Memo->Length(), 480);
    // Paste is cut at the limit; a selection makes room.
    Memo->SetText(std::string(470, 'x'));
    Memo->moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(QStringLiteral("0123456789ABCDEF"));
    Memo->paste();
    EXPECT_EQ(Memo->Text(), std::string(470, 'x') + "0123456789");
    Memo->selectAll();
    Memo->paste();
    EXPECT_EQ(Memo->Text(), "0123456789ABCDEF");

    // A template, a new message or transliteration may go past 480.
    Memo->SetText(std::string(479, 'x'));
    Memo->moveCursor(QTextCursor::End);
    Form->InsertTemplateText(U("Шаблон"));
    EXPECT_EQ(Memo->Length(), 479 + 6 + 2);
    SmsOptions().Prefix = std::string(500, 'p');
    Form->NewMessage();
    EXPECT_EQ(Memo->Length(), 500);
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("500 (4 SMS)"));
}

// The cost line follows the text, the recipients and the transliteration switch.
TEST_F(TMainFormComposer, CostLineFollowsTextRecipientsAndTransliteration)
{
    Start();
    auto sender = [](const char* name, const char* charset, int maxLen) {
        auto* op = new TStdSmsSender;
        op->SetName(U(name));
        op->Charset = charset;
        op->MaxSmsLen = maxLen;
        SmsManager().AddSmsSender(op);
        return op;
    };
    TStdSmsSender* koi = sender("Кои", "KOI8-R", 160);
    TStdSmsSender* utf = sender("Юникод", "UTF-8", 0);
    auto contact = [](const char* name, TSmsSender* op) {
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = "+7900";
        c->SmsSender = op;
        SmsManager().AddContact(c);
        return c;
    };
    auto cost = [&] {
        QTest::qWait(0); // the line is recomputed once the burst of changes is over
        QApplication::processEvents();
        return Label("SmsCostLabel");
    };
    // Nobody picked: one recipient by the default rules; 161 letters are three UCS-2 SMS.
    Memo->SetText(std::string(161, U("д")[0]));
    EXPECT_EQ(cost(), QStringLiteral("Получатели не выбраны; сообщение займёт 3 SMS\nтранслитом: 2 SMS"));
    // Two pieces with headers through KOI8-R at 160: 4 SMS; one piece at UTF-8: 3.
    Form->AddContactToRecipients(contact("Анна", koi));
    Form->AddContactToRecipients(contact("Борис", utf));
    EXPECT_EQ(cost(), QStringLiteral("Будет отправлено: 7 SMS получателям: 2\nтранслитом: 4 SMS"));
    EXPECT_TRUE(Form->findChild<QLabel*>("SmsCostLabel")->toolTip().contains(QStringLiteral("«Кои»: 1 получатель × 4 SMS")));
    EXPECT_EQ(Action("TranslitAction")->toolTip(), QStringLiteral("Транслитерация: 4 SMS вместо 7"));
    // The switch down: the text will go transliterated.
    Action("TranslitAction")->trigger();
    EXPECT_EQ(cost(), QStringLiteral("Будет отправлено: 4 SMS получателям: 2"));
    Action("TranslitAction")->trigger();
    // A Ukrainian letter KOI8-R cannot carry is said and marked in the field.
    Memo->SetText(U("Їжак"));
    EXPECT_EQ(cost(), QStringLiteral("Будет отправлено: 2 SMS получателям: 2\n1 символ не передаётся оператором «Кои»"));
    ASSERT_EQ(Memo->extraSelections().size(), 1);
    EXPECT_EQ(Memo->extraSelections()[0].cursor.selectionStart(), 0);
    Form->EmptyRecipientList();
    EXPECT_TRUE(cost().startsWith(QStringLiteral("Получатели не выбраны; сообщение займёт 1 SMS")));
}

// An "sms:" link opens exactly its own message. What the user put in the
// composer is replaced only after the question; what an earlier link put
// there goes without one. A link that names no number opens nothing and says
// why; a body alone fills the text; a body's characters CP1251 lacks are marked.
TEST_F(TMainFormComposer, AnSmsLinkOpensItsOwnMessageAndAsksBeforeReplacingTheUsers)
{
    Start();
    TContact* anna = AddRecipient("Анна", "+7 916 123-45-01");
    TContact* vera = AddRecipient("Вера", "9161234502");
    Form->EmptyRecipientList();
    const auto open = [&](const char* text) {
        TSmsLink link;
        ParseSmsLink(text, link);
        Guard([&] { Form->OpenSmsLink(link); }); // as the program opens its links
        QTest::qWait(0);
        QApplication::processEvents();
    };
    const auto recipients = [] {
        std::vector<TContact*> list;
        for (TContact* c : SmsManager().Recipients.Contacts)
            list.push_back(c);
        return list;
    };
    const auto text = [&] { return Memo->toPlainText(); };
    const auto confirms = [&] { return Ui.Texts(TUiCallKind::Confirm).size(); };

    open("sms:89161234501?body=%D0%90%D0%BD%D0%BD%D0%B5");
    EXPECT_EQ(recipients(), std::vector<TContact*> {anna});
    EXPECT_EQ(text(), QStringLiteral("Анне"));
    open("sms:+79161234502?body=%D0%92%D0%B5%D1%80%D0%B5"); // the first link's message, untouched: no question
    EXPECT_EQ(recipients(), std::vector<TContact*> {vera});
    EXPECT_EQ(text(), QStringLiteral("Вере"));
    EXPECT_EQ(confirms(), 0u);

    Memo->moveCursor(QTextCursor::End);
    TypeText(Memo, QStringLiteral(", привет"));
    Ui.No();
    open("sms:89161234501?body=x");
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm), QStringList {QStringLiteral("Заменить текущее сообщение?")});
    EXPECT_EQ(recipients(), std::vector<TContact*> {vera});
    EXPECT_EQ(text(), QStringLiteral("Вере, привет"));
    Ui.Yes();
    open("sms:89161234501?body=x");
    EXPECT_EQ(recipients(), std::vector<TContact*> {anna});
    EXPECT_EQ(text(), QStringLiteral("x"));

    Form->AddContactToRecipients(vera); // the user's own pick
    Ui.Yes();
    open("sms:?body=%D0%A2%D0%BE%D0%BB%D1%8C%D0%BA%D0%BE%20%D1%82%D0%B5%D0%BA%D1%81%D1%82");
    EXPECT_EQ(confirms(), 3u);
    EXPECT_EQ(recipients(), std::vector<TContact*> {});
    EXPECT_EQ(text(), QStringLiteral("Только текст"));

    open("sms:hello?body=x"); // letters for a number: nothing opens, the reason is said
    open("sms:%2C,112");
    EXPECT_EQ(ErrorTexts(), (QStringList {
                                QStringLiteral("Ссылка sms: не открыта: «hello» - не номер телефона (номер - это цифры, "
                                               "возможно с «+» в начале)."),
                                QStringLiteral("Ссылка sms: не открыта: «,» - не номер телефона (номер - это цифры, "
                                               "возможно с «+» в начале).")}));
    EXPECT_EQ(text(), QStringLiteral("Только текст"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Dialog), QStringList {}); // no new-contact editor

    open("sms:+79161234501?body=%F0%9F%98%80%20ok"); // an emoji: kept and marked, not a bare "?"
    EXPECT_EQ(text(), QStringLiteral("😀 ok"));
    ASSERT_EQ(Memo->extraSelections().size(), 1);
    EXPECT_EQ(Memo->extraSelections()[0].cursor.selectionStart(), 0);
    EXPECT_TRUE(Label("SmsCostLabel").contains(QStringLiteral("1 символ нельзя отправить"))) << Label("SmsCostLabel").toStdString();
    open("sms:+79161234501?body=%CF%F0%E8%E2%E5%F2"); // a CP1251 page's link
    EXPECT_EQ(text(), QStringLiteral("Привет"));
    EXPECT_EQ(confirms(), 3u);
}

// "Отправить позже...": a past moment is refused and changes nothing; a
// future one queues at once, and the queue row says when it goes.
TEST_F(TMainFormComposer, SendLaterRefusesThePastAndQueuesForTheChosenTime)
{
    Start();
    AddRecipient("Анна", "+79990001122");
    Memo->SetText("hello");
    auto later = Form->findChild<QAction*>("SendLaterAction"); // the arrow's item, also in the menu
    ASSERT_NE(later, nullptr);
    Ui.Dialog([](QDialog& d) {
        d.findChild<QDateTimeEdit*>("SendTimeEdit")->setDateTime(QDateTime(QDate(2001, 1, 1), QTime(9, 0)));
        d.accept();
    });
    later->trigger();
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList {QStringLiteral("Время отправки уже прошло: выберите время в будущем.")});
    EXPECT_EQ(SmsManager().Queue.Count(), 0);
    EXPECT_EQ(Memo->Text(), "hello");

    QDateTime chosen;
    Ui.Dialog([&](QDialog& d) {
        auto* edit = d.findChild<QDateTimeEdit*>("SendTimeEdit");
        EXPECT_EQ(edit->dateTime().time().minute(), 0); // the next full hour
        EXPECT_GT(edit->dateTime(), QDateTime::currentDateTime());
        chosen = edit->dateTime().addDays(1);
        edit->setDateTime(chosen);
        d.accept();
    });
    later->trigger();
    ASSERT_EQ(SmsManager().Queue.Count(), 1);
    EXPECT_TRUE(SmsManager().Queue.Items(0)->Scheduled);
    EXPECT_TRUE(TSmsQueueForm::RowText(*SmsManager().Queue.Items(0))
                    .contains(QStringLiteral("Отправить: ") + chosen.toString(QStringLiteral("dd.MM.yyyy HH:mm"))));
    EXPECT_FALSE(Action("SendSmsAction")->isEnabled()); // the countdown as after any send
    Ui.Yes(); // the close asks about the queued message
}

TEST_F(TMainFormComposer, TemplateGoesInAtTheCaretWithALineBreakAndTheCaretAfterIt)
{
    Start();
    Memo->SetText("abcd");
    Memo->SetSelStart(2);
    SmsManager().Templates.Add(U("Привет"));
    SmsManager().Templates.InsertTemplate(0); // the templates list's notification, installed at start-up
    EXPECT_EQ(Memo->Text(), U("abПривет\r\ncd"));
    EXPECT_EQ(Memo->SelStart(), 2 + 6 + 2); // at the start of the following text
    EXPECT_EQ(Memo->textCursor().block().text(), QStringLiteral("cd"));
    EXPECT_TRUE(Memo->hasFocus() || !Form->isActiveWindow());

    // A selection is not replaced: the template goes in before it.
    Memo->SetText("abcd");
    QTextCursor select = Memo->textCursor();
    select.setPosition(1);
    select.setPosition(3, QTextCursor::KeepAnchor);
    Memo->setTextCursor(select);
    Form->InsertTemplateText("T");
    EXPECT_EQ(Memo->Text(), "aT\r\nbcd");
}

TEST_F(TMainFormComposer, NewMessageTakesPrefixAndSuffix)
{
    Start();
    SmsOptions().Prefix = U("  Здравствуйте! ");
    SmsOptions().Suffix = U(" Иван\r\n");
    Form->NewMessage();
    EXPECT_EQ(Memo->Text(), U("Здравствуйте!\r\nИван"));
    EXPECT_EQ(Memo->SelStart(), 0);
    SmsOptions().Prefix = " ";
    Form->NewMessage();
    EXPECT_EQ(Memo->Text(), U("Иван"));
    SmsOptions().Suffix = "";
    Form->NewMessage();
    EXPECT_EQ(Memo->Text(), "");
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("0 (0 SMS)"));
}

TEST_F(TMainFormComposer, TemplatesMenuShowsTwentyItemsCutAt32Characters)
{
    Start();
    TSmsTemplateList& templates = SmsManager().Templates;
    templates.Add(std::string(32, 'a'));
    templates.Add(std::string(33, 'b'));
    templates.Add("R&D");
    for (int i = 3; i < 21; ++i)
        templates.Add("t" + std::to_string(i));
    auto* menu = Form->findChild<QMenu*>("TemplatesPopupMenu");
    emit menu->aboutToShow();
    QStringList shown;
    for (QAction* item : menu->actions())
        if (item->isVisible() && item->objectName().startsWith(QStringLiteral("Template")))
            shown << item->text();
    ASSERT_EQ(shown.size(), 20);
    EXPECT_EQ(shown[0], QString(32, 'a'));
    EXPECT_EQ(shown[1], QString(32, 'b') + "...");
    EXPECT_EQ(shown[2], QStringLiteral("R&&D")); // "&" shown as itself
    EXPECT_EQ(shown[19], QStringLiteral("t19"));
    EXPECT_EQ(menu->actions()[16]->objectName(), QStringLiteral("Template92"));

    // Fewer templates hide the rest; an item inserts its own template.
    templates.Clear();
    templates.Add("one");
    emit menu->aboutToShow();
    EXPECT_FALSE(menu->actions()[1]->isVisible());
    Memo->SetText("");
    menu->actions()[0]->trigger();
    EXPECT_EQ(Memo->Text(), "one\r\n");
}

// "{name}" and "{phone}": each recipient's message is its own; the counter and
// the cost take the longest; the templates menu inserts the fields.
TEST_F(TMainFormComposer, FieldsAreFilledInPerRecipientWhenSendIsPressed)
{
    Start();
    auto* op = new TStdSmsSender;
    op->SetName("Op");
    op->MaxSmsLen = 0;
    SmsManager().AddSmsSender(op);
    auto contact = [&](const char* name, const char* phone) {
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = phone;
        c->SmsSender = op;
        SmsManager().AddContact(c);
        Form->AddContactToRecipients(c);
    };
    contact("Анна", "+79990001122");
    contact("Борис Николаевич", "8 (999) 000-33-44");
    Form->SmsQueueForm()->Pause();
    Memo->SetText("");
    Memo->setFocus();
    TypeText(Memo, QStringLiteral("Привет, {name}!"));
    QTest::qWait(0);
    QApplication::processEvents();
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("25 (1 SMS)")); // "Привет, Борис Николаевич!"

    auto* send = Form->findChild<QToolButton*>("SendButton");
    QTest::mouseClick(send, Qt::LeftButton, {}, QPoint(6, send->height() / 2));
    ASSERT_EQ(SmsManager().Queue.Count(), 2);
    EXPECT_EQ(SmsManager().Queue.Items(0)->Text, U("Привет, Анна!"));
    EXPECT_EQ(SmsManager().Queue.Items(1)->Text, U("Привет, Борис Николаевич!"));
    EXPECT_EQ(Memo->Text(), U("Привет, {name}!")); // the composer keeps the fields

    // The templates menu's fields go in at the caret.
    auto* menu = Form->findChild<QMenu*>("TemplatesPopupMenu");
    emit menu->aboutToShow();
    auto* fields = Form->findChild<QMenu*>("InsertFieldMenu");
    ASSERT_NE(fields, nullptr);
    EXPECT_EQ(fields->menuAction()->text(), QStringLiteral("&Вставить поле"));
    Memo->SetSelStart(static_cast<int>(U("Привет, {name}").size()));
    Form->findChild<QAction*>("InsertPhoneFieldAction")->trigger();
    TypeText(Memo, QStringLiteral(" "));
    Form->findChild<QAction*>("InsertNameFieldAction")->trigger();
    EXPECT_EQ(Memo->Text(), U("Привет, {name}{phone} {name}!"));
    EXPECT_TRUE(Memo->hasFocus() || !Form->isActiveWindow());

    // 150 Latin letters and the name: 152 characters for Al (one SMS), 170
    // for the long name (two); the counter shows the longer.
    Form->EmptyRecipientList();
    SmsManager().Contacts()[0]->SetName("Al");
    SmsManager().Contacts()[1]->SetName(std::string(20, 'B'));
    Form->AddContactToRecipients(SmsManager().Contacts()[0]);
    Form->AddContactToRecipients(SmsManager().Contacts()[1]);
    Memo->SetText(std::string(150, 'x') + "{name}");
    QTest::qWait(0);
    QApplication::processEvents();
    EXPECT_EQ(Label("CharCounterLabel"), QStringLiteral("170 (2 SMS)"));
    EXPECT_EQ(Label("SmsCostLabel"), QStringLiteral("Будет отправлено: 3 SMS получателям: 2"));
    // The tooltip's arithmetic adds up: not "2 получателя × 2 SMS" for a total of 3.
    const QString tip = Form->findChild<QLabel*>("SmsCostLabel")->toolTip();
    EXPECT_TRUE(tip.contains(QStringLiteral(": 3 SMS на 2 получателей (до 2 SMS на одного)"))) << tip.toStdString();
    Ui.Yes(); // the close asks about the queued messages
}

// With transliteration on, the names go out transliterated like the rest.
TEST_F(TMainFormComposer, TransliteratedSendTransliteratesTheNamesToo)
{
    Start();
    AddRecipient("Анна", "+79990001122");
    Form->SmsQueueForm()->Pause();
    Action("TranslitAction")->trigger();
    Memo->SetText(U("Привет, {name}!"));
    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    ASSERT_EQ(SmsManager().Queue.Count(), 1);
    EXPECT_EQ(SmsManager().Queue.Items(0)->Text, "Privet, Anna!");
    Ui.Yes(); // the close asks about the queued message
}

TEST_F(TMainFormComposer, RefusedSendsShowTheirMessageAndStartNoCountdown)
{
    Start();
    auto* timer = Form->findChild<QTimer*>("DelayTimer");
    Memo->SetText(" \r\n ");
    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    Memo->SetText(U("Текст"));
    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    // Groups that expand to nobody: the manager refuses, the transliteration stays.
    auto* empty = new TGroup(false);
    empty->SetName(U("Пустая"));
    SmsManager().AddGroup(empty);
    SmsManager().AddRecipientGroup(empty);
    Action("TranslitAction")->trigger();
    EXPECT_TRUE(SmsOptions().TranslitFlag);
    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    EXPECT_EQ(ErrorTexts(), (QStringList {QStringLiteral("Не указан текст сообщения."),
                                          QStringLiteral("Список адресатов пуст."),
                                          QStringLiteral("Список адресатов пуст.")}));
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Ошибка"));
    EXPECT_EQ(Memo->Text(), "Tekst");
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(Action("SendSmsAction")->isEnabled());
    EXPECT_EQ(SmsManager().Queue.Count(), 0);
}

TEST_F(TMainFormComposer, SendQueuesShowsTheCountAndCountsDownSixteenTicks)
{
    Start();
    AddRecipient("Анна", "+79990001122");
    AddRecipient("Борис", "+79990003344");
    SmsOptions().ClearRecepientsAfterSendFlag = true;
    SmsOptions().Suffix = U("Иван");
    Memo->SetText(U("Встреча в 10"));
    auto* timer = Form->findChild<QTimer*>("DelayTimer");
    QSignalSpy changed(Form->SmsQueueForm(), &TSmsQueueForm::QueueChanged);
    Form->SmsQueueForm()->Pause();

    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    EXPECT_EQ(SmsManager().Queue.Count(), 2);
    EXPECT_EQ(SmsManager().Queue.Items(0)->Text, U("Встреча в 10"));
    EXPECT_EQ(SmsManager().Recipients.Contacts.Count(), 0); // its flag was set
    EXPECT_EQ(Memo->Text(), U("Встреча в 10"));              // its flag was not
    EXPECT_GE(changed.count(), 2);
    EXPECT_EQ(Label("SmsInfoLabel"), QStringLiteral("В очереди 2 SMS (рассылка приостановлена)"));
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Velotext (2)"));

    // The label stays as it was until the first tick, then reads 14 down to 0.
    EXPECT_TRUE(timer->isActive());
    EXPECT_FALSE(Action("SendSmsAction")->isEnabled());
    EXPECT_EQ(Label("SecondsLeftLabel"), QString());
    Ui.Calls.clear();
    Form->findChild<QWidget*>("SendButton")->setFocus();
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier); // Ctrl+S is the disabled action too
    EXPECT_EQ(SmsManager().Queue.Count(), 2);
    for (int tick = 1; tick <= 15; ++tick) {
        Form->DelayTimerTimer();
        EXPECT_EQ(Label("SecondsLeftLabel"), QStringLiteral("Следующее SMS можно отослать через %1 сек.").arg(15 - tick));
        EXPECT_FALSE(Action("SendSmsAction")->isEnabled()) << tick;
    }
    Form->DelayTimerTimer(); // the sixteenth
    EXPECT_TRUE(Action("SendSmsAction")->isEnabled());
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(Label("SecondsLeftLabel"), QString());

    // The queue empties: the caption loses the count; failures show in maroon.
    SmsManager().ClearQueue();
    SmsManager().Queue.FailedCount = 3;
    Form->UpdateStatus();
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Velotext"));
    EXPECT_EQ(Label("SmsInfoLabel"), QStringLiteral("Сообщение: (рассылка приостановлена)"));
    EXPECT_EQ(Label("SmsErrorLabel"),
              QStringLiteral("<a href=\"failed\" style=\"color: #800000\">Не удалось отправить 3 SMS</a>"));
    EXPECT_TRUE(Ui.Calls.empty());
}

// Why the queue waits, in its own label, with the exact moment: quiet hours
// (until tomorrow: with the date), a chosen time, an operator's pause and
// daily limit after one attempt, the pause, messages held after a restart.
TEST_F(TMainFormComposer, TheStatusSaysWhyTheQueueWaitsAndUntilWhen)
{
    SetClock([] { return TDateTime {2026, 2, 1, 23, 0, 0}; });
    SetWaiter([](int) {});
    Start();
    TSmsManager& m = SmsManager();
    auto script = std::make_shared<TSendScript>();
    const auto contact = [&](const char* name, int interval, int daily) {
        auto* sender = new TFakeSender(script, U(name));
        sender->MinSendInterval = interval;
        sender->DailyLimit = daily;
        m.AddSmsSender(sender);
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = "+7916000000" + std::to_string(m.Contacts().Count());
        c->SmsSender = sender;
        m.AddContact(c);
        return c;
    };
    const auto queue = [&](TContact* c, long long notBefore = 0) {
        m.ClearRecipients();
        m.AddRecipientContact(c);
        m.QueueSms("x", notBefore);
    };
    const auto state = [&] {
        Form->UpdateStatus();
        return Label("QueueStateLabel");
    };
    EXPECT_EQ(state(), QString());

    queue(contact("Срочно", 0, 0), LocalSeconds(TDateTime {2026, 2, 2, 15, 30, 0}));
    EXPECT_EQ(state(), QStringLiteral("Следующее SMS уйдёт в назначенное время: 02.02.2026 15:30."));
    SmsOptions().QuietFrom = 21 * 60;
    SmsOptions().QuietTo = 9 * 60;
    EXPECT_EQ(state(), QStringLiteral("Тихие часы: отправка с 02.02.2026 09:00."));
    SmsOptions().QuietFrom = SmsOptions().QuietTo = -1;

    TContact* slow = contact("Медленный", 600, 0);
    queue(slow);
    queue(slow);
    ASSERT_TRUE(m.SendNext()); // one attempt: the next one waits for the operator
    EXPECT_EQ(state(), QStringLiteral("Пауза оператора «Медленный» до 23:10:00."));
    m.ClearQueue();
    TContact* few = contact("Скупой", 0, 1);
    queue(few);
    queue(few);
    ASSERT_TRUE(m.SendNext());
    EXPECT_EQ(state(), QStringLiteral("Суточный лимит оператора «Скупой» исчерпан: отправка с 02.02.2026 00:00."));

    EXPECT_EQ(m.HoldRestored(LocalSeconds(Now()) + 86400).Overdue, 1); // as a start the next day holds it
    EXPECT_EQ(state(), QStringLiteral("Восстановлено после перезапуска и ждёт вашего решения: 1 SMS (окно очереди, "
                                      "кнопка «Отправить»)."));
    EXPECT_TRUE(Trigger(Form.get(), "PauseAction"));
    EXPECT_TRUE(state().startsWith(QStringLiteral("Рассылка приостановлена: нажмите «Старт» в окне очереди.")));
    // Whole at the smallest width: wrapped, never cut.
    Form->resize(640, 480);
    QApplication::processEvents();
    auto* label = Form->findChild<QLabel*>("QueueStateLabel");
    EXPECT_TRUE(label->wordWrap());
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    m.ClearQueue(); // the close asks nothing
    SetClock(nullptr);
    SetWaiter(nullptr);
}

TEST_F(TMainFormComposer, StartAndPauseActionsShowOneAtATime)
{
    Start();
    EXPECT_TRUE(Action("PauseAction")->isVisible());
    EXPECT_FALSE(Action("StartAction")->isVisible());
    EXPECT_TRUE(Trigger(Form.get(), "PauseAction"));
    EXPECT_TRUE(Form->SmsQueueForm()->Paused());
    EXPECT_TRUE(Action("StartAction")->isVisible());
    EXPECT_FALSE(Action("PauseAction")->isVisible());
    EXPECT_TRUE(Label("SmsInfoLabel").endsWith(QStringLiteral(" (рассылка приостановлена)")));
    EXPECT_TRUE(Trigger(Form.get(), "StartAction"));
    EXPECT_FALSE(Form->SmsQueueForm()->Paused());
    EXPECT_EQ(Label("SmsInfoLabel"), QStringLiteral("Сообщение:"));
}

TEST_F(TMainFormComposer, ClosingWithQueuedMessagesAsksAndNoKeepsEverything)
{
    Start();
    AddRecipient("Анна", "+79990001122");
    Form->SmsQueueForm()->Pause();
    Memo->SetText("hello");
    EXPECT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    Ui.No();
    EXPECT_FALSE(Form->close());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(SmsManager().Queue.Count(), 1);
    EXPECT_EQ(Ui.Calls.back().Text,
              QStringLiteral("ВНИМАНИЕ! В очереди сообщений есть неотправленные SMS.\r"
                             "Они останутся в очереди до следующего запуска программы.\r\rВыйти из программы?"));
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Подтверждение"));
    Ui.Yes();
    EXPECT_TRUE(Form->close());
    // The address book was written at the close.
    EXPECT_NE(Data.dir().read("SmsAddressBook.ini").find(U("Анна")), std::string::npos);
}

TEST_F(TMainFormComposer, FirstRunOpensTheOptionsDialogOnItsConnectionPage)
{
    QString page;
    QString firstLine;
    Ui.Dialog([&](QDialog& dialog) {
        auto* tabs = dialog.findChild<QTabWidget*>();
        page = tabs ? tabs->tabText(tabs->currentIndex()) : QString();
        auto* line = dialog.findChild<QLabel*>("FirstRunLabel");
        firstLine = line && line->isVisible() ? line->text() : QString();
        dialog.reject();
    });
    Start(true);
    QApplication::processEvents(); // the dialog opens once the window is shown
    ASSERT_EQ(Ui.Calls.size(), 1u);
    EXPECT_EQ(Ui.Calls[0].Kind, TUiCallKind::Dialog);
    EXPECT_EQ(Ui.Calls[0].Text, QStringLiteral("OptionsDlg"));
    EXPECT_EQ(page, QStringLiteral("Соединение"));
    // One line says what to fill in first and why; the built-in mailbox's address is explained.
    EXPECT_TRUE(firstLine.startsWith(QStringLiteral("Сначала укажите почтовый ящик"))) << firstLine.toStdString();
    EXPECT_TRUE(firstLine.contains(QStringLiteral("qarvo@mail.ru")));
    // The key is stored now: the next start is not a first one.
    ResetProgramOptionsForTests();
    ProgramOptions().Load();
    EXPECT_FALSE(ProgramOptions().FirstRun);
}

TEST_F(TMainFormComposer, AFailedStartIsCriticalAndWritesNoFileBack)
{
    // Two contacts of one name: the address book cannot load.
    const std::string broken = U("[Contact:TContact:А]\r\nContactId=1\r\nName=Анна\r\nPhoneNumber=1\r\n"
                                 "[Contact:TContact:Б]\r\nContactId=2\r\nName=Анна\r\nPhoneNumber=2\r\n");
    Data.dir().write("SmsAddressBook.ini", broken);
    Start();
    ASSERT_EQ(ErrorTexts().size(), 1);
    EXPECT_TRUE(ErrorTexts()[0].startsWith(QStringLiteral("Критическая ошибка:\r\r")));
    EXPECT_TRUE(ErrorTexts()[0].endsWith(QStringLiteral("\r\rДействие не может быть выполнено.")));
    EXPECT_FALSE(Form->StartupState().Complete());
    QTest::qWait(0); // the close posted by the start-up runs
    QApplication::processEvents();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_EQ(Data.dir().read("SmsAddressBook.ini"), broken);
}

TEST_F(TMainFormComposer, AnAddressBookSavedAsUtf16StopsTheStartAndStaysAsItWas)
{
    // What an editor's "Save as Unicode" makes of a book of twenty contacts.
    std::string book;
    for (int i = 0; i < 20; ++i)
        book += U("[Contact:TContact:Абонент ") + std::to_string(i) + U("]\r\nName=Абонент ") + std::to_string(i) +
                "\r\nPhoneNumber=+7912000000" + std::to_string(i % 10) + "\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : Cp1251ToUtf16(book)) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    Data.dir().write("SmsAddressBook.ini", utf16);
    Start();
    ASSERT_EQ(ErrorTexts().size(), 1);
    EXPECT_TRUE(ErrorTexts()[0].contains(QStringLiteral("SmsAddressBook.ini"))) << ErrorTexts()[0].toStdString();
    EXPECT_TRUE(ErrorTexts()[0].contains(QStringLiteral("UTF-16"))) << ErrorTexts()[0].toStdString();
    QTest::qWait(0); // the close posted by the start-up runs
    QApplication::processEvents();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Data.dir().read("SmsAddressBook.ini") == utf16);
    EXPECT_FALSE(std::filesystem::exists(Data.dir().file("SmsAddressBook.ini.bak")));
}

TEST_F(TMainFormComposer, AManagerThatCannotStartGivesOneCriticalBoxOnly)
{
    std::filesystem::create_directory(Data.dir().file("SmsTemplates.txt")); // the templates cannot load
    Data.dir().write("SmsAddressBook.ini", "keep");
    Start();
    QApplication::processEvents(); // the close posted by the start-up runs
    EXPECT_FALSE(Form->isVisible());
    ASSERT_EQ(ErrorTexts().size(), 1) << ErrorTexts().join(QStringLiteral(" || ")).toStdString(); // the close neither saves nor creates anything
    EXPECT_TRUE(ErrorTexts()[0].startsWith(QStringLiteral("Критическая ошибка:\r\r")));
    EXPECT_EQ(Data.dir().read("SmsAddressBook.ini"), "keep");
}

TEST_F(TMainFormComposer, WithoutATrayHostMinimizingNeverHidesTheWindow)
{
    SmsOptions().MinimizeToTrayFlag = true;
    Start();
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable()); // offscreen: no tray host
    EXPECT_FALSE(Form->TrayIcon()->isVisible());
    Form->showMinimized();
    QApplication::processEvents();
    EXPECT_FALSE(Form->HiddenToTray());
    // A double-click comes as Trigger then DoubleClick: one toggle, not two.
    Form->showNormal();
    Form->TrayIconActivated(QSystemTrayIcon::Trigger);
    Form->TrayIconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(Form->isMinimized());
    EXPECT_FALSE(Form->HiddenToTray());
}

} // namespace

namespace {

// The history window once every record is read, or nullptr when not shown.
TSmsHistoryForm* ShownHistory()
{
    TSmsHistoryForm* form = TSmsHistoryForm::Existing();
    if (!form || !form->isVisible())
        return nullptr;
    while (form->Filling())
        QCoreApplication::processEvents();
    return form;
}

QString SelectedHistoryCell(TSmsHistoryForm* form, int column)
{
    auto* list = form->findChild<QTreeView*>("HistoryListView");
    return list->model()->index(list->currentIndex().row(), column).data().toString();
}

} // namespace

// The failure count is a link to the failures in the history; it counts the
// failures since the history was last opened.
TEST_F(TMainFormComposer, FailureCountLinksToTheFailuresAndRestartsWhenTheHistoryOpens)
{
    Start();
    FailOneMessage("Анна", "101");
    FailOneMessage("Борис", "102");
    auto* label = Form->findChild<QLabel*>("SmsErrorLabel");
    EXPECT_TRUE(label->text().contains(QStringLiteral("Не удалось отправить 2 SMS")));
    emit label->linkActivated(QStringLiteral("failed"));
    TSmsHistoryForm* history = ShownHistory();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->findChild<QCheckBox*>("FailedOnlyCheckBox")->isChecked());
    EXPECT_EQ(history->Shown().size(), 2u);
    EXPECT_EQ(SmsManager().Queue.FailedCount, 0);
    EXPECT_TRUE(label->text().isEmpty());
    FailOneMessage("Вера", "103");
    EXPECT_TRUE(label->text().contains(QStringLiteral("Не удалось отправить 1 SMS")));
}

// Run by the ui_notifications test under dbus-run-session: a recording
// notification service on the private bus receives the failure, naming the
// contact and the error, and its click opens the history at that record.
TEST_F(TMainFormComposer, OnAPrivateBusAFailureIsNotifiedAndItsClickOpensTheHistoryAtIt)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_BUS"))
        GTEST_SKIP() << "needs the private session bus of the ui_notifications test";
    const std::string log = Data.dir().file("notifications.log");
    QProcess recorder;
    recorder.start(QStringLiteral(VELOTEXT_NOTIFY_RECORDER), {QString::fromStdString(log)});
    ASSERT_TRUE(QTest::qWaitFor([] {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications")).value();
    }, 10000));
    Start();
    SmsOptions().AlertOnErrorsFlag = true;
    QSignalSpy shown(Form->Notifier(), &TNotifier::Shown);
    FailOneMessage("Анна", "101");
    // The service clicks it: it is gone before the next failure, which is told on its own.
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 1 && !Form->Notifier()->Showing(QStringLiteral("failures")); }, 10000));
    FailOneMessage("Борис", "102");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 2; }, 10000));
    EXPECT_EQ(shown[0][0].toString(), QStringLiteral("dbus"));
    // The service clicked each: the history shows the last one clicked, selected.
    ASSERT_TRUE(QTest::qWaitFor([] { return ShownHistory() != nullptr; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([] { return SelectedHistoryCell(ShownHistory(), 1) == QStringLiteral("Борис"); }, 10000));
    const QString error = SelectedHistoryCell(ShownHistory(), 3);
    EXPECT_FALSE(error.isEmpty());
    const QString expected = QStringLiteral("Не удалось отправить SMS\tАнна (101): %1\tdefault,Открыть историю\n"
                                            "Не удалось отправить SMS\tБорис (102): %1\tdefault,Открыть историю\n")
                                 .arg(error);
    EXPECT_EQ(QString::fromStdString(Data.dir().read("notifications.log")), expected);
    recorder.kill();
    recorder.waitForFinished();
}

// Run by ui_notifications: failures in a row while their notification is still
// shown make one notification that counts them (a batch of 20 that all fail is
// one notification, not 20), and its click opens the failures. Once it is
// gone, the next failure is a notification of its own again.
TEST_F(TMainFormComposer, OnAPrivateBusFailuresInARowShareOneNotificationThatCountsThem)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_BUS"))
        GTEST_SKIP() << "needs the private session bus of the ui_notifications test";
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    auto registered = [&] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(service).value(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !registered(); }, 10000)); // an earlier test's service has gone
    const std::string log = Data.dir().file("notifications.log");
    QProcess recorder;
    recorder.start(QStringLiteral(VELOTEXT_NOTIFY_RECORDER), {QString::fromStdString(log), QStringLiteral("--no-click")});
    ASSERT_TRUE(QTest::qWaitFor(registered, 10000));
    Start();
    SmsOptions().AlertOnErrorsFlag = true;
    auto lines = [&] {
        return std::filesystem::exists(log)
                   ? QString::fromStdString(Data.dir().read("notifications.log")).split(u'\n', Qt::SkipEmptyParts)
                   : QStringList();
    };
    QSignalSpy shown(Form->Notifier(), &TNotifier::Shown);
    FailOneMessage("Анна", "101");
    FailOneMessage("Борис", "102");
    FailOneMessage("Вера", "103");
    // Until the service's answer to the last one came back.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !shown.isEmpty() && shown.last()[1].toString() == QStringLiteral("Не удалось отправить 3 SMS");
    }, 10000)) << lines().join(u'\n').toStdString();
    // The first one is new; each later one replaces it (one still waiting to be
    // sent is replaced before it goes out).
    QStringList told = lines();
    ASSERT_LE(told.size(), 3);
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("Не удалось отправить SMS\tАнна (101): "))) << told[0].toStdString();
    EXPECT_FALSE(told[0].contains(QStringLiteral("replaces")));
    EXPECT_TRUE(told.last().startsWith(QStringLiteral("Не удалось отправить 3 SMS\tПоследнее: Вера (103): ")));
    for (int i = 1; i < told.size(); ++i)
        EXPECT_TRUE(told[i].endsWith(QStringLiteral("\treplaces 1"))) << told[i].toStdString();

    // The user clicks it: the history shows the failures.
    const QString path = QStringLiteral("/org/freedesktop/Notifications");
    QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Click"))
                                       << uint(1));
    ASSERT_TRUE(QTest::qWaitFor([] { return ShownHistory() != nullptr; }, 10000));
    EXPECT_TRUE(ShownHistory()->findChild<QCheckBox*>("FailedOnlyCheckBox")->isChecked());
    EXPECT_FALSE(Form->Notifier()->Showing(QStringLiteral("failures")));
    FailOneMessage("Глеб", "104");
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines().size() > told.size(); }, 10000));
    EXPECT_EQ(lines().size(), told.size() + 1);
    EXPECT_TRUE(lines().last().startsWith(QStringLiteral("Не удалось отправить SMS\tГлеб (104): ")))
        << lines().last().toStdString();
    EXPECT_FALSE(lines().last().contains(QStringLiteral("replaces")));
    recorder.kill();
    recorder.waitForFinished();
}

// The same bus without a notification service: the tray balloon takes over;
// with the window hidden the end of the batch is told as well.
TEST_F(TMainFormComposer, OnAPrivateBusWithoutAServiceTheTrayBalloonTellsAndTheBatchEnd)
{
    if (!qEnvironmentVariableIsSet("VELOTEXT_PRIVATE_BUS"))
        GTEST_SKIP() << "needs the private session bus of the ui_notifications test";
    ASSERT_TRUE(QTest::qWaitFor([] {
        return !QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications")).value();
    }, 10000));
    Start();
    SmsOptions().AlertOnErrorsFlag = true;
    QSignalSpy shown(Form->Notifier(), &TNotifier::Shown);
    Form->hide();
    FailOneMessage("Анна", "101");
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 2; }, 10000));
    EXPECT_EQ(shown[0][0].toString(), QStringLiteral("tray"));
    EXPECT_TRUE(shown[0][2].toString().startsWith(QStringLiteral("Анна (101): ")));
    EXPECT_EQ(shown[1][0].toString(), QStringLiteral("tray"));
    EXPECT_EQ(shown[1][2].toString(), QStringLiteral("Отправлено 0 из 1 SMS"));
}

// A message the gateway did not deliver counts with the failures under the composer.
TEST_F(TMainFormComposer, NotDeliveredCountsWithTheFailures)
{
    Start();
    FailOneMessage("Анна", "101");
    Form->CountNotDelivered({QStringLiteral("Борис (102): Доставка: не доставлено: absent subscriber"),
                             QStringLiteral("Вера (103): Доставка: не доставлено: rejected")});
    auto* label = Form->findChild<QLabel*>("SmsErrorLabel");
    EXPECT_TRUE(label->text().contains(QStringLiteral("Не удалось отправить 3 SMS"))) << label->text().toStdString();
}
