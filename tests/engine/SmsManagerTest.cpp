#include "ManagerFixture.h"

#include "model/SafeFile.h"

TEST_F(ManagerTest, CreationMakesTheBuiltInGroupsAndAnEmptyTemplatesFile)
{
    TSmsManager& m = M();
    ASSERT_EQ(m.Groups.Count(), 2);
    EXPECT_EQ(m.Groups[0], m.AllContactsGroup);
    EXPECT_EQ(m.AllContactsGroup->Name() + IntToStr(m.AllContactsGroup->GroupId()), U("(Все Абоненты)1"));
    EXPECT_EQ(m.Groups[1], m.FoundContactsGroup);
    EXPECT_EQ(m.FoundContactsGroup->Name() + IntToStr(m.FoundContactsGroup->GroupId()), U("(Найденные Абоненты)2"));
    EXPECT_TRUE(m.Contacts().OwnsItems());
    EXPECT_FALSE(m.FoundContactsGroup->Contacts.OwnsItems());
    EXPECT_TRUE(FileExists(Data.dir().file("SmsTemplates.txt")));
    EXPECT_EQ(AddGroup("G")->GroupId(), 3);
}

TEST_F(ManagerTest, QueueSmsExpandsGroupsDropsRepeatsAndKeepsTheOrder)
{
    TContact* k1 = AddContact("K1");
    TContact* k2 = AddContact("K2");
    TContact* k3 = AddContact("K3");
    TContact* k4 = AddContact("K4");
    M().AddRecipientGroup(AddGroup("G1", {k1, k2}));
    M().AddRecipientGroup(AddGroup("G2", {k2, k3}));
    M().QueueSms("one");
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"K1", "K2", "K3"}));
    // Groups first, then contacts as picked; a repeat goes at its last place; behind what waits.
    M().AddRecipientContact(k4);
    M().AddRecipientContact(k1);
    M().QueueSms("two");
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"K1", "K2", "K3", "K2", "K3", "K4", "K1"}));
    const TSms* sms = M().Queue.Items(3);
    EXPECT_EQ(sms->Text, "two");
    EXPECT_EQ(sms->TryCount + sms->Status, 0);
    EXPECT_EQ(sms->Created, MakeDateTime(2026, 2, 1, 9, 5, 3));
}

TEST_F(ManagerTest, QueueSmsCountsDistinctContactsAgainstTheLimitOfTwenty)
{
    const std::string tooMany = U("Превышено допустимое количество адресатов (20 Абонентов)");
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U("Список адресатов пуст."));
    M().AddRecipientGroup(AddGroup("Empty"));
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), U("Список адресатов пуст."));
    std::vector<TContact*> contacts;
    for (int i = 0; i < 25; ++i)
        contacts.push_back(AddContact("C" + IntToStr(i)));
    for (int i = 0; i < 20; ++i)
        M().AddRecipientContact(contacts[static_cast<size_t>(i)]);
    M().AddRecipientGroup(AddGroup("Repeats", {contacts[0], contacts[19]}));
    M().QueueSms("x");
    EXPECT_EQ(M().Queue.Count(), 20);
    M().AddRecipientContact(contacts[20]);
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), tooMany);
    M().ClearRecipients();
    M().AddRecipientGroup(AddGroup("Big", contacts)); // one entry, 25 contacts
    EXPECT_EQ(ErrorOf([&] { M().QueueSms("x"); }), tooMany);
    EXPECT_EQ(M().Queue.Count(), 20);
}

