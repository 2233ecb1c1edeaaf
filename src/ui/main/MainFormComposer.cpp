// The main window's composer: the message box and its counter, the templates
// and queue menus, the send with its checks, the countdown after a send and
// the status texts.
#include "ui/main/MainForm.h"

#include "engine/SmsCost.h"
#include "engine/SmsManager.h"
#include "model/Error.h"
#include "model/RecipientFields.h"
#include "model/Text.h"
#include "model/Translit.h"
#include "storage/SmsOptions.h"
#include "ui/Notifier.h"
#include "ui/dialogs/SmsHistoryForm.h"
#include "ui/dialogs/SendLaterDialog.h"
#include "ui/dialogs/UiHelpers.h"
#include "ui/main/MessageMemo.h"
#include "ui/main/SmsQueueForm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int TemplateCaptionLength = 32;

// A menu item shows "&" as itself and a tab as a blank.
QString MenuCaption(const std::string& text)
{
    QString caption = ToQt(text);
    caption.replace(QChar('&'), QStringLiteral("&&"));
    caption.replace(QChar('\t'), QChar(' '));
    return caption;
}

QToolButton* MenuButton(QToolBar* bar, QAction* action, QMenu* menu, const char* name)
{
    auto* button = Named(new QToolButton(bar), name);
    button->setDefaultAction(action);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setAutoRaise(true);
    bar->addWidget(button);
    return button;
}
} // namespace

void TMainForm::CreateComposerActions()
{
    BaseTitle = windowTitle(); // the title without the queue count
    TranslitAction = MakeAction(this, "TranslitAction", QStringLiteral("Транслитерация"), TIcon::Translit,
                                &TMainForm::TranslitActionExecute);
    TranslitAction->setCheckable(true);
    StartAction = MakeAction(this, "StartAction", QStringLiteral("&Возобновить рассылку"), TIcon::Start,
                             &TMainForm::StartActionExecute);
    PauseAction = MakeAction(this, "PauseAction", QStringLiteral("&Приостановить рассылку"), TIcon::Pause,
                             &TMainForm::PauseActionExecute);

    TemplatesPopupMenu = Named(new QMenu(this), "TemplatesPopupMenu");
    // Item i inserts template i; the captions are set each time the menu opens.
    static const char* const itemNames[] = {
        "Template01", "Template1",   "Template21",  "Template31",  "Template41",  "Template51",  "Template61",
        "Template71", "Template81",  "Template91",  "Template101", "Template111", "Template121", "Template131",
        "Template141", "Template151", "Template92", "Template171", "Template181", "Template191"};
    static_assert(std::size(itemNames) == std::tuple_size_v<decltype(TemplateItems)>);
    for (int i = 0; i < static_cast<int>(TemplateItems.size()); ++i) {
        QAction* item = TemplatesPopupMenu->addAction(QStringLiteral("Template %1").arg(i));
        item->setObjectName(QString::fromLatin1(itemNames[i]));
        connect(item, &QAction::triggered, this, [i] { Guard([i] { SmsManager().Templates.InsertTemplate(i); }); });
        TemplateItems[i] = item;
    }
    connect(TemplatesPopupMenu, &QMenu::aboutToShow, this, [this] { Guard([this] { TemplatesPopupMenuPopup(); }); });
    // Fields that each recipient's message gets filled in with its own values.
    TemplatesPopupMenu->addSeparator();
    QMenu* fields = Named(TemplatesPopupMenu->addMenu(QStringLiteral("&Вставить поле")), "InsertFieldMenu");
    const struct {
        const char* Name;
        QString Caption;
        std::string_view Field;
    } fieldItems[] = {{"InsertNameFieldAction", QStringLiteral("&Имя получателя {name}"), NameField},
                      {"InsertPhoneFieldAction", QStringLiteral("&Телефон получателя {phone}"), PhoneField}};
    for (const auto& item : fieldItems) {
        QAction* action = fields->addAction(item.Caption);
        action->setObjectName(QString::fromLatin1(item.Name));
        const std::string_view field = item.Field;
        connect(action, &QAction::triggered, this, [this, field] { Guard([this, field] { InsertFieldText(field); }); });
    }

    SmsQueuePopupMenu = Named(new QMenu(this), "SmsQueuePopupMenu");
    SmsQueuePopupMenu->addAction(StartAction);
    SmsQueuePopupMenu->addAction(PauseAction);

    DelayTimer = Named(new QTimer(this), "DelayTimer");
    DelayTimer->setInterval(1000);
    connect(DelayTimer, &QTimer::timeout, this, [this] { Guard([this] { DelayTimerTimer(); }); });
}

