#include "engine/DeliveryTracker.h"

#include "engine/Charset.h"
#include "engine/HttpClient.h"
#include "engine/ReplyPattern.h"
#include "engine/ReportListener.h"
#include "engine/StdSmsSender.h"
#include "model/Clock.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsLink.h"
#include "model/Text.h"
#include "storage/DeliveryStatusFile.h"

#include <algorithm>
#include <utility>

namespace {

constexpr size_t kReasonLimit = 200;

std::string ReasonText(std::string_view text)
{
    std::string line;
    size_t pos = 0;
    while (pos < text.size() && line.empty()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        line = Trim(ControlCharsToSpaces(text.substr(pos, end - pos)));
        pos = end + 1;
    }
    if (line.size() > kReasonLimit)
        line.resize(kReasonLimit);
    return line;
}

long long NowSeconds() { return LocalSeconds(Now()); }

} // namespace

bool DlrTypeAnswer(const std::string& type, TStatusAnswer& answer)
{
    if (type == "1")
        answer = TStatusAnswer::Delivered;
    else if (type == "2" || type == "16")
        answer = TStatusAnswer::NotDelivered;
    else if (type == "4" || type == "8")
        answer = TStatusAnswer::Pending;
    else
        return false;
    return true;
}

TStatusAnswer JudgeStatusReply(const std::string& body, const TStatusQuery& query, std::string& reason)
{
    const TCompiledPattern failed(query.FailedPattern), delivered(query.DeliveredPattern),
        pending(query.PendingPattern);
    if (const auto capture = failed.Capture(body)) {
        // A group in the pattern names the reason; otherwise the reply's first line does.
        const bool grouped = query.FailedPattern.find('(') != std::string::npos;
        reason = ReasonText(grouped && !capture->empty() ? *capture : body);
        return TStatusAnswer::NotDelivered;
    }
    if (delivered.Matches(body))
        return TStatusAnswer::Delivered;
    if (pending.Matches(body))
        return TStatusAnswer::Pending;
    reason = ReasonText(body);
    return TStatusAnswer::NoAnswer;
}

std::string StatusQueryUrl(const TStdSmsSender& sent, const std::string& phone, const std::string& text)
{
    if (sent.GateMessageId.empty() || sent.StatusUrl.empty())
        return "";
    std::string url = sent.StatusUrl;
    const std::string id = FormUrlEncode(sent.GateMessageId);
    for (size_t pos = 0; (pos = url.find("{id}", pos)) != std::string::npos; pos += id.size())
        url.replace(pos, 4, id);
    return TStdSmsSender::ExpandMacros(url, FormUrlEncode(GatePhone(phone)),
                                       FormUrlEncode(ConvertFromCp1251(text, CharsetFromName(sent.Charset))));
}

TStatusAnswer AskStatus(const TStatusQuery& query, const TSmsOptions& options, std::string& reason, std::string* reply)
{
    try {
        THttpRequest request;
        request.Url = query.Url;
        request.Proxy.Host = options.ProxyServer;
        request.Proxy.Port = options.ProxyPort;
        request.Proxy.BasicAuth = options.ProxyAuthFlag;
        request.Proxy.Username = options.ProxyUsername;
        request.Proxy.Password = options.ProxyPassword;
        const THttpResponse response = HttpGet(request);
        const std::string body = ConvertToCp1251(response.Body, CharsetFromName(query.Charset));
        if (reply)
            *reply = ReasonText(body);
        return JudgeStatusReply(body, query, reason);
    } catch (const std::exception& e) {
        reason = e.what(); // asked again later
        if (reply)
            *reply = reason;
        return TStatusAnswer::NoAnswer;
    }
}

TDeliveryTracker::TDeliveryTracker() = default;
TDeliveryTracker::~TDeliveryTracker() = default;

TDeliveryTracker& DeliveryTracker()
{
    static TDeliveryTracker tracker;
    return tracker;
}

long long TDeliveryTracker::WaitSeconds() const
{
    return static_cast<long long>(SmsOptions().DeliveryWaitHours) * 3600;
}

void TDeliveryTracker::OpenLocked(const std::string& fileName)
{
    TDeliveryBook book;
    LoadDeliveryBook(book, fileName);
    FBook = std::move(book);
    FFileName = fileName;
    FOpen = true;
    FVersion = FSavedVersion = 0;
    // Reports may still come for messages sent before the restart.
    const auto& entries = FBook.Entries();
    if (std::any_of(entries.begin(), entries.end(),
                    [](const TDeliveryEntry& e) { return !e.Token.empty() && !DeliveryStateFinal(e.State); })) {
        try {
            EnsureListenerLocked();
        } catch (const std::exception& e) {
            FError = e.what();
        }
    }
}

