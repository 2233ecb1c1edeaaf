#include "model/ContactExport.h"
#include "model/ContactImport.h"
#include "model/SmsLink.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

const TImportedContact& Row(const TImportSource& s, size_t i)
{
    EXPECT_LT(i, s.Rows.size());
    return s.Rows.at(i);
}

// A book of owned contacts for the plan.
struct TBook {
    TContactList Contacts{true};
    TSmsSenderList Senders{true};
    TContact* Add(const std::string& name, const std::string& phone)
    {
        auto* c = new TContact;
        c->SetName(U(name));
        c->PhoneNumber = phone;
        Contacts.Add(c);
        return c;
    }
};

} // namespace

// --- vCard -------------------------------------------------------------------------------------
TEST(ContactImportVCard, Version21QuotedPrintableWithCharsetsAndSoftBreaks)
{
    // As older phones export: QUOTED-PRINTABLE Cyrillic in UTF-8 and in
    // windows-1251, a soft line break, bare CELL and HOME types.
    const std::string file =
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=9F=D0=B5=D1=82=D1=80=D0=BE=D0=B2;=D0=98=D0=B2=D0=B0=D0=BD;;;\r\n"
        "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=D0=98=D0=B2=D0=B0=D0=BD =D0=9F=D0=B5=D1=82=\r\n"
        "=D1=80=D0=BE=D0=B2\r\n"
        "TEL;HOME:+7 495 111-22-33\r\n"
        "TEL;CELL;PREF:8 (916) 123-45-67\r\n"
        "END:VCARD\r\n"
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "FN;CHARSET=windows-1251;ENCODING=QUOTED-PRINTABLE:=CC=E0=F0=E8=FF\r\n"
        "TEL;CELL:+79031112233\r\n"
        "END:VCARD\r\n";
    const TImportSource s = ParseContacts(file);
    EXPECT_EQ(s.Format, TImportFormat::VCard);
    ASSERT_EQ(s.Rows.size(), 2u);
    EXPECT_EQ(Row(s, 0).Name, U("Иван Петров"));
    EXPECT_EQ(Row(s, 0).Phone, "8 (916) 123-45-67"); // the mobile one, though not first
    EXPECT_EQ(Row(s, 0).Phones.size(), 2u);
    EXPECT_EQ(Row(s, 0).Line, 1);
    EXPECT_EQ(Row(s, 1).Name, U("Мария"));
    EXPECT_EQ(Row(s, 1).Line, 9); // the soft break took a line
    EXPECT_TRUE(Row(s, 1).Refusal.empty());
}

TEST(ContactImportVCard, Version30FoldedLinesSeveralTelAndCategories)
{
    // LF line ends, a name folded over two lines, N only in the second card.
    const std::string file =
        "BEGIN:VCARD\n"
        "VERSION:3.0\n"
        "FN:Анна Серг\n"
        " еевна Кузнецова\n"
        "TEL;TYPE=WORK,VOICE:+7 (495) 000-00-01\n"
        "TEL;TYPE=CELL:+7 916 555-44-33\n"
        "TEL;TYPE=CELL:+7 916 555-44-34\n"
        "CATEGORIES:Коллеги,Друзья\\, близкие\n"
        "END:VCARD\n"
        "BEGIN:VCARD\n"
        "VERSION:3.0\n"
        "N:Сидоров;Пётр;;;\n"
        "item1.TEL;type=pref:89035550000\n"
        "END:VCARD\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Rows.size(), 2u);
    EXPECT_EQ(Row(s, 0).Name, U("Анна Сергеевна Кузнецова"));
    EXPECT_EQ(Row(s, 0).Phone, "+7 916 555-44-33");
    EXPECT_EQ(Row(s, 0).Phones.size(), 3u);
    EXPECT_EQ(Row(s, 0).Groups, (std::vector<std::string>{U("Коллеги"), U("Друзья, близкие")}));
    EXPECT_EQ(Row(s, 1).Name, U("Пётр Сидоров"));
    EXPECT_EQ(Row(s, 1).Phone, "89035550000");
}

