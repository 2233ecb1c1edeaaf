#pragma once
// The history file read back as records, and the filter of the history
// window. The file stays a text for people; this only reads it:
//   80 "=" signs / "Для: " name " (" phone ")" / "Дата: " dd.mm.yyyy hh:nn:ss /
//   the status lines ("Статус: ..." or "Ошибка: ..." and the lines of a
//   multi-line error) / 80 "-" signs / the message text.
#include <cstdint>
#include <string>
#include <vector>

class TSms;

// One record of the history (CP1251).
struct TSmsHistoryRecord {
    size_t FirstLine = 0;   // its "=" line, counted from 0
    std::string Name;
    std::string Phone;
    std::string Date;       // as written: dd.mm.yyyy hh:nn:ss
    std::int64_t DateKey = 0; // yyyymmddhhnnss (0: no date that reads)
    int Status = 0;         // SmsStatusSent, SmsStatusFailed, SmsStatusCancelled or SmsStatusNone
    std::string StatusText; // the status lines after "Статус: " / "Ошибка: ", joined by "\r"
    std::string Text;       // the message, its lines joined by "\r\n"
    std::string SearchKey;  // upper-case name, phone, status and text, for the search

    bool Failed() const;
    // The status on one line: the lines of a multi-line error joined by "; ".
    std::string StatusLine() const;
    // The same with its word as the file has it ("Статус: ..." or "Ошибка: ...");
    // empty for a message never tried.
    std::string WordedStatusLine() const;
    // The message on one line: its lines joined by blanks, empty lines left out.
    std::string OneLineText() const;
    // The record as the file has it, one line per element (no line ends).
    std::vector<std::string> Lines() const;
};

// Reads history lines into records, piece by piece: the lines of a long file
// can be given a piece at a time. A record is complete once the next one
// starts or Finish is called.
class TSmsHistoryIndex {
public:
    void AddLines(const std::vector<std::string>& lines, size_t begin, size_t end);
    // The last record is complete (the end of the file).
    void Finish();
    void Clear();

    const std::vector<TSmsHistoryRecord>& Records() const { return FRecords; }
    // How many records at the front are complete.
    size_t Complete() const { return FComplete; }

private:
    void AddLine(const std::string& line);
    void Close();

    std::vector<TSmsHistoryRecord> FRecords;
    size_t FComplete = 0;
    size_t FLine = 0; // the number of the next line
    int FPart = 0;    // in the current record: 0 header, 1 status lines, 2 text
    bool FTextBegun = false;
    std::string FFor; // the current record's "Для: " line without its word
};

// "name (phone)" of a "Для: " line split into its name and phone: at the
// first " (" after which the brackets balance up to the final ")", else at the
// last " ("; no phone without a final ")". Time in proportion to the length.
void SplitNamePhone(const std::string& text, std::string& name, std::string& phone);
// Whether SplitNamePhone gives back this name and phone.
bool NamePhoneReadsBack(const std::string& name, const std::string& phone);

// The record the history gets for a finished message.
TSmsHistoryRecord HistoryRecordOf(const TSms& sms);

// What the history window shows. Empty fields take no part.
struct TSmsHistoryFilter {
    std::string Search;  // in the name, phone, status or text, letter case ignored
    std::string Contact; // the exact name
    bool FailedOnly = false;
    std::int64_t From = 0; // yyyymmddhhnnss, inclusive (0: open)
    std::int64_t To = 0;

    bool Matches(const TSmsHistoryRecord& record, const std::string& upperSearch) const;
    // The positions of the matching records among the first `count`, in order.
    std::vector<int> Apply(const std::vector<TSmsHistoryRecord>& records, size_t count) const;
    // Whether every record this filter takes is among those `previous` took
    // (only the search changed, to a text that holds the previous one), so
    // that Apply may look at the previous result alone: typing on in the
    // search field then scans fewer records with each key.
    bool Narrows(const TSmsHistoryFilter& previous) const;
    // The matching records among `rows` (positions in `records`), in order.
    std::vector<int> ApplyTo(const std::vector<TSmsHistoryRecord>& records, const std::vector<int>& rows) const;
};

// The records at the positions as CSV: UTF-8 with a byte-order mark, fields
// separated by ";" (what spreadsheets in a Russian locale expect), CR LF.
std::string HistoryCsv(const std::vector<TSmsHistoryRecord>& records, const std::vector<int>& rows);
