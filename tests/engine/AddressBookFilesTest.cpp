#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"
#include "engine/Startup.h"
#include "model/SafeFile.h"
#include "storage/IniFile.h"

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

TStdSmsSender* NewStdSender(const std::string& name)
{
    auto* sender = new TStdSmsSender;
    sender->SetName(name);
    return sender;
}

// Lines of a file, for comparing files whose line order may differ.
std::vector<std::string> SortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        lines.push_back(text.substr(pos, end - pos));
        pos = end == std::string::npos ? text.size() : end + 2;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

class AddressBookFilesTest : public ManagerTest {
protected:
    // Operators, contacts and groups with every kind of field.
    void BuildModel()
    {
        TStdSmsSender* web = NewStdSender(U("Пример"));
        web->GateType = TStdSmsSender::WebGateType;
        web->WebGate = "http://127.0.0.1/send?to={phone}&text={message}";
        web->Notes = "line 1\r\nline 2";
        web->TranslitFlag = true;
        web->Charset = "KOI8-R";
        M().AddSmsSender(web);
        TStdSmsSender* mail = NewStdSender("Mail");
        mail->SetSenderId(7);
        mail->EmailGate = "{phone}@sms.example";
        M().AddSmsSender(mail);
        TContact* ivanov = AddContact(U("Иванов"), "101", web);
        TContact* petrov = AddContact(U("Петров"), "102", mail);
        TContact* colon = AddContact("A:B", " 103 ");
        AddGroup(U("Друзья"), {ivanov, petrov, colon});
        AddGroup("Solo", {petrov});
        AddGroup("Nobody");
    }
    std::string Read(const std::string& name) { return Data.dir().read(name); }
    void Restart()
    {
        ResetSmsManagerForTests();
        M().LoadSmsSenders("SmsGates.ini");
        M().LoadAddressBook("SmsAddressBook.ini");
    }
    std::vector<std::string> Members(const std::string& group)
    {
        std::vector<std::string> names;
        const int index = M().Groups.IndexOfName(group);
        for (const TContact* c : M().Groups[index]->Contacts)
            names.push_back(c->Name());
        return names;
    }
};

} // namespace

TEST_F(AddressBookFilesTest, SaveLoadSaveGivesTheSameBytesApartFromMemberOrder)
{
    BuildModel();
    M().SaveSmsSenders("SmsGates.ini");
    M().SaveAddressBook("SmsAddressBook.ini");
    const std::string gates1 = Read("SmsGates.ini");
    const std::string book1 = Read("SmsAddressBook.ini");
    EXPECT_EQ(book1.find(U("(Все Абоненты)")), std::string::npos);
    EXPECT_NE(gates1.find("Notes=line 1{LF}line 2\r\n"), std::string::npos);

    Restart();
    EXPECT_EQ(Members(U("Друзья")), (std::vector<std::string> {"A:B", U("Петров"), U("Иванов")}));
    M().SaveSmsSenders("SmsGates.ini");
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_EQ(Read("SmsGates.ini"), gates1);
    const std::string book2 = Read("SmsAddressBook.ini");
    EXPECT_NE(book2, book1);
    EXPECT_EQ(SortedLines(book2).size(), SortedLines(book1).size());

    Restart(); // the second reversal restores the first order
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_EQ(Read("SmsAddressBook.ini"), book1);

    // Every field came back.
    const TContact* petrov = M().Contacts()[1];
    EXPECT_EQ(petrov->Name(), U("Петров"));
    ASSERT_NE(petrov->SmsSender, nullptr);
    EXPECT_EQ(petrov->SmsSender, M().SmsSenders[1]);
    EXPECT_EQ(M().Contacts()[2]->PhoneNumber, " 103 ");
    const auto* web = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[0]);
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->Notes, "line 1\r\nline 2");
    EXPECT_TRUE(web->TranslitFlag);
    EXPECT_EQ(web->Charset, "KOI8-R");
    EXPECT_EQ(web->GateType, TStdSmsSender::WebGateType);
    EXPECT_EQ(M().SmsSenders[1]->SenderId(), 7);
    EXPECT_EQ(M().Groups[2]->GroupId(), 3);
}

