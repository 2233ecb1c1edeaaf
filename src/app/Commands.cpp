#include "app/Commands.h"

#include "engine/DeliveryTracker.h"
#include "engine/SmsManager.h"
#include "engine/Startup.h"
#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/MessageText.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsLink.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/DeliveryStatusFile.h"
#include "storage/ProgramOptions.h"
#include "storage/SmsOptions.h"
#include "ui/UiText.h"
#include "ui/main/SmsQueueForm.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

TCommandResult Refusal(const QString& text) { return TCommandResult {ExitBadUsage, text, {}, false}; }

template <class T>
T* FindByName(const TItemList<T>& list, const std::string& name)
{
    for (T* item : list)
        if (SameText(item->Name(), name))
            return item;
    return nullptr;
}

// The composer's recipients, put aside while a command queues its own.
class TRecipientsAside {
public:
    TRecipientsAside()
    {
        TSmsManager& m = SmsManager();
        for (TContact* c : m.Recipients.Contacts)
            FContacts.push_back(c);
        for (TGroup* g : m.Recipients.Groups)
            FGroups.push_back(g);
        m.ClearRecipients();
    }
    ~TRecipientsAside()
    {
        TSmsManager& m = SmsManager();
        m.ClearRecipients();
        for (TContact* c : FContacts)
            m.AddRecipientContact(c);
        for (TGroup* g : FGroups)
            m.AddRecipientGroup(g);
    }

private:
    std::vector<TContact*> FContacts;
    std::vector<TGroup*> FGroups;
};

QString Line(const std::string& cp1251) { return ToQt(cp1251) + QLatin1Char('\n'); }

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

void Print(FILE* stream, const QString& text) { PrintToTerminal(stream, text); }

// "«😀» (U+1F600), «€»...": characters as an error text names them.
QString NamedChars(const std::vector<char32_t>& chars)
{
    QStringList named;
    for (char32_t cp : chars)
        named << QStringLiteral("«%1» (%2)")
                     .arg(QString::fromUcs4(&cp, 1), QString::fromStdString(CodePointText(cp)));
    return named.join(QStringLiteral(", "));
}

// Why the text cannot go as it is (empty when it can): it is not text, it is
// empty, it holds characters CP1251 lacks (unless they may become "?"), or it
// is longer than the composer takes.
QString TextRefusal(const TCommandLine& command, std::string& text)
{
    const QByteArray utf8 = command.Text.toUtf8();
    const std::string_view bytes(utf8.constData(), size_t(utf8.size()));
    if (const std::string problem = MessageBytesProblem(bytes); !problem.empty())
        return QStringLiteral("Текст сообщения не принят: %1.").arg(ToQt(problem));
    text = ComposedMessageText(FromQt(command.Text));
    if (text.empty())
        return QStringLiteral("Не указан текст сообщения.");
    if (const std::vector<char32_t> lacking = CharsCp1251Lacks(bytes); !lacking.empty() && !command.AllowReplace)
        return QStringLiteral("В тексте есть символы, которых нет в кодировке CP1251: %1. Получатель увидел бы "
                              "вместо них «?». Уберите их или укажите --allow-replace.")
            .arg(NamedChars(lacking));
    if (text.size() > size_t(MaxMessageLength))
        return QStringLiteral("Текст сообщения длиннее %1 символов (в нём %2): столько не вмещает и окно программы.")
            .arg(MaxMessageLength)
            .arg(text.size());
    return {};
}

} // namespace

