#include "model/ContactImport.h"

#include "model/SafeFile.h"
#include "model/SmsLink.h"
#include "model/Text.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <unordered_set>

TImportCancelled::TImportCancelled() : TError(Cp1251("Импорт отменён.")) {}

namespace {

enum class TEncoding { Utf8, Cp1251, Latin1, Unknown };

// Checks the cancel flag and reports the share of `done` in `total` now and then.
class TProgressTicker {
public:
    TProgressTicker(const TImportProgress& progress, size_t total) : FProgress(progress), FTotal(total ? total : 1) {}
    void Tick(size_t done)
    {
        if (++FCalls % 256 != 0)
            return;
        Check();
        const int percent = static_cast<int>(done * 100 / FTotal);
        if (FProgress.Report && percent != FLast) {
            FLast = percent;
            FProgress.Report(percent);
        }
    }
    void Check() const
    {
        if (FProgress.Cancel && FProgress.Cancel->load(std::memory_order_relaxed))
            throw TImportCancelled();
    }

private:
    const TImportProgress& FProgress;
    size_t FTotal;
    size_t FCalls = 0;
    int FLast = -1;
};

// UTF-16 with a byte-order mark, as some programs save CSV, turned into UTF-8.
std::string Utf16ToUtf8(std::string_view s, bool bigEndian)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 2; i + 1 < s.size(); i += 2) {
        auto unit = [&](size_t at) {
            const auto a = static_cast<unsigned char>(s[at]), b = static_cast<unsigned char>(s[at + 1]);
            return static_cast<char32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
        };
        char32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < s.size()) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// The text in CP1251; false with `bad` set to the first character the code
// page has not (0xFFFD for a broken UTF-8 sequence).
bool ToCp1251(std::string_view bytes, TEncoding encoding, std::string& out, char32_t& bad)
{
    out.clear();
    out.reserve(bytes.size());
    if (encoding == TEncoding::Cp1251) {
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) == 152) {
                bad = 0xFFFD;
                return false;
            }
        }
        out.assign(bytes);
        return true;
    }
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp;
        if (encoding == TEncoding::Latin1) {
            cp = static_cast<unsigned char>(bytes[i++]);
        } else if (const size_t n = Utf8SequenceLength(bytes, i, cp); n > 0) {
            i += n;
        } else {
            bad = 0xFFFD;
            return false;
        }
        unsigned char b;
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (Cp1251ByteOf(cp, b)) {
            out += static_cast<char>(b);
        } else {
            bad = cp;
            return false;
        }
    }
    return true;
}

// The longest texts read: names and groups as their editors take them; a
// phone as written, with blanks, dashes and brackets between its digits.
constexpr size_t NameLimit = ContactNameLimit;
constexpr size_t GroupLimit = GroupNameLimit;
constexpr size_t WrittenPhoneLimit = 2 * PhoneNumberLimit;
constexpr size_t SenderLimit = 128;

// A text too long to be shown whole in a reason: its beginning and "…".
std::string Shortened(std::string text, size_t limit)
{
    if (text.size() > limit) {
        text.resize(limit);
        text += '\x85'; // "…"
    }
    return text;
}

// A name, a phone or a group in CP1251, one line (control characters as
// blanks), trimmed; an empty result with `refusal` set when it cannot be had.
// A text longer than `limit` sets `refusal` and comes back cut to `limit` and "…".
std::string FieldText(std::string_view bytes, TEncoding encoding, const char* what, std::string& refusal, size_t limit)
{
    std::string out;
    char32_t bad = 0;
    if (!ToCp1251(bytes, encoding, out, bad)) {
        if (refusal.empty())
            refusal = bad == 0xFFFD ? Cp1251(what) + Cp1251(": текст не в своей кодировке (неверные байты)")
                                    : Cp1251(what) + ": " + UnmappableCharText(bad);
        return {};
    }
    out = Trim(ControlCharsToSpaces(out));
    if (out.size() > limit) {
        if (refusal.empty())
            refusal = Cp1251(what) + Cp1251(" длиннее ") + IntToStr(static_cast<long long>(limit)) + Cp1251(" знаков");
        out = Shortened(std::move(out), limit);
    }
    return out;
}