TEST(ContactImportVCard, Version40TelUriAndUnmappableName)
{
    const std::string file =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Олег\r\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+7-916-000-11-22;ext=5\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Smile \xF0\x9F\x98\x80\r\nTEL:tel:+79160001123\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Без номера\r\nEMAIL:a@b.ru\r\nEND:VCARD\r\n"
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Офис\r\nTEL;TYPE=work:спросить у секретаря\r\nEND:VCARD\r\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Rows.size(), 4u);
    EXPECT_EQ(Row(s, 0).Phone, "+7-916-000-11-22");
    EXPECT_TRUE(Row(s, 0).Refusal.empty());
    // A character CP1251 lacks refuses the row and names the character.
    EXPECT_NE(Row(s, 1).Refusal.find("U+1F600"), std::string::npos) << Row(s, 1).Refusal;
    EXPECT_EQ(Row(s, 2).Refusal, U("в карточке нет номера телефона"));
    EXPECT_EQ(Row(s, 3).Refusal, U("«спросить у секретаря» — не номер телефона"));
}

// --- CSV ---------------------------------------------------------------------------------------
TEST(ContactImportCsv, BomQuotedLineBreaksAndMailClientHeaders)
{
    // A mail client's export: comma-separated, UTF-8 with BOM, first + last
    // name columns, a note with a line break and doubled quotes.
    const std::string file = "\xEF\xBB\xBF"
                             "First Name,Last Name,Notes,Mobile Phone,Home Phone\r\n"
                             "Иван,Петров,\"две\r\nстроки, \"\"кавычки\"\"\",+7 916 123-45-67,\r\n"
                             "Анна,,,,8 495 000 11 22\r\n"
                             ",,,,\r\n"
                             "Олег,Котов,,,\r\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Format, TImportFormat::Csv);
    EXPECT_EQ(s.Csv.Headers.size(), 5u);
    EXPECT_EQ(s.Csv.NameColumn, 0);
    EXPECT_EQ(s.Csv.LastNameColumn, 1);
    EXPECT_EQ(s.Csv.PhoneColumn, CsvMobileElseFirst);
    ASSERT_EQ(s.Rows.size(), 3u); // the blank row is no contact
    EXPECT_EQ(Row(s, 0).Name, U("Иван Петров"));
    EXPECT_EQ(Row(s, 0).Phone, "+7 916 123-45-67");
    EXPECT_EQ(s.Csv.Cells[0][2], "две\nстроки, \"кавычки\"");
    EXPECT_EQ(Row(s, 2).Line, 6); // the quoted break and the blank row count as lines
    // The mobile column is empty for Anna: her home number is taken; choosing the mobile column alone refuses her.
    EXPECT_EQ(Row(s, 1).Phone, "8 495 000 11 22");
    EXPECT_TRUE(Row(s, 1).Refusal.empty());
    TImportSource chosen = s;
    chosen.Csv.PhoneColumn = 3;
    MakeCsvRows(chosen);
    EXPECT_FALSE(Row(chosen, 1).Refusal.empty());
}

TEST(ContactImportCsv, SemicolonCp1251WithRussianHeadersAndGroups)
{
    const std::string file = U("Фамилия;Имя;Мобильный телефон;Группы\r\n"
                               "Петров;Иван;+79161234567;Коллеги, Друзья\r\n"
                               "Сидорова;Ольга;8-903-555-00-00;\r\n");
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Format, TImportFormat::Csv);
    ASSERT_EQ(s.Rows.size(), 2u);
    EXPECT_EQ(Row(s, 0).Name, U("Иван Петров"));
    EXPECT_EQ(Row(s, 0).Groups, (std::vector<std::string>{U("Коллеги"), U("Друзья")}));
    EXPECT_EQ(Row(s, 1).Phone, "8-903-555-00-00");
}

