// The e-mail gate's message: header order and forms byte for byte, Q encoded
// words and where they are cut, folding, the Date form, addresses, body lines.
#include "engine/MailAddress.h"
#include "engine/MailMessage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

std::string Unfold(const Lines& pieces)
{
    std::string s;
    for (const auto& p : pieces)
        s += p;
    return s;
}

} // namespace

TEST(MailMessageTest, WholeMessageByteForByte)
{
    TMailMessage m;
    m.From = "Velotext <sender@test.ru>";
    m.To = "9001234567@sms.test";
    m.Subject = "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2"; // "Привет, мир" in KOI8-R
    m.MimeCharset = "KOI8-R";
    m.Body = "Line one\r\n.\rend\n";
    std::string text = JoinMailLines(ComposeMailLines(m, MakeDateTime(2026, 12, 6, 22, 49, 42, 180)));
    EXPECT_EQ(text,
              "From: \"Velotext\"<sender@test.ru>\r\n"
              "To: 9001234567@sms.test\r\n"
              "Subject: =?KOI8-R?Q?=F0=D2=C9=D7=C5=D4=2C_=CD=C9=D2?=\r\n"
              "Date: Sun, 6 Dec 2026 22:49:42 +0300\r\n"
              "MIME-Version: 1.0\r\n"
              "X-mailer: Velotext\r\n"
              "Reply-To: sender@test.ru\r\n"
              "Content-type: text/plain; charset=KOI8-R\r\n"
              "Content-Description: Message text\r\n"
              "Content-Disposition: inline\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "\r\n"
              "Line one\r\n"
              ".\r\n"
              "end\r\n");
}

TEST(MailMessageTest, EmptySubjectLeavesTheLineOutAndEmptyBodyEndsAtTheBlankLine)
{
    TMailMessage m;
    m.From = "a@b.ru";
    m.To = "c@d.ru";
    m.MimeCharset = "WINDOWS-1251";
    Lines lines = ComposeMailLines(m, MakeDateTime(2026, 1, 1, 0, 0, 0));
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "From: a@b.ru");
    EXPECT_EQ(lines[1], "To: c@d.ru");
    EXPECT_EQ(lines[2], "Date: Thu, 1 Jan 2026 00:00:00 +0000");
    EXPECT_EQ(lines[5], "Reply-To: a@b.ru");
    EXPECT_EQ(lines[6], "Content-type: text/plain; charset=WINDOWS-1251");
    EXPECT_EQ(lines.back(), "");
}