// Why a phone number cannot be stored, or an empty text.
std::string PhoneRefusal(const std::string& phone)
{
    if (!LooksLikePhone(phone))
        return Cp1251("«") + phone + Cp1251("» — не номер телефона");
    if (NormalizedPhone(phone).size() > static_cast<size_t>(PhoneNumberLimit))
        return Cp1251("номер длиннее ") + IntToStr(PhoneNumberLimit) + Cp1251(" цифр");
    return {};
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

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

// `known`: the encoding of the whole text when it is already known (a UTF-16 file read as UTF-8).
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

// --- CSV ----------------------------------------------------------------------------------------
char GuessDelimiter(std::string_view text)
{
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '\n')
            break;
        else if (!quoted)
            comma += c == ',', semicolon += c == ';', tab += c == '\t';
    }
    if (tab >= semicolon && tab >= comma && tab > 0)
        return '\t';
    if (semicolon >= comma && semicolon > 0)
        return ';';
    return ',';
}

// A cell longer than this keeps its beginning and "…": no field the import
// takes is as long, so the row is refused all the same, and nothing the
// window shows is huge.
constexpr size_t CsvCellLimit = 1024;

void AppendCapped(std::string& field, std::string_view piece)
{
    if (field.size() > CsvCellLimit)
        return;
    if (field.size() + piece.size() <= CsvCellLimit) {
        field.append(piece);
        return;
    }
    size_t cut = CsvCellLimit - field.size();
    while (cut > 0 && (static_cast<unsigned char>(piece[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 character
    field.append(piece.substr(0, cut));
    field += "\xE2\x80\xA6"; // "…", which also makes the size pass the limit
}

// Records of quoted or plain fields; a quoted field may hold the delimiter, line breaks and doubled quotes.
void ParseCsvRecords(std::string_view text, char delimiter, TCsvTable& table, const TImportProgress& progress)
{
    TProgressTicker ticker(progress, text.size());
    std::vector<std::string> record;
    std::string field;
    size_t i = 0;
    int line = 1, recordLine = 1;
    bool first = true;
    auto endRecord = [&] {
        record.push_back(std::move(field));
        field.clear();
        const bool blank = std::all_of(record.begin(), record.end(), [](const std::string& f) { return Trim(f).empty(); });
        if (first) {
            table.Headers.clear();
            for (const std::string& h : record)
                table.Headers.push_back(Trim(Utf8ToCp1251(h)));
            first = false;
        } else if (!blank) {
            table.Cells.push_back(std::move(record));
            table.RowLines.push_back(recordLine);
        }
        record.clear();
    };
    while (i < text.size()) {
        ticker.Tick(i);
        if (text[i] == '"' && field.empty()) {
            // A quoted field, read a stretch at a time up to the next quote.
            ++i;
            while (i < text.size()) {
                ticker.Check();
                size_t quote = text.find('"', i);
                if (quote == std::string_view::npos)
                    quote = text.size();
                std::string_view stretch = text.substr(i, quote - i);
                line += static_cast<int>(std::count(stretch.begin(), stretch.end(), '\n'));
                for (size_t cr; !stretch.empty(); stretch.remove_prefix(cr + 1)) {
                    cr = stretch.find('\r');
                    AppendCapped(field, stretch.substr(0, cr));
                    if (cr == std::string_view::npos)
                        break;
                }
                i = quote + 1;
                if (i < text.size() && text[i] == '"') {
                    AppendCapped(field, "\"");
                    ++i;
                    continue;
                }
                break;
            }
            continue;
        }
        const char c = text[i++];
        if (c == delimiter) {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            endRecord();
            recordLine = ++line;
        } else if (c != '\r') {
            if (field.size() <= CsvCellLimit)
                field += c;
            else if (field.size() == CsvCellLimit + 1)
                AppendCapped(field, "x");
        }
    }
    if (!field.empty() || !record.empty())
        endRecord();
}

int FindHeader(const std::vector<std::string>& upper, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const std::string wanted = UpperCase(Cp1251(name));
        for (size_t k = 0; k < upper.size(); ++k)
            if (upper[k] == wanted)
                return static_cast<int>(k);
    }
    return -1;
}

bool ContainsAny(std::string_view upper, std::initializer_list<const char*> parts)
{
    for (const char* part : parts)
        if (upper.find(UpperCase(Cp1251(part))) != std::string_view::npos)
            return true;
    return false;
}

// Whether a phone's column name or kind ("Mobile", "Мобильный") says mobile.
bool SaysMobile(std::string_view upper)
{
    return ContainsAny(upper, {"Mobile", "Cell", "Мобильн", "Сотов", "переносн"});
}

// Every column a known export writes phones in: Google's "Phone N - Value"
// (its kind in "Phone N - Type" or "- Label"), Outlook's "Business Phone",
// "Mobile Phone", ..., their Russian names, and plain "Телефон 2", "Phone".
// Faxes, pagers and the like are no phones to send to.
std::vector<TCsvPhoneColumn> FindPhoneColumns(const std::vector<std::string>& upper)
{
    std::vector<TCsvPhoneColumn> columns;
    for (size_t k = 0; k < upper.size(); ++k) {
        const std::string& h = upper[k];
        if (ContainsAny(h, {"Fax", "Факс", "Pager", "Пейджер", "TTY", "Телетайп", "Telex", "Телекс", "ISDN", "Type",
                            "Label", "Тип"}))
            continue;
        const bool phone = ContainsAny(h, {"Phone", "Телефон", "Mobile", "Мобильн", "Сотов", "Cell"}) ||
                           FindHeader({h}, {"Номер", "Номер телефона", "Tel", "Тел.", "Тел"}) == 0;
        if (!phone)
            continue;
        TCsvPhoneColumn column;
        column.Value = static_cast<int>(k);
        column.Mobile = SaysMobile(h);
        if (const size_t dash = h.rfind(" - "); dash != std::string::npos) {
            const std::string stem = h.substr(0, dash);
            column.Type = FindHeader(upper, {(stem + " - TYPE").c_str(), (stem + " - LABEL").c_str()});
        }
        columns.push_back(column);
    }
    return columns;
}

void GuessCsvColumns(TCsvTable& t)
{
    std::vector<std::string> upper;
    for (const std::string& h : t.Headers)
        upper.push_back(UpperCase(h));
    t.NameColumn = FindHeader(upper, {"Name", "Display Name", "Full Name", "Contact Name", "ФИО", "Полное имя",
                                      "Отображаемое имя", "Абонент", "Контакт", "Имя абонента"});
    t.MiddleNameColumn = t.LastNameColumn = -1;
    if (t.NameColumn < 0) {
        t.NameColumn = FindHeader(upper, {"First Name", "Given Name", "Имя"});
        t.LastNameColumn = FindHeader(upper, {"Last Name", "Family Name", "Surname", "Фамилия"});
        if (t.NameColumn < 0) {
            t.NameColumn = t.LastNameColumn;
            t.LastNameColumn = -1;
        } else if (t.LastNameColumn >= 0) {
            t.MiddleNameColumn = FindHeader(upper, {"Middle Name", "Additional Name", "Отчество"});
        }
    }
    t.PhoneColumns = FindPhoneColumns(upper);
    t.PhoneColumn = t.PhoneColumns.empty() ? -1 : CsvMobileElseFirst;
    t.GroupsSplit = TCsvGroupsSplit::Google;
    t.GroupsColumn = FindHeader(upper, {"Group Membership", "Labels"});
    if (t.GroupsColumn < 0) {
        t.GroupsSplit = TCsvGroupsSplit::Semicolon;
        t.GroupsColumn = FindHeader(upper, {"Categories", "Категории"});
    }
    if (t.GroupsColumn < 0) {
        t.GroupsSplit = TCsvGroupsSplit::Comma;
        t.GroupsColumn = FindHeader(upper, {"Groups", "Group", "Группы", "Группа"});
    }
    t.SenderColumn = FindHeader(upper, {"Оператор", "Operator"});
}

// A cell's group names, split as its column's program writes them; each name
// once, in order.
std::vector<std::string> SplitGroups(std::string_view cell, TCsvGroupsSplit split, std::string& refusal)
{
    std::vector<std::string> groups;
    auto take = [&](std::string_view piece) {
        std::string group = FieldText(piece, TEncoding::Utf8, "Группа", refusal, GroupLimit);
        if (split == TCsvGroupsSplit::Google && !group.empty() && group[0] == '*')
            return; // "* myContacts", "* starred": the program's own
        if (!group.empty() && std::find(groups.begin(), groups.end(), group) == groups.end())
            groups.push_back(std::move(group));
    };
    if (split == TCsvGroupsSplit::Google) {
        for (size_t start = 0;;) {
            const size_t at = cell.find(":::", start);
            take(cell.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
            if (at == std::string_view::npos)
                break;
            start = at + 3;
        }
        return groups;
    }
    // Commas (or Outlook's semicolons) outside double quotes; a quoted name loses its quotes.
    const char separator = split == TCsvGroupsSplit::Semicolon ? ';' : ',';
    std::string piece;
    bool quoted = false;
    for (size_t i = 0; i <= cell.size(); ++i) {
        if (i == cell.size() || (cell[i] == separator && !quoted)) {
            take(piece);
            piece.clear();
        } else if (cell[i] == '"' && split == TCsvGroupsSplit::Comma) {
            if (quoted && i + 1 < cell.size() && cell[i + 1] == '"')
                piece += cell[++i];
            else
                quoted = !quoted;
        } else {
            piece += cell[i];
        }
    }
    return groups;
}

// --- plain list -------------------------------------------------------------------------------
std::vector<TImportedContact> ParsePlainList(std::string_view text, const TImportProgress& progress)
{
    std::vector<TImportedContact> rows;
    TProgressTicker ticker(progress, text.size());
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ticker.Tick(pos);
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        ++lineNo;
        size_t start = 0;
        for (size_t i = 0; i <= line.size(); ++i) {
            if (i < line.size() && line[i] != ',' && line[i] != ';')
                continue;
            std::string piece = Trim(line.substr(start, i - start));
            start = i + 1;
            if (piece.empty())
                continue;
            TImportedContact c;
            c.Line = lineNo;
            // The number first, then an optional name.
            size_t end = 0;
            while (end < piece.size() && std::string_view("+0123456789 -().\t").find(piece[end]) != std::string_view::npos)
                ++end;
            std::string phone = Trim(ControlCharsToSpaces(std::string_view(piece).substr(0, end)));
            if (!LooksLikePhone(phone)) {
                std::string shown;
                char32_t bad;
                if (!ToCp1251(piece, TEncoding::Utf8, shown, bad))
                    shown = "?";
                c.Refusal = Cp1251("«") + Shortened(std::move(shown), NameLimit) + Cp1251("» — не номер телефона");
            } else {
                c.Phone = FieldText(phone, TEncoding::Utf8, "Телефон", c.Refusal, WrittenPhoneLimit);
                c.Phones = {c.Phone};
                if (c.Refusal.empty())
                    c.Refusal = PhoneRefusal(c.Phone);
                c.Name = FieldText(std::string_view(piece).substr(end), TEncoding::Utf8, "Имя", c.Refusal, NameLimit);
            }
            rows.push_back(std::move(c));
        }
    }
    return rows;
}

bool HasUtf16Bom(std::string_view bytes)
{
    return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

// The encoding of a text without a UTF-16 byte-order mark: UTF-8 (with or
// without its mark) or CP1251. Raises for binary bytes or text in neither.
void CheckNotBinary(std::string_view bytes)
{
    if (bytes.find('\0') != std::string_view::npos)
        throw TError(Cp1251("Это не текстовый файл: в нём есть нулевые байты. Выберите файл vCard (*.vcf), CSV или "
                            "текстовый список номеров."));
}

TEncoding CheckedEncoding(std::string_view bytes)
{
    CheckNotBinary(bytes);
    if (IsValidUtf8(bytes))
        return TEncoding::Utf8;
    // Mostly UTF-8 with a few broken bytes (a file put together from pieces in
    // two encodings) would read as CP1251 and garble every name: refused,
    // naming the line of the first broken byte.
    size_t multiByte = 0, broken = 0, firstBroken = 0;
    char32_t cp;
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
        } else if (const size_t n = Utf8SequenceLength(bytes, i, cp); n > 0) {
            ++multiByte;
            i += n;
        } else {
            firstBroken = broken++ == 0 ? i : firstBroken;
            ++i;
        }
    }
    if (multiByte >= 4 && multiByte >= 4 * broken) {
        const size_t line = 1 + static_cast<size_t>(std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(firstBroken), '\n'));
        throw TError(Cp1251("Файл в кодировке UTF-8, но в строке ") + IntToStr(static_cast<int>(line)) +
                     Cp1251(" есть байты, которые в UTF-8 не читаются (файл повреждён или собран из частей в разных "
                            "кодировках). Исправьте эту строку или сохраните файл заново в UTF-8."));
    }
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 152 || (b < 32 && b != '\t' && b != '\r' && b != '\n' && b != '\f'))
            throw TError(Cp1251("Не удалось прочитать текст файла: он не в кодировке UTF-8 и не в Windows-1251."));
    }
    return TEncoding::Cp1251;
}

