#include "ui/main/SmsQueueForm.h"

#include "engine/SmsManager.h"
#include "model/Error.h"
#include "model/TextLines.h"
#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QListView>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>
#include <utility>

namespace {
constexpr int RowHeight = 20;
constexpr int ColumnWidth = 559;

enum TRowKind { HeaderRow, EmptyNoticeRow, MessageRow, DeliveryRow };
constexpr int KindRole = Qt::UserRole + 1;
constexpr int SmsRole = Qt::UserRole + 2; // the row's TSms*, compared with the queue, never followed

int LineCount(const QString& text) { return static_cast<int>(text.count(QLatin1Char('\r'))) + 1; }

// The grid's cells: a header and the empty-queue notice in normal type on
// their own backgrounds; a message row with its bold header line, the marker
// image and the indented message line, and a line along its bottom.
class TSmsRowDelegate : public QStyledItemDelegate {
public:
    TSmsRowDelegate(QObject* parent) : QStyledItemDelegate(parent), FMarker(AppIcon(TIcon::Send).pixmap(16, 16)) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        return QSize(ColumnWidth, LineCount(index.data().toString()) * RowHeight);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int kind = index.data(KindRole).toInt();
        const QRect r = option.rect;
        const QPalette& pal = option.palette;
        QColor background = pal.color(QPalette::Base);
        if (kind == HeaderRow)
            background = pal.color(QPalette::Button);
        else if (kind != EmptyNoticeRow && (option.state & QStyle::State_Selected))
            background = QColor(192, 192, 192);
        painter->save();
        painter->fillRect(r, background);
        painter->setPen(pal.color(QPalette::Text));
        const QStringList lines = index.data().toString().split(QLatin1Char('\r'));
        QFont normal = option.font;
        const int ascent = QFontMetrics(normal).ascent();
        if (kind == HeaderRow || kind == EmptyNoticeRow) {
            painter->setFont(normal);
            painter->drawText(r.left() + 4, r.top() + 2 + ascent, lines.join(QLatin1Char(' ')));
            if (kind == HeaderRow) {
                painter->setPen(pal.color(QPalette::Mid));
                painter->drawLine(r.bottomLeft(), r.bottomRight());
            }
            painter->restore();
            return;
        }
        QFont bold = normal;
        bold.setBold(true);
        painter->setFont(bold);
        painter->drawText(r.left() + 4, r.top() + 2 + QFontMetrics(bold).ascent(), lines.value(0));
        painter->setFont(normal);
        for (int i = 1; i < lines.size(); ++i)
            painter->drawText(r.left() + 22, r.top() + i * RowHeight + 2 + ascent, lines[i]);
        painter->drawPixmap(r.left() + 2, r.top() + RowHeight + 2, FMarker);
        painter->setPen(pal.color(QPalette::Mid));
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->restore();
    }

private:
    QPixmap FMarker;
};

// The busy cursor for the length of a scope.
struct TBusyCursor {
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
};
} // namespace

