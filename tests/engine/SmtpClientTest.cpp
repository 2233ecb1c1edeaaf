// The SMTP exchange against scripted servers: the exact command sequence for
// each path, refused logins that do not end the exchange, replies that never
// come, connections that drop, and input that must never reach the wire.
#include "FakeSmtpServer.h"
#include "engine/SmtpClient.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <netdb.h>
#include <thread>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

const char* const kGreeting = "220 fake.test ESMTP";
const char* const kEhloPlain = "250-fake.test\r\n250 8BITMIME";

TSmtpSubmission Submission(const TFakeSmtpServer& server)
{
    TSmtpSubmission s;
    s.Relay = server.relay();
    s.Sender = "Sender <from@test.ru>";
    s.Recipients = "to@sms.test";
    s.Lines = {"Subject: hi", "", "one", ".", "..two"};
    return s;
}

TSmtpClient Client()
{
    TSmtpClient client;
    client.SetLocalHostName("client.test");
    return client;
}

// What follows an accepted DATA for Submission(): the stuffed lines and the end mark.
Lines DataLines() { return {"Subject: hi", "", "one", "..", "...two", "."}; }

Lines Concat(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Size of Submission()'s message: every line with its CR LF.
const std::string kSize = std::to_string(11 + 2 + 0 + 2 + 3 + 2 + 1 + 2 + 5 + 2);

} // namespace

TEST(SmtpRelayTest, HostAndPortAreSplitAtTheFirstColonAndTrimmed)
{
    auto r = ParseSmtpRelay("relay:2525");
    EXPECT_EQ(r.Host, "relay");
    EXPECT_EQ(r.Port, "2525");
    EXPECT_EQ(ParseSmtpRelay("relay").Port, "25");
    EXPECT_EQ(ParseSmtpRelay("relay:").Port, "25");
    EXPECT_EQ(ParseSmtpRelay("relay:  ").Port, "25");
    r = ParseSmtpRelay("  mail.example.ru  :  587 ");
    EXPECT_EQ(r.Host, "mail.example.ru");
    EXPECT_EQ(r.Port, "587");
    r = ParseSmtpRelay("a:1:2");
    EXPECT_EQ(r.Host, "a");
    EXPECT_EQ(r.Port, "1:2");
}

TEST(SmtpPiecesTest, Base64AndCramMd5)
{
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    std::string out;
    ASSERT_TRUE(Base64Decode("YQ==", out));
    EXPECT_EQ(out, "a");
    ASSERT_TRUE(Base64Decode("YWI=", out));
    EXPECT_EQ(out, "ab");
    ASSERT_TRUE(Base64Decode("AP8=", out));
    EXPECT_EQ(out, std::string("\0\xff", 2));
    EXPECT_FALSE(Base64Decode("YQ=", out));
    EXPECT_FALSE(Base64Decode("Y!==", out));
    // The worked example of RFC 2195.
    EXPECT_EQ(CramMd5Response("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
              "tim b913a602c7eda7a495b4e6e7334d3890");
}

TEST(SmtpPiecesTest, DotStuffingDoublesOnlyALeadingDot)
{
    EXPECT_EQ(DotStuffedData({".", "..", ".x", "a.b", "", " ."}), "..\r\n...\r\n..x\r\na.b\r\n\r\n .\r\n.\r\n");
    EXPECT_EQ(DotStuffedData({}), ".\r\n");
}

TEST(SmtpExchangeTest, CramMd5LoginWithSizeAndTheWholeSequence)
{
    TFakeSmtpServer server(kGreeting,
                           {"250-fake.test greets you\r\n250-SIZE 1000000\r\n250-AUTH LOGIN CRAM-MD5\r\n250 HELP",
                            "334 PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+", "235 ok", "250 sender ok",
                            "250 rcpt ok", "354 go on", "250 queued", "221 bye"});
    auto s = Submission(server);
    s.Username = "tim";
    s.Password = "tanstaaftanstaaf";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::None);
    EXPECT_EQ(server.received(),
              Concat({"EHLO client.test", "AUTH CRAM-MD5", "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw",
                      "MAIL FROM:<from@test.ru> SIZE=" + kSize, "RCPT TO:<to@sms.test>", "DATA"},
                     Concat(DataLines(), {"QUIT"})));
}