std::string_view WithoutUtf8Bom(std::string_view bytes)
{
    return bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
}

// The file's text as UTF-8 (a CP1251 or UTF-16 file converted), without a byte-order mark.
std::string TextAsUtf8(std::string_view bytes, TEncoding& original)
{
    if (HasUtf16Bom(bytes)) {
        original = TEncoding::Utf8;
        return Utf16ToUtf8(bytes, bytes[0] == '\xFE');
    }
    original = CheckedEncoding(bytes);
    return original == TEncoding::Utf8 ? std::string(WithoutUtf8Bom(bytes)) : Cp1251ToUtf8(bytes);
}

bool LooksLikeVCard(std::string_view text)
{
    const size_t at = text.find_first_not_of(" \t\r\n");
    return at != std::string_view::npos && StartsWithNoCase(text.substr(at), "BEGIN:VCARD");
}

// A first line of at least two fields none of which is a phone number is a CSV header.
bool LooksLikeCsv(std::string_view text)
{
    const std::string_view first = text.substr(0, text.find('\n'));
    const char delimiter = GuessDelimiter(first);
    if (first.find(delimiter) == std::string_view::npos)
        return false;
    size_t start = 0;
    for (size_t i = 0; i <= first.size(); ++i) {
        if (i == first.size() || first[i] == delimiter) {
            std::string field = Trim(first.substr(start, i - start));
            if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
                field = field.substr(1, field.size() - 2);
            if (LooksLikePhone(field))
                return false;
            start = i + 1;
        }
    }
    return true;
}