TEST(MailMessageTest, DisplayNamesGoThroughTheConverterAddressesDoNot)
{
    TMailMessage m;
    m.From = U("\"Вася\" <vasya+sms@test.ru>");
    m.To = "123@sms.test";
    m.MimeCharset = "UTF-8";
    m.ConvertName = [](std::string_view name) { return Cp1251ToUtf8(name); };
    Lines lines = ComposeMailLines(m, MakeDateTime(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(lines[0], "From: \"=?UTF-8?Q?=D0=92=D0=B0=D1=81=D1=8F?=\"<vasya+sms@test.ru>");
    EXPECT_EQ(lines[5], "Reply-To: vasya+sms@test.ru");
}

TEST(EncodedWordsTest, OnlyTextThatNeedsItIsEncoded)
{
    EXPECT_EQ(EncodeHeaderText("Hello world. It's 5 - 3 + 1 & more!", "KOI8-R"), "Hello world. It's 5 - 3 + 1 & more!");
    EXPECT_EQ(EncodeHeaderText("snake_case ~ok", "UTF-8"), "snake_case ~ok");
    EXPECT_EQ(EncodeHeaderText("", "UTF-8"), "");
    for (std::string trigger : {"\"", "(", ")", ",", "/", ":", ";", "<", "=", ">", "?", "@", "[", "\\", "]", "\x7f",
                                "\x80", "\xff", "\t", "\x01"})
        EXPECT_TRUE(NeedsEncodedWords("a" + trigger + "b")) << int(static_cast<unsigned char>(trigger[0]));
    for (std::string plain : {".", "!", "'", "_", "-", "+", "*", "&", "#", "~", "{", "}", "|", " "})
        EXPECT_FALSE(NeedsEncodedWords("a" + plain + "b")) << plain;
}

TEST(EncodedWordsTest, SpecialsUnderscoreAndHighBytesBecomeHexSpacesUnderscores)
{
    EXPECT_EQ(EncodeHeaderText("a=b c_d", "UTF-8"), "=?UTF-8?Q?a=3Db_c=5Fd?=");
    EXPECT_EQ(EncodeHeaderText("(x) \"y\" [z]\t@\\/", "X"), "=?X?Q?=28x=29_=22y=22_=5Bz=5D=09=40=5C=2F?=");
    EXPECT_EQ(EncodeHeaderText("\xCF\xF0\xE8\xE2\xE5\xF2", "WINDOWS-1251"), "=?WINDOWS-1251?Q?=CF=F0=E8=E2=E5=F2?=");
    EXPECT_EQ(EncodeHeaderText("Why?", "UNICODE-1-1-UTF-7"), "=?UNICODE-1-1-UTF-7?Q?Why=3F?=");
}

TEST(EncodedWordsTest, WordsAreCutAfterTheSpaceThatMakesThemLongerThan32)
{
    EXPECT_EQ(EncodeHeaderText("Hello, this is a rather long subject line for testing", "UTF-8"),
              "=?UTF-8?Q?Hello=2C_this_is_a_rather_long_subject_?= =?UTF-8?Q?line_for_testing?=");
    // Exactly 32 characters after the space: not cut yet.
    std::string at32 = "=" + std::string(27, 'a') + " b"; // "=3D" + 27 + "_" = 31, then "b"
    EXPECT_EQ(EncodeHeaderText(at32, "X"), "=?X?Q?=3D" + std::string(27, 'a') + "_b?=");
    std::string at33 = "=" + std::string(29, 'a') + " b"; // 3 + 29 + 1 = 33 > 32
    EXPECT_EQ(EncodeHeaderText(at33, "X"), "=?X?Q?=3D" + std::string(29, 'a') + "_?= =?X?Q?b?=");
    // A long run without spaces stays one word; a cut at the very end leaves no empty word.
    std::string run(40, '\xE0');
    std::string encodedRun;
    for (int i = 0; i < 40; ++i)
        encodedRun += "=E0";
    EXPECT_EQ(EncodeHeaderText(run + " ", "X"), "=?X?Q?" + encodedRun + "_?=");
    // Several cuts.
    std::string cyr = "\xF0\xD2\xC9\xD7\xC5\xD4 \xF0\xD2\xC9\xD7\xC5\xD4 \xF0\xD2\xC9\xD7\xC5\xD4"; // 3 words
    EXPECT_EQ(EncodeHeaderText(cyr, "KOI8-R"),
              "=?KOI8-R?Q?=F0=D2=C9=D7=C5=D4_=F0=D2=C9=D7=C5=D4_?= =?KOI8-R?Q?=F0=D2=C9=D7=C5=D4?=");
}

TEST(MailAddressTest, AddressFormsAndBareAddresses)
{
    EXPECT_EQ(MailAddressForm("a@b.ru", "X"), "a@b.ru");
    EXPECT_EQ(MailAddressForm("a@b.ru, c@d.ru", "X"), "a@b.ru, c@d.ru");
    EXPECT_EQ(MailAddressForm("Ivan <a@b.ru>", "X"), "\"Ivan\"<a@b.ru>");
    EXPECT_EQ(MailAddressForm("\"Ivan Petrov\" <a@b.ru>", "X"), "\"Ivan Petrov\"<a@b.ru>");
    EXPECT_EQ(MailAddressForm("<a@b.ru>", "X"), "a@b.ru");
    EXPECT_EQ(MailAddressForm("\"Petrov, Ivan\" <a@b.ru>, c@d.ru", "X"), "\"=?X?Q?Petrov=2C_Ivan?=\"<a@b.ru>, c@d.ru");
    EXPECT_EQ(MailAddressForm(U("Иван <a@b.ru>"), "WINDOWS-1251"), "\"=?WINDOWS-1251?Q?=C8=E2=E0=ED?=\"<a@b.ru>");

    EXPECT_EQ(BareMailAddress("  a@b.ru "), "a@b.ru");
    EXPECT_EQ(BareMailAddress("Ivan <a@b.ru>"), "a@b.ru");
    EXPECT_EQ(BareMailAddress("\"Ivan\" < a@b.ru >"), "a@b.ru");
    EXPECT_EQ(BareMailAddress("\"a<b\" <c@d.ru>"), "c@d.ru");
    EXPECT_EQ(BareMailAddress("\"Ivan\" a@b.ru"), "a@b.ru");
    EXPECT_EQ(MailDisplayName("a@b.ru"), "");
    EXPECT_EQ(MailDisplayName(" Ivan  <a@b.ru>"), "Ivan");
    EXPECT_EQ(MailDisplayName("\" Ivan \" <a@b.ru>"), "Ivan");

    EXPECT_EQ(SplitMailAddressList("a@x, \"B, b\" <b@x>,, ,c@x ,"), (Lines {"a@x", "\"B, b\" <b@x>", "c@x"}));
    EXPECT_EQ(SplitMailAddressList(""), Lines {});
    EXPECT_TRUE(HasLineBreakOrNul("a\rb"));
    EXPECT_TRUE(HasLineBreakOrNul("a\nb"));
    EXPECT_TRUE(HasLineBreakOrNul(std::string("a\0b", 3)));
    EXPECT_FALSE(HasLineBreakOrNul("a\tb c"));
}

TEST(MailDateTest, Rfc5322FormWithTheLocalOffset)
{
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2026, 12, 6, 22, 49, 42, 180)), "Sun, 6 Dec 2026 22:49:42 +0300");
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2026, 3, 15, 7, 5, 9, -330)), "Sun, 15 Mar 2026 07:05:09 -0530");
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2026, 7, 1, 0, 0, 0, 0)), "Wed, 1 Jul 2026 00:00:00 +0000");
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2024, 2, 29, 23, 59, 59, 345)), "Thu, 29 Feb 2024 23:59:59 +0545");
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2000, 1, 1, 12, 0, 0, -600)), "Sat, 1 Jan 2000 12:00:00 -1000");
    EXPECT_EQ(Rfc5322Date(MakeDateTime(2027, 11, 30, 1, 2, 3, 840)), "Tue, 30 Nov 2027 01:02:03 +1400");
}