TEST_F(ManagerTest, SendNextRetriesBehindTheOthersThenRecordsAndCounts)
{
    SmsOptions().MaxTryCount = 3;
    TSmsSender* op = AddFakeSender();
    Queue({AddContact(U("Иванов"), "101", op), AddContact("Good", "102", op)}, "hi");
    Script->Outcomes = {"e1", std::nullopt, "e2", "e3"};
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(QueueNames(), (std::vector<std::string> {"Good", U("Иванов")}));
    EXPECT_EQ(M().Queue.Items(1)->ErrorText, "e1");
    EXPECT_TRUE(M().SendNext()); // the others go on while the failed one waits
    // The retry waits 5 s after the first failure, 30 s after the second.
    auto at = [&](int second) { Clock.set(MakeDateTime(2026, 2, 1, 9, 5, 3 + second)); };
    at(4);
    EXPECT_FALSE(M().SendNext());
    at(5);
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(M().Queue.Items(0)->TryCount, 2);
    EXPECT_EQ(M().Queue.Items(0)->Status, SmsStatusFailed);
    at(34);
    EXPECT_FALSE(M().SendNext());
    EXPECT_EQ(M().WaitOf(*M().Queue.Items(0), LocalSeconds(Now())).Kind, TQueueWait::Retry);
    at(35);
    EXPECT_TRUE(M().SendNext()); // third attempt: given up
    EXPECT_FALSE(M().SendNext());
    EXPECT_EQ(RetryWaitSeconds(3), 120);
    EXPECT_EQ(RetryWaitSeconds(9), 600);
    EXPECT_EQ(M().Queue.FailedCount, 1);
    const std::string rule = std::string(80, '=') + "\r\n", dash = std::string(80, '-') + "\r\n";
    EXPECT_EQ(Read("SmsHistory.txt"), rule + U("Для: Good (102)\r\nДата: 01.02.2026 09:05:03\r\n") +
                                          U("Статус: Сообщение отправлено.\r\n") + dash + "hi\r\n" + rule +
                                          U("Для: Иванов (101)\r\nДата: 01.02.2026 09:05:03\r\nОшибка: e3\r\n") +
                                          dash + "hi\r\n");
    EXPECT_EQ(Script->pieces().size(), 4u);
}

TEST_F(ManagerTest, FailuresAreFinalWithOneAttemptOrLessAndCountedWithHistoryOff)
{
    SmsOptions().HistoryFlag = false;
    Script->Otherwise = "down";
    TSmsSender* op = AddFakeSender();
    for (int maxTry : {1, 0, -5}) {
        SmsOptions().MaxTryCount = maxTry;
        Queue({AddContact("C" + IntToStr(maxTry), "1", op)});
        EXPECT_TRUE(M().SendNext());
        EXPECT_EQ(M().Queue.Count(), 0) << maxTry;
    }
    Queue({AddContact("Lonely")}); // no operator: fails like any attempt
    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(M().Queue.FailedCount, 4);
    EXPECT_FALSE(FileExists(Data.dir().file("SmsHistory.txt")));
}

TEST_F(ManagerTest, AFailedHistoryWritePassesOnAndTheMessageIsNotCounted)
{
    ProgramOptions().HistoryFileName = "missing-folder/h.txt";
    Script->Otherwise = "down";
    Queue({AddContact("A", "1", AddFakeSender())});
    EXPECT_THROW(M().SendNext(), TError);
    EXPECT_EQ(M().Queue.Count() + M().Queue.FailedCount, 0);
    EXPECT_EQ(M().CurrentDelivery(), nullptr);
}

TEST_F(ManagerTest, DeletingContactsAndGroups)
{
    TContact* a = AddContact("A");
    TGroup* g = AddGroup("G", {a});
    TGroup* h = AddGroup("H", {a});
    M().AddRecipientContact(a);
    M().AddRecipientGroup(g);
    M().SearchContacts("A");
    Queue({a});
    M().AddRecipientContact(a);
    EXPECT_EQ(ErrorOf([&] { M().DeleteContact(a); }), U("Нельзя удалить Абонента,\rт.к. ему в данный момент отсылается SMS."));
    EXPECT_EQ(g->Contacts.IndexOf(a) + h->Contacts.IndexOf(a) + M().FoundContactsGroup->Contacts.IndexOf(a) +
                  M().Recipients.Contacts.IndexOf(a) + M().Contacts().IndexOf(a),
              0);
    for (TGroup* builtIn : {static_cast<TGroup*>(M().AllContactsGroup), static_cast<TGroup*>(M().FoundContactsGroup)})
        EXPECT_EQ(ErrorOf([&] { M().DeleteGroup(builtIn); }), U("Данную группу удалять нельзя."));
    EXPECT_THROW(M().RemoveContactFromGroup(a, M().AllContactsGroup), TError);
    M().AddRecipientGroup(g);
    M().DeleteGroup(g);
    EXPECT_EQ(M().Groups.Count(), 3);
    EXPECT_EQ(M().Recipients.Groups.Count(), 0);
    EXPECT_EQ(h->Contacts.IndexOf(a), 0);

    M().ClearQueue();
    a->SmsSender = AddFakeSender("Used");
    EXPECT_EQ(ErrorOf([&] { M().CheckSmsSenderUnused(a->SmsSender); }),
              U("Нельзя удалить оператора,\rт.к. есть абоненты, которые его используют."));
    EXPECT_EQ(ErrorOf([&] { M().CheckSmsSenderUnused(AddFakeSender("Free")); }), "");
    M().DeleteContact(a);
    EXPECT_EQ(M().Contacts().Count() + h->Contacts.Count() + M().FoundContactsGroup->Contacts.Count() +
                  M().Recipients.Contacts.Count(),
              0);
}

