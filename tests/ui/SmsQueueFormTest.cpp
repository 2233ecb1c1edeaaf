// The queue window's whole cycle: the send timer's three-step delivery
// against a scripted operator (retries behind the other messages, the attempt
// number, giving up into the history and the failure count), pausing and
// deleting while a slow delivery is out, the shut-down cancel, and one run
// through the timer against a real Kannel gateway.
#include "engine/ManagerFixture.h"
#include "engine/StdSmsSender.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/SmsQueueForm.h"

#include "UiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <filesystem>
#include <future>
#include <thread>

namespace {

class SmsQueueFormTest : public ManagerTest {
protected:
    void SetUp() override
    {
        TestApp();
        SmsOptions().MaxTryCount = 3;
        SmsOptions().HistoryFlag = true;
        Form = std::make_unique<TSmsQueueForm>();
        Form->show();
    }
    void TearDown() override
    {
        Form.reset();
        EXPECT_EQ(Ui.Unanswered, 0);
    }

    QListView* Grid() { return Form->findChild<QListView*>("SmsStringGrid"); }
    QTimer* Timer() { return Form->findChild<QTimer*>("SenderTimer"); }
    // One tick of the send timer, as the timer gives it.
    void Tick() { QMetaObject::invokeMethod(Timer(), "timeout"); }
    // One tick and the end of the delivery it started.
    ::testing::AssertionResult TickAndFinish()
    {
        QSignalSpy changed(Form.get(), &TSmsQueueForm::QueueChanged);
        Tick();
        if (!Form->Sending())
            return ::testing::AssertionFailure() << "no delivery started";
        if (!changed.wait(10000))
            return ::testing::AssertionFailure() << "the delivery did not end";
        return ::testing::AssertionSuccess();
    }
    void Refresh() { Form->RefreshQueue(); }

