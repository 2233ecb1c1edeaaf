// The standard operator without a network: defaults and copies, macro
// expansion, form encoding and the choice of gate.
#include "engine/Charset.h"
#include "engine/StdSmsSender.h"

#include "model/Error.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A listening socket on 127.0.0.1 that nobody serves: tells whether anyone connected.
class TSilentListener {
public:
    TSilentListener()
    {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(Fd, 8), 0);
        socklen_t len = sizeof a;
        getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
    }
    ~TSilentListener() { close(Fd); }
    int port() const { return Port; }
    bool connected() const
    {
        pollfd p{Fd, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }

private:
    int Fd = -1;
    int Port = 0;
};

} // namespace

TEST(StdSmsSender, NewOperatorDefaults)
{
    TStdSmsSender s;
    EXPECT_EQ(s.ClassName(), "TStdSmsSender");
    EXPECT_EQ(s.GateType, 1);
    EXPECT_EQ(s.EmailGate, "{phone}@");
    EXPECT_EQ(s.WebGate, "");
    EXPECT_EQ(s.EmailSubj, "{message}");
    EXPECT_EQ(s.EmailBody, "{message}");
    EXPECT_EQ(s.Notes, "");
    EXPECT_EQ(s.SenderId(), 0);
    EXPECT_EQ(s.Name(), "");
    EXPECT_FALSE(s.TranslitFlag);
    EXPECT_EQ(s.MaxSmsLen, 160);
    EXPECT_EQ(s.Charset, "CP1251");
    EXPECT_EQ(s.Options, nullptr);
    EXPECT_EQ(&s.SendingOptions(), &SmsOptions());
}

TEST(StdSmsSender, CloneIsAFullIndependentCopy)
{
    TSmsOptions snapshot;
    TStdSmsSender s;
    s.SetName(U("Мегафон"));
    s.SetSenderId(7);
    s.TranslitFlag = true;
    s.MaxSmsLen = 70;
    s.Charset = "KOI8-R";
    s.GateType = 0;
    s.EmailGate = "a{phone}@x";
    s.WebGate = "http://h/?t={message}";
    s.EmailSubj = "S";
    s.EmailBody = "B";
    s.Notes = U("строка 1\r\nстрока 2");
    s.Options = &snapshot;

    std::unique_ptr<TSmsSender> copy = s.Clone();
    auto* c = dynamic_cast<TStdSmsSender*>(copy.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Name(), U("Мегафон"));
    EXPECT_EQ(c->SenderId(), 7);
    EXPECT_TRUE(c->TranslitFlag);
    EXPECT_EQ(c->MaxSmsLen, 70);
    EXPECT_EQ(c->Charset, "KOI8-R");
    EXPECT_EQ(c->GateType, 0);
    EXPECT_EQ(c->EmailGate, "a{phone}@x");
    EXPECT_EQ(c->WebGate, "http://h/?t={message}");
    EXPECT_EQ(c->EmailSubj, "S");
    EXPECT_EQ(c->EmailBody, "B");
    EXPECT_EQ(c->Notes, s.Notes);
    EXPECT_EQ(c->Options, &snapshot);
    EXPECT_EQ(&c->SendingOptions(), &snapshot);

    s.WebGate = "changed";
    s.SetName("other");
    EXPECT_EQ(c->WebGate, "http://h/?t={message}");
    EXPECT_EQ(c->Name(), U("Мегафон"));
}

TEST(ExpandMacros, EveryPlaceholderInOrderWithOneClockReading)
{
    TFakeClock clock(MakeDateTime(2026, 3, 7, 0, 5, 59));
    std::string out = TStdSmsSender::ExpandMacros(
        "{year}-{month}-{day} {hour}:{minute} to {phone}: {message} ({length}) {phone}", "+7900", U("Да"));
    EXPECT_EQ(out, "2026-3-7 0:5 to +7900: " + U("Да") + " (2) +7900");
    EXPECT_EQ(clock.reads(), 1);

    clock.set(MakeDateTime(1999, 12, 31, 23, 59, 0));
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{minute}{hour}{day}{month}{year}", "", ""), "592331121999");
    EXPECT_EQ(clock.reads(), 2);
    // The clock is read once per expansion even when nothing asks for it.
    EXPECT_EQ(TStdSmsSender::ExpandMacros("plain", "p", "m"), "plain");
    EXPECT_EQ(clock.reads(), 3);
}

