#include "WindowFixture.h"
#include "engine/StdSmsSender.h"
#include "model/SafeFile.h"
#include "ui/dialogs/SmsSendersForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>

class TSmsSendersFormTest : public TWindowTest {
protected:
    TStdSmsSender* AddSender(const char* utf8Name)
    {
        auto* sender = new TStdSmsSender;
        sender->SetName(U(utf8Name));
        SmsManager().AddSmsSender(sender);
        return sender;
    }
    void OpenForm()
    {
        TSmsSendersForm::Open(Main.get());
        Form = TSmsSendersForm::Existing();
        ASSERT_NE(Form, nullptr);
        List = Form->findChild<QTreeView*>("SmsSendersListView");
        NameEdit = Form->findChild<QLineEdit*>("NameEdit");
    }
    // Leaves the name field for the list, as a click on the list does.
    void LeaveNameField(const QString& typed)
    {
        NameEdit->setFocus();
        NameEdit->setText(typed);
        List->setFocus();
    }
    std::string SavedFile() { return Data.dir().read("SmsGates.ini"); }

    TSmsSendersForm* Form = nullptr;
    QTreeView* List = nullptr;
    QLineEdit* NameEdit = nullptr;
};

// With no operator the window says how to add one; the hint goes with the
// first operator, whose gate fields show the placeholders in sight.
TEST_F(TSmsSendersFormTest, AnEmptyListShowsHowToAddAnOperator)
{
    OpenForm();
    auto* hint = Form->findChild<QLabel*>("EmptyHintLabel");
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_TRUE(hint->text().contains(QStringLiteral("«Добавить» (Ctrl+N)")));
    Ui.Input(QStringLiteral("МТС"));
    ASSERT_TRUE(Trigger(Form, "AddAction"));
    EXPECT_FALSE(hint->isVisible());
    auto* placeholders = Form->findChild<QLabel*>("GatePlaceholdersLabel");
    ASSERT_NE(placeholders, nullptr);
    EXPECT_TRUE(placeholders->isVisible());
    for (const char* field : {"{phone}", "{message}", "{length}", "{year}", "{month}", "{day}", "{hour}", "{minute}"})
        EXPECT_TRUE(placeholders->text().contains(QLatin1String(field))) << field;
}

TEST_F(TSmsSendersFormTest, RenameChecksKeepTheOldNameAndReturnTheFocus)
{
    AddSender("Билайн");
    AddSender("МТС");
    OpenForm();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form));
    EXPECT_TRUE(Form->findChild<QWidget*>("EditorPanel")->isHidden()); // nothing selected after a fill
    ASSERT_TRUE(SelectRow(List, QStringLiteral("Билайн")));
    TStdSmsSender* beeline = Form->SelectedSender();
    ASSERT_NE(beeline, nullptr);

    LeaveNameField(QStringLiteral("мтс"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error), QStringList{QStringLiteral("Уже есть оператор с таким именем.")});
    EXPECT_EQ(beeline->Name(), U("Билайн"));
    EXPECT_TRUE(NameEdit->hasFocus());
    EXPECT_EQ(NameEdit->text(), QStringLiteral("мтс")); // what the user typed stays

    LeaveNameField(QStringLiteral("  "));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Не указано наименование оператора."));
    EXPECT_EQ(beeline->Name(), U("Билайн"));
    EXPECT_TRUE(NameEdit->hasFocus());

    LeaveNameField(QStringLiteral(" БИЛАЙН ")); // own name in other case: accepted, trimmed
    EXPECT_EQ(Ui.Calls.size(), 2u);
    EXPECT_EQ(beeline->Name(), U("БИЛАЙН"));
    EXPECT_EQ(Rows(List), (QStringList{QStringLiteral("БИЛАЙН"), QStringLiteral("МТС")}));
    EXPECT_EQ(SelectedText(List), QStringLiteral("БИЛАЙН"));

    // A reply pattern is taken when its field is left, and refused there when it does not compile.
    auto* perm = Form->findChild<QLineEdit*>("ReplyPermFailPatternEdit");
    beeline->ReplyPermFailPattern = "^ERR";
    perm->setFocus();
    perm->setText(QStringLiteral("(ошибка"));
    List->setFocus();
    EXPECT_EQ(Ui.Calls.size(), 3u);
    EXPECT_EQ(Ui.Calls.back().Kind, TUiCallKind::Error);
    EXPECT_TRUE(Ui.Calls.back().Text.startsWith(QStringLiteral("Ошибка в регулярном выражении")));
    EXPECT_EQ(beeline->ReplyPermFailPattern, "^ERR");
    EXPECT_TRUE(perm->hasFocus());
    perm->setText(QStringLiteral(" нет денег|-1 "));
    List->setFocus();
    EXPECT_EQ(beeline->ReplyPermFailPattern, U("нет денег|-1"));
    EXPECT_EQ(Ui.Calls.size(), 3u);
}

