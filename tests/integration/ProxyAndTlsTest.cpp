// The web gate through real proxies with Basic authentication (tinyproxy,
// squid) and over TLS to a real HTTPS server with its own certificate.
#include "FakeHttpServer.h"

#include "engine/HttpClient.h"
#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "storage/SmsOptions.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string kLeadIn = U("Ошибка соединения с SMS шлюзом: ");

std::unique_ptr<TPeerProcess> StartPeer(const std::vector<std::string>& argv, std::string& error)
{
    try {
        return std::make_unique<TPeerProcess>(argv, 60);
    } catch (const std::exception& e) {
        error += e.what();
        return nullptr;
    }
}

class PeerSuite : public ::testing::Test {
protected:
    void SetUp() override
    {
        Saved = HttpSettings();
        Operator.GateType = TStdSmsSender::WebGateType;
        Operator.Options = &Options;
    }
    void TearDown() override { SetHttpSettings(Saved); }

    std::string Deliver(const std::string& phone = "+7900", const std::string& text = "hi")
    {
        try {
            Operator.DoSend(phone, text);
        } catch (const TError& e) {
            return e.message();
        }
        return "<delivered>";
    }

    void UseProxy(const TPeerProcess& proxy, bool auth, const std::string& user, const std::string& pass)
    {
        Options.ProxyServer = "127.0.0.1";
        Options.ProxyPort = proxy.port();
        Options.ProxyAuthFlag = auth;
        Options.ProxyUsername = user;
        Options.ProxyPassword = pass;
    }

    void TrustTestCertificate(const TPeerProcess& https)
    {
        THttpSettings s = HttpSettings();
        s.CaFile = https.value("ca");
        SetHttpSettings(s);
    }

    THttpSettings Saved;
    TSmsOptions Options;
    TStdSmsSender Operator;
};

class HttpsGate : public PeerSuite {
protected:
    static void SetUpTestSuite() { Https = StartPeer({"/usr/bin/python3", PeerScript("https_server.py")}, Error); }
    static void TearDownTestSuite() { Https.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(Https) << Error;
        PeerSuite::SetUp();
        Https->drainOutput();
    }
    static std::string Url(const std::string& host, const std::string& path)
    {
        return "https://" + host + ":" + Https->value("port") + path;
    }
    static inline std::unique_ptr<TPeerProcess> Https;
    static inline std::string Error;
};

class ProxyGate : public PeerSuite {
protected:
    static void SetUpTestSuite()
    {
        Tinyproxy = StartPeer({"bash", PeerScript("tinyproxy.sh"), "proxyuser", "proxypass"}, Error);
        Squid = StartPeer({"bash", PeerScript("squid.sh"), "squiduser", "squidpass"}, Error);
        Https = StartPeer({"/usr/bin/python3", PeerScript("https_server.py")}, Error);
    }
    static void TearDownTestSuite()
    {
        Tinyproxy.reset();
        Squid.reset();
        Https.reset();
    }
    void SetUp() override
    {
        ASSERT_TRUE(Tinyproxy && Squid && Https) << Error;
        PeerSuite::SetUp();
    }
    static inline std::unique_ptr<TPeerProcess> Tinyproxy, Squid, Https;
    static inline std::string Error;
};

} // namespace

TEST_F(HttpsGate, DeliversOverVerifiedTls)
{
    TrustTestCertificate(*Https);
    Operator.WebGate = Url("localhost", "/send?to={phone}&text={message}");
    EXPECT_EQ(Deliver("+7 900", U("Да")), "<delivered>");
    EXPECT_NE(Https->drainOutput().find("REQUEST GET /send?to=%2B7900&text=%C4%E0 HTTP/1.1"), std::string::npos);

    Operator.WebGate = Url("localhost", "/status/404");
    EXPECT_EQ(Deliver(), "HTTP/1.1 404 Not Found");
}

TEST_F(HttpsGate, UntrustedCertificateOrWrongHostFails)
{
    // The system's store does not know this server's certificate.
    Operator.WebGate = Url("localhost", "/untrusted");
    std::string error = Deliver();
    EXPECT_EQ(error.rfind(kLeadIn, 0), 0u) << error;
    EXPECT_NE(error.find("certificate"), std::string::npos) << error;
    EXPECT_EQ(error.rfind(kLeadIn + U("сертификат сервера не прошёл проверку ("), 0), 0u) << error;

    // Trusted, but issued for another name than the one in the URL.
    TrustTestCertificate(*Https);
    Operator.WebGate = Url("127.0.0.1", "/wrong-host");
    error = Deliver();
    EXPECT_EQ(error.rfind(kLeadIn, 0), 0u) << error;
    EXPECT_EQ(Https->drainOutput().find("REQUEST"), std::string::npos);
}