TEST_F(AddressBookFilesTest, NamesThatNothingMatchesAreDroppedAfterLoading)
{
    M().AddSmsSender(NewStdSender("Known"));
    Data.dir().write("SmsAddressBook.ini", "[Contact:TContact:A]\r\nName=A\r\nSmsSenderName=known\r\n"
                                           "[Contact:TContact:B]\r\nName=B\r\nSmsSenderName=Gone\r\n"
                                           "[Group:TGroup:G]\r\nName=G\r\nContactCount=3\r\n"
                                           "Contact0=a\r\nContact1=Ghost\r\nContact2=B\r\n");
    M().LoadAddressBook("SmsAddressBook.ini");
    const int a = M().Contacts().IndexOfName("A");
    const int b = M().Contacts().IndexOfName("B");
    EXPECT_EQ(M().Contacts()[a]->SmsSender, M().SmsSenders[0]);
    EXPECT_EQ(M().Contacts()[b]->SmsSender, nullptr);
    // Members are the master contacts themselves, in the reversed order.
    const TGroup* g = M().Groups[2];
    ASSERT_EQ(g->Contacts.Count(), 2);
    EXPECT_EQ(g->Contacts[0], M().Contacts()[b]);
    EXPECT_EQ(g->Contacts[1], M().Contacts()[a]);
}

TEST_F(AddressBookFilesTest, AMissingFileIsCreatedEmptyAndGivesAnEmptyBook)
{
    M().LoadSmsSenders("sub/dir/gates.ini");
    M().LoadAddressBook("SmsAddressBook.ini");
    EXPECT_EQ(Read("sub/dir/gates.ini"), "");
    EXPECT_EQ(Read("SmsAddressBook.ini"), "");
    EXPECT_EQ(M().Contacts().Count(), 0);
    EXPECT_EQ(M().Groups.Count(), 2);
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_EQ(Read("SmsAddressBook.ini"), "");
}

TEST_F(AddressBookFilesTest, OperatorsFileRules)
{
    Data.dir().write("a.ini", "[SmsSender:TStdSmsSender:Std]\r\nName=Std\r\n"
                              "[SmsSender:TFoo:X]\r\nName=X\r\n"
                              "[Other:TStdSmsSender:Y]\r\nName=Y\r\n");
    M().LoadSmsSenders("a.ini");
    ASSERT_EQ(M().SmsSenders.Count(), 1);
    const auto* std = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[0]);
    ASSERT_NE(std, nullptr);
    // Missing keys keep the standard operator's defaults.
    EXPECT_EQ(std->MaxSmsLen, 160);
    EXPECT_EQ(std->Charset, "CP1251");
    EXPECT_EQ(std->EmailGate, "{phone}@");
    EXPECT_EQ(std->GateType, TStdSmsSender::EmailGateType);
    EXPECT_EQ(std->SenderId(), 1);

    Data.dir().write("b.ini", "[SmsSender:TSmsSender:X]\r\nName=X\r\n");
    EXPECT_EQ(ErrorOf([&] { M().LoadSmsSenders("b.ini"); }),
              U("Системная ошибка:") + "\r\r\"" + U("Некорректный тип объекта") + "\".");
    Data.dir().write("c.ini", "[SmsSender:TStdSmsSender:X]\r\nName=X\r\nSenderId=4\r\n"
                              "[SmsSender:TStdSmsSender:Y]\r\nName=Y\r\nSenderId=4\r\n");
    EXPECT_EQ(ErrorOf([&] { M().LoadSmsSenders("c.ini"); }), U("Уже существует оператор с таким ID."));
}

TEST_F(AddressBookFilesTest, TheStandardOperatorSectionHasItsKeysInOrder)
{
    TStdSmsSender* op = NewStdSender("Op");
    op->Notes = "a\r\nb";
    op->WebGate = "w";
    M().AddSmsSender(op);
    M().SaveSmsSenders("SmsGates.ini");
    EXPECT_EQ(Read("SmsGates.ini"), "[SmsSender:TStdSmsSender:Op]\r\nName=Op\r\nSenderId=1\r\nTranslitFlag=0\r\n"
                                    "MaxSmsLen=160\r\nCharset=CP1251\r\nWebGate=w\r\nEmailGate={phone}@\r\n"
                                    "EmailSubj={message}\r\nEmailBody={message}\r\nGateType=1\r\nNotes=a{LF}b\r\n");
    // Operators of classes without routines are not written.
    AddFakeSender();
    M().SaveSmsSenders("SmsGates.ini");
    const std::string gates = Read("SmsGates.ini");
    EXPECT_EQ(std::count(gates.begin(), gates.end(), '['), 1);
}