TEST_F(TSmsSendersFormTest, SelectingNeverShortensStoredTextAndEditsWriteBack)
{
    TStdSmsSender* big = AddSender("Длинный");
    const std::string longName(200, 'N');
    big->SetName(longName);
    big->WebGate = "http://gate/?" + std::string(700, 'w');
    big->MaxSmsLen = 1234567;
    big->Notes = std::string(2500, 'n') + "\r\n" + U("вторая строка");
    TStdSmsSender* other = AddSender("Другой");
    const TStdSmsSender before = *big;
    OpenForm();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form));

    ASSERT_TRUE(SelectRow(List, ToQt(longName)));
    ASSERT_EQ(Form->SelectedSender(), big);
    ASSERT_TRUE(SelectRow(List, QStringLiteral("Другой")));
    NameEdit->setFocus(); // the name is committed as the row changes and as the window closes
    ASSERT_TRUE(SelectRow(List, ToQt(longName)));
    ASSERT_TRUE(NameEdit->hasFocus());
    EXPECT_EQ(big->Name(), before.Name());
    EXPECT_EQ(big->WebGate, before.WebGate);
    EXPECT_EQ(big->MaxSmsLen, before.MaxSmsLen);
    EXPECT_EQ(big->Notes, before.Notes);

    Form->close(); // writes the file
    const std::string file = SavedFile();
    EXPECT_NE(file.find("Name=" + longName + "\r\n"), std::string::npos);
    EXPECT_NE(file.find(before.WebGate), std::string::npos);
    EXPECT_NE(file.find("MaxSmsLen=1234567"), std::string::npos);
    EXPECT_NE(file.find(std::string(2500, 'n') + "{LF}"), std::string::npos);

    // Edits on the other operator go to it alone, as they happen.
    Form->show();
    ASSERT_TRUE(SelectRow(List, QStringLiteral("Другой")));
    auto* maxLen = Form->findChild<QLineEdit*>("MaxSmsLenEdit");
    maxLen->setText(QStringLiteral("abc"));
    EXPECT_EQ(other->MaxSmsLen, 0);
    maxLen->setText(QStringLiteral("-5"));
    EXPECT_EQ(other->MaxSmsLen, -5);
    auto* charset = Form->findChild<QComboBox*>("CharsetComboBox");
    charset->lineEdit()->selectAll();
    TypeText(charset->lineEdit(), QStringLiteral("utf-8"));
    QTest::keyClick(charset->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(other->Charset, "utf-8"); // not turned into the listed "UTF-8"
    Form->findChild<QComboBox*>("GateTypeComboBox")->setCurrentIndex(0);
    EXPECT_EQ(other->GateType, TStdSmsSender::WebGateType);
    Form->findChild<QLineEdit*>("WebGateEdit")->setText(QStringLiteral("  http://x/{phone}  "));
    EXPECT_EQ(other->WebGate, "http://x/{phone}");
    Form->findChild<QPlainTextEdit*>("NotesMemo")->setPlainText(QStringLiteral("раз\nдва"));
    EXPECT_EQ(other->Notes, U("раз\r\nдва")); // line breaks survive the file's one-line form
    EXPECT_EQ(big->WebGate, before.WebGate);
}

