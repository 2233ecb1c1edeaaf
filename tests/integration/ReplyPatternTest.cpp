// Web-gate replies judged by the operator's reply patterns, against scripted
// servers: bodies that say "failed" under a 2xx status, permanent refusals that
// are not retried, an endless body and patterns that do not compile.
#include "FakeHttpServer.h"
#include "engine/ManagerFixture.h"

#include "engine/HttpClient.h"
#include "engine/ReplyPattern.h"
#include "engine/StdSmsSender.h"

namespace {

TFakeHttpServer::TScript Always(const std::string& reply)
{
    return [reply](const std::string&) { return std::optional<std::string>(reply); };
}

class ReplyPatterns : public ::testing::Test {
protected:
    ReplyPatterns()
    {
        Operator.SetName(U("Шлюз"));
        Operator.GateType = TStdSmsSender::WebGateType;
        Operator.Options = &Options;
    }
    // The outcome of one delivery to a server answering status and body:
    // "<delivered>", the error text, or "permanent: " and the error text.
    std::string Deliver(const std::string& body, const std::string& status = "HTTP/1.1 200 OK")
    {
        TFakeHttpServer server(Always(TFakeHttpServer::Reply(status, body)));
        Operator.WebGate = server.url("/send?to={phone}");
        try {
            Operator.DoSend("1", "hi");
        } catch (const TPermanentError& e) {
            return "permanent: " + e.message();
        } catch (const TError& e) {
            return e.message();
        }
        return "<delivered>";
    }

    TSmsOptions Options;
    TStdSmsSender Operator;
    const std::string Refused = U("Шлюз отклонил сообщение: ");
};

} // namespace

TEST_F(ReplyPatterns, BodiesUnderATwoHundredStatusAreJudged)
{
    const std::string noMoney = "ERROR -1: no money\r\nid=5";
    EXPECT_EQ(Deliver(noMoney), "<delivered>"); // no patterns: any 2xx is a delivery

    Operator.ReplyOkPattern = "^OK";
    EXPECT_EQ(Deliver(noMoney), Refused + "ERROR -1: no money");
    EXPECT_EQ(Deliver("ok: 12"), "<delivered>"); // letter case does not matter
    EXPECT_EQ(Deliver(noMoney, "HTTP/1.1 500 Down"), "HTTP/1.1 500 Down"); // other statuses as before

    // The body is read in the operator's charset; Cyrillic letters match in either case;
    // the error shows the first line with text, control characters as blanks.
    Operator.Charset = "UTF-8";
    Operator.ReplyOkPattern.clear();
    Operator.ReplyTempFailPattern = U("busy|перегружен");
    EXPECT_EQ(Deliver("\r\n \t\r\n  Шлюз ПЕРЕГРУЖЕН,\tпозже  \r\nsecond"), Refused + U("Шлюз ПЕРЕГРУЖЕН, позже"));
    EXPECT_EQ(Deliver("Принято"), "<delivered>");
    // DEL and the byte CP1251 leaves unassigned are no more printable than a tab.
    Operator.Charset = "CP1251";
    EXPECT_EQ(Deliver("busy\x7f now\x1b[0m \x98x"), Refused + "busy  now [0m  x");
    Operator.Charset = "UTF-8";

    // The permanent pattern wins over the others; the text is cut at 200 characters.
    Operator.ReplyOkPattern = "status";
    Operator.ReplyPermFailPattern = R"("status"\s*:\s*"error")";
    const std::string json = R"({"status": "error", "text": ")" + std::string(300, 'x') + "\"}";
    EXPECT_EQ(Deliver(json), "permanent: " + Refused + json.substr(0, 200));
    EXPECT_EQ(Deliver(R"({"status": "ok"})"), "<delivered>");

    // A pattern that backtracks without end stops at its limit and fails the delivery.
    Operator.ReplyPermFailPattern = "^(a+a+)+$";
    EXPECT_EQ(Deliver(std::string(5000, 'a') + "!"),
              U("Не удалось проверить ответ шлюза по шаблону оператора \"Шлюз\": шаблон слишком сложен для "
                "такого ответа."));
}