TEST(SmtpExchangeTest, RefusedEhloFallsBackToHeloWithoutLoginOrSize)
{
    TFakeSmtpServer server(kGreeting, {"502 no EHLO here", "250 hello", "250 ok", "250 ok", "354 go", "250 ok", "221"});
    auto s = Submission(server);
    s.Username = "user";
    s.Password = "secret";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    EXPECT_EQ(server.received(), Concat({"EHLO client.test", "HELO client.test", "MAIL FROM:<from@test.ru>",
                                         "RCPT TO:<to@sms.test>", "DATA"},
                                        Concat(DataLines(), {"QUIT"})));
}

TEST(SmtpExchangeTest, RefusedCramMd5IsFollowedByLogin)
{
    TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH=CRAM-MD5 LOGIN", "334 PGFiY0B4Pg==", "535 bad",
                                       "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok", "250 ok", "250 ok",
                                       "354 go", "250 ok", "221"});
    auto s = Submission(server);
    s.Username = "user";
    s.Password = "secret";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    auto got = server.received();
    ASSERT_GE(got.size(), 7u);
    EXPECT_EQ(Lines(got.begin(), got.begin() + 7),
              (Lines {"EHLO client.test", "AUTH CRAM-MD5", Base64Encode(CramMd5Response("user", "secret", "<abc@x>")),
                      "AUTH LOGIN", "dXNlcg==", "c2VjcmV0", "MAIL FROM:<from@test.ru>"}));
    EXPECT_EQ(got.back(), "QUIT");
}

TEST(SmtpExchangeTest, EveryLoginRefusedButMailAcceptedSucceeds)
{
    TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH LOGIN CRAM-MD5 PLAIN", "334 PGFiY0B4Pg==", "535 no",
                                       "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "535 no", "250 ok", "250 ok",
                                       "354 go", "250 ok", "221"});
    auto s = Submission(server);
    s.Username = "user";
    s.Password = "wrong";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    auto got = server.received();
    ASSERT_GE(got.size(), 8u);
    EXPECT_EQ(got[3], "AUTH LOGIN");
    EXPECT_EQ(got[6], "MAIL FROM:<from@test.ru>");
    EXPECT_EQ(got.back(), "QUIT");
}

TEST(SmtpExchangeTest, RefusedLoginThenMailRequiringItFailsAndQuits)
{
    TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH LOGIN", "334 VXNlcm5hbWU6", "535 no",
                                       "530 Authentication required", "221"});
    auto s = Submission(server);
    s.Username = "user";
    s.Password = "wrong";
    auto client = Client();
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::MailFrom);
    // The cause is the refused login, not the "authentication required" that followed from it.
    EXPECT_EQ(client.FailureReason(), U("SMTP сервер не принял логин или пароль (535 no)."));
    EXPECT_EQ(server.received(),
              (Lines {"EHLO client.test", "AUTH LOGIN", "dXNlcg==", "MAIL FROM:<from@test.ru>", "QUIT"}));
}

TEST(SmtpExchangeTest, LoginIsSkippedWithoutCredentialsOrWithoutAKnownMechanism)
{
    {
        TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH LOGIN CRAM-MD5", "250 ok", "250 ok", "354 go",
                                           "250 ok", "221"});
        auto client = Client();
        EXPECT_TRUE(client.Submit(Submission(server)));
        EXPECT_EQ(server.received()[1], "MAIL FROM:<from@test.ru>");
    }
    {
        // Only the password given still logs in: the user name goes out empty.
        TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH PLAIN XOAUTH2 LOGIN", "334 VXNlcm5hbWU6",
                                           "334 UGFzc3dvcmQ6", "235 ok", "250 ok", "250 ok", "354 go", "250 ok"});
        auto s = Submission(server);
        s.Password = "pw";
        auto client = Client();
        EXPECT_TRUE(client.Submit(s));
        auto got = server.received();
        EXPECT_EQ(Lines(got.begin(), got.begin() + 5),
                  (Lines {"EHLO client.test", "AUTH LOGIN", "", "cHc=", "MAIL FROM:<from@test.ru>"}));
    }
    {
        TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH PLAIN GSSAPI", "250 ok", "250 ok", "354 go", "250 ok"});
        auto s = Submission(server);
        s.Username = "user";
        s.Password = "pw";
        auto client = Client();
        EXPECT_TRUE(client.Submit(s));
        EXPECT_EQ(server.received()[1], "MAIL FROM:<from@test.ru>");
    }
}