TEST_F(AddressBookFilesTest, ReloadingOperatorsKeepsTheContactsOperatorsByName)
{
    M().AddSmsSender(NewStdSender("Op"));
    M().AddSmsSender(NewStdSender("Dropped"));
    TContact* a = AddContact("A", "1", M().SmsSenders[0]);
    TContact* b = AddContact("B", "2", M().SmsSenders[1]);
    Data.dir().write("g.ini", "[SmsSender:TStdSmsSender:Op]\r\nName=Op\r\nMaxSmsLen=70\r\n");
    M().LoadSmsSenders("g.ini");
    ASSERT_NE(a->SmsSender, nullptr);
    EXPECT_EQ(a->SmsSender, M().SmsSenders[0]);
    EXPECT_EQ(a->SmsSender->MaxSmsLen, 70);
    EXPECT_EQ(b->SmsSender, nullptr);
}

TEST_F(AddressBookFilesTest, AFailedLoadLeavesTheFileAsItWasAndNoPlaceholders)
{
    M().AddSmsSender(NewStdSender("Op"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[Contact:TContact:x]\r\nName=Same\r\nSmsSenderName=Op\r\n[Contact:TContact:y]\r\nName=same\r\n",
         U("Уже существует абонент с таким именем.")},
        {"[Contact:TContact:x]\r\nName=X\r\nContactId=3\r\nSmsSenderName=Op\r\n"
         "[Contact:TContact:y]\r\nName=Y\r\nContactId=3\r\nSmsSenderName=Op\r\n",
         U("Уже существует абонент с таким ID.")},
        {U("[Contact:TContact:x]\r\nName=X\r\nSmsSenderName=Op\r\n[Group:TGroup:x]\r\nName=(Все абоненты)\r\n"),
         U("Уже существует группа с таким именем.")},
        {"[Group:TGroup:x]\r\nName=X\r\nGroupId=1\r\n", U("Уже существует группа с таким ID.")},
        {"[Contact:TContact:x]\r\nName=X\r\nSmsSenderName=Op\r\n"
         "[Group:TGroup:G]\r\nName=G\r\nContactCount=1\r\nContact0=X\r\n[Group:TGroup:H]\r\nName=g\r\n",
         U("Уже существует группа с таким именем.")},
    };
    for (const auto& [content, error] : cases) {
        ResetSmsManagerForTests();
        M().AddSmsSender(NewStdSender("Op"));
        Data.dir().write("bad.ini", content);
        const auto before = fs::last_write_time(Data.dir().file("bad.ini"));
        EXPECT_EQ(ErrorOf([&] { M().LoadAddressBook("bad.ini"); }), error) << content;
        EXPECT_EQ(Read("bad.ini"), content);
        EXPECT_EQ(fs::last_write_time(Data.dir().file("bad.ini")), before);
        // What was read refers to real objects only.
        for (const TContact* contact : M().Contacts())
            EXPECT_TRUE(contact->SmsSender == nullptr || M().SmsSenders.IndexOf(contact->SmsSender) >= 0);
        for (const TGroup* group : M().Groups)
            for (const TContact* member : group->Contacts)
                EXPECT_GE(M().Contacts().IndexOf(member), 0);
    }
}

TEST_F(AddressBookFilesTest, LoadingReplacesTheGroupsTheRecipientListHeld)
{
    TContact* a = AddContact("A");
    TGroup* old = AddGroup("Old", {a});
    M().AddRecipientGroup(old);
    M().AddRecipientGroup(M().FoundContactsGroup);
    Data.dir().write("book.ini", "[Group:TGroup:New]\r\nName=New\r\nContactCount=1\r\nContact0=A\r\n");
    M().LoadAddressBook("book.ini");
    ASSERT_EQ(M().Recipients.Groups.Count(), 1);
    EXPECT_EQ(M().Recipients.Groups[0], M().FoundContactsGroup);
    EXPECT_EQ(Members("New"), (std::vector<std::string> {"A"}));
}

TEST_F(AddressBookFilesTest, AFailedSaveKeepsTheOldFile)
{
    BuildModel();
    M().SaveAddressBook("SmsAddressBook.ini");
    const std::string before = Read("SmsAddressBook.ini");
    AddContact("New");
    SetSaveFaultHook([](const char* stage) {
        if (std::string(stage) == "rename")
            throw TError("disk full");
    });
    EXPECT_THROW(M().SaveAddressBook("SmsAddressBook.ini"), TError);
    SetSaveFaultHook(nullptr);
    EXPECT_EQ(Read("SmsAddressBook.ini"), before);
}

