#include "model/DeliveryStatus.h"

#include "model/Error.h"
#include "model/Text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr const char* kHeader = "VelotextDeliveryStatus 1";
constexpr size_t kFieldCount = 18;

struct TStateName {
    TDeliveryState State;
    const char* Stored; // the file's word
    const char* Shown;  // UTF-8
};
constexpr std::array<TStateName, 5> kStates {{
    {TDeliveryState::Queued, "queued", "в очереди"},
    {TDeliveryState::Accepted, "accepted", "передано шлюзу"},
    {TDeliveryState::Delivered, "delivered", "доставлено"},
    {TDeliveryState::NotDelivered, "failed", "не доставлено"},
    {TDeliveryState::Unknown, "unknown", "неизвестно"},
}};

void AppendEscaped(std::string& out, const std::string& field)
{
    for (char ch : field) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out.push_back(ch);
        }
    }
}

// Splits one line at its tabs and undoes the escapes; false for a bad escape.
bool SplitFields(std::string_view line, std::vector<std::string>& fields)
{
    fields.assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (ch == '\t') {
            fields.emplace_back();
        } else if (ch == '\\') {
            if (++i == line.size())
                return false;
            switch (line[i]) {
            case '\\': fields.back().push_back('\\'); break;
            case 't': fields.back().push_back('\t'); break;
            case 'r': fields.back().push_back('\r'); break;
            case 'n': fields.back().push_back('\n'); break;
            default: return false;
            }
        } else {
            fields.back().push_back(ch);
        }
    }
    return true;
}

bool ReadNumber(const std::string& text, long long& value)
{
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoll(text);
    return true;
}

} // namespace

std::string DeliveryStateText(TDeliveryState state)
{
    for (const auto& name : kStates)
        if (name.State == state)
            return Cp1251(name.Shown);
    return "";
}

std::string DeliveryStatusLine(const TDeliveryEntry& entry)
{
    std::string line = Cp1251("Доставка: ") + DeliveryStateText(entry.State);
    if (entry.State == TDeliveryState::NotDelivered && !entry.Reason.empty())
        line += ": " + entry.Reason;
    return line;
}

bool DeliveryStateFinal(TDeliveryState state)
{
    return state == TDeliveryState::Delivered || state == TDeliveryState::NotDelivered ||
           state == TDeliveryState::Unknown;
}

long long StatusQueryDelaySeconds(int queriesMade)
{
    static constexpr long long kDelays[] = {30, 120, 600, 3600};
    if (queriesMade < 0)
        queriesMade = 0;
    return queriesMade < 4 ? kDelays[queriesMade] : 6 * 3600;
}

std::string TDeliveryBook::Key(const std::string& name, const std::string& phone, const std::string& date)
{
    return name + '\n' + phone + '\n' + date;
}

void TDeliveryBook::Index(size_t position)
{
    const TDeliveryEntry& entry = FEntries[position];
    FById[entry.Id] = position;
    FByRecord[Key(entry.Name, entry.Phone, entry.Date)] = position; // the latest one wins
    if (!entry.Token.empty())
        FByToken[entry.Token] = position;
    FNextId = std::max(FNextId, entry.Id + 1);
}

std::uint64_t TDeliveryBook::Add(TDeliveryEntry entry)
{
    entry.Id = FNextId++;
    entry.State = TDeliveryState::Accepted;
    entry.Queries = 0;
    entry.FinalAt = 0;
    entry.NextQueryAt = entry.QueryUrl.empty() ? 0 : entry.AcceptedAt + StatusQueryDelaySeconds(0);
    FEntries.push_back(std::move(entry));
    Index(FEntries.size() - 1);
    FChanged = true;
    return FEntries.back().Id;
}

TDeliveryEntry* TDeliveryBook::Mutable(std::uint64_t id)
{
    auto it = FById.find(id);
    return it == FById.end() ? nullptr : &FEntries[it->second];
}

