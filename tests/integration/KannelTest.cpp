// The web gate against a real SMS gateway: Kannel's smsbox takes the request
// and hands the message to a fake SMSC, whose log shows what would reach the
// phone. The text is checked there, decoded from UCS-2.
#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "storage/SmsOptions.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

class KannelGate : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Peer = StartKannel(StartError); }
    static void TearDownTestSuite() { Peer.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(Peer) << StartError;
        Operator.GateType = TStdSmsSender::WebGateType;
        Operator.Options = &Options;
    }

    static std::string Template(const std::string& kannelCharset, const std::string& password = "")
    {
        return KannelWebGate(*Peer, kannelCharset, password);
    }

    std::string Deliver(const std::string& phone, const std::string& text)
    {
        try {
            Operator.DoSend(phone, text);
        } catch (const TError& e) {
            return e.message();
        }
        return "<delivered>";
    }

    static std::string ArrivedText(const std::string& phone) { return KannelArrivedText(Peer->value("log"), phone); }

    static inline std::unique_ptr<TPeerProcess> Peer;
    static inline std::string StartError;
    TSmsOptions Options;
    TStdSmsSender Operator;
};

} // namespace

TEST_F(KannelGate, CyrillicArrivesFromEveryCharset)
{
    struct TCase {
        const char* charset;       // the operator's
        const char* kannelCharset; // the gateway's name for it
        const char* phone;
    };
    const std::vector<TCase> cases = {
        {"CP1251", "windows-1251", "+79001000001"},
        {"KOI8-R", "KOI8-R", "+79001000002"},
        {"UTF-8", "UTF-8", "+79001000003"},
    };
    const std::string text = "Привет, мир! Ёжик: 1+1=2 & 100% {year}";
    for (const auto& c : cases) {
        Operator.Charset = c.charset;
        Operator.WebGate = Template(c.kannelCharset);
        EXPECT_EQ(Deliver(c.phone, U(text)), "<delivered>") << c.charset;
    }
    for (const auto& c : cases)
        EXPECT_EQ(ArrivedText(c.phone), text) << c.charset;
}

TEST_F(KannelGate, UkrainianLettersThroughKoi8U)
{
    Operator.Charset = "KOI8-U";
    Operator.WebGate = Template("KOI8-U");
    EXPECT_EQ(Deliver("+380501000004", U("Ґанок їжака є і тут")), "<delivered>");
    EXPECT_EQ(ArrivedText("+380501000004"), "Ґанок їжака є і тут");
}

TEST_F(KannelGate, GatewayRefusalsFailWithTheirStatusLines)
{
    Operator.WebGate = Template("windows-1251", "wrong-password");
    EXPECT_EQ(Deliver("+79001000005", "x"), "HTTP/1.1 403 Forbidden");

    Operator.WebGate = "http://127.0.0.1:" + Peer->value("port") + "/cgi-bin/sendsms?username=" +
                       Peer->value("user") + "&password=" + Peer->value("pass") + "&text={message}";
    EXPECT_EQ(Deliver("+79001000006", "x"), "HTTP/1.1 400 Bad Request");

    Operator.WebGate = "http://127.0.0.1:" + Peer->value("port") + "/cgi-bin/nothing-here";
    EXPECT_EQ(Deliver("+79001000007", "x"), "HTTP/1.1 404 Not Found");
}

TEST_F(KannelGate, Utf7DecodedByTheGateway)
{
    Operator.Charset = "UTF-7";
    Operator.WebGate = Template("UTF-7");
    // ("~" and "\\" go out as themselves, which this gateway's strict decoder does not take.)
    const std::string text = "Привет, мир! 1+1=2 & 100% {Ёж} -+- ЯЮ";
    EXPECT_EQ(Deliver("+79001000008", U(text)), "<delivered>");
    EXPECT_EQ(ArrivedText("+79001000008"), text);
}

TEST_F(KannelGate, TheAcceptedReplyPassesAnOkPattern)
{
    Operator.WebGate = Template("windows-1251");
    Operator.ReplyOkPattern = "^0: Accepted for delivery";
    EXPECT_EQ(Deliver("+79001000009", U("Принято")), "<delivered>");
    EXPECT_EQ(ArrivedText("+79001000009"), "Принято");

    // A pattern the reply does not meet fails the delivery with the gateway's own words.
    Operator.ReplyOkPattern = U("^3: Queued|^отправлено");
    EXPECT_EQ(Deliver("+79001000010", "x"), U("Шлюз отклонил сообщение: 0: Accepted for delivery"));
}

// A number stored as people write it reaches the gateway as one number: each
// piece of a long text goes once, to the digits, not to "8", "(903)" and "555-00-01".
TEST_F(KannelGate, AFormattedNumberGetsEachPieceOnceAtItsDigits)
{
    TFakeWaiter noPauses; // the 3 s between pieces
    Operator.WebGate = Template("windows-1251");
    Operator.MaxSmsLen = 70;
    const std::string log = Peer->value("log");
    const size_t before = KannelSettledCount(log);
    const std::string text = "Первая часть длинного сообщения, и вторая часть его же, и ещё немного слов.";
    ASSERT_EQ(SmsPieces(U(text), Operator.MaxSmsLen).size(), 2u);
    Operator.Send("8 (903) 555-00-01", U(text), nullptr);
    EXPECT_EQ(KannelPhonesAfter(log, before, 2), (std::vector<std::string> {"89035550001", "89035550001"}));

    const size_t next = KannelArrivedPhones(log).size();
    EXPECT_EQ(Deliver("+7 916 123-45-02", U("Короткое")), "<delivered>");
    EXPECT_EQ(KannelPhonesAfter(log, next, 1), std::vector<std::string> {"+79161234502"});
}
