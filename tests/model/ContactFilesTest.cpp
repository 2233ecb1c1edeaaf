// Contacts files as other programs write them (tests/data/contacts): a mail
// client's folded vCard 3.0, Google's two CSV layouts, Outlook's CSV in English
// and in Russian; and the plan and the export over what they give.
#include "model/ContactExport.h"
#include "model/ContactImport.h"
#include "model/SafeFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::string Sample(const char* name) { return ReadWholeFile(std::string(VELOTEXT_TEST_DATA_DIR) + "/contacts/" + name); }

std::vector<std::string> Us(std::initializer_list<const char*> texts)
{
    std::vector<std::string> out;
    for (const char* t : texts)
        out.push_back(U(t));
    return out;
}

} // namespace

TEST(ContactFiles, MailClientVCardFoldedInsideLettersReadsWhole)
{
    const std::string file = Sample("mail-client-3.0.vcf");
    ASSERT_NE(file.find("\xD0\r\n \xB0"), std::string::npos) << "the sample folds inside a letter";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Rows.size(), 2u);
    EXPECT_EQ(s.Rows[0].Name, U("Анна-Мария Константиновна Воскресенская-Преображенская"));
    EXPECT_EQ(s.Rows[0].Phone, "+7 (916) 123-45-67");
    EXPECT_EQ(s.Rows[0].Phones, (std::vector<std::string>{"+7 (495) 765-43-21", "+7 (916) 123-45-67"}));
    EXPECT_EQ(s.Rows[0].Groups, Us({"Семья", "Одноклассники, выпуск 1998"}));
    EXPECT_EQ(s.Rows[1].Name, U("Святослав Ёлкин"));
    EXPECT_TRUE(s.Rows[1].Refusal.empty()) << s.Rows[1].Refusal;
}

TEST(ContactFiles, ABrokenByteInAFoldedVCardNamesItsCardAndProperty)
{
    std::string file = Sample("mail-client-3.0.vcf");
    const size_t at = file.find("FN:\xD0\xA1"); // Святослав, the second card
    ASSERT_NE(at, std::string::npos);
    file[at + 4] = '\xE9'; // one byte of Latin-1 inside the UTF-8 name
    const std::string error = ErrorOf([&] { ParseContacts(file); });
    EXPECT_NE(error.find(U("Файл в кодировке UTF-8, но в строке 19")), std::string::npos) << error;
    EXPECT_NE(error.find(U("карточка 2, свойство FN")), std::string::npos) << error;
}

