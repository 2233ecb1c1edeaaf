#include "model/AddressBook.h"
#include "model/Clock.h"
#include "model/Error.h"
#include "model/SmsQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace {

// Records each piece and each wait, in order, in one log; can fail on a given call.
struct TRecordingSender : TSmsSender {
    std::vector<std::string>* Log = nullptr;
    int FailOnCall = 0; // 1-based; 0 = never
    int Calls = 0;
    std::string FailText = "gate down";
    bool ThrowStd = false;

    void DoSend(const std::string& phone, const std::string& text) override
    {
        ++Calls;
        if (Calls == FailOnCall) {
            if (ThrowStd)
                throw std::runtime_error("boom");
            throw TError(FailText);
        }
        Log->push_back(phone + "|" + text);
    }
    std::unique_ptr<TSmsSender> Clone() const override { return std::make_unique<TRecordingSender>(*this); }
};

class SmsSendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetTranslitTable();
        Sender.Log = &Log;
        SetWaiter([this](int ms) { Log.push_back("wait " + IntToStr(ms)); });
    }
    void TearDown() override
    {
        SetWaiter({});
        ResetTranslitTable();
    }
    std::vector<std::string> Log;
    TRecordingSender Sender;
};

std::string Digits(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>('0' + i % 10);
    return s;
}

} // namespace

TEST_F(SmsSendTest, TextOfExactlyMaxLengthGoesWholeWithoutWait)
{
    Sender.MaxSmsLen = 160;
    Sender.Send("+7901", Digits(160));
    EXPECT_EQ(Log, (std::vector<std::string> {"+7901|" + Digits(160)}));
}

TEST_F(SmsSendTest, LongerTextIsSplitWithHeadersAndAWaitAfterEveryPiece)
{
    Sender.MaxSmsLen = 160;
    std::string text = Digits(161);
    Sender.Send("p", text);
    EXPECT_EQ(Log, (std::vector<std::string> {"p|1 iz 2) " + text.substr(0, 150), "wait 3000",
                                              "p|2 iz 2) " + text.substr(150), "wait 3000"}));
}

TEST_F(SmsSendTest, SmallOrMissingLimitNeverSplits)
{
    for (int max : {10, 0, -5, INT_MIN}) {
        Log.clear();
        Sender.MaxSmsLen = max;
        Sender.Send("p", Digits(500));
        EXPECT_EQ(Log, (std::vector<std::string> {"p|" + Digits(500)})) << max;
    }
    Log.clear();
    Sender.MaxSmsLen = INT_MAX;
    Sender.Send("p", "short");
    EXPECT_EQ(Log, (std::vector<std::string> {"p|short"}));
}

TEST_F(SmsSendTest, LimitOfElevenSendsOneCharacterPerPiece)
{
    Sender.MaxSmsLen = 11;
    Sender.Send("p", "abcdefghijkl");
    ASSERT_EQ(Log.size(), 24u);
    EXPECT_EQ(Log[0], "p|1 iz 12) a");
    EXPECT_EQ(Log[2], "p|2 iz 12) b");
    EXPECT_EQ(Log[22], "p|12 iz 12) l");
    for (size_t i = 1; i < Log.size(); i += 2)
        EXPECT_EQ(Log[i], "wait 3000");
}

TEST_F(SmsSendTest, HundredPiecesAndMoreHaveLongerHeaders)
{
    Sender.MaxSmsLen = 11;
    Sender.Send("p", Digits(100));
    ASSERT_EQ(Log.size(), 200u);
    EXPECT_EQ(Log[0], "p|1 iz 100) 0");
    EXPECT_EQ(Log[198], "p|100 iz 100) 9");
    EXPECT_GT(Log[198].size() - 2, 11u); // longer than the limit: nothing prevents it
    EXPECT_EQ(Log[196], "p|99 iz 100) 8");
}

TEST_F(SmsSendTest, TransliteratedLengthDecidesSplittingAndHeaderStaysLatin)
{
    Sender.MaxSmsLen = 20;
    Sender.TranslitFlag = true;
    Sender.Send("p", U("жжжжжжжжжж")); // 10 letters, 20 after conversion
    EXPECT_EQ(Log, (std::vector<std::string> {"p|zhzhzhzhzhzhzhzhzhzh"}));

    Log.clear();
    Sender.Send("p", U("жжжжжжжжжжж")); // 11 letters, 22 after conversion
    EXPECT_EQ(Log, (std::vector<std::string> {"p|1 iz 3) zhzhzhzhzh", "wait 3000", "p|2 iz 3) zhzhzhzhzh", "wait 3000",
                                              "p|3 iz 3) zh", "wait 3000"}));

    Log.clear();
    Sender.TranslitFlag = false;
    Sender.Send("p", U("жжжжжжжжжжж"));
    EXPECT_EQ(Log, (std::vector<std::string> {"p|" + U("жжжжжжжжжжж")}));
}