TEST_F(ReplyPatterns, ABadPatternFailsBeforeAnythingIsSent)
{
    EXPECT_EQ(CheckReplyPattern(""), std::nullopt);
    EXPECT_EQ(CheckReplyPattern("^0: Accepted for delivery"), std::nullopt);
    EXPECT_EQ(CheckReplyPattern("ok)"), U("Ошибка в регулярном выражении (позиция 3): лишняя )."));
    EXPECT_EQ(CheckReplyPattern("[a-"), U("Ошибка в регулярном выражении (позиция 4): нет закрывающей ]."));
    EXPECT_EQ(CheckReplyPattern("(?<=a+)b").value_or("").rfind(U("Ошибка в регулярном выражении (позиция ")), 0u);

    Operator.ReplyPermFailPattern = "(unclosed";
    TFakeHttpServer server(Always(TFakeHttpServer::Reply("HTTP/1.1 200 OK")));
    Operator.WebGate = server.url("/");
    try {
        Operator.DoSend("1", "hi");
        ADD_FAILURE() << "a bad pattern must fail the delivery";
    } catch (const TError& e) {
        EXPECT_EQ(e.message(), U("Неверный шаблон ответа у оператора \"Шлюз\" (шаблон постоянной ошибки). ") +
                                   *CheckReplyPattern("(unclosed"));
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(ReplyPatterns, AnEndlessBodyIsCutAt64KB)
{
    TFakeHttpServer server(Always("HTTP/1.1 200 OK\r\n\r\n"));
    server.repeatAfterReply(std::string(4000, 'a'));
    THttpRequest request;
    request.Url = server.url("/");
    THttpResponse response = HttpGet(request);
    EXPECT_EQ(response.StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(response.Body, std::string(64 * 1024, 'a'));
    EXPECT_TRUE(response.BodyCut);

    // Patterns that backtrack once per character of the 64 KB line neither
    // overflow the stack nor give up.
    Operator.WebGate = server.url("/");
    Operator.ReplyOkPattern = "^a+$";
    Operator.ReplyPermFailPattern = "(a|b)*c";
    EXPECT_NO_THROW(Operator.DoSend("1", "hi"));
    Operator.ReplyTempFailPattern = "^(a|b)*$";
    try {
        Operator.DoSend("1", "hi");
        ADD_FAILURE() << "the temporary pattern matches";
    } catch (const TPermanentError&) {
        ADD_FAILURE() << "not a permanent failure";
    } catch (const TError& e) {
        EXPECT_EQ(e.message(), Refused + std::string(200, 'a'));
    }
}

TEST_F(ManagerTest, APermanentRefusalIsGivenUpAtOnceATemporaryOneIsRetried)
{
    SmsOptions().MaxTryCount = 3;
    TFakeHttpServer server([](const std::string& head) {
        bool unknown = RequestLine(head).find("to=1 ") != std::string::npos;
        return std::optional(TFakeHttpServer::Reply("HTTP/1.1 200 OK", unknown ? "unknown number" : "-1 busy"));
    });
    auto* gate = new TStdSmsSender;
    gate->SetName("Gate");
    gate->GateType = TStdSmsSender::WebGateType;
    gate->WebGate = server.url("/?to={phone}");
    gate->ReplyPermFailPattern = "unknown";
    gate->ReplyTempFailPattern = "^-1";
    M().AddSmsSender(gate);
    Queue({AddContact("A", "1", gate), AddContact("B", "2", gate)}, "hi");

    EXPECT_TRUE(M().SendNext());
    EXPECT_EQ(QueueNames(), std::vector<std::string> {"B"});
    EXPECT_EQ(M().Queue.FailedCount, 1);
    const std::string rule = std::string(80, '=') + "\r\n", dash = std::string(80, '-') + "\r\n";
    EXPECT_EQ(Read("SmsHistory.txt"), rule + U("Для: A (1)\r\nДата: 01.02.2026 09:05:03\r\nОшибка: Шлюз отклонил "
                                               "сообщение: unknown number\r\n") + dash + "hi\r\n");

    EXPECT_TRUE(M().SendNext()); // B: failed, but tried again later
    ASSERT_EQ(QueueNames(), std::vector<std::string> {"B"});
    EXPECT_EQ(M().Queue.Items(0)->TryCount, 1);
    EXPECT_EQ(M().Queue.Items(0)->ErrorText, U("Шлюз отклонил сообщение: -1 busy"));
    EXPECT_EQ(M().Queue.FailedCount, 1);
    EXPECT_EQ(server.requests().size(), 2u);
}