    TUiScript Ui;
    std::unique_ptr<TSmsQueueForm> Form;
};

TEST_F(SmsQueueFormTest, FailedMessageRetriesBehindTheOthersThenGivesUpIntoHistoryAndFailureCount)
{
    TSmsSender* op = AddFakeSender();
    TContact* anna = AddContact(U("Анна"), "101", op);
    TContact* boris = AddContact(U("Борис"), "102", op);
    Queue({anna, boris}, U("Привет"));
    Refresh();
    ASSERT_EQ(Rows(Grid()).size(), 3);
    EXPECT_EQ(Rows(Grid())[0], QStringLiteral("Список сообщений"));
    // 01.02.2026 09:05:03: minutes are not months, hours are on the 24-hour clock.
    EXPECT_EQ(Rows(Grid())[1], QStringLiteral("Для: Анна (101)   Дата: 01.02.2026 09:05:03\rПривет"));

    Script->Outcomes = {U("Нет связи"), std::nullopt, U("Нет связи"), U("Нет связи")};
    ASSERT_TRUE(TickAndFinish()); // Анна fails and goes behind Борис
    EXPECT_EQ(Rows(Grid()), (QStringList{QStringLiteral("Список сообщений"),
                                         QStringLiteral("Для: Борис (102)   Дата: 01.02.2026 09:05:03\rПривет"),
                                         QStringLiteral("Для: Анна (101)   Дата: 01.02.2026 09:05:03   Попытка № 2"
                                                        "\rПривет\rПрошлая попытка не удалась: Нет связи\r"
                                                        "Следующая попытка в 09:05:08")}));
    EXPECT_TRUE(Timer()->isActive()); // re-armed after the attempt
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(TickAndFinish()); // Борис delivered
    EXPECT_FALSE(TickAndFinish()); // Анна waits her 5 s
    Clock.set(MakeDateTime(2026, 2, 1, 9, 5, 8));
    ASSERT_TRUE(TickAndFinish()); // Анна, attempt 2
    EXPECT_TRUE(Rows(Grid())[1].endsWith(QStringLiteral(
        "Попытка № 3\rПривет\rПрошлая попытка не удалась: Нет связи\rСледующая попытка в 09:05:38")));
    Clock.set(MakeDateTime(2026, 2, 1, 9, 5, 38));
    ASSERT_TRUE(TickAndFinish()); // Анна, attempt 3: given up
    EXPECT_EQ(Rows(Grid()), QStringList{QStringLiteral("Список сообщений пуст")});
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_EQ(Script->pieces().size(), 4u);
    const std::string history = Read("SmsHistory.txt");
    EXPECT_NE(history.find("102"), std::string::npos);
    EXPECT_NE(history.find(U("Нет связи")), std::string::npos);

    // An empty queue: a tick starts nothing and the timer keeps ticking.
    Tick();
    EXPECT_FALSE(Form->Sending());
    EXPECT_TRUE(Timer()->isActive());
    EXPECT_TRUE(Ui.Calls.empty()); // no box on the way
}

// A message waiting for its next attempt tells why the last one failed, on
// one line: the lines of the error joined by "; ".
TEST_F(SmsQueueFormTest, ARetriedRowTellsTheLastErrorOnOneLine)
{
    TSmsSender* op = AddFakeSender();
    Queue({AddContact(U("Анна"), "101", op)}, U("Привет"));
    Refresh();
    EXPECT_EQ(Grid()->model()->index(1, 0).data(Qt::ToolTipRole).toString(), QString());
    Script->Outcomes = {U("Не удалось отправить SMS через E-Mail шлюз.\r101@sms.test\r\rSMTP сервер не ответил вовремя (MAIL).")};
    ASSERT_TRUE(TickAndFinish());
    EXPECT_EQ(Grid()->model()->index(1, 0).data(Qt::ToolTipRole).toString(),
              QStringLiteral("Ошибка: Не удалось отправить SMS через E-Mail шлюз.; 101@sms.test; "
                             "SMTP сервер не ответил вовремя (MAIL)."));
    // and the row itself says it, under the text
    EXPECT_TRUE(Rows(Grid())[1].contains(QStringLiteral("Прошлая попытка не удалась: Не удалось отправить SMS через "
                                                        "E-Mail шлюз.; 101@sms.test; SMTP сервер не ответил вовремя")))
        << Rows(Grid())[1].toStdString();
    // "Удалить" is greyed while the queue runs, and its hint says why.
    EXPECT_FALSE(Form->findChild<QAction*>("DeleteTB")->isEnabled());
    EXPECT_TRUE(Form->findChild<QAction*>("DeleteTB")->toolTip().contains(QStringLiteral("только на паузе")));
}

TEST_F(SmsQueueFormTest, SlowDeliveryKeepsTheWindowServingAPauseWaitsForItsEndAndDeletingSparesIt)
{
    TSmsSender* op = AddFakeSender();
    TContact* anna = AddContact(U("Анна"), "101", op);
    TContact* boris = AddContact(U("Борис"), "102", op);
    Queue({anna, boris});
    Refresh();
    EXPECT_FALSE(Trigger(Form.get(), "DeleteTB")); // sending runs: no deleting
    EXPECT_FALSE(Trigger(Form.get(), "DeleteAllTB"));

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Script->OnSend = [released] { released.wait(); };
    Script->Otherwise = U("Нет связи");
    QSignalSpy changed(Form.get(), &TSmsQueueForm::QueueChanged);
    Tick();
    // The tick came back while the operator is still busy: the window serves events.
    ASSERT_TRUE(Form->Sending());
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    bool served = false;
    QTimer::singleShot(0, Form.get(), [&] { served = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return served; }, 5000));
    Tick(); // a second tick inside the first starts nothing

    ASSERT_TRUE(Trigger(Form.get(), "PauseTB"));
    EXPECT_TRUE(Form->Paused());
    EXPECT_EQ(Form->findChild<QAction*>("PauseTB")->text(), QStringLiteral("Старт"));
    // Only Борис is in the queue now; the grid still shows both rows.
    ASSERT_TRUE(SelectRow(Grid(), Rows(Grid())[1])); // Анна's row: the message out
    Ui.Yes();
    ASSERT_TRUE(Trigger(Form.get(), "DeleteTB"));
    EXPECT_EQ(M().Queue.Count(), 1) << "the message out is not in the queue: nothing else goes instead";
    Ui.Yes();
    ASSERT_TRUE(Trigger(Form.get(), "DeleteAllTB"));
    EXPECT_EQ(M().Queue.Count(), 0);

    changed.clear();
    release.set_value();
    ASSERT_TRUE(changed.wait(10000));
    EXPECT_FALSE(Form->Sending());
    EXPECT_FALSE(Timer()->isActive()); // paused: no further tick
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(Script->pieces().size(), 1u); // one attempt only
    ASSERT_EQ(Rows(Grid()).size(), 2); // Анна came back for her second attempt
    EXPECT_TRUE(Rows(Grid())[1].startsWith(QStringLiteral("Для: Анна (101)")));
    EXPECT_TRUE(Rows(Grid())[1].contains(QStringLiteral("Попытка № 2")));

