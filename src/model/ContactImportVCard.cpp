// The vCard reader (2.1, 3.0, 4.0): the lines unfolded first, then each value
// decoded in its own encoding.
#include "model/ContactImportRead.h"

#include "model/Text.h"

#include <algorithm>
#include <deque>

namespace ContactRead {
namespace {

// --- vCard ------------------------------------------------------------------------------------
struct TVCardProperty {
    std::string_view Name; // without a "group." prefix
    std::vector<std::string_view> Params;
    std::string_view Value;
};

// Splits at the separator not behind a backslash.
std::vector<std::string_view> SplitEscaped(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(std::min(start, text.size())));
    return parts;
}

std::string Unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'n' || next == 'N' ? ' ' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string QuotedPrintableDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The parameter's value ("CHARSET=UTF-8" -> "UTF-8") when its key is `key`.
bool ParamValue(std::string_view param, std::string_view key, std::string_view& value)
{
    if (param.size() <= key.size() || param[key.size()] != '=' || !SameText(param.substr(0, key.size()), key))
        return false;
    value = param.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return true;
}

bool HasParam(const TVCardProperty& p, std::string_view wanted)
{
    for (std::string_view param : p.Params) {
        std::string_view value = param;
        if (!ParamValue(param, "TYPE", value) && !ParamValue(param, "ENCODING", value) && param.find('=') != std::string_view::npos)
            continue;
        for (std::string_view one : SplitEscaped(value, ','))
            if (SameText(Trim(one), wanted))
                return true;
    }
    return false;
}

TVCardProperty SplitProperty(std::string_view line)
{
    TVCardProperty p;
    size_t colon = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string_view::npos)
        return p;
    std::string_view head = line.substr(0, colon);
    p.Value = line.substr(colon + 1);
    size_t semi = head.find(';');
    std::string_view name = head.substr(0, semi);
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = name.substr(dot + 1);
    p.Name = name;
    while (semi != std::string_view::npos) {
        const size_t next = head.find(';', semi + 1);
        std::string_view param = head.substr(semi + 1, next == std::string_view::npos ? std::string_view::npos : next - semi - 1);
        if (!param.empty())
            p.Params.push_back(param);
        semi = next;
    }
    return p;
}

// A logical line of a vCard: the folds undone and quoted-printable soft line
// breaks joined, so a character split by a fold is whole again.
struct TVCardLine {
    std::string_view Text;
    TVCardProperty Property;
    int Line = 0; // the physical line it starts on
    int Card = 0; // the card it belongs to (1-based; 0 outside a card)
};

[[noreturn]] void ThrowBrokenUtf8(int line, int card, std::string_view property);

struct TVCardBuilder {
    int Line = 0;
    std::string FN, N;
    std::vector<std::string> Phones;
    std::vector<std::string> PhoneRefusals; // one per phone: why it cannot be stored
    int CellIndex = -1;
    std::vector<std::string> Groups;
    std::string Refusal;

    // The property's value as text of the encoding its parameters (or the file) give.
    std::string Decoded(const TVCardProperty& p, TEncoding fileEncoding, TEncoding& encoding)
    {
        encoding = fileEncoding;
        std::string value(p.Value);
        if (HasParam(p, "QUOTED-PRINTABLE"))
            value = QuotedPrintableDecoded(value);
        for (std::string_view param : p.Params) {
            std::string_view charset;
            if (!ParamValue(param, "CHARSET", charset))
                continue;
            if (SameText(charset, "UTF-8") || SameText(charset, "UTF8"))
                encoding = TEncoding::Utf8;
            else if (SameText(charset, "WINDOWS-1251") || SameText(charset, "CP1251") || SameText(charset, "CP-1251"))
                encoding = TEncoding::Cp1251;
            else if (SameText(charset, "ISO-8859-1") || SameText(charset, "US-ASCII"))
                encoding = TEncoding::Latin1;
            else {
                encoding = TEncoding::Unknown;
                if (Refusal.empty())
                    Refusal = Cp1251("кодировка ") + std::string(charset) + Cp1251(" не поддерживается");
            }
        }
        return value;
    }

