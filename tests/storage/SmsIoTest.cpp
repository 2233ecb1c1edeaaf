#include "storage/SmsIo.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "storage/IniFile.h"
#include "storage/IoRegistry.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace {

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const TError& e) {
        return e.message();
    }
    return "";
}

std::string SystemErrorText(const char* faultUtf8)
{
    return U("Системная ошибка:") + "\r\r\"" + U(faultUtf8) + "\".";
}

TIniFile Parse(std::string_view text)
{
    TIniFile ini;
    ini.LoadFromText(text);
    return ini;
}

TContact* NewContact(const std::string& name, const std::string& phone, int id = 0)
{
    auto* contact = new TContact;
    contact->SetName(name);
    contact->PhoneNumber = phone;
    contact->SetContactId(id);
    return contact;
}

// The readers leave name-only placeholders behind (resolved by the manager in
// the program); the tests dispose of them here.
void FreeContactPlaceholders(TContactList& contacts)
{
    for (TContact* contact : contacts) {
        delete contact->SmsSender;
        contact->SmsSender = nullptr;
    }
}

void FreeMemberPlaceholders(TGroupList& groups)
{
    for (TGroup* group : groups) {
        if (group->Contacts.OwnsItems())
            continue;
        std::vector<TContact*> members(group->Contacts.begin(), group->Contacts.end());
        group->Contacts.Clear();
        for (TContact* member : members)
            delete member;
    }
}

std::vector<std::string> Names(const TContactList& list)
{
    std::vector<std::string> names;
    for (const TContact* c : list)
        names.push_back(c->Name());
    return names;
}

class SmsIoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetIoRegistryForTests();
        RegisterStorageIoClasses();
    }
    void TearDown() override { ResetIoRegistryForTests(); }
};

// The address-book example: two contacts (one with an operator) and one group.
const char* const ExampleBook = "[Contact:TContact:Петров]\r\n"
                                "ContactId=2\r\n"
                                "Name=Петров\r\n"
                                "PhoneNumber=102\r\n"
                                "[Contact:TContact:Иванов]\r\n"
                                "ContactId=1\r\n"
                                "Name=Иванов\r\n"
                                "PhoneNumber=101\r\n"
                                "SmsSenderName=Пример\r\n"
                                "[Group:TGroup:Друзья]\r\n"
                                "GroupId=3\r\n"
                                "Name=Друзья\r\n"
                                "ContactCount=2\r\n"
                                "Contact1=Петров\r\n"
                                "Contact0=Иванов\r\n";

} // namespace

TEST_F(SmsIoTest, RegistryKeepsOrderIgnoresCaseAndRefusesASecondEntry)
{
    TIoRegistry& registry = IoRegistry();
    ASSERT_EQ(registry.Count(), 3);
    EXPECT_EQ(registry.Items(0)->ClassName, "TContact");
    EXPECT_EQ(registry.Items(1)->ClassName, "TGroup");
    EXPECT_EQ(registry.Items(2)->ClassName, "TSmsSender");
    EXPECT_EQ(registry.Find("tcontact"), registry.Items(0));
    EXPECT_EQ(registry.Find("TSpecialGroup"), nullptr);
    EXPECT_EQ(registry.Find(""), nullptr);

    EXPECT_EQ(ErrorOf([&] { registry.Register("TGROUP", WriteGroup, ReadGroup); }),
              SystemErrorText("Объект IO с таким именем уже зарегистрирован"));
    EXPECT_EQ(registry.Count(), 3);
    RegisterStorageIoClasses(); // again: nothing changes, nothing raised
    EXPECT_EQ(registry.Count(), 3);

    registry.Delete(1);
    EXPECT_EQ(registry.Find("TGroup"), nullptr);
    EXPECT_EQ(registry.Items(1)->ClassName, "TSmsSender");
    EXPECT_THROW(registry.Items(2), TError);
}

