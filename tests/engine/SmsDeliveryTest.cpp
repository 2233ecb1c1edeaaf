#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"

#include <filesystem>
#include <future>
#include <thread>

namespace {

// Holds the first DoSend until the test lets it go.
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
    std::promise<void> Entered, Release;
};

} // namespace

TEST_F(ManagerTest, TheThreeStepsOneDeliveryAtATime)
{
    TSmsSender* op = AddFakeSender();
    Queue({AddContact("A", "1", op), AddContact("B", "2", op)});
    TSms* first = M().Queue.Items(0);
    first->ErrorText = "old";
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    ASSERT_NE(delivery, nullptr);
    EXPECT_EQ(delivery->Sms(), first);
    EXPECT_EQ(first->TryCount, 1);
    EXPECT_EQ(first->ErrorText, "");
    EXPECT_EQ(M().Queue.Count(), 1);
    EXPECT_NE(delivery->SmsSender(), op); // a copy
    EXPECT_EQ(M().BeginDelivery(), nullptr);
    EXPECT_FALSE(M().SendNext());
    EXPECT_THROW(M().FinishDelivery(nullptr), TError);
    delivery->Run();
    M().FinishDelivery(delivery);
    EXPECT_THROW(M().FinishDelivery(delivery), TError);
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|1|x", "Fake|2|x"}));

    // Finished without running: a cancelled attempt.
    SmsOptions().MaxTryCount = 2;
    Queue({AddContact("C", "3", op)});
    delivery = M().BeginDelivery();
    M().FinishDelivery(delivery);
    delivery->Run(); // too late: does nothing
    EXPECT_EQ(Script->pieces().size(), 2u);
    EXPECT_EQ(M().Queue.Items(0)->ErrorText, TSmsDelivery::CancelledErrorText());
}

TEST_F(ManagerTest, CancelStopsBeforeTheNextPiece)
{
    TSmsSender* op = AddFakeSender();
    op->MaxSmsLen = 15;
    Queue({AddContact("A", "1", op)}, "aaaaabbbbbcccccd");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    Script->OnSend = [&] { delivery->Cancel(); };
    delivery->Run();
    M().FinishDelivery(delivery);
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|1|1 iz 4) aaaaa"}));
    EXPECT_EQ(Waiter.waits(), (std::vector<int> {3000}));
    // A piece went out: the message stays owed, at the front, marked as one that may have gone.
    EXPECT_FALSE(std::filesystem::exists(Data.dir().file("SmsHistory.txt")));
    ASSERT_EQ(M().Queue.Count(), 1);
    EXPECT_TRUE(M().Queue.Items(0)->Interrupted);
    EXPECT_EQ(M().Queue.Items(0)->TryCount, 1);
}

TEST_F(ManagerTest, TheSnapshotKeepsOptionsAndTransliterationOfTheStart)
{
    SmsOptions().SmtpHost = "before";
    auto* standard = new TStdSmsSender;
    standard->SetName("Std");
    M().AddSmsSender(standard);
    TSmsSender* fake = AddFakeSender();
    fake->TranslitFlag = true;
    Queue({AddContact("A", "1", standard), AddContact("B", "2", fake)}, U("ая"));
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    SmsOptions().SmtpHost = "after";
    const auto* copy = dynamic_cast<const TStdSmsSender*>(delivery->SmsSender());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->SendingOptions().SmtpHost, "before");
    M().FinishDelivery(delivery); // never run: no network
    delivery = M().BeginDelivery();
    TranslitTable()[static_cast<unsigned char>(U("а")[0])] = "Q";
    delivery->Run();
    M().FinishDelivery(delivery);
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|2|aja"}));
}

// The model changes while the delivery runs on another thread: the attempt
// uses what it took at the start, the record shows the contact as it is at
// the end, and nothing the delivery needs can be deleted meanwhile.
TEST_F(ManagerTest, ModelChangesDuringARunOnAnotherThread)
{
    TGate gate;
    Script->OnSend = gate.Hook();
    TSmsSender* op = AddFakeSender("Op");
    TSmsSender* other = AddFakeSender("Other");
    TContact* a = AddContact("A", "101", op);
    Queue({a, AddContact("B", "102", other), AddContact("C", "103", other)}, "hello");
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();

    a->SetName("A2");
    a->PhoneNumber = "999";
    op->SetName("Op renamed");
    op->MaxSmsLen = 11; // would split the text
    EXPECT_NE(ErrorOf([&] { M().DeleteContact(a); }), "");
    a->SmsSender = other; // only the delivery still uses op
    EXPECT_NE(ErrorOf([&] { M().CheckSmsSenderUnused(op); }), "");
    M().Queue.Delete(0);
    M().ClearQueue();
    EXPECT_EQ(M().BeginDelivery(), nullptr);
    EXPECT_THROW(M().FinishDelivery(delivery), TError); // still running
    EXPECT_FALSE(delivery->Done());

    gate.Open();
    worker.join();
    M().FinishDelivery(delivery);
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Op|101|hello"}));
    EXPECT_NE(Read("SmsHistory.txt").find(U("Для: A2 (999)\r\n")), std::string::npos);
    EXPECT_EQ(M().Queue.Count() + M().Queue.FailedCount, 0);
    M().CheckSmsSenderUnused(op);
    M().DeleteContact(a);
}

TEST_F(ManagerTest, AFailureWithAttemptsLeftReturnsAfterTheQueueWasCleared)
{
    SmsOptions().MaxTryCount = 2;
    TGate gate;
    Script->OnSend = gate.Hook();
    Script->Otherwise = "down";
    TSmsSender* op = AddFakeSender();
    Queue({AddContact("A", "1", op), AddContact("B", "2", op)});
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();
    M().ClearQueue();
    gate.Open();
    worker.join();
    M().FinishDelivery(delivery);
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"A"}));
    EXPECT_EQ(M().Queue.FailedCount, 0);
}

TEST_F(ManagerTest, TheManagerCanGoWhileARunIsStillGoing)
{
    TGate gate;
    Script->OnSend = gate.Hook();
    Queue({AddContact("A", "1", AddFakeSender())});
    std::shared_ptr<TSmsDelivery> delivery = M().BeginDelivery();
    std::thread worker([delivery] { delivery->Run(); });
    gate.WaitEntered();
    ResetSmsManagerForTests(); // the model is gone, the snapshot is not
    gate.Open();
    worker.join();
    EXPECT_TRUE(delivery->Done());
    EXPECT_FALSE(delivery->Error().has_value());
}
