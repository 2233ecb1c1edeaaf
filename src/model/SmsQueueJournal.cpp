#include "model/SmsQueueJournal.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/Text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <unordered_map>
#include <unistd.h>

namespace {

const std::string Header = "VELOTEXT-QUEUE 1\n";

void AppendEscaped(std::string& out, std::string_view field)
{
    for (char c : field) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
}

std::string Unescaped(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            switch (field[++i]) {
            case 't': c = '\t'; break;
            case 'r': c = '\r'; break;
            case 'n': c = '\n'; break;
            default: c = field[i];
            }
        }
        out += c;
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <class T>
bool Number(std::string_view text, T& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string StampText(const TDateTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return text;
}

bool ParseStamp(std::string_view text, TDateTime& t)
{
    if (text.size() != 14)
        return false;
    auto part = [&](size_t at, size_t n, int& value) { return Number(text.substr(at, n), value); };
    return part(0, 4, t.Year) && part(4, 2, t.Month) && part(6, 2, t.Day) && part(8, 2, t.Hour) &&
           part(10, 2, t.Minute) && part(12, 2, t.Second);
}

std::string EntryLine(const TJournalEntry& e)
{
    std::string line = "+\t" + std::to_string(e.Id) + '\t' + StampText(e.Created) + '\t' +
                       std::to_string(e.TryCount) + '\t' + (e.Interrupted ? "1" : "0") + '\t' +
                       std::to_string(e.ContactId) + '\t' + std::to_string(e.SenderId) + '\t';
    AppendEscaped(line, e.ContactName);
    line += '\t';
    AppendEscaped(line, e.Phone);
    line += '\t';
    AppendEscaped(line, e.Text);
    line += '\n';
    return line;
}

std::string DueLine(std::uint64_t id, long long notBefore, bool scheduled)
{
    return "T\t" + std::to_string(id) + '\t' + StampText(FromLocalSeconds(notBefore)) + '\t' + (scheduled ? "1" : "0") +
           '\n';
}

std::string PaceLine(const TJournalPace& p)
{
    return "P\t" + std::to_string(p.SenderId) + '\t' + std::to_string(p.Day) + '\t' + std::to_string(p.Pieces) + '\t' +
           StampText(FromLocalSeconds(p.LastAttempt)) + '\n';
}

// '+' and, for a message that waits, its due time.
std::string EntryLines(const TJournalEntry& e)
{
    std::string lines = EntryLine(e);
    if (e.NotBefore > 0)
        lines += DueLine(e.Id, e.NotBefore, e.Scheduled);
    return lines;
}

std::string IdLine(char kind, std::uint64_t id) { return std::string(1, kind) + '\t' + std::to_string(id) + '\n'; }

[[noreturn]] void FailWrite(const std::string& path, int err)
{
    throw TError(Cp1251("Не удалось записать очередь сообщений в файл \"") + PathText(path) + "\":\r" +
                 std::strerror(err));
}

} // namespace

TSmsQueueJournal::TSmsQueueJournal(std::string path) : FPath(std::move(path)), FSyncer([this] { SyncLoop(); }) {}

TSmsQueueJournal::~TSmsQueueJournal()
{
    Close();
    {
        std::lock_guard lock(FSyncMutex);
        FStop = true;
    }
    FSyncWake.notify_all();
    FSyncer.join();
}

namespace {

const std::string_view HeaderPrefix = "VELOTEXT-QUEUE ";

// A UTF-16 file with its byte-order mark as CP1251 text (a character CP1251
// has not becomes "?").
std::string Utf16FileText(std::string_view bytes)
{
    const bool bigEndian = bytes[0] == '\xFE';
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        text += static_cast<char16_t>(hi << 8 | lo);
    }
    return Utf16ToCp1251(text);
}

bool HasUtf16Bom(std::string_view bytes)
{
    return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

// The messages of the queue being read back: kept in queue order in a list,
// found by id through a hash, so that each record costs the same however long
// the queue is.
struct TReadSlot {
    TJournalEntry Entry;
    bool InFlight = false;
};

} // namespace

TJournalRead TSmsQueueJournal::Read() const
{
    TJournalRead result;
    if (PathMissing(FPath))
        return result;
    std::string bytes = ReadWholeFile(FPath);
    if (bytes.empty())
        return result;
    if (HasUtf16Bom(bytes)) {
        bytes = Utf16FileText(bytes);
        result.Utf16 = true;
    }
    size_t pos = 0;
    if (std::string_view(bytes).substr(0, HeaderPrefix.size()) == HeaderPrefix) {
        const size_t eol = bytes.find('\n');
        int version = 0;
        std::string_view number =
            std::string_view(bytes).substr(HeaderPrefix.size(), eol == std::string::npos ? std::string::npos
                                                                                         : eol - HeaderPrefix.size());
        if (!number.empty() && number.back() == '\r')
            number.remove_suffix(1);
        if (Number(number, version) && version > 1) {
            result.NewerVersion = version;
            return result;
        }
        if (eol != std::string::npos && version == 1)
            pos = eol + 1;
    }
    // Without its first line every line is read as a record: the header may
    // be what was lost, not the records after it.

    std::list<TReadSlot> queue;
    std::unordered_map<std::uint64_t, std::list<TReadSlot>::iterator> byId;
    std::vector<TJournalPace>& paces = result.Pace;
    // One record; false when it does not read (it is then skipped).
    auto record = [&](std::string_view line) {
        if (line.find('\0') != std::string_view::npos)
            return false;
        const std::vector<std::string_view> f = Fields(line);
        if (f[0] == "P") {
            TJournalPace p;
            TDateTime last;
            if (f.size() != 5 || !Number(f[1], p.SenderId) || !Number(f[2], p.Day) || !Number(f[3], p.Pieces) ||
                !ParseStamp(f[4], last))
                return false;
            p.LastAttempt = LocalSeconds(last);
            std::erase_if(paces, [&](const TJournalPace& old) { return old.SenderId == p.SenderId; });
            paces.push_back(p);
            return true;
        }
        std::uint64_t id = 0;
        if (f.size() < 2 || f[0].size() != 1 || !Number(f[1], id))
            return false;
        if (f[0] == "+") {
            TReadSlot slot;
            TJournalEntry& e = slot.Entry;
            e.Id = id;
            int flags = 0;
            if (f.size() != 10 || !ParseStamp(f[2], e.Created) || !Number(f[3], e.TryCount) || !Number(f[4], flags) ||
                !Number(f[5], e.ContactId) || !Number(f[6], e.SenderId) || byId.contains(id))
                return false;
            e.Interrupted = flags & 1;
            e.ContactName = Unescaped(f[7]);
            e.Phone = Unescaped(f[8]);
            e.Text = Unescaped(f[9]);
            byId.emplace(id, queue.insert(queue.end(), std::move(slot)));
            return true;
        }
        const auto found = byId.find(id);
        if (found == byId.end())
            return false;
        const auto at = found->second;
        TJournalEntry& e = at->Entry;
        if (f[0] == "T") {
            TDateTime due;
            if (f.size() != 4 || !ParseStamp(f[2], due) || (f[3] != "0" && f[3] != "1"))
                return false;
            e.NotBefore = LocalSeconds(due);
            e.Scheduled = f[3] == "1";
            return true;
        }
        if (f.size() != 2)
            return false;
        switch (f[0][0]) {
        case 'B':
            ++e.TryCount;
            at->InFlight = true;
            return true;
        case 'R':
            e.Interrupted = false;
            e.NotBefore = 0; // a wait comes in a T record of its own
            e.Scheduled = false;
            at->InFlight = false;
            queue.splice(queue.end(), queue, at);
            return true;
        case 'U':
            if (at->InFlight)
                --e.TryCount;
            at->InFlight = false;
            return true;
        case 'D':
            queue.erase(at);
            byId.erase(found);
            return true;
        default:
            return false;
        }
    };
    for (;;) {
        const size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) {
            // A last record cut by a crash is ignored; anything else there is damage.
            const std::string_view rest(bytes.data() + pos, bytes.size() - pos);
            if (!rest.empty() && (std::string_view("+BRUDTP").find(rest[0]) == std::string_view::npos ||
                                  (rest.size() > 1 && rest[1] != '\t') || rest.find('\0') != std::string_view::npos))
                ++result.Unreadable;
            break;
        }
        std::string_view line(bytes.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1); // an editor's line end: a CR of a field is written "\r"
        if (!record(line))
            ++result.Unreadable;
    }
    result.Entries.reserve(queue.size());
    for (TReadSlot& slot : queue) {
        if (slot.InFlight)
            slot.Entry.Interrupted = true;
        result.Entries.push_back(std::move(slot.Entry));
    }
    return result;
}

