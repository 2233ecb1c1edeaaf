#pragma once
// The standard operator: delivers one piece of text to one phone number through
// the operator's web gate (HTTP GET of a URL template) or e-mail gate (SMTP
// submission built from address, subject and body templates).
#include "model/AddressBook.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TSmsOptions;

class TStdSmsSender : public TSmsSender {
public:
    // Gate kinds stored in GateType; any other value fails at send time.
    static constexpr int32_t WebGateType = 0;
    static constexpr int32_t EmailGateType = 1;

    TStdSmsSender();

    std::string ClassName() const override;
    std::unique_ptr<TSmsSender> Clone() const override;

    // One delivery: the web gate for GateType 0, the e-mail gate for 1; raises
    // TError on failure (also for any other GateType, before any network activity).
    void DoSend(const std::string& phone, const std::string& text) override;

    // Replaces, in this order, "{phone}", "{message}", "{length}", "{year}",
    // "{month}", "{day}", "{hour}", "{minute}"; every step works on the result
    // of the one before. The local clock is read once per call.
    static std::string ExpandMacros(const std::string& templ, const std::string& phone,
                                    const std::string& message);

    // One delivery through each gate; both raise TError on failure.
    void SendViaWebGate(const std::string& phone, const std::string& text);
    void SendViaEmailGate(const std::string& phone, const std::string& text);

    // The sending options this operator reads: *Options when set (a delivery
    // snapshot), otherwise the process-wide SmsOptions().
    const TSmsOptions& SendingOptions() const;

    int32_t GateType = EmailGateType;
    std::string EmailGate;  // "{phone}@"
    std::string WebGate;
    std::string EmailSubj;  // "{message}"
    std::string EmailBody;  // "{message}"
    std::string Notes;
    // Regular expressions that judge the body of a web gate's 2xx reply
    // (engine/ReplyPattern.h); all empty: every 2xx reply is a delivery.
    std::string ReplyOkPattern;       // set: a body that does not match fails (retried)
    std::string ReplyTempFailPattern; // a matching body fails (retried)
    std::string ReplyPermFailPattern; // a matching body fails for good (no retry)

    // The longest wait for one web request, or for one reply of the SMTP
    // relay, in seconds (0: DefaultGateTimeoutSeconds). Past it the delivery
    // fails as a temporary failure.
    int TimeoutSeconds = 0;
    static constexpr int DefaultGateTimeoutSeconds = 30;
    int GateTimeoutMs() const { return (TimeoutSeconds > 0 ? TimeoutSeconds : DefaultGateTimeoutSeconds) * 1000; }

    // Not owned; copied by Clone(). nullptr means the process-wide options.
    const TSmsOptions* Options = nullptr;

    // Delivery status (web gate only; all empty / 0: the operator works as it
    // always did). By query: StatusIdPattern takes the gateway's message id
    // out of the 2xx send reply (its first group, or the whole match); the
    // status URL (the usual placeholders and "{id}") is then asked until one of
    // the status patterns (the reply-pattern syntax) gives a final answer.
    std::string StatusIdPattern;
    std::string StatusUrl;
    std::string StatusDeliveredPattern; // "доставлено"
    std::string StatusFailedPattern;    // "не доставлено" (the reply is the reason)
    std::string StatusPendingPattern;   // "ожидает": asked again later
    // By report (Kannel): not 0, the send URL gets "dlr-mask" with this value
    // and a "dlr-url" to the program's report listener.
    int DlrMask = 0;
    bool AsksDeliveryStatus() const { return !StatusIdPattern.empty() || DlrMask != 0; }

    // The outcome of the last web-gate send made by this object (a delivery's
    // own copy): the gateway's message id and the report token, empty when
    // the operator asks no status.
    std::string GateMessageId;
    std::string ReportToken;
};

// Form encoding of bytes: digits and Latin letters are copied, a space becomes
// "+", every other byte becomes "%" and two uppercase hexadecimal digits.
std::string FormUrlEncode(std::string_view bytes);