TEST(HeaderFoldingTest, LinesOf78OrMoreAreFoldedAtBlanks)
{
    std::string line77 = "Subject: " + std::string(30, 'a') + " " + std::string(37, 'b');
    ASSERT_EQ(line77.size(), 77u);
    EXPECT_EQ(FoldHeaderLine(line77), Lines {line77});
    std::string line78 = line77 + "b";
    EXPECT_EQ(FoldHeaderLine(line78), (Lines {"Subject: " + std::string(30, 'a'), " " + std::string(38, 'b')}));

    // The last blank that keeps the line short wins; continuation lines start with the blank.
    std::string words;
    for (int i = 0; i < 20; ++i)
        words += " word" + std::to_string(i * 7);
    std::string line = "To:" + words;
    Lines folded = FoldHeaderLine(line);
    ASSERT_GE(folded.size(), 2u);
    EXPECT_EQ(Unfold(folded), line);
    for (size_t i = 0; i < folded.size(); ++i) {
        EXPECT_LT(folded[i].size(), 78u) << folded[i];
        if (i > 0) {
            EXPECT_EQ(folded[i][0], ' ');
        }
        if (i + 1 < folded.size()) { // the next word would not have fitted
            EXPECT_GE(folded[i].size() + folded[i + 1].find(' ', 1), 78u);
        }
    }

    // A run without blanks cannot be folded inside; the blank after the name is never a fold.
    std::string longWord = "Subject: " + std::string(90, 'x');
    EXPECT_EQ(FoldHeaderLine(longWord), Lines {longWord});
    std::string longThenShort = "Subject: " + std::string(90, 'x') + " tail";
    EXPECT_EQ(FoldHeaderLine(longThenShort), (Lines {"Subject: " + std::string(90, 'x'), " tail"}));
}

TEST(HeaderFoldingTest, LongEncodedSubjectIsFoldedBetweenWordsInTheMessage)
{
    TMailMessage m;
    m.From = "a@b.ru";
    m.To = "c@d.ru";
    m.MimeCharset = "KOI8-R";
    for (int i = 0; i < 6; ++i)
        m.Subject += "\xF0\xD2\xC9\xD7\xC5\xD4 ";
    Lines lines = ComposeMailLines(m, MakeDateTime(2026, 1, 1, 0, 0, 0));
    const std::string w2 = "=?KOI8-R?Q?=F0=D2=C9=D7=C5=D4_=F0=D2=C9=D7=C5=D4_?=";
    EXPECT_EQ(lines[2], "Subject: " + w2);
    EXPECT_EQ(lines[3], " " + w2);
    EXPECT_EQ(lines[4], " " + w2);
    EXPECT_EQ(lines[5].rfind("Date: ", 0), 0u);
}

TEST(MailBodyTest, BodySplitsAtEveryKindOfLineBreak)
{
    EXPECT_EQ(SplitBodyLines("a\r\nb\rc\nd"), (Lines {"a", "b", "c", "d"}));
    EXPECT_EQ(SplitBodyLines("a\r\n"), Lines {"a"});
    EXPECT_EQ(SplitBodyLines("a\n\nb"), (Lines {"a", "", "b"}));
    EXPECT_EQ(SplitBodyLines("a\n\r b"), (Lines {"a", "", " b"}));
    EXPECT_EQ(SplitBodyLines("\r\n"), Lines {""});
    EXPECT_EQ(SplitBodyLines(""), Lines {});
    EXPECT_EQ(SplitBodyLines(".\r\n.."), (Lines {".", ".."}));
}