TEST(SmtpExchangeTest, UnreadableChallengeIsCancelledBeforeLogin)
{
    TFakeSmtpServer server(kGreeting, {"250-fake\r\n250 AUTH CRAM-MD5 LOGIN", "334 !!not base64!!", "501 aborted",
                                       "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok", "250 ok", "250 ok", "354 go",
                                       "250 ok"});
    auto s = Submission(server);
    s.Username = "u";
    s.Password = "p";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    auto got = server.received();
    EXPECT_EQ(Lines(got.begin(), got.begin() + 4), (Lines {"EHLO client.test", "AUTH CRAM-MD5", "*", "AUTH LOGIN"}));
}

TEST(SmtpExchangeTest, RecipientsAreSplitAtUnquotedCommasAndReducedToAddresses)
{
    TFakeSmtpServer server(kGreeting,
                           {kEhloPlain, "250 ok", "250 ok", "250 ok", "250 ok", "354 go", "250 ok", "221"});
    auto s = Submission(server);
    s.Recipients = "\"Ivanov, Ivan\" <ivan@sms.test>, 123@sms.test , , Petr <petr@sms.test>,";
    auto client = Client();
    EXPECT_TRUE(client.Submit(s));
    auto got = server.received();
    EXPECT_EQ(Lines(got.begin(), got.begin() + 6),
              (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<ivan@sms.test>",
                      "RCPT TO:<123@sms.test>", "RCPT TO:<petr@sms.test>", "DATA"}));
}

TEST(SmtpExchangeTest, RefusalsAtEachStepFailAtThatStep)
{
    struct Case {
        Lines replies;
        TSmtpStage stage;
        Lines expected;
    };
    const Case cases[] = {
        {{"554 go away"}, TSmtpStage::Greeting, {}},
        {{"500 no", "501 no"}, TSmtpStage::Hello, {"EHLO client.test", "HELO client.test"}},
        {{kEhloPlain, "553 bad sender", "221"}, TSmtpStage::MailFrom,
         {"EHLO client.test", "MAIL FROM:<from@test.ru>", "QUIT"}},
        // 251 is not the required 250; the first refused recipient ends it.
        {{kEhloPlain, "250 ok", "251 forwarding", "221"}, TSmtpStage::RcptTo,
         {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>", "QUIT"}},
        {{kEhloPlain, "250 ok", "250 ok", "554 no data", "221"}, TSmtpStage::Data,
         {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>", "DATA", "QUIT"}},
        {{kEhloPlain, "250 ok", "250 ok", "354 go", "552 too big", "221"}, TSmtpStage::Message,
         Concat({"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>", "DATA"},
                Concat(DataLines(), {"QUIT"}))},
    };
    for (const auto& c : cases) {
        // Greeting cases put the refusal in the greeting itself.
        bool greetingCase = c.stage == TSmtpStage::Greeting;
        TFakeSmtpServer server(greetingCase ? c.replies[0] : kGreeting,
                               greetingCase ? Lines {} : c.replies);
        auto client = Client();
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), c.stage);
        EXPECT_EQ(server.received(), c.expected);
    }
}

TEST(SmtpExchangeTest, SecondRecipientRefusedStopsBeforeData)
{
    TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", "250 ok", "550 no such user", "221"});
    auto s = Submission(server);
    s.Recipients = "a@x, b@x, c@x";
    auto client = Client();
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::RcptTo);
    EXPECT_EQ(server.received(), (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<a@x>",
                                         "RCPT TO:<b@x>", "QUIT"}));
}

