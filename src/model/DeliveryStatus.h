#pragma once
// What became of each message a gateway accepted: the delivery states, the
// schedule of status queries and the book that keeps them (plain data; its
// text form is written beside the history by storage/DeliveryStatusFile).
//   в очереди -> передано шлюзу (id, time) -> доставлено / не доставлено (reason)
//                                          -> неизвестно (no final answer in time)
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

enum class TDeliveryState { Queued, Accepted, Delivered, NotDelivered, Unknown };

// "в очереди", "передано шлюзу", "доставлено", "не доставлено", "неизвестно" (CP1251).
std::string DeliveryStateText(TDeliveryState state);
// "Доставка: " and the state, with the reason of "не доставлено" after ": " (CP1251).
struct TDeliveryEntry;
std::string DeliveryStatusLine(const TDeliveryEntry& entry);
// Delivered, NotDelivered or Unknown: nothing more is asked.
bool DeliveryStateFinal(TDeliveryState state);

// Seconds from the acceptance (no query made yet) or from the last query to
// the next one: 30 s, 2 min, 10 min, 1 h, then every 6 h.
long long StatusQueryDelaySeconds(int queriesMade);
// How long a message waits for a final answer before it is "неизвестно".
constexpr long long DefaultDeliveryWaitSeconds = 3 * 24 * 3600;

// One accepted message. Times are LocalSeconds.
struct TDeliveryEntry {
    std::uint64_t Id = 0;
    // The history record it belongs to: name, phone and date as the record has them.
    std::string Name, Phone, Date;
    std::string Sender; // the operator's name
    std::string GateId; // the message's id at the gateway (status by query)
    std::string Token;  // the secret its delivery reports carry (status by report)
    // The status query, complete (empty: the gateway reports, nothing is asked),
    // the reply's charset and the verdict patterns, copied at the acceptance so
    // that a restart goes on asking without the operator.
    std::string QueryUrl, Charset, DeliveredPattern, FailedPattern, PendingPattern;
    TDeliveryState State = TDeliveryState::Accepted;
    long long AcceptedAt = 0;
    long long NextQueryAt = 0; // 0: no query
    long long FinalAt = 0;
    int Queries = 0;           // status queries answered or failed so far
    std::string Reason;        // the gateway's reason for "не доставлено", or why "неизвестно"
};

// One status query handed out to be asked (away from the window's thread).
struct TStatusQuery {
    std::uint64_t Id = 0;
    std::string Url, Charset, DeliveredPattern, FailedPattern, PendingPattern;
};

// What a query's reply or a report says.
enum class TStatusAnswer { Delivered, NotDelivered, Pending, NoAnswer };

class TDeliveryBook {
public:
    // Adds an accepted message (State Accepted, its first query 30 s after
    // AcceptedAt when it has a query URL); returns its id.
    std::uint64_t Add(TDeliveryEntry entry);

    // First turns every message still waiting `waitSeconds` after its
    // acceptance into Unknown, then hands out the queries due at `now`. A
    // message handed out is not handed out again until Answer takes its reply:
    // one message is never asked twice at once.
    std::vector<TStatusQuery> TakeDue(long long now, long long waitSeconds);
    // The outcome of a query TakeDue handed out. Pending and NoAnswer set the
    // next query by the back-off; a final answer ends the asking.
    void Answer(std::uint64_t id, TStatusAnswer answer, const std::string& reason, long long now);
    // A delivery report carrying `token`: false (nothing changes) when no
    // message has that token. Pending and NoAnswer keep the state.
    bool Report(const std::string& token, TStatusAnswer answer, const std::string& reason, long long now);
    // Ends the waiting of a message at once as "неизвестно" with the reason
    // (the send reply named no id to ask about).
    void GiveUp(std::uint64_t id, const std::string& reason, long long now);

    const TDeliveryEntry* Find(const std::string& name, const std::string& phone, const std::string& date) const;
    const TDeliveryEntry* FindToken(const std::string& token) const;
    const TDeliveryEntry* FindId(std::uint64_t id) const;
    const std::vector<TDeliveryEntry>& Entries() const { return FEntries; }
    // Messages still waiting for a final answer; of them, those asked right now.
    int Waiting() const;
    int Asked() const { return static_cast<int>(FAsked.size()); }
    // The earliest moment something is due (a query, or an expiry after
    // `waitSeconds`); 0 when nothing waits.
    long long NextDue(long long waitSeconds) const;
    // The messages that became "не доставлено" since the last call (for the
    // failure count and the notification), oldest first.
    std::vector<std::uint64_t> TakeNewlyNotDelivered();
    // Changed since the last TakeChanged (something to save).
    bool TakeChanged();

    // The text form (CP1251, CR LF): a header line, then one line per message
    // with its fields separated by tabs (tab, line breaks and "\" escaped).
    std::string Serialize() const;
    // Replaces the book by the text form; raises TError naming the line that
    // does not read (and changes nothing).
    void Parse(const std::string& bytes);

private:
    TDeliveryEntry* Mutable(std::uint64_t id);
    void Index(size_t position);
    static std::string Key(const std::string& name, const std::string& phone, const std::string& date);

    std::vector<TDeliveryEntry> FEntries;
    std::unordered_map<std::uint64_t, size_t> FById;
    std::unordered_map<std::string, size_t> FByRecord, FByToken;
    std::unordered_map<std::uint64_t, bool> FAsked;
    std::uint64_t FNextId = 1;
    bool FChanged = false;
    std::vector<std::uint64_t> FNewlyNotDelivered;
};
