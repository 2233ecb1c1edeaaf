#include "engine/StdSmsSender.h"

#include "model/Clock.h"
#include "model/Error.h"
#include "model/SmsLink.h"
#include "model/Text.h"
#include "storage/SmsOptions.h"

namespace {

// Replaces every occurrence of what in text; the inserted value is not scanned again.
void ReplaceAll(std::string& text, std::string_view what, std::string_view value)
{
    size_t pos = 0;
    while ((pos = text.find(what, pos)) != std::string::npos) {
        text.replace(pos, what.size(), value);
        pos += value.size();
    }
}

} // namespace

TStdSmsSender::TStdSmsSender()
    : EmailGate("{phone}@"), EmailSubj("{message}"), EmailBody("{message}")
{
    MaxSmsLen = 160;
    Charset = "CP1251";
}

std::string TStdSmsSender::ClassName() const { return "TStdSmsSender"; }

std::unique_ptr<TSmsSender> TStdSmsSender::Clone() const { return std::make_unique<TStdSmsSender>(*this); }

const TSmsOptions& TStdSmsSender::SendingOptions() const { return Options ? *Options : SmsOptions(); }

void TStdSmsSender::DoSend(const std::string& phone, const std::string& text)
{
    // The number as stored may be formatted ("8 (903) 555-00-01"); a gateway
    // reads blanks and the like as separators of several numbers.
    const std::string number = GatePhone(phone);
    if (GateType == WebGateType)
        SendViaWebGate(number, text);
    else if (GateType == EmailGateType)
        SendViaEmailGate(number, text);
    else
        throw TError(Cp1251("Указан некорректный SMS шлюз."));
}

std::string TStdSmsSender::ExpandMacros(const std::string& templ, const std::string& phone,
                                        const std::string& message)
{
    const TDateTime now = Now(); // one reading for the whole expansion
    std::string result = templ;
    ReplaceAll(result, "{phone}", phone);
    ReplaceAll(result, "{message}", message);
    ReplaceAll(result, "{length}", IntToStr(static_cast<long long>(message.size())));
    ReplaceAll(result, "{year}", IntToStr(now.Year));
    ReplaceAll(result, "{month}", IntToStr(now.Month));
    ReplaceAll(result, "{day}", IntToStr(now.Day));
    ReplaceAll(result, "{hour}", IntToStr(now.Hour));
    ReplaceAll(result, "{minute}", IntToStr(now.Minute));
    return result;
}

std::string FormUrlEncode(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        auto b = static_cast<unsigned char>(ch);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
            out.push_back(ch);
        } else if (b == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    return out;
}
