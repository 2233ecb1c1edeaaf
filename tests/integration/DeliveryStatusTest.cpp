// Delivery status through the real delivery path (the manager's SendNext, the
// web gate, libcurl) against a recording server that answers sends with an
// id and status queries by a script, on the fake clock: pending then
// delivered, pending then not delivered with the reason, no answer until the
// wait ends in "неизвестно", a restart in the middle; and Kannel-style
// reports to the listener, a forged one refused.
#include "FakeHttpServer.h"
#include "engine/ManagerFixture.h"

#include "engine/DeliveryTracker.h"
#include "engine/HttpClient.h"
#include "engine/ReportListener.h"
#include "engine/StdSmsSender.h"
#include "storage/DeliveryStatusFile.h"

#include <map>

namespace {

// One GET of the URL (raises TError for a status other than 2xx).
THttpResponse GetUrl(const std::string& url)
{
    THttpRequest request;
    request.Url = url;
    return HttpGet(request);
}

class DeliveryStatusTest : public ManagerTest {
protected:
    DeliveryStatusTest()
        : Server([this](const std::string& head) { return Answer(head); })
    {
        RegisterIoClasses();
        THttpSettings settings;
        settings.ConnectTimeoutMs = 2000;
        settings.TotalTimeoutMs = 5000;
        SetHttpSettings(settings);
        DeliveryTracker().Close();
        DeliveryTracker().SetListenerPortForTests(0);
        Operator = new TStdSmsSender;
        Operator->SetName(U("Сервис"));
        Operator->GateType = TStdSmsSender::WebGateType;
        Operator->WebGate = Server.url("/send?to={phone}&text={message}");
        Operator->StatusIdPattern = R"(id=(\w+))";
        Operator->StatusUrl = Server.url("/status?id={id}&to={phone}");
        Operator->StatusDeliveredPattern = "^DELIVRD";
        Operator->StatusFailedPattern = "^UNDELIV (.+)";
        Operator->StatusPendingPattern = "^ENROUTE";
        M().AddSmsSender(Operator);
    }
    ~DeliveryStatusTest() override
    {
        DeliveryTracker().Close();
        DeliveryTracker().SetListenerPortForTests(std::nullopt);
        SetHttpSettings(THttpSettings());
    }

    std::optional<std::string> Answer(const std::string& head)
    {
        std::string target = RequestLine(head);
        target = target.substr(4, target.rfind(' ') - 4);
        std::lock_guard lock(Mutex);
        if (target.rfind("/send?", 0) == 0) {
            if (OnSend)
                OnSend(target);
            return TFakeHttpServer::Reply("HTTP/1.1 200 OK", "OK id=" + std::to_string(++LastId) + "\r\n");
        }
        std::string id;
        if (target.rfind("/status?", 0) == 0 && QueryParameter(target, "id", id)) {
            ++Asked[id];
            auto& script = Scripts[id];
            if (script.empty())
                return TFakeHttpServer::Reply("HTTP/1.1 503 Service Unavailable", "busy");
            std::string body = script.front();
            script.pop_front();
            return TFakeHttpServer::Reply("HTTP/1.1 200 OK", body);
        }
        return TFakeHttpServer::Reply("HTTP/1.1 404 Not Found", "no");
    }
    void Script(const std::string& id, std::deque<std::string> bodies)
    {
        std::lock_guard lock(Mutex);
        Scripts[id] = std::move(bodies);
    }
    int AskedOf(const std::string& id)
    {
        std::lock_guard lock(Mutex);
        return Asked[id];
    }
    // Sends one message to each contact through the real delivery path.
    void SendTo(const std::vector<TContact*>& contacts)
    {
        Queue(contacts, U("Встреча в 15:00"));
        for (size_t i = 0; i < contacts.size(); ++i)
            ASSERT_TRUE(M().SendNext());
    }
    void At(long long seconds) { Clock.set(FromLocalSeconds(seconds)); }
    TDeliveryEntry StateOf(const TContact* contact)
    {
        for (const TDeliveryEntry& e : DeliveryTracker().Entries())
            if (e.Name == contact->Name())
                return e;
        ADD_FAILURE() << "no state for " << contact->Name();
        return {};
    }
    // The states as a restarted program reads them from the file.
    TDeliveryBook OnDisk()
    {
        TDeliveryBook book;
        LoadDeliveryBook(book, "SmsHistory.delivery");
        return book;
    }