TEST(ContactImportCsv, Utf16WithByteOrderMarkReadsLikeUtf8)
{
    // Some spreadsheet programs save "Unicode text": UTF-16 LE with a mark, tabs between cells.
    const std::u16string text = u"\uFEFFИмя\tТелефон\r\nЖанна\t+7 916 111-22-33\r\n";
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    const TImportSource s = ParseContacts(bytes);
    ASSERT_EQ(s.Rows.size(), 1u);
    EXPECT_EQ(Row(s, 0).Name, U("Жанна"));
    EXPECT_EQ(Row(s, 0).Phone, "+7 916 111-22-33");
}

TEST(ContactImportCsv, TabSeparatedGoogleShape)
{
    const std::string file = "Name\tGiven Name\tGroup Membership\tPhone 1 - Type\tPhone 1 - Value\n"
                             "Вера Львова\tВера\t* myContacts ::: Семья\tMobile\t+7 999 000-00-01\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Rows.size(), 1u);
    EXPECT_EQ(Row(s, 0).Name, U("Вера Львова"));
    EXPECT_EQ(Row(s, 0).Phone, "+7 999 000-00-01");
    EXPECT_EQ(Row(s, 0).Groups, std::vector<std::string>{U("Семья")});
}

// --- plain lists --------------------------------------------------------------------------------
TEST(ContactImportList, OnePerLineOrSeparatedWithOptionalName)
{
    const std::string file = "+7 916 123-45-67 Иван Петров\n"
                             "89035550000; 8 (903) 555-00-01, +79035550002 Оля\r\n"
                             "\n"
                             "позвонить завтра\n";
    const TImportSource s = ParseContacts(file);
    ASSERT_EQ(s.Format, TImportFormat::PlainList);
    ASSERT_EQ(s.Rows.size(), 5u);
    EXPECT_EQ(Row(s, 0).Phone, "+7 916 123-45-67");
    EXPECT_EQ(Row(s, 0).Name, U("Иван Петров"));
    EXPECT_EQ(Row(s, 1).Phone, "89035550000");
    EXPECT_EQ(Row(s, 1).Name, "");
    EXPECT_EQ(Row(s, 2).Phone, "8 (903) 555-00-01");
    EXPECT_EQ(Row(s, 3).Name, U("Оля"));
    EXPECT_EQ(Row(s, 4).Line, 4);
    EXPECT_FALSE(Row(s, 4).Refusal.empty());
}

// --- bad files -----------------------------------------------------------------------------------
TEST(ContactImportBadFiles, RefusedWithAClearMessage)
{
    EXPECT_NE(ErrorOf([] { ParseContacts(std::string("BEGIN:VCARD\0\x01\x02", 14)); }).find(U("нулевые байты")),
              std::string::npos);
    const std::string truncated = "BEGIN:VCARD\nVERSION:3.0\nFN:A\nTEL:1234567\nEND:VCARD\n"
                                  "BEGIN:VCARD\nVERSION:3.0\nFN:B\nTEL:1234";
    EXPECT_EQ(ErrorOf([&] { ParseContacts(truncated); }),
              U("Файл оборван: карточка vCard, начатая в строке 6, не закончена (нет строки END:VCARD)."));
    EXPECT_EQ(ErrorOf([] { ParseContacts("BEGIN:VCARD\nVERSION:3.0\nFN:A\nEMAIL:a@b.ru\nEND:VCARD\n"); }),
              U("В файле не найдено ни одного номера телефона."));
    // Neither UTF-8 nor CP1251: control bytes amid broken UTF-8.
    EXPECT_NE(ErrorOf([] { ParseContacts("+79161234567 \x81\x02\xC3"); }).find(U("кодировке")), std::string::npos);
    // UTF-8 with one byte of another encoding: refused, not read as CP1251 garble.
    const std::string mixed = "BEGIN:VCARD\nVERSION:3.0\nFN:Анна Кузнецова\nTEL:+79161234567\nEND:VCARD\n"
                              "BEGIN:VCARD\nVERSION:3.0\nFN:Ren\xE9 Dupont\nTEL:+79161234568\nEND:VCARD\n";
    EXPECT_NE(ErrorOf([&] { ParseContacts(mixed); }).find(U("Файл в кодировке UTF-8, но в строке 8 есть байты")),
              std::string::npos)
        << ErrorOf([&] { ParseContacts(mixed); });
    // Too big: refused from its size alone, before reading.
    TTempDir dir;
    dir.write("big.vcf", std::string(2048, 'x'));
    const std::string big = ErrorOf([&] { ReadContactFile(dir.file("big.vcf"), {}, 1024); });
    EXPECT_NE(big.find(U("слишком велик")), std::string::npos) << big;
    EXPECT_NE(big.find("2048"), std::string::npos) << big;
}

