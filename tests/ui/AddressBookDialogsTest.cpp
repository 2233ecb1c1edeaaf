#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "support/TestSupport.h"
#include "ui/UiText.h"
#include "ui/dialogs/ContactEditor.h"
#include "ui/dialogs/GroupEditor.h"
#include "ui/dialogs/GroupSelector.h"
#include "ui/dialogs/SmsSenderSelector.h"
#include "ui/dialogs/UiHelpers.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeView>

namespace {

class TDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ResetSmsManagerForTests();
    }
    void TearDown() override
    {
        ResetSmsManagerForTests();
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    static TSmsManager& M() { return SmsManager(); }
    TStdSmsSender* AddSender(const char* name, const char* notes = "")
    {
        auto* s = new TStdSmsSender;
        s->SetName(U(name));
        s->Notes = U(notes);
        M().AddSmsSender(s);
        return s;
    }
    // Drives the next dialog: sets the named edits, then presses OK.
    void FillAndOk(std::vector<std::pair<const char*, QString>> fields)
    {
        Ui.Dialog([fields](QDialog& d) {
            for (const auto& [name, text] : fields)
                d.findChild<QLineEdit*>(name)->setText(text);
            d.accept();
        });
    }
    QStringList Errors() const { return Ui.Texts(TUiCallKind::Error); }

    TScopedDataDir Data;
    TUiScript Ui;
};

} // namespace

TEST_F(TDialogsTest, GroupEditorRefusesEmptyAndTakenNamesAndKeepsTheGroupUntilOk)
{
    auto* work = new TGroup;
    work->SetName(U("Работа"));
    M().AddGroup(work);
    TGroup fresh;

    // Blanks, the built-in group's name, another group's name in other case; the dialog stays open.
    Ui.Dialog([](QDialog& d) {
        auto* name = d.findChild<QLineEdit*>("NameEdit");
        for (const char* text : {" \t ", "(все абоненты)", "РАБОТА"}) {
            name->setText(QString::fromUtf8(text));
            d.accept();
            EXPECT_TRUE(d.isVisible());
        }
        d.reject();
    });
    EXPECT_FALSE(TGroupEditor::Execute(&fresh, true));
    EXPECT_EQ(Ui.Calls.front().Title, QStringLiteral("Создание группы"));
    EXPECT_EQ(Errors(), (QStringList{"Не указано имя группы.", "Уже существует группа с таким именем.",
                                     "Уже существует группа с таким именем."}));
    EXPECT_EQ(fresh.Name(), "");

    // Its own name in other case is accepted; the name is trimmed.
    FillAndOk({{"NameEdit", QStringLiteral("  работа ")}});
    EXPECT_TRUE(TGroupEditor::Execute(work, false));
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Редактирование группы"));
    EXPECT_EQ(work->Name(), U("работа"));
}

TEST_F(TDialogsTest, ContactEditorChecksInOrderAndCancelLeavesTheContactAsItWas)
{
    TStdSmsSender* mts = AddSender("MTS", "  Москва \r\n");
    auto* petrov = new TContact;
    petrov->SetName(U("Петров"));
    petrov->PhoneNumber = "1";
    M().AddContact(petrov);
    TContact contact;
    contact.SetName(U("Иванов"));
    contact.PhoneNumber = "+79161234567";
    contact.SmsSender = mts;

    Ui.Dialog([](QDialog& d) {
        EXPECT_EQ(d.findChild<QLineEdit*>("SmsSenderEdit")->text(), QStringLiteral("MTS"));
        EXPECT_EQ(d.findChild<QPlainTextEdit*>("NotesMemo")->toPlainText(), QStringLiteral("Москва"));
        auto* name = d.findChild<QLineEdit*>("NameEdit");
        auto* phone = d.findChild<QLineEdit*>("PhoneNumberEdit");
        name->setText(QString());
        d.accept();
        name->setText(QStringLiteral("петров"));
        phone->setText(QStringLiteral("  "));
        d.accept(); // the phone is checked before the name's uniqueness
        phone->setText(QStringLiteral("222"));
        d.accept();
        // The picker is cancelled: no operator any more, not the previous one.
        TUiScript::Current()->Dialog([](QDialog& picker) { picker.reject(); });
        d.findChild<QAbstractButton*>("SmsSenderButton")->click();
        EXPECT_EQ(d.findChild<QLineEdit*>("SmsSenderEdit")->text(), QString());
        name->setText(QStringLiteral("Сидоров"));
        d.accept();
        EXPECT_TRUE(d.isVisible());
        d.reject();
    });
    EXPECT_FALSE(TContactEditor::Execute(&contact, false));
    EXPECT_EQ(Errors(), (QStringList{"Не указано имя Абонента.", "Не указан номер телефона.",
                                     "Уже существует Абонент с таким именем.", "Не указан оператор."}));
    EXPECT_EQ(contact.Name(), U("Иванов"));
    EXPECT_EQ(contact.PhoneNumber, "+79161234567");
    EXPECT_EQ(contact.SmsSender, mts);
}

