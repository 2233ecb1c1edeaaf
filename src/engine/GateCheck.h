#pragma once
// A check of one operator: one delivery of a test text to a phone through the
// queue's own path (the operator's copy, the options and transliteration
// snapshot, TSmsDelivery::Run on a worker thread, cancellable), with every
// step of the exchange recorded and timed. Nothing goes to the queue or the
// history. A build-only check makes the requests and sends nothing.
#include "engine/GateTrace.h"
#include "model/DeliveryCancel.h"
#include "model/SmsQueue.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class TSmsDelivery;
class TSmsSender;

struct TGateTraceLine {
    long long Ms = 0; // since the check began
    TGateStep Kind = TGateStep::Note;
    std::string Text; // CP1251, lines separated by "\n", secrets masked
};

class TGateCheck final : private TGateObserver {
public:
    // UI thread: takes the snapshot, as the queue does for a queued message.
    TGateCheck(const TSmsSender& sender, const std::string& phone, const std::string& text, bool buildOnly);
    ~TGateCheck() override;
    TGateCheck(const TGateCheck&) = delete;
    TGateCheck& operator=(const TGateCheck&) = delete;

    // Any thread, once; never raises.
    void Run();
    // Any thread: the exchange under way ends at once, nothing more is sent.
    void Cancel();

    // Any thread, while it runs too: the lines recorded from `from` on.
    std::vector<TGateTraceLine> Lines(size_t from = 0) const;
    bool Done() const { return FDone.load(); }
    // After Run: nothing when delivered (or, build-only, built), else the failure.
    std::optional<TSmsFailure> Outcome() const { return FOutcome; }
    bool BuildOnlyCheck() const { return FBuildOnly; }

private:
    void Step(TGateStep kind, const std::string& text) override;
    void HideSecret(const std::string& secret) override;
    // The text with every form of every secret so far as "***" (FMutex held).
    std::string Masked(std::string text) const;
    bool BuildOnly() const override { return FBuildOnly; }
    void Add(TGateStep kind, std::string text);
    std::optional<TSmsFailure> BuildRequests(const std::vector<std::string>& pieces);
    // After a delivery through an operator that asks the status: the first
    // status query at once, with its reply and verdict.
    void AskFirstStatus();

    std::shared_ptr<TSmsDelivery> FDelivery;
    const bool FBuildOnly;
    TCancelToken FCancel; // a build-only check's own (the delivery has its token)
    std::chrono::steady_clock::time_point FStart;
    mutable std::mutex FMutex;
    std::vector<TGateTraceLine> FLines;
    std::vector<std::string> FSecrets;
    std::optional<TSmsFailure> FOutcome;
    std::atomic<bool> FStarted {false};
    std::atomic<bool> FDone {false};
};