void CheckSomePhone(const std::vector<TImportedContact>& rows)
{
    for (const TImportedContact& c : rows)
        if (!c.Phone.empty())
            return;
    throw TError(Cp1251("В файле не найдено ни одного номера телефона."));
}

} // namespace

std::string UnmappableCharText(char32_t cp)
{
    return Cp1251("знак ") + CodePointText(cp) + Cp1251(", которого нет в кодировке Windows-1251");
}

void MakeCsvRows(TImportSource& source) { source.Rows = CsvRowsOf(source.Csv); }

std::vector<TImportedContact> CsvRowsOf(const TCsvTable& t, const TImportProgress& progress)
{
    std::vector<TImportedContact> rows;
    rows.reserve(t.Cells.size());
    TProgressTicker ticker(progress, t.Cells.size());
    auto cell = [](const std::vector<std::string>& row, int column) -> std::string_view {
        return column >= 0 && static_cast<size_t>(column) < row.size() ? std::string_view(row[static_cast<size_t>(column)])
                                                                       : std::string_view();
    };
    // The chosen column, when it is not one of the phone columns, gives its numbers too.
    std::vector<TCsvPhoneColumn> phoneColumns = t.PhoneColumns;
    if (t.PhoneColumn >= 0 && std::none_of(phoneColumns.begin(), phoneColumns.end(),
                                           [&](const TCsvPhoneColumn& p) { return p.Value == t.PhoneColumn; }))
        phoneColumns.insert(phoneColumns.begin(), TCsvPhoneColumn{t.PhoneColumn, -1, false});
    for (size_t r = 0; r < t.Cells.size(); ++r) {
        ticker.Tick(r);
        const std::vector<std::string>& row = t.Cells[r];
        TImportedContact c;
        c.Line = t.RowLines[r];
        std::string name;
        for (int column : {t.NameColumn, t.MiddleNameColumn, t.LastNameColumn}) {
            const std::string part = Trim(cell(row, column));
            if (!part.empty())
                name += (name.empty() ? "" : " ") + part;
        }
        c.Name = FieldText(name, TEncoding::Utf8, "Имя", c.Refusal, NameLimit);
        // Every number of the row in the order of the columns; the one the
        // choice names becomes the contact's phone.
        int chosen = -1, firstMobile = -1, firstOfColumn = -1;
        std::vector<std::string> refusals;
        for (const TCsvPhoneColumn& column : phoneColumns) {
            const bool mobile = column.Mobile || SaysMobile(UpperCase(Utf8ToCp1251(cell(row, column.Type))));
            const std::string_view numbers = cell(row, column.Value);
            for (size_t start = 0;;) {
                const size_t at = numbers.find(":::", start);
                std::string refusal;
                std::string phone = FieldText(numbers.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start),
                                              TEncoding::Utf8, "Телефон", refusal, WrittenPhoneLimit);
                if (!phone.empty() || !refusal.empty()) {
                    if (refusal.empty())
                        refusal = PhoneRefusal(phone);
                    const int index = static_cast<int>(c.Phones.size());
                    if (column.Value == t.PhoneColumn && firstOfColumn < 0)
                        firstOfColumn = index;
                    if (mobile && firstMobile < 0 && refusal.empty())
                        firstMobile = index;
                    c.Phones.push_back(std::move(phone));
                    refusals.push_back(std::move(refusal));
                }
                if (at == std::string_view::npos)
                    break;
                start = at + 3;
            }
        }
        if (t.PhoneColumn == CsvMobileElseFirst) {
            chosen = firstMobile;
            for (size_t k = 0; chosen < 0 && k < refusals.size(); ++k)
                if (refusals[k].empty())
                    chosen = static_cast<int>(k);
            if (chosen < 0 && !c.Phones.empty())
                chosen = 0; // none is a number: the first says why
        } else {
            chosen = firstOfColumn;
        }
        if (t.PhoneColumn == -1) {
            c.Refusal = Cp1251("не выбран столбец с телефоном");
        } else if (chosen < 0) {
            if (c.Refusal.empty())
                c.Refusal = Cp1251("нет номера телефона");
        } else {
            c.Phone = c.Phones[static_cast<size_t>(chosen)];
            if (c.Refusal.empty())
                c.Refusal = refusals[static_cast<size_t>(chosen)];
        }
        c.Groups = SplitGroups(cell(row, t.GroupsColumn), t.GroupsSplit, c.Refusal);
        std::string ignored;
        c.SenderName = FieldText(cell(row, t.SenderColumn), TEncoding::Utf8, "Оператор", ignored, SenderLimit);
        rows.push_back(std::move(c));
    }
    return rows;
}

