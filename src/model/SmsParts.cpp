#include "model/SmsParts.h"

#include <algorithm>

namespace {

// The GSM 03.38 default alphabet beyond the printable ASCII it shares.
constexpr std::u16string_view GsmExtraBasic =
    u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞÆæßÉ ¤¡ÄÖÑÜ§¿äöñüà";
constexpr std::u16string_view GsmExtension = u"^{}\\[]~|€\f";

} // namespace

int GsmSeptets(char16_t c)
{
    // Printable ASCII is in the default alphabet, except ` (none) and the
    // extension characters; $ and @ sit elsewhere but are there too.
    if (GsmExtension.find(c) != std::u16string_view::npos)
        return 2;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
        return 1;
    if (c >= 0x20 && c < 0x7F && c != u'`')
        return 1;
    return GsmExtraBasic.find(c) != std::u16string_view::npos ? 1 : 0;
}

TSmsParts CountSmsParts(std::u16string_view text)
{
    TSmsParts result;
    if (text.empty())
        return result;
    bool gsm = true;
    int septets = 0;
    for (char16_t c : text) {
        const int n = GsmSeptets(c);
        if (n == 0) {
            gsm = false;
            break;
        }
        septets += n;
    }
    if (gsm) {
        result.Units = septets;
        if (septets <= 160) {
            result.Parts = 1;
            return result;
        }
        // Parts of 153 septets; an escape pair that would straddle goes whole to the next.
        int parts = 1, used = 0;
        for (char16_t c : text) {
            const int n = GsmSeptets(c);
            if (used + n > 153) {
                ++parts;
                used = 0;
            }
            used += n;
        }
        result.Parts = parts;
        return result;
    }
    result.Ucs2 = true;
    result.Units = static_cast<int>(text.size());
    if (text.size() <= 70) {
        result.Parts = 1;
        return result;
    }
    int parts = 1, used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
        const int n = pair ? 2 : 1;
        if (used + n > 67) {
            ++parts;
            used = 0;
        }
        used += n;
        i += pair ? 1 : 0;
    }
    result.Parts = parts;
    return result;
}
