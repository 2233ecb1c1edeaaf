// The address book as saved: a generated book must give exactly the bytes
// stored in tests/data/golden, which were written by the first version of
// the writer. Any change to the writer that alters one byte fails here.
#include "ManagerFixture.h"

#include "engine/StdSmsSender.h"
#include "storage/IniFile.h"
#include "storage/SmsIo.h"

#include <fstream>
#include <sstream>

namespace {

std::string ReadGolden(const std::string& name)
{
    std::ifstream in(std::string(VELOTEXT_TEST_DATA_DIR) + "/golden/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class AddressBookGoldenTest : public ManagerTest {
protected:
    // A book with every kind of value the writer must make safe: blanks and
    // quotes at the ends, line breaks, ":" and "]" in names, Cyrillic, empty
    // phones, contacts without an operator, empty groups, ids with gaps.
    void BuildBook()
    {
        unsigned seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return (seed >> 16) & 0x7FFF;
        };
        std::vector<TSmsSender*> senders;
        for (int i = 0; i < 6; ++i) {
            auto* sender = new TStdSmsSender;
            sender->SetName(U("Оператор ") + std::to_string(i));
            M().AddSmsSender(sender);
            senders.push_back(sender);
        }
        static const char* const names[] = {"Иванов", "  Петров  ", "\"Сидоров\"", "'x'", "A:B", "a]b[c",
                                            "Ёлкин", "ящер", "Line\r\nbreak", "Tab\tname", "=eq", ";semi"};
        static const char* const phones[] = {"+79120000000", " 101 ", "", "\"quoted\"", "8 (912) 000-00-00",
                                             "a\rb", "'", "\t7\t"};
        std::vector<TContact*> contacts;
        for (int i = 0; i < 300; ++i) {
            std::string name = U(names[next() % 12]) + " " + std::to_string(i);
            if (i % 7 == 0)
                name = U(names[next() % 12]) + std::to_string(i) + U(names[next() % 12]);
            TSmsSender* sender = next() % 4 == 0 ? nullptr : senders[next() % senders.size()];
            TContact* contact = AddContact(name, U(phones[next() % 8]) + std::to_string(next() % 1000), sender);
            if (i % 50 == 49)
                contact->SetContactId(100000 + i);
            contacts.push_back(contact);
        }
        for (int g = 0; g < 25; ++g) {
            std::vector<TContact*> members;
            const unsigned size = g % 5 == 0 ? 0 : next() % 40;
            for (unsigned k = 0; k < size; ++k)
                members.push_back(contacts[next() % contacts.size()]);
            AddGroup(U(names[g % 12]) + U(" группа ") + std::to_string(g), members);
        }
    }
};

} // namespace

TEST_F(AddressBookGoldenTest, AGeneratedBookIsSavedByteForByteAsBefore)
{
    BuildBook();
    M().SaveAddressBook("SmsAddressBook.ini");
    const std::string saved = Data.dir().read("SmsAddressBook.ini");
    const std::string golden = ReadGolden("SmsAddressBook.ini");
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(saved.size(), golden.size());
    EXPECT_TRUE(saved == golden);
}

TEST_F(AddressBookGoldenTest, TheTextWriterGivesWhatTheProfileGives)
{
    BuildBook();
    RegisterIoClasses();
    auto profileText = [&] {
        TIniFile ini;
        WriteContacts(ini, M().Contacts());
        WriteGroups(ini, M().Groups);
        return ini.SaveToText();
    };
    // The golden book's names with line breaks could merge two sections
    // (a break is written as a blank): the text writer leaves them to the profile.
    std::string text;
    EXPECT_FALSE(AddressBookText(M().Contacts(), M().Groups, text));
    for (TContact* contact : M().Contacts())
        if (contact->Name().find_first_of("\r\n") != std::string::npos)
            contact->SetName(U("без переноса ") + std::to_string(contact->ContactId()));
    for (TGroup* group : M().Groups)
        if (group->Name().find_first_of("\r\n") != std::string::npos)
            group->SetName(U("без переноса ") + std::to_string(group->GroupId()));
    ASSERT_TRUE(AddressBookText(M().Contacts(), M().Groups, text));
    EXPECT_GT(text.size(), 30000u);
    EXPECT_TRUE(text == profileText());
    M().SaveAddressBook("SmsAddressBook.ini");
    const std::string saved = Data.dir().read("SmsAddressBook.ini");
    EXPECT_EQ(saved.size(), text.size());
    EXPECT_TRUE(saved == text);
    // A book of many pieces: the streamed save loses and repeats nothing at
    // the seams.
    for (int i = 0; i < 6000; ++i)
        AddContact(U("Абонент ") + std::to_string(i), "+7912" + std::to_string(1000000 + i), nullptr);
    ASSERT_TRUE(AddressBookText(M().Contacts(), M().Groups, text));
    EXPECT_GT(text.size(), 600000u);
    EXPECT_TRUE(text == profileText());
    M().SaveAddressBook("SmsAddressBook.ini");
    EXPECT_TRUE(Data.dir().read("SmsAddressBook.ini") == text);
    // A name with a line break could merge two sections: left to the profile.
    M().Contacts()[5]->SetName("Line\r\nbreak");
    EXPECT_FALSE(AddressBookText(M().Contacts(), M().Groups, text));
    // Two contacts whose names the list would refuse as equal (a rename
    // behind its back) are left to the profile too.
    M().Contacts()[0]->SetName(UpperCase(M().Contacts()[1]->Name()));
    EXPECT_FALSE(AddressBookText(M().Contacts(), M().Groups, text));
}