TEST(SmsIoNames, ClassNameSitsBetweenTheFirstTwoColons)
{
    EXPECT_EQ(IoClassName("Contact:TContact:A:B"), "TContact");
    EXPECT_EQ(IoClassName("SmsSender:TStdSmsSender:"), "TStdSmsSender");
    // The search for the second colon starts two characters after the first.
    EXPECT_EQ(IoClassName("Contact::X:Y"), ":X");
    EXPECT_EQ(IoClassName("Contact::"), "");
    EXPECT_EQ(IoClassName("Contact:TContact"), "");
    EXPECT_EQ(IoClassName("Contact"), "");
    EXPECT_EQ(IoSectionName("Contact", "TContact", "A:B"), "Contact:TContact:A:B");
}

TEST(SmsIoNames, NotesKeepLineBreaksOnOneLine)
{
    EXPECT_EQ(EncodeNotes("line 1\r\nline 2"), "line 1{LF}line 2");
    EXPECT_EQ(DecodeNotes("line 1{LF}line 2"), "line 1\r\nline 2");
    EXPECT_EQ(EncodeNotes("a\nb\rc"), "ab{LF}c");
    // "{LF}" typed by the user comes back as a line break; other spellings stay.
    EXPECT_EQ(DecodeNotes(EncodeNotes("x{LF}y")), "x\r\ny");
    EXPECT_EQ(DecodeNotes("{lf}{LF}{LF"), "{lf}\r\n{LF");
}

TEST_F(SmsIoTest, WritersGiveTheExampleFileByteForByte)
{
    TSmsSenderPlaceholder operatorRef(U("Пример"));
    TContactList contacts(true);
    TContact* ivanov = NewContact(U("Иванов"), "101");
    ivanov->SmsSender = &operatorRef;
    contacts.Add(ivanov);
    contacts.Add(NewContact(U("Петров"), "102"));
    TGroupList groups(true);
    auto* special = new TSpecialGroup(true);
    special->SetName(U("(Все Абоненты)"));
    groups.Add(special);
    auto* friends = new TGroup(false);
    friends->SetName(U("Друзья"));
    friends->SetGroupId(3);
    friends->Contacts.Add(contacts[0]);
    friends->Contacts.Add(contacts[1]);
    groups.Add(friends);

    TIniFile ini;
    WriteContacts(ini, contacts);
    WriteGroups(ini, groups);
    EXPECT_EQ(ini.SaveToText(), U(ExampleBook)); // the built-in group is not written
    ivanov->SmsSender = nullptr;
}

TEST_F(SmsIoTest, ReadersGiveTheListsBackInTheirOrderAndMembersReversed)
{
    TIniFile ini = Parse(U(ExampleBook));
    TContactList contacts(true);
    ReadContacts(ini, contacts);
    EXPECT_EQ(Names(contacts), (std::vector<std::string> {U("Иванов"), U("Петров")}));
    EXPECT_EQ(contacts[0]->ContactId(), 1);
    EXPECT_EQ(contacts[0]->PhoneNumber, "101");
    ASSERT_NE(contacts[0]->SmsSender, nullptr);
    EXPECT_EQ(contacts[0]->SmsSender->Name(), U("Пример"));
    EXPECT_EQ(contacts[0]->SmsSender->ClassName(), "TSmsSender");
    EXPECT_EQ(contacts[1]->SmsSender, nullptr);

    TGroupList groups(true);
    auto* special = new TSpecialGroup(false);
    special->SetName("special");
    groups.Add(special);
    auto* stale = new TGroup(false);
    stale->SetName("stale");
    groups.Add(stale);
    ReadGroups(ini, groups);
    ASSERT_EQ(groups.Count(), 2); // ordinary groups replaced, the built-in one kept first
    EXPECT_EQ(groups[0], special);
    EXPECT_EQ(groups[1]->Name(), U("Друзья"));
    EXPECT_EQ(groups[1]->GroupId(), 3);
    // Members are placeholders, highest number first.
    EXPECT_EQ(Names(groups[1]->Contacts), (std::vector<std::string> {U("Петров"), U("Иванов")}));
    EXPECT_EQ(contacts.IndexOf(groups[1]->Contacts[0]), -1);

    FreeContactPlaceholders(contacts);
    FreeMemberPlaceholders(groups);
}