TEST(SmtpExchangeTest, MultiLineGreetingAndRepliesAreReadWhole)
{
    TFakeSmtpServer server("220-fake.test\r\n220-welcome\r\n220 really",
                           {"250-a\r\n250-b\r\n250-SIZE\r\n250 c", "250-ok\r\n250 still ok", "250 ok",
                            "354-go\r\n354 on", "250 ok", "221"});
    auto client = Client();
    EXPECT_TRUE(client.Submit(Submission(server)));
    auto got = server.received();
    EXPECT_EQ(got[1], "MAIL FROM:<from@test.ru> SIZE=" + kSize);
    EXPECT_EQ(got.back(), "QUIT");
}

TEST(SmtpExchangeTest, ReplyThatNeverComesFailsTheStepWaitingForIt)
{
    {
        TFakeSmtpServer server("", {});
        auto client = Client();
        client.SetReplyTimeout(std::chrono::milliseconds(200));
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Greeting);
        EXPECT_EQ(server.received(), Lines {});
    }
    {
        // After a lost EHLO reply the exchange is out of step: no HELO, no QUIT.
        TFakeSmtpServer server(kGreeting, {"", "250 too late"});
        auto client = Client();
        client.SetReplyTimeout(std::chrono::milliseconds(200));
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Hello);
        EXPECT_EQ(server.received(), Lines {"EHLO client.test"});
    }
    {
        // After EHLO, QUIT is still said, but its reply is not awaited.
        TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", ""});
        auto client = Client();
        client.SetReplyTimeout(std::chrono::milliseconds(200));
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::RcptTo);
        EXPECT_EQ(server.received(),
                  (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>", "QUIT"}));
    }
}

TEST(SmtpExchangeTest, CancellingDeliveriesEndsTheWaitForTheRelayAndSendsNothingMore)
{
    const std::string plainSent = "EHLO client.test\r\nMAIL FROM:<from@test.ru>\r\n";
    const struct {
        TSmtpSecurity security;
        std::string greeting;
        Lines replies;
        size_t bytesBeforeCancel; // the client is waiting for the relay once these have arrived
    } cases[] = {
        // Silent after MAIL FROM: the client waits for a plain reply.
        {TSmtpSecurity::None, kGreeting, {kEhloPlain, ""}, plainSent.size()},
        // Silent after the client's first handshake bytes, whatever line ends they hold.
        {TSmtpSecurity::Tls, "", Lines(1000, ""), 1},
    };
    for (const auto& c : cases) {
        TTestCancel cancel;
        TFakeSmtpServer server(c.greeting, c.replies);
        auto s = Submission(server);
        s.Security = c.security;
        auto client = Client();
        // Without the cancel the client would wait far longer than the server stays.
        client.SetConnectTimeout(std::chrono::minutes(10));
        client.SetReplyTimeout(std::chrono::minutes(10));
        std::thread canceller([&] {
            while (server.bytesReceived() < c.bytesBeforeCancel)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            cancel.Cancel();
        });
        EXPECT_FALSE(client.Submit(s));
        canceller.join();
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Cancelled);
        EXPECT_EQ(client.FailureReason(), U("Отправка SMS прервана."));
        Lines got = server.received();
        if (c.security == TSmtpSecurity::None) {
            EXPECT_EQ(got, (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>"})); // no QUIT
        }
    }
    // Once cancelled, no connection is even tried.
    TTestCancel cancel;
    cancel.Cancel();
    TFakeSmtpServer idle(kGreeting, {kEhloPlain});
    auto client = Client();
    EXPECT_FALSE(client.Submit(Submission(idle)));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Cancelled);
    idle.received();
    EXPECT_FALSE(idle.connected());
}

namespace {
// A name lookup that does not answer until the test lets it: a DNS server
// gone quiet.
std::promise<void>* gLookupAsked = nullptr;
std::shared_future<void> gLookupReleased;
int QuietResolver(const char* host, const char* port, const addrinfo* hints, addrinfo** list)
{
    gLookupAsked->set_value();
    gLookupReleased.wait();
    return getaddrinfo(host, port, hints, list);
}
} // namespace