TCommandResult QueueFromCommandLine(const TCommandLine& command)
{
    TSmsManager& manager = SmsManager();
    std::string text;
    if (const QString refusal = TextRefusal(command, text); !refusal.isEmpty())
        return Refusal(refusal);
    // Every name is resolved before anything changes: a refusal leaves the
    // address book and the queue as they were.
    std::vector<TContact*> contacts;
    std::vector<std::unique_ptr<TContact>> fresh; // numbers no contact has, added only when all is well
    std::vector<TGroup*> groups;
    const auto addOnce = [](auto& list, auto* item) {
        if (std::find(list.begin(), list.end(), item) == list.end())
            list.push_back(item);
    };
    for (const QString& value : command.To) {
        const std::string name = Trim(FromQt(value));
        TContact* contact = FindByName(manager.Contacts(), name);
        if (!contact && LooksLikePhone(name)) {
            contact = manager.FindContactByPhone(name);
            for (const auto& created : fresh)
                if (!contact && SamePhone(created->PhoneNumber, name))
                    contact = created.get();
            if (!contact) {
                if (command.Operator.isEmpty())
                    return Refusal(QStringLiteral("Номера %1 нет в адресной книге: укажите его оператора (--operator).")
                                       .arg(value));
                TSmsSender* sender = FindByName(manager.SmsSenders, FromQt(command.Operator));
                if (!sender)
                    return Refusal(QStringLiteral("Нет оператора «%1».").arg(command.Operator));
                fresh.push_back(std::make_unique<TContact>());
                contact = fresh.back().get();
                contact->SetName(name);
                contact->PhoneNumber = name;
                contact->SmsSender = sender;
            }
        }
        if (!contact)
            return Refusal(QStringLiteral("Нет абонента «%1».").arg(value));
        addOnce(contacts, contact);
    }
    for (const QString& value : command.Groups) {
        TGroup* group = FindByName(manager.Groups, Trim(FromQt(value)));
        if (!group)
            return Refusal(QStringLiteral("Нет группы «%1».").arg(value));
        addOnce(groups, group);
    }
    if (SmsOptions().TranslitFlag) // as the composer's transliteration switch does
        text = Translit(text);

    TCommandResult result;
    std::vector<TContact*> added;
    const int before = manager.Queue.Count();
    try {
        for (auto& contact : fresh) {
            manager.AddContact(contact.get()); // a refusal leaves it to the unique_ptr
            added.push_back(contact.release());
        }
        TRecipientsAside aside;
        for (TContact* contact : contacts)
            manager.AddRecipientContact(contact);
        for (TGroup* group : groups)
            manager.AddRecipientGroup(group);
        long long notBefore = 0;
        if (!command.Later.isEmpty()) {
            const QDateTime when = QDateTime::fromString(command.Later, QStringLiteral("dd.MM.yyyy HH:mm"));
            TDateTime t;
            t.Year = when.date().year();
            t.Month = when.date().month();
            t.Day = when.date().day();
            t.Hour = when.time().hour();
            t.Minute = when.time().minute();
            notBefore = LocalSeconds(t);
        }
        manager.QueueSms(text, notBefore, SmsOptions().TranslitFlag);
    } catch (const TError& e) {
        for (TContact* contact : added)
            manager.DeleteContact(contact);
        return Refusal(ToQt(e.message()));
    }
    result.ContactsAdded = !added.empty();
    for (int i = before; i < manager.Queue.Count(); ++i) {
        const TSms* sms = manager.Queue.Items(i);
        result.Queued.push_back(sms->JournalId);
        result.Text += QStringLiteral("В очереди: ") + Line(ContactCaption(sms->Contact));
    }
    return result;
}

QString QueuedWaitNote(const std::vector<std::uint64_t>& ids, bool paused)
{
    if (paused)
        return QStringLiteral("Рассылка в программе приостановлена: SMS не уйдут, пока в окне очереди не нажмут "
                              "«Старт».\n");
    const TSmsManager& manager = SmsManager();
    const long long now = LocalSeconds(Now());
    long long quietUntil = 0;
    if (manager.QuietAt(now, &quietUntil))
        return TSmsQueueForm::QuietSentence(quietUntil, now) + QLatin1Char('\n');
    for (int i = 0; i < manager.Queue.Count(); ++i) {
        const TSms* sms = manager.Queue.Items(i);
        if (std::find(ids.begin(), ids.end(), sms->JournalId) == ids.end())
            continue;
        const TQueueWait wait = manager.WaitOf(*sms, now);
        if (wait.Kind != TQueueWait::None)
            return TSmsQueueForm::WaitSentence(*sms, wait, now) + QLatin1Char('\n');
    }
    return {};
}

TCommandResult ListQueue()
{
    TCommandResult result;
    const TSmsQueue& queue = SmsManager().Queue;
    // The message out for delivery first: it has left the queue but is still owed.
    std::vector<const TSms*> owed;
    if (const auto& delivery = SmsManager().CurrentDelivery(); delivery && delivery->Sms())
        owed.push_back(delivery->Sms());
    for (int i = 0; i < queue.Count(); ++i)
        owed.push_back(queue.Items(i));
    for (const TSms* sms : owed) {
        result.Text += QStringLiteral("%1\t%2\tпопыток: %3\t")
                           .arg(ToQt(FormatDateTime(sms->Created)), ToQt(ContactCaption(sms->Contact)))
                           .arg(sms->TryCount) +
                       Line(sms->Text);
    }
    return result;
}

