// The queue on disk: what the journal brings back after a restart or a crash.
#include "ManagerFixture.h"

#include "engine/Startup.h"
#include "model/Text.h"
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

TEST_F(QueueJournalTest, ARecordCutByACrashIsIgnoredAndAForeignFileIsKeptAsideNotRead)
{
    M().RestoreQueue(JournalPath());
    TBook book = Build({"a", "b"});
    Queue(book.Contacts);
    ResetSmsManagerForTests();
    // The write of a third message was cut half-way.
    std::string bytes = Read("SmsQueue.journal") + "+\t9\t2026020109";
    SaveFileSafely(JournalPath(), bytes);
    Build({"a", "b"});
    const TQueueRestore cut = M().RestoreQueue(JournalPath());
    EXPECT_EQ(cut.Restored, 2);
    EXPECT_EQ(cut.Unreadable, 0);
    EXPECT_EQ(cut.KeptAs, ""); // a cut record is no damage

    ResetSmsManagerForTests();
    SaveFileSafely(JournalPath(), "[Contact1]\r\nName=a\r\n");
    Build({"a", "b"});
    const TQueueRestore foreign = M().RestoreQueue(JournalPath());
    EXPECT_EQ(foreign.Restored, 0);
    EXPECT_EQ(foreign.Unreadable, 2);
    ASSERT_NE(foreign.KeptAs, "");
    EXPECT_EQ(Data.dir().read(std::filesystem::path(foreign.KeptAs).filename().string()), "[Contact1]\r\nName=a\r\n");
    EXPECT_EQ(Read("SmsQueue.journal"), "VELOTEXT-QUEUE 1\n");
    EXPECT_TRUE(M().KeepsJournal());
}

// Damage of every kind a journal meets: every message that reads comes back,
// the lines that do not are counted, and the file as it was is kept beside
// the data before it is rewritten.
TEST_F(QueueJournalTest, ADamagedJournalBringsBackEveryMessageThatReadsAndKeepsTheFile)
{
    M().RestoreQueue(JournalPath());
    TBook book = Build({"a", "b", "c"});
    Queue(book.Contacts, U("Встреча в 10:00"));
    ResetSmsManagerForTests();
    const std::string good = Read("SmsQueue.journal");
    std::string utf16 = "\xFF\xFE";
    for (char16_t c : Cp1251ToUtf16(good)) {
        utf16 += static_cast<char>(c & 0xFF);
        utf16 += static_cast<char>(c >> 8);
    }
    const std::string header = "VELOTEXT-QUEUE 1\n";
    const std::string firstPlus = good.substr(header.size(), good.find('\n', header.size()) + 1 - header.size());
    const std::string rest = good.substr(header.size() + firstPlus.size());
    struct TCase {
        const char* What;
        std::string Bytes;
        int Restored, Unreadable;
    } cases[] = {
        {"a garbage line at the end", good + U("мусор от текстового редактора\n"), 3, 1},
        {"a garbage line in the middle", header + firstPlus + "garbage\n" + rest, 3, 1},
        {"an unknown record letter", good + "X\t1\n", 3, 1},
        {"an extra field", good + "D\t1\textra\n", 3, 1},
        {"a record of a message never queued", good + "D\t77\n", 3, 1},
        {"binary junk", good + std::string("\x7f" "ELF\0\0\x01\n\x02\0\xff\n", 12), 3, 2},
        {"binary junk without a line end", good + std::string("\0\0\x01\xfe", 4), 3, 1},
        {"the header lost", firstPlus + rest, 3, 0},
        {"a hand edit with CR LF", header + "B\t1\r\n" + good.substr(header.size()), 3, 1},
        {"UTF-16", utf16, 3, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        ResetSmsManagerForTests();
        std::filesystem::remove_all(Data.dir().path());
        std::filesystem::create_directories(Data.dir().path());
        SaveFileSafely(JournalPath(), c.Bytes);
        Build({"a", "b", "c"});
        const TQueueRestore restore = M().RestoreQueue(JournalPath());
        EXPECT_EQ(restore.Restored, c.Restored);
        EXPECT_EQ(restore.Unreadable, c.Unreadable);
        EXPECT_EQ(QueueNames(), (std::vector<std::string> {"a", "b", "c"}));
        EXPECT_EQ(M().Queue.Items(0)->Text, U("Встреча в 10:00"));
        const bool damaged = c.Bytes != firstPlus + rest;
        ASSERT_EQ(restore.KeptAs.empty(), !damaged);
        if (damaged) {
            const std::filesystem::path kept(restore.KeptAs);
            EXPECT_EQ(kept.parent_path(), std::filesystem::path(JournalPath()).parent_path());
            EXPECT_EQ(kept.filename().string().rfind("SmsQueue.journal.damaged-20260201-0905", 0), 0u) << kept;
            EXPECT_EQ(Data.dir().read(kept.filename().string()), c.Bytes);
            EXPECT_NE(QueueRestoreNote(restore), "");
        }
        EXPECT_EQ(Read("SmsQueue.journal"), good); // rewritten as this program writes it
    }
}

TEST_F(QueueJournalTest, AJournalOfANewerVersionIsRefusedUntouchedOrKeptAsideForAnEmptyQueue)
{
    const std::string newer = "VELOTEXT-QUEUE 2\n+\t1\tsomething new\n";
    SaveFileSafely(JournalPath(), newer);
    Build({"a"});
    try {
        M().RestoreQueue(JournalPath());
        FAIL() << "a newer journal was read";
    } catch (const TNewerJournalError& e) {
        EXPECT_NE(e.message().find(U("более новой версией программы")), std::string::npos) << e.message();
    }
    EXPECT_EQ(Read("SmsQueue.journal"), newer);
    EXPECT_FALSE(M().KeepsJournal());

    const TQueueRestore restore = M().RestoreQueue(JournalPath(), true);
    EXPECT_EQ(restore.Restored, 0);
    EXPECT_EQ(Data.dir().read(std::filesystem::path(restore.KeptAs).filename().string()), newer);
    EXPECT_EQ(Read("SmsQueue.journal"), "VELOTEXT-QUEUE 1\n");
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