TEST_F(SmsIoTest, ReadContactsAppendsAndSkipsForeignSections)
{
    TIniFile ini = Parse("[Contact:tcontact:Lower]\r\nName=Lower\r\n"
                         "[contact:TContact:WrongPrefixCase]\r\nName=W1\r\n"
                         "[Other:TContact:OtherPrefix]\r\nName=W2\r\n"
                         "[Contact:TFoo:Unknown]\r\nName=W3\r\n"
                         "[Contact:TSpecialGroup:Special]\r\nName=W4\r\n"
                         "[Contact]\r\nName=W5\r\n"
                         "junk line without equals\r\n"
                         "[Contact:TContact:A:B]\r\nName=A:B\r\nContactId=9\r\n");
    TContactList contacts(true);
    contacts.Add(NewContact("Existing", "1"));
    ReadContacts(ini, contacts);
    EXPECT_EQ(Names(contacts), (std::vector<std::string> {"Existing", "A:B", "Lower"}));
    EXPECT_EQ(contacts[1]->ContactId(), 9);
    EXPECT_EQ(contacts[2]->ContactId(), 10); // no ContactId: the next free one
}

TEST_F(SmsIoTest, ContactNamesThatTheSectionLineCannotHoldPlainlyRoundTrip)
{
    TContactList contacts(true);
    contacts.Add(NewContact("A:B", "1"));
    contacts.Add(NewContact("x]y", "2"));
    contacts.Add(NewContact("[z]", "3"));
    contacts.Add(NewContact("\"q\"", "\" 4 \""));
    TIniFile ini;
    WriteContacts(ini, contacts);
    TIniFile reread = Parse(ini.SaveToText());
    TContactList back(true);
    ReadContacts(reread, back);
    ASSERT_EQ(Names(back), Names(contacts));
    EXPECT_EQ(back[3]->PhoneNumber, "\" 4 \"");
}

TEST_F(SmsIoTest, ContactValidationErrorsEndTheReadingAndKeepWhatCameBefore)
{
    // Sections are read from the last one: "b" first, then the clash.
    TContactList contacts(true);
    EXPECT_EQ(ErrorOf([&] {
                  ReadContacts(Parse(U("[Contact:TContact:x]\r\nName=ИВАН\r\n"
                                       "[Contact:TContact:y]\r\nName=иван\r\n"
                                       "[Contact:TContact:b]\r\nName=b\r\n")),
                               contacts);
              }),
              U("Уже существует абонент с таким именем."));
    EXPECT_EQ(Names(contacts), (std::vector<std::string> {"b", U("иван")}));

    TContactList noName(true);
    EXPECT_EQ(ErrorOf([&] { ReadContacts(Parse("[Contact:TContact:x]\r\nPhoneNumber=1\r\n"), noName); }),
              U("Не указано имя абонента."));
    EXPECT_EQ(noName.Count(), 0);

    TContactList sameId(true);
    EXPECT_EQ(ErrorOf([&] {
                  ReadContacts(Parse("[Contact:TContact:x]\r\nName=x\r\nContactId=5\r\nSmsSenderName=Op\r\n"
                                     "[Contact:TContact:y]\r\nName=y\r\nContactId=5\r\n"),
                               sameId);
              }),
              U("Уже существует абонент с таким ID."));
    EXPECT_EQ(Names(sameId), (std::vector<std::string> {"y"}));
}

TEST_F(SmsIoTest, GroupMembersFollowTheCountAndSkipRepeats)
{
    TIniFile ini = Parse("[Group:TGroup:G]\r\nName=G\r\nContactCount=3\r\nContact2=c\r\nContact0=a\r\n"
                         "[Group:TGroup:H]\r\nName=H\r\nContactCount=3\r\nContact0=a\r\nContact1=A\r\nContact2=b\r\n"
                         "[Group:TGroup:Neg]\r\nName=Neg\r\nContactCount=-1\r\nContact0=a\r\n"
                         "[Group:TGroup:Short]\r\nName=Short\r\nContactCount=1\r\nContact0=a\r\nContact1=b\r\n");
    TGroupList groups(true);
    ReadGroups(ini, groups);
    ASSERT_EQ(groups.Count(), 4);
    // Read from the last section to the first.
    EXPECT_EQ(groups[0]->Name(), "Short");
    EXPECT_EQ(Names(groups[0]->Contacts), (std::vector<std::string> {"a"}));
    EXPECT_EQ(groups[1]->Contacts.Count(), 0);
    EXPECT_EQ(Names(groups[2]->Contacts), (std::vector<std::string> {"b", "A"})); // "a" repeats "A"
    EXPECT_EQ(Names(groups[3]->Contacts), (std::vector<std::string> {"c", "a"}));
    FreeMemberPlaceholders(groups);
}

