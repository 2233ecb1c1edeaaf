// The standard operator's web gate: one HTTP GET of the expanded URL template,
// its 2xx reply judged by the operator's reply patterns when it has any.
#include "engine/Charset.h"
#include "engine/HttpClient.h"
#include "engine/ReplyPattern.h"
#include "engine/StdSmsSender.h"
#include "storage/SmsOptions.h"

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

    const std::string message = FormUrlEncode(ConvertFromCp1251(text, charset));
    const std::string phoneValue = FormUrlEncode(phone);
    request.Url = ExpandMacros(WebGate, phoneValue, message);
    const THttpResponse response = HttpGet(request);
    if (!replyRules.Empty())
        replyRules.Judge(ConvertToCp1251(response.Body, charset));
}