TEST(SmtpExchangeTest, CancellingDeliveriesEndsTheWaitForANameLookupThatNeverAnswers)
{
    TCancelToken token;
    std::promise<void> asked, release;
    gLookupAsked = &asked;
    gLookupReleased = release.get_future().share();
    SetSmtpHostResolverForTests(QuietResolver);
    TFakeSmtpServer server(kGreeting, {kEhloPlain});
    auto client = Client();
    auto submitted = std::async(std::launch::async, [&] {
        TCancelScope scope(token);
        return client.Submit(Submission(server));
    });
    asked.get_future().wait();
    token.Cancel();
    // The delivery ends while the lookup still hangs (the guard only keeps a
    // broken build from waiting forever).
    const bool endedFirst = submitted.wait_for(std::chrono::minutes(2)) == std::future_status::ready;
    release.set_value(); // the abandoned lookup finishes and frees its own answer
    ASSERT_TRUE(endedFirst);
    EXPECT_FALSE(submitted.get());
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Cancelled);
    EXPECT_EQ(client.FailureReason(), U("Отправка SMS прервана."));
    SetSmtpHostResolverForTests(nullptr);
    server.received();
    EXPECT_FALSE(server.connected());
}

TEST(SmtpExchangeTest, ServerClosingMidExchangeFailsWithoutHarm)
{
    {
        TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", "<close>"});
        auto client = Client();
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::RcptTo);
        EXPECT_EQ(server.received(), (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>"}));
    }
    {
        // The peer leaves while the message is on its way: writing must not kill the process.
        TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", "250 ok", "354 go<close>"});
        auto s = Submission(server);
        s.Lines.assign(20000, std::string(200, 'x'));
        auto client = Client();
        EXPECT_FALSE(client.Submit(s));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Message);
        EXPECT_EQ(server.received(), (Lines {"EHLO client.test", "MAIL FROM:<from@test.ru>", "RCPT TO:<to@sms.test>",
                                             "DATA"}));
    }
}

TEST(SmtpExchangeTest, LineBreaksInAddressesNeverReachTheWire)
{
    const std::pair<std::string, std::string> cases[] = {
        {"from@test.ru", "to@sms.test\r\nRCPT TO:<evil@x>"},
        {"from@test.ru", "to@sms.test\nDATA"},
        {"from@test.ru", std::string("to@sms.test\0x", 13)},
        {"from@test.ru>\r\nRCPT TO:<evil@x", "to@sms.test"},
    };
    for (const auto& [sender, recipients] : cases) {
        TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", "250 ok", "354 go", "250 ok"});
        auto s = Submission(server);
        s.Sender = sender;
        s.Recipients = recipients;
        auto client = Client();
        EXPECT_FALSE(client.Submit(s));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Input);
        EXPECT_EQ(server.received(), Lines {});
        EXPECT_FALSE(server.connected());
    }
    // A message line holding a line break would smuggle text past the dot-stuffing.
    TFakeSmtpServer server(kGreeting, {kEhloPlain});
    auto s = Submission(server);
    s.Lines.push_back("x\r\n.\r\nMAIL FROM:<evil@x>");
    auto client = Client();
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Input);
    server.received();
    EXPECT_FALSE(server.connected());
}

TEST(SmtpExchangeTest, NoRelayOrNoListenerFailsBeforeAnyExchange)
{
    TSmtpSubmission s;
    s.Sender = "a@b";
    s.Recipients = "c@d";
    auto client = Client();
    s.Relay = "";
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Relay);
    s.Relay = " :25";
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Relay);
    s.Relay = "127.0.0.1:notaport";
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Relay);

    // A port that was free a moment ago: nothing listens there.
    int port;
    {
        TFakeSmtpServer probe("", {});
        port = probe.port();
    }
    s.Relay = "127.0.0.1:" + std::to_string(port);
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Connect);
}

TEST(SmtpExchangeTest, GreetsWithTheLocalHostNameByDefault)
{
    TFakeSmtpServer server(kGreeting, {"500 no", "250 ok", "250 ok", "250 ok", "354 go", "250 ok"});
    TSmtpClient client;
    EXPECT_TRUE(client.Submit(Submission(server)));
    char name[256] = {};
    ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
    auto got = server.received();
    EXPECT_EQ(got[0], std::string("EHLO ") + name);
    EXPECT_EQ(got[1], std::string("HELO ") + name);
}