    Ui.No();
    ASSERT_TRUE(Trigger(Form.get(), "DeleteTB"));
    EXPECT_EQ(M().Queue.Count(), 1); // No changes nothing
    Ui.Yes();
    ASSERT_TRUE(Trigger(Form.get(), "DeleteTB"));
    EXPECT_EQ(Rows(Grid()), QStringList{QStringLiteral("Список сообщений пуст")});
    EXPECT_EQ(Read("SmsHistory.txt"), ""); // deleted messages never reach the history
    EXPECT_EQ(Ui.Texts(TUiCallKind::Confirm),
              (QStringList{QStringLiteral("Удалить сообщение из очереди?"),
                           QStringLiteral("Удалить все сообщения из очереди?"),
                           QStringLiteral("Удалить сообщение из очереди?"),
                           QStringLiteral("Удалить сообщение из очереди?")}));
    // Empty queue: "Удалить" asks nothing, "Удалить все" still asks.
    ASSERT_TRUE(Trigger(Form.get(), "DeleteTB"));
    Ui.No();
    ASSERT_TRUE(Trigger(Form.get(), "DeleteAllTB"));
    EXPECT_EQ(Ui.Calls.size(), 5u);

    ASSERT_TRUE(Trigger(Form.get(), "PauseTB"));
    EXPECT_TRUE(Timer()->isActive());
    EXPECT_FALSE(Form->findChild<QAction*>("DeleteTB")->isEnabled());
}

