#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "support/TestSupport.h"
#include "ui/UiText.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QTreeView>

#include <memory>

TEST(UiText, BoundaryConversionKeepsCyrillicAndMarksTheUnmappable)
{
    EXPECT_EQ(ToQt(U("Ёжик в тумане")), QStringLiteral("Ёжик в тумане"));
    EXPECT_EQ(FromQt(QStringLiteral("Ёжик")), U("Ёжик"));
    EXPECT_EQ(FromQt(QString::fromUtf8("a\xF0\x9F\x98\x80" "b")), "a?b"); // a surrogate pair is one character
    EXPECT_EQ(ToQt("\x98"), QString(QChar(0xFFFD)));
    EXPECT_EQ(FromQt(QStringLiteral("€№")), "\x88\xB9");
}

TEST(MainForm, OpensWithItsTitleAndClosesCleanly)
{
    TestApp();
    auto* form = new TMainForm;
    form->show();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Velotext"));
    QStringList menus;
    for (QAction* menu : form->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"&Группы", "&Абоненты", "&Операторы", "&Сообщение", "&Настройки", "Сп&равка", "&Выход"}));
    EXPECT_TRUE(form->close());
    delete form;
}

namespace {

class TMainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ResetSmsManagerForTests();
        Sender = new TStdSmsSender;
        Sender->SetName("MTS");
        M().AddSmsSender(Sender);
        Form = std::make_unique<TMainForm>();
        Form->show();
        Groups = Form->findChild<QTreeView*>("GroupsListView");
        Contacts = Form->findChild<QTreeView*>("ContactsListView");
        Recipients = Form->findChild<QTreeView*>("RecepientsListView");
        Search = Form->findChild<QLineEdit*>("SearchEdit");
    }
    void TearDown() override
    {
        Form.reset();
        ResetSmsManagerForTests();
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    static TSmsManager& M() { return SmsManager(); }
    TContact* AddContact(const char* name, const char* phone)
    {
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = phone;
        c->SmsSender = Sender;
        M().AddContact(c);
        return c;
    }
    TGroup* AddGroup(const char* name, std::initializer_list<TContact*> members = {})
    {
        auto* g = new TGroup(false);
        g->SetName(U(name));
        M().AddGroup(g);
        for (TContact* c : members)
            M().AddContactToGroup(c, g);
        return g;
    }
    // Fills the panes and shows the group's members.
    void Show(const QString& group)
    {
        Form->FillGroups();
        ASSERT_TRUE(SelectRow(Groups, group));
    }
    void Key(QTreeView* view, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(view, static_cast<Qt::Key>(key), modifiers);
    }

    TScopedDataDir Data;
    TUiScript Ui;
    TStdSmsSender* Sender = nullptr;
    std::unique_ptr<TMainForm> Form;
    QTreeView* Groups = nullptr;
    QTreeView* Contacts = nullptr;
    QTreeView* Recipients = nullptr;
    QLineEdit* Search = nullptr;
};

const QString All = QStringLiteral("(Все Абоненты)");
const QString Found = QStringLiteral("(Найденные Абоненты)");

} // namespace

TEST_F(TMainFormTest, RowsSortWithTheRussianCollatorNotByCodePoint)
{
    AddContact("алла", "3");
    AddContact("Яков", "2");
    AddContact("Борис", "1");
    AddContact("Zoe", "4");
    AddGroup("работа");
    AddGroup("Друзья");
    Show(All);
    EXPECT_EQ(Rows(Groups), (QStringList{All, Found, "Друзья", "работа"}));
    EXPECT_EQ(Rows(Contacts), (QStringList{"алла (3)", "Борис (1)", "Яков (2)", "Zoe (4)"}));
    EXPECT_EQ(SelectedText(Contacts), QStringLiteral("алла (3)")); // the first row in sort order
}