TCommandResult ListHistory(const TCommandLine& command)
{
    long long since = -1;
    if (!command.Since.isEmpty() && (since = HistoryDateKey(FromQt(command.Since))) < 0)
        return Refusal(QStringLiteral("Неверная дата: %1 (нужно дд.мм.гггг или дд.мм.гггг чч:мм).").arg(command.Since));
    TCommandResult result;
    const TSmsHistoryFile& history = SmsManager().History;
    if (!QFileInfo::exists(QFile::decodeName(ResolveDataFilePath(history.FileName()).c_str())))
        return result; // nothing recorded yet
    if (command.Csv)
        result.Text = QStringLiteral("Дата,Кому,Статус,Текст\n");
    // What became of the messages gateways accepted, from the running program
    // or the state file beside the history (one that does not read is left out).
    TDeliveryBook states;
    try {
        if (DeliveryTracker().IsOpen())
            states = DeliveryTracker().Book();
        else
            LoadDeliveryBook(states, DeliveryStatusFileName(history.FileName()));
    } catch (const TError&) {
    }
    TSmsHistoryIndex index;
    const std::vector<std::string> lines = history.LoadLines();
    index.AddLines(lines, 0, lines.size());
    index.Finish();
    for (const TSmsHistoryRecord& r : index.Records()) {
        const TDeliveryEntry* state = states.Find(r.Name, r.Phone, r.Date);
        const bool notDelivered = state && state->State == TDeliveryState::NotDelivered;
        if ((command.FailedOnly && !r.Failed() && !notDelivered) || (since >= 0 && HistoryDateKey(r.Date) < since))
            continue;
        const std::string status =
            r.WordedStatusLine() + (state ? "; " + ControlCharsToSpaces(DeliveryStatusLine(*state)) : std::string());
        const QStringList fields {ToQt(r.Date), ToQt(r.Name + " (" + r.Phone + ")"), ToQt(status),
                                  ToQt(r.OneLineText())};
        if (command.Csv) {
            QStringList quoted;
            for (const QString& f : fields)
                quoted << CsvField(f);
            result.Text += quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
        } else {
            result.Text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
        }
    }
    return result;
}

