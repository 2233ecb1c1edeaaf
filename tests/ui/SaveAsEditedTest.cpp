// Edits are saved about a second after they are made, a burst of them in one
// save; the composer's text comes back at the next start.
#include "UiTestSupport.h"

#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/SafeFile.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"
#include "ui/SaveSoon.h"
#include "ui/dialogs/SmsSendersForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <memory>
#include <string_view>

namespace {

int Saves = 0;
void CountSave(const char* stage)
{
    if (std::string_view(stage) == "rename")
        ++Saves;
}

class TSaveAsEdited : public ::testing::Test {
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
        TProgramOptions stored;
        stored.Load(); // not a first run: no options dialog
    }
    void TearDown() override
    {
        SetSaveFaultHook(nullptr);
        if (Form)
            Form->close();
        Form.reset();
        ResetSmsManagerForTests();
        ResetProgramOptionsForTests();
        SetProgramSettingsFolder("");
        EXPECT_EQ(Ui.Unanswered, 0);
    }
    void Start()
    {
        ResetSmsManagerForTests();
        ResetProgramOptionsForTests();
        Form = std::make_unique<TMainForm>();
        Form->SetStartUpOnShow(true);
        Form->show();
        ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
        Memo = Form->findChild<TMessageMemo*>("MessageMemo");
    }
    // Waits for the scheduled saves.
    bool SavedSoon() const
    {
        QSignalSpy saved(Form->findChild<QTimer*>("SaveSoonTimer"), &QTimer::timeout);
        return saved.wait(5000);
    }

    TScopedDataDir Data;
    TUiScript Ui;
    std::unique_ptr<TMainForm> Form;
    TMessageMemo* Memo = nullptr;
};

} // namespace

TEST_F(TSaveAsEdited, ABurstOfAddressBookEditsIsOneSaveShortlyAfter)
{
    Start();
    Saves = 0;
    SetSaveFaultHook(CountSave);
    const char* const names[] = {"Друзья", "Работа", "Семья"};
    for (const char* name : names) {
        Ui.Dialog([name](QDialog& d) {
            d.findChild<QLineEdit*>("NameEdit")->setText(QString::fromUtf8(name));
            d.accept();
        });
        ASSERT_TRUE(Trigger(Form.get(), "AddGroupAction"));
    }
    EXPECT_EQ(Saves, 0);
    EXPECT_EQ(Form->SaveScheduler()->Pending(), unsigned(DataAddressBook));
    ASSERT_TRUE(SavedSoon());
    EXPECT_EQ(Saves, 1);
    const std::string book = Data.dir().read("SmsAddressBook.ini");
    for (const char* name : names)
        EXPECT_NE(book.find(U(name)), std::string::npos) << name;
}

TEST_F(TSaveAsEdited, AnOperatorEditIsSavedWhileItsWindowStaysOpen)
{
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    SmsManager().AddSmsSender(sender);
    SmsManager().SaveSmsSenders("SmsGates.ini");
    Start();
    TSmsSendersForm::Open(Form.get());
    TSmsSendersForm* window = TSmsSendersForm::Existing();
    ASSERT_TRUE(SelectRow(window->findChild<QTreeView*>("SmsSendersListView"), "MTS"));
    EXPECT_EQ(Form->SaveScheduler()->Pending(), 0u); // showing an operator changes nothing
    auto* gate = window->findChild<QLineEdit*>("WebGateEdit");
    gate->setFocus();
    TypeText(gate, "http://gw/send");
    ASSERT_TRUE(SavedSoon());
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(Data.dir().read("SmsGates.ini").find("WebGate=http://gw/send"), std::string::npos);
}

// The fields taken when they are left (the name, the reply patterns) reach
// the disk too while the cursor stays in them: within about 2 s of the typing.
// A pattern that does not compile yet is not taken, and says nothing until
// the field is left.
TEST_F(TSaveAsEdited, AnOperatorFieldThatKeepsTheFocusIsSavedWithinTwoSeconds)
{
    auto* sender = new TStdSmsSender;
    sender->SetName("MTS");
    SmsManager().AddSmsSender(sender);
    SmsManager().SaveSmsSenders("SmsGates.ini");
    Start();
    TSmsSendersForm::Open(Form.get());
    TSmsSendersForm* window = TSmsSendersForm::Existing();
    ASSERT_TRUE(SelectRow(window->findChild<QTreeView*>("SmsSendersListView"), "MTS"));
    struct TCase {
        const char* Field;
        QString Typed;
        std::string Saved; // empty: nothing may be saved yet
    } cases[] = {
        {"NameEdit", QStringLiteral(" Мегафон"), U("Name=MTS Мегафон")},
        {"ReplyOkPatternEdit", QStringLiteral("^OK (\\d+)"), "ReplyOkPattern=^OK (\\d+)"},
        {"ReplyPermFailPatternEdit", QStringLiteral("ERR ("), ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Field);
        auto* edit = window->findChild<QLineEdit*>(c.Field);
        ASSERT_TRUE(edit);
        window->activateWindow();
        edit->setFocus();
        edit->end(false);
        const std::string before = Data.dir().read("SmsGates.ini");
        TypeText(edit, c.Typed);
        QTest::qWait(2300);
        EXPECT_TRUE(edit->hasFocus());
        const std::string file = Data.dir().read("SmsGates.ini");
        if (c.Saved.empty())
            EXPECT_EQ(file, before);
        else
            EXPECT_NE(file.find(c.Saved), std::string::npos) << Cp1251ToUtf8(file);
    }
    EXPECT_TRUE(Ui.Texts(TUiCallKind::Error).isEmpty()) << Ui.Texts(TUiCallKind::Error).join("|").toStdString();
}

