#pragma once
// The queue on disk: an append-only journal of every change of the queue, so
// that at any instant of a crash the file says which messages are still owed.
//
// File form (CP1251 text, one record per line ended by LF; fields separated by
// tabs, with "\\", "\t", "\r" and "\n" escaped inside a field):
//   VELOTEXT-QUEUE 1                                   first line
//   +  id created tries flags contactId senderId name phone text
//                                                      a message queued at the back
//   B  id     an attempt began (the message left the front of the queue)
//   R  id     the attempt failed and the message went to the back
//   U  id     the attempt was withdrawn before anything went out (back at the front)
//   D  id     the message left the queue: finished (history written) or deleted
//   T  id due kind   the message is not to be attempted before `due`
//                    (yyyymmddhhnnss); kind 1: a time the user chose, 0: a retry's wait
//   P  senderId day pieces last   an operator's pace: pieces attempted on `day`
//                    (yyyymmdd) and the start of its last attempt (yyyymmddhhnnss)
// `created` is yyyymmddhhnnss (local time); `flags` is 1 for a message whose
// attempt was under way when the program stopped (it may have gone out).
// A last line without its LF (a write cut by a crash) is ignored. A line that
// does not read (damage, a hand edit) is skipped and counted; the rest reads.
// The file is
// rewritten whole (safe save) when it is opened and when the dead records far
// outnumber the live ones, and emptied down to its first line when the queue is.
#include "model/Clock.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One message as the journal keeps it: enough to send it after a restart, or
// to record it in the history when its contact or operator is gone.
struct TJournalEntry {
    std::uint64_t Id = 0;
    TDateTime Created;
    int TryCount = 0;
    bool Interrupted = false; // an attempt was under way when the program stopped
    int ContactId = 0;
    int SenderId = 0;
    std::string ContactName;
    std::string Phone;
    std::string Text;
    long long NotBefore = 0; // LocalSeconds; 0: at once
    bool Scheduled = false;  // NotBefore is the user's choice
};

// How much an operator was used: for its pace limits across restarts.
struct TJournalPace {
    int SenderId = 0;
    int Day = 0;              // yyyymmdd
    int Pieces = 0;           // pieces attempted that day
    long long LastAttempt = 0; // LocalSeconds
};

// What a read of the journal found.
struct TJournalRead {
    std::vector<TJournalEntry> Entries; // the messages owed, in queue order
    std::vector<TJournalPace> Pace;
    int Unreadable = 0;     // records (lines) that did not read and were skipped
    bool Utf16 = false;     // the file was UTF-16 (an editor saved it so): read converted
    int NewerVersion = 0;   // the format version of a file a newer program wrote: nothing read
    // Whether the file is not what this program writes: it must be kept
    // aside before it is rewritten.
    bool Damaged() const { return Unreadable > 0 || Utf16; }
};

class TSmsQueueJournal {
public:
    explicit TSmsQueueJournal(std::string path);
    ~TSmsQueueJournal();
    TSmsQueueJournal(const TSmsQueueJournal&) = delete;
    TSmsQueueJournal& operator=(const TSmsQueueJournal&) = delete;

    const std::string& Path() const { return FPath; }

    // The messages the file says are still owed, in queue order; a message
    // whose attempt had begun without an outcome comes back Interrupted.
    // A missing or empty file gives none. Lines that do not read are skipped
    // and counted; a file of a newer format is not read at all. Time in
    // proportion to the file's size. Raises TError only when the file cannot
    // be read from the disk.
    TJournalRead Read() const;
    // Copies the file as it is to "<file>.damaged-yyyymmdd-hhnnss" beside it
    // (owner-only) and returns that path; raises TError when it cannot.
    std::string KeepAside() const;

    // Rewrites the file to hold exactly these messages (safe save) and keeps
    // it open for appending; also the way to compact an open journal. Raises
    // TError naming the file on failure (an open journal then stays open).
    void Open(const std::vector<TJournalEntry>& live, const std::vector<TJournalPace>& pace);
    // The operators' pace as last recorded.
    const std::vector<TJournalPace>& Pace() const { return FPace; }
    // Whether the dead records far outnumber the live messages, so that the
    // owner should rewrite the file with Open.
    bool WantsRewrite() const;
    bool IsOpen() const { return FFd >= 0; }
    // Identifiers for new messages: one more than any the file has held.
    std::uint64_t NewId() { return ++FLastId; }

    // One record each; the record is in the file (the system's cache) before
    // the call returns, and on the disk shortly after (a background flush).
    // Raise TError when the write fails; the queue must then stay unchanged.
    void Queued(const std::vector<TJournalEntry>& entries); // appended in one write
    void Begun(std::uint64_t id);
    void Requeued(std::uint64_t id, long long notBefore = 0);
    void Paced(const TJournalPace& pace);
    void Withdrawn(std::uint64_t id);
    void Removed(const std::vector<std::uint64_t>& ids); // appended in one write
    // Waits until every record so far is on the disk. Any thread.
    void Sync();

private:
    void Append(const std::string& line);
    void Truncate();
    void Close();
    void SyncLoop();

    std::string FPath;
    int FFd = -1;
    std::uint64_t FLastId = 0;
    int FLive = 0;        // messages the file owes
    int FRecords = 0;     // records in the file
    long long FBytes = 0; // its length
    long long FHeaderBytes = 0;
    std::vector<TJournalPace> FPace; // the latest record of each operator

    // The background flush: fdatasync once records are waiting.
    std::mutex FSyncMutex;
    std::condition_variable FSyncWake;
    std::condition_variable FSyncDone;
    std::uint64_t FWritten = 0; // records appended
    std::uint64_t FSynced = 0;  // records known to be on the disk
    bool FSyncing = false;
    bool FStop = false;
    std::thread FSyncer;
};
