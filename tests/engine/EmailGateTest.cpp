// The standard operator's e-mail gate against a scripted relay: what the
// address, subject and body are made of, which password goes out, and the
// one failure message for every way the submission can fail.
#include "FakeSmtpServer.h"
#include "engine/SmtpClient.h"
#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "model/SmsLink.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

// A relay that takes one message; with `auth` it offers LOGIN and accepts any login.
Lines AcceptingScript(bool auth = false)
{
    if (auth)
        return {"250-fake\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok",
                "250 ok", "250 ok", "354 go", "250 ok", "221 bye"};
    return {"250-fake\r\n250 8BITMIME", "250 ok", "250 ok", "354 go", "250 ok", "221 bye"};
}

struct TGateFixture {
    TFakeSmtpServer Server;
    TSmsOptions Options;
    TStdSmsSender Sender;
    TFakeClock Clock {MakeDateTime(2026, 12, 6, 22, 49, 42, 180)};

    explicit TGateFixture(Lines script = AcceptingScript()) : Server("220 fake", std::move(script))
    {
        Options.SmtpHost = Server.relay();
        Options.SmtpFromAddress = "sender@test.ru";
        Sender.Options = &Options;
    }
};

// The message lines between DATA and the final ".", as they went over the wire.
Lines MessageLines(const Lines& received)
{
    auto data = std::find(received.begin(), received.end(), "DATA");
    auto end = std::find(data, received.end(), ".");
    return data == received.end() ? Lines {} : Lines(data + 1, end);
}

std::string Header(const Lines& message, const std::string& name)
{
    for (const auto& line : message)
        if (line.rfind(name + ": ", 0) == 0)
            return line.substr(name.size() + 2);
    return "<none>";
}

std::string GateFailure(const std::string& recipient)
{
    return U("Не удалось отправить SMS через E-Mail шлюз.") + "\r" + recipient;
}

} // namespace

TEST(EmailGateTest, AddressSubjectAndBodyFromTheTemplates)
{
    TGateFixture f;
    f.Options.SmtpFromAddress = U("Велотекст <sender@test.ru>");
    f.Sender.Charset = "KOI8-R";
    f.Sender.EmailGate = "{phone}.{length}@sms.test";
    f.Sender.EmailSubj = U("Тема {message}");
    f.Sender.EmailBody = U("Текст: {message} ({length}) в {hour}:{minute}");
    f.Sender.DoSend("+79001234567", U("Привет"));

    Lines got = f.Server.received();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[1], "MAIL FROM:<sender@test.ru>");
    EXPECT_EQ(got[2], "RCPT TO:<+79001234567.6@sms.test>");
    Lines message = MessageLines(got);
    EXPECT_EQ(Header(message, "From"), "\"=?KOI8-R?Q?=F7=C5=CC=CF=D4=C5=CB=D3=D4?=\"<sender@test.ru>");
    EXPECT_EQ(Header(message, "To"), "+79001234567.6@sms.test");
    // The whole subject is converted, template text included.
    EXPECT_EQ(Header(message, "Subject"), "=?KOI8-R?Q?=F4=C5=CD=C1_=F0=D2=C9=D7=C5=D4?=");
    EXPECT_EQ(Header(message, "Date"), "Sun, 6 Dec 2026 22:49:42 +0300");
    EXPECT_EQ(Header(message, "Reply-To"), "sender@test.ru");
    EXPECT_EQ(Header(message, "Content-type"), "text/plain; charset=KOI8-R");
    // Only the message is converted in the body; the template keeps its CP1251 bytes.
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(message.back(), U("Текст: ") + "\xF0\xD2\xC9\xD7\xC5\xD4" + U(" (6) в 22:49"));
}

TEST(EmailGateTest, LengthCountsConvertedBytesInTheBodyOnly)
{
    TGateFixture f;
    f.Sender.Charset = "UTF-8";
    f.Sender.EmailGate = "{length}@sms.test";
    f.Sender.EmailSubj = "{length}";
    f.Sender.EmailBody = "{message}/{length}";
    f.Sender.DoSend("1", U("Да"));
    Lines got = f.Server.received();
    EXPECT_EQ(got[2], "RCPT TO:<2@sms.test>");
    Lines message = MessageLines(got);
    EXPECT_EQ(Header(message, "Subject"), "2");
    EXPECT_EQ(Header(message, "Content-type"), "text/plain; charset=UTF-8");
    EXPECT_EQ(message.back(), "\xD0\x94\xD0\xB0/4");
}