TEST_F(TMainFormTest, TheAllContactsGroupIsNeverEditedRemovedOrEmptiedAndAsksNothing)
{
    TContact* ivan = AddContact("Иван", "1");
    Show(All);
    ASSERT_TRUE(SelectRow(Contacts, QStringLiteral("Иван (1)")));
    for (const char* action : {"EditGroupAction", "RemoveGroupAction", "RemoveContactFromGroupAction"})
        EXPECT_TRUE(Trigger(Form.get(), action));
    Key(Groups, Qt::Key_Delete, Qt::ShiftModifier);
    Key(Groups, Qt::Key_Return);
    EXPECT_TRUE(Ui.Calls.empty());
    EXPECT_EQ(Rows(Groups).size(), 2);
    EXPECT_EQ(M().Contacts().IndexOf(ivan), 0);
    EXPECT_EQ(Rows(Contacts), QStringList{"Иван (1)"});
}

TEST_F(TMainFormTest, RemovingRowsFollowsTheRowRemovalRule)
{
    TContact* a = AddContact("Анна", "1");
    TContact* b = AddContact("Борис", "2");
    AddGroup("Друзья", {a, b});
    AddGroup("работа");
    Show(QStringLiteral("работа"));

    // The last group goes: the new last row is selected, its members shown.
    Ui.No();
    EXPECT_TRUE(Trigger(Form.get(), "RemoveGroupAction"));
    EXPECT_EQ(Rows(Groups).size(), 4);
    Ui.Yes();
    Key(Groups, Qt::Key_Delete, Qt::ControlModifier); // modifiers do not matter
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm).back(), QStringLiteral("Удалить группу [работа]?"));
    EXPECT_EQ(Rows(Groups), (QStringList{All, Found, "Друзья"}));
    EXPECT_EQ(SelectedText(Groups), QStringLiteral("Друзья"));
    EXPECT_EQ(Rows(Contacts), (QStringList{"Анна (1)", "Борис (2)"}));

    // A member leaves the group: the row at its place is selected; the contact stays in the book.
    Ui.Yes().Yes();
    EXPECT_TRUE(Trigger(Form.get(), "RemoveContactFromGroupAction"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm).back(),
              QStringLiteral("Удалить контакт [Анна (1)]\rиз группы [Друзья]?"));
    EXPECT_EQ(SelectedText(Contacts), QStringLiteral("Борис (2)"));
    EXPECT_TRUE(Trigger(Form.get(), "RemoveContactFromGroupAction"));
    EXPECT_TRUE(Rows(Contacts).isEmpty());
    EXPECT_EQ(SelectedText(Contacts), QString());
    EXPECT_EQ(M().Contacts().Count(), 2);

    // The only group of the user goes from the middle: the next row takes its place.
    ASSERT_TRUE(SelectRow(Groups, QStringLiteral("Друзья")));
    Ui.Yes();
    EXPECT_TRUE(Trigger(Form.get(), "RemoveGroupAction"));
    EXPECT_EQ(SelectedText(Groups), Found);
    EXPECT_TRUE(Rows(Contacts).isEmpty());
}

TEST_F(TMainFormTest, RemovingTheOnlyGroupRowLeavesNothingSelectedAndAnEmptyContactsPane)
{
    AddContact("Анна", "1");
    Show(All);
    // The built-in groups cannot go; a one-row recipient list shows the rule's last branch.
    EXPECT_TRUE(Trigger(Form.get(), "AddGroupToRecepientsAction"));
    EXPECT_TRUE(Trigger(Form.get(), "AddGroupToRecepientsAction")); // twice: one row
    EXPECT_EQ(Rows(Recipients), QStringList{All});
    ASSERT_TRUE(SelectRow(Recipients, All));
    EXPECT_TRUE(Trigger(Form.get(), "RemoveFromRecepientsAction"));
    EXPECT_TRUE(Rows(Recipients).isEmpty());
    EXPECT_EQ(M().Recipients.Groups.Count(), 0);

    ASSERT_TRUE(SelectRow(Groups, Found));
    Ui.Yes();
    EXPECT_TRUE(Trigger(Form.get(), "RemoveGroupAction")); // the search needs its group
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error).back(), QStringLiteral("Данную группу удалять нельзя."));
    EXPECT_EQ(Rows(Groups), (QStringList{All, Found}));
}