    TFakeHttpServer Server;
    TStdSmsSender* Operator = nullptr;
    std::mutex Mutex;
    int LastId = 100;
    std::map<std::string, std::deque<std::string>> Scripts;
    std::map<std::string, int> Asked;
    std::function<void(const std::string&)> OnSend;
    const long long T0 = LocalSeconds(MakeDateTime(2026, 2, 1, 9, 5, 3));
};

TEST_F(DeliveryStatusTest, PendingThenDeliveredAndPendingThenNotDeliveredWithTheReason)
{
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    TContact* oleg = AddContact(U("Олег"), "8 903 555-00-01", Operator);
    Script("101", {"ENROUTE", "DELIVRD"});
    Script("102", {"ENROUTE", "UNDELIV absent subscriber"});
    SendTo({anna, oleg});
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Accepted);
    EXPECT_EQ(StateOf(anna).GateId, "101");
    EXPECT_EQ(StateOf(oleg).GateId, "102");
    // The status URL as the operator's template makes it, the number as the gateway gets it.
    EXPECT_EQ(StateOf(anna).QueryUrl, Server.url("/status?id=101&to=%2B79161234503"));
    // Joined to the history record by name, phone and date.
    ASSERT_TRUE(M().Finished);
    EXPECT_TRUE(DeliveryTracker().Entry(M().Finished->Name, M().Finished->Phone, M().Finished->Date));

    DeliveryTracker().PollNow(); // nothing is due yet
    At(T0 + 29);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 0);
    At(T0 + 30);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 1);
    EXPECT_EQ(AskedOf("102"), 1);
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Accepted); // "ожидает"
    At(T0 + 30 + 119);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 1);
    At(T0 + 30 + 120);
    DeliveryTracker().PollNow();
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Delivered);
    EXPECT_EQ(StateOf(oleg).State, TDeliveryState::NotDelivered);
    EXPECT_EQ(StateOf(oleg).Reason, "absent subscriber");
    // Final: never asked again; the file holds the verdicts.
    At(T0 + 100000);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 2);
    const TDeliveryBook disk = OnDisk();
    ASSERT_EQ(disk.Entries().size(), 2u);
    EXPECT_EQ(disk.Entries()[1].State, TDeliveryState::NotDelivered);
    EXPECT_EQ(disk.Entries()[1].Reason, "absent subscriber");
}

TEST_F(DeliveryStatusTest, NoAnswerEndsUnknownAfterTheWait)
{
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    SendTo({anna}); // its status queries get 503 every time
    int rounds = 0;
    for (long long due = DeliveryTracker().NextDue(); due != 0; due = DeliveryTracker().NextDue()) {
        At(due);
        DeliveryTracker().PollNow();
        ASSERT_LT(++rounds, 100);
    }
    const TDeliveryEntry state = StateOf(anna);
    EXPECT_EQ(state.State, TDeliveryState::Unknown);
    EXPECT_EQ(state.FinalAt, T0 + DefaultDeliveryWaitSeconds);
    // 30 s, 2 min, 10 min, 1 h, then every 6 h within the three days.
    EXPECT_EQ(AskedOf("101"), 4 + (DefaultDeliveryWaitSeconds - 4350 - 1) / 21600);
    EXPECT_EQ(OnDisk().Entries().at(0).State, TDeliveryState::Unknown);
}

TEST_F(DeliveryStatusTest, ARestartInTheMiddleKeepsPolling)
{
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    Script("101", {"ENROUTE", "ENROUTE", "DELIVRD"});
    SendTo({anna});
    At(T0 + 30);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 1);

    // The program stops and starts again: the operators need not be there.
    DeliveryTracker().Close();
    ResetSmsManagerForTests();
    DeliveryTracker().Open("SmsHistory.delivery");
    DeliveryTracker().PollNow(); // the next query is not due before 2 min
    EXPECT_EQ(AskedOf("101"), 1);
    At(T0 + 150);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 2);
    At(T0 + 750);
    DeliveryTracker().PollNow();
    EXPECT_EQ(AskedOf("101"), 3);
    EXPECT_EQ(DeliveryTracker().Entries().at(0).State, TDeliveryState::Delivered);
}

