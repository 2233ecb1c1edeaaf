#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"
#include "engine/Startup.h"
#include "model/SafeFile.h"

#include <filesystem>
#include <sys/stat.h>

namespace {

class AddressBookFilesTest : public ManagerTest {
protected:
    TStdSmsSender* AddStdSender(const std::string& name)
    {
        auto* sender = new TStdSmsSender;
        sender->SetName(name);
        M().AddSmsSender(sender);
        return sender;
    }
    void BuildModel()
    {
        TStdSmsSender* web = AddStdSender(U("Пример"));
        web->GateType = TStdSmsSender::WebGateType;
        web->Notes = "line 1\r\nline 2";
        web->TranslitFlag = true;
        TStdSmsSender* mail = AddStdSender("Mail");
        mail->SetSenderId(7);
        TContact* ivanov = AddContact(U("Иванов"), "101", web);
        TContact* petrov = AddContact(U("Петров"), "102", mail);
        AddGroup(U("Друзья"), {ivanov, petrov, AddContact("A:B", " 103 ")});
        AddGroup("Nobody");
    }
    void SaveBoth()
    {
        M().SaveSmsSenders("SmsGates.ini");
        M().SaveAddressBook("SmsAddressBook.ini");
    }
    void Restart()
    {
        ResetSmsManagerForTests();
        M().LoadSmsSenders("SmsGates.ini");
        M().LoadAddressBook("SmsAddressBook.ini");
    }
    std::vector<std::string> Members(const TGroup* group)
    {
        std::vector<std::string> names;
        for (const TContact* c : group->Contacts)
            names.push_back(c->Name());
        return names;
    }
};

const char* const ObjectType = "Системная ошибка:\r\r\"Некорректный тип объекта\".";

} // namespace

TEST_F(AddressBookFilesTest, SaveLoadSaveGivesTheSameBytes)
{
    BuildModel();
    SaveBoth();
    const std::string gates = Read("SmsGates.ini"), book = Read("SmsAddressBook.ini");
    EXPECT_EQ(book.find(U("(Все Абоненты)")), std::string::npos);
    EXPECT_NE(gates.find("[SmsSender:TStdSmsSender:Mail]\r\nName=Mail\r\nSenderId=7\r\nTranslitFlag=0\r\n"
                         "MaxSmsLen=160\r\nCharset=CP1251\r\nWebGate=\r\nEmailGate={phone}@\r\n"
                         "EmailSubj={message}\r\nEmailBody={message}\r\nGateType=1\r\nNotes=\r\n"),
              std::string::npos);
    EXPECT_NE(gates.find("Notes=line 1{LF}line 2\r\n"), std::string::npos);

    // A group's members keep their order through every load and save.
    for (int exits = 0; exits < 2; ++exits) {
        Restart();
        EXPECT_EQ(Members(M().Groups[2]), (std::vector<std::string> {U("Иванов"), U("Петров"), "A:B"}));
        SaveBoth();
        EXPECT_EQ(Read("SmsGates.ini"), gates);
        EXPECT_EQ(Read("SmsAddressBook.ini"), book);
    }

    EXPECT_EQ(M().Contacts()[1]->SmsSender, M().SmsSenders[1]);
    EXPECT_EQ(M().Contacts()[2]->PhoneNumber, " 103 ");
    const auto* web = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[0]);
    ASSERT_NE(web, nullptr);
    EXPECT_EQ(web->Notes, "line 1\r\nline 2");
    EXPECT_TRUE(web->TranslitFlag);
    EXPECT_EQ(web->GateType, TStdSmsSender::WebGateType);
    EXPECT_EQ(M().Groups[2]->GroupId(), 3);
}

