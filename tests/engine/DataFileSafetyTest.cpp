// Data files that do not read are never written over; files an editor saved
// as UTF-8 are read; every save keeps the previous version as "<file>.bak".
// Driven through the start-up and shut-down of the program (LoadProgramData,
// SaveProgramData) on a prepared data folder.
#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"
#include "engine/Startup.h"
#include "model/DataPaths.h"
#include "model/SafeFile.h"
#include "model/Translit.h"

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Utf16Le(const std::string& cp1251)
{
    std::string out = "\xFF\xFE";
    for (char16_t c : Cp1251ToUtf16(cp1251)) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string RandomBytes(size_t size, unsigned seed)
{
    std::string out(size, '\0');
    for (char& c : out) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 23);
    }
    return out;
}

const std::string Bom = "\xEF\xBB\xBF";

class DataFileSafetyTest : public ManagerTest {
protected:
    // Twenty contacts with an operator each, a group of three: saved by the
    // program itself, so the files are the CP1251 it writes.
    void WriteDataFolder()
    {
        auto* sender = new TStdSmsSender;
        sender->SetName(U("Оператор"));
        M().AddSmsSender(sender);
        std::vector<TContact*> contacts;
        for (int i = 0; i < 20; ++i)
            contacts.push_back(AddContact(U("Абонент ") + std::to_string(i), "+7912000" + std::to_string(1000 + i), sender));
        AddGroup(U("Друзья"), {contacts[7], contacts[2], contacts[11]});
        M().SaveSmsSenders("SmsGates.ini");
        M().SaveAddressBook("SmsAddressBook.ini");
        SmsOptions().SmtpHost = "relay.example:25";
        SmsOptions().SmtpPassword = "1a2b3c4d"; // scrambled into bytes that are valid UTF-8
        SmsOptions().Prefix = U("Привет");
        SmsOptions().Save("SmsOptions.ini");
        Data.dir().write("SmsTemplates.txt", U("Перезвони\r\nБуду в 5\r\n"));
        Data.dir().write("SmsTranslit.txt", U("ж\tZZ\r\n"));
        Reset();
        for (const char* name : Files)
            Saved[name] = Read(name);
    }
    void RemoveBackups()
    {
        for (const char* name : Files)
            std::filesystem::remove(Data.dir().file(std::string(name) + ".bak"));
    }
    static constexpr const char* Files[] = {"SmsAddressBook.ini", "SmsGates.ini", "SmsOptions.ini",
                                            "SmsTemplates.txt", "SmsTranslit.txt"};
    std::map<std::string, std::string> Saved;
};

} // namespace

TEST_F(DataFileSafetyTest, AFileThatDoesNotReadStopsTheStartAndIsNeverWritten)
{
    WriteDataFolder();
    struct TCase {
        std::string What;
        std::string Bytes;
        std::string Reason;
    };
    std::vector<TCase> spoilers = {
        {"UTF-16", "", U("нулевые байты")},
        {"random bytes", RandomBytes(64 * 1024, 7), U("нулевые байты")},
        {"no known section", U("Это не адресная книга.\r\n[Раздел]\r\nКлюч=1\r\n"), U("нет ни одной секции")},
    };
    for (const char* name : Files) {
        for (const TCase& spoiler : spoilers) {
            const bool profile = std::string(name).ends_with(".ini");
            if (!profile && spoiler.What == "no known section")
                continue; // any text is a list of templates or a table
            const std::string bytes = spoiler.What == "UTF-16" ? Utf16Le(Saved[name]) : spoiler.Bytes;
            for (const char* other : Files)
                Data.dir().write(other, Saved[other]);
            Data.dir().write(name, bytes);
            RemoveBackups();
            Reset();
            const TStartupState state = LoadProgramData();
            const std::string where = std::string(name) + " / " + spoiler.What;
            EXPECT_FALSE(state.Complete()) << where;
            EXPECT_NE(state.ErrorText.find(PathText(Data.dir().file(name))), std::string::npos)
                << where << ": " << state.ErrorText;
            EXPECT_NE(state.ErrorText.find(spoiler.Reason), std::string::npos) << where << ": " << state.ErrorText;
            // The exit writes what loaded, never the file that did not: a
            // spoiled operators file leaves the book untouched too, so no
            // contact loses its operator.
            try {
                SaveProgramData(state);
            } catch (const TError&) {
            }
            EXPECT_TRUE(Read(name) == bytes) << where;
            EXPECT_FALSE(FileExists(Data.dir().file(std::string(name) + ".bak"))) << where;
            if (std::string(name) != "SmsAddressBook.ini") {
                EXPECT_EQ(Read("SmsAddressBook.ini"), Saved["SmsAddressBook.ini"]) << where;
            }
        }
    }
}

