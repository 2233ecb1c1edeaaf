#include "storage/SmsIo.h"

#include "model/AddressBook.h"
#include "model/Error.h"
#include "storage/IniFile.h"
#include "support/TestSupport.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace {


std::string SystemText(const char* fault) { return U("Системная ошибка:") + "\r\r\"" + U(fault) + "\"."; }

TIniFile Parse(std::string_view text)
{
    TIniFile ini;
    ini.LoadFromText(text);
    return ini;
}

std::vector<std::string> Names(const TContactList& list)
{
    std::vector<std::string> names;
    for (const TContact* c : list)
        names.push_back(c->Name());
    return names;
}

// Lists filled by the readers, which leave name-only placeholders behind (the
// manager resolves them in the program); destroyed here with the lists.
struct TReadLists {
    TContactList Contacts {true};
    TGroupList Groups {true};
    ~TReadLists()
    {
        for (TContact* c : Contacts)
            delete c->SmsSender;
        for (TGroup* g : Groups) {
            std::vector<TContact*> members(g->Contacts.begin(), g->Contacts.end());
            g->Contacts.Clear();
            for (TContact* m : members)
                delete m;
        }
    }
};

class SmsIoTest : public ::testing::Test {
protected:
    SmsIoTest()
    {
        ResetIoRegistryForTests();
        RegisterStorageIoClasses();
    }
    ~SmsIoTest() override { ResetIoRegistryForTests(); }
};

const char* const ExampleBook = "[Contact:TContact:Петров]\r\nContactId=2\r\nName=Петров\r\nPhoneNumber=102\r\n"
                                "[Contact:TContact:Иванов]\r\nContactId=1\r\nName=Иванов\r\nPhoneNumber=101\r\n"
                                "SmsSenderName=Пример\r\n"
                                "[Group:TGroup:Друзья]\r\nGroupId=3\r\nName=Друзья\r\nContactCount=2\r\n"
                                "Contact1=Петров\r\nContact0=Иванов\r\n";

} // namespace

TEST_F(SmsIoTest, RegistryOrderCaseAndSecondRegistration)
{
    TIoRegistry& registry = IoRegistry();
    ASSERT_EQ(registry.Count(), 3);
    EXPECT_EQ(registry.Items(0)->ClassName + registry.Items(1)->ClassName + registry.Items(2)->ClassName,
              "TContactTGroupTSmsSender");
    EXPECT_EQ(registry.Find("tcontact"), registry.Items(0));
    EXPECT_EQ(registry.Find("TSpecialGroup"), nullptr);
    EXPECT_EQ(ErrorOf([&] { registry.Register("TGROUP", WriteGroup, ReadGroup); }),
              SystemText("Объект IO с таким именем уже зарегистрирован"));
    RegisterStorageIoClasses(); // again: nothing raised, nothing added
    EXPECT_EQ(registry.Count(), 3);
}

TEST(SmsIoNames, ClassNameAndNotes)
{
    EXPECT_EQ(IoClassName("Contact:TContact:A:B"), "TContact");
    EXPECT_EQ(IoClassName("Contact::X:Y"), ":X"); // the second ":" is searched two characters on
    EXPECT_EQ(IoClassName("Contact::"), "");
    EXPECT_EQ(IoClassName("Contact:TContact"), "");
    EXPECT_EQ(EncodeNotes("line 1\r\nline 2\nx"), "line 1{LF}line 2x");
    EXPECT_EQ(DecodeNotes("line 1{LF}line 2{lf}"), "line 1\r\nline 2{lf}");
}

TEST_F(SmsIoTest, TheExampleFileIsWrittenByteForByteAndReadBackInOrder)
{
    TSmsSenderPlaceholder op(U("Пример"));
    TContactList contacts(true);
    auto* ivanov = new TContact;
    ivanov->SetName(U("Иванов"));
    ivanov->PhoneNumber = "101";
    ivanov->SmsSender = &op;
    contacts.Add(ivanov);
    auto* petrov = new TContact;
    petrov->SetName(U("Петров"));
    petrov->PhoneNumber = "102";
    contacts.Add(petrov);
    TGroupList groups(true);
    auto* builtIn = new TSpecialGroup(true);
    builtIn->SetName("built-in");
    groups.Add(builtIn);
    auto* friends = new TGroup(false);
    friends->SetName(U("Друзья"));
    friends->SetGroupId(3);
    friends->Contacts.Add(ivanov);
    friends->Contacts.Add(petrov);
    groups.Add(friends);
    TIniFile ini;
    WriteContacts(ini, contacts);
    WriteGroups(ini, groups);
    EXPECT_EQ(ini.SaveToText(), U(ExampleBook)); // the built-in group is not written
    ivanov->SmsSender = nullptr;

    TReadLists back;
    ReadContacts(Parse(U(ExampleBook)), back.Contacts);
    EXPECT_EQ(Names(back.Contacts), Names(contacts));
    EXPECT_EQ(back.Contacts[0]->ContactId(), 1);
    ASSERT_NE(back.Contacts[0]->SmsSender, nullptr);
    EXPECT_EQ(back.Contacts[0]->SmsSender->Name(), U("Пример"));
    EXPECT_EQ(back.Contacts[1]->SmsSender, nullptr);
    auto* special = new TSpecialGroup(false);
    special->SetName("special");
    back.Groups.Add(special);
    auto* stale = new TGroup(false);
    stale->SetName("stale");
    back.Groups.Add(stale);
    ReadGroups(Parse(U(ExampleBook)), back.Groups);
    ASSERT_EQ(back.Groups.Count(), 2); // ordinary groups replaced, the built-in one kept
    EXPECT_EQ(back.Groups[0], special);
    EXPECT_EQ(back.Groups[1]->GroupId(), 3);
    EXPECT_EQ(Names(back.Groups[1]->Contacts), Names(friends->Contacts)); // the order written
}