TEST_F(ManagerTest, SearchMatchesTheCaptionWithoutRegardToCase)
{
    TContact* ivanov = AddContact(U("ИВАНОВ Ёжик"), "+7 912 555");
    TContact* petrov = AddContact(U("Петров"), "555-01");
    AddContact("Smith", "42");
    TContactList& found = M().FoundContactsGroup->Contacts;
    M().SearchContacts("555");
    EXPECT_EQ(std::vector<TContact*>(found.begin(), found.end()), (std::vector<TContact*> {petrov, ivanov}));
    M().SearchContacts(U("ёжик (+7"));
    EXPECT_EQ(std::vector<TContact*>(found.begin(), found.end()), (std::vector<TContact*> {ivanov}));
    M().SearchContacts("smith (42)");
    EXPECT_EQ(found.Count(), 1);
    M().SearchContacts("");
    EXPECT_EQ(found.Count(), 0);
    EXPECT_EQ(M().Contacts().Count(), 3);
    // A rename or a new phone number is seen by the next search; the found
    // group answers lookups like any list.
    petrov->SetName(U("Сидоров"));
    ivanov->PhoneNumber = "+7 000";
    M().SearchContacts("555");
    EXPECT_EQ(std::vector<TContact*>(found.begin(), found.end()), (std::vector<TContact*> {petrov}));
    M().SearchContacts(U("сидоров (555"));
    EXPECT_EQ(found.IndexOfName(U("СИДОРОВ")), 0);
    EXPECT_EQ(found.IndexOf(petrov), 0);
}

TEST_F(ManagerTest, EachRecipientGetsItsOwnNameAndPhoneInTheQueuedText)
{
    TSmsSender* op = AddFakeSender();
    TContact* anna = AddContact(U("Анна"), "+7 916 123-45-67", op);
    TContact* odd = AddContact(U("Бо {phone} {name}"), "8(903)000", op);
    M().AddRecipientContact(anna);
    M().AddRecipientGroup(AddGroup("G", {odd, anna}));
    M().QueueSms(U("Привет, {name}! Ваш {phone}. {year} {x}"));
    ASSERT_EQ(M().Queue.Count(), 2);
    EXPECT_EQ(M().Queue.Items(0)->Contact, odd);
    // A name holding a field goes in as it is; other braces stay as typed.
    EXPECT_EQ(M().Queue.Items(0)->Text, U("Привет, Бо {phone} {name}! Ваш 8(903)000. {year} {x}"));
    EXPECT_EQ(M().Queue.Items(1)->Text, U("Привет, Анна! Ваш +7 916 123-45-67. {year} {x}"));
    // The operator gets the text as queued: its own "{phone}"/"{message}"
    // macros do not reach into the message.
    ASSERT_TRUE(M().SendNext());
    EXPECT_EQ(Script->pieces(), (std::vector<std::string> {U("Fake|8(903)000|Привет, Бо {phone} {name}! Ваш 8(903)000. {year} {x}")}));

    // With the composer's transliteration the names are transliterated as the
    // rest of the text already was; a text without fields is queued as given.
    M().ClearQueue();
    M().ClearRecipients();
    M().AddRecipientContact(anna);
    M().QueueSms("Privet, {name}!", 0, true);
    M().QueueSms(U("Без полей: Анна {NAME}\t"), 0, true);
    ASSERT_EQ(M().Queue.Count(), 2);
    EXPECT_EQ(M().Queue.Items(0)->Text, "Privet, Anna!");
    EXPECT_EQ(M().Queue.Items(1)->Text, U("Без полей: Анна {NAME}\t"));

    // The history's repeat sends the recorded text again, which was expanded
    // when first queued: it is not expanded a second time.
    M().QueueSmsTo(odd->Name(), odd->PhoneNumber, U("Привет, Бо {phone} {name}!"));
    EXPECT_EQ(M().Queue.Items(2)->Text, U("Привет, Бо {phone} {name}!"));
}