TEST(ContactImportBadFiles, CancelStopsTheReading)
{
    std::string file;
    for (int i = 0; i < 3000; ++i)
        file += "BEGIN:VCARD\nVERSION:3.0\nFN:A" + std::to_string(i) + "\nTEL:+7916" + std::to_string(1000000 + i) +
                "\nEND:VCARD\n";
    std::atomic<bool> cancel{false};
    int reports = 0;
    TImportProgress progress;
    progress.Cancel = &cancel;
    progress.Report = [&](int) {
        if (++reports == 2)
            cancel = true;
    };
    EXPECT_THROW(ParseContacts(file, progress), TImportCancelled);
}

// --- phones and the plan -------------------------------------------------------------------------
TEST(ContactImportPlan, PhonesWrittenAnyWayAreOneNumber)
{
    EXPECT_EQ(NormalizedPhone("+7 (916) 123-45-67"), NormalizedPhone("8 916 123.45.67"));
    EXPECT_EQ(NormalizedPhone("89161234567"), "+79161234567");
    EXPECT_NE(NormalizedPhone("8916123456"), NormalizedPhone("+7916123456")); // not 11 digits
}

TEST(ContactImportPlan, DuplicatesInFileAndBookAreSkippedWithReason)
{
    TBook book;
    book.Add("Иван", "+7 916 123-45-67");
    const TImportSource s = ParseContacts("8 (916) 123-45-67 Ваня\n+7 903 000-00-01 Оля\n8 903 000 00 01 Ольга\n");
    const TImportPlan plan = PlanImport(s.Rows, book.Contacts, book.Senders, {});
    ASSERT_EQ(plan.Rows.size(), 3u);
    EXPECT_EQ(plan.Rows[0].Action, TImportAction::Skip);
    EXPECT_EQ(plan.Rows[0].Reason, U("номер уже есть у абонента «Иван»"));
    EXPECT_EQ(plan.Rows[1].Action, TImportAction::Add);
    EXPECT_EQ(plan.Rows[2].Action, TImportAction::Skip);
    EXPECT_EQ(plan.Rows[2].Reason, U("тот же номер уже выше в файле (строка 2)"));
    EXPECT_EQ(plan.Added, 1);
    EXPECT_EQ(plan.Skipped, 2);
    EXPECT_TRUE(plan.NeedsSender); // no operator chosen yet
    EXPECT_EQ(plan.CountsText(), U("Новых: 1, обновится: 0, пропущено: 2, отклонено: 0"));
}

