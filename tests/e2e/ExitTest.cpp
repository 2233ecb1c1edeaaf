// Closing the program while a gateway holds a delivery: the close is answered
// "Да" in the real main window, the delivery under way is cut at once (it
// does not wait for the gateway's own time limit), the files are written and
// the messages stay owed for the next start, which brings them back held for
// the user's word.
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "engine/StdSmsSenderIo.h"
#include "model/Translit.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "support/SilentServer.h"
#include "support/TestSupport.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MainForm.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

template <class F>
bool WaitFor(F done, int seconds = 60)
{
    for (int i = 0; i < seconds * 20 && !done(); ++i)
        QTest::qWait(50);
    return done();
}

class ExitWithDelivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProgramSettingsFolder(Data.dir().path() + "/settings");
        RegisterIoClasses();
        ResetTranslitTable();
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        ProgramOptions().Load(); // not a first run
        auto gate = [](const char* name) {
            auto* sender = new TStdSmsSender;
            sender->SetName(U(name));
            SmsManager().AddSmsSender(sender);
            return sender;
        };
        TStdSmsSender* web = gate("Молчащий веб-шлюз");
        web->GateType = TStdSmsSender::WebGateType;
        web->WebGate = "http://127.0.0.1:" + std::to_string(Web.Port) + "/send?to={phone}&text={message}";
        TStdSmsSender* mail = gate("Молчащий почтовый шлюз");
        mail->GateType = TStdSmsSender::EmailGateType;
        mail->EmailGate = "{phone}@sms.test";
        for (auto [name, phone, sender] : {std::tuple {"Анна", "+79001110001", web},
                                           std::tuple {"Борис", "+79002220002", mail}}) {
            auto* contact = new TContact;
            contact->SetName(U(name));
            contact->PhoneNumber = phone;
            contact->SmsSender = sender;
            SmsManager().AddContact(contact);
        }
        const TProgramOptions& names = ProgramOptions();
        SmsManager().SaveSmsSenders(names.SmsGatesFileName);
        SmsManager().SaveAddressBook(names.AddressBookFileName);
        TSmsOptions options;
        options.SmtpHost = "127.0.0.1:" + std::to_string(Smtp.Port);
        options.SmtpFromAddress = "velotext@test.ru";
        options.Save(names.OptionsFileName);
        StartProgram();
    }
    void TearDown() override
    {
        Form.reset();
        ResetSmsManagerForTests();
        SetProgramSettingsFolder("");
    }
    // A new process over the same files.
    void StartProgram()
    {
        Form.reset();
        ResetProgramOptionsForTests();
        ResetSmsOptionsForTests();
        ResetSmsManagerForTests();
        Form = std::make_unique<TMainForm>();
        Form->SetStartUpOnShow(true);
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
        ASSERT_TRUE(Form->StartupState().Complete()) << Form->StartupState().ErrorText;
    }
    // Closes the main window answering "Да"; the seconds the close took.
    double CloseAnsweringYes()
    {
        TUiScript ui;
        ui.Yes();
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(Form->close());
        const double seconds = clock.elapsed() / 1000.0;
        EXPECT_EQ(ui.Texts(TUiCallKind::Confirm).size(), 1);
        return seconds;
    }
    TContact* Contact(const char* name) { return SmsManager().Contacts()[SmsManager().Contacts().IndexOfName(U(name))]; }

    TScopedDataDir Data;
    TSilentServer Web, Smtp;
    TUiScript Ui; // the start's question unanswered: "Позже"
    std::unique_ptr<TMainForm> Form;
};

