// The queue on disk: what the journal brings back after a restart or a crash.
#include "ManagerFixture.h"

#include "model/SafeFile.h"
#include "model/SmsQueueJournal.h"

#include <filesystem>

namespace {

class QueueJournalTest : public ManagerTest {
protected:
    std::string JournalPath() { return Data.dir().file("SmsQueue.journal"); }

    // The program's data as the user left it; contacts get the same ids each time.
    struct TBook {
        TSmsSender* Op;
        std::vector<TContact*> Contacts;
    };
    TBook Build(const std::vector<std::string>& names, const std::string& withoutOperator = "")
    {
        TBook book {AddFakeSender("Op"), {}};
        for (const std::string& name : names)
            book.Contacts.push_back(AddContact(name, "+7" + name, name == withoutOperator ? nullptr : book.Op));
        return book;
    }
    // A new process: a new manager over the same files.
    TQueueRestore Restart(const std::vector<std::string>& names, const std::string& withoutOperator = "")
    {
        ResetSmsManagerForTests();
        Build(names, withoutOperator);
        return M().RestoreQueue(JournalPath());
    }
    std::vector<std::string> QueuedTo()
    {
        std::vector<std::string> names;
        for (int i = 0; i < M().Queue.Count(); ++i)
            names.push_back(M().Queue.Items(i)->Contact->Name() + "#" + std::to_string(M().Queue.Items(i)->TryCount) +
                            (M().Queue.Items(i)->Interrupted ? "!" : ""));
        return names;
    }
};

TEST_F(QueueJournalTest, ACrashBringsBackEveryOwedMessageInOrderWithItsAttempts)
{
    EXPECT_EQ(M().RestoreQueue(JournalPath()).Restored, 0); // no journal yet: an empty queue
    TBook book = Build({"a", "b", "c", "d", "e"});
    SmsOptions().MaxTryCount = 3;
    const std::string odd = "tab\there\r\nline\\end";
    Queue({book.Contacts[0], book.Contacts[1], book.Contacts[2]}, "one");
    Queue({book.Contacts[3], book.Contacts[4]}, odd);
    Script->Outcomes = {std::string("down"), std::nullopt};
    ASSERT_TRUE(M().SendNext()); // a fails and goes to the back
    ASSERT_TRUE(M().SendNext()); // b is delivered
    std::shared_ptr<TSmsDelivery> out = M().BeginDelivery(); // c is on its way when the program dies
    ASSERT_TRUE(out);

    // d's contact was deleted and e lost its operator while the program was down.
    TQueueRestore restore = Restart({"a", "b", "c", "x", "e"}, "e");
    EXPECT_EQ(restore.Restored, 2);
    EXPECT_EQ(restore.Interrupted, 1);
    EXPECT_EQ(restore.Failed, 2);
    EXPECT_EQ(QueuedTo(), (std::vector<std::string> {"c#1!", "a#1"}));
    EXPECT_EQ(M().Queue.Items(0)->Text, "one");
    const std::string history = Read("SmsHistory.txt");
    EXPECT_NE(history.find(U("Для: d (+7d)")), std::string::npos) << history;
    EXPECT_NE(history.find(U("Абонент «d» удалён из адресной книги")), std::string::npos);
    EXPECT_NE(history.find(U("Оператор абонента «e» удалён")), std::string::npos);
    EXPECT_NE(history.find(odd), std::string::npos); // the text as queued, tabs and breaks included
    EXPECT_EQ(M().Queue.FailedCount, 2);

    // A second start without sending: the same queue, the mark kept, nothing recorded twice.
    restore = Restart({"a", "b", "c", "x", "e"}, "e");
    EXPECT_EQ(restore.Failed, 0);
    EXPECT_EQ(QueuedTo(), (std::vector<std::string> {"c#1!", "a#1"}));
    EXPECT_EQ(Read("SmsHistory.txt"), history);

    // a's retry still waits its 5 s after the restart.
    EXPECT_EQ(M().Queue.Items(1)->NotBefore, LocalSeconds(Now()) + 5);
    EXPECT_FALSE(M().Queue.Items(1)->Scheduled);

    // Sent at last: the journal owes nothing and goes back to its first line.
    Script->Outcomes.clear();
    Script->Otherwise.reset();
    EXPECT_TRUE(M().SendNext());
    EXPECT_FALSE(M().SendNext());
    Clock.set(MakeDateTime(2026, 2, 1, 9, 5, 8));
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(Read("SmsQueue.journal"), "VELOTEXT-QUEUE 1\n");
    EXPECT_EQ(Restart({"a"}).Restored, 0);
}

TEST_F(QueueJournalTest, AnAttemptCalledOffAtExitIsOwedAgainMarkedOnlyIfItHadBegun)
{
    M().RestoreQueue(JournalPath());
    TBook book = Build({"a", "b", "c"});
    Queue(book.Contacts);
    // Called off before it ran: nothing went out, the attempt is given back.
    std::shared_ptr<TSmsDelivery> out = M().BeginDelivery();
    out->Cancel();
    M().FinishDelivery(out);
    EXPECT_EQ(QueuedTo(), (std::vector<std::string> {"a#0", "b#0", "c#0"}));
    // Called off during its exchange: it may have reached the gateway.
    out = M().BeginDelivery();
    Script->OnSend = [&] { out->Cancel(); };
    Script->Outcomes = {U("Отправка SMS прервана.")}; // what the transport raises then
    out->Run();
    M().FinishDelivery(out);
    EXPECT_EQ(QueuedTo(), (std::vector<std::string> {"a#1!", "b#0", "c#0"}));
    EXPECT_EQ(Restart({"a", "b", "c"}).Interrupted, 1);
    EXPECT_EQ(QueuedTo(), (std::vector<std::string> {"a#1!", "b#0", "c#0"}));

    // Deleting one and clearing the rest leave nothing owed.
    M().DeleteQueued(M().Queue.Items(1));
    EXPECT_EQ(Restart({"a", "b", "c"}).Restored, 2);
    M().ClearQueue();
    EXPECT_EQ(Restart({"a", "b", "c"}).Restored, 0);
}

TEST_F(QueueJournalTest, ARecordCutByACrashIsIgnoredAndAForeignFileIsRefusedUntouched)
{
    M().RestoreQueue(JournalPath());
    TBook book = Build({"a", "b"});
    Queue(book.Contacts);
    ResetSmsManagerForTests();
    // The write of a third message was cut half-way.
    std::string bytes = Read("SmsQueue.journal") + "+\t9\t2026020109";
    SaveFileSafely(JournalPath(), bytes);
    Build({"a", "b"});
    EXPECT_EQ(M().RestoreQueue(JournalPath()).Restored, 2);

    ResetSmsManagerForTests();
    SaveFileSafely(JournalPath(), "[Contact1]\r\nName=a\r\n");
    Build({"a", "b"});
    const std::string error = ErrorOf([&] { M().RestoreQueue(JournalPath()); });
    EXPECT_NE(error.find(U("повреждён (строка 1)")), std::string::npos) << error;
    EXPECT_EQ(Read("SmsQueue.journal"), "[Contact1]\r\nName=a\r\n");
    EXPECT_FALSE(M().KeepsJournal());
}

} // namespace

TEST_F(QueueJournalTest, EachMessageComesBackWithItsOwnExpandedText)
{
    M().RestoreQueue(JournalPath());
    TBook book = Build({"a", "bb"});
    Queue({book.Contacts[0], book.Contacts[1]}, U("Привет, {name} ({phone})!"));
    Restart({"a", "bb"});
    ASSERT_EQ(M().Queue.Count(), 2);
    EXPECT_EQ(M().Queue.Items(0)->Text, U("Привет, a (+7a)!"));
    EXPECT_EQ(M().Queue.Items(1)->Text, U("Привет, bb (+7bb)!"));
}