TEST_F(SmsIoTest, AHugeMemberCountFindsTheMembersTheSectionHas)
{
    TIniFile ini = Parse("[Group:TGroup:G]\r\nName=G\r\nContactCount=2147483647\r\n"
                         "contact7=seven\r\nContact01=padded\r\nContact2147483646=last\r\nContact-1=neg\r\n"
                         "Contact7=dup\r\nContact2147483647=beyond\r\n");
    TGroupList groups(true);
    ReadGroups(ini, groups);
    ASSERT_EQ(groups.Count(), 1);
    EXPECT_EQ(Names(groups[0]->Contacts), (std::vector<std::string> {"last", "seven"}));
    FreeMemberPlaceholders(groups);
}

TEST_F(SmsIoTest, GroupsNamedOrNumberedLikeTheBuiltInOnesAreRefused)
{
    auto builtIns = [] {
        auto groups = std::make_unique<TGroupList>(true);
        auto* all = new TSpecialGroup(true);
        all->SetName(U("(Все Абоненты)"));
        all->SetGroupId(1);
        groups->Add(all);
        auto* found = new TSpecialGroup(false);
        found->SetName(U("(Найденные Абоненты)"));
        found->SetGroupId(2);
        groups->Add(found);
        return groups;
    };
    auto named = builtIns();
    EXPECT_EQ(ErrorOf([&] { ReadGroups(Parse(U("[Group:TGroup:x]\r\nName=(все абоненты)\r\n")), *named); }),
              U("Уже существует группа с таким именем."));
    EXPECT_EQ(named->Count(), 2);
    auto numbered = builtIns();
    EXPECT_EQ(ErrorOf([&] { ReadGroups(Parse("[Group:TGroup:x]\r\nName=x\r\nGroupId=2\r\n"), *numbered); }),
              U("Уже существует группа с таким ID."));
    auto fresh = builtIns();
    ReadGroups(Parse("[Group:TGroup:x]\r\nName=x\r\n"), *fresh);
    EXPECT_EQ(fresh->Items(2)->GroupId(), 3);
}

TEST_F(SmsIoTest, RoutinesCheckTheObjectKindAndTheSectionName)
{
    const std::string wrongType = SystemErrorText("Некорректный тип объекта");
    const std::string emptySection = SystemErrorText("Пустое имя секции");
    TIniFile ini;
    TContact contact;
    contact.SetName("c");
    TGroup group(false);
    group.SetName("g");
    TSmsSenderPlaceholder sender("s");

    EXPECT_EQ(ErrorOf([&] { WriteContact(ini, TIoObject(&group), "Contact"); }), wrongType);
    EXPECT_EQ(ErrorOf([&] { WriteGroup(ini, TIoObject(&contact), "Group"); }), wrongType);
    EXPECT_EQ(ErrorOf([&] { WriteSmsSender(ini, TIoObject(&contact), "SmsSender"); }), wrongType);
    EXPECT_TRUE(ini.ReadSections().empty());

    auto read = [&](TIoReadRoutine routine, TIoObject& object, const std::string& section) {
        return ErrorOf([&] { routine(ini, object, section); });
    };
    TIoObject groupRef(&group), contactRef(&contact), senderRef(&sender), none;
    EXPECT_EQ(read(ReadContact, groupRef, "s"), wrongType);
    EXPECT_EQ(read(ReadGroup, senderRef, "s"), wrongType);
    EXPECT_EQ(read(ReadSmsSender, contactRef, "s"), wrongType);
    EXPECT_EQ(read(ReadSmsSender, none, "s"), wrongType); // a plain operator is never created
    EXPECT_EQ(read(ReadContact, none, ""), emptySection);
    EXPECT_EQ(read(ReadGroup, groupRef, ""), emptySection);
    EXPECT_EQ(read(ReadSmsSender, senderRef, ""), emptySection);
    EXPECT_TRUE(none.Empty());

    // A section of the operator class in a contacts list, or of the group
    // class, is not a contact.
    TContactList contacts(true);
    EXPECT_EQ(ErrorOf([&] { ReadContacts(Parse("[Contact:TSmsSender:x]\r\nName=x\r\n"), contacts); }), wrongType);
    EXPECT_EQ(ErrorOf([&] { ReadContacts(Parse("[Contact:TGroup:x]\r\nName=x\r\n"), contacts); }), wrongType);
    EXPECT_EQ(contacts.Count(), 0);
}