TEST_F(SmsQueueFormTest, ShutDownCancelsTheDeliveryOutAndKeepsItOwedMarked)
{
    TSmsSender* op = AddFakeSender();
    op->MaxSmsLen = 20; // two pieces
    SmsOptions().MaxTryCount = 1;
    Queue({AddContact(U("Анна"), "101", op)}, std::string(30, 'a'));
    std::promise<std::shared_ptr<TSmsDelivery>> out;
    std::shared_future<std::shared_ptr<TSmsDelivery>> delivery = out.get_future().share();
    auto inside = std::make_shared<std::promise<void>>();
    Script->OnSend = [delivery, inside] { // the first piece lasts until the cancel
        inside->set_value();
        while (!delivery.get()->CancelRequested())
            std::this_thread::yield();
    };
    Tick();
    ASSERT_TRUE(Form->Sending());
    out.set_value(M().CurrentDelivery());
    ASSERT_EQ(inside->get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    Form->StopDelivery();
    EXPECT_FALSE(Form->Sending());
    EXPECT_EQ(Script->pieces().size(), 1u); // the second piece never went
    // A piece went out: owed again at the front, marked as one that may have gone; not a failure.
    EXPECT_EQ(M().Queue.FailedCount, 0);
    ASSERT_EQ(M().Queue.Count(), 1);
    EXPECT_TRUE(M().Queue.Items(0)->Interrupted);
    EXPECT_FALSE(std::filesystem::exists(Data.dir().file("SmsHistory.txt")));
    EXPECT_FALSE(Timer()->isActive());
    Refresh();
    EXPECT_FALSE(Timer()->isActive()); // no attempt after shut-down
}

TEST_F(SmsQueueFormTest, HistoryWriteErrorIsReportedAfterTheTimerCursorAndBusyMarkAreBack)
{
    std::filesystem::create_directory(Data.dir().file("SmsHistory.txt")); // the history cannot be written
    SmsOptions().MaxTryCount = 1;
    Queue({AddContact(U("Анна"), "101", AddFakeSender())});
    ASSERT_TRUE(TickAndFinish());
    EXPECT_FALSE(Form->Sending());
    EXPECT_TRUE(Timer()->isActive());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(Ui.Calls.size(), 1u);
    EXPECT_EQ(Ui.Calls[0].Kind, TUiCallKind::Error);
    EXPECT_EQ(Ui.Calls[0].Title, QApplication::applicationDisplayName()); // the top-level report
    EXPECT_TRUE(Ui.Calls[0].Text.endsWith(QLatin1Char('.')));
    EXPECT_EQ(M().Queue.Count(), 0);
}

// The message out for delivery heads the list, marked, while the rest wait
// below it; a message held for the user's word (as after a restart) is passed
// over by the timer until "Отправить" lets it go.
TEST_F(SmsQueueFormTest, TheListShowsTheMessageInDeliveryAndAHeldOneGoesOnlyOnTheUsersWord)
{
    TSmsSender* op = AddFakeSender();
    Queue({AddContact(U("Анна"), "101", op), AddContact(U("Борис"), "102", op)});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Script->OnSend = [released] { released.wait(); };
    Tick();
    ASSERT_TRUE(Form->Sending());
    Refresh();
    const QAbstractItemModel* rows = Grid()->model();
    ASSERT_EQ(rows->rowCount(), 3); // the header, the one out, the one waiting
    EXPECT_TRUE(rows->index(1, 0).data().toString().contains(QStringLiteral("Анна")));
    EXPECT_TRUE(rows->index(1, 0).data().toString().endsWith(QStringLiteral("Отправляется сейчас")));
    EXPECT_TRUE(rows->index(2, 0).data().toString().contains(QStringLiteral("Борис")));
    QSignalSpy changed(Form.get(), &TSmsQueueForm::QueueChanged);
    release.set_value();
    ASSERT_TRUE(changed.wait(10000));
    Script->OnSend = nullptr;

    // Борис held as a start holds a message that came due while the program was closed.
    EXPECT_EQ(M().HoldRestored(LocalSeconds(Now())).Overdue, 1);
    Refresh();
    Tick();
    EXPECT_FALSE(Form->Sending());
    EXPECT_TRUE(rows->index(1, 0).data().toString().contains(QStringLiteral("Ждёт вашего решения")));
    auto* sendNow = Form->findChild<QAction*>("SendNowTB");
    Grid()->setCurrentIndex(rows->index(1, 0));
    ASSERT_TRUE(sendNow->isEnabled());
    sendNow->trigger();
    EXPECT_FALSE(sendNow->isEnabled());
    ASSERT_TRUE(TickAndFinish());
    EXPECT_EQ(M().Queue.Count(), 0);
    EXPECT_EQ(Script->pieces().size(), 2u);
}

// A record written while the history window is open appears at once, as the
// window's filter has it.
TEST_F(SmsQueueFormTest, TheOpenHistoryWindowShowsANewRecordAtOnceThroughItsFilter)
{
    SmsOptions().MaxTryCount = 1;
    TSmsSender* op = AddFakeSender();
    Queue({AddContact(U("Анна"), "101", op)});
    ASSERT_TRUE(TickAndFinish()); // the history file now exists
    TSmsHistoryForm* history = TSmsHistoryForm::Open(M().History, Form.get(), true);
    ASSERT_NE(history, nullptr);
    while (history->Filling())
        QCoreApplication::processEvents();
    auto* list = history->findChild<QTreeView*>("HistoryListView");
    EXPECT_EQ(list->model()->rowCount(), 0); // failed only: none yet

    Script->Outcomes = {std::string(U("Нет связи")), std::nullopt};
    Queue({AddContact(U("Борис"), "102", op), AddContact(U("Вера"), "103", op)});
    ASSERT_TRUE(TickAndFinish());
    ASSERT_TRUE(TickAndFinish());
    ASSERT_EQ(list->model()->rowCount(), 1);
    EXPECT_EQ(list->model()->index(0, 1).data().toString(), QStringLiteral("Борис"));
    EXPECT_EQ(history->findChild<QLabel*>("StatusLabel")->text(), QStringLiteral("Показано записей: 1 из 3"));
    history->findChild<QCheckBox*>("FailedOnlyCheckBox")->click();
    EXPECT_EQ(list->model()->rowCount(), 3);
    EXPECT_GE(history->findChild<QComboBox*>("ContactComboBox")->findText(QStringLiteral("Вера")), 1);
}

// Through the real timer to a real SMS gateway.
class SmsQueueFormKannelTest : public SmsQueueFormTest {
protected:
    static void SetUpTestSuite() { Peer = StartKannel(StartError); }
    static void TearDownTestSuite() { Peer.reset(); }
    static inline std::unique_ptr<TPeerProcess> Peer;
    static inline std::string StartError;
};

TEST_F(SmsQueueFormKannelTest, TimerDeliversAQueuedMessageToTheGateway)
{
    ASSERT_TRUE(Peer) << StartError;
    auto* op = new TStdSmsSender;
    op->SetName("Kannel");
    op->GateType = TStdSmsSender::WebGateType;
    op->Charset = "UTF-8";
    op->WebGate = KannelWebGate(*Peer, "UTF-8");
    M().AddSmsSender(op);
    Queue({AddContact(U("Анна"), "+79001000101", op)}, U("Очередь: привет, Kannel!"));
    Refresh();
    QSignalSpy changed(Form.get(), &TSmsQueueForm::QueueChanged);
    ASSERT_TRUE(changed.wait(15000)); // the first tick comes by itself
    EXPECT_EQ(M().Queue.Count(), 0);
    EXPECT_EQ(M().Queue.FailedCount, 0);
    EXPECT_EQ(KannelArrivedText(Peer->value("log"), "+79001000101"), "Очередь: привет, Kannel!");
    EXPECT_NE(Read("SmsHistory.txt").find("+79001000101"), std::string::npos);
}

} // namespace