TEST_F(DeliveryStatusTest, AReplyWithoutTheIdIsUnknownAtOnce)
{
    Operator->StatusIdPattern = R"(message_id=(\d+))"; // the reply says "OK id=101"
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    SendTo({anna});
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Unknown);
    EXPECT_EQ(StateOf(anna).Reason, U("шлюз не назвал номер сообщения"));
}

TEST_F(DeliveryStatusTest, AnOperatorWithoutStatusIsNotFollowed)
{
    Operator->StatusIdPattern.clear();
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    SendTo({anna});
    EXPECT_TRUE(DeliveryTracker().Entries().empty());
    EXPECT_FALSE(Data.dir().read("SmsHistory.txt").empty());
    EXPECT_EQ(Server.requests().size(), 1u);
    EXPECT_EQ(RequestLine(Server.requests()[0]).find("dlr"), std::string::npos);
}

// Kannel calls the dlr-url it was given with %d and %A filled in.
std::string KannelCallback(const std::string& sendTarget, const std::string& type, const std::string& text)
{
    std::string url;
    EXPECT_TRUE(QueryParameter(sendTarget, "dlr-url", url)) << sendTarget;
    url.replace(url.find("%d"), 2, type);
    url.replace(url.find("%A"), 2, text);
    return url;
}

TEST_F(DeliveryStatusTest, ReportsOfTheMessagesSentAreTakenAForgedOneIsRefused)
{
    Operator->StatusIdPattern.clear();
    Operator->DlrMask = 31;
    TContact* anna = AddContact(U("Анна Петрова"), "+7 (916) 123-45-03", Operator);
    TContact* oleg = AddContact(U("Олег"), "8 903 555-00-01", Operator);
    std::vector<std::string> sends;
    OnSend = [&](const std::string& target) {
        sends.push_back(target);
        if (sends.size() == 1) // this gateway reports before it answers the send
            GetUrl(KannelCallback(target, "8", "ACK%2F"));
    };
    SendTo({anna, oleg});
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_NE(sends[0].find("&dlr-mask=31&dlr-url=http%3A%2F%2F127%2E0%2E0%2E1%3A"), std::string::npos) << sends[0];
    EXPECT_NE(DeliveryTracker().ListenerPort(), 0);
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Accepted);

    GetUrl(KannelCallback(sends[0], "1", "DELIVRD"));
    GetUrl(KannelCallback(sends[1], "2", "UNDELIV+absent"));
    EXPECT_EQ(StateOf(anna).State, TDeliveryState::Delivered);
    EXPECT_EQ(StateOf(oleg).State, TDeliveryState::NotDelivered);
    EXPECT_EQ(StateOf(oleg).Reason, "UNDELIV absent");

    // Forged: a token the program never gave, no token, another path, a type Kannel has not.
    const std::string base = "http://127.0.0.1:" + std::to_string(DeliveryTracker().ListenerPort());
    std::string token;
    ASSERT_TRUE(QueryParameter(KannelCallback(sends[1], "1", ""), "t", token));
    for (const std::string& forged : {base + "/dlr?t=0123456789abcdef0123456789abcdef&d=1&a=",
                                      base + "/dlr?d=1", base + "/other?t=" + token + "&d=1",
                                      base + "/dlr?t=" + token + "&d=3"}) {
        const std::string error = ErrorOf([&] { GetUrl(forged); });
        EXPECT_TRUE(error.find("403") != std::string::npos || error.find("400") != std::string::npos)
            << forged << ": " << error;
    }
    EXPECT_EQ(StateOf(oleg).State, TDeliveryState::NotDelivered);
    EXPECT_EQ(OnDisk().Entries().size(), 2u);
}

} // namespace