TEST_F(SmsSendTest, TransliterationUsesTheGivenTableOrTheProcessTable)
{
    Sender.TranslitFlag = true;
    TTranslitTable snapshot = DefaultTranslitTable();
    snapshot[0xE6] = "Z";
    TranslitTable()[0xE6] = "P";
    Sender.Send("p", U("ж"), &snapshot);
    Sender.Send("p", U("ж"));
    EXPECT_EQ(Log, (std::vector<std::string> {"p|Z", "p|P"}));
}

TEST_F(SmsSendTest, FailingPieceEndsTheSendAndPassesTheErrorThrough)
{
    Sender.MaxSmsLen = 11;
    Sender.FailOnCall = 2;
    Sender.FailText = U("Шлюз не отвечает");
    try {
        Sender.Send("p", "abcdefghijkl");
        FAIL() << "no error";
    } catch (const TError& e) {
        EXPECT_EQ(e.message(), U("Шлюз не отвечает"));
    }
    EXPECT_EQ(Log, (std::vector<std::string> {"p|1 iz 12) a", "wait 3000"}));
    EXPECT_EQ(Sender.Calls, 2);
}

TEST_F(SmsSendTest, PlaceholderOperatorCannotDeliver)
{
    TSmsSenderPlaceholder placeholder(U("МТС"));
    EXPECT_EQ(placeholder.ClassName(), "TSmsSender");
    EXPECT_THROW(placeholder.Send("p", "text"), TError);
    std::unique_ptr<TSmsSender> copy = placeholder.Clone();
    EXPECT_EQ(copy->Name(), U("МТС"));
    EXPECT_THROW(copy->DoSend("p", "text"), TError);
}

// --- messages and the queue ---

class SmsQueueTest : public SmsSendTest {
protected:
    void SetUp() override
    {
        SmsSendTest::SetUp();
        Contact.SetName(U("Анна"));
        Contact.PhoneNumber = "+79010000001";
        Contact.SmsSender = &Sender;
    }
    TFakeClock Clock {MakeDateTime(2024, 3, 8, 9, 30, 15, 180)};
    TContact Contact;
};

TEST_F(SmsQueueTest, NewMessageAndTheOutcomeOfAttempts)
{
    TSms sms(&Contact, "hello");
    EXPECT_EQ(sms.Created, MakeDateTime(2024, 3, 8, 9, 30, 15, 180));
    EXPECT_EQ(sms.TryCount, 0);
    EXPECT_EQ(sms.Status, SmsStatusNone);
    EXPECT_EQ(sms.ErrorText, "");

    Sender.FailOnCall = 1;
    Sender.FailText = U("Ошибка шлюза");
    sms.TrySend();
    EXPECT_EQ(sms.TryCount, 1);
    EXPECT_EQ(sms.Status, SmsStatusFailed);
    EXPECT_EQ(sms.ErrorText, U("Ошибка шлюза"));

    sms.TrySend();
    EXPECT_EQ(sms.TryCount, 2);
    EXPECT_EQ(sms.Status, SmsStatusSent);
    EXPECT_EQ(sms.ErrorText, "");
    EXPECT_EQ(Log, (std::vector<std::string> {"+79010000001|hello"}));
}

TEST_F(SmsQueueTest, AttemptUsesTheContactAsItIsNow)
{
    TSms sms(&Contact, "hi");
    Contact.PhoneNumber = "+70000000000";
    std::vector<std::string> otherLog;
    TRecordingSender other;
    other.Log = &otherLog;
    Contact.SmsSender = &other;
    sms.TrySend();
    EXPECT_EQ(otherLog, (std::vector<std::string> {"+70000000000|hi"}));
    EXPECT_TRUE(Log.empty());
}

TEST_F(SmsQueueTest, FailuresNeverEscapeAnAttempt)
{
    TSms sms(&Contact, "hi");
    Contact.SmsSender = nullptr;
    sms.TrySend();
    EXPECT_EQ(sms.Status, SmsStatusFailed);
    EXPECT_EQ(sms.ErrorText, U("Для абонента не указан оператор."));

    TSmsSenderPlaceholder placeholder("Gone");
    Contact.SmsSender = &placeholder;
    sms.TrySend();
    EXPECT_EQ(sms.Status, SmsStatusFailed);
    EXPECT_NE(sms.ErrorText.find("Gone"), std::string::npos);

    Contact.SmsSender = &Sender;
    Sender.ThrowStd = true;
    Sender.FailOnCall = Sender.Calls + 1;
    sms.TrySend();
    EXPECT_EQ(sms.Status, SmsStatusFailed);
    EXPECT_NE(sms.ErrorText.find("boom"), std::string::npos);

    TSms orphan(nullptr, "x");
    orphan.TrySend();
    EXPECT_EQ(orphan.Status, SmsStatusFailed);
    EXPECT_FALSE(orphan.ErrorText.empty());
    EXPECT_EQ(sms.TryCount, 3);
}