// A number typed with its formatting is kept whole; letters or fewer than
// three digits are refused on OK, naming the field.
TEST_F(TDialogsTest, ContactEditorKeepsAFormattedNumberWholeAndRefusesWhatIsNoNumber)
{
    TStdSmsSender* mts = AddSender("MTS");
    TContact contact;
    contact.SmsSender = mts;
    Ui.Dialog([](QDialog& d) {
        TypeText(d.findChild<QLineEdit*>("NameEdit"), QStringLiteral("Вера"));
        auto* phone = d.findChild<QLineEdit*>("PhoneNumberEdit");
        for (const QString& wrong : {QStringLiteral("8-916-АБВ-45-03"), QStringLiteral("12"),
                                     QStringLiteral("+7 916 +123"), QStringLiteral("tel:+79161234503")}) {
            phone->clear();
            TypeText(phone, wrong);
            d.accept();
            EXPECT_TRUE(d.isVisible()) << wrong.toStdString();
        }
        phone->clear();
        TypeText(phone, QStringLiteral("+7 (916) 123-45-03"));
        EXPECT_EQ(phone->text(), QStringLiteral("+7 (916) 123-45-03"));
        d.accept();
    });
    EXPECT_TRUE(TContactEditor::Execute(&contact, true));
    EXPECT_EQ(contact.PhoneNumber, "+7 (916) 123-45-03");
    const QString letters = QStringLiteral("Поле «Телефон»: номер может содержать только цифры, «+» в начале, "
                                           "пробелы, дефисы, точки и скобки.");
    EXPECT_EQ(Errors(), (QStringList {letters, QStringLiteral("Поле «Телефон»: в номере меньше трёх цифр."), letters,
                                      letters}));
}

TEST_F(TDialogsTest, EditorsShowLongTextsWholeAndKeepThemOnOk)
{
    // Texts longer than the typing limits (a hand-edited address book) are not cut.
    const std::string longName(80, 'N');
    const std::string longPhone = "+7 (916) 123 - 45 - 67 ... 89 - 01 - 23 - 45";
    TStdSmsSender* mts = AddSender("MTS");
    TContact contact;
    contact.SetName(longName);
    contact.PhoneNumber = U(longPhone);
    contact.SmsSender = mts;
    Ui.Dialog([](QDialog& d) {
        auto* name = d.findChild<QLineEdit*>("NameEdit");
        EXPECT_EQ(name->text().size(), 80);
        d.accept();
    });
    EXPECT_TRUE(TContactEditor::Execute(&contact, false));
    EXPECT_EQ(contact.Name(), longName);
    EXPECT_EQ(contact.PhoneNumber, U(longPhone));

    TGroup group;
    group.SetName(longName);
    Ui.Dialog([](QDialog& d) {
        auto* name = d.findChild<QLineEdit*>("NameEdit");
        name->selectAll();
        TypeText(name, QString(70, QLatin1Char('x'))); // typing stays within the limit
        EXPECT_LE(name->text().size(), 80);
        d.reject();
    });
    EXPECT_FALSE(TGroupEditor::Execute(&group, false));
    EXPECT_EQ(group.Name(), longName);

    TGroup fresh;
    Ui.Dialog([](QDialog& d) {
        auto* name = d.findChild<QLineEdit*>("NameEdit");
        TypeText(name, QString(70, QLatin1Char('x')));
        EXPECT_EQ(name->text().size(), 64);
        d.reject();
    });
    TGroupEditor::Execute(&fresh, true);
}

TEST_F(TDialogsTest, PickersListSortedCandidatesAndReturnTheChosenRow)
{
    TStdSmsSender* mts = AddSender("МТС");
    AddSender("Билайн");
    EXPECT_EQ(Ui.Calls.size(), 0u);
    Ui.Dialog([](QDialog& d) {
        auto* list = d.findChild<QTreeView*>("SmsSendersListView");
        EXPECT_EQ(Rows(list), (QStringList{"Билайн", "МТС"}));
        EXPECT_EQ(SelectedText(list), QStringLiteral("Билайн"));
        ASSERT_TRUE(SelectRow(list, QStringLiteral("МТС")));
        const QPoint point = list->visualRect(list->currentIndex()).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, point);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, point);
        EXPECT_EQ(d.result(), QDialog::Accepted);
    });
    EXPECT_EQ(TSmsSenderSelector::Execute(), mts);
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Список операторов"));

    // The group picker leaves out the groups that hold the contact, the all-contacts group included.
    auto* anna = new TContact;
    anna->SetName(U("Анна"));
    M().AddContact(anna);
    auto* friends = new TGroup;
    friends->SetName(U("Друзья"));
    M().AddGroup(friends);
    auto* work = new TGroup;
    work->SetName(U("Работа"));
    M().AddGroup(work);
    M().AddContactToGroup(anna, friends);
    Ui.Dialog([](QDialog& d) {
        EXPECT_EQ(Rows(d.findChild<QTreeView*>("GroupsListView")), (QStringList{"(Найденные Абоненты)", "Работа"}));
        d.reject();
    });
    EXPECT_EQ(TGroupSelector::Execute(anna), nullptr);
    Ui.Dialog([](QDialog& d) {
        auto* list = d.findChild<QTreeView*>("GroupsListView");
        EXPECT_EQ(Rows(list).size(), 4);
        ASSERT_TRUE(SelectRow(list, QStringLiteral("Работа")));
        d.accept();
    });
    EXPECT_EQ(TGroupSelector::Execute(nullptr), work);
}

TEST_F(TDialogsTest, AnEmptyOperatorPickerReturnsNone)
{
    Ui.Dialog([](QDialog& d) {
        EXPECT_TRUE(Rows(d.findChild<QTreeView*>("SmsSendersListView")).isEmpty());
        d.accept();
    });
    EXPECT_EQ(TSmsSenderSelector::Execute(), nullptr);
}