TEST(SmtpTlsTest, ImplicitTlsForTlsAndForAutoOnPort465Only)
{
    EXPECT_TRUE(UsesImplicitTls(TSmtpSecurity::Tls, ParseSmtpRelay("relay:587")));
    EXPECT_TRUE(UsesImplicitTls(TSmtpSecurity::Auto, ParseSmtpRelay("relay: 465")));
    EXPECT_FALSE(UsesImplicitTls(TSmtpSecurity::Auto, ParseSmtpRelay("relay:587")));
    EXPECT_FALSE(UsesImplicitTls(TSmtpSecurity::Auto, ParseSmtpRelay("relay:4650")));
    EXPECT_FALSE(UsesImplicitTls(TSmtpSecurity::StartTls, ParseSmtpRelay("relay:465")));
    EXPECT_FALSE(UsesImplicitTls(TSmtpSecurity::None, ParseSmtpRelay("relay:465")));
}

TEST(SmtpTlsTest, NothingMoreGoesOutInTheClearOnceStartTlsIsAsked)
{
    const std::string ehlo = "250-fake.test\r\n250-AUTH LOGIN\r\n250 STARTTLS";
    const struct {
        Lines replies;
        TSmtpStage stage;
        std::string reason;
    } cases[] = {
        {{ehlo, "454 TLS not available"}, TSmtpStage::StartTls, "Сервер отказал в STARTTLS (код 454)."},
        {{ehlo, "220 go ahead<close>"}, TSmtpStage::Tls, "Сервер разорвал соединение во время установки TLS."},
    };
    for (const auto& c : cases) {
        TFakeSmtpServer server(kGreeting, c.replies);
        auto s = Submission(server);
        s.Username = "user";
        s.Password = "secret";
        auto client = Client();
        EXPECT_FALSE(client.Submit(s));
        EXPECT_EQ(client.FailedStage(), c.stage);
        EXPECT_EQ(client.FailureReason(), U(c.reason));
        Lines got = server.received();
        ASSERT_GE(got.size(), 2u);
        EXPECT_EQ(Lines(got.begin(), got.begin() + 2), (Lines {"EHLO client.test", "STARTTLS"}));
        // After a refusal nothing at all; after "220" only TLS bytes, never a command.
        for (size_t i = 2; i < got.size(); ++i) {
            EXPECT_NE(c.stage, TSmtpStage::StartTls) << got[i];
            EXPECT_EQ(got[i].find("AUTH"), std::string::npos) << got[i];
        }
    }
}

TEST(SmtpTlsTest, StartTlsRequiredButNotOfferedQuitsAndNoneNeverAsks)
{
    TFakeSmtpServer server(kGreeting, {kEhloPlain, "221"});
    auto s = Submission(server);
    s.Security = TSmtpSecurity::StartTls;
    auto client = Client();
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailedStage(), TSmtpStage::StartTls);
    EXPECT_EQ(client.FailureReason(), U("Сервер не поддерживает STARTTLS (защищённое соединение)."));
    EXPECT_EQ(server.received(), (Lines {"EHLO client.test", "QUIT"}));

    TFakeSmtpServer offering(kGreeting, {"250-fake\r\n250 STARTTLS", "250 ok", "250 ok", "354 go", "250 ok", "221"});
    s = Submission(offering);
    s.Security = TSmtpSecurity::None;
    EXPECT_TRUE(client.Submit(s));
    EXPECT_EQ(client.FailureReason(), "");
    EXPECT_EQ(offering.received().at(1), "MAIL FROM:<from@test.ru>");
}