TEST_F(ProxyGate, TinyproxyPassesTheRightCredentialsOnly)
{
    TFakeHttpServer origin([](const std::string&) {
        return std::optional<std::string>(TFakeHttpServer::Reply("HTTP/1.1 200 OK"));
    });
    Operator.WebGate = origin.url("/send?to={phone}&text={message}");

    UseProxy(*Tinyproxy, true, "proxyuser", "proxypass");
    EXPECT_EQ(Deliver("+7900", U("Да")), "<delivered>");
    ASSERT_EQ(origin.requests().size(), 1u);
    const std::string head = origin.requests()[0];
    EXPECT_EQ(RequestLine(head).rfind("GET /send?to=%2B7900&text=%C4%E0 HTTP/1.", 0), 0u) << head;
    EXPECT_EQ(HeaderValue(head, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(HeaderValue(head, "Proxy-Authorization"), "");

    // This tinyproxy answers wrong credentials with 401 and missing ones with 407.
    UseProxy(*Tinyproxy, true, "proxyuser", "wrong");
    EXPECT_EQ(Deliver(), "HTTP/1.0 401 Unauthorized");
    UseProxy(*Tinyproxy, false, "proxyuser", "proxypass");
    EXPECT_EQ(Deliver(), "HTTP/1.0 407 Proxy Authentication Required");
    EXPECT_EQ(origin.requests().size(), 1u);
}

TEST_F(ProxyGate, TinyproxyPassesTheGatewaysErrorStatus)
{
    TFakeHttpServer origin([](const std::string&) {
        return std::optional<std::string>(TFakeHttpServer::Reply("HTTP/1.1 403 Forbidden"));
    });
    Operator.WebGate = origin.url("/send");
    UseProxy(*Tinyproxy, true, "proxyuser", "proxypass");
    std::string error = Deliver();
    EXPECT_NE(error.find(" 403 Forbidden"), std::string::npos) << error;
    EXPECT_EQ(error.rfind("HTTP/1.", 0), 0u) << error;
}

TEST_F(ProxyGate, HttpsThroughTheProxyTunnelReportsTheGatewaysStatus)
{
    TrustTestCertificate(*Https);
    Operator.WebGate = "https://localhost:" + Https->value("port") + "/status/404";
    UseProxy(*Tinyproxy, true, "proxyuser", "proxypass");
    // Not the proxy's "Connection established": the gateway's own answer.
    EXPECT_EQ(Deliver(), "HTTP/1.1 404 Not Found");
    Operator.WebGate = "https://localhost:" + Https->value("port") + "/ok";
    EXPECT_EQ(Deliver(), "<delivered>");
    UseProxy(*Squid, true, "squiduser", "squidpass");
    EXPECT_EQ(Deliver(), "<delivered>");
    UseProxy(*Squid, true, "squiduser", "wrong");
    EXPECT_EQ(Deliver(), "HTTP/1.1 407 Proxy Authentication Required");
}

TEST_F(ProxyGate, SquidPassesTheRightCredentialsOnly)
{
    TFakeHttpServer origin([](const std::string&) {
        return std::optional<std::string>(TFakeHttpServer::Reply("HTTP/1.1 202 Accepted"));
    });
    Operator.WebGate = origin.url("/send?text={message}");

    UseProxy(*Squid, true, "squiduser", "squidpass");
    EXPECT_EQ(Deliver("1", "a b"), "<delivered>");
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(RequestLine(origin.requests()[0]), "GET /send?text=a+b HTTP/1.1");
    EXPECT_EQ(HeaderValue(origin.requests()[0], "Proxy-Authorization"), "");

    UseProxy(*Squid, true, "squiduser", "wrong");
    EXPECT_EQ(Deliver(), "HTTP/1.1 407 Proxy Authentication Required");
    UseProxy(*Squid, false, "", "");
    EXPECT_EQ(Deliver(), "HTTP/1.1 407 Proxy Authentication Required");
    EXPECT_EQ(origin.requests().size(), 1u);
}