TEST_F(AddressBookFilesTest, NamesThatNothingMatchesAreDroppedAfterLoading)
{
    AddStdSender("Known");
    Data.dir().write("book.ini", "[Contact:TContact:A]\r\nName=A\r\nSmsSenderName=known\r\n"
                                 "[Contact:TContact:B]\r\nName=B\r\nSmsSenderName=Gone\r\n"
                                 "[Group:TGroup:G]\r\nName=G\r\nContactCount=3\r\nContact0=a\r\nContact1=Ghost\r\n"
                                 "Contact2=B\r\n");
    M().LoadAddressBook("book.ini");
    TContact* b = M().Contacts()[0]; // read from the last section
    TContact* a = M().Contacts()[1];
    EXPECT_EQ(a->SmsSender, M().SmsSenders[0]);
    EXPECT_EQ(b->SmsSender, nullptr);
    const TContactList& members = M().Groups[2]->Contacts;
    EXPECT_EQ(std::vector<TContact*>(members.begin(), members.end()), (std::vector<TContact*> {a, b}));
}

TEST_F(AddressBookFilesTest, OperatorsFileRulesAndMissingFiles)
{
    M().LoadSmsSenders("sub/dir/gates.ini");
    M().LoadAddressBook("SmsAddressBook.ini");
    EXPECT_EQ(Read("sub/dir/gates.ini") + Read("SmsAddressBook.ini"), "");
    EXPECT_TRUE(FileExists(Data.dir().file("SmsAddressBook.ini")));
    Data.dir().write("a.ini", "[SmsSender:TStdSmsSender:Std]\r\nName=Std\r\n[SmsSender:TFoo:X]\r\nName=X\r\n"
                              "[Other:TStdSmsSender:Y]\r\nName=Y\r\n");
    M().LoadSmsSenders("a.ini");
    ASSERT_EQ(M().SmsSenders.Count(), 1);
    const auto* std = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[0]);
    ASSERT_NE(std, nullptr);
    EXPECT_EQ(std->MaxSmsLen, 160); // the standard operator's defaults
    EXPECT_EQ(std->SenderId(), 1);

    Data.dir().write("b.ini", "[SmsSender:TSmsSender:X]\r\nName=X\r\n");
    EXPECT_EQ(ErrorOf([&] { M().LoadSmsSenders("b.ini"); }), U(ObjectType));
    Data.dir().write("c.ini", "[SmsSender:TStdSmsSender:X]\r\nName=X\r\nSenderId=4\r\n"
                              "[SmsSender:TStdSmsSender:Y]\r\nName=Y\r\nSenderId=4\r\n");
    EXPECT_EQ(ErrorOf([&] { M().LoadSmsSenders("c.ini"); }), U("Уже существует оператор с таким ID."));
    Data.dir().write("e.ini", U("[SmsSender:TStdSmsSender:Мой]\r\nName=Мой\r\n[SmsSender:TStdSmsSender:МОЙ]\r\n"
                                "Name=Другой\r\n"));
    EXPECT_EQ(ErrorOf([&] { M().LoadSmsSenders("e.ini"); }), U("Уже существует оператор с таким именем."));
    AddFakeSender(); // no routines for its class: not written
    M().SaveSmsSenders("d.ini");
    EXPECT_EQ(Read("d.ini").find("Fake"), std::string::npos);
}

TEST_F(AddressBookFilesTest, ReloadingOperatorsKeepsTheContactsOperatorsByName)
{
    TContact* a = AddContact("A", "1", AddStdSender("Op"));
    TContact* b = AddContact("B", "2", AddStdSender("Dropped"));
    Data.dir().write("g.ini", "[SmsSender:TStdSmsSender:Op]\r\nName=Op\r\nMaxSmsLen=70\r\n");
    M().LoadSmsSenders("g.ini");
    EXPECT_EQ(a->SmsSender, M().SmsSenders[0]);
    EXPECT_EQ(M().SmsSenders[0]->MaxSmsLen, 70);
    EXPECT_EQ(b->SmsSender, nullptr);
}

