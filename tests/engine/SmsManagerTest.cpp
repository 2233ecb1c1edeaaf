#include "ManagerFixture.h"

#include "model/SafeFile.h"

#include <sys/stat.h>

namespace {

const char* const ContactQueued = "Нельзя удалить Абонента,\rт.к. ему в данный момент отсылается SMS.";
const char* const SenderUsed = "Нельзя удалить оператора,\rт.к. есть абоненты, которые его используют.";
const char* const TooMany = "Превышено допустимое количество адресатов (20 Абонентов)";

} // namespace

TEST_F(ManagerTest, CreationMakesTheBuiltInGroupsAndAnEmptyTemplatesFile)
{
    EXPECT_FALSE(FileExists(Data.dir().file("SmsTemplates.txt")));
    TSmsManager& m = M();
    ASSERT_EQ(m.Groups.Count(), 2);
    EXPECT_EQ(m.Groups[0], m.AllContactsGroup);
    EXPECT_EQ(m.Groups[1], m.FoundContactsGroup);
    EXPECT_EQ(m.AllContactsGroup->Name(), U("(Все Абоненты)"));
    EXPECT_EQ(m.AllContactsGroup->GroupId(), 1);
    EXPECT_TRUE(m.AllContactsGroup->Contacts.OwnsItems());
    EXPECT_EQ(m.FoundContactsGroup->Name(), U("(Найденные Абоненты)"));
    EXPECT_EQ(m.FoundContactsGroup->GroupId(), 2);
    EXPECT_FALSE(m.FoundContactsGroup->Contacts.OwnsItems());
    EXPECT_EQ(&m.Contacts(), &m.AllContactsGroup->Contacts);
    EXPECT_EQ(Data.dir().read("SmsTemplates.txt"), "");
    EXPECT_EQ(m.Templates.Count(), 0);
    // The next user group gets 3.
    EXPECT_EQ(AddGroup("G")->GroupId(), 3);
}

TEST_F(ManagerTest, HistoryAndTemplatesNamesAreBoundAtCreation)
{
    ProgramOptions().TemplatesFileName = "t.txt";
    ProgramOptions().HistoryFileName = "h.txt";
    Data.dir().write("t.txt", "one\r\ntwo");
    EXPECT_EQ(M().Templates.Count(), 2);
    ProgramOptions().HistoryFileName = "later.txt";
    EXPECT_EQ(M().History.FileName(), "h.txt");
}

TEST_F(ManagerTest, AFailingTemplatesLoadLeavesNoManager)
{
    ProgramOptions().TemplatesFileName = "sub"; // a folder cannot be read as a file
    ASSERT_EQ(mkdir(Data.dir().file("sub").c_str(), 0700), 0);
    EXPECT_THROW(SmsManager(), TError);
    ProgramOptions().TemplatesFileName = "SmsTemplates.txt";
    EXPECT_EQ(SmsManager().Groups.Count(), 2);
}

TEST_F(ManagerTest, QueueSmsExpandsGroupsDropsRepeatsAndKeepsTheOrder)
{
    TContact* k1 = AddContact("K1");
    TContact* k2 = AddContact("K2");
    TContact* k3 = AddContact("K3");
    TContact* k4 = AddContact("K4");
    M().AddRecipientGroup(AddGroup("G1", {k1, k2}));
    M().AddRecipientGroup(AddGroup("G2", {k2, k3}));
    M().QueueSms("hi");
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"K1", "K2", "K3"}));

    // Groups first, then the contacts picked one by one; a repeat is queued at its last place.
    M().ClearQueue();
    M().AddRecipientContact(k4);
    M().AddRecipientContact(k1);
    M().QueueSms("again");
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"K2", "K3", "K4", "K1"}));
    const TSms* first = M().Queue.Items(0);
    EXPECT_EQ(first->Text, "again");
    EXPECT_EQ(first->TryCount, 0);
    EXPECT_EQ(first->Status, SmsStatusNone);
    EXPECT_EQ(first->Created, MakeDateTime(2026, 2, 1, 9, 5, 3));

    // New messages go behind the waiting ones.
    M().ClearRecipients();
    M().AddRecipientContact(k3);
    M().QueueSms("third");
    EXPECT_EQ(M().Queue.Count(), 5);
    EXPECT_EQ(M().Queue.Items(4)->Text, "third");
}

TEST_F(ManagerTest, QueueSmsCountsDistinctContactsAgainstTheLimit)
{
    std::vector<TContact*> contacts;
    for (int i = 0; i < 25; ++i)
        contacts.push_back(AddContact("C" + IntToStr(i)));
    for (int i = 0; i < 20; ++i)
        M().AddRecipientContact(contacts[static_cast<size_t>(i)]);
    M().AddRecipientGroup(AddGroup("Few", {contacts[0], contacts[19]})); // repeats only
    M().QueueSms("x");
    EXPECT_EQ(M().Queue.Count(), 20);

    M().AddRecipientContact(contacts[20]);
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U(TooMany));
    EXPECT_EQ(M().Queue.Count(), 20);

    // One group of 25 members is one entry but 25 contacts.
    M().ClearRecipients();
    M().AddRecipientGroup(AddGroup("Big", contacts));
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U(TooMany));
    EXPECT_EQ(M().Queue.Count(), 20);
}