// Without PIPELINING every reply answers the command before it: a relay that
// says more than it was asked puts the exchange out of step. The attempt ends
// before the next command goes out, with the extra line in the reason.
TEST(SmtpExchangeTest, BytesWaitingBeforeACommandEndTheAttemptAsOutOfStep)
{
    {
        // One extra line after the greeting: not even EHLO goes out.
        TFakeSmtpServer server(std::string(kGreeting) + "\r\n250 extra line",
                               {kEhloPlain, "250 ok", "250 ok", "354 go", "250 ok", "221"});
        auto client = Client();
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Hello);
        EXPECT_EQ(client.FailureReason(),
                  U("Обмен с SMTP сервером нарушен: сервер прислал лишние данные, о которых его не спрашивали "
                    "(EHLO: 250 extra line)."));
        Lines got = server.received();
        EXPECT_TRUE(got.empty() || got == Lines {"QUIT"}) << got.size();
    }
    {
        // A crafted relay that answers RCPT TO twice would have its second "250"
        // taken for DATA's and the message's end: refused before DATA instead.
        TFakeSmtpServer server(kGreeting, {kEhloPlain, "250 ok", "250 ok\r\n354 go", "250 ok", "250 ok", "221"});
        auto client = Client();
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailedStage(), TSmtpStage::Data);
        EXPECT_EQ(client.FailureReason(),
                  U("Обмен с SMTP сервером нарушен: сервер прислал лишние данные, о которых его не спрашивали "
                    "(DATA: 354 go)."));
        Lines got = server.received();
        EXPECT_EQ(std::count(got.begin(), got.end(), "DATA"), 0);
    }
}

// Every failure says in Russian what went wrong, the relay's reply or the
// technical cause in brackets.
TEST(SmtpExchangeTest, FailureReasonsNameTheCauseAndTheRelaysReply)
{
    const struct {
        std::string greeting;
        Lines replies;
        const char* reason;
    } cases[] = {
        {"554 go away", {}, "SMTP сервер отклонил соединение (554 go away)."},
        {kGreeting, {"500 no", "501 5.5.4 Syntax: HELO hostname"},
         "SMTP сервер отклонил приветствие (501 5.5.4 Syntax: HELO hostname)."},
        {kGreeting, {kEhloPlain, "553-5.1.8 bad\r\n553 sender \x7f domain", "221"},
         "SMTP сервер отклонил адрес отправителя (553 5.1.8 bad sender   domain)."},
        {kGreeting, {kEhloPlain, "250 ok", "550 5.1.1 no such user", "221"},
         "SMTP сервер отклонил адрес получателя (550 5.1.1 no such user)."},
        {kGreeting, {kEhloPlain, "250 ok", "250 ok", "354 go", "552 too big", "221"},
         "SMTP сервер отклонил письмо (552 too big)."},
        {kGreeting, {kEhloPlain, ""}, "SMTP сервер не ответил вовремя (MAIL)."},
        {kGreeting, {kEhloPlain, "250 ok<close>"}, "SMTP сервер закрыл соединение, не ответив (RCPT)."},
        {kGreeting, {"hello there"}, "SMTP сервер прислал ответ не по протоколу (EHLO: hello there)."},
    };
    for (const auto& c : cases) {
        TFakeSmtpServer server(c.greeting, c.replies);
        auto client = Client();
        client.SetReplyTimeout(std::chrono::milliseconds(300));
        EXPECT_FALSE(client.Submit(Submission(server)));
        EXPECT_EQ(client.FailureReason(), U(c.reason)) << c.reason;
        server.received();
    }

    // Nothing listens on the port; the relay's name cannot be found.
    int port;
    {
        TFakeSmtpServer probe("", {});
        port = probe.port();
    }
    TSmtpSubmission s;
    s.Sender = "a@b";
    s.Recipients = "c@d";
    s.Relay = "127.0.0.1:" + std::to_string(port);
    auto client = Client();
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailureReason(),
              U("SMTP сервер отказал в соединении (127.0.0.1:") + std::to_string(port) + ": Connection refused).");
    SetSmtpHostResolverForTests([](const char*, const char*, const addrinfo*, addrinfo**) { return EAI_NONAME; });
    s.Relay = "relay.example";
    EXPECT_FALSE(client.Submit(s));
    SetSmtpHostResolverForTests(nullptr);
    EXPECT_EQ(client.FailedStage(), TSmtpStage::Relay);
    EXPECT_EQ(client.FailureReason(), U("Не удалось найти SMTP сервер (relay.example: ") + gai_strerror(EAI_NONAME) + ").");
    s.Relay = "";
    EXPECT_FALSE(client.Submit(s));
    EXPECT_EQ(client.FailureReason(), U("Не указан SMTP сервер."));
}
