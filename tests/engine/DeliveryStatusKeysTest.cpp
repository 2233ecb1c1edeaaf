// The delivery-status settings of an operator in the operators file: written
// only when set (an operator without them is stored byte for byte as before),
// read back whole, and the id pattern taking the id out of a real reply.
#include "ManagerFixture.h"

#include "engine/ReplyPattern.h"
#include "engine/StdSmsSender.h"

namespace {

class DeliveryStatusKeysTest : public ManagerTest {
protected:
    DeliveryStatusKeysTest() { RegisterIoClasses(); }
    TStdSmsSender* AddStdSender(const std::string& name)
    {
        auto* sender = new TStdSmsSender;
        sender->SetName(name);
        sender->GateType = TStdSmsSender::WebGateType;
        sender->WebGate = "http://127.0.0.1/send?to={phone}&text={message}";
        M().AddSmsSender(sender);
        return sender;
    }
    // One operator's section of an operators file, up to the next section.
    static std::string Section(const std::string& file, const std::string& name)
    {
        const size_t at = file.find("[SmsSender:TStdSmsSender:" + name + "]");
        if (at == std::string::npos)
            return "";
        const size_t end = file.find("\r\n[", at);
        return file.substr(at, end == std::string::npos ? std::string::npos : end + 2 - at);
    }
};

TEST_F(DeliveryStatusKeysTest, StoredOnlyWhenSetAndReadBack)
{
    AddStdSender("Plain");
    M().SaveSmsSenders("Before.ini");
    const std::string before = Read("Before.ini");

    TStdSmsSender* gate = AddStdSender(U("Сервис"));
    gate->StatusIdPattern = R"x("id":\s*"(\w+)")x";
    gate->StatusUrl = "http://127.0.0.1/status?id={id}&to={phone}";
    gate->StatusDeliveredPattern = U("^доставлено|DELIVRD");
    gate->StatusFailedPattern = "UNDELIV|REJECTD";
    gate->StatusPendingPattern = "ENROUTE";
    TStdSmsSender* kannel = AddStdSender("Kannel");
    kannel->DlrMask = 31;
    M().SaveSmsSenders("After.ini");
    const std::string after = Read("After.ini");
    // The operator without the settings is the same bytes in both files.
    EXPECT_EQ(Section(after, "Plain"), before);
    EXPECT_NE(after.find(U("StatusIdPattern=\"\"id\":\\s*\"(\\w+)\"\"\r\n"
                           "StatusUrl=http://127.0.0.1/status?id={id}&to={phone}\r\n"
                           "StatusDeliveredPattern=^доставлено|DELIVRD\r\n"
                           "StatusFailedPattern=UNDELIV|REJECTD\r\nStatusPendingPattern=ENROUTE\r\n")),
              std::string::npos)
        << after;
    EXPECT_EQ(Section(after, "Kannel").find("Status"), std::string::npos);
    EXPECT_NE(after.find("Notes=\r\nDlrMask=31\r\n"), std::string::npos) << after;

    ResetSmsManagerForTests();
    M().LoadSmsSenders("After.ini");
    const auto* loaded = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName(U("Сервис"))]);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->StatusIdPattern, gate->StatusIdPattern);
    EXPECT_EQ(loaded->StatusUrl, "http://127.0.0.1/status?id={id}&to={phone}");
    EXPECT_EQ(loaded->StatusDeliveredPattern, U("^доставлено|DELIVRD"));
    EXPECT_EQ(loaded->StatusFailedPattern, "UNDELIV|REJECTD");
    EXPECT_EQ(loaded->StatusPendingPattern, "ENROUTE");
    EXPECT_EQ(loaded->DlrMask, 0);
    EXPECT_TRUE(loaded->AsksDeliveryStatus());
    const auto* plain = dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName("Plain")]);
    EXPECT_FALSE(plain->AsksDeliveryStatus());
    EXPECT_EQ(dynamic_cast<const TStdSmsSender*>(M().SmsSenders[M().SmsSenders.IndexOfName("Kannel")])->DlrMask, 31);

    // Loaded and saved again, nothing changes.
    M().SaveSmsSenders("Again.ini");
    EXPECT_EQ(Read("Again.ini"), after);
}

TEST(CompiledPattern, TakesTheIdOutOfRealReplies)
{
    struct {
        const char* pattern;
        const char* body;
        std::optional<std::string> id;
    } cases[] = {
        {R"x("id":\s*"(\w+)")x", R"({"status":"ok","id": "a7F3k9"})", "a7F3k9"},
        {R"(id=(\w+))", "OK id=100234\r\n", "100234"},
        {R"(^OK \d+)", "OK 5512 queued", "OK 5512"},               // no group: the whole match
        {R"(ID:\s*(\d+)|ERR (\d+))", "err 42", "42"},              // the group that took part; case ignored
        {R"(ID: (\d+))", "0: Accepted for delivery", std::nullopt}, // no id in the reply
    };
    for (const auto& c : cases) {
        TCompiledPattern pattern(c.pattern);
        EXPECT_EQ(pattern.Capture(c.body), c.id) << c.pattern;
        EXPECT_EQ(pattern.Matches(c.body), c.id.has_value()) << c.pattern;
    }
    EXPECT_EQ(ErrorOf([] { TCompiledPattern bad("id=(\\w+"); }),
              U("Ошибка в регулярном выражении (позиция 8): нет закрывающей )."));
    EXPECT_TRUE(TCompiledPattern("").Empty());
    EXPECT_FALSE(TCompiledPattern("").Matches("x"));
}

} // namespace
