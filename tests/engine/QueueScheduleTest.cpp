// When the queue may send: chosen times, quiet hours, operators' pace, and
// what of it the journal keeps across a restart.
#include "ManagerFixture.h"

namespace {

class QueueScheduleTest : public ManagerTest {
protected:
    void At(int day, int hour, int minute, int second = 0) { Clock.set(MakeDateTime(2026, 2, day, hour, minute, second)); }
    long long Seconds(int day, int hour, int minute) { return LocalSeconds(MakeDateTime(2026, 2, day, hour, minute, 0)); }
    std::string Journal() { return Data.dir().file("SmsQueue.journal"); }
    // Sends what is due now; the names of the contacts it reached.
    std::vector<std::string> SendDue()
    {
        const size_t before = Script->pieces().size();
        while (M().SendNext()) {
        }
        std::vector<std::string> names;
        const std::vector<std::string> pieces = Script->pieces();
        for (size_t i = before; i < pieces.size(); ++i)
            names.push_back(pieces[i].substr(pieces[i].find('|') + 1, 2)); // the phone's first two characters
        return names;
    }
};

TEST_F(QueueScheduleTest, QuietHoursAcrossMidnightAndWithinADay)
{
    SmsOptions().QuietFrom = 21 * 60;
    SmsOptions().QuietTo = 9 * 60;
    long long until = 0;
    EXPECT_TRUE(M().QuietAt(Seconds(1, 23, 0), &until));
    EXPECT_EQ(until, Seconds(2, 9, 0));
    EXPECT_TRUE(M().QuietAt(Seconds(2, 8, 59), &until));
    EXPECT_EQ(until, Seconds(2, 9, 0));
    EXPECT_FALSE(M().QuietAt(Seconds(2, 9, 0)));
    EXPECT_FALSE(M().QuietAt(Seconds(2, 20, 59)));
    SmsOptions().QuietFrom = 13 * 60;
    SmsOptions().QuietTo = 14 * 60;
    EXPECT_TRUE(M().QuietAt(Seconds(2, 13, 30), &until));
    EXPECT_EQ(until, Seconds(2, 14, 0));
    EXPECT_FALSE(M().QuietAt(Seconds(2, 23, 0)));

    // Inside them nothing is attempted; at their end the queue goes on.
    Queue({AddContact("a", "a1", AddFakeSender())});
    At(1, 13, 59);
    EXPECT_FALSE(M().SendNext());
    At(1, 14, 0);
    EXPECT_TRUE(M().SendNext());
}

TEST_F(QueueScheduleTest, OperatorsPaceWithSeveralOperatorsInterleavedAndKeptAcrossARestart)
{
    M().RestoreQueue(Journal());
    TSmsSender* slow = AddFakeSender("Slow");
    slow->MinSendInterval = 10;
    TSmsSender* few = AddFakeSender("Few");
    few->DailyLimit = 2;
    TContact* s1 = AddContact("s1", "s1", slow);
    TContact* s2 = AddContact("s2", "s2", slow);
    TContact* f1 = AddContact("f1", "f1", few);
    TContact* f2 = AddContact("f2", "f2", few);
    TContact* f3 = AddContact("f3", "f3", few);
    Queue({s1, s2, f1, f2, f3});
    At(1, 23, 59, 0);
    // s2 waits for Slow's 10 s, f3 for Few's next day; the others go on meanwhile.
    EXPECT_EQ(SendDue(), (std::vector<std::string> {"s1", "f1", "f2"}));
    EXPECT_EQ(M().WaitOf(*M().Queue.Items(0), LocalSeconds(Now())).Kind, TQueueWait::Interval);
    EXPECT_EQ(M().WaitOf(*M().Queue.Items(1), LocalSeconds(Now())).Kind, TQueueWait::DailyLimit);
    EXPECT_EQ(M().NextDue(LocalSeconds(Now())), Seconds(1, 23, 59) + 10);

    // A restart the same day keeps what the operators were used for.
    ResetSmsManagerForTests();
    slow = AddFakeSender("Slow");
    slow->MinSendInterval = 10;
    few = AddFakeSender("Few");
    few->DailyLimit = 2;
    for (const char* name : {"s1", "s2", "f1", "f2", "f3"})
        AddContact(name, name, name[0] == 's' ? slow : few);
    ASSERT_EQ(M().RestoreQueue(Journal()).Restored, 2);
    At(1, 23, 59, 10);
    EXPECT_EQ(SendDue(), (std::vector<std::string> {"s2"}));
    At(2, 0, 0, 0); // a new day for Few
    EXPECT_EQ(SendDue(), (std::vector<std::string> {"f3"}));
}

TEST_F(QueueScheduleTest, AChosenTimeWaitsSurvivesARestartAndAPastOneIsRefused)
{
    M().RestoreQueue(Journal());
    TSmsSender* op = AddFakeSender();
    TContact* a = AddContact("a", "a1", op);
    At(1, 10, 0);
    M().AddRecipientContact(a);
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("late", Seconds(1, 10, 0)); }),
              U("Время отправки уже прошло: выберите время в будущем."));
    EXPECT_EQ(M().Queue.Count(), 0);
    M().QueueSms("birthday", Seconds(2, 9, 0));
    EXPECT_FALSE(M().SendNext());
    ResetSmsManagerForTests();
    AddContact("a", "a1", AddFakeSender());
    M().RestoreQueue(Journal());
    ASSERT_EQ(M().Queue.Count(), 1);
    EXPECT_TRUE(M().Queue.Items(0)->Scheduled);
    EXPECT_EQ(M().WaitOf(*M().Queue.Items(0), Seconds(1, 10, 1)).Until, Seconds(2, 9, 0));
    At(2, 8, 59);
    EXPECT_FALSE(M().SendNext());
    At(2, 9, 0);
    EXPECT_TRUE(M().SendNext());
}

} // namespace
