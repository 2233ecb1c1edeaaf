// Reading contacts: the format and the encoding told from the bytes, the
// plain lists of numbers, and what the readers share; the vCard and CSV
// readers have files of their own.
#include "model/ContactImport.h"

#include "model/ContactImportRead.h"
#include "model/SafeFile.h"
#include "model/SmsLink.h"
#include "model/Text.h"

#include <algorithm>
#include <filesystem>
#include <optional>

TImportCancelled::TImportCancelled() : TError(Cp1251("Импорт отменён.")) {}

namespace ContactRead {

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

} // namespace ContactRead

using namespace ContactRead;

namespace {

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
