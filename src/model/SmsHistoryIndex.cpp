#include "model/SmsHistoryIndex.h"

#include "model/SmsHistoryFile.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <algorithm>

namespace {

const std::string& Words(int which)
{
    static const std::string words[] = {Cp1251("Для: "), Cp1251("Дата: "), Cp1251("Статус: "), Cp1251("Ошибка: "),
                                        Cp1251("прервана")};
    return words[which];
}
enum { ForWord, DateWord, StatusWord, ErrorWord, CancelledWord };

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool IsRule(const std::string& line, char c) { return line.size() == 80 && line.find_first_not_of(c) == std::string::npos; }

int Digits(const std::string& s, size_t at, size_t n)
{
    if (at + n > s.size())
        return -1;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// Where "name (phone)" opens its phone: at the first " (" after which the
// brackets balance up to the final ")", so that brackets in the phone
// ("8 (900) 123-45-67") or in the name ("Иван (работа)") stay where they
// belong; the last " (" when none balances. One pass from the end: after
// position p the brackets up to the final ")" sum to depth[p], and they
// balance from p on when that sum is 0 and no later position has a greater
// one (no ")" closes more than was opened on the way).
size_t PhoneOpening(const std::string& text)
{
    if (text.empty() || text.back() != ')')
        return std::string::npos;
    const size_t end = text.size() - 1; // the final ")"
    std::vector<bool> balanced(end + 1, false);
    int depth = 0, highest = 0; // from position i to the end; the highest such sum at or after i
    balanced[end] = true;
    for (size_t i = end; i-- > 0;) {
        depth += text[i] == '(' ? 1 : text[i] == ')' ? -1 : 0;
        highest = std::max(highest, depth);
        balanced[i] = depth == 0 && highest <= 0;
    }
    for (size_t open = text.find(" ("); open != std::string::npos; open = text.find(" (", open + 1))
        if (open + 2 <= end && balanced[open + 2])
            return open;
    return text.rfind(" (");
}

std::string CsvField(const std::string& cp1251)
{
    std::string text = Cp1251ToUtf8(cp1251);
    if (text.find_first_of(";\"\r\n") == std::string::npos && Trim(text) == text)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

} // namespace

void SplitNamePhone(const std::string& text, std::string& name, std::string& phone)
{
    const size_t open = PhoneOpening(text);
    if (open == std::string::npos) {
        name = text;
        phone.clear();
        return;
    }
    name = text.substr(0, open);
    phone = text.substr(open + 2, text.size() - open - 3);
}

bool NamePhoneReadsBack(const std::string& name, const std::string& phone)
{
    std::string n, p;
    SplitNamePhone(name + " (" + phone + ")", n, p);
    return n == name && p == phone;
}

bool TSmsHistoryRecord::Failed() const { return Status == SmsStatusFailed; }

std::string TSmsHistoryRecord::StatusLine() const
{
    std::string line = StatusText;
    for (size_t at = 0; (at = line.find('\r', at)) != std::string::npos;)
        line.replace(at, 1, "; ");
    return line;
}

namespace {
// The status with its word before it, "Ошибка: " or "Статус: "; an error whose
// own text begins with "Ошибка" gets no second one ("Ошибка соединения...").
std::string Worded(const TSmsHistoryRecord& r, const std::string& status)
{
    static const std::string errorWord = Cp1251("Ошибка");
    if (r.Status == SmsStatusFailed && StartsWith(status, errorWord))
        return status;
    return Words(r.Status == SmsStatusFailed ? ErrorWord : StatusWord) + status;
}
} // namespace

std::string TSmsHistoryRecord::WordedStatusLine() const
{
    if (Status == SmsStatusNone)
        return {};
    return Worded(*this, StatusLine());
}

std::string TSmsHistoryRecord::OneLineText() const
{
    std::string line;
    for (const std::string& part : SplitLines(Text))
        if (!part.empty())
            line += (line.empty() ? "" : " ") + part;
    return line;
}

std::vector<std::string> TSmsHistoryRecord::Lines() const
{
    std::vector<std::string> lines {std::string(80, '='), Words(ForWord) + Name + " (" + Phone + ")"};
    if (!NamePhoneReadsBack(Name, Phone))
        lines.push_back(HistoryPhoneWord() + Phone);
    lines.push_back(Words(DateWord) + Date);
    if (Status != SmsStatusNone) {
        std::vector<std::string> status = SplitLines(StatusText);
        if (status.empty())
            status.emplace_back();
        status[0] = Words(Status == SmsStatusFailed ? ErrorWord : StatusWord) + status[0];
        for (std::string& line : status)
            lines.push_back(GuardHistoryLines(line));
    }
    lines.push_back(std::string(80, '-'));
    for (std::string& line : SplitLines(Text))
        lines.push_back(GuardHistoryLines(line));
    return lines;
}

// Reads a record's "dd.mm.yyyy[ hh:nn:ss]" into yyyymmddhhnnss; 0 when it does not read.
static std::int64_t RecordDateKey(const std::string& text)
{
    const int d = Digits(text, 0, 2), m = Digits(text, 3, 2), y = Digits(text, 6, 4);
    if (d < 1 || m < 1 || y < 0 || text[2] != '.' || text[5] != '.')
        return 0;
    int h = 0, n = 0, s = 0;
    if (text.size() >= 19) {
        h = Digits(text, 11, 2), n = Digits(text, 14, 2), s = Digits(text, 17, 2);
        if (h < 0 || n < 0 || s < 0)
            h = n = s = 0;
    }
    return ((((static_cast<std::int64_t>(y) * 100 + m) * 100 + d) * 100 + h) * 100 + n) * 100 + s;
}

void TSmsHistoryIndex::AddLines(const std::vector<std::string>& lines, size_t begin, size_t end)
{
    for (size_t i = begin; i < end && i < lines.size(); ++i)
        AddLine(lines[i]);
}

void TSmsHistoryIndex::AddLine(const std::string& line)
{
    const size_t number = FLine++;
    if (IsRule(line, '=')) {
        Close();
        FRecords.emplace_back().FirstLine = number;
        FPart = 0;
        FTextBegun = false;
        FFor.clear();
        return;
    }
    if (FRecords.size() == FComplete)
        return; // lines before the first record
    TSmsHistoryRecord& r = FRecords.back();
    if (FPart < 2 && IsRule(line, '-')) {
        FPart = 2;
    } else if (FPart == 2) {
        // an empty first line still counts as a line
        r.Text += FTextBegun ? "\r\n" + UnguardHistoryLine(line) : UnguardHistoryLine(line);
        FTextBegun = true;
    } else if (FPart == 1) {
        r.StatusText += "\r" + UnguardHistoryLine(line);
    } else if (StartsWith(line, Words(ForWord))) {
        FFor = line.substr(Words(ForWord).size());
        SplitNamePhone(FFor, r.Name, r.Phone);
    } else if (StartsWith(line, HistoryPhoneWord())) {
        // The phone the "Для: " line could not give: the name is what is before it.
        const std::string phone = line.substr(HistoryPhoneWord().size());
        const std::string tail = " (" + phone + ")";
        if (FFor.size() >= tail.size() && FFor.compare(FFor.size() - tail.size(), tail.size(), tail) == 0) {
            r.Name = FFor.substr(0, FFor.size() - tail.size());
            r.Phone = phone;
        }
    } else if (StartsWith(line, Words(DateWord))) {
        r.Date = line.substr(Words(DateWord).size());
        r.DateKey = RecordDateKey(r.Date);
    } else if (StartsWith(line, Words(ErrorWord))) {
        r.Status = SmsStatusFailed;
        r.StatusText = line.substr(Words(ErrorWord).size());
        FPart = 1;
    } else if (StartsWith(line, Words(StatusWord))) {
        r.StatusText = line.substr(Words(StatusWord).size());
        r.Status = r.StatusText.find(Words(CancelledWord)) != std::string::npos ? SmsStatusCancelled : SmsStatusSent;
        FPart = 1;
    }
}

void TSmsHistoryIndex::Close()
{
    if (FComplete == FRecords.size())
        return;
    TSmsHistoryRecord& r = FRecords.back();
    r.SearchKey = UpperCase(r.Date + '\n' + r.Name + '\n' + r.Phone + '\n' + r.StatusText + '\n' + r.Text);
    FComplete = FRecords.size();
}

void TSmsHistoryIndex::Finish() { Close(); }

void TSmsHistoryIndex::Clear() { *this = TSmsHistoryIndex(); }

TSmsHistoryRecord HistoryRecordOf(const TSms& sms)
{
    TSmsHistoryIndex index;
    index.AddLines(SplitLines(TSmsHistoryFile::FormatRecord(sms)), 0, std::string::npos);
    index.Finish();
    return index.Records().front();
}

bool TSmsHistoryFilter::Matches(const TSmsHistoryRecord& r, const std::string& upperSearch) const
{
    if (FailedOnly && r.Status != SmsStatusFailed)
        return false;
    if (!Contact.empty() && r.Name != Contact)
        return false;
    if ((From && r.DateKey < From) || (To && r.DateKey > To))
        return false;
    return upperSearch.empty() || r.SearchKey.find(upperSearch) != std::string::npos;
}

std::vector<int> TSmsHistoryFilter::Apply(const std::vector<TSmsHistoryRecord>& records, size_t count) const
{
    const std::string upper = UpperCase(Search);
    std::vector<int> rows;
    count = std::min(count, records.size());
    for (size_t i = 0; i < count; ++i)
        if (Matches(records[i], upper))
            rows.push_back(static_cast<int>(i));
    return rows;
}

bool TSmsHistoryFilter::Narrows(const TSmsHistoryFilter& previous) const
{
    return Contact == previous.Contact && FailedOnly == previous.FailedOnly && From == previous.From &&
           To == previous.To && UpperCase(Search).find(UpperCase(previous.Search)) != std::string::npos;
}

std::vector<int> TSmsHistoryFilter::ApplyTo(const std::vector<TSmsHistoryRecord>& records,
                                            const std::vector<int>& rows) const
{
    const std::string upper = UpperCase(Search);
    std::vector<int> result;
    for (int row : rows)
        if (Matches(records.at(static_cast<size_t>(row)), upper))
            result.push_back(row);
    return result;
}

std::string HistoryCsv(const std::vector<TSmsHistoryRecord>& records, const std::vector<int>& rows)
{
    std::string csv = "\xEF\xBB\xBF" + std::string("Дата;Абонент;Телефон;Состояние;Сообщение\r\n");
    for (int row : rows) {
        const TSmsHistoryRecord& r = records.at(static_cast<size_t>(row));
        std::string status = r.StatusText;
        if (r.Status == SmsStatusFailed)
            status = Worded(r, status);
        for (size_t at = 0; (at = status.find('\r', at)) != std::string::npos; at += 2)
            status.replace(at, 1, "\r\n");
        csv += CsvField(r.Date) + ';' + CsvField(r.Name) + ';' + CsvField(r.Phone) + ';' + CsvField(status) + ';' +
               CsvField(r.Text) + "\r\n";
    }
    return csv;
}