TEST(ContactFiles, EveryPhoneAndGroupOfEachCsvExport)
{
    struct TCase {
        const char* File;
        size_t Row;
        const char* Name;
        const char* Phone;
        std::vector<std::string> Phones;
        std::vector<std::string> Groups;
    };
    const TCase cases[] = {
        // Google: the mobile is the second pair; system groups left out.
        {"google.csv", 0, "Олег Смирнов", "+7 916 222-33-44", {"+7 495 111-22-33", "+7 916 222-33-44"}, Us({"Друзья"})},
        // A label with a comma stays one group.
        {"google.csv", 1, "Ирина Ким", "8 (812) 333-44-55", {"8 (812) 333-44-55"}, Us({"Работа, отдел"})},
        // Two mobiles in one cell (" ::: "), after home and work numbers.
        {"google.csv", 2, "Тамара Львовна", "+7 903 555-66-77",
         {"+7 495 999-88-77", "+7 495 999-88-70", "+7 903 555-66-77", "+7 903 555-66-78"}, {}},
        {"google-labels.csv", 0, "Пётр Иванов", "+7 (926) 100-20-30", {"+7 (495) 222-00-01", "+7 (926) 100-20-30"},
         Us({"Коллеги"})},
        {"google-labels.csv", 1, "Вера Павловна Соколова", "8 926 100-20-31", {"8 926 100-20-31"}, {}},
        // Outlook: the phones in the order of the columns, the mobile preferred; categories split at ";".
        {"outlook.csv", 0, "Сергей Орлов", "+7 (916) 100-00-02",
         {"+7 (495) 100-00-01", "+7 (495) 100-00-03", "+7 (916) 100-00-02"}, Us({"Семья", "Друзья"})},
        {"outlook.csv", 1, "Людмила Белова", "+7 (495) 200-00-04", {"+7 (495) 200-00-04"}, Us({"Друзья"})},
        {"outlook.csv", 2, "Геннадий Шаров", "8 921 300-00-05", {"8 921 300-00-05"}, {}},
        {"outlook-ru.csv", 0, "Никита Зайцев", "+7 (916) 400-00-02", {"+7 (495) 400-00-01", "+7 (916) 400-00-02"},
         Us({"Работа", "Футбол"})},
        {"outlook-ru.csv", 1, "Алла Борисовна Гусева", "8 (495) 400-00-03", {"8 (495) 400-00-03"}, Us({"Соседи"})},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " row " + std::to_string(c.Row));
        const TImportSource s = ParseContacts(Sample(c.File));
        ASSERT_EQ(s.Format, TImportFormat::Csv);
        ASSERT_GT(s.Rows.size(), c.Row);
        const TImportedContact& row = s.Rows[c.Row];
        EXPECT_EQ(row.Refusal, "");
        EXPECT_EQ(row.Name, U(c.Name));
        EXPECT_EQ(row.Phone, c.Phone);
        EXPECT_EQ(row.Phones, c.Phones);
        EXPECT_EQ(row.Groups, c.Groups);
    }
}

TEST(ContactFiles, EveryNumberOfARowCountsForDuplicates)
{
    TContactList book(true);
    auto* known = new TContact;
    known->SetName(U("Тома"));
    known->PhoneNumber = "89035556678"; // Tamara's second mobile
    book.Add(known);
    TSmsSenderList senders(true);
    TImportSource s = ParseContacts(Sample("google.csv"));
    // The same person again below with his home number only.
    TImportedContact again = s.Rows[0];
    again.Name = U("Олег С.");
    again.Phone = "+7 495 111-22-33";
    again.Phones = {again.Phone};
    s.Rows.push_back(again);
    const TImportPlan plan = PlanImport(s.Rows, book, senders, {});
    ASSERT_EQ(plan.Rows.size(), 4u);
    EXPECT_EQ(plan.Rows[2].Action, TImportAction::Skip);
    EXPECT_EQ(plan.Rows[2].Existing, known);
    EXPECT_EQ(plan.Rows[2].Reason, U("номер уже есть у абонента «Тома»"));
    EXPECT_EQ(plan.Rows[3].Action, TImportAction::Skip);
    // The preview's rows are counted, not the file's lines.
    EXPECT_EQ(plan.Rows[3].Reason, U("тот же номер уже выше в файле (строка 1)"));
}

TEST(ContactFiles, PreviewRowsAreTableRowsNotFileLines)
{
    const TImportSource s = ParseContacts(Sample("mail-client-3.0.vcf") + Sample("mail-client-3.0.vcf"));
    TContactList book(true);
    TSmsSenderList senders(true);
    const TImportPlan plan = PlanImport(s.Rows, book, senders, {});
    ASSERT_EQ(plan.Rows.size(), 4u);
    EXPECT_EQ(plan.Rows[3].Reason, U("тот же номер уже выше в файле (строка 2)"));
}