    void Take(const TVCardLine& line, TEncoding fileEncoding)
    {
        const TVCardProperty& p = line.Property;
        // A value meant as UTF-8 with a broken byte refuses the file, naming where it is.
        auto Decoded = [&](const TVCardProperty& property, TEncoding file, TEncoding& encoding) {
            std::string value = this->Decoded(property, file, encoding);
            if (encoding == TEncoding::Utf8 && !IsValidUtf8(value))
                ThrowBrokenUtf8(line.Line, line.Card, property.Name);
            return value;
        };
        TEncoding encoding;
        if (SameText(p.Name, "FN")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding != TEncoding::Unknown)
                FN = FieldText(Unescaped(value), encoding, "Имя", Refusal, NameLimit);
        } else if (SameText(p.Name, "N")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding == TEncoding::Unknown)
                return;
            // Family;Given;Middle;Prefix;Suffix -> "Given Middle Family".
            std::vector<std::string_view> parts = SplitEscaped(value, ';');
            std::string joined;
            for (int k : {1, 2, 0}) {
                if (static_cast<size_t>(k) < parts.size()) {
                    const std::string piece = Trim(Unescaped(parts[static_cast<size_t>(k)]));
                    if (!piece.empty())
                        joined += (joined.empty() ? "" : " ") + piece;
                }
            }
            N = FieldText(joined, encoding, "Имя", Refusal, NameLimit);
        } else if (SameText(p.Name, "TEL")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding == TEncoding::Unknown)
                return;
            std::string phone = Trim(Unescaped(value));
            if (StartsWithNoCase(phone, "tel:")) // vCard 4.0: TEL;VALUE=uri:tel:+7...
                phone = phone.substr(4, phone.find(';') == std::string::npos ? std::string::npos : phone.find(';') - 4);
            std::string refusal;
            phone = FieldText(phone, encoding, "Телефон", refusal, WrittenPhoneLimit);
            if (phone.empty())
                return;
            if (CellIndex < 0 && (HasParam(p, "CELL") || HasParam(p, "MOBILE")))
                CellIndex = static_cast<int>(Phones.size());
            Phones.push_back(phone);
            PhoneRefusals.push_back(std::move(refusal));
        } else if (SameText(p.Name, "CATEGORIES")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding == TEncoding::Unknown)
                return;
            for (std::string_view one : SplitEscaped(value, ',')) {
                std::string group = FieldText(Unescaped(one), encoding, "Группа", Refusal, GroupLimit);
                if (!group.empty() && std::find(Groups.begin(), Groups.end(), group) == Groups.end())
                    Groups.push_back(std::move(group));
            }
        }
    }

    TImportedContact Finish()
    {
        TImportedContact c;
        c.Line = Line;
        c.Name = !FN.empty() ? FN : N;
        c.Phones = std::move(Phones);
        c.Groups = std::move(Groups);
        c.Refusal = std::move(Refusal);
        if (!c.Phones.empty()) {
            const size_t chosen = static_cast<size_t>(CellIndex >= 0 ? CellIndex : 0);
            c.Phone = c.Phones[chosen];
            if (c.Refusal.empty())
                c.Refusal = PhoneRefusals[chosen];
        }
        if (c.Refusal.empty() && c.Phones.empty())
            c.Refusal = Cp1251("в карточке нет номера телефона");
        else if (c.Refusal.empty())
            c.Refusal = PhoneRefusal(c.Phone);
        return c;
    }
};

