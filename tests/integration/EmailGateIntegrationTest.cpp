// The e-mail gate against a real SMTP server (aiosmtpd on 127.0.0.1) that
// requires a login: CRAM-MD5 and LOGIN, the message as it arrived byte for
// byte, encoded subjects that decode back, dot-stuffing undone by the server,
// and a wrong password that ends in the gate's failure message.
#include "engine/SmtpClient.h"
#include "engine/StdSmsSender.h"
#include "model/Error.h"
#include "storage/SmsOptions.h"
#include "support/PeerProcess.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <iconv.h>

namespace {

const char* const kUser = "velo";
const char* const kPassword = "s3cret-pw";

// A running aiosmtpd that keeps every accepted message in its own folder.
struct TSmtpPeer {
    TTempDir Dir;
    TPeerProcess Process;

    explicit TSmtpPeer(std::vector<std::string> extra = {}, const std::string& user = kUser,
                       const std::string& password = kPassword)
        : Process(Args(Dir.path(), user, password, std::move(extra)))
    {
    }

    static std::vector<std::string> Args(const std::string& dir, const std::string& user,
                                         const std::string& password, std::vector<std::string> extra)
    {
        std::vector<std::string> argv {"/usr/bin/python3", PeerScript("smtp_peer.py"), "--user=" + user,
                                       "--password=" + password, "--dir=" + dir, "--require-auth"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
    }

    std::string relay() const { return "127.0.0.1:" + std::to_string(Process.port()); }
    int messageCount() const
    {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(Dir.path()))
            n += e.path().extension() == ".eml";
        return n;
    }
    std::string message(int n = 1) const { return Dir.read("message-00" + std::to_string(n) + ".eml"); }
    std::string meta(int n = 1) const { return Dir.read("message-00" + std::to_string(n) + ".json"); }
};

struct TGate {
    TSmsOptions Options;
    TStdSmsSender Sender;
    TFakeClock Clock {MakeDateTime(2026, 12, 6, 22, 49, 42, 180)};