TSmsQueueForm::TSmsQueueForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      TPlacedWidget(this, "SmsQueueForm", false)
{
    setObjectName(QStringLiteral("SmsQueueForm"));
    setWindowTitle(QStringLiteral("Очередь сообщений"));

    ToolBar = Named(new QToolBar(this), "ToolBar");
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar->setIconSize(QSize(22, 22));
    ToolBar->setMovable(false);
    PauseTB = MakeAction(this, "PauseTB", QStringLiteral("Пауза"), TIcon::Pause, &TSmsQueueForm::PauseTBClick);
    DeleteTB = MakeAction(this, "DeleteTB", QStringLiteral("Удалить"), TIcon::Delete, &TSmsQueueForm::DeleteTBClick);
    DeleteAllTB = MakeAction(this, "DeleteAllTB", QStringLiteral("Удалить все"), TIcon::DeleteAll,
                             &TSmsQueueForm::DeleteAllTBClick);
    CloseTB = MakeAction(this, "CloseTB", QStringLiteral("Закрыть"), TIcon::Close, &TSmsQueueForm::CloseTBClick);
    // A held message (cut mid-attempt, or due while the program was closed) goes only on the user's word.
    SendNowTB = MakeAction(this, "SendNowTB", QStringLiteral("Отправить"), TIcon::Send, &TSmsQueueForm::SendNowTBClick);
    SendNowTB->setToolTip(QStringLiteral("Отправить выбранное SMS, ждущее вашего решения"));
    ToolBar->addAction(PauseTB);
    ToolBar->addAction(SendNowTB);
    ToolBar->addSeparator();
    ToolBar->addAction(DeleteTB);
    ToolBar->addAction(DeleteAllTB);
    ToolBar->addSeparator();
    ToolBar->addAction(CloseTB);

    FRows = new QStandardItemModel(this);
    SmsStringGrid = Named(new QListView(this), "SmsStringGrid");
    SmsStringGrid->setModel(FRows);
    SmsStringGrid->setItemDelegate(new TSmsRowDelegate(SmsStringGrid));
    SmsStringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SmsStringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    SmsStringGrid->setUniformItemSizes(false);
    SmsStringGrid->setAccessibleName(QStringLiteral("Список сообщений"));
    connect(SmsStringGrid->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateButtons(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar);
    layout->addWidget(SmsStringGrid, 1);
    setFixedSize(583, 478);

    SenderTimer = Named(new QTimer(this), "SenderTimer");
    SenderTimer->setInterval(1000);
    connect(SenderTimer, &QTimer::timeout, this, &TSmsQueueForm::SenderTimerTimer);
    connect(&FWatcher, &QFutureWatcher<void>::finished, this, &TSmsQueueForm::DeliveryFinished);

    // Sending is live from creation, before the window is ever shown.
    FillGrid();
    UpdateButtons();
}

TSmsQueueForm::~TSmsQueueForm()
{
    // The worker keeps its own reference to the delivery; only make sure it
    // sends nothing more once the window is gone.
    if (FDelivery)
        FDelivery->Cancel();
}

QString TSmsQueueForm::RowText(const TSms& sms, bool delivering)
{
    QString text = QStringLiteral("Для: ") + ToQt(ContactCaption(sms.Contact)) + QStringLiteral("   Дата: ") +
                   ToQt(FormatDateTime(sms.Created));
    if (sms.TryCount > 0)
        text += QStringLiteral("   Попытка № ") + QString::number(sms.TryCount + 1);
    text += QLatin1Char('\r') + ToQt(sms.Text);
    // A line of its own under the text: what happened to it, why it waits and until when.
    if (delivering)
        return text + QLatin1Char('\r') + QStringLiteral("Отправляется сейчас");
    QStringList notes;
    if (sms.Interrupted)
        notes << QStringLiteral("Отправка была прервана: SMS могло уйти");
    else if (sms.TryCount > 0 && !sms.ErrorText.empty())
        notes << QStringLiteral("Прошлая попытка не удалась: ") + ToQt(JoinLines(sms.ErrorText));
    const TQueueWait wait = SmsManager().WaitOf(sms, LocalSeconds(Now()));
    const QString until = ToQt(FormatLocalMinute(wait.Until));
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(FromLocalSeconds(wait.Until).Hour, 2, 10, QLatin1Char('0'))
                              .arg(FromLocalSeconds(wait.Until).Minute, 2, 10, QLatin1Char('0'))
                              .arg(FromLocalSeconds(wait.Until).Second, 2, 10, QLatin1Char('0'));
    switch (wait.Kind) {
    case TQueueWait::Scheduled:
        notes << QStringLiteral("Отправить: ") + until;
        break;
    case TQueueWait::Retry:
        notes << QStringLiteral("Следующая попытка в ") + clock;
        break;
    case TQueueWait::Interval:
        notes << QStringLiteral("Пауза оператора до ") + clock;
        break;
    case TQueueWait::DailyLimit:
        notes << QStringLiteral("Суточный лимит оператора исчерпан: отправка с ") + until;
        break;
    case TQueueWait::Held:
        if (!sms.Interrupted)
            notes << QStringLiteral("Должно было уйти, пока программа была закрыта");
        notes << QStringLiteral("Ждёт вашего решения: выберите и нажмите «Отправить»");
        break;
    case TQueueWait::None:
        break;
    }
    if (!notes.isEmpty())
        text += QLatin1Char('\r') + notes.join(QLatin1Char('\r')); // a line each: the column is narrow
    return text;
}

namespace {
// "14:05" today, "09.12.2026 09:00" on another day; with seconds when asked.
QString MomentText(long long moment, long long now, bool seconds)
{
    const TDateTime t = FromLocalSeconds(moment);
    QString clock = QStringLiteral("%1:%2").arg(t.Hour, 2, 10, QLatin1Char('0')).arg(t.Minute, 2, 10, QLatin1Char('0'));
    if (seconds)
        clock += QStringLiteral(":%1").arg(t.Second, 2, 10, QLatin1Char('0'));
    if (moment / 86400 == now / 86400)
        return clock;
    return QStringLiteral("%1.%2.%3 ")
               .arg(t.Day, 2, 10, QLatin1Char('0'))
               .arg(t.Month, 2, 10, QLatin1Char('0'))
               .arg(t.Year) +
           clock;
}
} // namespace

QString TSmsQueueForm::QuietSentence(long long until, long long now)
{
    return QStringLiteral("Тихие часы: отправка с %1.").arg(MomentText(until, now, false));
}

QString TSmsQueueForm::WaitSentence(const TSms& sms, const TQueueWait& wait, long long now)
{
    const TSmsSender* sender = sms.Contact ? sms.Contact->SmsSender : nullptr;
    const QString name = sender ? ToQt(sender->Name()) : QString();
    switch (wait.Kind) {
    case TQueueWait::Scheduled:
        return QStringLiteral("Следующее SMS уйдёт в назначенное время: %1.").arg(MomentText(wait.Until, now, false));
    case TQueueWait::Retry:
        return QStringLiteral("Следующая попытка отправки в %1.").arg(MomentText(wait.Until, now, true));
    case TQueueWait::Interval:
        return QStringLiteral("Пауза оператора «%1» до %2.").arg(name, MomentText(wait.Until, now, true));
    case TQueueWait::DailyLimit:
        return QStringLiteral("Суточный лимит оператора «%1» исчерпан: отправка с %2.")
            .arg(name, MomentText(wait.Until, now, false));
    case TQueueWait::Held:
        return QStringLiteral("SMS ждёт вашего решения: окно очереди, кнопка «Отправить».");
    case TQueueWait::None:
        break;
    }
    return {};
}

void TSmsQueueForm::FillGrid()
{
    const TSmsQueue& queue = SmsManager().Queue;
    const TSms* delivering = SmsManager().CurrentDelivery() ? SmsManager().CurrentDelivery()->Sms() : nullptr;
    const int current = SmsStringGrid->currentIndex().row();
    FRows->clear();
    auto* first = new QStandardItem;
    first->setFlags(Qt::ItemIsEnabled); // the header (or the notice) is never current
    if (queue.Count() > 0 || delivering) {
        first->setText(QStringLiteral("Список сообщений"));
        first->setData(HeaderRow, KindRole);
    } else {
        first->setText(QStringLiteral("Список сообщений пуст"));
        first->setData(EmptyNoticeRow, KindRole);
    }
    FRows->appendRow(first);
    // The message out for delivery has left the queue: it heads the list, marked.
    if (delivering) {
        auto* row = new QStandardItem(RowText(*delivering, true));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        row->setData(DeliveryRow, KindRole);
        FRows->appendRow(row);
    }
    for (int i = 0; i < queue.Count(); ++i) {
        TSms* sms = queue.Items(i);
        auto* row = new QStandardItem(RowText(*sms));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        row->setData(MessageRow, KindRole);
        row->setData(QVariant::fromValue(reinterpret_cast<quintptr>(sms)), SmsRole);
        if (!sms->ErrorText.empty()) // why the last attempt failed, on one line
            row->setToolTip(QStringLiteral("Ошибка: ") + ToQt(JoinLines(sms->ErrorText)));
        FRows->appendRow(row);
    }
    // Like a grid's current row: kept where it was, within the rows there are.
    if (FRows->rowCount() > 1)
        SmsStringGrid->setCurrentIndex(FRows->index(std::clamp(current, 1, FRows->rowCount() - 1), 0));
}

void TSmsQueueForm::UpdateButtons()
{
    PauseTB->setText(FPaused ? QStringLiteral("Старт") : QStringLiteral("Пауза"));
    PauseTB->setToolTip(PauseTB->text());
    PauseTB->setIcon(AppIcon(FPaused ? TIcon::Start : TIcon::Pause));
    DeleteTB->setEnabled(FPaused);
    DeleteAllTB->setEnabled(FPaused);
    // Greyed while the queue runs: the hint says why and what to do.
    const QString greyed = QStringLiteral(" (можно только на паузе: нажмите «Пауза»)");
    DeleteTB->setToolTip(QStringLiteral("Удалить") + (FPaused ? QString() : greyed));
    DeleteAllTB->setToolTip(QStringLiteral("Удалить все") + (FPaused ? QString() : greyed));
    SendNowTB->setEnabled(CurrentHeld() != nullptr);
    if (FSending)
        return; // the end of the delivery applies the pause
    if (FPaused || FStopped)
        SenderTimer->stop();
    else if (!SenderTimer->isActive())
        SenderTimer->start();
}

void TSmsQueueForm::RefreshQueue()
{
    FillGrid();
    UpdateButtons();
    NotifyQueueChanged();
}

void TSmsQueueForm::Pause()
{
    if (FPaused)
        return;
    FPaused = true;
    UpdateButtons();
    NotifyQueueChanged();
}

void TSmsQueueForm::Resume()
{
    if (!FPaused)
        return;
    FPaused = false;
    UpdateButtons();
    NotifyQueueChanged();
}

void TSmsQueueForm::SenderTimerTimer()
{
    if (FSending || FStopped)
        return;
    try {
        std::shared_ptr<TSmsDelivery> delivery = SmsManager().BeginDelivery();
        if (!delivery) {
            // Nothing due (or nothing queued): the timer keeps ticking, and
            // the status follows the waits as they run out.
            if (SmsManager().Queue.Count() > 0)
                NotifyQueueChanged();
            return;
        }
        FSending = true;
        SenderTimer->stop();
        QApplication::setOverrideCursor(Qt::BusyCursor);
        FDelivery = delivery;
        // Only the snapshot travels to the worker; it touches no window and no manager.
        FWatcher.setFuture(QtConcurrent::run([delivery] { delivery->Run(); }));
    } catch (...) {
        ShowTopLevelError(ExceptionMessage(std::current_exception()));
    }
}

void TSmsQueueForm::DeliveryFinished()
{
    if (!FDelivery)
        return; // already finished by StopDelivery
    std::shared_ptr<TSmsDelivery> delivery = std::exchange(FDelivery, nullptr);
    std::exception_ptr error;
    try {
        SmsManager().FinishDelivery(delivery);
    } catch (...) {
        error = std::current_exception();
    }
    // The cursor, the busy mark and the timer come back first, whatever happened.
    QApplication::restoreOverrideCursor();
    FSending = false;
    Guard([&] { RefreshQueue(); });
    if (error)
        ShowTopLevelError(ExceptionMessage(error));
    else if (SmsManager().Finished)
        emit SmsFinished();
}

void TSmsQueueForm::StopDelivery()
{
    FStopped = true;
    SenderTimer->stop();
    if (!FDelivery)
        return;
    FDelivery->Cancel();
    FWatcher.waitForFinished();
    DeliveryFinished();
}

void TSmsQueueForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Guard([&] {
        TBusyCursor busy;
        RefreshQueue();
    });
}