TEST_F(SmsIoTest, SectionsOfOtherPrefixesAndUnknownClassesAreSkipped)
{
    TReadLists lists;
    auto* existing = new TContact;
    existing->SetName("Existing");
    lists.Contacts.Add(existing);
    ReadContacts(Parse("[Contact:tcontact:Lower]\r\nName=Lower\r\n[contact:TContact:W1]\r\nName=W1\r\n"
                       "[Other:TContact:W2]\r\nName=W2\r\n[Contact:TFoo:W3]\r\nName=W3\r\n"
                       "[Contact:TSpecialGroup:W4]\r\nName=W4\r\n[Contact]\r\nName=W5\r\njunk line\r\n"
                       "[Contact:TContact:A:B]\r\nName=A:B\r\nContactId=9\r\n[Contact:TContact:x]y]\r\nName=x]y\r\n"),
                 lists.Contacts);
    EXPECT_EQ(Names(lists.Contacts), (std::vector<std::string> {"Existing", "x]y", "A:B", "Lower"}));
    EXPECT_EQ(lists.Contacts[3]->ContactId(), 10); // no ContactId: the next free one
}

TEST_F(SmsIoTest, AValidationErrorEndsTheReadingAndKeepsWhatCameBefore)
{
    auto read = [](const std::string& text, TReadLists& lists) {
        return ErrorOf([&] { ReadContacts(Parse(text), lists.Contacts); });
    };
    TReadLists byName, noName;
    EXPECT_EQ(read(U("[Contact:TContact:x]\r\nName=ИВАН\r\n[Contact:TContact:y]\r\nName=иван\r\n"
                     "[Contact:TContact:b]\r\nName=b\r\n"),
                   byName),
              U("Уже существует абонент с таким именем."));
    EXPECT_EQ(Names(byName.Contacts), (std::vector<std::string> {"b", U("иван")}));
    EXPECT_EQ(read("[Contact:TContact:x]\r\nPhoneNumber=1\r\n", noName), U("Не указано имя абонента."));
}

TEST_F(SmsIoTest, GroupMembersFollowTheCountSkipRepeatsAndSurviveAHugeCount)
{
    TReadLists lists;
    ReadGroups(Parse("[Group:TGroup:G]\r\nName=G\r\nContactCount=3\r\nContact2=c\r\nContact0=a\r\n"
                     "[Group:TGroup:H]\r\nName=H\r\nContactCount=3\r\nContact0=a\r\nContact1=A\r\nContact2=b\r\n"
                     "[Group:TGroup:Neg]\r\nName=Neg\r\nContactCount=-1\r\nContact0=a\r\n"
                     "[Group:TGroup:Huge]\r\nName=Huge\r\nContactCount=2147483647\r\ncontact7=seven\r\n"
                     "Contact01=padded\r\nContact2147483646=last\r\nContact-1=neg\r\nContact2147483647=beyond\r\n"),
               lists.Groups);
    ASSERT_EQ(lists.Groups.Count(), 4);
    // Members in the order of their numbers; of two names alike the first stays.
    EXPECT_EQ(Names(lists.Groups[0]->Contacts), (std::vector<std::string> {"seven", "last"}));
    EXPECT_EQ(lists.Groups[1]->Contacts.Count(), 0);
    EXPECT_EQ(Names(lists.Groups[2]->Contacts), (std::vector<std::string> {"a", "b"}));
    EXPECT_EQ(Names(lists.Groups[3]->Contacts), (std::vector<std::string> {"a", "c"}));
}

TEST_F(SmsIoTest, RoutinesCheckTheObjectKindAndTheSectionName)
{
    const std::string wrongType = SystemText("Некорректный тип объекта");
    TIniFile ini;
    TContact contact;
    TGroup group(false);
    EXPECT_EQ(ErrorOf([&] { WriteContact(ini, TIoObject(&group), "Contact"); }), wrongType);
    TIoObject groupRef(&group), none;
    EXPECT_EQ(ErrorOf([&] { ReadContact(ini, groupRef, "s"); }), wrongType);
    EXPECT_EQ(ErrorOf([&] { ReadSmsSender(ini, none, "s"); }), wrongType); // never created by reading
    EXPECT_EQ(ErrorOf([&] { ReadContact(ini, none, ""); }), SystemText("Пустое имя секции"));
    EXPECT_TRUE(none.Empty());
    // A section whose class makes another kind of object than the list holds.
    TReadLists lists;
    EXPECT_EQ(ErrorOf([&] { ReadContacts(Parse("[Contact:TGroup:x]\r\nName=x\r\n"), lists.Contacts); }), wrongType);
    EXPECT_EQ(lists.Contacts.Count(), 0);
}

TEST_F(SmsIoTest, AHundredThousandSectionsAndRandomBytes)
{
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "[Contact:TContact:n" + IntToStr(i) + "]\r\nName=n" + IntToStr(i) + "\r\n";
    TReadLists big;
    ReadContacts(Parse(text), big.Contacts);
    ASSERT_EQ(big.Contacts.Count(), 100000);
    EXPECT_EQ(big.Contacts[0]->Name(), "n99999");

    std::mt19937 random(12345);
    const std::string alphabet = "[]:=\r\n ContactGroupTContactTGroup0123456789\"'{LF}\x01\xff";
    for (int round = 0; round < 300; ++round) {
        std::string junk;
        for (int i = static_cast<int>(random() % 400); i > 0; --i)
            junk += random() % 4 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
        TReadLists lists;
        ErrorOf([&] { ReadContacts(Parse(junk), lists.Contacts); });
        ErrorOf([&] { ReadGroups(Parse(junk), lists.Groups); });
    }
}
