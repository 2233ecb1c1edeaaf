// Phone numbers written several ways, "sms:" links as browsers and contacts
// programs hand them over, and the history read back for the command line.
#include "model/SmsHistoryFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsLink.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(PhoneNumbers, BlanksDashesBracketsAndTheRussianEightCompareEqual)
{
    EXPECT_EQ(NormalizedPhone("8 (916) 123-45-67"), "+79161234567");
    EXPECT_EQ(NormalizedPhone("+7 916 123.45.67"), "+79161234567");
    EXPECT_EQ(NormalizedPhone("89161234567"), "+79161234567");
    // Only an 11-digit number: a short or foreign one keeps its leading 8.
    EXPECT_EQ(NormalizedPhone("8 800"), "8800");
    EXPECT_EQ(NormalizedPhone("+8 916 123 45 67"), "89161234567");
    EXPECT_TRUE(LooksLikePhone("+7 (916) 123-45-67"));
    EXPECT_FALSE(LooksLikePhone("Иван 2"));
    EXPECT_FALSE(LooksLikePhone("12"));
}

TEST(SmsLinks, SeveralNumbersAndAPercentEncodedCyrillicBody)
{
    TSmsLink link;
    ASSERT_TRUE(ParseSmsLink("SMS:+79161234567,%2B7%20903%20555-00-00;phone-context=x?subject=a&body=%D0%9F%D1%80%D0%B8"
                             "%D0%B2%D0%B5%D1%82+%26%20%25",
                             link));
    EXPECT_EQ(link.Phones, (std::vector<std::string> {"+79161234567", "+7 903 555-00-00"}));
    EXPECT_EQ(link.Body, "Привет+& %"); // UTF-8, as the link carries it
    ASSERT_TRUE(ParseSmsLink("sms://89161234567", link));
    EXPECT_EQ(link.Phones, std::vector<std::string> {"89161234567"});
    EXPECT_EQ(link.Body, "");
    EXPECT_TRUE(ParseSmsLink("sms:1234?body=100%", link)); // a stray "%" stays
    EXPECT_EQ(link.Body, "100%");
    EXPECT_TRUE(ParseSmsLink("sms:?body=x", link)); // a body alone fills the composer
    EXPECT_FALSE(ParseSmsLink("tel:+79161234567", link));
}