    TGate(const TSmtpPeer& peer, const std::string& charset)
    {
        Options.SmtpHost = peer.relay();
        Options.SmtpUsername = kUser;
        Options.SmtpPassword = kPassword;
        Options.SmtpFromAddress = "Velotext <velotext@test.ru>";
        Sender.Options = &Options;
        Sender.Charset = charset;
        Sender.EmailGate = "{phone}@sms.test";
    }
};

// The unfolded value of a header of a raw message.
std::string HeaderValue(const std::string& raw, const std::string& name)
{
    size_t start = raw.find("\r\n" + name + ": ");
    if (raw.rfind(name + ": ", 0) == 0)
        start = 0;
    else if (start == std::string::npos)
        return "<none>";
    else
        start += 2;
    start += name.size() + 2;
    std::string value;
    for (;;) {
        size_t end = raw.find("\r\n", start);
        value += raw.substr(start, end - start);
        if (end == std::string::npos || (raw[end + 2] != ' ' && raw[end + 2] != '\t'))
            return value;
        start = end + 2;
    }
}

// Decodes a header made of RFC 2047 Q encoded words: the charset label and the bytes.
std::string DecodeQWords(const std::string& header, std::string& charset)
{
    std::string bytes;
    size_t pos = 0;
    while ((pos = header.find("=?", pos)) != std::string::npos) {
        size_t q = header.find("?Q?", pos + 2);
        size_t end = header.find("?=", q + 3);
        if (q == std::string::npos || end == std::string::npos)
            break;
        charset = header.substr(pos + 2, q - pos - 2);
        for (size_t i = q + 3; i < end; ++i) {
            if (header[i] == '_')
                bytes += ' ';
            else if (header[i] == '=' && i + 2 < end) {
                bytes += static_cast<char>(std::stoi(header.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else
                bytes += header[i];
        }
        pos = end + 2;
    }
    return bytes;
}

// Independent conversion to UTF-8 through the C library.
std::string ToUtf8(const std::string& bytes, const std::string& charset)
{
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no converter for " + charset + ">";
    std::string in = bytes, out(bytes.size() * 4 + 16, '\0');
    char* inp = in.data();
    char* outp = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1))
        return "<not convertible>";
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

TEST(EmailGateIntegration, MessageArrivesByteForByteAfterCramMd5)
{
    TSmtpPeer peer;
    TGate gate(peer, "KOI8-R");
    gate.Sender.EmailBody = "{message}\r\n.\r\n..end";
    gate.Sender.DoSend("9001234567", U("Привет"));

    ASSERT_EQ(peer.messageCount(), 1);
    const std::string expected =
        "From: \"Velotext\"<velotext@test.ru>\r\n"
        "To: 9001234567@sms.test\r\n"
        "Subject: =?KOI8-R?Q?=F0=D2=C9=D7=C5=D4?=\r\n"
        "Date: Sun, 6 Dec 2026 22:49:42 +0300\r\n"
        "MIME-Version: 1.0\r\n"
        "X-mailer: Velotext\r\n"
        "Reply-To: velotext@test.ru\r\n"
        "Content-type: text/plain; charset=KOI8-R\r\n"
        "Content-Description: Message text\r\n"
        "Content-Disposition: inline\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        "\xF0\xD2\xC9\xD7\xC5\xD4\r\n"
        ".\r\n"
        "..end\r\n";
    EXPECT_EQ(peer.message(), expected);
    std::string meta = peer.meta();
    EXPECT_NE(meta.find("\"mechanism\": \"CRAM-MD5\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"mail_from\": \"velotext@test.ru\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"rcpt_tos\": [\"9001234567@sms.test\"]"), std::string::npos) << meta;
    // The size announced with MAIL FROM is the size of what arrived.
    EXPECT_NE(meta.find("\"SIZE=" + std::to_string(expected.size()) + "\""), std::string::npos) << meta;
}

// A number stored with blanks, brackets and dashes goes into the address, the
// subject and the body as its digits: "+7 (916) 123-45-02@..." is no address.
TEST(EmailGateIntegration, AFormattedNumberGoesAsItsDigits)
{
    TSmtpPeer peer;
    TGate gate(peer, "CP1251");
    gate.Sender.EmailSubj = "SMS {phone}";
    gate.Sender.EmailBody = "{phone}: {message}";
    gate.Sender.DoSend("+7 (916) 123-45-02", "hello");
    ASSERT_EQ(peer.messageCount(), 1);
    EXPECT_NE(peer.meta().find("\"rcpt_tos\": [\"+79161234502@sms.test\"]"), std::string::npos) << peer.meta();
    EXPECT_EQ(HeaderValue(peer.message(), "Subject"), "SMS +79161234502");
    EXPECT_NE(peer.message().find("\r\n\r\n+79161234502: hello\r\n"), std::string::npos) << peer.message();
}

TEST(EmailGateIntegration, LongSubjectsDecodeBackInEveryHeaderCharset)
{
    TSmtpPeer peer;
    const char* subject = "Привет, мир! Это длинная тема письма: проверка кодирования (и переноса строк)";
    const std::pair<std::string, std::string> charsets[] = {{"KOI8-R", "KOI8-R"}, {"UTF-8", "UTF-8"},
                                                           {"CP1251", "WINDOWS-1251"}, {"KOI8-U", "KOI8-U"}};
    int n = 0;
    for (const auto& [name, mime] : charsets) {
        TGate gate(peer, name);
        gate.Sender.DoSend("1", U(subject));
        ASSERT_EQ(peer.messageCount(), ++n);
        std::string raw = peer.message(n);
        // Folded: a header line of 78 characters or more is one piece that has no blank to fold at.
        std::string headers = raw.substr(0, raw.find("\r\n\r\n"));
        for (size_t start = 0, end; start < headers.size(); start = end + 2) {
            end = headers.find("\r\n", start);
            end = end == std::string::npos ? headers.size() : end;
            std::string line = headers.substr(start, end - start);
            if (line.size() >= 78) {
                EXPECT_EQ(line[0], ' ') << line;
                EXPECT_EQ(line.find(' ', 1), std::string::npos) << line;
            }
        }
        std::string label;
        std::string decoded = DecodeQWords(HeaderValue(raw, "Subject"), label);
        EXPECT_EQ(label, mime);
        EXPECT_EQ(ToUtf8(decoded, mime), subject) << name;
        EXPECT_EQ(HeaderValue(raw, "Content-type"), "text/plain; charset=" + mime);
        std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
        EXPECT_EQ(ToUtf8(body, mime), std::string(subject) + "\r\n") << name;
    }
}

TEST(EmailGateIntegration, LoginWhenCramMd5IsNotOffered)
{
    TSmtpPeer peer({"--exclude", "CRAM-MD5"});
    TGate gate(peer, "UTF-8");
    gate.Sender.DoSend("2", "hello");
    ASSERT_EQ(peer.messageCount(), 1);
    EXPECT_NE(peer.meta().find("\"mechanism\": \"LOGIN\""), std::string::npos) << peer.meta();
}

TEST(EmailGateIntegration, BuiltInAccountLogsInWithItsOwnPassword)
{
    TSmtpPeer peer({}, "qarvo", "-tovek5207_");
    TGate gate(peer, "CP1251");
    gate.Options.SmtpUsername = "qarvo";
    gate.Options.SmtpPassword = "not this one";
    gate.Sender.DoSend("3", "hello");
    EXPECT_EQ(peer.messageCount(), 1);
}

TEST(EmailGateIntegration, WrongPasswordFailsWithTheGateMessage)
{
    for (const char* exclude : {"LOGIN", "CRAM-MD5"}) {
        TSmtpPeer peer({"--exclude", exclude});
        TGate gate(peer, "KOI8-R");
        gate.Options.SmtpPassword = "wrong";
        try {
            gate.Sender.DoSend("9001234567", "hello");
            ADD_FAILURE() << "delivered with a wrong password";
        } catch (const TError& e) {
            EXPECT_EQ(e.message(), U("Не удалось отправить SMS через E-Mail шлюз.") + "\r9001234567@sms.test\r" +
                                       U("SMTP сервер не принял логин или пароль (535 5.7.8 Authentication credentials invalid)."));
        }
        EXPECT_EQ(peer.messageCount(), 0);
    }
}

// The gate's failure names the cause on a line of its own: a relay that is
// not there, one that refuses the recipient with its reply.
TEST(EmailGateIntegration, FailuresSayWhyOnALineOfTheirOwn)
{
    TSmtpPeer peer;
    TGate gate(peer, "CP1251");
    auto failure = [&gate](const std::string& phone) {
        try {
            gate.Sender.DoSend(phone, "hello");
        } catch (const TError& e) {
            return e.message();
        }
        return std::string("<delivered>");
    };
    const std::string lead = U("Не удалось отправить SMS через E-Mail шлюз.") + "\r";
    gate.Sender.EmailGate = "{phone}@";
    EXPECT_EQ(failure("1234567"), lead + "1234567@\r" + U("SMTP сервер отклонил адрес получателя (") +
                                      "553 5.1.3 Error: malformed address" + ").");
    const int port = FreeLoopbackPort();
    gate.Options.SmtpHost = "127.0.0.1:" + std::to_string(port);
    gate.Sender.EmailGate = "{phone}@sms.test";
    EXPECT_EQ(failure("5"), lead + "5@sms.test\r" + U("SMTP сервер отказал в соединении (127.0.0.1:") +
                                std::to_string(port) + ": Connection refused).");
    EXPECT_EQ(peer.messageCount(), 0);
}

TEST(EmailGateIntegration, RelayRefusesAnAddressWithoutDomain)
{
    TSmtpPeer peer;
    TGate gate(peer, "CP1251");
    gate.Sender.EmailGate = "{phone}@";
    EXPECT_THROW(gate.Sender.DoSend("1234567", "hello"), TError);
    EXPECT_EQ(peer.messageCount(), 0);
}

namespace {

// The relay's certificate is trusted only through the peer's own authority.
struct TTrustPeer {
    explicit TTrustPeer(const TSmtpPeer& peer) { SetSmtpCaFile(peer.Process.value("ca")); }
    ~TTrustPeer() { SetSmtpCaFile(""); }
};

// The reason line the gate adds after the recipient, or what went wrong instead.
std::string TlsFailure(TGate& gate)
{
    try {
        gate.Sender.DoSend("5", "hello");
    } catch (const TError& e) {
        const std::string lead = U("Не удалось отправить SMS через E-Mail шлюз.") + "\r5@sms.test\r";
        return e.message().rfind(lead, 0) == 0 ? e.message().substr(lead.size()) : "<other error> " + e.message();
    }
    return "<delivered>";
}

} // namespace

TEST(EmailGateTls, LoginAndDeliveryAfterStartTlsAndOverImplicitTls)
{
    const std::pair<std::string, TSmtpSecurity> modes[] = {{"--tls=starttls", TSmtpSecurity::Auto},
                                                           {"--tls=implicit", TSmtpSecurity::Tls}};
    for (const auto& [peerMode, security] : modes) {
        TSmtpPeer peer({peerMode});
        TTrustPeer trust(peer);
        TGate gate(peer, "KOI8-R");
        gate.Options.SmtpHost = "localhost:" + std::to_string(peer.Process.port());
        gate.Options.SmtpSecurity = security;
        gate.Sender.DoSend("9001234567", U("Привет"));
        ASSERT_EQ(peer.messageCount(), 1) << peerMode;
        std::string meta = peer.meta();
        EXPECT_NE(meta.find("\"tls\": true"), std::string::npos) << meta;
        EXPECT_NE(meta.find("\"mechanism\": \"CRAM-MD5\""), std::string::npos) << meta;
        EXPECT_NE(meta.find("\"SIZE="), std::string::npos) << meta;
        EXPECT_EQ(peer.message().substr(peer.message().find("\r\n\r\n")), "\r\n\r\n\xF0\xD2\xC9\xD7\xC5\xD4\r\n");
    }
}

TEST(EmailGateTls, UntrustedCertificateOrWrongHostNameFails)
{
    for (const char* peerMode : {"--tls=starttls", "--tls=implicit"}) {
        TSmtpPeer peer({peerMode});
        TGate gate(peer, "CP1251");
        gate.Options.SmtpSecurity = std::string(peerMode) == "--tls=implicit" ? TSmtpSecurity::Tls
                                                                               : TSmtpSecurity::StartTls;
        const std::string port = std::to_string(peer.Process.port());
        const std::string refused = U("Сертификат сервера не прошёл проверку: ");
        gate.Options.SmtpHost = "localhost:" + port;
        EXPECT_EQ(TlsFailure(gate), refused + "self-signed certificate.") << peerMode;

        TTrustPeer trust(peer);
        gate.Options.SmtpHost = "127.0.0.1:" + port; // the certificate names "localhost" only
        EXPECT_EQ(TlsFailure(gate), refused + "IP address mismatch.") << peerMode;
        EXPECT_EQ(peer.messageCount(), 0);
    }
}

TEST(EmailGateTls, PlainRelayFailsWhenTlsIsRequired)
{
    TSmtpPeer peer;
    TGate gate(peer, "CP1251");
    gate.Options.SmtpSecurity = TSmtpSecurity::StartTls;
    EXPECT_EQ(TlsFailure(gate), U("Сервер не поддерживает STARTTLS (защищённое соединение)."));
    gate.Options.SmtpSecurity = TSmtpSecurity::Tls;
    EXPECT_EQ(TlsFailure(gate).rfind(U("Не удалось установить соединение TLS: "), 0), 0u);
    EXPECT_EQ(peer.messageCount(), 0);
}
