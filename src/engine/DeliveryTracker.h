#pragma once
// Follows the messages a web gate accepted until the gateway says what became
// of them: asks operators' status URLs on a schedule and takes Kannel's
// delivery reports through a listener on 127.0.0.1. One per process; every
// call is safe from any thread. A poll round is split like a delivery: the
// calling thread only picks the due queries (BeginRound, cheap); the queries,
// their verdicts and the save of the state file run in TRound::Run, on a
// worker thread.
#include "model/DeliveryStatus.h"
#include "storage/SmsOptions.h"

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

class TStdSmsSender;
class TReportListener;
struct TSmsHistoryRecord;

class TDeliveryTracker {
public:
    TDeliveryTracker();
    ~TDeliveryTracker();

    // Binds the state file and reads it (a missing file: nothing waits); opens
    // the report listener when a message read waits for a report. Raises TError
    // for a file that does not read: nothing is tracked and the file stays as
    // it is.
    void Open(const std::string& fileName);
    bool IsOpen() const;
    std::string FileName() const;
    // Forgets everything and stops the listener (tests, the end of the program).
    void Close();

    // The message of this history record went out through this operator's
    // copy (the delivery's, holding the id and token of its send): it enters
    // "передано шлюзу" and is saved. A send reply without the id the operator's
    // pattern looks for makes it "неизвестно" at once. Opens the state file
    // beside the history when none is open yet. Never raises: a failure is kept
    // for TakeError.
    void Accepted(const TSmsHistoryRecord& record, const TStdSmsSender& sent, const std::string& phone,
                  const std::string& text, const std::string& defaultFileName);
    // The send about to go out carries this report token: a report that comes
    // before Accepted (the gateway can be that quick) is kept for it.
    void ExpectReport(const std::string& token);

    // Opens the report listener on the options' port unless it is open;
    // returns the URL the gateway is to call, "%d" and "%A" left for Kannel.
    // Raises TError when the port cannot be opened.
    std::string ReportUrl(const std::string& token);
    int ListenerPort() const;
    // Test hook: the port the listener opens (0: any free one) instead of the options'.
    void SetListenerPortForTests(std::optional<int> port);

    // A report as the listener got it: Kannel's %d (1 delivered, 2 failed,
    // 4 buffered, 8 smsc submit, 16 smsc reject) and %A. Returns the HTTP
    // status to answer: 200 for a report of a message the program sent, 403
    // for an unknown token, 400 for a type that is not Kannel's. A changed
    // state is saved at once unless `save` is false (the listener saves after
    // its answer has gone out).
    int Report(const std::string& token, const std::string& type, const std::string& text, bool save = true);

    class TRound {
    public:
        // Asks the due status URLs, judges the replies, records the verdicts
        // and saves the state file. Any thread; runs once.
        void Run();
        int Size() const { return static_cast<int>(FQueries.size()); }

    private:
        friend class TDeliveryTracker;
        TDeliveryTracker* FTracker = nullptr;
        std::vector<TStatusQuery> FQueries;
        TSmsOptions FOptions;
        bool FRan = false;
    };
    // Calling thread: turns overdue messages into "неизвестно" and takes the
    // due queries (none of them is handed out again until its round has run).
    // nullptr when nothing is due and nothing changed.
    std::shared_ptr<TRound> BeginRound();
    // BeginRound and Run on the calling thread (the command line, tests).
    void PollNow();

    // The earliest moment (LocalSeconds) a round has something to do; 0: nothing waits.
    long long NextDue() const;
    // The state of one history record's message, if it was accepted.
    std::optional<TDeliveryEntry> Entry(const std::string& name, const std::string& phone,
                                        const std::string& date) const;
    // The messages that became "не доставлено" since the last call.
    std::vector<TDeliveryEntry> TakeNewlyNotDelivered();
    // A copy of the whole book.
    TDeliveryBook Book() const;
    // A copy of every entry.
    std::vector<TDeliveryEntry> Entries() const;
    int Waiting() const;
    // The last failure (a save, the listener), empty when none; cleared by the call.
    std::string TakeError();

private:
    friend class TRound;
    void SaveIfChanged(std::unique_lock<std::mutex>& lock);
    void OpenLocked(const std::string& fileName);
    void EnsureListenerLocked();
    long long WaitSeconds() const;

    mutable std::mutex FMutex;
    std::mutex FSaveMutex;
    bool FOpen = false;
    std::string FFileName;
    TDeliveryBook FBook;
    std::set<std::string> FExpected;
    std::unordered_map<std::string, std::pair<TStatusAnswer, std::string>> FEarly;
    std::unique_ptr<TReportListener> FListener;
    std::optional<int> FTestPort;
    std::string FError;
    unsigned long long FVersion = 0, FSavedVersion = 0;
};

TDeliveryTracker& DeliveryTracker();

// The status query of a message the operator's copy sent: its status URL with
// "{id}" and the web gate's placeholders filled in (the phone as the gateway
// got it, the text in the operator's charset); empty when there is no id or URL.
std::string StatusQueryUrl(const TStdSmsSender& sent, const std::string& phone, const std::string& text);
// Asks one status query through the options' proxy and judges the reply;
// NoAnswer (with the reason) for a network failure or a reply no pattern
// matches. `reply` gets the reply's first line. Any thread.
TStatusAnswer AskStatus(const TStatusQuery& query, const TSmsOptions& options, std::string& reason,
                        std::string* reply = nullptr);

// Kannel's report type (%d) as a status answer; false for another value.
bool DlrTypeAnswer(const std::string& type, TStatusAnswer& answer);
// The verdict of a status reply (CP1251) by the three patterns: failed first,
// then delivered, then pending; `reason` gets the failed pattern's first group
// or the reply's first line. Raises TError for a pattern that does not compile.
TStatusAnswer JudgeStatusReply(const std::string& body, const TStatusQuery& query, std::string& reason);
