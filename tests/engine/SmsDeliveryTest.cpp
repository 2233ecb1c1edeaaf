#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"

#include <atomic>
#include <future>
#include <thread>

namespace {

// Holds the first DoSend until the test lets it go; later calls pass.
class TGate {
public:
    std::function<void()> Hook()
    {
        return [this] {
            if (First.exchange(false)) {
                Entered.set_value();
                Release.get_future().wait();
            }
        };
    }
    void WaitEntered() { Entered.get_future().wait(); }
    void Open() { Release.set_value(); }

private:
    std::atomic<bool> First {true};
    std::promise<void> Entered;
    std::promise<void> Release;
};

} // namespace

TEST_F(ManagerTest, BeginTakesTheFirstMessageAndCountsTheAttempt)
{
    TSmsSender* op = AddFakeSender();
    M().AddRecipientContact(AddContact("A", "1", op));
    M().AddRecipientContact(AddContact("B", "2", op));
    M().QueueSms("x");
    TSms* first = M().Queue.Items(0);
    first->ErrorText = "old";

    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    ASSERT_NE(delivery, nullptr);
    EXPECT_EQ(delivery->Sms(), first);
    EXPECT_EQ(first->TryCount, 1);
    EXPECT_EQ(first->ErrorText, "");
    EXPECT_EQ(M().Queue.Count(), 1);
    EXPECT_EQ(delivery->Phone(), "1");
    EXPECT_EQ(delivery->Text(), "x");
    EXPECT_NE(delivery->SmsSender(), op); // a copy
    EXPECT_EQ(M().CurrentDelivery(), delivery);

    // Only one delivery at a time.
    EXPECT_EQ(M().BeginDelivery(), nullptr);
    EXPECT_FALSE(M().SendNext());
    EXPECT_EQ(M().Queue.Count(), 1);
    EXPECT_TRUE(Script->pieces().empty());

    delivery->Run();
    M().FinishDelivery(delivery);
    EXPECT_EQ(M().CurrentDelivery(), nullptr);
    EXPECT_EQ(M().Queue.Count(), 1);
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|1|x", "Fake|2|x"}));
}

TEST_F(ManagerTest, FinishAcceptsOnlyTheDeliveryOutAndOnlyOnce)
{
    M().AddRecipientContact(AddContact("A", "1", AddFakeSender()));
    M().QueueSms("x");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    delivery->Run();
    EXPECT_THROW(M().FinishDelivery(nullptr), TError);
    M().FinishDelivery(delivery);
    EXPECT_THROW(M().FinishDelivery(delivery), TError);
    EXPECT_EQ(M().Queue.FailedCount, 0);
    EXPECT_NE(HistoryText().find(U("Статус: Сообщение отправлено.")), std::string::npos);
}

TEST_F(ManagerTest, ADeliveryFinishedWithoutRunningIsACancelledAttempt)
{
    SmsOptions().MaxTryCount = 2;
    M().AddRecipientContact(AddContact("A", "1", AddFakeSender()));
    M().QueueSms("x");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    M().FinishDelivery(delivery);
    delivery->Run(); // too late: does nothing
    EXPECT_TRUE(Script->pieces().empty());
    ASSERT_EQ(M().Queue.Count(), 1);
    EXPECT_EQ(M().Queue.Items(0)->Status, SmsStatusFailed);
    EXPECT_EQ(M().Queue.Items(0)->ErrorText, TSmsDelivery::CancelledErrorText());
}

TEST_F(ManagerTest, CancelStopsBeforeTheNextPiece)
{
    TSmsSender* op = AddFakeSender();
    op->MaxSmsLen = 15; // five characters of text per piece
    M().AddRecipientContact(AddContact("A", "1", op));
    M().QueueSms("aaaaabbbbbcccccd");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    Script->OnSend = [&] { delivery->Cancel(); };
    delivery->Run();
    M().FinishDelivery(delivery);
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|1|1 iz 4) aaaaa"}));
    EXPECT_EQ(Waiter.waits(), (std::vector<int> {3000}));
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_NE(HistoryText().find(U("Ошибка: Отправка прервана.\r\n")), std::string::npos);
}