namespace {

// Works off the messages of `ids`, one attempt a second, leaving every other
// message where it is. Returns how many finally failed.
int DeliverQueued(const std::vector<std::uint64_t>& ids)
{
    TSmsManager& manager = SmsManager();
    // The first of ours that is due, or -1; `owed` says whether any of ours is left,
    // `wake` (LocalSeconds) when the first of them comes due.
    bool owed = false;
    long long wake = 0;
    const auto ours = [&]() {
        owed = false;
        wake = 0;
        const long long now = LocalSeconds(Now());
        long long quietUntil = 0;
        const bool quiet = manager.QuietAt(now, &quietUntil);
        for (int i = 0; i < manager.Queue.Count(); ++i) {
            if (!std::count(ids.begin(), ids.end(), manager.Queue.Items(i)->JournalId))
                continue;
            owed = true;
            const TQueueWait wait = manager.WaitOf(*manager.Queue.Items(i), now);
            if (wait.Kind == TQueueWait::None && !quiet)
                return i;
            const long long until = std::max(wait.Until, quiet ? quietUntil : 0);
            wake = wake == 0 ? until : std::min(wake, until);
        }
        return -1;
    };
    // Waits, the channel answering other starts meanwhile.
    const auto pause = [](qint64 ms) {
        QEventLoop wait;
        QTimer::singleShot(int(std::clamp<qint64>(ms, 1, 60000)), &wait, &QEventLoop::quit);
        wait.exec();
    };
    int failed = 0;
    QElapsedTimer sinceLast;
    for (;;) {
        const int index = ours();
        if (!owed)
            break;
        if (index < 0) { // a retry's wait, the chosen time, the operator's pace or quiet hours
            pause((wake - LocalSeconds(Now())) * 1000);
            continue;
        }
        if (sinceLast.isValid() && sinceLast.elapsed() < 1000) {
            pause(1000 - sinceLast.elapsed());
            continue;
        }
        sinceLast.start();
        const std::shared_ptr<TSmsDelivery> delivery = manager.BeginDelivery(index);
        if (!delivery)
            continue;
        const std::uint64_t id = delivery->Sms()->JournalId;
        const std::string to = ContactCaption(delivery->Sms()->Contact);
        {
            // On a worker thread, so that the channel answers other starts at once meanwhile.
            QEventLoop wait;
            QFutureWatcher<void> watcher;
            QObject::connect(&watcher, &QFutureWatcher<void>::finished, &wait, &QEventLoop::quit);
            watcher.setFuture(QtConcurrent::run([delivery] { delivery->Run(); }));
            wait.exec();
        }
        const std::optional<std::string> error = delivery->Error();
        manager.FinishDelivery(delivery);
        bool requeued = false;
        for (int i = 0; i < manager.Queue.Count(); ++i)
            requeued = requeued || manager.Queue.Items(i)->JournalId == id;
        if (requeued)
            continue;
        if (error) {
            ++failed;
            Print(stderr, QStringLiteral("Не отправлено: ") + ToQt(to) + QStringLiteral(": ") + Line(*error));
        } else {
            Print(stdout, QStringLiteral("Отправлено: ") + Line(to));
        }
    }
    return failed;
}

// send --wait: asks the status queries as they fall due and takes reports
// until every message of this run has its final state or the time is up;
// prints each final state. 0: all delivered (or followed by no operator),
// 1: one not delivered, 3: one still unknown.
int WaitForDelivery(size_t first, long long seconds)
{
    const long long start = LocalSeconds(Now());
    const long long deadline = start + (seconds > 0 ? seconds : SmsOptions().DeliveryWaitHours * 3600LL);
    std::vector<bool> told;
    for (;;) {
        DeliveryTracker().PollNow();
        const std::vector<TDeliveryEntry> entries = DeliveryTracker().Entries();
        told.resize(entries.size(), false);
        bool waiting = false, notDelivered = false, unknown = false;
        for (size_t i = first; i < entries.size(); ++i) {
            const TDeliveryEntry& e = entries[i];
            if (!DeliveryStateFinal(e.State)) {
                waiting = true;
                continue;
            }
            notDelivered = notDelivered || e.State == TDeliveryState::NotDelivered;
            unknown = unknown || e.State == TDeliveryState::Unknown;
            if (!told[i]) {
                told[i] = true;
                Print(e.State == TDeliveryState::Delivered ? stdout : stderr,
                      ToQt(e.Name + " (" + e.Phone + "): " + ControlCharsToSpaces(DeliveryStatusLine(e))));
            }
        }
        const long long now = LocalSeconds(Now());
        if (!waiting || now >= deadline) {
            if (notDelivered)
                return ExitFailed;
            if (waiting)
                Print(stderr, QStringLiteral("Время ожидания вышло: шлюз ещё не сказал, доставлено ли сообщение."));
            return waiting || unknown ? ExitStillUnknown : ExitOk;
        }
        // Reports may come at any moment: a look every second at least.
        QEventLoop pause;
        QTimer::singleShot(1000, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

} // namespace

int RunHeadless(const TCommandLine& command)
{
    if (command.Kind == TCommandLine::TKind::Send) { // a text that cannot go needs no data loaded
        std::string text;
        if (const QString refusal = TextRefusal(command, text); !refusal.isEmpty()) {
            Print(stderr, refusal);
            return ExitBadUsage;
        }
    }
    const TStartupState state = LoadProgramData(); // no windows: nothing to place
    if (const std::string note = TakeSecretStoreMessage(); !note.empty())
        Print(stderr, Line(note).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    if (!state.Complete()) {
        Print(stderr, Line(state.ErrorText));
        return ExitFailed;
    }
    if (const std::string note = QueueRestoreNote(state.Restore); !note.empty())
        Print(stderr, Line(note));
    int code = ExitOk;
    size_t firstFollowed = 0; // --wait: the states of this run's messages come after the ones before
    try {
        if (command.WaitSeconds >= 0) {
            DeliveryTracker().Open(DeliveryStatusFileName(SmsManager().History.FileName()));
            firstFollowed = DeliveryTracker().Entries().size();
        }
        TCommandResult result = command.Kind == TCommandLine::TKind::Send    ? QueueFromCommandLine(command)
                                : command.Kind == TCommandLine::TKind::Queue ? ListQueue()
                                                                             : ListHistory(command);
        Print(result.ExitCode == ExitOk ? stdout : stderr, result.Text);
        code = result.ExitCode;
        // A send for later only queues: the program sends it once it runs at that time.
        if (code == ExitOk && command.Kind == TCommandLine::TKind::Send && command.Later.isEmpty() &&
            DeliverQueued(result.Queued) > 0)
            code = ExitFailed;
    } catch (...) {
        Print(stderr, Line(ExceptionMessage(std::current_exception())));
        code = ExitFailed;
    }
    if (command.Kind != TCommandLine::TKind::Send || code == ExitBadUsage)
        return code; // the listings change nothing, nor does a refused send
    try {
        SaveProgramData(state);
    } catch (...) {
        Print(stderr, Line(ExceptionMessage(std::current_exception())));
        code = ExitFailed;
    }
    if (code == ExitOk && command.WaitSeconds >= 0)
        code = WaitForDelivery(firstFollowed, command.WaitSeconds);
    return code;
}
