#include "engine/GateCheck.h"
#include "engine/DeliveryTracker.h"

#include "engine/Charset.h"
#include "engine/SmsDelivery.h"
#include "engine/StdSmsSender.h"
#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/Text.h"
#include "model/Translit.h"

#include <algorithm>
#include <exception>

namespace {

// Secrets shorter than this are masked only where the gates put "***"
// themselves: blotting out every "ab" would make the trace unreadable.
constexpr size_t kShortestHiddenSecret = 3;

void ReplaceAll(std::string& text, const std::string& what, std::string_view by)
{
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += by.size())
        text.replace(pos, what.size(), by);
}

} // namespace

TGateCheck::TGateCheck(const TSmsSender& sender, const std::string& phone, const std::string& text, bool buildOnly)
    : FDelivery(TSmsDelivery::Detached(sender, phone, text)), FBuildOnly(buildOnly)
{
}

TGateCheck::~TGateCheck() = default;

void TGateCheck::Cancel()
{
    FCancel.Cancel();
    FDelivery->Cancel();
}

std::vector<TGateTraceLine> TGateCheck::Lines(size_t from) const
{
    std::lock_guard lock(FMutex);
    if (from >= FLines.size())
        return {};
    return {FLines.begin() + static_cast<std::ptrdiff_t>(from), FLines.end()};
}

void TGateCheck::HideSecret(const std::string& secret)
{
    std::lock_guard lock(FMutex);
    if (secret.size() < kShortestHiddenSecret)
        return;
    for (std::string& form : SecretForms(secret))
        if (form.size() >= kShortestHiddenSecret && std::find(FSecrets.begin(), FSecrets.end(), form) == FSecrets.end())
            FSecrets.push_back(std::move(form));
    // The longest first, so that no shorter form leaves a piece of a longer one.
    std::stable_sort(FSecrets.begin(), FSecrets.end(),
                     [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
}

std::string TGateCheck::Masked(std::string text) const
{
    for (const auto& secret : FSecrets)
        ReplaceAll(text, secret, GateSecretMask);
    return text;
}

void TGateCheck::Step(TGateStep kind, const std::string& text)
{
    // A reply's body and an e-mail are in the operator's charset.
    const TSmsSender* sender = FDelivery->SmsSender();
    if ((kind == TGateStep::Body || kind == TGateStep::Letter) && sender)
        Add(kind, ConvertToCp1251(text, CharsetFromName(sender->Charset)));
    else
        Add(kind, text);
}

void TGateCheck::Add(TGateStep kind, std::string text)
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - FStart).count();
    std::lock_guard lock(FMutex);
    FLines.push_back({static_cast<long long>(ms), kind, Masked(std::move(text))});
}

std::optional<TSmsFailure> TGateCheck::BuildRequests(const std::vector<std::string>& pieces)
{
    const TSmsSender* sender = FDelivery->SmsSender();
    if (!sender)
        return TSmsFailure {NoSmsSenderErrorText()};
    // A copy of the snapshot's operator: it still reads the snapshot's options.
    std::unique_ptr<TSmsSender> copy = sender->Clone();
    TCancelScope scope(FCancel);
    try {
        for (const auto& piece : pieces) {
            if (DeliveriesCancelled())
                throw TError(DeliveriesCancelledMessage());
            copy->DoSend(FDelivery->Phone(), piece);
        }
        return std::nullopt;
    } catch (const TPermanentError& e) {
        return TSmsFailure {e.message(), true};
    } catch (...) {
        return TSmsFailure {ExceptionMessage(std::current_exception())};
    }
}