TEST_F(ExitWithDelivery, TheCloseCutsTheDeliveryAndTheMessagesComeBackAtTheNextStart)
{
    // Both contacts picked, the message typed and sent through the window.
    SmsManager().AddRecipientContact(Contact("Анна"));
    SmsManager().AddRecipientContact(Contact("Борис"));
    Form->findChild<TMessageMemo*>("MessageMemo")->SetText(U("Встреча в 10:00"));
    QTest::mouseClick(Form->findChild<QToolButton*>("SendButton"), Qt::LeftButton);
    ASSERT_EQ(SmsManager().Queue.Count() + (SmsManager().CurrentDelivery() ? 1 : 0), 2);
    // The web gate holds the first delivery: it took the request and says nothing.
    ASSERT_TRUE(WaitFor([&] { return Web.Reached() && SmsManager().CurrentDelivery(); }));

    // The queue window is left open: the next start opens it again.
    Form->SmsQueueForm()->show();
    // The web gate's own limit is 120 s; the close must not wait for it.
    EXPECT_LT(CloseAnsweringYes(), 30.0);
    EXPECT_NE(Data.dir().read("SmsAddressBook.ini").find(U("Борис")), std::string::npos);
    const std::string journal = Data.dir().read("SmsQueue.journal");
    EXPECT_NE(journal.find(U("Встреча в 10:00")), std::string::npos) << journal;

    // The next start: both owed and held, the cut one marked; the question about
    // the one that came due while the program was closed answered "Позже".
    StartProgram();
    ASSERT_EQ(SmsManager().Queue.Count(), 2);
    EXPECT_EQ(SmsManager().Queue.Items(0)->Contact->Name(), U("Анна"));
    EXPECT_TRUE(SmsManager().Queue.Items(0)->Interrupted);
    EXPECT_TRUE(SmsManager().Queue.Items(0)->Held);
    EXPECT_EQ(SmsManager().Queue.Items(0)->TryCount, 1);
    EXPECT_FALSE(SmsManager().Queue.Items(1)->Interrupted);
    EXPECT_TRUE(SmsManager().Queue.Items(1)->Held);
    ASSERT_TRUE(WaitFor([&] { return !Ui.Texts(TUiCallKind::Confirm).isEmpty(); }, 10));
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm),
              QStringList {QStringLiteral("1 SMS должны были уйти, пока программа была закрыта. Отправить сейчас?")});
    auto* queueWindow = Form->findChild<TSmsQueueForm*>();
    ASSERT_NE(queueWindow, nullptr);
    // Reopened by the start before the queue was read, it lists both at once; the cut one says so.
    EXPECT_TRUE(queueWindow->isVisible());
    auto* grid = queueWindow->findChild<QListView*>("SmsStringGrid");
    const QAbstractItemModel* rows = grid->model();
    ASSERT_EQ(rows->rowCount(), 3);
    EXPECT_TRUE(rows->index(1, 0).data().toString().contains(QStringLiteral("Отправка была прервана: SMS могло уйти")));
    EXPECT_FALSE(rows->index(2, 0).data().toString().contains(QStringLiteral("прервана")));
    const QString state = Form->findChild<QLabel*>("QueueStateLabel")->text();
    EXPECT_TRUE(state.contains(QStringLiteral("ждёт вашего решения: 2 SMS"))) << state.toStdString();
    QTest::qWait(1500); // held: no attempt starts
    EXPECT_FALSE(SmsManager().CurrentDelivery());

    // The user drops the web-gate message and lets the other go: the relay holds it.
    SmsManager().DeleteQueued(SmsManager().Queue.Items(0));
    queueWindow->RefreshQueue();
    grid->setCurrentIndex(rows->index(1, 0));
    queueWindow->findChild<QAction*>("SendNowTB")->trigger();
    queueWindow->hide();
    ASSERT_TRUE(WaitFor([&] { return Smtp.Reached() && SmsManager().CurrentDelivery(); }));
    // The relay's reply limit is 60 s; the close must not wait for it either.
    EXPECT_LT(CloseAnsweringYes(), 30.0);
    StartProgram();
    ASSERT_EQ(SmsManager().Queue.Count(), 1);
    EXPECT_EQ(SmsManager().Queue.Items(0)->Contact->Name(), U("Борис"));
    EXPECT_TRUE(SmsManager().Queue.Items(0)->Interrupted);
}

} // namespace

namespace {

// A queue window left open comes back with the next start before the queue
// is read: it lists the message at once, and a message whose moment has not
// come is neither asked about nor held.
TEST_F(ExitWithDelivery, AQueueWindowReopenedAtStartListsTheQueueAndAScheduledMessageWaitsForItsTime)
{
    SmsManager().AddRecipientContact(Contact("Анна"));
    SmsManager().QueueSms(U("Через час"), LocalSeconds(Now()) + 3600);
    Form->SmsQueueForm()->show();
    CloseAnsweringYes();
    StartProgram();
    QTest::qWait(200);
    auto* queueWindow = Form->findChild<TSmsQueueForm*>();
    ASSERT_NE(queueWindow, nullptr);
    EXPECT_TRUE(queueWindow->isVisible());
    const QAbstractItemModel* rows = queueWindow->findChild<QListView*>("SmsStringGrid")->model();
    ASSERT_EQ(rows->rowCount(), 2);
    EXPECT_TRUE(rows->index(1, 0).data().toString().contains(QStringLiteral("Через час")));
    EXPECT_TRUE(Ui.Texts(TUiCallKind::Confirm).isEmpty());
    EXPECT_FALSE(SmsManager().Queue.Items(0)->Held);
}

} // namespace
