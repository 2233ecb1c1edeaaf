// An operator's check for an operator that asks the delivery status: the id
// taken from the send reply and the first status query with its reply and
// verdict, the status URL's password masked.
#include "FakeHttpServer.h"

#include "engine/GateCheck.h"
#include "engine/StdSmsSender.h"
#include "model/Translit.h"
#include "storage/SmsOptions.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> StepsOf(const std::vector<TGateTraceLine>& lines, TGateStep kind)
{
    std::vector<std::string> texts;
    for (const auto& line : lines)
        if (line.Kind == kind)
            texts.push_back(line.Text);
    return texts;
}

TEST(GateCheckStatus, ShowsTheIdAndTheFirstStatusQueryWithItsVerdict)
{
    ResetSmsOptionsForTests();
    ResetTranslitTable();
    TFakeHttpServer server([](const std::string& head) {
        const std::string line = RequestLine(head);
        if (line.find("/send?") != std::string::npos)
            return std::optional<std::string>(TFakeHttpServer::Reply("HTTP/1.1 200 OK", "OK id=A77\r\n"));
        return std::optional<std::string>(TFakeHttpServer::Reply("HTTP/1.1 200 OK", "UNDELIV absent subscriber\r\n"));
    });
    TStdSmsSender sender;
    sender.SetName(U("Сервис"));
    sender.GateType = TStdSmsSender::WebGateType;
    sender.WebGate = server.url("/send?to={phone}&text={message}");
    sender.StatusIdPattern = R"(id=(\w+))";
    sender.StatusUrl = server.url("/status?id={id}&password=St4tus-Secret");
    sender.StatusDeliveredPattern = "^DELIVRD";
    sender.StatusFailedPattern = "^UNDELIV (.+)";
    TGateCheck check(sender, "+7 (916) 123-45-03", "hi", false);
    check.Run();
    const auto lines = check.Lines();
    std::string all;
    for (const auto& line : lines)
        all += line.Text + "\n";
    ASSERT_EQ(server.requests().size(), 2u) << all;
    EXPECT_EQ(RequestLine(server.requests()[1]), "GET /status?id=A77&password=St4tus-Secret HTTP/1.1");
    const auto verdicts = StepsOf(lines, TGateStep::Verdict);
    ASSERT_EQ(verdicts.size(), 3u) << all;
    EXPECT_EQ(verdicts[1], U("Номер сообщения у шлюза: A77"));
    EXPECT_EQ(verdicts[2], U("Статус доставки: не доставлено: absent subscriber"));
    const auto requests = StepsOf(lines, TGateStep::Request);
    EXPECT_NE(std::find(requests.begin(), requests.end(),
                        U("Первый запрос статуса: GET ") + server.url("/status?id=A77&password=***")),
              requests.end())
        << all;
    EXPECT_EQ(all.find("St4tus-Secret"), std::string::npos) << all;
    EXPECT_FALSE(check.Outcome());
}

} // namespace