// Unfolds the text (RFC 6350 3.2: the lines are joined before anything else
// is read; a 2.1 card keeps the blank of a fold). Joined lines live in `store`.
std::vector<TVCardLine> UnfoldVCard(std::string_view text, std::deque<std::string>& store, const TImportProgress& progress)
{
    std::vector<TVCardLine> lines;
    TProgressTicker ticker(progress, text.size() * 2);
    size_t pos = 0;
    int lineNo = 0;
    auto physical = [&](std::string_view& line) {
        if (pos >= text.size())
            return false;
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = text.size();
        line = text.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        pos = nl + 1;
        ++lineNo;
        return true;
    };
    auto nextStartsFolded = [&] { return pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'); };
    int card = 0;
    bool version21 = false;
    std::string_view line;
    while (physical(line)) {
        ticker.Tick(pos);
        TVCardLine out;
        out.Line = lineNo;
        std::string* joined = nullptr;
        auto append = [&](std::string_view more, bool dropLast) {
            if (!joined)
                joined = &store.emplace_back(line);
            if (dropLast)
                joined->pop_back();
            joined->append(more);
        };
        while (nextStartsFolded()) {
            std::string_view more;
            physical(more);
            append(version21 ? more : more.substr(1), false);
        }
        out.Text = joined ? std::string_view(*joined) : line;
        out.Property = SplitProperty(out.Text);
        if (out.Property.Name.empty())
            continue;
        // Quoted-printable soft line breaks: "=" at the end joins the next line.
        if (HasParam(out.Property, "QUOTED-PRINTABLE") && !out.Text.empty() && out.Text.back() == '=') {
            for (std::string_view more; out.Text.back() == '=' && physical(more);) {
                append(more, true);
                out.Text = *joined;
                if (out.Text.empty())
                    break;
            }
            out.Property = SplitProperty(out.Text);
        }
        const TVCardProperty& p = out.Property;
        if (SameText(p.Name, "BEGIN") && SameText(Trim(p.Value), "VCARD")) {
            ++card;
            version21 = false;
        } else if (SameText(p.Name, "VERSION")) {
            version21 = Trim(p.Value) == "2.1";
        }
        out.Card = card;
        lines.push_back(std::move(out));
    }
    return lines;
}

bool HasCharsetParam(const TVCardProperty& p)
{
    std::string_view charset;
    return std::any_of(p.Params.begin(), p.Params.end(), [&](std::string_view param) { return ParamValue(param, "CHARSET", charset); });
}

[[noreturn]] void ThrowBrokenUtf8(int line, int card, std::string_view property)
{
    throw TError(Cp1251("Файл в кодировке UTF-8, но в строке ") + IntToStr(line) +
                 Cp1251(" есть байты, которые в UTF-8 не читаются (карточка ") + IntToStr(card) + Cp1251(", свойство ") +
                 UpperCase(property) +
                 Cp1251("): файл повреждён или собран из частей в разных кодировках. Исправьте эту строку или сохраните "
                        "файл заново в UTF-8."));
}

// The encoding of the values that name none: UTF-8 when they all read as
// UTF-8 or nearly all (the broken one is then refused where it is met), else
// Windows-1251. Values with a CHARSET parameter are read in their own.
TEncoding VCardEncoding(const std::vector<TVCardLine>& lines)
{
    bool allUtf8 = true;
    for (const TVCardLine& l : lines)
        if (!HasCharsetParam(l.Property) && !IsValidUtf8(l.Text)) {
            allUtf8 = false;
            break;
        }
    if (allUtf8)
        return TEncoding::Utf8;
    size_t multiByte = 0, broken = 0;
    char32_t cp;
    for (const TVCardLine& l : lines) {
        if (HasCharsetParam(l.Property))
            continue;
        for (size_t i = 0; i < l.Text.size();) {
            if (static_cast<unsigned char>(l.Text[i]) < 0x80) {
                ++i;
            } else if (const size_t n = Utf8SequenceLength(l.Text, i, cp); n > 0) {
                ++multiByte;
                i += n;
            } else {
                ++broken;
                ++i;
            }
        }
    }
    if (multiByte >= 4 && multiByte >= 4 * broken)
        return TEncoding::Utf8;
    for (const TVCardLine& l : lines) {
        if (HasCharsetParam(l.Property))
            continue;
        for (char c : l.Text) {
            const auto b = static_cast<unsigned char>(c);
            if (b == 152 || (b < 32 && b != '\t' && b != '\f'))
                throw TError(Cp1251("Не удалось прочитать текст файла: он не в кодировке UTF-8 и не в Windows-1251."));
        }
    }
    return TEncoding::Cp1251;
}

} // namespace

std::vector<TImportedContact> ParseVCards(std::string_view text, std::optional<TEncoding> known, const TImportProgress& progress)
{
    std::deque<std::string> store;
    const std::vector<TVCardLine> lines = UnfoldVCard(text, store, progress);
    const TEncoding fileEncoding = known ? *known : VCardEncoding(lines);
    std::vector<TImportedContact> rows;
    TProgressTicker ticker(progress, lines.size() * 2);
    bool inCard = false;
    TVCardBuilder card;
    for (size_t k = 0; k < lines.size(); ++k) {
        ticker.Tick(lines.size() + k);
        const TVCardLine& l = lines[k];
        const TVCardProperty& p = l.Property;
        if (SameText(p.Name, "BEGIN") && SameText(Trim(p.Value), "VCARD")) {
            if (inCard)
                throw TError(Cp1251("Файл оборван: карточка vCard, начатая в строке ") + IntToStr(card.Line) +
                             Cp1251(", не закончена (нет строки END:VCARD)."));
            inCard = true;
            card = TVCardBuilder();
            card.Line = l.Line;
        } else if (SameText(p.Name, "END") && SameText(Trim(p.Value), "VCARD")) {
            if (inCard)
                rows.push_back(card.Finish());
            inCard = false;
        } else if (inCard) {
            card.Take(l, fileEncoding);
        }
    }
    if (inCard)
        throw TError(Cp1251("Файл оборван: карточка vCard, начатая в строке ") + IntToStr(card.Line) +
                     Cp1251(", не закончена (нет строки END:VCARD)."));
    return rows;
}

} // namespace ContactRead
