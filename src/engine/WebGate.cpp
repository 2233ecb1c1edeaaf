// The standard operator's web gate: one HTTP GET of the expanded URL template,
// its 2xx reply judged by the operator's reply patterns when it has any.
#include "engine/Charset.h"
#include "engine/DeliveryTracker.h"
#include "engine/GateTrace.h"
#include "engine/HttpClient.h"
#include "engine/ReplyPattern.h"
#include "engine/StdSmsSender.h"
#include "model/Text.h"
#include "storage/SmsOptions.h"

#include <openssl/rand.h>

namespace {

// A gate check's view of the request: the URL and the proxy, secrets masked.
void ReportWebRequest(const THttpRequest& request)
{
    std::vector<std::string> secrets;
    const std::string url = MaskUrlSecrets(request.Url, &secrets);
    secrets.push_back(request.Proxy.Password);
    if (!request.Proxy.Password.empty()) // as its Basic header carries it
        secrets.push_back(request.Proxy.Username + ":" + request.Proxy.Password);
    for (const auto& secret : secrets)
        HideGateSecret(secret);
    ReportGateStep(TGateStep::Request, [&] { return "GET " + url; });
    ReportGateStep(TGateStep::Request, [&] {
        const THttpProxy& proxy = request.Proxy;
        if (proxy.Host.empty())
            return Cp1251("Прокси: не используется");
        std::string text = Cp1251("Прокси: ") + proxy.Host + ":" + IntToStr(proxy.Port);
        if (proxy.BasicAuth)
            text += Cp1251(", пользователь ") + proxy.Username + Cp1251(", пароль ") + std::string(GateSecretMask);
        return text;
    });
}

// A secret that ties a delivery report to one message: 16 random bytes in hex.
std::string NewReportToken()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        throw TError(Cp1251("Не удалось получить случайное число для отчёта о доставке."));
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token.push_back(kHex[b >> 4]);
        token.push_back(kHex[b & 15]);
    }
    return token;
}

} // namespace

void TStdSmsSender::SendViaWebGate(const std::string& phone, const std::string& text)
{
    const TCharset charset = CharsetFromName(Charset);
    const TReplyRules replyRules(*this); // a bad pattern fails here, before anything is sent
    const TSmsOptions& options = SendingOptions();

    THttpRequest request;
    request.Headers.push_back("Content-Type: application/x-www-form-urlencoded");
    // The proxy settings go to the client as they are; ProxyFlag is the dialog's
    // business, which leaves the fields empty while the proxy is off.
    request.Proxy.Host = options.ProxyServer;
    request.Proxy.Port = options.ProxyPort;
    request.Proxy.BasicAuth = options.ProxyAuthFlag;
    request.Proxy.Username = options.ProxyUsername;
    request.Proxy.Password = options.ProxyPassword;
    request.TimeoutMs = GateTimeoutMs();

    const std::string message = FormUrlEncode(ConvertFromCp1251(text, charset));
    const std::string phoneValue = FormUrlEncode(phone);
    request.Url = ExpandMacros(WebGate, phoneValue, message);
    GateMessageId.clear();
    ReportToken.clear();
    const TCompiledPattern idPattern(StatusIdPattern); // a bad pattern fails before anything is sent
    if (DlrMask != 0 && !GateBuildOnly()) {
        // Kannel calls the dlr-url back with the report's type (%d) and text (%A).
        ReportToken = NewReportToken();
        request.Url += std::string(request.Url.find('?') == std::string::npos ? "?" : "&") +
                       "dlr-mask=" + IntToStr(DlrMask) + "&dlr-url=" + FormUrlEncode(DeliveryTracker().ReportUrl(ReportToken));
        DeliveryTracker().ExpectReport(ReportToken);
    }
    if (CurrentGateObserver()) {
        ReportWebRequest(request);
        if (GateBuildOnly())
            return;
    }
    const THttpResponse response = HttpGet(request);
    const std::string body = ConvertToCp1251(response.Body, charset);
    if (!replyRules.Empty())
        replyRules.Judge(body);
    else
        ReportGateStep(TGateStep::Verdict,
                       [] { return Cp1251("Шаблоны ответа не заданы: любой ответ 2xx означает доставку."); });
    if (!idPattern.Empty()) {
        GateMessageId = idPattern.Capture(body).value_or("");
        ReportGateStep(TGateStep::Verdict, [&] {
            return GateMessageId.empty() ? Cp1251("В ответе шлюза нет номера сообщения: статус доставки не узнать.")
                                         : Cp1251("Номер сообщения у шлюза: ") + GateMessageId;
        });
    }
}
