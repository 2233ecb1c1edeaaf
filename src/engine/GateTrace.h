#pragma once
// The exchange of one delivery as the gates see it, for checking an operator.
// The gates and their transports report each step to the current thread's
// observer. A thread has none unless a check installs one (TGateObserverScope),
// so an ordinary delivery only reads a null thread-local pointer: the texts
// are built only when someone listens (ReportGateStep takes a function).
//
// Secrets never reach an observer in the clear: the gates mask the SMTP AUTH
// lines, the proxy password and the credentials of a URL (MaskUrlSecrets), and
// name every password they use (HideSecret) so that the observer can blot out
// any echo of it.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class TGateStep {
    Request,    // what the gate built: the URL, the e-mail, the relay, the proxy
    Connection, // a connection made or not made
    Sent,     // a line that went to the peer (an SMTP command)
    Received, // what came back: an SMTP reply, an HTTP status line with its headers
    Body,     // the first GateTraceBodyLimit bytes of an HTTP reply's body, raw
    Letter,   // the e-mail's lines as they go after DATA, raw
    Tls,      // the TLS version and the peer's certificate subject
    Verdict,  // how the reply was judged (the reply patterns)
    Note,     // the check's own lines: the operator, charset, transliteration, pieces
    Outcome,  // the check's last line: delivered, or the error with its cause
};

// The most of a reply's body that is reported.
constexpr size_t GateTraceBodyLimit = 4096;

class TGateObserver {
public:
    virtual ~TGateObserver() = default;
    // One step; `text` is CP1251 (a Body step: the gateway's raw bytes).
    virtual void Step(TGateStep kind, const std::string& text) = 0;
    // A value that must not show anywhere in the trace.
    virtual void HideSecret(const std::string& secret) = 0;
    // True: the gates build and report their request and send nothing.
    virtual bool BuildOnly() const = 0;
};

// The current thread's observer, nullptr when none listens.
TGateObserver* CurrentGateObserver();

// Makes `observer` the current thread's observer for the scope's life.
class TGateObserverScope {
public:
    explicit TGateObserverScope(TGateObserver* observer);
    ~TGateObserverScope();
    TGateObserverScope(const TGateObserverScope&) = delete;
    TGateObserverScope& operator=(const TGateObserverScope&) = delete;

private:
    TGateObserver* FPrevious;
};

// Reports the step made by `text()` when an observer listens; otherwise
// `text` is not called.
template <class F>
void ReportGateStep(TGateStep kind, F&& text)
{
    if (TGateObserver* observer = CurrentGateObserver())
        observer->Step(kind, std::forward<F>(text)());
}

inline void HideGateSecret(const std::string& secret)
{
    if (TGateObserver* observer = CurrentGateObserver())
        observer->HideSecret(secret);
}

inline bool GateBuildOnly()
{
    TGateObserver* observer = CurrentGateObserver();
    return observer && observer->BuildOnly();
}

// The mask that stands for a secret in a trace.
inline constexpr std::string_view GateSecretMask = "***";

// A query parameter holds a secret when its name, in any letter case,
// contains "pass", "pwd", "secret", "token" or "key" (password, passwd, pwd,
// api_key, access_token, ...); a few harmless names are masked too, which
// costs nothing in a check.
bool IsSecretParameterName(std::string_view name);

// Every form in which a secret may come back from a peer: as given, decoded
// (percent-decoded, and with "+" read as a blank, as forms have it),
// percent-encoded (upper- and lower-case hex), form-encoded, HTML- and
// JSON-escaped, and base64 (standard and URL alphabets: the whole encoding,
// and the part of it that stands for the secret alone inside a longer
// base64 text, at each of the three alignments). Longest first.
std::vector<std::string> SecretForms(std::string_view secret);

// The URL with the password of its user information ("user:password@") and
// the value of every secret query parameter replaced by "***". The values
// replaced are added to `secrets` when it is given, and so is the whole
// user information ("user:password", which a Basic header carries).
std::string MaskUrlSecrets(std::string_view url, std::vector<std::string>* secrets = nullptr);
