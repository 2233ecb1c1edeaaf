#pragma once
// A small SMTP client over a TCP socket that submits one message to a
// relay: greeting, EHLO (HELO when refused), STARTTLS and EHLO again when the
// security mode asks for it, optional CRAM-MD5 or LOGIN authentication,
// MAIL FROM, one RCPT TO per address, DATA, QUIT.
// A refused or impossible login does not end the exchange: the relay's answers
// to the following commands decide. No PIPELINING: bytes the relay sends
// before a command goes out put the exchange out of step and end it. TLS (OpenSSL) verifies the relay's
// certificate and its host name; once STARTTLS has been asked for, nothing
// more goes out in the clear. The current thread's cancel token ends the
// connection attempt and every wait for the relay at once. One object serves one thread at a time;
// separate objects may run on separate threads.
#include "storage/SmsOptions.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// Relay given as "host" or "host:port": the host is the text before the first
// ":", the port the text after it; both trimmed; port 25 when none is given.
struct TSmtpRelay {
    std::string Host;
    std::string Port;
};
TSmtpRelay ParseSmtpRelay(std::string_view relay);
// Whether the exchange starts with TLS: "tls" always, and "auto" on port 465,
// the port of implicit TLS (RFC 8314), where a plain exchange cannot work.
bool UsesImplicitTls(TSmtpSecurity security, const TSmtpRelay& relay);

struct TSmtpSubmission {
    std::string Relay;              // "host" or "host:port"
    std::string Username;           // no authentication when both are empty
    std::string Password;
    std::string Sender;             // envelope sender; reduced to its bare address
    std::string Recipients;         // address list; commas outside double quotes separate
    std::vector<std::string> Lines; // message lines without line ends
    // Auto: implicit TLS on port 465, elsewhere STARTTLS when the relay offers it.
    TSmtpSecurity Security = TSmtpSecurity::Auto;
};

// The step at which a submission failed.
enum class TSmtpStage {
    None,      // no failure
    Input,     // an address or a message line holds CR, LF or NUL; nothing was sent
    Relay,     // no host given, or the host or port cannot be resolved
    Connect,   // no connection within the connection time limit
    Tls,       // the TLS handshake or the certificate check failed
    Greeting,  // the greeting was not 220
    Hello,     // EHLO and HELO were both refused
    StartTls,  // STARTTLS was required but not offered, or it was refused
    MailFrom,  // MAIL FROM was not answered 250
    RcptTo,    // a RCPT TO was not answered 250
    Data,      // DATA was not answered 354
    Message,   // the message end "." was not answered 250
    Cancelled, // deliveries were cancelled; nothing more was sent after that
};

class TSmtpClient {
public:
    TSmtpClient();

    // Time to wait for each server reply (default 60 s).
    void SetReplyTimeout(std::chrono::milliseconds timeout) { ReplyTimeout = timeout; }
    // Time to establish the connection (default 30 s).
    void SetConnectTimeout(std::chrono::milliseconds timeout) { ConnectTimeout = timeout; }
    // Name sent with EHLO and HELO (default: the local host name).
    void SetLocalHostName(std::string name) { LocalName = std::move(name); }

    // Runs the whole exchange; true when the relay accepted the message.
    bool Submit(const TSmtpSubmission& submission);
    TSmtpStage FailedStage() const { return Failed; }
    // Why the submission failed, in Russian (CP1251), with the technical part
    // (the relay's reply, the system's error text, the command) in brackets:
    // the relay cannot be found, refused the connection, did not answer in
    // time, refused a command, fell out of step, or TLS failed; or that
    // deliveries were cancelled. Empty after a success.
    const std::string& FailureReason() const { return Reason; }

private:
    std::chrono::milliseconds ReplyTimeout {60000};
    std::chrono::milliseconds ConnectTimeout {30000};
    std::string LocalName;
    TSmtpStage Failed = TSmtpStage::None;
    std::string Reason;
};

// The certificate authorities that relays' certificates are checked against:
// a PEM file, or empty (the default) for the system's store through OpenSSL's
// default paths. Tests name their own authority.
void SetSmtpCaFile(const std::string& file);
std::string SmtpCaFile();

// Test hook: the function that looks up the relay's host (getaddrinfo's
// signature); nullptr restores getaddrinfo.
struct addrinfo;
using TSmtpHostResolver = int (*)(const char* host, const char* port, const addrinfo* hints, addrinfo** list);
void SetSmtpHostResolverForTests(TSmtpHostResolver resolver);

// Protocol pieces, exposed for tests.
std::string Base64Encode(std::string_view bytes);
// False when the text is not valid base64.
bool Base64Decode(std::string_view text, std::string& bytes);
// The CRAM-MD5 answer (before base64): user, a blank, and the lowercase hex
// HMAC-MD5 of the challenge keyed with the password.
std::string CramMd5Response(std::string_view user, std::string_view password, std::string_view challenge);
// Message lines as they go after DATA: a line starting with "." gets another
// one in front, every line ends with CR LF, and the final "." line closes it.
std::string DotStuffedData(const std::vector<std::string>& lines);