TImportSource ParseContactsAs(TImportFormat format, std::string_view bytes, const TImportProgress& progress)
{
    TImportSource source;
    source.Format = format;
    TEncoding encoding = TEncoding::Utf8;
    if (format == TImportFormat::VCard) {
        // The lines are unfolded first, then each value is decoded on its own
        // (a fold may split a character; a 2.1 card may name its charset).
        std::string converted;
        std::string_view text = WithoutUtf8Bom(bytes);
        std::optional<TEncoding> known;
        if (HasUtf16Bom(bytes)) {
            converted = TextAsUtf8(bytes, encoding);
            text = converted;
            known = TEncoding::Utf8;
        } else {
            CheckNotBinary(bytes);
        }
        source.Rows = ParseVCards(text, known, progress);
        CheckSomePhone(source.Rows);
        return source;
    }
    const std::string text = TextAsUtf8(bytes, encoding);
    if (format == TImportFormat::Csv) {
        ParseCsvRecords(text, GuessDelimiter(text), source.Csv, progress);
        if (source.Csv.Cells.empty())
            throw TError(Cp1251("В файле CSV нет ни одной строки после заголовка."));
        GuessCsvColumns(source.Csv);
        MakeCsvRows(source);
        return source;
    }
    source.Rows = ParsePlainList(text, progress);
    CheckSomePhone(source.Rows);
    return source;
}

