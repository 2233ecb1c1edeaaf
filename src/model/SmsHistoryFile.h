#pragma once
// The history of finished messages: an append-only text file for people to
// read (CP1251, CR LF). Each record:
//   80 "=" signs
//   "Для: " name " (" phone ")"
//   "Дата: " the time the message was queued, dd.mm.yyyy hh:nn:ss
//   the status line (none for a message never tried)
//   80 "-" signs
//   the message text
// A status or text line that would read as one of the two rule lines (80 "="
// or "-", blanks after them allowed) is written with one more blank and read
// with one less: the record stays whole and looks the same to a person. A
// name and phone that "Для: " name " (" phone ")" would not give back are
// followed by "Телефон: " and the phone.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TSms;

// The history as the manager and the history window see it.
class TSmsHistory {
public:
    virtual ~TSmsHistory() = default;
    // Appends one record for a finished message.
    virtual void AddSms(const TSms& sms) = 0;
    // Removes all records.
    virtual void Clear() = 0;
    // The whole history as lines.
    virtual std::vector<std::string> LoadLines() const = 0;

    // Told of each record once it is in the history, with its lines as
    // LoadLines would give them (the history window follows the file).
    std::function<void(const std::vector<std::string>& lines)> OnAdded;
};

// The lines of a record's status or text as written (GuardHistoryLines) and
// as read (UnguardHistoryLine, one line): see the rule lines above. Line
// breaks stay as they are.
std::string GuardHistoryLines(std::string_view text);
std::string UnguardHistoryLine(std::string_view line);
// The word of the line that gives the phone when the "Для: " line cannot.
const std::string& HistoryPhoneWord();

// "dd.mm.yyyy[ hh:nn[:ss]]" as a number that orders dates (yyyymmddhhnnss); -1 for another text.
long long HistoryDateKey(const std::string& date);

class TSmsHistoryFile : public TSmsHistory {
public:
    // Binds the file name (a bare name lives in the program's folder); the
    // file is not touched.
    explicit TSmsHistoryFile(std::string fileName) : FFileName(std::move(fileName)) {}

    const std::string& FileName() const { return FFileName; }

    // Appends the record, creating the file when it is missing. The record is
    // written whole or not at all: a failed write cuts the file back to its
    // old end. Raises TError naming the file on failure.
    void AddSms(const TSms& sms) override;
    // Leaves the file existing and empty (through a safe save).
    void Clear() override;
    // Every line of the file (a line ends at CR, LF or CR LF). A missing file
    // (nothing recorded yet) raises TError with a message saying so.
    std::vector<std::string> LoadLines() const override;

    // The bytes of one record.
    static std::string FormatRecord(const TSms& sms);

private:
    std::string FFileName;
};