TEST_F(TSaveAsEdited, TheComposerTextComesBackAtTheNextStartAndANewMessageDropsIt)
{
    Start();
    Memo->setFocus();
    TypeText(Memo, QStringLiteral("Привет"));
    QTest::keyClick(Memo, Qt::Key_Return);
    TypeText(Memo, QStringLiteral("мир"));
    ASSERT_TRUE(SavedSoon());
    EXPECT_EQ(Data.dir().read("SmsDraft.txt"), U("Привет\r\nмир"));

    Form->close();
    Form.reset();
    Start();
    EXPECT_EQ(Memo->Text(), U("Привет\r\nмир"));
    ASSERT_TRUE(Trigger(Form.get(), "NewSmsAction"));
    ASSERT_TRUE(SavedSoon());
    EXPECT_FALSE(std::filesystem::exists(Data.dir().file("SmsDraft.txt")));
}

// A kept text is a data file like the others: UTF-8 is read converted; a
// UTF-16 or binary file, or one too big for a message, is refused with a
// Russian box naming it, and typing on never writes over it.
TEST_F(TSaveAsEdited, AKeptTextThatDoesNotReadIsReportedAndNeverWrittenOver)
{
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : u"Привет, мир") {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    struct TCase {
        const char* What;
        std::string Bytes;
        const char* Reason; // empty: it reads
    } cases[] = {
        {"UTF-8 from an editor", "Привет, мир\r\nдо встречи", ""},
        {"UTF-16", utf16, "UTF-16"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "нулевые байты"},
        {"too big", std::string(3 * 1024 * 1024, 'x'), "слишком велик"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Data.dir().write("SmsDraft.txt", c.Bytes);
        const qsizetype boxes = Ui.Texts(TUiCallKind::Error).size();
        Start();
        const QStringList errors = Ui.Texts(TUiCallKind::Error).mid(boxes);
        if (!*c.Reason) {
            EXPECT_TRUE(errors.isEmpty()) << errors.join("|").toStdString();
            EXPECT_EQ(Memo->Text(), U("Привет, мир\r\nдо встречи"));
        } else {
            ASSERT_EQ(errors.size(), 1);
            EXPECT_TRUE(errors[0].contains(QStringLiteral("SmsDraft.txt")) && errors[0].contains(QString::fromUtf8(c.Reason)))
                << errors[0].toStdString();
            EXPECT_EQ(Memo->Text(), "");
            Memo->setFocus();
            TypeText(Memo, QStringLiteral("Новое"));
            ASSERT_TRUE(SavedSoon());
            EXPECT_EQ(Data.dir().read("SmsDraft.txt"), c.Bytes); // left as it was
        }
        Form->close();
        Form.reset();
    }
}

// A signal's close: no question although a message waits, and the edit of the
// last moment (not yet due for its save) is written.
TEST_F(TSaveAsEdited, ClosingWithoutAskingAsksNothingAndSavesTheLastEdit)
{
    Start();
    auto* contact = new TContact;
    contact->SetName(U("Анна"));
    contact->PhoneNumber = "+79990001122";
    SmsManager().AddContact(contact);
    SmsManager().AddRecipientContact(contact);
    Form->SmsQueueForm()->Pause();
    Memo->SetText("hello");
    ASSERT_TRUE(Trigger(Form.get(), "SendSmsAction"));
    Ui.Dialog([](QDialog& d) {
        d.findChild<QLineEdit*>("NameEdit")->setText(QStringLiteral("Соседи"));
        d.accept();
    });
    ASSERT_TRUE(Trigger(Form.get(), "AddGroupAction"));
    Ui.Calls.clear();
    Form->CloseWithoutAsking();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(Ui.Calls.empty());
    EXPECT_NE(Data.dir().read("SmsAddressBook.ini").find(U("Соседи")), std::string::npos);
}