TEST_F(TMainFormTest, TypingSearchesAtEveryKeystrokeInTheFoundGroup)
{
    AddContact("Петров", "+79161234567");
    AddContact("ПЕТРОВА", "+79030000000");
    AddContact("Сидоров", "+7912");
    AddGroup("Друзья");
    Show(QStringLiteral("Друзья"));
    Search->setFocus();
    TypeText(Search, QStringLiteral("п"));
    EXPECT_EQ(SelectedText(Groups), Found);
    EXPECT_EQ(Rows(Contacts), (QStringList{"Петров (+79161234567)", "ПЕТРОВА (+79030000000)"}));
    TypeText(Search, QStringLiteral("етрова"));
    EXPECT_EQ(Rows(Contacts), QStringList{"ПЕТРОВА (+79030000000)"});

    ASSERT_TRUE(SelectRow(Groups, QStringLiteral("Друзья")));
    Search->setText(QStringLiteral(" 12 "));
    EXPECT_EQ(SelectedText(Groups), Found);
    EXPECT_EQ(Rows(Contacts), (QStringList{"Петров (+79161234567)", "Сидоров (+7912)"}));

    Search->clear();
    EXPECT_EQ(SelectedText(Groups), Found);
    EXPECT_TRUE(Rows(Contacts).isEmpty());
    EXPECT_EQ(M().FoundContactsGroup->Contacts.Count(), 0);
}

TEST_F(TMainFormTest, RenamingAGroupOrAContactChangesEveryRowOfItAndSortsAgain)
{
    TContact* anna = AddContact("Анна", "1");
    AddContact("Борис", "2");
    TGroup* friends = AddGroup("Друзья", {anna});
    Show(All);
    ASSERT_TRUE(SelectRow(Contacts, QStringLiteral("Анна (1)")));
    EXPECT_TRUE(Trigger(Form.get(), "AddContactToRecepientsAction"));
    ASSERT_TRUE(SelectRow(Groups, QStringLiteral("Друзья")));
    EXPECT_TRUE(Trigger(Form.get(), "AddGroupToRecepientsAction"));
    EXPECT_EQ(Rows(Recipients), (QStringList{"Анна (1)", "Друзья"}));

    Ui.Dialog([](QDialog& d) {
        d.findChild<QLineEdit*>("NameEdit")->setText(QStringLiteral("Семья"));
        d.accept();
    });
    Key(Groups, Qt::Key_Enter);
    EXPECT_EQ(U("Семья"), friends->Name());
    EXPECT_EQ(Rows(Groups), (QStringList{All, Found, "Семья"}));
    EXPECT_EQ(SelectedText(Groups), QStringLiteral("Семья"));
    EXPECT_EQ(Rows(Recipients), (QStringList{"Анна (1)", "Семья"}));

    ASSERT_TRUE(SelectRow(Contacts, QStringLiteral("Анна (1)")));
    Ui.Dialog([](QDialog& d) {
        d.findChild<QLineEdit*>("NameEdit")->setText(QStringLiteral("Яна"));
        d.accept();
    });
    EXPECT_TRUE(Trigger(Form.get(), "EditContactAction"));
    EXPECT_EQ(Rows(Recipients), (QStringList{"Семья", "Яна (1)"}));
    EXPECT_EQ(Rows(Contacts), QStringList{"Яна (1)"});
    ASSERT_TRUE(SelectRow(Groups, All));
    EXPECT_EQ(Rows(Contacts), (QStringList{"Борис (2)", "Яна (1)"}));
}

TEST_F(TMainFormTest, NewContactsAndGroupsAreAddedThroughTheEditorsAndSelected)
{
    AddGroup("Друзья");
    Show(QStringLiteral("Друзья"));
    Ui.Dialog([](QDialog& d) {
        d.findChild<QLineEdit*>("NameEdit")->setText(QStringLiteral("  Вера "));
        d.findChild<QLineEdit*>("PhoneNumberEdit")->setText(QStringLiteral("555")); // three digits at least
        TUiScript::Current()->Dialog([](QDialog& picker) { picker.accept(); }); // the operator picker
        d.findChild<QAbstractButton*>("SmsSenderButton")->click();
        d.accept();
    });
    Key(Contacts, Qt::Key_Insert);
    EXPECT_EQ(Rows(Contacts), QStringList{"Вера (555)"});
    EXPECT_EQ(SelectedText(Contacts), QStringLiteral("Вера (555)"));
    EXPECT_EQ(M().Contacts().Count(), 1);
    EXPECT_EQ(M().Contacts()[0]->SmsSender, Sender);

    // A group: added and selected; a cancelled editor adds nothing.
    Ui.Dialog([](QDialog& d) { d.findChild<QLineEdit*>("NameEdit")->setText(QStringLiteral("Группа")); d.accept(); });
    Key(Groups, Qt::Key_Insert);
    EXPECT_EQ(SelectedText(Groups), QStringLiteral("Группа"));
    Ui.Dialog([](QDialog&) {}); // cancelled
    EXPECT_TRUE(Trigger(Form.get(), "AddGroupAction"));
    EXPECT_EQ(Rows(Groups).size(), 4);
}