TEST(EmailGateTest, CharsetNameIsExactAndUnknownMeansWindows1251)
{
    TGateFixture f;
    f.Sender.Charset = "koi8-r";
    f.Sender.DoSend("1", U("Да"));
    Lines message = MessageLines(f.Server.received());
    EXPECT_EQ(Header(message, "Subject"), "=?WINDOWS-1251?Q?=C4=E0?=");
    EXPECT_EQ(Header(message, "Content-type"), "text/plain; charset=WINDOWS-1251");
    EXPECT_EQ(message.back(), U("Да"));
}

TEST(EmailGateTest, LineBreaksInTheSubjectBecomeBlanksAndSplitTheBody)
{
    TGateFixture f;
    f.Sender.DoSend("1", "two\r\nlines\n.");
    Lines message = MessageLines(f.Server.received());
    EXPECT_EQ(Header(message, "Subject"), "two  lines .");
    ASSERT_GE(message.size(), 3u);
    EXPECT_EQ(Lines(message.end() - 3, message.end()), (Lines {"two", "lines", ".."}));
}

TEST(EmailGateTest, TwoRecipientsGiveTwoRcptAndOneToLine)
{
    TGateFixture f(Lines {"250 fake", "250 ok", "250 ok", "250 ok", "354 go", "250 ok", "221"});
    f.Sender.EmailGate = "{phone}@a.test, {phone}@b.test";
    f.Sender.DoSend("42", "hi");
    Lines got = f.Server.received();
    EXPECT_EQ(got[2], "RCPT TO:<42@a.test>");
    EXPECT_EQ(got[3], "RCPT TO:<42@b.test>");
    EXPECT_EQ(Header(MessageLines(got), "To"), "42@a.test, 42@b.test");
}

TEST(EmailGateTest, BuiltInAccountNameSelectsItsPasswordCaseSensitively)
{
    struct Case {
        std::string user, password, sent;
    };
    for (const auto& c : {Case {"qarvo", "mine", "-tovek5207_"}, Case {"Qarvo", "mine", "mine"},
                          Case {"someone", "mine", "mine"}}) {
        TGateFixture f(AcceptingScript(true));
        f.Options.SmtpUsername = c.user;
        f.Options.SmtpPassword = c.password;
        f.Sender.DoSend("1", "hi");
        Lines got = f.Server.received();
        ASSERT_GE(got.size(), 4u);
        EXPECT_EQ(got[2], Base64Encode(c.user));
        EXPECT_EQ(got[3], Base64Encode(c.sent)) << c.user;
    }
}

TEST(EmailGateTest, EveryFailureGivesTheGateMessageWithTheRecipient)
{
    {
        // The default template without a domain: the relay refuses the recipient.
        TGateFixture f(Lines {"250 fake", "250 ok", "501 bad address", "221"});
        try {
            f.Sender.DoSend("1234567", "hi");
            FAIL() << "no error";
        } catch (const TError& e) {
            EXPECT_EQ(e.message(), GateFailure("1234567@") + "\r" +
                                       U("SMTP сервер отклонил адрес получателя (501 bad address)."));
        }
        EXPECT_EQ(f.Server.received().back(), "QUIT");
    }
    {
        TGateFixture f;
        f.Options.SmtpHost = "";
        try {
            f.Sender.DoSend("1", "hi");
            FAIL() << "no error";
        } catch (const TError& e) {
            EXPECT_EQ(e.message(), GateFailure("1@") + "\r" + U("Не указан SMTP сервер."));
        }
    }
}

TEST(EmailGateTest, CancelledDeliveriesFailWithTheSameTextAsTheWebGate)
{
    TTestCancel cancel;
    TGateFixture f;
    f.Sender.EmailGate = "{phone}@sms.test";
    cancel.Cancel();
    EXPECT_EQ(ErrorOf([&] { f.Sender.DoSend("+7900", "hi"); }), U("Отправка SMS прервана."));
    f.Server.received();
    EXPECT_FALSE(f.Server.connected());
}

TEST(EmailGateTest, LineBreakInPhoneOrSenderNeverReachesTheRelay)
{
    {
        TGateFixture f;
        const std::string phone = "1@x>\r\nRCPT TO:<evil@x";
        try {
            f.Sender.DoSend(phone, "hi");
            FAIL() << "no error";
        } catch (const TError& e) {
            EXPECT_EQ(e.message(), GateFailure(GatePhone(phone) + "@")); // the number's blanks left out
        }
        f.Server.received();
        EXPECT_FALSE(f.Server.connected());
    }
    {
        TGateFixture f;
        f.Options.SmtpFromAddress = "me@x\nBcc: evil@x";
        EXPECT_THROW(f.Sender.DoSend("1", "hi"), TError);
        f.Server.received();
        EXPECT_FALSE(f.Server.connected());
    }
}