TEST_F(SmsIoTest, ReadersIntoAnExistingObjectKeepFieldsWhoseKeysAreMissing)
{
    TIniFile ini = Parse("[S]\r\nPhoneNumber=555\r\n");
    TContact contact;
    contact.SetName("kept");
    contact.SetContactId(4);
    TIoObject ref(&contact);
    ReadContact(ini, ref, "S");
    EXPECT_EQ(contact.Name(), "kept");
    EXPECT_EQ(contact.ContactId(), 4);
    EXPECT_EQ(contact.PhoneNumber, "555");
    EXPECT_FALSE(ref.Owned());

    TSmsSenderPlaceholder sender("op");
    sender.MaxSmsLen = 70;
    sender.Charset = "KOI8-R";
    TIoObject senderRef(&sender);
    ReadSmsSender(Parse("[S]\r\nTranslitFlag=0x10\r\nSenderId=junk\r\n"), senderRef, "S");
    EXPECT_TRUE(sender.TranslitFlag);
    EXPECT_EQ(sender.SenderId(), 0);
    EXPECT_EQ(sender.MaxSmsLen, 70);
    EXPECT_EQ(sender.Charset, "KOI8-R");
}

TEST_F(SmsIoTest, AHundredThousandSectionsAreAllRead)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "[Contact:TContact:n" + IntToStr(i) + "]\r\nName=n" + IntToStr(i) + "\r\nContactId=" +
                IntToStr(i + 1) + "\r\n";
    TContactList contacts(true);
    ReadContacts(Parse(text), contacts);
    ASSERT_EQ(contacts.Count(), 100000);
    // Read from the last section to the first.
    EXPECT_EQ(contacts[0]->Name(), "n99999");
    EXPECT_EQ(contacts[99999]->ContactId(), 1);
}

TEST_F(SmsIoTest, RandomBytesNeverCrashTheReaders)
{
    std::mt19937 random(12345);
    const std::string alphabet = "[]:=\r\n ContactGroupTContactTGroup0123456789\"'{LF}\x01\xff";
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 400);
        for (int i = 0; i < length; ++i)
            text += (random() % 4 == 0) ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        TIniFile ini = Parse(text);
        TContactList contacts(true);
        TGroupList groups(true);
        try {
            ReadContacts(ini, contacts);
        } catch (const TError&) {
        }
        try {
            ReadGroups(ini, groups);
        } catch (const TError&) {
        }
        FreeContactPlaceholders(contacts);
        FreeMemberPlaceholders(groups);
    }
}

TEST_F(SmsIoTest, TheAddedHookSeesEachObjectOnceTheListHasTakenIt)
{
    TContactList contacts(true);
    std::vector<std::string> seen;
    EXPECT_THROW(ReadContacts(Parse("[Contact:TContact:a]\r\nName=a\r\n[Contact:TContact:b]\r\nName=A\r\n"
                                    "[Contact:TContact:c]\r\nName=c\r\nSmsSenderName=Op\r\n"),
                              contacts, "",
                              [&](TContact* contact) {
                                  EXPECT_EQ(contacts.IndexOf(contact), contacts.Count() - 1);
                                  seen.push_back(contact->Name());
                                  delete contact->SmsSender; // what a resolver would do
                                  contact->SmsSender = nullptr;
                              }),
                 TError);
    EXPECT_EQ(seen, (std::vector<std::string> {"c", "A"}));

    TGroupList groups(true);
    int groupsSeen = 0;
    ReadGroups(Parse("[Group:TGroup:g]\r\nName=g\r\n[Group:TGroup:h]\r\nName=h\r\n"), groups, "",
               [&](TGroup* group) { groupsSeen += groups.IndexOf(group) >= 0; });
    EXPECT_EQ(groupsSeen, 2);
}