TEST(ContactFiles, ExportSplitsTheNameAndTheRoundTripKeepsItExactly)
{
    TGroupList groups(true);
    auto* all = new TSpecialGroup(true);
    all->SetName(U("(Все Абоненты)"));
    groups.Add(all);
    auto* work = new TGroup;
    work->SetName(U("Работа, отдел \"Б\""));
    groups.Add(work);
    const char* names[] = {"Иван Петров", "Анна Сергеевна Кузнецова", "Мама", "Ли\tЮн"};
    const char* phones[] = {"+7 (916) 123-45-67", "8 903 555 00 00", "+79990001122", "+7\t999 000-11-23"};
    for (int i = 0; i < 4; ++i) {
        auto* c = new TContact;
        c->SetName(U(names[i]));
        c->PhoneNumber = phones[i];
        all->Contacts.Add(c);
        work->Contacts.Add(c);
    }
    const std::vector<TExportedContact> out = ContactsForExport(groups, *all);
    const std::string vcard = VCardExport(out);
    for (const char* line : {"N:Петров;Иван;;;\r\n", "FN:Иван Петров\r\n", "N:Кузнецова;Анна Сергеевна;;;\r\n",
                             "N:;Мама;;;\r\n", "FN:Ли Юн\r\n", "TEL;TYPE=CELL:+7 999 000-11-23\r\n"})
        EXPECT_NE(vcard.find(line), std::string::npos) << line << "\n" << vcard;
    EXPECT_EQ(vcard.find('\t'), std::string::npos);
    const std::string csv = CsvExport(out);
    EXPECT_EQ(csv.find('\t'), std::string::npos);
    for (const std::string* file : {&vcard, &csv}) {
        const TImportSource back = ParseContacts(*file);
        ASSERT_EQ(back.Rows.size(), 4u) << *file;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(back.Rows[i].Name, out[i].Name) << *file;
            EXPECT_EQ(back.Rows[i].Phone, out[i].Phone) << *file;
            EXPECT_EQ(back.Rows[i].Groups, std::vector<std::string>{U("Работа, отдел \"Б\"")}) << *file;
        }
        EXPECT_EQ(back.Rows[3].Name, U("Ли Юн"));
        EXPECT_EQ(back.Rows[3].Phone, "+7 999 000-11-23");
    }
    // Pasted with tabs between the number and the name, as a spreadsheet copies.
    const TImportSource pasted = ParseContacts("+7\t916 123-45-67\tИван\n");
    ASSERT_EQ(pasted.Rows.size(), 1u);
    EXPECT_EQ(pasted.Rows[0].Phone, "+7 916 123-45-67");
    EXPECT_EQ(pasted.Rows[0].Name, U("Иван"));
}

TEST(ContactFiles, FieldsLongerThanTheEditorsTakeAreRefusedRows)
{
    const std::string longName(70, 'a');
    const std::string file = "Name,Phone,Groups\r\n"
                             "\"" + std::string(50 * 1024 * 1024, 'x') + "\",+7 916 000-00-01,\r\n" +
                             longName + ",+7 916 000-00-02,\r\n"
                             "Иван,+7 916 000-00-03 000 000 000,\r\n"
                             "Пётр,+7 (916) 000-00-04," + std::string(65, 'g') + "\r\n"
                             "Анна,+7 (916) 000-00-05,\r\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Rows.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_LE(s.Rows[i].Name.size(), 65u) << i; // nothing huge for the preview to show
    EXPECT_EQ(s.Rows[0].Refusal, U("Имя длиннее 64 знаков"));
    EXPECT_EQ(s.Rows[1].Refusal, U("Имя длиннее 64 знаков"));
    EXPECT_EQ(s.Rows[2].Refusal, U("номер длиннее 16 цифр"));
    EXPECT_EQ(s.Rows[3].Refusal, U("Группа длиннее 64 знаков"));
    EXPECT_EQ(s.Rows[4].Refusal, "");
    EXPECT_EQ(s.Rows[4].Phone, "+7 (916) 000-00-05");
    // The same in a vCard.
    const TImportSource v = ParseContacts("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + longName +
                                          "\r\nTEL:+7 916 000-00-06\r\nEND:VCARD\r\n");
    ASSERT_EQ(v.Rows.size(), 1u);
    EXPECT_EQ(v.Rows[0].Refusal, U("Имя длиннее 64 знаков"));
    EXPECT_LE(v.Rows[0].Name.size(), 65u);
}