std::string TSmsQueueJournal::KeepAside() const
{
    const TDateTime now = Now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.Year, now.Month, now.Day, now.Hour, now.Minute,
                  now.Second);
    std::string kept = FPath + ".damaged-" + stamp;
    for (int n = 2; !PathMissing(kept); ++n)
        kept = FPath + ".damaged-" + stamp + "-" + std::to_string(n);
    SaveFileSafely(kept, ReadWholeFile(FPath), 0600, false);
    return kept;
}

void TSmsQueueJournal::Open(const std::vector<TJournalEntry>& live, const std::vector<TJournalPace>& pace)
{
    std::string text = Header;
    std::uint64_t lastId = FLastId;
    for (const TJournalEntry& e : live) {
        text += EntryLines(e);
        lastId = std::max(lastId, e.Id);
    }
    for (const TJournalPace& p : pace)
        text += PaceLine(p);
    // A journal that already reads as its compacted self (an empty queue: the
    // header alone) is only flushed, not written again: a start need not wait
    // for a whole safe save.
    const bool same = SameFileBytes(FPath, text);
    if (!same)
        SaveFileSafely(FPath, text, 0600, false); // the journal is its own record: no backup generation
    const int fd = ::open(FPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        FailWrite(FPath, errno);
    if (same && fdatasync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        FailWrite(FPath, error);
    }
    Close();
    std::lock_guard lock(FSyncMutex);
    FFd = fd;
    FSynced = FWritten; // the safe save put the new file on the disk
    FLastId = lastId;
    FLive = static_cast<int>(live.size());
    FRecords = FLive;
    FBytes = static_cast<long long>(text.size());
    FHeaderBytes = static_cast<long long>(Header.size());
    FPace = pace;
    FSyncDone.notify_all(); // a delivery waiting for the flush: the new file is on the disk
}

bool TSmsQueueJournal::WantsRewrite() const { return FRecords > 10000 && FRecords > 8 * FLive; }

void TSmsQueueJournal::Close()
{
    std::unique_lock lock(FSyncMutex);
    FSyncDone.wait(lock, [this] { return !FSyncing; });
    if (FFd < 0)
        return;
    if (FSynced < FWritten)
        (void)fdatasync(FFd);
    FSynced = FWritten;
    ::close(FFd);
    FFd = -1;
}

void TSmsQueueJournal::Append(const std::string& line)
{
    if (FFd < 0)
        return;
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(FFd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            // A part of the record may be in the file: end it, so that the
            // records after it read; the broken line is refused at the next read.
            if (done > 0)
                (void)::write(FFd, "\n", 1);
            FailWrite(FPath, err);
        }
        done += static_cast<size_t>(n);
    }
    FBytes += static_cast<long long>(line.size());
    {
        std::lock_guard lock(FSyncMutex);
        ++FWritten;
    }
    FSyncWake.notify_one();
}