// One rule says which numbers are the same: a ten-digit number and those ten
// digits after "+7", "7" or "8" are one; any other number compares by its digits.
TEST(PhoneNumbers, TheSameNumberRule)
{
    const struct {
        const char* A;
        const char* B;
        bool Same;
    } cases[] = {
        {"+79161234501", "9161234501", true},
        {"+7 (916) 123-45-01", "8 916 123 45 01", true},
        {"7 916 123-45-01", "(916) 123-45-01", true},
        {"8.916.123.45.01", "+7 916 1234501", true},
        {"+44 20 7946 0000", "44 (20) 7946-0000", true}, // a foreign number: its digits
        {"112", " 1-1-2 ", true},
        {"+8 916 123 45 01", "8 916 123 45 01", false}, // "+8" is not the Russian trunk prefix
        {"9161234501", "9161234502", false},
        {"8916123456", "+7916123456", false}, // ten digits after "8" only when eleven in all
        {"+74951234567", "84951234567", true},
        {"hello", "911", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SamePhone(c.A, c.B), c.Same) << c.A << " / " << c.B;
}

// What a gateway gets: the formatting out, digits and a leading "+" as typed.
TEST(PhoneNumbers, TheGatewayGetsTheDigitsAndTheLeadingPlus)
{
    const std::pair<std::string, std::string> cases[] = {
        {"8 (903) 555-00-01", "89035550001"},
        {"+7 916 123-45-02", "+79161234502"},
        {"+7.916.123.45.02", "+79161234502"},
        {"+7\xA0" "916\x96" "1234502", "+79161234502"}, // CP1251 no-break space and en dash
        {"9161234502", "9161234502"},
        {"112", "112"},
    };
    for (const auto& [stored, sent] : cases)
        EXPECT_EQ(GatePhone(stored), sent) << stored;
}

// The forms phones and web pages write, and links that name no number.
TEST(SmsLinks, TheFormsPhonesWriteAndLinksWithoutANumber)
{
    const struct {
        const char* Link;
        bool Usable;
        std::vector<std::string> Phones;
        const char* Body;  // UTF-8
        const char* Error; // a piece of the refusal
    } cases[] = {
        {"sms:+79161234567&body=%D0%9F%D1%80%D0%B8", true, {"+79161234567"}, "При", ""},
        {"sms:+79161234567;?body=%D0%9F", true, {"+79161234567"}, "П", ""},
        {"sms:?body=%D0%A2%D0%B5%D0%BA%D1%81%D1%82", true, {}, "Текст", ""},
        {"sms:8%20(903)%20555-00-01", true, {"8 (903) 555-00-01"}, "", ""},
        {"sms:112?body=%CF%F0%E8%E2%E5%F2", true, {"112"}, "Привет", ""}, // a CP1251 page's link
        {"sms:112?body=%F0%9F%98%80", true, {"112"}, "😀", ""},
        {"sms:hello?body=x", false, {}, "", "«hello» - не номер телефона"},
        {"sms:%2C,112", false, {}, "", "«,» - не номер телефона"},
        {"sms:+7916abc", false, {}, "", "«+7916abc»"},
        {"sms:", false, {}, "", "нет ни номера телефона, ни текста"},
        {"sms:12?body=", false, {}, "", "«12»"}, // two digits are no number
    };
    for (const auto& c : cases) {
        TSmsLink link;
        EXPECT_EQ(ParseSmsLink(c.Link, link), c.Usable) << c.Link;
        EXPECT_EQ(link.Phones, c.Phones) << c.Link;
        EXPECT_EQ(link.Body, c.Body) << c.Link;
        EXPECT_NE(Cp1251ToUtf8(link.Error).find(c.Error), std::string::npos) << c.Link << ": " << Cp1251ToUtf8(link.Error);
        EXPECT_EQ(link.Error.empty(), c.Usable) << c.Link;
    }
}

TEST(HistoryRecords, ReadBackWithStatusTextAndDates)
{
    const std::string top(80, '='), rule(80, '-');
    const std::vector<std::string> lines {
        "junk", top, U("Для: Анна (+7900)"), U("Дата: 01.12.2026 10:00:00"), U("Статус: Сообщение отправлено."),
        rule, U("Привет"), "", top, U("Для: Борис (+7901)"), U("Дата: 02.12.2026 11:30:05"),
        U("Ошибка: 403 Forbidden"), rule, U("Два"), U("ряда")};
    TSmsHistoryIndex index;
    index.AddLines(lines, 0, lines.size());
    index.Finish();
    const std::vector<TSmsHistoryRecord>& r = index.Records();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Name + " (" + r[0].Phone + ")", U("Анна (+7900)"));
    EXPECT_FALSE(r[0].Failed());
    EXPECT_EQ(r[0].OneLineText(), U("Привет")); // the empty last line adds nothing
    EXPECT_EQ(r[0].WordedStatusLine(), U("Статус: Сообщение отправлено."));
    EXPECT_TRUE(r[1].Failed());
    EXPECT_EQ(r[1].OneLineText(), U("Два ряда"));
    EXPECT_EQ(r[1].WordedStatusLine(), U("Ошибка: 403 Forbidden"));
    EXPECT_LT(HistoryDateKey(r[0].Date), HistoryDateKey("02.12.2026"));
    EXPECT_GT(HistoryDateKey(r[1].Date), HistoryDateKey("02.12.2026 11:30"));
    EXPECT_EQ(HistoryDateKey("2.12"), -1);
    EXPECT_EQ(HistoryDateKey("02.12.2026 11"), -1);
    EXPECT_EQ(HistoryDateKey("02.13.2026"), -1);
}