void TDeliveryTracker::Open(const std::string& fileName)
{
    std::lock_guard lock(FMutex);
    OpenLocked(fileName);
}

bool TDeliveryTracker::IsOpen() const
{
    std::lock_guard lock(FMutex);
    return FOpen;
}

std::string TDeliveryTracker::FileName() const
{
    std::lock_guard lock(FMutex);
    return FFileName;
}

void TDeliveryTracker::Close()
{
    std::unique_ptr<TReportListener> listener;
    {
        std::lock_guard lock(FMutex);
        listener = std::move(FListener);
        FBook = TDeliveryBook();
        FOpen = false;
        FFileName.clear();
        FExpected.clear();
        FEarly.clear();
        FError.clear();
    }
    listener.reset(); // joins its thread, which may be waiting for the lock
}

void TDeliveryTracker::SaveIfChanged(std::unique_lock<std::mutex>& lock)
{
    if (!FOpen || !FBook.TakeChanged())
        return;
    const std::string bytes = FBook.Serialize();
    const std::string fileName = FFileName;
    const unsigned long long version = ++FVersion;
    lock.unlock();
    std::string error;
    {
        // Saves may finish out of order; an older state never replaces a newer one.
        std::lock_guard saveLock(FSaveMutex);
        if (version > FSavedVersion) {
            try {
                SaveDeliveryText(bytes, fileName);
                FSavedVersion = version;
            } catch (const std::exception& e) {
                error = e.what();
            }
        }
    }
    lock.lock();
    if (!error.empty())
        FError = error;
}

void TDeliveryTracker::Accepted(const TSmsHistoryRecord& record, const TStdSmsSender& sent, const std::string& phone,
                                const std::string& text, const std::string& defaultFileName)
{
    if (!sent.AsksDeliveryStatus())
        return;
    TDeliveryEntry entry;
    entry.Name = record.Name;
    entry.Phone = record.Phone;
    entry.Date = record.Date;
    entry.Sender = sent.Name();
    entry.GateId = sent.GateMessageId;
    entry.Token = sent.ReportToken;
    entry.Charset = sent.Charset;
    entry.DeliveredPattern = sent.StatusDeliveredPattern;
    entry.FailedPattern = sent.StatusFailedPattern;
    entry.PendingPattern = sent.StatusPendingPattern;
    std::string error;
    try {
        entry.QueryUrl = StatusQueryUrl(sent, phone, text);
    } catch (const std::exception& e) {
        error = e.what();
    }
    entry.AcceptedAt = NowSeconds();
    std::unique_lock lock(FMutex);
    try {
        if (!FOpen)
            OpenLocked(defaultFileName);
    } catch (const std::exception& e) {
        FError = e.what();
        return;
    }
    const std::string token = entry.Token;
    const bool nothingToFollow = entry.QueryUrl.empty() && token.empty();
    const std::uint64_t id = FBook.Add(std::move(entry));
    if (nothingToFollow)
        FBook.GiveUp(id, error.empty() ? Cp1251("шлюз не назвал номер сообщения") : error, NowSeconds());
    if (!token.empty()) {
        FExpected.erase(token);
        auto early = FEarly.find(token);
        if (early != FEarly.end()) {
            FBook.Report(token, early->second.first, early->second.second, NowSeconds());
            FEarly.erase(early);
        }
    }
    SaveIfChanged(lock);
}

void TDeliveryTracker::ExpectReport(const std::string& token)
{
    std::lock_guard lock(FMutex);
    FExpected.insert(token);
}

void TDeliveryTracker::SetListenerPortForTests(std::optional<int> port)
{
    std::lock_guard lock(FMutex);
    FTestPort = port;
}

int TDeliveryTracker::ListenerPort() const
{
    std::lock_guard lock(FMutex);
    return FListener ? FListener->Port() : 0;
}

void TDeliveryTracker::EnsureListenerLocked()
{
    if (FListener)
        return;
    const int port = FTestPort ? *FTestPort : SmsOptions().DeliveryReportPort;
    FListener = std::make_unique<TReportListener>(port, [this](const std::string& target) {
        std::string token, type, text;
        if (target.rfind("/dlr?", 0) != 0 || !QueryParameter(target, "t", token) || !QueryParameter(target, "d", type))
            return 403;
        QueryParameter(target, "a", text);
        return Report(token, type, text, false);
    }, [this] {
        // The state file is written once the gateway has its answer: the answer stays quick.
        std::unique_lock lock(FMutex);
        SaveIfChanged(lock);
    });
}

