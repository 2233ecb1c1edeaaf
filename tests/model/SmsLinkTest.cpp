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
    EXPECT_EQ(NormalizedPhone("+8 916 123 45 67"), "+89161234567");
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
    EXPECT_EQ(link.Body, U("Привет+& %"));
    ASSERT_TRUE(ParseSmsLink("sms://89161234567", link));
    EXPECT_EQ(link.Phones, std::vector<std::string> {"89161234567"});
    EXPECT_EQ(link.Body, "");
    EXPECT_TRUE(ParseSmsLink("sms:1234?body=100%", link)); // a stray "%" stays
    EXPECT_EQ(link.Body, "100%");
    EXPECT_FALSE(ParseSmsLink("sms:?body=x", link));
    EXPECT_FALSE(ParseSmsLink("tel:+79161234567", link));
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