TEST_F(SmsQueueTest, AttemptPassesTheTableToTheOperator)
{
    Sender.TranslitFlag = true;
    TTranslitTable snapshot = DefaultTranslitTable();
    snapshot['a'] = "@";
    TSms sms(&Contact, "ab");
    sms.TrySend(&snapshot);
    EXPECT_EQ(Log, (std::vector<std::string> {"+79010000001|@b"}));
}

TEST_F(SmsQueueTest, QueueIsFirstInFirstOut)
{
    TSmsQueue queue;
    EXPECT_EQ(queue.TakeFirst(), nullptr);
    EXPECT_EQ(queue.FailedCount, 0);
    EXPECT_EQ(queue.Add(std::make_unique<TSms>(&Contact, "M1")), 0);
    EXPECT_EQ(queue.Add(std::make_unique<TSms>(&Contact, "M2")), 1);
    EXPECT_EQ(queue.Add(std::make_unique<TSms>(&Contact, "M3")), 2);

    // M1 fails with attempts left and goes to the back.
    Sender.FailOnCall = 1;
    std::unique_ptr<TSms> first = queue.TakeFirst();
    first->TrySend();
    ASSERT_EQ(first->Status, SmsStatusFailed);
    EXPECT_EQ(queue.Add(std::move(first)), 2);
    ASSERT_EQ(queue.Count(), 3);
    EXPECT_EQ(queue.Items(0)->Text, "M2");
    EXPECT_EQ(queue.Items(1)->Text, "M3");
    EXPECT_EQ(queue.Items(2)->Text, "M1");
}

TEST_F(SmsQueueTest, DeleteAndClearLeaveTheFailureCount)
{
    TSmsQueue queue;
    queue.FailedCount = 4;
    for (const char* t : {"a", "b", "c"})
        queue.Add(std::make_unique<TSms>(&Contact, t));
    EXPECT_THROW(queue.Delete(3), TError);
    EXPECT_THROW(queue.Delete(-1), TError);
    EXPECT_THROW(queue.Items(3), TError);
    EXPECT_EQ(queue.Count(), 3);
    queue.Delete(1);
    ASSERT_EQ(queue.Count(), 2);
    EXPECT_EQ(queue.Items(1)->Text, "c");
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0);
    EXPECT_EQ(queue.TakeFirst(), nullptr);
    EXPECT_EQ(queue.FailedCount, 4);
}

TEST_F(SmsQueueTest, RecipientListNeverOwnsAndRefusesRepeats)
{
    auto* member = new TContact;
    member->SetName("m");
    {
        TContactList master(true);
        master.Add(member);
        TGroup group;
        group.SetName("g");
        {
            TRecipientList recipients;
            recipients.Contacts.Add(member);
            recipients.Groups.Add(&group);
            TContact twin;
            twin.SetName("M");
            EXPECT_THROW(recipients.Contacts.Add(&twin), TError);
            EXPECT_FALSE(recipients.Contacts.OwnsItems());
            EXPECT_FALSE(recipients.Groups.OwnsItems());
        }
        EXPECT_EQ(master.Items(0)->Name(), "m"); // still alive after the recipient list went
    }
}

// Stands for a shutdown that begins while the first piece is on its way.
struct TCancellingSender : TRecordingSender {
    TCancelToken* Token = nullptr;
    void DoSend(const std::string& phone, const std::string& text) override
    {
        TRecordingSender::DoSend(phone, text);
        Token->Cancel();
    }
};

TEST(SmsPauseTest, CancellingDeliveriesEndsThePauseAndSendsNoFurtherPiece)
{
    SetWaiter({}); // the real wait
    {
        // A day-long wait ends once another thread cancels the token.
        TTestCancel cancel;
        std::thread canceller([&] { cancel.Cancel(); });
        WaitMs(24 * 3600 * 1000);
        canceller.join();
    }

    TTestCancel cancel;
    std::vector<std::string> log;
    TCancellingSender sender;
    sender.Token = &cancel.Token;
    sender.Log = &log;
    sender.MaxSmsLen = 160;
    EXPECT_EQ(ErrorOf([&] { sender.Send("p", Digits(161)); }), U("Отправка SMS прервана."));
    EXPECT_EQ(log, (std::vector<std::string> {"p|1 iz 2) " + Digits(150)}));
}