TEST_F(TMainFormTest, DropsFollowTheirRulesAndOnesThatChangeNothingSayNothing)
{
    TContact* anna = AddContact("Анна", "1");
    TGroup* friends = AddGroup("Друзья", {anna});
    TGroup* work = AddGroup("работа");
    Show(All);
    ASSERT_TRUE(SelectRow(Contacts, QStringLiteral("Анна (1)")));

    EXPECT_TRUE(Form->RecepientsListViewDragOver(Groups));
    EXPECT_TRUE(Form->RecepientsListViewDragOver(Contacts));
    EXPECT_FALSE(Form->RecepientsListViewDragOver(Recipients)); // never a source
    EXPECT_FALSE(Form->RecepientsListViewDragOver(nullptr));    // from another program
    EXPECT_TRUE(Form->GroupsListViewDragOver(Contacts));
    EXPECT_FALSE(Form->GroupsListViewDragOver(Groups));
    EXPECT_FALSE(Form->GroupsListViewDragOver(Recipients));

    auto pointOf = [&](const QString& text) {
        for (int row = 0; row < Groups->model()->rowCount(); ++row)
            if (Groups->model()->index(row, 0).data().toString() == text)
                return Groups->visualRect(Groups->model()->index(row, 0)).center();
        return QPoint(-1, -1);
    };
    Form->GroupsListViewDragDrop(Contacts, pointOf(All));
    Form->GroupsListViewDragDrop(Contacts, pointOf(QStringLiteral("Друзья")));
    Form->GroupsListViewDragDrop(Contacts, QPoint(5, Groups->viewport()->height() - 2)); // empty space
    EXPECT_EQ(friends->Contacts.Count(), 1);
    EXPECT_EQ(work->Contacts.Count(), 0);
    Form->GroupsListViewDragDrop(Contacts, pointOf(QStringLiteral("работа")));
    EXPECT_EQ(work->Contacts.IndexOf(anna), 0);
    EXPECT_EQ(Rows(Groups).size(), 4); // the views moved nothing themselves

    Form->RecepientsListViewDragDrop(Contacts);
    Form->RecepientsListViewDragDrop(Contacts);
    Form->RecepientsListViewDragDrop(Groups); // the selected group: the all-contacts group
    EXPECT_EQ(Rows(Recipients), (QStringList{All, "Анна (1)"}));
    EXPECT_TRUE(Ui.Calls.empty());
}

TEST_F(TMainFormTest, AQueuedContactIsNotRemovedAndItsRowsStay)
{
    TContact* anna = AddContact("Анна", "1");
    AddContact("Борис", "2");
    Show(All);
    ASSERT_TRUE(SelectRow(Contacts, QStringLiteral("Анна (1)")));
    Form->AddContactToRecipients(anna);
    M().QueueSms("hello");
    Ui.Yes();
    Key(Contacts, Qt::Key_Delete);
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm).back(), QStringLiteral("Удалить Абонента [Анна (1)]?"));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Error).back(),
              QStringLiteral("Нельзя удалить Абонента,\rт.к. ему в данный момент отсылается SMS."));
    EXPECT_EQ(Rows(Contacts), (QStringList{"Анна (1)", "Борис (2)"}));
    EXPECT_EQ(Rows(Recipients), QStringList{"Анна (1)"});

    M().ClearQueue();
    Ui.Yes();
    Key(Contacts, Qt::Key_Delete);
    EXPECT_EQ(Rows(Contacts), QStringList{"Борис (2)"});
    EXPECT_EQ(SelectedText(Contacts), QStringLiteral("Борис (2)"));
    EXPECT_TRUE(Rows(Recipients).isEmpty());
}