TEST_F(AddressBookFilesTest, AFailedLoadLeavesTheFileUntouchedAndNoPlaceholders)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[Contact:TContact:x]\r\nName=Same\r\nSmsSenderName=Op\r\n[Contact:TContact:y]\r\nName=same\r\n",
         "Уже существует абонент с таким именем."},
        {"[Contact:TContact:x]\r\nName=X\r\nContactId=3\r\n[Contact:TContact:y]\r\nName=Y\r\nContactId=3\r\n",
         "Уже существует абонент с таким ID."},
        {"[Contact:TContact:x]\r\nName=X\r\nSmsSenderName=Op\r\n[Group:TGroup:x]\r\nName=(Все абоненты)\r\n",
         "Уже существует группа с таким именем."},
        {"[Group:TGroup:x]\r\nName=X\r\nGroupId=2\r\n", "Уже существует группа с таким ID."},
        {"[Contact:TContact:x]\r\nName=X\r\n[Group:TGroup:G]\r\nName=G\r\nContactCount=1\r\nContact0=X\r\n"
         "[Group:TGroup:H]\r\nName=g\r\n",
         "Уже существует группа с таким именем."},
        {"[Contact:TSmsSender:x]\r\nName=X\r\n", ObjectType},
        // Sections whose names differ only in letter case are two objects, never merged into one.
        {"[Contact:TContact:Анна]\r\nContactId=1\r\nName=Анна\r\n[Contact:TContact:АННА]\r\nContactId=2\r\n"
         "Name=Вера\r\n",
         "Уже существует абонент с таким именем."},
        {"[Group:TGroup:Друзья]\r\nName=Друзья\r\n[Group:TGroup:друзья]\r\nName=Семья\r\n",
         "Уже существует группа с таким именем."},
    };
    for (const auto& [content, error] : cases) {
        ResetSmsManagerForTests();
        AddStdSender("Op");
        Data.dir().write("bad.ini", U(content));
        const auto before = std::filesystem::last_write_time(Data.dir().file("bad.ini"));
        EXPECT_EQ(ErrorOf([&] { M().LoadAddressBook("bad.ini"); }), U(error)) << content;
        EXPECT_EQ(Read("bad.ini"), U(content));
        EXPECT_EQ(std::filesystem::last_write_time(Data.dir().file("bad.ini")), before);
        for (const TContact* contact : M().Contacts())
            EXPECT_TRUE(contact->SmsSender == nullptr || M().SmsSenders.IndexOf(contact->SmsSender) >= 0);
        for (const TGroup* group : M().Groups)
            for (const TContact* member : group->Contacts)
                EXPECT_GE(M().Contacts().IndexOf(member), 0);
    }
}

TEST_F(AddressBookFilesTest, StartUpLoadsEverythingAndShutDownWritesItBack)
{
    BuildModel();
    SaveBoth();
    Data.dir().write("SmsTranslit.txt", U("а\tQQ\r\n"));
    ResetSmsManagerForTests();
    int placed = 0;
    TStartupState state = LoadProgramData([&] { placed += ProgramOptions().FirstRun; });
    EXPECT_TRUE(state.Complete()) << state.ErrorText;
    EXPECT_EQ(placed, 1);
    EXPECT_TRUE(state.ProgramOptionsLoaded && state.SmsOptionsLoaded && state.SmsSendersLoaded &&
                state.AddressBookLoaded && state.TranslitLoaded);
    EXPECT_EQ(M().Contacts().Count() + M().SmsSenders.Count(), 5);
    EXPECT_EQ(TranslitChar(static_cast<unsigned char>(U("а")[0])), "QQ");

    AddContact("Added");
    SmsOptions().MaxTryCount = 4;
    // The window placement is stored between the address book and the options.
    int between = 0;
    SaveProgramData(state, [&] {
        between += Read("SmsAddressBook.ini").find("[Contact:TContact:Added]") != std::string::npos;
        between += Read("SmsOptions.ini").find("MaxTryCount=4") == std::string::npos;
    });
    EXPECT_EQ(between, 2);
    EXPECT_NE(Read("SmsAddressBook.ini").find("[Contact:TContact:Added]"), std::string::npos);
    EXPECT_NE(Read("SmsOptions.ini").find("MaxTryCount=4"), std::string::npos);
    EXPECT_NE(Read("SmsGates.ini").find(U("[SmsSender:TStdSmsSender:Пример]")), std::string::npos);

    // Every save is tried; the first failure is raised afterwards.
    ProgramOptions().AddressBookFileName = "folder";
    ASSERT_EQ(mkdir(Data.dir().file("folder").c_str(), 0700), 0);
    SmsOptions().MaxTryCount = 9;
    int placements = 0;
    EXPECT_THROW(SaveProgramData(state, [&] { ++placements; }), TError);
    EXPECT_EQ(placements, 1);
    EXPECT_NE(Read("SmsOptions.ini").find("MaxTryCount=9"), std::string::npos);
}