TEST_F(ManagerTest, QueueSmsWithNobodyToSendToIsRefused)
{
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U("Список адресатов пуст."));
    M().AddRecipientGroup(AddGroup("Empty"));
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U("Список адресатов пуст."));
    EXPECT_EQ(M().Queue.Count(), 0);
}

TEST_F(ManagerTest, SendNextRetriesBehindTheOthersThenRecordsAndCounts)
{
    SmsOptions().MaxTryCount = 3;
    TSmsSender* op = AddFakeSender();
    TContact* bad = AddContact(U("Иванов"), "101", op);
    TContact* good = AddContact("Good", "102", op);
    M().AddRecipientContact(bad);
    M().QueueSms("hello");
    M().ClearRecipients();
    M().AddRecipientContact(good);
    M().QueueSms("world");
    Script->Outcomes = {"e1", std::nullopt, "e2", "e3"};

    EXPECT_TRUE(M().SendNext()); // Иванов fails, goes behind Good
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"Good", U("Иванов")}));
    EXPECT_EQ(M().Queue.Items(1)->TryCount, 1);
    EXPECT_EQ(M().Queue.Items(1)->ErrorText, "e1");
    EXPECT_TRUE(M().SendNext()); // Good sent
    EXPECT_TRUE(M().SendNext()); // Иванов, attempt 2
    EXPECT_EQ(M().Queue.Items(0)->TryCount, 2);
    EXPECT_EQ(M().Queue.Items(0)->ErrorText, "e2");
    EXPECT_EQ(M().Queue.Items(0)->Status, SmsStatusFailed);
    EXPECT_TRUE(M().SendNext()); // attempt 3: given up
    EXPECT_EQ(M().Queue.Count(), 0);
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_FALSE(M().SendNext());

    const std::string rule = std::string(80, '=') + "\r\n";
    const std::string dash = std::string(80, '-') + "\r\n";
    EXPECT_EQ(HistoryText(), rule + U("Для: Good (102)\r\nДата: 01.02.2026 09:05:03\r\n") +
                                 U("Статус: Сообщение отправлено.\r\n") + dash + "world\r\n" + rule +
                                 U("Для: Иванов (101)\r\nДата: 01.02.2026 09:05:03\r\nОшибка: e3\r\n") + dash +
                                 "hello\r\n");
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|101|hello", "Fake|102|world", "Fake|101|hello",
                                                           "Fake|101|hello"}));
}

TEST_F(ManagerTest, WithOneAttemptOrLessAFailureIsFinal)
{
    for (int maxTry : {1, 0, -5}) {
        SmsOptions().MaxTryCount = maxTry;
        Script->Otherwise = "down";
        M().AddRecipientContact(AddContact("C" + IntToStr(maxTry), "1", AddFakeSender("Op" + IntToStr(maxTry))));
        M().QueueSms("x");
        M().ClearRecipients();
        EXPECT_TRUE(M().SendNext());
        EXPECT_EQ(M().Queue.Count(), 0) << maxTry;
    }
    EXPECT_EQ(M().Queue.FailedCount, 3);
}

TEST_F(ManagerTest, WithHistoryOffFailuresAreStillCounted)
{
    SmsOptions().HistoryFlag = false;
    Script->Outcomes = {std::nullopt, "down"};
    TSmsSender* op = AddFakeSender();
    M().AddRecipientContact(AddContact("A", "1", op));
    M().AddRecipientContact(AddContact("B", "2", op));
    M().QueueSms("x");
    EXPECT_TRUE(M().SendNext());
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_FALSE(FileExists(Data.dir().file("SmsHistory.txt")));
}

TEST_F(ManagerTest, AContactWithoutAnOperatorFailsItsAttemptCleanly)
{
    M().AddRecipientContact(AddContact("Lonely"));
    M().QueueSms("x");
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_NE(HistoryText().find(U("Ошибка: ") + NoSmsSenderErrorText() + "\r\n"), std::string::npos);
}

TEST_F(ManagerTest, AFailedHistoryWritePassesOnAndTheMessageIsNotCounted)
{
    ProgramOptions().HistoryFileName = "nofolder/h.txt"; // the folder does not exist
    Script->Otherwise = "down";
    M().AddRecipientContact(AddContact("A", "1", AddFakeSender()));
    M().QueueSms("x");
    EXPECT_THROW(M().SendNext(), TError);
    EXPECT_EQ(M().Queue.Count(), 0);
    EXPECT_EQ(M().Queue.FailedCount, 0);
    EXPECT_EQ(M().CurrentDelivery(), nullptr);
    EXPECT_FALSE(M().SendNext()); // the manager goes on
}