TEST_F(ManagerTest, TheSnapshotKeepsOptionsAndTransliterationOfTheStart)
{
    SmsOptions().SmtpHost = "before";
    auto* standard = new TStdSmsSender;
    standard->SetName("Std");
    M().AddSmsSender(standard);
    TSmsSender* fake = AddFakeSender();
    fake->TranslitFlag = true;
    M().AddRecipientContact(AddContact("A", "1", standard));
    M().AddRecipientContact(AddContact("B", "2", fake));
    M().QueueSms(U("ая"));

    std::shared_ptr<TSmsDelivery> first = M().BeginDelivery();
    SmsOptions().SmtpHost = "after";
    const auto* copy = dynamic_cast<const TStdSmsSender*>(first->SmsSender());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, standard);
    EXPECT_EQ(copy->SendingOptions().SmtpHost, "before");
    EXPECT_EQ(standard->SendingOptions().SmtpHost, "after");
    M().FinishDelivery(first); // not run: a cancelled attempt, no network

    std::shared_ptr<TSmsDelivery> second = M().BeginDelivery();
    TranslitTable()[static_cast<unsigned char>(U("а")[0])] = "Q";
    second->Run();
    M().FinishDelivery(second);
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|2|aja"}));
}

// The model changes while the delivery runs on another thread: the attempt
// uses what it took at the start, the record shows the contact as it is at
// the end, and nothing it needs can be deleted meanwhile.
TEST_F(ManagerTest, ModelChangesDuringARunOnAnotherThread)
{
    TGate gate;
    Script->OnSend = gate.Hook();
    TSmsSender* op = AddFakeSender("Op");
    TSmsSender* other = AddFakeSender("Other");
    TContact* a = AddContact("A", "101", op);
    TContact* b = AddContact("B", "102", other);
    M().AddRecipientContact(a);
    M().AddRecipientContact(b);
    M().QueueSms("hello");

    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    ASSERT_NE(delivery, nullptr);
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();

    a->SetName("A2");
    a->PhoneNumber = "999";
    op->SetName("Op renamed");
    op->MaxSmsLen = 11; // would split the text into one-letter pieces
    op->TranslitFlag = true;
    EXPECT_EQ(ErrorOf([&] { M().DeleteContact(a); }), U("Нельзя удалить Абонента,\rт.к. ему в данный момент отсылается SMS."));
    a->SmsSender = other; // the contact no longer uses the operator, the delivery still does
    EXPECT_NE(ErrorOf([&] { M().CheckSmsSenderUnused(op); }), "");
    M().Queue.Delete(0); // B's message
    M().ClearQueue();
    EXPECT_EQ(M().BeginDelivery(), nullptr);
    EXPECT_FALSE(M().SendNext());
    EXPECT_THROW(M().FinishDelivery(delivery), TError); // still running
    EXPECT_FALSE(delivery->Done());

    gate.Open();
    worker.join();
    EXPECT_TRUE(delivery->Done());
    M().FinishDelivery(delivery);

    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Op|101|hello"}));
    EXPECT_NE(HistoryText().find(U("Для: A2 (999)\r\n")), std::string::npos);
    EXPECT_EQ(HistoryText().find("(102)"), std::string::npos);
    EXPECT_EQ(M().Queue.Count(), 0);
    EXPECT_EQ(M().Queue.FailedCount, 0);
    // Now both may go.
    M().CheckSmsSenderUnused(op);
    M().DeleteContact(a);
    EXPECT_EQ(M().Contacts().IndexOfName("A2"), -1);
}

TEST_F(ManagerTest, AFailureWithAttemptsLeftReturnsAfterTheQueueWasCleared)
{
    SmsOptions().MaxTryCount = 2;
    TGate gate;
    Script->OnSend = gate.Hook();
    Script->Otherwise = "down";
    TSmsSender* op = AddFakeSender();
    M().AddRecipientContact(AddContact("A", "1", op));
    M().AddRecipientContact(AddContact("B", "2", op));
    M().QueueSms("x");

    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();
    M().ClearQueue();
    gate.Open();
    worker.join();
    M().FinishDelivery(delivery);

    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"A"}));
    EXPECT_EQ(M().Queue.Items(0)->ErrorText, "down");
    EXPECT_EQ(M().Queue.FailedCount, 0);
}

TEST_F(ManagerTest, TheManagerCanGoWhileARunIsStillGoing)
{
    TGate gate;
    Script->OnSend = gate.Hook();
    M().AddRecipientContact(AddContact("A", "1", AddFakeSender()));
    M().QueueSms("x");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();
    ResetSmsManagerForTests(); // the model is gone; the snapshot is not
    gate.Open();
    worker.join();
    EXPECT_TRUE(delivery->Done());
    EXPECT_FALSE(delivery->Error().has_value());
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|1|x"}));
}