TEST_F(AddressBookFilesTest, ShutDownNeverWritesBackAFileWhoseLoadFailed)
{
    const std::string badBook = "[Contact:TContact:x]\r\nName=X\r\n[Contact:TContact:y]\r\nName=x\r\n";
    Data.dir().write("SmsAddressBook.ini", badBook);
    Data.dir().write("SmsGates.ini", "[SmsSender:TStdSmsSender:Op]\r\nName=Op\r\n");
    TStartupState state = LoadProgramData();
    EXPECT_EQ(state.ErrorText, U("Уже существует абонент с таким именем."));
    EXPECT_TRUE(state.SmsSendersLoaded);
    EXPECT_FALSE(state.AddressBookLoaded || state.TranslitLoaded);
    SaveProgramData(state);
    EXPECT_EQ(Read("SmsAddressBook.ini"), badBook);
    EXPECT_NE(Read("SmsGates.ini").find("SenderId=1"), std::string::npos); // written anew

    Reset();
    const std::string badGates = "[SmsSender:TSmsSender:Plain]\r\nName=Plain\r\n";
    Data.dir().write("SmsGates.ini", badGates);
    state = LoadProgramData();
    EXPECT_EQ(state.ErrorText, U(ObjectType));
    EXPECT_TRUE(state.SmsOptionsLoaded);
    EXPECT_FALSE(state.SmsSendersLoaded);
    AddContact("InMemoryOnly");
    SaveProgramData(state);
    EXPECT_EQ(Read("SmsGates.ini"), badGates);
    EXPECT_EQ(Read("SmsAddressBook.ini"), badBook);
}

TEST_F(AddressBookFilesTest, ABookWithCaseTwinSectionsIsNeverWrittenBack)
{
    const std::string book = U("[Contact:TContact:Анна]\r\nContactId=1\r\nName=Анна\r\n"
                               "[Contact:TContact:АННА]\r\nContactId=2\r\nName=Вера\r\n");
    Data.dir().write("SmsAddressBook.ini", book);
    TStartupState state = LoadProgramData();
    EXPECT_EQ(state.ErrorText, U("Уже существует абонент с таким именем."));
    SaveProgramData(state);
    EXPECT_EQ(Read("SmsAddressBook.ini"), book);
}

