#pragma once
// What the contact readers share: the vCard reader has its own file
// (ContactImportVCard.cpp), the CSV and list readers are in ContactImport.cpp.
#include "model/ContactImport.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ContactRead {

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

// The longest texts read: names and groups as their editors take them; a
// phone as written, with blanks, dashes and brackets between its digits.
constexpr size_t NameLimit = ContactNameLimit;
constexpr size_t GroupLimit = GroupNameLimit;
constexpr size_t WrittenPhoneLimit = PhoneFieldLimit;
constexpr size_t SenderLimit = 128;

// The text in CP1251; false with `bad` set to the first character the code
// page has not (0xFFFD for a broken UTF-8 sequence).
bool ToCp1251(std::string_view bytes, TEncoding encoding, std::string& out, char32_t& bad);
// A text too long to be shown whole in a reason: its beginning and "…".
std::string Shortened(std::string text, size_t limit);
// A name, a phone or a group in CP1251, one line (control characters as
// blanks), trimmed; an empty result with `refusal` set when it cannot be had.
// A text longer than `limit` sets `refusal` and comes back cut to `limit` and "…".
std::string FieldText(std::string_view bytes, TEncoding encoding, const char* what, std::string& refusal, size_t limit);
// Why a phone number cannot be stored, or an empty text.
std::string PhoneRefusal(const std::string& phone);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// CSV: the delimiter the first line uses most (tab, semicolon or comma);
// the records (the first one the headers; a cell kept to 1 KB); the
// columns guessed from the headers.
char GuessDelimiter(std::string_view text);
void ParseCsvRecords(std::string_view text, char delimiter, TCsvTable& table, const TImportProgress& progress);
void GuessCsvColumns(TCsvTable& t);

// The cards of a vCard text. `known`: the encoding of the whole text when it
// is already known (a UTF-16 file read as UTF-8); else it is judged on the
// unfolded values.
std::vector<TImportedContact> ParseVCards(std::string_view text, std::optional<TEncoding> known, const TImportProgress& progress);

} // namespace ContactRead