TEST_F(TSmsSendersFormTest, AddingByCtrlNChecksNamesInTheWindowAndInTheList)
{
    AddSender("Теле2");
    OpenForm();
    int mainNewMessage = 0;
    auto* newSms = new QAction(Main.get());
    newSms->setShortcut(Qt::CTRL | Qt::Key_N);
    Main->addAction(newSms);
    Main->show();
    QObject::connect(newSms, &QAction::triggered, [&] { ++mainNewMessage; });
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form));

    const QString refused[] = {QStringLiteral("теле2"), QStringLiteral(" Теле2 "), QStringLiteral("  "), QString()};
    for (const QString& name : refused) {
        Ui.Input(name);
        QTest::keyClick(Form, Qt::Key_N, Qt::ControlModifier);
    }
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error),
              (QStringList{QStringLiteral("Уже есть оператор с таким именем."),
                           QStringLiteral("Уже существует оператор с таким именем."),
                           QStringLiteral("Не указано имя оператора."), QStringLiteral("Не указано наименование оператора.")}));
    EXPECT_EQ(SmsManager().SmsSenders.Count(), 1); // no refused operator stays behind

    Ui.Input(QStringLiteral("Мегафон"));
    QTest::keyClick(Form, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(mainNewMessage, 0);
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Добавление нового оператора"));
    EXPECT_EQ(SelectedText(List), QStringLiteral("Мегафон"));
    TStdSmsSender* added = Form->SelectedSender();
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->GateType, TStdSmsSender::EmailGateType);
    EXPECT_EQ(added->EmailGate, "{phone}@");
    EXPECT_EQ(added->MaxSmsLen, 160);
    EXPECT_EQ(added->SenderId(), 2);
}