TEST_F(DataFileSafetyTest, FilesSavedAsUtf8AreReadWholeAndWrittenBackInCp1251)
{
    WriteDataFolder();
    for (const bool bom : {true, false}) {
        for (const char* name : Files)
            Data.dir().write(name, (bom ? Bom : "") + Cp1251ToUtf8(Saved[name]));
        Reset();
        const TStartupState state = LoadProgramData();
        ASSERT_TRUE(state.Complete()) << state.ErrorText;
        // A mark before the first section drops no section: all twenty
        // contacts, each with its operator (a single-operator file too).
        ASSERT_EQ(M().Contacts().Count(), 20) << bom;
        ASSERT_EQ(M().SmsSenders.Count(), 1);
        EXPECT_EQ(M().SmsSenders[0]->Name(), U("Оператор"));
        for (const TContact* contact : M().Contacts())
            EXPECT_EQ(contact->SmsSender, M().SmsSenders[0]) << contact->Name();
        EXPECT_EQ(M().Contacts()[3]->Name(), U("Абонент 3"));
        EXPECT_EQ(SmsOptions().Prefix, U("Привет"));
        EXPECT_EQ(SmsOptions().SmtpPassword, "1a2b3c4d");
        EXPECT_EQ(M().Templates.Get(1), U("Буду в 5"));
        EXPECT_EQ(TranslitChar(static_cast<unsigned char>(U("ж")[0])), "ZZ");
        SaveProgramData(state);
        for (const char* name : {"SmsAddressBook.ini", "SmsGates.ini", "SmsOptions.ini"})
            EXPECT_TRUE(Read(name) == Saved[name]) << name << (bom ? " with BOM" : " without BOM");
    }
}

TEST_F(DataFileSafetyTest, ACharacterCp1251CannotHoldRefusesTheFileNamingItsLine)
{
    WriteDataFolder();
    // Line 8 is the name of the contact in the second section.
    std::string book = Cp1251ToUtf8(Saved["SmsAddressBook.ini"]);
    const size_t at = book.find("\nName=", book.find("\nName=") + 1);
    book.insert(at + 6, "\xF0\x9F\x98\x80"); // U+1F600
    Data.dir().write("SmsAddressBook.ini", book);
    const TStartupState state = LoadProgramData();
    EXPECT_NE(state.ErrorText.find(U("в строке 8 есть символ U+1F600")), std::string::npos) << state.ErrorText;
    SaveProgramData(state);
    EXPECT_TRUE(Read("SmsAddressBook.ini") == book);
}

TEST_F(DataFileSafetyTest, ASaveKeepsThePreviousVersionBesideTheFile)
{
    WriteDataFolder();
    TStartupState state = LoadProgramData();
    ASSERT_TRUE(state.Complete()) << state.ErrorText;
    AddContact("Added");
    SmsOptions().MaxTryCount = 7;
    M().Templates.Add("new");
    SaveProgramData(state);
    M().Templates.SaveToFile("");
    for (const char* name : {"SmsAddressBook.ini", "SmsOptions.ini", "SmsTemplates.txt"}) {
        EXPECT_TRUE(Read(std::string(name) + ".bak") == Saved[name]) << name;
        EXPECT_NE(Read(name), Saved[name]) << name;
    }
    // The options' backup keeps the passwords as private as the file.
    struct stat st {};
    ASSERT_EQ(stat(Data.dir().file("SmsOptions.ini.bak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next save replaces the backup by the version it replaces.
    const std::string second = Read("SmsAddressBook.ini");
    M().DeleteContact(M().Contacts()[M().Contacts().IndexOfName("Added")]);
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_TRUE(Read("SmsAddressBook.ini.bak") == second);
    EXPECT_TRUE(Read("SmsAddressBook.ini") == Saved["SmsAddressBook.ini"]);
    // An exit without changes writes the same bytes: the backup stays the
    // version before, not a second copy of the file.
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_TRUE(Read("SmsAddressBook.ini.bak") == second);

    // A data file that is a symbolic link stays one: the target is replaced
    // and its backup lies beside it. No temporary file is left anywhere.
    std::filesystem::remove(Data.dir().file("SmsGates.ini"));
    ASSERT_EQ(mkdir(Data.dir().file("real").c_str(), 0700), 0);
    Data.dir().write("real/gates.ini", Saved["SmsGates.ini"]);
    ASSERT_EQ(symlink("real/gates.ini", Data.dir().file("SmsGates.ini").c_str()), 0);
    M().SmsSenders[0]->MaxSmsLen = 70;
    M().SaveSmsSenders("SmsGates.ini");
    EXPECT_TRUE(std::filesystem::is_symlink(Data.dir().file("SmsGates.ini")));
    EXPECT_NE(Read("real/gates.ini").find("MaxSmsLen=70"), std::string::npos);
    EXPECT_TRUE(Read("real/gates.ini.bak") == Saved["SmsGates.ini"]);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Data.dir().path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}