TEST(ContactImportPlan, TheThreePoliciesForAnExistingName)
{
    TBook book;
    TContact* ivan = book.Add("Иван", "+79160000001");
    book.Add("Иван (2)", "+79160000002");
    auto* sender = new TSmsSenderPlaceholder(U("МТС"));
    book.Senders.Add(sender);
    const TImportSource s = ParseContacts("+79160000009 Иван\n+79160000008 иван\n+79160000001 Пётр\n");
    TImportOptions options;
    options.Sender = sender;

    options.Policy = TNamePolicy::Skip;
    TImportPlan plan = PlanImport(s.Rows, book.Contacts, book.Senders, options);
    EXPECT_EQ(plan.Skipped, 3); // the last row: Ivan's number
    // Ivan has another number: a paste of this one must not make him its recipient.
    EXPECT_EQ(plan.Rows[0].Existing, nullptr);

    options.Policy = TNamePolicy::UpdatePhone;
    plan = PlanImport(s.Rows, book.Contacts, book.Senders, options);
    EXPECT_EQ(plan.Rows[0].Action, TImportAction::Update);
    EXPECT_EQ(plan.Rows[0].Existing, ivan);
    // The same contact is not updated twice from one file.
    EXPECT_EQ(plan.Rows[1].Action, TImportAction::Skip);
    EXPECT_EQ(plan.Updated, 1);
    // Ivan's old number is free once he takes the new one.
    EXPECT_EQ(plan.Rows[2].Action, TImportAction::Add) << plan.Rows[2].Reason;

    options.Policy = TNamePolicy::AddNumbered;
    plan = PlanImport(s.Rows, book.Contacts, book.Senders, options);
    EXPECT_EQ(plan.Rows[0].Name, U("Иван (3)"));
    EXPECT_EQ(plan.Rows[1].Name, U("иван (4)"));
    EXPECT_EQ(plan.Added, 2);
    EXPECT_FALSE(plan.NeedsSender);
    EXPECT_EQ(plan.Rows[0].Sender, sender);
}

// --- export and the round trip -------------------------------------------------------------------
TEST(ContactExport, RoundTripThroughVCardAndCsvGivesTheSameBook)
{
    TGroupList groups(true);
    auto* all = new TSpecialGroup(true);
    all->SetName(U("(Все Абоненты)"));
    groups.Add(all);
    auto* work = new TGroup;
    work->SetName(U("Коллеги; отдел 2"));
    groups.Add(work);
    auto* family = new TGroup;
    family->SetName(U("Семья"));
    groups.Add(family);
    TSmsSenderList senders(true);
    auto* mts = new TSmsSenderPlaceholder(U("МТС"));
    senders.Add(mts);
    const char* names[] = {"Иван Петров", "Анна \"Аня\" Ли; старшая", "Длинное имя, что не влезает в строку карточки"};
    const char* phones[] = {"+7 (916) 123-45-67", "8 903 555 00 00", "+79990001122"};
    for (int i = 0; i < 3; ++i) {
        auto* c = new TContact;
        c->SetName(U(names[i]));
        c->PhoneNumber = phones[i];
        c->SmsSender = mts;
        all->Contacts.Add(c);
    }
    work->Contacts.Add(all->Contacts[0]);
    work->Contacts.Add(all->Contacts[2]);
    family->Contacts.Add(all->Contacts[2]);

    const std::vector<TExportedContact> out = ContactsForExport(groups, *all);
    const std::string vcard = VCardExport(out);
    for (size_t at = 0, nl; (nl = vcard.find("\r\n", at)) != std::string::npos; at = nl + 2)
        EXPECT_LE(nl - at, 75u) << vcard.substr(at, nl - at);
    const std::string csv = CsvExport(out);
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(csv.substr(3, csv.find("\r\n") - 3), "Имя;Телефон;Оператор;Группы");

    for (const std::string* each : {&vcard, &csv}) {
        const std::string& file = *each;
        const TImportSource back = ParseContacts(file);
        TContactList empty(true);
        const TImportPlan plan = PlanImport(back.Rows, empty, senders, {});
        ASSERT_EQ(plan.Added, 3) << file;
        EXPECT_EQ(plan.NeedsSender, &file == &vcard) << "only the CSV names the operator";
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(plan.Rows[i].Name, out[i].Name);
            EXPECT_EQ(back.Rows[i].Phone, out[i].Phone);
            EXPECT_EQ(back.Rows[i].Groups, out[i].Groups) << file;
        }
    }
    // The export of one group holds its members only.
    EXPECT_EQ(ContactsForExport(groups, *family).size(), 1u);
}