std::vector<TStatusQuery> TDeliveryBook::TakeDue(long long now, long long waitSeconds)
{
    std::vector<TStatusQuery> due;
    for (TDeliveryEntry& entry : FEntries) {
        if (DeliveryStateFinal(entry.State) || FAsked.count(entry.Id))
            continue;
        if (now - entry.AcceptedAt >= waitSeconds) {
            entry.State = TDeliveryState::Unknown;
            entry.FinalAt = now;
            entry.NextQueryAt = 0;
            entry.Reason = Cp1251("нет окончательного ответа шлюза за ") + IntToStr(waitSeconds / 3600) + Cp1251(" ч");
            FChanged = true;
            continue;
        }
        if (entry.NextQueryAt == 0 || entry.NextQueryAt > now)
            continue;
        FAsked[entry.Id] = true;
        due.push_back({entry.Id, entry.QueryUrl, entry.Charset, entry.DeliveredPattern, entry.FailedPattern,
                       entry.PendingPattern});
    }
    return due;
}

void TDeliveryBook::Answer(std::uint64_t id, TStatusAnswer answer, const std::string& reason, long long now)
{
    FAsked.erase(id);
    TDeliveryEntry* entry = Mutable(id);
    if (!entry || DeliveryStateFinal(entry->State))
        return;
    ++entry->Queries;
    FChanged = true;
    if (answer == TStatusAnswer::Delivered || answer == TStatusAnswer::NotDelivered) {
        entry->State = answer == TStatusAnswer::Delivered ? TDeliveryState::Delivered : TDeliveryState::NotDelivered;
        entry->Reason = answer == TStatusAnswer::NotDelivered ? reason : std::string();
        entry->FinalAt = now;
        entry->NextQueryAt = 0;
        if (entry->State == TDeliveryState::NotDelivered)
            FNewlyNotDelivered.push_back(entry->Id);
        return;
    }
    entry->NextQueryAt = now + StatusQueryDelaySeconds(entry->Queries);
}

bool TDeliveryBook::Report(const std::string& token, TStatusAnswer answer, const std::string& reason, long long now)
{
    auto it = token.empty() ? FByToken.end() : FByToken.find(token);
    if (it == FByToken.end())
        return false;
    TDeliveryEntry& entry = FEntries[it->second];
    if (answer == TStatusAnswer::Delivered || answer == TStatusAnswer::NotDelivered) {
        // A late report still tells what became of a message given up as unknown.
        if (entry.State == TDeliveryState::Accepted || entry.State == TDeliveryState::Unknown) {
            entry.State = answer == TStatusAnswer::Delivered ? TDeliveryState::Delivered : TDeliveryState::NotDelivered;
            entry.Reason = answer == TStatusAnswer::NotDelivered ? reason : std::string();
            entry.FinalAt = now;
            entry.NextQueryAt = 0;
            FChanged = true;
            if (entry.State == TDeliveryState::NotDelivered)
                FNewlyNotDelivered.push_back(entry.Id);
        }
    }
    return true;
}

void TDeliveryBook::GiveUp(std::uint64_t id, const std::string& reason, long long now)
{
    TDeliveryEntry* entry = Mutable(id);
    if (!entry || DeliveryStateFinal(entry->State))
        return;
    entry->State = TDeliveryState::Unknown;
    entry->Reason = reason;
    entry->FinalAt = now;
    entry->NextQueryAt = 0;
    FChanged = true;
}

const TDeliveryEntry* TDeliveryBook::Find(const std::string& name, const std::string& phone,
                                          const std::string& date) const
{
    auto it = FByRecord.find(Key(name, phone, date));
    return it == FByRecord.end() ? nullptr : &FEntries[it->second];
}

const TDeliveryEntry* TDeliveryBook::FindToken(const std::string& token) const
{
    auto it = FByToken.find(token);
    return it == FByToken.end() ? nullptr : &FEntries[it->second];
}

const TDeliveryEntry* TDeliveryBook::FindId(std::uint64_t id) const
{
    auto it = FById.find(id);
    return it == FById.end() ? nullptr : &FEntries[it->second];
}