void TMainForm::CreateComposerPanel(QWidget* panel)
{
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(4, 0, 4, 4);
    column->setSpacing(2);

    ToolBar1 = Named(new QToolBar(panel), "ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->addAction(NewSmsAction);
    ToolBar1->addSeparator();
    MenuButton(ToolBar1, TemplatesAction, TemplatesPopupMenu, "TemplatesTB");
    MenuButton(ToolBar1, SmsQueueAction, SmsQueuePopupMenu, "SmsQueueTB");
    ToolBar1->addSeparator();
    TranslitTB = Named(new QToolButton(ToolBar1), "TranslitTB");
    TranslitTB->setDefaultAction(TranslitAction);
    TranslitTB->setToolButtonStyle(Qt::ToolButtonTextOnly); // its pressed state reads better as a word
    TranslitTB->setAutoRaise(true);
    ToolBar1->addWidget(TranslitTB);
    ToolBar1->addSeparator();
    ToolBar1->addAction(SendSmsAction);
    column->addWidget(ToolBar1);

    SmsErrorLabel = Named(new QLabel(panel), "SmsErrorLabel");
    QPalette maroon = SmsErrorLabel->palette();
    maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
    SmsErrorLabel->setPalette(maroon);
    SmsErrorLabel->setTextFormat(Qt::RichText);
    SmsErrorLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    SmsErrorLabel->setFocusPolicy(Qt::NoFocus); // a Tab stop only while it holds the link
    SmsErrorLabel->setToolTip(QStringLiteral("Показать неотправленные сообщения в истории"));
    connect(SmsErrorLabel, &QLabel::linkActivated, this, [this] { Guard([this] { ShowHistory(true); }); });
    column->addWidget(SmsErrorLabel);

    // Why the queue waits: a sentence with its exact time, wrapped rather than cut.
    QueueStateLabel = Named(new QLabel(panel), "QueueStateLabel");
    QueueStateLabel->setWordWrap(true);
    QueueStateLabel->setTextFormat(Qt::PlainText);
    QueueStateLabel->hide();
    column->addWidget(QueueStateLabel);

    auto* infoRow = new QHBoxLayout;
    SmsInfoLabel = Named(new QLabel(QStringLiteral("Сообщение:"), panel), "SmsInfoLabel");
    CharCounterLabel = Named(new QLabel(panel), "CharCounterLabel");
    CharCounterLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    infoRow->addWidget(SmsInfoLabel, 1);
    infoRow->addWidget(CharCounterLabel);
    column->addLayout(infoRow);

    MessageMemo = Named(new TMessageMemo(panel), "MessageMemo");
    SmsInfoLabel->setBuddy(MessageMemo);
    MessageMemo->setAccessibleName(QStringLiteral("Сообщение"));
    connect(MessageMemo, &QPlainTextEdit::textChanged, this, [this] {
        UpdateCharCounter();
        ScheduleCostUpdate();
    });
    column->addWidget(MessageMemo, 1);

    SmsCostLabel = Named(new QLabel(panel), "SmsCostLabel");
    SmsCostLabel->setWordWrap(true);
    SmsCostLabel->setTextFormat(Qt::PlainText);
    column->addWidget(SmsCostLabel);
    connect(TranslitAction, &QAction::toggled, this, [this] { ScheduleCostUpdate(); });

    auto* sendRow = new QHBoxLayout;
    SendButton = Named(new QToolButton(panel), "SendButton");
    SendButton->setDefaultAction(SendSmsAction);
    SendButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The arrow beside it: send at a chosen moment.
    auto* sendMenu = Named(new QMenu(SendButton), "SendLaterMenu");
    sendMenu->addAction(SendLaterAction);
    SendButton->setMenu(sendMenu);
    SendButton->setPopupMode(QToolButton::MenuButtonPopup);
    SendButton->installEventFilter(this); // Alt+Down and F4 open the arrow's menu
    SendButton->setMinimumHeight(28);
    SecondsLeftLabel = Named(new QLabel(panel), "SecondsLeftLabel");
    SecondsLeftLabel->setWordWrap(true);
    sendRow->addWidget(SendButton);
    sendRow->addWidget(SecondsLeftLabel, 1);
    column->addLayout(sendRow);

    UpdateCharCounter();
}

std::string TMainForm::MessageText() const { return ComposedMessageText(MessageMemo->Text()); }

void TMainForm::UpdateCharCounter()
{
    // With fields, the longest of the texts the recipients will get. The
    // manager is asked only then: while the window is built, the address book
    // is still being read into it on another thread.
    const std::string text = MessageText();
    const size_t length = HasRecipientFields(text) ? LongestExpansionLength(text, SmsManager().Recipients) : text.size();
    CharCounterLabel->setText(ToQt(CharCounterText(static_cast<int>(length))));
}

namespace {
// "1 символ", "2 символа", "5 символов".
QString Plural(int n, const char* one, const char* few, const char* many)
{
    const int tens = n % 100, units = n % 10;
    const char* word = (tens >= 11 && tens <= 14) ? many : units == 1 ? one : (units >= 2 && units <= 4) ? few : many;
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}

QString OperatorName(const TSmsSender* sender)
{
    return sender ? QStringLiteral("«%1»").arg(ToQt(sender->Name())) : QStringLiteral("без оператора");
}
} // namespace

void TMainForm::ScheduleCostUpdate()
{
    if (FCostPending)
        return;
    FCostPending = true;
    QTimer::singleShot(0, this, [this] {
        FCostPending = false;
        Guard([this] {
            UpdateCharCounter(); // the recipients may have changed what the fields make of the text
            UpdateCost();
        });
    });
}

void TMainForm::UpdateCost()
{
    const bool translit = TranslitTB && TranslitTB->isChecked();
    const std::string text = MessageText();
    const TSmsCost cost = ComputeSmsCost(text, SmsManager().Recipients, TranslitTable());
    const int total = translit ? cost.TotalTranslit : cost.Total;

    // With nobody picked nothing will be sent: the line says what one message takes.
    QString line = cost.Recipients > 0 || cost.NoOperator > 0
                       ? QStringLiteral("Будет отправлено: %1 SMS").arg(total)
                       : QStringLiteral("Получатели не выбраны; сообщение займёт %1 SMS").arg(total);
    if (cost.Recipients > 0)
        line += QStringLiteral(" получателям: %1").arg(cost.Recipients);
    // The rest on a line of its own: what would be cheaper, what cannot go.
    QStringList notes;
    if (!translit && cost.TotalTranslit < cost.Total)
        notes << QStringLiteral("транслитом: %1 SMS").arg(cost.TotalTranslit);
    if (cost.NoOperator > 0)
        notes << QStringLiteral("без оператора: %1").arg(cost.NoOperator);

    // Characters that never reach a recipient as typed: those CP1251 lacks
    // (every operator gets "?"), and those an operator's charset lacks ("_").
    const QString raw = MessageMemo->toPlainText();
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat markFormat;
    markFormat.setBackground(QColor(255, 200, 200));
    markFormat.setToolTip(QStringLiteral("Этот символ не дойдёт до получателя"));
    auto mark = [&](int position) {
        QTextEdit::ExtraSelection selection;
        selection.cursor = QTextCursor(MessageMemo->document());
        selection.cursor.setPosition(position);
        selection.cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        selection.format = markFormat;
        marks << selection;
    };
    int notCp1251 = 0;
    std::string rawBytes; // one byte per character of the field, so positions match
    rawBytes.reserve(static_cast<size_t>(raw.size()));
    for (int i = 0; i < raw.size(); ++i) {
        const std::string byte = FromQt(QString(raw[i]));
        rawBytes += byte.size() == 1 ? byte[0] : '?';
        if (rawBytes.back() == '?' && raw[i] != QLatin1Char('?') && !raw[i].isLowSurrogate()) {
            ++notCp1251;
            mark(i);
        }
    }
    if (notCp1251 > 0)
        notes << QStringLiteral("%1 нельзя отправить (их нет в кодировке CP1251)")
                    .arg(Plural(notCp1251, "символ", "символа", "символов"));
    QStringList details;
    for (const TOperatorCost& op : cost.PerOperator) {
        const int each = translit ? op.SmsEachTranslit : op.SmsEach;
        const int opTotal = translit ? op.TotalTranslit : op.Total;
        // "5 получателей × 5 SMS" only when each is billed alike; with fields
        // each recipient's own text may cost less than the dearest one.
        const QString count = opTotal == op.Recipients * each
                                  ? QStringLiteral("%1 × %2 SMS")
                                        .arg(Plural(op.Recipients, "получатель", "получателя", "получателей"))
                                        .arg(each)
                                  : QStringLiteral("%1 SMS на %2 (до %3 SMS на одного)")
                                        .arg(opTotal)
                                        .arg(Plural(op.Recipients, "получателя", "получателей", "получателей"))
                                        .arg(each);
        details << QStringLiteral("%1: %2 (%3, частей текста: %4)")
                       .arg(OperatorName(op.Sender), count)
                       .arg(op.Ucs2 && !translit ? QStringLiteral("UCS-2") : QStringLiteral("7 бит"))
                       .arg(op.Pieces);
        if (op.Uncarried > 0 && op.Sender) {
            notes << QStringLiteral("%1 оператором %2")
                        .arg(Plural(op.Uncarried, "символ не передаётся", "символа не передаются",
                                    "символов не передаются"),
                             OperatorName(op.Sender));
            for (int position : UncarriedPositions(rawBytes, op.Sender, TranslitTable()))
                mark(position);
        }
    }
    if (!notes.isEmpty())
        line += QLatin1Char('\n') + notes.join(QStringLiteral("; "));
    SmsCostLabel->setText(line);
    SmsCostLabel->setToolTip(details.join(QLatin1Char('\n')));
    MessageMemo->setExtraSelections(marks);
    TranslitAction->setToolTip(cost.TotalTranslit < cost.Total
                                   ? QStringLiteral("Транслитерация: %1 SMS вместо %2").arg(cost.TotalTranslit).arg(cost.Total)
                                   : QStringLiteral("Транслитерация (стоимость не изменится)"));
}

std::string TMainForm::NewMessageText() const
{
    const TSmsOptions& options = SmsOptions();
    std::string text = Trim(options.Prefix);
    const std::string suffix = Trim(options.Suffix);
    if (!suffix.empty())
        text = text.empty() ? suffix : text + "\r\n" + suffix;
    return text;
}

void TMainForm::NewMessage()
{
    MessageMemo->SetText(NewMessageText());
    MessageMemo->SetSelStart(0);
}

void TMainForm::InsertTemplateText(const std::string& text)
{
    const int position = MessageMemo->SelStart();
    MessageMemo->InsertAt(position, text + "\r\n");
    MessageMemo->SetSelStart(position + static_cast<int>(text.size()) + 2);
    // The command comes from the templates window: the keyboard goes to this
    // window's message field, so the window becomes the active one as well.
    if (FHiddenToTray)
        RestoreFromTray();
    raise();
    activateWindow();
    MessageMemo->setFocus();
}

void TMainForm::InsertFieldText(std::string_view field)
{
    const int position = MessageMemo->SelStart();
    MessageMemo->InsertAt(position, std::string(field));
    MessageMemo->SetSelStart(position + static_cast<int>(field.size()));
    MessageMemo->setFocus();
}

void TMainForm::TemplatesPopupMenuPopup()
{
    for (QAction* item : TemplateItems)
        item->setVisible(false);
    const TSmsTemplateList& templates = SmsManager().Templates;
    const int count = std::min(templates.Count(), static_cast<int>(TemplateItems.size()));
    for (int i = 0; i < count; ++i) {
        std::string caption = templates.Get(i);
        if (caption.size() > TemplateCaptionLength)
            caption = caption.substr(0, TemplateCaptionLength) + "...";
        TemplateItems[i]->setText(MenuCaption(caption));
        TemplateItems[i]->setVisible(true);
    }
}

void TMainForm::EnqueueMessage(long long notBefore)
{
    if (MessageText().empty())
        throw TError(Cp1251("Не указан текст сообщения."));
    TSmsManager& manager = SmsManager();
    if (manager.Recipients.Contacts.Count() == 0 && manager.Recipients.Groups.Count() == 0)
        throw TError(Cp1251("Список адресатов пуст."));
    if (TranslitTB->isChecked())
        MessageMemo->SetText(Translit(MessageText()));
    if (notBefore > 0)
        CheckSendTime(notBefore); // before the text changes
    manager.QueueSms(MessageText(), notBefore, TranslitTB->isChecked());
    const TSmsOptions& options = SmsOptions();
    if (options.ClearMessageAfterSendFlag)
        NewMessage();
    if (options.ClearRecepientsAfterSendFlag)
        EmptyRecipientList();
}

void TMainForm::SendLaterActionExecute()
{
    if (!SendSmsAction->isEnabled())
        return; // the countdown of the last send is running
    const std::optional<QDateTime> chosen = TSendLaterDialog::Execute(this);
    if (!chosen)
        return;
    const QDate d = chosen->date();
    const QTime t = chosen->time();
    TDateTime when;
    when.Year = d.year();
    when.Month = d.month();
    when.Day = d.day();
    when.Hour = t.hour();
    when.Minute = t.minute();
    EnqueueMessage(LocalSeconds(when));
    if (FSmsQueueForm)
        FSmsQueueForm->RefreshQueue();
    UpdateStatus();
    StartSendDelay();
}

void TMainForm::SendSmsActionExecute()
{
    EnqueueMessage();
    if (FSmsQueueForm)
        FSmsQueueForm->RefreshQueue();
    UpdateStatus();
    StartSendDelay();
}

void TMainForm::StartSendDelay()
{
    SecondsLeft = 15;
    SendSmsAction->setEnabled(false);
    DelayTimer->stop();
    DelayTimer->start();
}

void TMainForm::DelayTimerTimer()
{
    --SecondsLeft;
    if (SecondsLeft < 0) {
        DelayTimer->stop();
        SendSmsAction->setEnabled(true);
        SecondsLeftLabel->clear();
    } else {
        SecondsLeftLabel->setText(QStringLiteral("Следующее SMS можно отослать через %1 сек.").arg(SecondsLeft));
    }
}

void TMainForm::UpdateStatus()
{
    const TSmsManager& manager = SmsManager();
    const TSmsQueue& queue = manager.Queue;
    // The message out for delivery has left the queue, but it is still owed.
    const int queued = queue.Count() + (manager.CurrentDelivery() ? 1 : 0);
    QString info = QStringLiteral("Сообщение:");
    QString title = BaseTitle;
    if (queued > 0) {
        info = QStringLiteral("В очереди %1 SMS").arg(queued);
        title = QStringLiteral("%1 (%2)").arg(BaseTitle).arg(queued);
    }
    setWindowTitle(title);
    if (queue.FailedCount > 0)
        SmsErrorLabel->setText(QStringLiteral("<a href=\"failed\" style=\"color: #800000\">Не удалось отправить %1 SMS</a>")
                                   .arg(queue.FailedCount));
    else
        SmsErrorLabel->clear();
    // The link takes a Tab stop; the empty label none.
    SmsErrorLabel->setFocusPolicy(queue.FailedCount > 0 ? Qt::StrongFocus : Qt::NoFocus);
    if (FSmsQueueForm && FSmsQueueForm->Paused())
        info += QStringLiteral(" (рассылка приостановлена)");
    SmsInfoLabel->setText(info);
    const QString state = QueueStateText();
    QueueStateLabel->setText(state);
    QueueStateLabel->setVisible(!state.isEmpty());
}

QString TMainForm::QueueStateText() const
{
    const TSmsManager& manager = SmsManager();
    const int held = manager.HeldCount();
    if (manager.Queue.Count() == 0)
        return {};
    QStringList parts;
    const long long now = LocalSeconds(Now());
    if (FSmsQueueForm && FSmsQueueForm->Paused()) {
        parts << QStringLiteral("Рассылка приостановлена: нажмите «Старт» в окне очереди.");
    } else if (!manager.CurrentDelivery() && manager.Queue.Count() > held) {
        long long quietUntil = 0;
        TQueueWait wait;
        const TSms* next = manager.NextWaiting(now, &wait);
        if (manager.QuietAt(now, &quietUntil))
            parts << TSmsQueueForm::QuietSentence(quietUntil, now);
        else if (next) // nothing due: the first to come due says when and why
            parts << TSmsQueueForm::WaitSentence(*next, wait, now);
    }
    if (held > 0)
        parts << QStringLiteral("Восстановлено после перезапуска и ждёт вашего решения: %1 SMS "
                                "(окно очереди, кнопка «Отправить»).")
                     .arg(held);
    return parts.join(QLatin1Char(' '));
}

void TMainForm::UpdateQueueActions()
{
    const bool paused = FSmsQueueForm && FSmsQueueForm->Paused();
    StartAction->setVisible(paused);
    StartAction->setEnabled(paused);
    PauseAction->setVisible(!paused);
    PauseAction->setEnabled(!paused);
}

void TMainForm::NewSmsActionExecute() { NewMessage(); }

void TMainForm::TranslitActionExecute() { SmsOptions().TranslitFlag = TranslitAction->isChecked(); }

void TMainForm::StartActionExecute()
{
    if (FSmsQueueForm)
        FSmsQueueForm->Resume();
    UpdateQueueActions();
}

void TMainForm::PauseActionExecute()
{
    if (FSmsQueueForm)
        FSmsQueueForm->Pause();
    UpdateQueueActions();
}

void TMainForm::ShowHistory(bool failedOnly, const TSmsHistoryRecord* at)
{
    TSmsHistoryForm* form = TSmsHistoryForm::Open(SmsManager().History, this, failedOnly, at);
    if (!form)
        return;
    if (!FHistoryBound) {
        FHistoryBound = true;
        connect(form, &TSmsHistoryForm::SmsQueued, this, [this] {
            Guard([this] {
                if (FSmsQueueForm)
                    FSmsQueueForm->RefreshQueue();
                UpdateStatus();
            });
        });
    }
    SmsManager().Queue.FailedCount = 0;
    UpdateStatus();
}

void TMainForm::CountNotDelivered(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    SmsManager().Queue.FailedCount += static_cast<int>(lines.size());
    UpdateStatus();
    if (!SmsOptions().AlertOnErrorsFlag || !FNotifier)
        return;
    const QString failures = QStringLiteral("failures");
    FFailuresNotified = (FNotifier->Showing(failures) ? FFailuresNotified : 0) + static_cast<int>(lines.size());
    if (FFailuresNotified == 1)
        FNotifier->Notify(QStringLiteral("SMS не доставлено"), lines.last(), [this] { ShowHistory(); }, failures);
    else
        FNotifier->Notify(QStringLiteral("Не удалось отправить %1 SMS").arg(FFailuresNotified),
                          QStringLiteral("Последнее: ") + lines.last(), [this] { ShowHistory(true); }, failures);
}

void TMainForm::SmsFinished()
{
    TSmsManager& manager = SmsManager();
    if (!manager.Finished)
        return;
    const TSmsHistoryRecord record = *manager.Finished;
    ++FBatchTotal;
    FBatchSent += record.Failed() ? 0 : 1;
    if (record.Failed() && SmsOptions().AlertOnErrorsFlag && FNotifier) {
        // One notification for the failures in a row: while it is shown, the
        // next failure replaces it with the count, and its click opens the failures.
        const QString failures = QStringLiteral("failures");
        FFailuresNotified = FNotifier->Showing(failures) ? FFailuresNotified + 1 : 1;
        const QString line =
            QStringLiteral("%1 (%2): %3").arg(ToQt(record.Name), ToQt(record.Phone), ToQt(record.StatusLine()));
        if (FFailuresNotified == 1)
            FNotifier->Notify(QStringLiteral("Не удалось отправить SMS"), line,
                              [this, record] { ShowHistory(false, &record); }, failures);
        else
            FNotifier->Notify(QStringLiteral("Не удалось отправить %1 SMS").arg(FFailuresNotified),
                              QStringLiteral("Последнее: ") + line, [this] { ShowHistory(true); }, failures);
    }
    if (manager.Queue.Count() > 0 || manager.CurrentDelivery())
        return;
    // The queue is empty: the batch is done.
    const int sent = std::exchange(FBatchSent, 0), total = std::exchange(FBatchTotal, 0);
    if (FNotifier && (FHiddenToTray || isHidden() || isMinimized()))
        FNotifier->Notify(QStringLiteral("Рассылка завершена"), QStringLiteral("Отправлено %1 из %2 SMS").arg(sent).arg(total),
                          [this] { RestoreFromTray(); });
}