TEST_F(AddressBookFilesTest, ReadOnlyFoldersAndPipesInPlaceOfDataFiles)
{
    // A data file without write permission is never replaced by a save.
    BuildModel();
    SaveBoth();
    M().Templates.Add("t");
    M().Templates.SaveToFile("");
    SmsOptions().Save("SmsOptions.ini");
    const std::vector<std::pair<std::string, std::function<void()>>> saves = {
        {"SmsTemplates.txt", [&] { M().Templates.SaveToFile(""); }},
        {"SmsAddressBook.ini", [&] { M().SaveAddressBook("SmsAddressBook.ini"); }},
        {"SmsOptions.ini", [&] { SmsOptions().Save("SmsOptions.ini"); }},
    };
    M().Templates.Add("u");
    AddContact("New");
    SmsOptions().MaxTryCount = 5;
    for (const auto& [name, save] : saves) {
        const std::string before = Read(name);
        chmod(Data.dir().file(name).c_str(), 0444);
        const std::string error = ErrorOf(save);
        EXPECT_NE(error.find(U("Не удалось сохранить файл")), std::string::npos) << name << ": " << error;
        EXPECT_EQ(Read(name), before);
        struct stat st {};
        ASSERT_EQ(stat(Data.dir().file(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0444u) << name;
    }

    // A folder in place of the operators or address-book file cannot be read.
    Reset();
    for (const char* name : {"GatesDir", "BookDir"})
        ASSERT_EQ(mkdir(Data.dir().file(name).c_str(), 0700), 0);
    for (const std::string& error : {ErrorOf([&] { M().LoadSmsSenders("GatesDir"); }),
                                     ErrorOf([&] { M().LoadAddressBook("BookDir"); })}) {
        EXPECT_NE(error.find(U("Не удалось прочитать файл")), std::string::npos) << error;
        EXPECT_EQ(error.find(U("сохранить")), std::string::npos) << error;
    }

    // A named pipe in place of the options or the templates file stops the
    // start with an error instead of waiting for a writer.
    for (const char* name : {"SmsOptions.ini", "SmsTemplates.txt"}) {
        Reset();
        std::filesystem::remove_all(Data.dir().file(name));
        ASSERT_EQ(mkfifo(Data.dir().file(name).c_str(), 0600), 0);
        TStartupState state = LoadProgramData();
        EXPECT_NE(state.ErrorText.find(NotRegularFileText()), std::string::npos) << name << ": " << state.ErrorText;
        std::filesystem::remove(Data.dir().file(name));
    }
}

TEST_F(AddressBookFilesTest, ReplyPatternsAreStoredOnlyWhenSet)
{
    TStdSmsSender* gate = AddStdSender("Gate");
    gate->ReplyOkPattern = R"("status":\s*"ok")";
    gate->ReplyPermFailPattern = U(" ^неверный номер ");
    AddStdSender("Plain");
    M().SaveSmsSenders("SmsGates.ini");
    const std::string file = Read("SmsGates.ini");
    const std::string tail = U("Notes=\r\nReplyOkPattern=\"\"status\":\\s*\"ok\"\"\r\n"
                               "ReplyPermFailPattern=\" ^неверный номер \"\r\n");
    EXPECT_EQ(file.substr(0, file.find("[SmsSender:TStdSmsSender:Gate]")).find("Reply"), std::string::npos) << file;
    EXPECT_EQ(file.substr(file.size() - tail.size()), tail);

    ResetSmsManagerForTests();
    M().LoadSmsSenders("SmsGates.ini");
    const auto* loaded = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName("Gate")]);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->ReplyOkPattern, R"("status":\s*"ok")");
    EXPECT_EQ(loaded->ReplyTempFailPattern, "");
    EXPECT_EQ(loaded->ReplyPermFailPattern, U(" ^неверный номер "));
    std::unique_ptr<TSmsSender> copy = loaded->Clone();
    EXPECT_EQ(static_cast<TStdSmsSender&>(*copy).ReplyPermFailPattern, loaded->ReplyPermFailPattern);
}

// The gate's time limit: a key of its own only when set; read back, copied.
TEST_F(AddressBookFilesTest, TheGateTimeLimitIsStoredOnlyWhenSet)
{
    AddStdSender("Slow")->TimeoutSeconds = 45;
    AddStdSender("Plain");
    M().SaveSmsSenders("SmsGates.ini");
    const std::string file = Read("SmsGates.ini");
    const size_t slow = file.find("[SmsSender:TStdSmsSender:Slow]");
    ASSERT_NE(slow, std::string::npos) << file;
    EXPECT_EQ(file.find("Timeout"), file.find("Timeout=45\r\n", slow)) << file; // once, in Slow's section
    ResetSmsManagerForTests();
    M().LoadSmsSenders("SmsGates.ini");
    const auto* loaded = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName("Slow")]);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->TimeoutSeconds, 45);
    EXPECT_EQ(static_cast<TStdSmsSender&>(*loaded->Clone()).GateTimeoutMs(), 45000);
    EXPECT_EQ(dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName("Plain")])->TimeoutSeconds, 0);
}