void TSmsQueueJournal::Queued(const std::vector<TJournalEntry>& entries)
{
    std::string lines;
    for (const TJournalEntry& e : entries) {
        lines += EntryLines(e);
        FLastId = std::max(FLastId, e.Id);
    }
    Append(lines);
    FLive += static_cast<int>(entries.size());
    FRecords += static_cast<int>(entries.size());
}

void TSmsQueueJournal::Begun(std::uint64_t id)
{
    Append(IdLine('B', id));
    ++FRecords;
}

void TSmsQueueJournal::Requeued(std::uint64_t id, long long notBefore)
{
    Append(IdLine('R', id) + (notBefore > 0 ? DueLine(id, notBefore, false) : std::string()));
    ++FRecords;
}

void TSmsQueueJournal::Paced(const TJournalPace& pace)
{
    Append(PaceLine(pace));
    ++FRecords;
    std::erase_if(FPace, [&](const TJournalPace& old) { return old.SenderId == pace.SenderId; });
    FPace.push_back(pace);
}

void TSmsQueueJournal::Withdrawn(std::uint64_t id)
{
    Append(IdLine('U', id));
    ++FRecords;
}

void TSmsQueueJournal::Removed(const std::vector<std::uint64_t>& ids)
{
    if (ids.empty())
        return;
    std::string lines;
    for (std::uint64_t id : ids)
        lines += IdLine('D', id);
    Append(lines);
    FRecords += static_cast<int>(ids.size());
    FLive -= static_cast<int>(ids.size());
    if (FLive <= 0)
        Truncate();
}

// Nothing is owed: the file goes back to its first line (and the operators'
// pace, when there is one). The records cut off all say so, so a crash at
// any point of this leaves a true file.
void TSmsQueueJournal::Truncate()
{
    if (FFd < 0 || FBytes == FHeaderBytes)
        return;
    if (!FPace.empty()) {
        try {
            Open({}, FPace);
        } catch (...) {
            // the longer file says the same
        }
        return;
    }
    if (::ftruncate(FFd, FHeaderBytes) != 0)
        return; // the longer file says the same
    FBytes = FHeaderBytes;
    FRecords = 0;
    FLive = 0;
}

void TSmsQueueJournal::Sync()
{
    std::unique_lock lock(FSyncMutex);
    const std::uint64_t target = FWritten;
    FSyncWake.notify_one();
    FSyncDone.wait(lock, [&] { return FSynced >= target || FFd < 0; });
}

void TSmsQueueJournal::SyncLoop()
{
    std::unique_lock lock(FSyncMutex);
    for (;;) {
        FSyncWake.wait(lock, [this] { return FStop || (FSynced < FWritten && FFd >= 0); });
        if (FStop)
            return;
        const std::uint64_t target = FWritten;
        const int fd = FFd;
        FSyncing = true;
        lock.unlock();
        (void)fdatasync(fd);
        lock.lock();
        FSyncing = false;
        FSynced = std::max(FSynced, target);
        FSyncDone.notify_all();
    }
}