TEST_F(AddressBookFilesTest, StartUpLoadsEverythingAndShutDownWritesItBack)
{
    BuildModel();
    M().SaveSmsSenders("SmsGates.ini");
    M().SaveAddressBook("SmsAddressBook.ini");
    Data.dir().write("SmsTranslit.txt", U("а\tQQ\r\n"));
    ResetSmsManagerForTests();

    int placed = 0;
    TStartupState state = LoadProgramData([&] {
        ++placed;
        EXPECT_TRUE(ProgramOptions().FirstRun);
    });
    EXPECT_TRUE(state.Complete()) << state.ErrorText;
    EXPECT_EQ(placed, 1);
    EXPECT_TRUE(state.ProgramOptionsLoaded && state.SmsOptionsLoaded && state.SmsSendersLoaded &&
                state.AddressBookLoaded && state.TranslitLoaded);
    EXPECT_EQ(M().Contacts().Count(), 3);
    EXPECT_EQ(M().SmsSenders.Count(), 2);
    EXPECT_EQ(TranslitChar(static_cast<unsigned char>(U("а")[0])), "QQ");
    EXPECT_EQ(Read("SmsOptions.ini").empty(), true); // created empty by the load

    AddContact("Added");
    SmsOptions().MaxTryCount = 4;
    SaveProgramData(state);
    EXPECT_NE(Read("SmsAddressBook.ini").find("[Contact:TContact:Added]"), std::string::npos);
    EXPECT_NE(Read("SmsOptions.ini").find("MaxTryCount=4"), std::string::npos);
    EXPECT_NE(Read("SmsGates.ini").find(U("[SmsSender:TStdSmsSender:Пример]")), std::string::npos);
}

TEST_F(AddressBookFilesTest, ShutDownNeverWritesBackAFileWhoseLoadFailed)
{
    // A broken address book: operators and options are saved, the book is not.
    const std::string badBook = "[Contact:TContact:x]\r\nName=X\r\n[Contact:TContact:y]\r\nName=x\r\n";
    Data.dir().write("SmsAddressBook.ini", badBook);
    Data.dir().write("SmsGates.ini", "[SmsSender:TStdSmsSender:Op]\r\nName=Op\r\n");
    TStartupState state = LoadProgramData();
    EXPECT_EQ(state.ErrorText, U("Уже существует абонент с таким именем."));
    EXPECT_TRUE(state.SmsSendersLoaded);
    EXPECT_FALSE(state.AddressBookLoaded);
    EXPECT_FALSE(state.TranslitLoaded);
    SaveProgramData(state);
    EXPECT_EQ(Read("SmsAddressBook.ini"), badBook);
    EXPECT_NE(Read("SmsGates.ini").find("SenderId=1"), std::string::npos); // written anew

    // A broken operators file: neither it nor the address book is written.
    ResetSmsManagerForTests();
    ResetSmsOptionsForTests();
    const std::string badGates = "[SmsSender:TSmsSender:Plain]\r\nName=Plain\r\n";
    const std::string book = "[Contact:TContact:x]\r\nName=X\r\n";
    Data.dir().write("SmsGates.ini", badGates);
    Data.dir().write("SmsAddressBook.ini", book);
    state = LoadProgramData();
    EXPECT_FALSE(state.Complete());
    EXPECT_TRUE(state.SmsOptionsLoaded);
    EXPECT_FALSE(state.SmsSendersLoaded);
    AddContact("InMemoryOnly");
    SaveProgramData(state);
    EXPECT_EQ(Read("SmsGates.ini"), badGates);
    EXPECT_EQ(Read("SmsAddressBook.ini"), book);
}

TEST_F(AddressBookFilesTest, ShutDownTriesEverySaveAndReportsTheFirstFailure)
{
    TStartupState state = LoadProgramData();
    ASSERT_TRUE(state.Complete()) << state.ErrorText;
    AddContact("A");
    // The address book's name is a folder: its save fails, the others still happen.
    ProgramOptions().AddressBookFileName = "folder";
    ASSERT_EQ(mkdir(Data.dir().file("folder").c_str(), 0700), 0);
    SmsOptions().MaxTryCount = 9;
    EXPECT_THROW(SaveProgramData(state), TError);
    EXPECT_NE(Read("SmsOptions.ini").find("MaxTryCount=9"), std::string::npos);
}