std::string TDeliveryTracker::ReportUrl(const std::string& token)
{
    std::lock_guard lock(FMutex);
    EnsureListenerLocked();
    return "http://127.0.0.1:" + IntToStr(FListener->Port()) + "/dlr?t=" + token + "&d=%d&a=%A";
}

int TDeliveryTracker::Report(const std::string& token, const std::string& type, const std::string& text, bool save)
{
    TStatusAnswer answer;
    if (!DlrTypeAnswer(type, answer))
        return 400;
    std::string reason = ReasonText(text);
    if (type == "16")
        reason = Cp1251("центр SMS отклонил сообщение") + (reason.empty() ? "" : ": " + reason);
    std::unique_lock lock(FMutex);
    if (FBook.Report(token, answer, reason, NowSeconds())) {
        if (save)
            SaveIfChanged(lock);
        return 200;
    }
    if (FExpected.count(token)) {
        // The report came before the send's reply was taken in: kept for Accepted.
        auto& early = FEarly[token];
        if (early.second.empty() || answer == TStatusAnswer::Delivered || answer == TStatusAnswer::NotDelivered)
            early = {answer, reason};
        return 200;
    }
    return 403;
}

std::shared_ptr<TDeliveryTracker::TRound> TDeliveryTracker::BeginRound()
{
    const long long wait = WaitSeconds();
    auto round = std::make_shared<TRound>();
    std::unique_lock lock(FMutex);
    if (!FOpen)
        return nullptr;
    round->FQueries = FBook.TakeDue(NowSeconds(), wait);
    round->FTracker = this;
    if (round->FQueries.empty()) {
        SaveIfChanged(lock); // only expiries: a small write, rare
        return nullptr;
    }
    lock.unlock();
    round->FOptions = SmsOptions();
    return round;
}

void TDeliveryTracker::TRound::Run()
{
    if (FRan)
        return;
    FRan = true;
    struct TVerdict {
        std::uint64_t Id;
        TStatusAnswer Answer;
        std::string Reason;
    };
    std::vector<TVerdict> verdicts;
    for (const TStatusQuery& query : FQueries) {
        TVerdict verdict {query.Id, TStatusAnswer::NoAnswer, ""};
        verdict.Answer = AskStatus(query, FOptions, verdict.Reason);
        verdicts.push_back(std::move(verdict));
    }
    std::unique_lock lock(FTracker->FMutex);
    const long long now = NowSeconds();
    for (const TVerdict& verdict : verdicts)
        FTracker->FBook.Answer(verdict.Id, verdict.Answer, verdict.Reason, now);
    FTracker->SaveIfChanged(lock);
}

void TDeliveryTracker::PollNow()
{
    if (auto round = BeginRound())
        round->Run();
}

long long TDeliveryTracker::NextDue() const
{
    const long long wait = WaitSeconds();
    std::lock_guard lock(FMutex);
    return FBook.NextDue(wait);
}

std::optional<TDeliveryEntry> TDeliveryTracker::Entry(const std::string& name, const std::string& phone,
                                                      const std::string& date) const
{
    std::lock_guard lock(FMutex);
    if (const TDeliveryEntry* entry = FBook.Find(name, phone, date))
        return *entry;
    return std::nullopt;
}

std::vector<TDeliveryEntry> TDeliveryTracker::TakeNewlyNotDelivered()
{
    std::lock_guard lock(FMutex);
    std::vector<TDeliveryEntry> entries;
    for (std::uint64_t id : FBook.TakeNewlyNotDelivered())
        if (const TDeliveryEntry* entry = FBook.FindId(id))
            entries.push_back(*entry);
    return entries;
}

TDeliveryBook TDeliveryTracker::Book() const
{
    std::lock_guard lock(FMutex);
    return FBook;
}

std::vector<TDeliveryEntry> TDeliveryTracker::Entries() const
{
    std::lock_guard lock(FMutex);
    return FBook.Entries();
}

int TDeliveryTracker::Waiting() const
{
    std::lock_guard lock(FMutex);
    return FBook.Waiting();
}

std::string TDeliveryTracker::TakeError()
{
    std::lock_guard lock(FMutex);
    return std::exchange(FError, std::string());
}
