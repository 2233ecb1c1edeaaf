#include "model/ContactImport.h"

#include "model/SafeFile.h"
#include "model/SmsLink.h"
#include "model/Text.h"

#include <algorithm>
#include <filesystem>
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

// A name, a phone or a group in CP1251, one line, trimmed; an empty result
// with `refusal` set when it cannot be had.
std::string FieldText(std::string_view bytes, TEncoding encoding, const char* what, std::string& refusal)
{
    std::string out;
    char32_t bad = 0;
    if (!ToCp1251(bytes, encoding, out, bad)) {
        if (refusal.empty())
            refusal = bad == 0xFFFD ? Cp1251(what) + Cp1251(": текст не в своей кодировке (неверные байты)")
                                    : Cp1251(what) + ": " + UnmappableCharText(bad);
        return {};
    }
    return Trim(ControlCharsToSpaces(out));
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

struct TVCardBuilder {
    int Line = 0;
    bool Version21 = false;
    std::string FN, N;
    std::vector<std::string> Phones;
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

    void Take(const TVCardProperty& p, TEncoding fileEncoding)
    {
        TEncoding encoding;
        if (SameText(p.Name, "VERSION")) {
            Version21 = Trim(p.Value) == "2.1";
        } else if (SameText(p.Name, "FN")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding != TEncoding::Unknown)
                FN = FieldText(Unescaped(value), encoding, "Имя", Refusal);
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
            N = FieldText(joined, encoding, "Имя", Refusal);
        } else if (SameText(p.Name, "TEL")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding == TEncoding::Unknown)
                return;
            std::string phone = Trim(Unescaped(value));
            if (StartsWithNoCase(phone, "tel:")) // vCard 4.0: TEL;VALUE=uri:tel:+7...
                phone = phone.substr(4, phone.find(';') == std::string::npos ? std::string::npos : phone.find(';') - 4);
            std::string refusal;
            phone = FieldText(phone, encoding, "Телефон", refusal);
            if (phone.empty())
                return;
            if (CellIndex < 0 && (HasParam(p, "CELL") || HasParam(p, "MOBILE")))
                CellIndex = static_cast<int>(Phones.size());
            Phones.push_back(phone);
        } else if (SameText(p.Name, "CATEGORIES")) {
            const std::string value = Decoded(p, fileEncoding, encoding);
            if (encoding == TEncoding::Unknown)
                return;
            for (std::string_view one : SplitEscaped(value, ',')) {
                std::string group = FieldText(Unescaped(one), encoding, "Группа", Refusal);
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
        if (!c.Phones.empty())
            c.Phone = c.Phones[static_cast<size_t>(CellIndex >= 0 ? CellIndex : 0)];
        if (c.Refusal.empty() && c.Phones.empty())
            c.Refusal = Cp1251("в карточке нет номера телефона");
        else if (c.Refusal.empty() && !LooksLikePhone(c.Phone))
            c.Refusal = Cp1251("«") + c.Phone + Cp1251("» — не номер телефона");
        return c;
    }
};

std::vector<TImportedContact> ParseVCards(std::string_view text, TEncoding fileEncoding, const TImportProgress& progress)
{
    std::vector<TImportedContact> rows;
    TProgressTicker ticker(progress, text.size());
    size_t pos = 0;
    int lineNo = 0;
    // The next physical line without its CR LF or LF.
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

    bool inCard = false;
    TVCardBuilder card;
    std::string logical;
    std::string_view line;
    while (physical(line)) {
        ticker.Tick(pos);
        const int startLine = lineNo;
        logical.assign(line);
        // Folded lines: a line that starts with a blank continues the one before.
        while (nextStartsFolded()) {
            std::string_view more;
            physical(more);
            logical.append(card.Version21 ? more : more.substr(1));
        }
        TVCardProperty p = SplitProperty(logical);
        if (p.Name.empty())
            continue;
        // Quoted-printable soft line breaks: "=" at the end joins the next line.
        if (HasParam(p, "QUOTED-PRINTABLE")) {
            while (!logical.empty() && logical.back() == '=' && pos < text.size()) {
                std::string_view more;
                physical(more);
                logical.pop_back();
                logical.append(more);
            }
            p = SplitProperty(logical);
        }
        if (SameText(p.Name, "BEGIN") && SameText(Trim(p.Value), "VCARD")) {
            if (inCard)
                throw TError(Cp1251("Файл оборван: карточка vCard, начатая в строке ") + IntToStr(card.Line) +
                             Cp1251(", не закончена (нет строки END:VCARD)."));
            inCard = true;
            card = TVCardBuilder();
            card.Line = startLine;
        } else if (SameText(p.Name, "END") && SameText(Trim(p.Value), "VCARD")) {
            if (inCard)
                rows.push_back(card.Finish());
            inCard = false;
        } else if (inCard) {
            card.Take(p, fileEncoding);
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
            ++i;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                if (text[i] == '\n')
                    ++line;
                if (text[i] != '\r')
                    field += text[i];
                ++i;
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
            field += c;
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

int FindHeaderContaining(const std::vector<std::string>& upper, std::initializer_list<const char*> parts)
{
    for (const char* part : parts) {
        const std::string wanted = UpperCase(Cp1251(part));
        for (size_t k = 0; k < upper.size(); ++k)
            if (upper[k].find(wanted) != std::string::npos)
                return static_cast<int>(k);
    }
    return -1;
}

void GuessCsvColumns(TCsvTable& t)
{
    std::vector<std::string> upper;
    for (const std::string& h : t.Headers)
        upper.push_back(UpperCase(h));
    t.NameColumn = FindHeader(upper, {"Name", "Display Name", "Full Name", "Contact Name", "ФИО", "Полное имя",
                                      "Отображаемое имя", "Абонент", "Контакт", "Имя абонента"});
    t.LastNameColumn = -1;
    if (t.NameColumn < 0) {
        t.NameColumn = FindHeader(upper, {"First Name", "Given Name", "Имя"});
        t.LastNameColumn = FindHeader(upper, {"Last Name", "Family Name", "Surname", "Фамилия"});
        if (t.NameColumn < 0) {
            t.NameColumn = t.LastNameColumn;
            t.LastNameColumn = -1;
        }
    }
    t.PhoneColumn = FindHeader(upper, {"Mobile Phone", "Mobile Number", "Mobile", "Cell Phone", "Cell",
                                       "Мобильный телефон", "Мобильный", "Сотовый телефон", "Сотовый", "Phone 1 - Value",
                                       "Phone", "Phone Number", "Телефон", "Номер телефона", "Номер", "Home Phone",
                                       "Business Phone", "Work Phone", "Домашний телефон", "Рабочий телефон"});
    if (t.PhoneColumn < 0)
        t.PhoneColumn = FindHeaderContaining(upper, {"Mobile", "Мобильн", "Phone", "Телефон"});
    t.GroupsColumn = FindHeader(upper, {"Groups", "Group", "Group Membership", "Categories", "Группы", "Группа", "Категории"});
    t.SenderColumn = FindHeader(upper, {"Оператор", "Operator"});
}

// A cell's group names: separated by commas or " ::: "; the
// system groups some programs mark with "*" are left out.
std::vector<std::string> SplitGroups(std::string_view cell, std::string& refusal)
{
    std::vector<std::string> groups;
    std::string text(cell);
    for (size_t at; (at = text.find(":::")) != std::string::npos;)
        text.replace(at, 3, ",");
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == ',') {
            std::string group = FieldText(std::string_view(text).substr(start, i - start), TEncoding::Utf8, "Группа", refusal);
            if (!group.empty() && group[0] != '*' && std::find(groups.begin(), groups.end(), group) == groups.end())
                groups.push_back(std::move(group));
            start = i + 1;
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
            std::string phone = Trim(std::string_view(piece).substr(0, end));
            if (!LooksLikePhone(phone)) {
                std::string shown;
                char32_t bad;
                if (!ToCp1251(piece, TEncoding::Utf8, shown, bad))
                    shown = "?";
                c.Refusal = Cp1251("«") + shown + Cp1251("» — не номер телефона");
            } else {
                c.Phone = phone;
                c.Phones = {phone};
                c.Name = FieldText(std::string_view(piece).substr(end), TEncoding::Utf8, "Имя", c.Refusal);
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
TEncoding CheckedEncoding(std::string_view bytes)
{
    if (bytes.find('\0') != std::string_view::npos)
        throw TError(Cp1251("Это не текстовый файл: в нём есть нулевые байты. Выберите файл vCard (*.vcf), CSV или "
                            "текстовый список номеров."));
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

void MakeCsvRows(TImportSource& source)
{
    TCsvTable& t = source.Csv;
    source.Rows.clear();
    source.Rows.reserve(t.Cells.size());
    auto cell = [](const std::vector<std::string>& row, int column) -> std::string_view {
        return column >= 0 && static_cast<size_t>(column) < row.size() ? std::string_view(row[static_cast<size_t>(column)])
                                                                       : std::string_view();
    };
    for (size_t r = 0; r < t.Cells.size(); ++r) {
        const std::vector<std::string>& row = t.Cells[r];
        TImportedContact c;
        c.Line = t.RowLines[r];
        std::string name(Trim(cell(row, t.NameColumn)));
        const std::string last = Trim(cell(row, t.LastNameColumn));
        if (!last.empty())
            name += (name.empty() ? "" : " ") + last;
        c.Name = FieldText(name, TEncoding::Utf8, "Имя", c.Refusal);
        if (t.PhoneColumn < 0) {
            c.Refusal = Cp1251("не выбран столбец с телефоном");
        } else {
            const std::string phone = FieldText(cell(row, t.PhoneColumn), TEncoding::Utf8, "Телефон", c.Refusal);
            if (phone.empty() && c.Refusal.empty())
                c.Refusal = Cp1251("нет номера телефона");
            else if (!phone.empty() && !LooksLikePhone(phone) && c.Refusal.empty())
                c.Refusal = Cp1251("«") + phone + Cp1251("» — не номер телефона");
            if (!phone.empty()) {
                c.Phone = phone;
                c.Phones = {phone};
            }
        }
        c.Groups = SplitGroups(cell(row, t.GroupsColumn), c.Refusal);
        std::string ignored;
        c.SenderName = FieldText(cell(row, t.SenderColumn), TEncoding::Utf8, "Оператор", ignored);
        source.Rows.push_back(std::move(c));
    }
}

TImportSource ParseContactsAs(TImportFormat format, std::string_view bytes, const TImportProgress& progress)
{
    TImportSource source;
    source.Format = format;
    TEncoding encoding = TEncoding::Utf8;
    if (format == TImportFormat::VCard) {
        // Each value is decoded on its own: a 2.1 card may name its charset.
        std::string converted;
        std::string_view text = bytes;
        if (HasUtf16Bom(bytes)) {
            converted = TextAsUtf8(bytes, encoding);
            text = converted;
        } else {
            encoding = CheckedEncoding(bytes);
            text = WithoutUtf8Bom(bytes);
        }
        source.Rows = ParseVCards(text, encoding, progress);
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