void TGateCheck::AskFirstStatus()
{
    const auto* sent = dynamic_cast<const TStdSmsSender*>(FDelivery->SmsSender());
    if (!sent || sent->StatusIdPattern.empty())
        return;
    TStatusQuery query;
    query.Url = StatusQueryUrl(*sent, FDelivery->Phone(), FDelivery->Text());
    if (query.Url.empty()) {
        Add(TGateStep::Note, Cp1251("Статус доставки не узнать: нет номера сообщения или адреса запроса статуса."));
        return;
    }
    query.Charset = sent->Charset;
    query.DeliveredPattern = sent->StatusDeliveredPattern;
    query.FailedPattern = sent->StatusFailedPattern;
    query.PendingPattern = sent->StatusPendingPattern;
    std::vector<std::string> secrets;
    const std::string shown = MaskUrlSecrets(query.Url, &secrets);
    for (const auto& secret : secrets)
        HideSecret(secret);
    Add(TGateStep::Request, Cp1251("Первый запрос статуса: GET ") + shown);
    TCancelScope scope(FCancel);
    std::string reason, reply;
    const TStatusAnswer answer = AskStatus(query, sent->SendingOptions(), reason, &reply);
    Add(TGateStep::Received, Cp1251("Ответ: ") + reply);
    std::string verdict = Cp1251("Статус доставки: ");
    switch (answer) {
    case TStatusAnswer::Delivered: verdict += Cp1251("доставлено"); break;
    case TStatusAnswer::NotDelivered: verdict += Cp1251("не доставлено: ") + reason; break;
    case TStatusAnswer::Pending: verdict += Cp1251("ожидает; программа спросит снова"); break;
    case TStatusAnswer::NoAnswer: verdict += Cp1251("ответ не распознан; программа спросит снова"); break;
    }
    Add(TGateStep::Verdict, verdict);
}

void TGateCheck::Run()
{
    if (FStarted.exchange(true))
        return;
    FStart = std::chrono::steady_clock::now();
    TGateObserverScope observe(this);
    std::vector<std::string> pieces;
    if (const TSmsSender* sender = FDelivery->SmsSender()) {
        const auto* standard = dynamic_cast<const TStdSmsSender*>(sender);
        const bool web = standard && standard->GateType == TStdSmsSender::WebGateType;
        Add(TGateStep::Note, Cp1251("Оператор «") + sender->Name() + Cp1251(web ? "», веб-шлюз" : "», E-Mail шлюз") +
                                 Cp1251("; кодировка: ") + (sender->Charset.empty() ? "CP1251" : sender->Charset) +
                                 Cp1251("; транслитерация: ") + Cp1251(sender->TranslitFlag ? "да" : "нет"));
        // The same conversion and split as TSmsSender::Send, for showing them.
        const std::string& text = FDelivery->Text();
        const std::string converted = sender->TranslitFlag ? Translit(FDelivery->TranslitSnapshot(), text) : text;
        if (sender->TranslitFlag)
            Add(TGateStep::Note, Cp1251("Текст после транслитерации: ") + converted);
        pieces = SmsPieces(converted, sender->MaxSmsLen);
        std::string list = Cp1251("Частей: ") + IntToStr(static_cast<long long>(pieces.size())) +
                           Cp1251(" (не длиннее ") + IntToStr(sender->MaxSmsLen) + Cp1251(" байт)");
        for (const auto& piece : pieces)
            list += "\n" + piece;
        Add(TGateStep::Note, list);
    }

    std::optional<TSmsFailure> outcome;
    if (FBuildOnly) {
        outcome = BuildRequests(pieces);
    } else {
        FDelivery->Run();
        if (auto error = FDelivery->Error())
            outcome = TSmsFailure {*error, FDelivery->PermanentFailure()};
        else
            AskFirstStatus();
    }

    std::string last;
    if (!outcome)
        last = Cp1251(FBuildOnly ? "Итог: запрос построен, ничего не отправлено." : "Итог: доставлено.");
    else if (outcome->Text == DeliveriesCancelledMessage())
        last = Cp1251("Итог: проверка прервана.");
    else
        last = Cp1251(outcome->Permanent              ? "Итог: постоянная ошибка, без повторов."
                      : FDelivery->MaxTryCount() <= 1 ? "Итог: ошибка; в настройках одна попытка отсылки, очередь "
                                                        "не повторила бы отправку."
                                                      : "Итог: ошибка, очередь повторила бы отправку.") +
               "\n" + outcome->Text;
    for (char& c : last)
        if (c == '\r')
            c = '\n';
    Add(TGateStep::Outcome, last);
    {
        std::lock_guard lock(FMutex);
        if (outcome) // the dialog shows it too
            outcome->Text = Masked(std::move(outcome->Text));
        FOutcome = std::move(outcome);
    }
    FDone.store(true);
}
