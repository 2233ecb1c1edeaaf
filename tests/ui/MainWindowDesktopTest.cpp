// The main window on a desktop: by keyboard alone (F10 and Alt+letter open
// the menus, a letter picks an item, Tab walks the controls without stopping
// on a label, the send button's arrow opens with Alt+Down; every menu has its
// own letters), and small (640x480) with nothing the user must read cut.
#include "UiTestSupport.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/dialogs/OptionsDlg.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <QTreeView>
#include <QHelpEvent>
#include <QToolButton>

#include <memory>

namespace {

class TKeyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        SetProgramSettingsFolder(Data.dir().path() + "/settings");
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        RegisterIoClasses();
        TProgramOptions stored;
        stored.Load(); // not a first run
        Form = std::make_unique<TMainForm>();
        Form->SetStartUpOnShow(true);
        Form->show();
        Form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Form->StartupState().Complete(); }));
        // One contact, written as people write phone numbers, shown in "(Все Абоненты)".
        auto* contact = new TContact;
        contact->SetName(U("Анна Петрова"));
        contact->PhoneNumber = "+7 (916) 123-45-03";
        SmsManager().AddContact(contact);
        Form->FillGroups();
        ASSERT_TRUE(SelectRow(Form->findChild<QTreeView*>("GroupsListView"), QStringLiteral("(Все Абоненты)")));
    }
    void TearDown() override
    {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        Form->close();
        Form.reset();
        ResetSmsManagerForTests();
        SetProgramSettingsFolder("");
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    // A key as typed on a Russian layout: the letter's key code and its text.
    static void Letter(QWidget* to, QChar letter, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::sendKeyEvent(QTest::Click, to, static_cast<Qt::Key>(letter.toUpper().unicode()), QString(letter),
                            modifiers);
    }
    QString Popup() const
    {
        QWidget* popup = QApplication::activePopupWidget();
        return popup ? popup->objectName() : QString();
    }

    TScopedDataDir Data;
    TUiScript Ui;
    std::unique_ptr<TMainForm> Form;
};

// Every menu of the main window: each item has one mnemonic, a Russian
// letter, and no two items of a menu share it (the menu bar included).
TEST_F(TKeyboard, EveryMenuItemHasItsOwnRussianLetter)
{
    QList<QWidget*> menus {Form->menuBar()};
    for (QMenu* menu : Form->findChildren<QMenu*>())
        menus << menu;
    for (QWidget* menu : menus) {
        QSet<QChar> letters;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator() || item->objectName().startsWith(QStringLiteral("Template")))
                continue; // the templates' own texts, filled in when the menu opens
            const QString text = item->text();
            const QKeySequence key = QKeySequence::mnemonic(text);
            ASSERT_FALSE(key.isEmpty()) << menu->objectName().toStdString() << ": " << text.toStdString();
            const QChar letter(key[0].key());
            EXPECT_TRUE(letter >= QChar(0x410) && letter <= QChar(0x42F))
                << menu->objectName().toStdString() << ": " << text.toStdString();
            EXPECT_FALSE(letters.contains(letter)) << menu->objectName().toStdString() << ": " << text.toStdString();
            letters.insert(letter);
        }
    }
}

TEST_F(TKeyboard, MenusOpenByF10AndAltLetterAndALetterPicksTheItem)
{
    QTest::keyClick(Form.get(), Qt::Key_F10);
    EXPECT_EQ(Popup(), QStringLiteral("GroupsMenu"));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    QTest::keyClick(Form->menuBar(), Qt::Key_Escape);
    EXPECT_EQ(Popup(), QString());

    Letter(Form.get(), QChar(0x0430), Qt::AltModifier); // Alt+А
    EXPECT_EQ(Popup(), QStringLiteral("ContactsMenu"));
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    QTest::keyClick(Form->menuBar(), Qt::Key_Escape);

    // "Сообщение" → "Отправить позже...": Alt+С, then П.
    Ui.Dialog([](QDialog& d) { d.reject(); });
    Letter(Form.get(), QChar(0x0441), Qt::AltModifier); // Alt+С
    ASSERT_EQ(Popup(), QStringLiteral("MessageMenu"));
    Letter(QApplication::activePopupWidget(), QChar(0x043F)); // п
    ASSERT_EQ(Ui.Calls.size(), 1u);
    EXPECT_EQ(Ui.Calls.back().Title, QStringLiteral("Отправить позже"));
    // and its shortcut
    Ui.Dialog([](QDialog& d) { d.reject(); });
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Ui.Calls.size(), 2u);
}