TEST(ExpandMacros, LaterStepsSeeSubstitutedValues)
{
    TFakeClock clock(MakeDateTime(2026, 12, 6, 22, 49, 42));
    // A date placeholder inside the message is replaced by a later step; "{phone}"
    // inside the message comes after its step and stays.
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{message}", "123", "{phone} {year} {hour}h {length}"),
              "{phone} 2026 22h 31");
    // "{message}" inside the phone value is replaced by the message.
    EXPECT_EQ(TStdSmsSender::ExpandMacros("[{phone}]", "{message}", "m"), "[m]");
    // A value holding its own placeholder is inserted once, not again and again.
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{phone}/{phone}", "{phone}", ""), "{phone}/{phone}");
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{message}{message}", "", "{message}"), "{message}{message}");
}

TEST(ExpandMacros, ExactCaseSensitiveMatchingAndTextKept)
{
    TFakeClock clock(MakeDateTime(2026, 1, 2, 3, 4, 5));
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{Phone}{PHONE}{ phone}{phone", "1", "m"), "{Phone}{PHONE}{ phone}{phone");
    EXPECT_EQ(TStdSmsSender::ExpandMacros("a\r\nb{phone}\n{phone}{phone}", "7", ""), "a\r\nb7\n77");
    EXPECT_EQ(TStdSmsSender::ExpandMacros("", "7", "m"), "");
    // "{length}" counts bytes of the value given (CP1251 here: one byte a letter).
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{length}", "", U("Привет, мир")), "11");
    EXPECT_EQ(TStdSmsSender::ExpandMacros("{length}", "", ""), "0");
}

TEST(FormUrlEncode, Rules)
{
    EXPECT_EQ(FormUrlEncode("+7 900-123"), "%2B7+900%2D123");
    EXPECT_EQ(FormUrlEncode("-._*~{}"), "%2D%2E%5F%2A%7E%7B%7D");
    EXPECT_EQ(FormUrlEncode(""), "");
    std::string cp = FormUrlEncode(ConvertFromCp1251(U("Привет, мир"), TCharset::Windows1251));
    EXPECT_EQ(cp, "%CF%F0%E8%E2%E5%F2%2C+%EC%E8%F0");
    EXPECT_EQ(cp.size(), 31u);
    EXPECT_EQ(FormUrlEncode(ConvertFromCp1251(U("Да"), TCharset::Utf8)), "%D0%94%D0%B0");
    EXPECT_EQ(FormUrlEncode(std::string("a\0b", 3)), "a%00b");
}

TEST(FormUrlEncode, EveryByteValue)
{
    for (int b = 0; b < 256; ++b) {
        std::string out = FormUrlEncode(std::string(1, static_cast<char>(b)));
        bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (alnum)
            EXPECT_EQ(out, std::string(1, static_cast<char>(b)));
        else if (b == ' ')
            EXPECT_EQ(out, "+");
        else {
            char expected[4];
            snprintf(expected, sizeof expected, "%%%02X", b);
            EXPECT_EQ(out, expected) << b;
        }
    }
}

TEST(StdSmsSenderDelivery, UnknownGateTypeFailsWithoutNetwork)
{
    TSilentListener server;
    TSmsOptions options;
    options.SmtpHost = "127.0.0.1:" + std::to_string(server.port());
    TStdSmsSender s;
    s.Options = &options;
    s.WebGate = "http://127.0.0.1:" + std::to_string(server.port()) + "/send?to={phone}";
    for (int type : {2, -1, 100}) {
        s.GateType = type;
        try {
            s.DoSend("123", "text");
            ADD_FAILURE() << "no error for gate type " << type;
        } catch (const TError& e) {
            EXPECT_EQ(e.message(), U("Указан некорректный SMS шлюз."));
        }
    }
    EXPECT_FALSE(server.connected());
}