TEST_F(ManagerTest, AChangedPhoneNumberIsUsedByTheNextAttempt)
{
    TContact* contact = AddContact("A", "1", AddFakeSender());
    M().AddRecipientContact(contact);
    M().QueueSms("x");
    contact->PhoneNumber = "2";
    M().SendNext();
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {"Fake|2|x"}));
}

TEST_F(ManagerTest, DeletingAContactWithAWaitingMessageIsRefused)
{
    TContact* contact = AddContact("A");
    TGroup* group = AddGroup("G", {contact});
    M().AddRecipientContact(contact);
    M().QueueSms("x");
    M().SearchContacts("A");
    EXPECT_EQ(ErrorOf([&] { M().DeleteContact(contact); }), U(ContactQueued));
    EXPECT_EQ(M().Contacts().IndexOf(contact), 0);
    EXPECT_EQ(group->Contacts.IndexOf(contact), 0);
    EXPECT_EQ(M().FoundContactsGroup->Contacts.IndexOf(contact), 0);
    EXPECT_EQ(M().Recipients.Contacts.IndexOf(contact), 0);

    M().ClearQueue();
    M().DeleteContact(contact);
    EXPECT_EQ(M().Contacts().Count(), 0);
    EXPECT_EQ(group->Contacts.Count(), 0);
    EXPECT_EQ(M().FoundContactsGroup->Contacts.Count(), 0);
    EXPECT_EQ(M().Recipients.Contacts.Count(), 0);
}

TEST_F(ManagerTest, BuiltInGroupsCannotBeDeletedAndOrdinaryOnesLeaveTheirMembers)
{
    TContact* contact = AddContact("A");
    TGroup* group = AddGroup("G", {contact});
    TGroup* other = AddGroup("H", {contact});
    M().AddRecipientGroup(group);
    for (TGroup* builtIn : {static_cast<TGroup*>(M().AllContactsGroup), static_cast<TGroup*>(M().FoundContactsGroup)})
        EXPECT_EQ(ErrorOf([&] { M().DeleteGroup(builtIn); }), U("Данную группу удалять нельзя."));
    EXPECT_EQ(M().Groups.Count(), 4);

    M().DeleteGroup(group);
    EXPECT_EQ(M().Groups.Count(), 3);
    EXPECT_EQ(M().Recipients.Groups.Count(), 0);
    EXPECT_EQ(M().Contacts().IndexOf(contact), 0);
    EXPECT_EQ(other->Contacts.IndexOf(contact), 0);

    EXPECT_THROW(M().RemoveContactFromGroup(contact, M().AllContactsGroup), TError);
    EXPECT_EQ(M().Contacts().IndexOf(contact), 0);
    M().RemoveContactFromGroup(contact, other);
    EXPECT_EQ(other->Contacts.Count(), 0);
}

TEST_F(ManagerTest, AnOperatorInUseCannotBeDeleted)
{
    TSmsSender* used = AddFakeSender("Used");
    TSmsSender* free = AddFakeSender("Free");
    TContact* contact = AddContact("A", "1", used);
    EXPECT_EQ(ErrorOf([&] { M().CheckSmsSenderUnused(used); }), U(SenderUsed));
    EXPECT_EQ(ErrorOf([&] { M().CheckSmsSenderUnused(free); }), "");
    contact->SmsSender = free;
    EXPECT_EQ(ErrorOf([&] { M().CheckSmsSenderUnused(used); }), "");
}

TEST_F(ManagerTest, SearchMatchesTheCaptionWithoutRegardToCase)
{
    TContact* ivanov = AddContact(U("ИВАНОВ Ёжик"), "+7 912 555");
    TContact* petrov = AddContact(U("Петров"), "555-01");
    AddContact("Smith", "42");

    M().SearchContacts("555");
    EXPECT_EQ(M().FoundContactsGroup->Contacts.Count(), 2);
    EXPECT_EQ(M().FoundContactsGroup->Contacts[0], petrov); // last contact first
    EXPECT_EQ(M().FoundContactsGroup->Contacts[1], ivanov);

    M().SearchContacts(U("ёжик (+7"));
    ASSERT_EQ(M().FoundContactsGroup->Contacts.Count(), 1);
    EXPECT_EQ(M().FoundContactsGroup->Contacts[0], ivanov);

    M().SearchContacts("SMITH (42)");
    EXPECT_EQ(M().FoundContactsGroup->Contacts.Count(), 1);

    M().SearchContacts("");
    EXPECT_EQ(M().FoundContactsGroup->Contacts.Count(), 0);
    EXPECT_EQ(M().Contacts().Count(), 3); // the found group never owned them
}