TEST_F(TKeyboard, TabWalksTheControlsWithoutLabelsAndAltDownOpensTheSendArrow)
{
    auto* groups = Form->findChild<QWidget*>("GroupsListView");
    groups->setFocus();
    QStringList walk;
    for (int i = 0; i < 30; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr) << "focus lost after " << walk.join(QStringLiteral(", ")).toStdString();
        EXPECT_EQ(qobject_cast<QLabel*>(focus), nullptr) << focus->objectName().toStdString();
        if (i > 0 && focus == groups)
            break;
        walk << focus->objectName();
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(QApplication::focusWidget(), groups) << walk.join(QStringLiteral(", ")).toStdString(); // a full round
    const QStringList needed {"GroupsListView", "ContactsListView", "SearchEdit", "RecepientsListView",
                              "MessageMemo", "SendButton"};
    qsizetype at = -1;
    for (const QString& name : needed) {
        const qsizetype next = walk.indexOf(name);
        EXPECT_GT(next, at) << name.toStdString() << " in " << walk.join(QStringLiteral(", ")).toStdString();
        at = next;
    }

    auto* send = Form->findChild<QToolButton*>("SendButton");
    send->setFocus();
    QString opened;
    QTimer::singleShot(100, [&] {
        opened = Popup();
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    QTest::keyClick(send, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(opened, QStringLiteral("SendLaterMenu"));
}

// The quiet hours are typed as digits, as a clock reads.
TEST_F(TKeyboard, TheQuietHoursTakeTypedDigits)
{
    Ui.Dialog([](QDialog& d) {
        d.findChild<QCheckBox*>("QuietHoursCheckBox")->setChecked(true);
        for (const char* name : {"QuietFromEdit", "QuietToEdit"}) {
            auto* edit = d.findChild<QTimeEdit*>(name);
            edit->setFocus(Qt::TabFocusReason);
            QTest::keyClicks(edit, name == std::string("QuietFromEdit") ? QStringLiteral("2230")
                                                                        : QStringLiteral("0715"));
        }
        EXPECT_EQ(d.findChild<QTimeEdit*>("QuietFromEdit")->time(), QTime(22, 30));
        EXPECT_EQ(d.findChild<QTimeEdit*>("QuietToEdit")->time(), QTime(7, 15));
        d.reject();
    });
    TOptionsDlg::Execute(Form.get());
}

// At 640x480 and at 800x514 the composer's lines and buttons are whole, and a
// list row cut with "…" shows its whole caption in a tooltip.
TEST_F(TKeyboard, TheWindowGoesDownTo640x480WithNothingCut)
{
    auto* memo = Form->findChild<QWidget*>("MessageMemo");
    QTest::keyClicks(memo, QStringLiteral("Meeting at ten tomorrow, bring the documents please"));
    for (const QSize size : {QSize(640, 480), QSize(800, 514)}) {
        Form->resize(size);
        QTest::qWait(20);
        QApplication::processEvents();
        EXPECT_EQ(Form->size(), size);
        const QRect window = Form->rect();
        for (const char* name : {"SendButton", "SmsCostLabel", "CharCounterLabel", "ToolBar1", "MessageMemo",
                                 "SearchEdit", "GroupToolBar", "ContactToolBar"}) {
            auto* widget = Form->findChild<QWidget*>(name);
            ASSERT_NE(widget, nullptr) << name;
            const QRect at(widget->mapTo(Form.get(), QPoint(0, 0)), widget->size());
            EXPECT_TRUE(window.contains(at)) << name << " at " << size.width() << "x" << size.height();
            EXPECT_GE(widget->width(), widget->minimumSizeHint().width()) << name << " at " << size.width();
            auto* label = qobject_cast<QLabel*>(widget);
            if (label && label->wordWrap())
                EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name << " at " << size.width();
            else
                EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << name << " at " << size.width();
        }
        // The lists' captions are whole (wrapped when narrow).
        for (QLabel* caption : {Form->findChild<QWidget*>("GroupsListPanel")->findChild<QLabel*>(),
                                Form->findChild<QWidget*>("ContactListPanel")->findChild<QLabel*>()}) {
            EXPECT_GE(caption->height(), caption->heightForWidth(caption->width())) << caption->text().toStdString();
            EXPECT_TRUE(caption->wordWrap() || caption->width() >= caption->sizeHint().width())
                << caption->text().toStdString() << " at " << size.width();
        }
        // Every button of the composer's toolbar is shown, none behind an extension arrow.
        auto* bar = Form->findChild<QToolBar*>("ToolBar1");
        for (QAction* action : bar->actions()) {
            if (!action->isSeparator()) {
                EXPECT_TRUE(bar->widgetForAction(action)->isVisible()) << action->objectName().toStdString();
            }
        }
    }

    // A contact whose caption the list cuts: its tooltip is the whole caption.
    auto* contacts = Form->findChild<QTreeView*>("ContactsListView");
    Form->resize(640, 480);
    QApplication::processEvents();
    const QString whole = QStringLiteral("Анна Петрова (+7 (916) 123-45-03)");
    int row = -1;
    for (int r = 0; r < contacts->model()->rowCount(); ++r)
        if (contacts->model()->index(r, 0).data().toString() == whole)
            row = r;
    ASSERT_GE(row, 0) << Rows(contacts).join(QStringLiteral(", ")).toStdString();
    const QRect cell = contacts->visualRect(contacts->model()->index(row, 0));
    ASSERT_LT(contacts->viewport()->width(), contacts->fontMetrics().horizontalAdvance(whole)); // it is cut
    QHelpEvent help(QEvent::ToolTip, cell.center(), contacts->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(contacts->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), whole);
}

} // namespace