int TDeliveryBook::Waiting() const
{
    return static_cast<int>(std::count_if(FEntries.begin(), FEntries.end(),
                                          [](const TDeliveryEntry& e) { return !DeliveryStateFinal(e.State); }));
}

long long TDeliveryBook::NextDue(long long waitSeconds) const
{
    long long next = 0;
    for (const TDeliveryEntry& entry : FEntries) {
        if (DeliveryStateFinal(entry.State) || FAsked.count(entry.Id))
            continue;
        long long due = entry.AcceptedAt + waitSeconds;
        if (entry.NextQueryAt != 0)
            due = std::min(due, entry.NextQueryAt);
        if (next == 0 || due < next)
            next = due;
    }
    return next;
}

std::vector<std::uint64_t> TDeliveryBook::TakeNewlyNotDelivered() { return std::exchange(FNewlyNotDelivered, {}); }

bool TDeliveryBook::TakeChanged()
{
    const bool changed = FChanged;
    FChanged = false;
    return changed;
}

std::string TDeliveryBook::Serialize() const
{
    std::string out = std::string(kHeader) + "\r\n";
    out.reserve(FEntries.size() * 200);
    for (const TDeliveryEntry& e : FEntries) {
        const char* state = "";
        for (const auto& name : kStates)
            if (name.State == e.State)
                state = name.Stored;
        const std::string fields[kFieldCount] = {
            IntToStr(static_cast<long long>(e.Id)), state, IntToStr(e.AcceptedAt), IntToStr(e.NextQueryAt),
            IntToStr(e.FinalAt), IntToStr(e.Queries), e.Name, e.Phone, e.Date, e.Sender, e.GateId, e.Token,
            e.QueryUrl, e.Charset, e.DeliveredPattern, e.FailedPattern, e.PendingPattern, e.Reason};
        for (size_t i = 0; i < kFieldCount; ++i) {
            if (i)
                out.push_back('\t');
            AppendEscaped(out, fields[i]);
        }
        out += "\r\n";
    }
    return out;
}

void TDeliveryBook::Parse(const std::string& bytes)
{
    TDeliveryBook book;
    std::vector<std::string> fields;
    size_t pos = 0;
    int lineNo = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string_view line(bytes.data() + pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        auto bad = [&] { return TError(Cp1251("строка ") + IntToStr(lineNo) + Cp1251(" не читается")); };
        if (lineNo == 1) {
            if (line != kHeader)
                throw bad();
            continue;
        }
        if (line.empty())
            continue;
        if (!SplitFields(line, fields) || fields.size() != kFieldCount)
            throw bad();
        TDeliveryEntry e;
        long long id = 0, queries = 0;
        if (!ReadNumber(fields[0], id) || id == 0 || !ReadNumber(fields[2], e.AcceptedAt) ||
            !ReadNumber(fields[3], e.NextQueryAt) || !ReadNumber(fields[4], e.FinalAt) ||
            !ReadNumber(fields[5], queries) || queries > 1'000'000 || book.FById.count(static_cast<std::uint64_t>(id)))
            throw bad();
        const auto state = std::find_if(kStates.begin(), kStates.end(),
                                        [&](const TStateName& n) { return fields[1] == n.Stored; });
        if (state == kStates.end())
            throw bad();
        e.Id = static_cast<std::uint64_t>(id);
        e.State = state->State;
        e.Queries = static_cast<int>(queries);
        e.Name = fields[6];
        e.Phone = fields[7];
        e.Date = fields[8];
        e.Sender = fields[9];
        e.GateId = fields[10];
        e.Token = fields[11];
        e.QueryUrl = fields[12];
        e.Charset = fields[13];
        e.DeliveredPattern = fields[14];
        e.FailedPattern = fields[15];
        e.PendingPattern = fields[16];
        e.Reason = fields[17];
        book.FEntries.push_back(std::move(e));
        book.Index(book.FEntries.size() - 1);
    }
    if (lineNo == 0)
        book.FChanged = false;
    *this = std::move(book);
}