TImportSource ParseContacts(std::string_view bytes, const TImportProgress& progress)
{
    // The format is told from the start of the text (a CP1251 file reads the same for this).
    std::string_view head = bytes.substr(0, 4096);
    TEncoding encoding;
    std::string headText;
    try {
        headText = TextAsUtf8(head, encoding);
    } catch (const TError&) {
        headText.assign(head); // ParseContactsAs refuses it with the whole text
    }
    if (LooksLikeVCard(headText))
        return ParseContactsAs(TImportFormat::VCard, bytes, progress);
    if (LooksLikeCsv(headText))
        return ParseContactsAs(TImportFormat::Csv, bytes, progress);
    return ParseContactsAs(TImportFormat::PlainList, bytes, progress);
}

TImportSource ReadContactFile(const std::string& path, const TImportProgress& progress, std::uint64_t maxSize)
{
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(path, error);
    if (!error && size > maxSize)
        throw TError(Cp1251("Файл слишком велик для импорта: ") + IntToStr(static_cast<long long>(size / (1024 * 1024))) +
                     Cp1251(" МБ (") + IntToStr(static_cast<long long>(size)) + Cp1251(" байт); можно не больше ") +
                     IntToStr(static_cast<long long>(maxSize / (1024 * 1024))) + Cp1251(" МБ."));
    const std::string bytes = ReadWholeFile(path);
    if (bytes.empty())
        throw TError(Cp1251("Файл пуст."));
    return ParseContacts(bytes, progress);
}
