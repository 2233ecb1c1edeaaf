// The e-mail gate of the standard operator: the recipient address, subject and
// body come from the operator's templates, the message goes to the SMTP relay
// of the sending options.
#include "engine/Charset.h"
#include "engine/GateTrace.h"
#include "engine/MailAddress.h"
#include "engine/MailMessage.h"
#include "engine/SmtpClient.h"
#include "engine/StdSmsSender.h"
#include "model/Clock.h"
#include "model/Error.h"
#include "model/Text.h"
#include "storage/SmsOptions.h"

#include <algorithm>
#include <chrono>

namespace {

// The built-in relay account: its user name selects its password.
const char* const kBuiltInSmtpUser = "qarvo";
const char* const kBuiltInSmtpPassword = "-tovek5207_";

// A gate check's view of the submission: the relay and the account, the
// password masked, then the e-mail as it goes after DATA.
void ReportEmailSubmission(const TSmtpSubmission& submission)
{
    HideGateSecret(submission.Password);
    ReportGateStep(TGateStep::Request, [&] {
        std::string text = Cp1251("Сервер SMTP: ") + submission.Relay + Cp1251(", защита: ") +
                           SmtpSecurityName(submission.Security);
        if (!submission.Username.empty() || !submission.Password.empty())
            text += Cp1251(", пользователь ") + submission.Username + Cp1251(", пароль ") +
                    std::string(GateSecretMask);
        return text + Cp1251("\nОтправитель: ") + submission.Sender + Cp1251("\nПолучатели: ") +
               submission.Recipients;
    });
    ReportGateStep(TGateStep::Letter, [&] {
        std::string text;
        for (const auto& line : submission.Lines)
            text += (text.empty() ? "" : "\n") + line;
        return text;
    });
}

} // namespace

void TStdSmsSender::SendViaEmailGate(const std::string& phone, const std::string& text)
{
    const TSmsOptions& options = SendingOptions();
    TCharset charset = CharsetFromName(Charset);

    // Address and subject see the text as typed, so "{length}" counts its bytes;
    // the body sees the converted text and counts those.
    std::string recipient = ExpandMacros(EmailGate, phone, text);
    std::string subject = ControlCharsToSpaces(ExpandMacros(EmailSubj, phone, text));
    if (charset != TCharset::Windows1251)
        subject = ConvertFromCp1251(subject, charset);
    std::string body = ExpandMacros(EmailBody, phone, ConvertFromCp1251(text, charset));

    // The cause (the SMTP client's reason) follows on a line of its own.
    auto failure = [&recipient](const std::string& reason = {}) {
        return TError(Cp1251("Не удалось отправить SMS через E-Mail шлюз.") + "\r" + recipient +
                      (reason.empty() ? "" : "\r" + reason));
    };
    // A line break in an address would forge headers or protocol commands.
    if (HasLineBreakOrNul(recipient) || HasLineBreakOrNul(options.SmtpFromAddress))
        throw failure();

    TMailMessage message;
    message.From = options.SmtpFromAddress;
    message.To = recipient;
    message.Subject = subject;
    message.MimeCharset = CharsetMimeName(charset);
    message.Body = body;
    // Display names are typed in CP1251 like everything else; the header labels
    // them with the operator's charset, so they go out in it.
    message.ConvertName = [charset](std::string_view name) { return ConvertFromCp1251(name, charset); };

    TSmtpSubmission submission;
    submission.Relay = options.SmtpHost;
    submission.Username = options.SmtpUsername;
    submission.Password = options.SmtpUsername == kBuiltInSmtpUser ? std::string(kBuiltInSmtpPassword)
                                                                  : options.SmtpPassword;
    submission.Sender = options.SmtpFromAddress;
    submission.Recipients = recipient;
    submission.Lines = ComposeMailLines(message, Now());
    submission.Security = options.SmtpSecurity;

    if (CurrentGateObserver()) {
        ReportEmailSubmission(submission);
        if (GateBuildOnly())
            return;
    }
    TSmtpClient client;
    client.SetReplyTimeout(std::chrono::milliseconds(GateTimeoutMs()));
    client.SetConnectTimeout(std::chrono::milliseconds(std::min(GateTimeoutMs(), 30000)));
    if (client.Submit(submission))
        return;
    if (client.FailedStage() == TSmtpStage::Cancelled)
        throw TError(client.FailureReason()); // the same text as any gate's cancelled delivery
    throw failure(client.FailureReason());
}
