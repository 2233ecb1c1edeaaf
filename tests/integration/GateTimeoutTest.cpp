// An operator's time limit for one web request or one SMTP reply, against a
// server that takes the connection and never says a word: the delivery fails
// after the operator's limit (30 s unless set), as a temporary failure with
// the reason in Russian, instead of holding the queue for minutes.
#include "engine/HttpClient.h"
#include "engine/StdSmsSender.h"
#include "model/Clock.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "storage/SmsOptions.h"
#include "support/SilentServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class GateTimeout : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetWaiter([](int) {}); // no pause after the piece
        Options.SmtpHost = "127.0.0.1:" + std::to_string(Server.Port);
        Options.SmtpFromAddress = "velotext@test.ru";
        Operator.Options = &Options;
        Operator.WebGate = "http://127.0.0.1:" + std::to_string(Server.Port) + "/send?to={phone}&text={message}";
        Operator.EmailGate = "{phone}@sms.test";
    }
    void TearDown() override { SetWaiter(nullptr); }

    // The failure of one delivery and the seconds it took.
    std::pair<std::optional<TSmsFailure>, double> Deliver()
    {
        const auto start = std::chrono::steady_clock::now();
        std::optional<TSmsFailure> failure = DeliverSms(&Operator, "+79161234567", "hi");
        return {failure, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
    }

    TSilentServer Server;
    TSmsOptions Options;
    TStdSmsSender Operator;
};

TEST_F(GateTimeout, ASilentGateFailsTemporarilyAfterTheOperatorsLimit)
{
    const struct {
        int GateType;
        const char* Reason;
    } gates[] = {
        {TStdSmsSender::WebGateType, "сервер не ответил вовремя (за 2 с;"},
        {TStdSmsSender::EmailGateType, "SMTP сервер не ответил вовремя"},
    };
    for (const auto& gate : gates) {
        Operator.GateType = gate.GateType;
        Operator.TimeoutSeconds = 2;
        const auto [failure, seconds] = Deliver();
        ASSERT_TRUE(failure) << gate.GateType;
        EXPECT_FALSE(failure->Permanent) << gate.GateType; // retried like any network trouble
        EXPECT_NE(failure->Text.find(U(gate.Reason)), std::string::npos) << gate.GateType << ": " << Cp1251ToUtf8(failure->Text);
        EXPECT_LT(seconds, 20.0) << gate.GateType; // not the minutes of the transports' own limits
    }
}

} // namespace
