// Delivery reports from a real Kannel: the message goes through the manager's
// delivery path with dlr-mask and the program's dlr-url; the fake SMSC
// acknowledges it, and bearerbox calls the listener with "smsc submit" (8) and
// then "delivered" (1). A forged report with a token the program never gave
// is refused and changes nothing.
#include "engine/ManagerFixture.h"

#include "engine/DeliveryTracker.h"
#include "engine/HttpClient.h"
#include "engine/StdSmsSender.h"
#include "support/KannelPeer.h"
#include "support/PeerProcess.h"

#include <chrono>
#include <thread>

namespace {

// One GET of the URL (raises TError for a status other than 2xx).
THttpResponse GetUrl(const std::string& url)
{
    THttpRequest request;
    request.Url = url;
    return HttpGet(request);
}

class KannelReports : public ManagerTest {
protected:
    static void SetUpTestSuite() { Peer = StartKannel(StartError); }
    static void TearDownTestSuite() { Peer.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(Peer) << StartError;
        RegisterIoClasses();
        DeliveryTracker().Close();
        DeliveryTracker().SetListenerPortForTests(0);
    }
    void TearDown() override
    {
        DeliveryTracker().Close();
        DeliveryTracker().SetListenerPortForTests(std::nullopt);
    }
    static inline std::unique_ptr<TPeerProcess> Peer;
    static inline std::string StartError;
};

TEST_F(KannelReports, DeliveredReportArrivesAndAForgedOneIsRefused)
{
    auto* kannel = new TStdSmsSender;
    kannel->SetName("Kannel");
    kannel->GateType = TStdSmsSender::WebGateType;
    kannel->WebGate = KannelWebGate(*Peer, "windows-1251");
    kannel->ReplyOkPattern = "^0: Accepted for delivery";
    kannel->DlrMask = 31;
    M().AddSmsSender(kannel);
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", kannel);
    Queue({anna}, U("Встреча в 15:00"));
    ASSERT_TRUE(M().SendNext());
    ASSERT_EQ(DeliveryTracker().Entries().size(), 1u);
    EXPECT_EQ(KannelArrivedText(Peer->value("log"), "+79161234503"), "Встреча в 15:00");

    const std::string forged = "http://127.0.0.1:" + std::to_string(DeliveryTracker().ListenerPort()) +
                               "/dlr?t=00000000000000000000000000000000&d=2&a=forged";
    EXPECT_NE(ErrorOf([&] { GetUrl(forged); }).find("403"), std::string::npos);

    TDeliveryState state = TDeliveryState::Accepted;
    for (int i = 0; i < 100 && state == TDeliveryState::Accepted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state = DeliveryTracker().Entries().at(0).State;
    }
    EXPECT_EQ(state, TDeliveryState::Delivered);
    EXPECT_EQ(DeliveryTracker().Entries().at(0).Reason, "");
}

} // namespace