void TSmsQueueForm::PauseTBClick()
{
    FPaused = !FPaused;
    UpdateButtons();
    NotifyQueueChanged();
}

void TSmsQueueForm::DeleteTBClick()
{
    TSmsManager& manager = SmsManager();
    if (manager.Queue.Count() == 0)
        return;
    const QModelIndex current = SmsStringGrid->currentIndex();
    if (!current.isValid() || current.data(KindRole).toInt() != MessageRow)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить сообщение из очереди?"), QStringLiteral("Подтверждение")))
        return;
    // The row names its message: a message taken out for delivery since the
    // grid was filled is not in the queue, and nothing else is deleted instead.
    manager.DeleteQueued(reinterpret_cast<const TSms*>(current.data(SmsRole).value<quintptr>()));
    RefreshQueue();
}

void TSmsQueueForm::DeleteAllTBClick()
{
    if (!AskConfirmation(QStringLiteral("Удалить все сообщения из очереди?"), QStringLiteral("Подтверждение")))
        return;
    SmsManager().ClearQueue();
    RefreshQueue();
}

void TSmsQueueForm::CloseTBClick() { close(); }

const TSms* TSmsQueueForm::CurrentHeld() const
{
    const QModelIndex current = SmsStringGrid->currentIndex();
    if (!current.isValid() || current.data(KindRole).toInt() != MessageRow)
        return nullptr;
    const auto* sms = reinterpret_cast<const TSms*>(current.data(SmsRole).value<quintptr>());
    const TSmsQueue& queue = SmsManager().Queue;
    for (int i = 0; i < queue.Count(); ++i)
        if (queue.Items(i) == sms)
            return sms->Held ? sms : nullptr;
    return nullptr;
}

void TSmsQueueForm::SendNowTBClick()
{
    if (const TSms* sms = CurrentHeld()) {
        SmsManager().Release(sms);
        RefreshQueue();
    }
}