TEST_F(TSmsSendersFormTest, DeletingSkipsUsedOperatorsAndSelectsTheNeighbour)
{
    TStdSmsSender* a = AddSender("А-оператор");
    AddSender("Б-оператор");
    AddSender("В-оператор");
    auto* contact = new TContact;
    contact->SetName(U("Иван"));
    contact->SmsSender = a;
    SmsManager().AddContact(contact);
    OpenForm();
    EXPECT_TRUE(Trigger(Form, "DeleteAction")); // nothing selected: nothing asked

    SelectRow(List, QStringLiteral("А-оператор"));
    Ui.Yes();
    EXPECT_TRUE(Trigger(Form, "DeleteAction"));
    EXPECT_EQ(Ui.Calls[0].Text, QStringLiteral("Удалить оператора [А-оператор]?"));
    EXPECT_EQ(Ui.Calls[1].Text, QStringLiteral("Нельзя удалить оператора,\rт.к. есть абоненты, которые его используют."));
    EXPECT_EQ(SelectedText(List), QStringLiteral("А-оператор"));

    SelectRow(List, QStringLiteral("В-оператор"));
    Ui.Yes();
    EXPECT_TRUE(Trigger(Form, "DeleteAction"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Оператор удален."));
    EXPECT_EQ(SelectedText(List), QStringLiteral("Б-оператор")); // the last row went: the new last one
    EXPECT_EQ(Form->SelectedSender()->Name(), U("Б-оператор"));
    Ui.Yes();
    EXPECT_TRUE(Trigger(Form, "DeleteAction"));
    EXPECT_EQ(SelectedText(List), QStringLiteral("А-оператор"));
    EXPECT_EQ(SmsManager().SmsSenders.Count(), 1);
}

TEST_F(TSmsSendersFormTest, ImportCountsTheNewOperatorsAndRefusesABrokenFile)
{
    TStdSmsSender* mts = AddSender("МТС");
    mts->SetSenderId(40);
    OpenForm();
    Data.dir().write("import.ini", U("[SmsSender:TStdSmsSender:мтс]\r\nName=мтс\r\nSenderId=3\r\n"
                                     "[SmsSender:TStdSmsSender:Первый]\r\nName=Первый\r\nSenderId=40\r\nGateType=0\r\n"
                                     "[SmsSender:TStdSmsSender:Второй]\r\nName=Второй\r\nSenderId=1\r\n"));
    Data.dir().write("broken.ini", U("[SmsSender:TStdSmsSender:X]\r\nName=X\r\n[SmsSender:TStdSmsSender:x2]\r\nName=x\r\n"));

    Ui.File(QString::fromStdString(Data.dir().file("import.ini")));
    EXPECT_TRUE(Trigger(Form, "AddFromFileAction"));
    EXPECT_EQ(Ui.Calls.back().Text, QStringLiteral("Добавлено операторов: 2"));
    EXPECT_EQ(Rows(List), (QStringList{QStringLiteral("Второй"), QStringLiteral("МТС"), QStringLiteral("Первый")}));
    const TSmsSenderList& senders = SmsManager().SmsSenders;
    EXPECT_EQ(senders[1]->Name(), U("Первый")); // in the order of the file, with fresh identifiers
    EXPECT_EQ(senders[1]->SenderId(), 41);
    EXPECT_EQ(senders[2]->SenderId(), 42);

    Ui.File(QString::fromStdString(Data.dir().file("import.ini"))).File(std::nullopt);
    EXPECT_TRUE(Trigger(Form, "AddFromFileAction"));
    EXPECT_TRUE(Trigger(Form, "AddFromFileAction"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Info).mid(1),
              (QStringList{QStringLiteral("Добавлено операторов: 0"), QStringLiteral("Добавлено операторов: 0")}));

    const size_t calls = Ui.Calls.size();
    Ui.File(QString::fromStdString(Data.dir().file("broken.ini")));
    EXPECT_TRUE(Trigger(Form, "AddFromFileAction"));
    ASSERT_EQ(Ui.Calls.size(), calls + 2); // the file dialog and the error, no count
    EXPECT_EQ(Ui.Calls.back().Kind, TUiCallKind::Error);
    EXPECT_EQ(senders.Count(), 3);
}

TEST_F(TSmsSendersFormTest, ClosingWritesTheFileAndReopeningRefills)
{
    OpenForm();
    EXPECT_TRUE(Rows(List).isEmpty());
    EXPECT_TRUE(Trigger(Form, "CloseTB"));
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(FileExists(Data.dir().file("SmsGates.ini"))); // written though nothing changed
    AddSender("Новый");
    TSmsSendersForm::RefillIfVisible(); // hidden: nothing to do
    EXPECT_TRUE(Rows(List).isEmpty());
    TSmsSendersForm::Open(Main.get());
    EXPECT_EQ(Rows(List), QStringList{QStringLiteral("Новый")});
}

// The hint of every gate field names the macros in plain words.
TEST_F(TSmsSendersFormTest, GateHintNamesTheMessageMacro)
{
    OpenForm();
    for (const char* name : {"WebGateEdit", "EmailGateEdit", "EmailSubjEdit", "EmailBodyEdit"}) {
        auto* edit = Form->findChild<QLineEdit*>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_TRUE(edit->toolTip().contains(QStringLiteral("{message} - текст сообщения\n"))) << name;
    }
}

// The gate's time limit typed in the window: kept by the operator and in its
// file; emptied, the default again and no key in the file.
TEST_F(TSmsSendersFormTest, TheGateTimeLimitIsTypedAndKeptOnlyWhenSet)
{
    TStdSmsSender* gate = AddSender("Шлюз");
    OpenForm();
    ASSERT_TRUE(SelectRow(List, QStringLiteral("Шлюз")));
    auto* timeout = Form->findChild<QLineEdit*>("TimeoutEdit");
    ASSERT_NE(timeout, nullptr);
    EXPECT_EQ(timeout->text(), QString());
    EXPECT_EQ(timeout->placeholderText(), QStringLiteral("30"));
    QTest::keyClicks(timeout, QStringLiteral("45"));
    EXPECT_EQ(gate->TimeoutSeconds, 45);
    EXPECT_TRUE(Trigger(Form, "CloseTB"));
    EXPECT_NE(SavedFile().find("Timeout=45\r\n"), std::string::npos) << SavedFile();
    TSmsSendersForm::Open(Main.get());
    ASSERT_TRUE(SelectRow(List, QStringLiteral("Шлюз")));
    EXPECT_EQ(timeout->text(), QStringLiteral("45"));
    timeout->clear();
    EXPECT_EQ(gate->TimeoutSeconds, 0);
    EXPECT_TRUE(Trigger(Form, "CloseTB"));
    EXPECT_EQ(SavedFile().find("Timeout"), std::string::npos) << SavedFile();
}
