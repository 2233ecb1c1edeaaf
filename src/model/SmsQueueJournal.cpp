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

std::vector<TJournalEntry> TSmsQueueJournal::Read(std::vector<TJournalPace>* pace) const
{
    std::vector<TJournalEntry> entries;
    std::vector<TJournalPace> paces;
    if (PathMissing(FPath))
        return entries;
    const std::string bytes = ReadWholeFile(FPath);
    if (bytes.empty())
        return entries;
    auto refuse = [&](int line) {
        throw TError(Cp1251("Файл очереди сообщений \"") + PathText(FPath) + Cp1251("\" повреждён (строка ") +
                     std::to_string(line) + Cp1251("). Файл оставлен без изменений."));
    };
    if (bytes.compare(0, Header.size(), Header) != 0)
        refuse(1);
    auto find = [&](std::uint64_t id) {
        for (size_t i = 0; i < entries.size(); ++i)
            if (entries[i].Id == id)
                return static_cast<long>(i);
        return -1L;
    };
    std::vector<bool> inFlight; // beside entries
    int lineNo = 1;
    size_t pos = Header.size();
    for (;;) {
        const size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            break; // nothing, or a last record cut by a crash
        const std::string_view line(bytes.data() + pos, end - pos);
        pos = end + 1;
        ++lineNo;
        const std::vector<std::string_view> f = Fields(line);
        if (f[0] == "P") {
            TJournalPace p;
            TDateTime last;
            if (f.size() != 5 || !Number(f[1], p.SenderId) || !Number(f[2], p.Day) || !Number(f[3], p.Pieces) ||
                !ParseStamp(f[4], last))
                refuse(lineNo);
            p.LastAttempt = LocalSeconds(last);
            std::erase_if(paces, [&](const TJournalPace& old) { return old.SenderId == p.SenderId; });
            paces.push_back(p);
            continue;
        }
        std::uint64_t id = 0;
        if (f.size() < 2 || f[0].size() != 1 || !Number(f[1], id))
            refuse(lineNo);
        if (f[0] == "+") {
            TJournalEntry e;
            e.Id = id;
            int flags = 0;
            if (f.size() != 10 || !ParseStamp(f[2], e.Created) || !Number(f[3], e.TryCount) || !Number(f[4], flags) ||
                !Number(f[5], e.ContactId) || !Number(f[6], e.SenderId) || find(id) >= 0)
                refuse(lineNo);
            e.Interrupted = flags & 1;
            e.ContactName = Unescaped(f[7]);
            e.Phone = Unescaped(f[8]);
            e.Text = Unescaped(f[9]);
            entries.push_back(std::move(e));
            inFlight.push_back(false);
            continue;
        }
        const long at = find(id);
        if (f[0] == "T") {
            TDateTime due;
            if (f.size() != 4 || at < 0 || !ParseStamp(f[2], due) || (f[3] != "0" && f[3] != "1"))
                refuse(lineNo);
            entries[static_cast<size_t>(at)].NotBefore = LocalSeconds(due);
            entries[static_cast<size_t>(at)].Scheduled = f[3] == "1";
            continue;
        }
        if (f.size() != 2 || at < 0)
            refuse(lineNo);
        const auto i = static_cast<size_t>(at);
        switch (f[0][0]) {
        case 'B':
            ++entries[i].TryCount;
            inFlight[i] = true;
            break;
        case 'R': {
            TJournalEntry e = std::move(entries[i]);
            e.Interrupted = false;
            e.NotBefore = 0; // a wait comes in a T record of its own
            e.Scheduled = false;
            entries.erase(entries.begin() + at);
            inFlight.erase(inFlight.begin() + at);
            entries.push_back(std::move(e));
            inFlight.push_back(false);
            break;
        }
        case 'U':
            if (inFlight[i])
                --entries[i].TryCount;
            inFlight[i] = false;
            break;
        case 'D':
            entries.erase(entries.begin() + at);
            inFlight.erase(inFlight.begin() + at);
            break;
        default:
            refuse(lineNo);
        }
    }
    for (size_t i = 0; i < entries.size(); ++i)
        if (inFlight[i])
            entries[i].Interrupted = true;
    if (pace)
        *pace = std::move(paces);
    return entries;
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
