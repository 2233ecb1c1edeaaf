#include "ui/dialogs/SmsHistoryForm.h"

#include "engine/DeliveryTracker.h"
#include "engine/SmsManager.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryFile.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "storage/DeliveryStatusFile.h"
#include "model/TextLines.h"
#include "ui/dialogs/UiHelpers.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

// The shown records as rows; the records stay in the window's index.
class THistoryRowsModel : public QAbstractTableModel {
public:
    enum { DateColumn, NameColumn, PhoneColumn, StatusColumn, TextColumn, DeliveryColumn, ColumnCount };

    THistoryRowsModel(const TSmsHistoryIndex& index, const TDeliveryBook& states, QObject* parent)
        : QAbstractTableModel(parent), FIndex(index), FStates(states) {}
    const TDeliveryEntry* StateOf(const TSmsHistoryRecord& r) const { return FStates.Find(r.Name, r.Phone, r.Date); }
    void StatesChanged()
    {
        if (!Rows.empty())
            emit dataChanged(index(0, DeliveryColumn), index(static_cast<int>(Rows.size()) - 1, DeliveryColumn));
    }

    void SetRows(std::vector<int> rows)
    {
        beginResetModel();
        Rows = std::move(rows);
        endResetModel();
    }
    void AppendRows(const std::vector<int>& rows)
    {
        if (rows.empty())
            return;
        beginInsertRows({}, static_cast<int>(Rows.size()), static_cast<int>(Rows.size() + rows.size()) - 1);
        Rows.insert(Rows.end(), rows.begin(), rows.end());
        endInsertRows();
    }
    const TSmsHistoryRecord* RecordAt(const QModelIndex& index) const
    {
        if (!index.isValid() || index.row() >= static_cast<int>(Rows.size()))
            return nullptr;
        return &FIndex.Records()[static_cast<size_t>(Rows[static_cast<size_t>(index.row())])];
    }

    int rowCount(const QModelIndex& parent = {}) const override
    { return parent.isValid() ? 0 : static_cast<int>(Rows.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : ColumnCount; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const TSmsHistoryRecord* r = RecordAt(index);
        if (!r)
            return {};
        const TDeliveryEntry* state = StateOf(*r);
        if (role == Qt::ForegroundRole && (r->Failed() || (state && state->State == TDeliveryState::NotDelivered)))
            return QColor(0x80, 0, 0); // maroon, as the main window's failure count
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        switch (index.column()) {
        case DateColumn: return ToQt(r->Date);
        case NameColumn: return ToQt(r->Name);
        case PhoneColumn: return ToQt(r->Phone);
        case StatusColumn: return ToQt(r->StatusLine());
        case DeliveryColumn:
            return state ? ToQt(ControlCharsToSpaces(DeliveryStateText(state->State) +
                                                     (state->Reason.empty() || state->State != TDeliveryState::NotDelivered
                                                          ? std::string()
                                                          : ": " + state->Reason)))
                         : QVariant();
        default: return ToQt(LineBreaksToBlanks(r->Text));
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const titles[] = {"Дата", "Абонент", "Телефон", "Состояние", "Сообщение", "Доставка"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
            return {};
        return QString::fromUtf8(titles[section]);
    }

    std::vector<int> Rows;

private:
    const TSmsHistoryIndex& FIndex;
    const TDeliveryBook& FStates;
};

namespace {

QPointer<TSmsHistoryForm> TheForm;

std::int64_t DateKeyOf(const QDate& date, bool end)
{
    return ((static_cast<std::int64_t>(date.year()) * 100 + date.month()) * 100 + date.day()) * 1000000 +
           (end ? 235959 : 0);
}

} // namespace

TSmsHistoryForm* TSmsHistoryForm::Existing() { return TheForm; }

TSmsHistoryForm* TSmsHistoryForm::Open(TSmsHistory& history, QWidget* mainWindow, bool failedOnly,
                                       const TSmsHistoryRecord* at)
{
    if (!TheForm)
        TheForm = new TSmsHistoryForm(history, mainWindow);
    TSmsHistoryForm* form = TheForm;
    if (failedOnly || at) { // the user asked for a failure: nothing else hides it
        const QSignalBlocker b1(form->SearchEdit), b2(form->ContactComboBox), b3(form->PeriodCheckBox);
        form->SearchEdit->clear();
        form->ContactComboBox->setCurrentIndex(0);
        form->PeriodCheckBox->setChecked(false);
    }
    if (failedOnly) {
        const QSignalBlocker block(form->FailedOnlyCheckBox);
        form->FailedOnlyCheckBox->setChecked(true);
    }
    form->FSelectWhenRead.reset();
    if (at)
        form->FSelectWhenRead = *at;
    if (!TopLevelGuard([&] { form->Fill(); }))
        return nullptr;
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}

TSmsHistoryForm::TSmsHistoryForm(TSmsHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), FHistory(history)
{
    setObjectName(QStringLiteral("SmsHistoryForm"));
    setWindowTitle(QStringLiteral("История SMS"));
    setWindowIcon(AppIcon(TIcon::History));
    resize(900, 560);

    QToolBar* toolBar = MakeToolBar(this, "ToolBar");
    RetryTB = MakeAction(this, "RetryTB", QStringLiteral("Повторить"), TIcon::Queue, &TSmsHistoryForm::RetryTBClick);
    toolBar->addAction(RetryTB);
    toolBar->addAction(MakeAction(this, "ExportTB", QStringLiteral("Экспорт в CSV..."), TIcon::Save,
                                  &TSmsHistoryForm::ExportTBClick));
    toolBar->addSeparator();
    toolBar->addAction(MakeAction(this, "ClearTB", QStringLiteral("Очистить"), TIcon::Clear, &TSmsHistoryForm::ClearTBClick));
    toolBar->addSeparator();
    toolBar->addAction(MakeAction(this, "CloseTB", QStringLiteral("Закрыть"), TIcon::Close, &TSmsHistoryForm::CloseTBClick));

    auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        buddy->setAccessibleName(text);
        return l;
    };
    SearchEdit = Named(new QLineEdit(this), "SearchEdit");
    SearchEdit->setClearButtonEnabled(true);
    SearchEdit->setPlaceholderText(QStringLiteral("имя, телефон, текст или ошибка"));
    ContactComboBox = Named(new QComboBox(this), "ContactComboBox");
    ContactComboBox->setMinimumContentsLength(16);
    ContactComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ContactComboBox->addItem(QStringLiteral("(все)"));
    FailedOnlyCheckBox = Named(new QCheckBox(QStringLiteral("Только неотправленные"), this), "FailedOnlyCheckBox");
    NotDeliveredCheckBox = Named(new QCheckBox(QStringLiteral("Не доставленные"), this), "NotDeliveredCheckBox");
    PeriodCheckBox = Named(new QCheckBox(QStringLiteral("С"), this), "PeriodCheckBox");
    FromDateEdit = Named(new QDateEdit(QDate::currentDate().addMonths(-1), this), "FromDateEdit");
    ToDateEdit = Named(new QDateEdit(QDate::currentDate(), this), "ToDateEdit");
    for (QDateEdit* edit : {FromDateEdit, ToDateEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        edit->setEnabled(false);
    }
    FromDateEdit->setAccessibleName(QStringLiteral("С"));

    auto* filters = new QHBoxLayout;
    filters->setContentsMargins(6, 6, 6, 6);
    filters->addWidget(label(QStringLiteral("Поиск:"), SearchEdit));
    filters->addWidget(SearchEdit, 2);
    filters->addWidget(label(QStringLiteral("Абонент:"), ContactComboBox));
    filters->addWidget(ContactComboBox, 1);
    filters->addWidget(FailedOnlyCheckBox);
    filters->addWidget(NotDeliveredCheckBox);
    filters->addSpacing(8);
    filters->addWidget(PeriodCheckBox);
    filters->addWidget(FromDateEdit);
    filters->addSpacing(4);
    filters->addWidget(label(QStringLiteral("по"), ToDateEdit));
    filters->addWidget(ToDateEdit);

    FRows = new THistoryRowsModel(FIndex, FStates, this);
    HistoryListView = Named(new QTreeView(this), "HistoryListView");
    HistoryListView->setModel(FRows);
    HistoryListView->setRootIsDecorated(false);
    HistoryListView->setUniformRowHeights(true); // 100,000 rows cost nothing to lay out
    HistoryListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    HistoryListView->setSelectionMode(QAbstractItemView::SingleSelection);
    HistoryListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    HistoryListView->setAllColumnsShowFocus(true);
    HistoryListView->setAccessibleName(windowTitle());
    HistoryListView->header()->setStretchLastSection(true);
    const QFontMetrics metrics(HistoryListView->font());
    const int widths[] = {metrics.horizontalAdvance(QStringLiteral("00.00.0000 00:00:00")) + 16, 140, 110, 220};
    for (int c = 0; c < 4; ++c)
        HistoryListView->setColumnWidth(c, widths[c]);
    HistoryListView->setColumnWidth(THistoryRowsModel::TextColumn, 320);

    // The selected record as the file has it: a two-line error on two lines.
    SmsHistoryMemo = Named(new QPlainTextEdit(this), "SmsHistoryMemo");
    SmsHistoryMemo->setReadOnly(true);
    SmsHistoryMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    SmsHistoryMemo->setAccessibleName(QStringLiteral("Запись истории"));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(HistoryListView);
    splitter->addWidget(SmsHistoryMemo);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    StatusLabel = Named(new QLabel(this), "StatusLabel");
    StatusLabel->setContentsMargins(6, 2, 6, 4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addLayout(filters);
    layout->addWidget(splitter, 1);
    layout->addWidget(StatusLabel);

    const auto apply = [this] { Guard([this] { ApplyFilter(); }); };
    connect(SearchEdit, &QLineEdit::textChanged, this, apply);
    connect(ContactComboBox, &QComboBox::currentIndexChanged, this, apply);
    connect(FailedOnlyCheckBox, &QCheckBox::toggled, this, apply);
    connect(NotDeliveredCheckBox, &QCheckBox::toggled, this, apply);
    // The states change while the window is open: the program follows them on.
    auto* statesTimer = new QTimer(this);
    connect(statesTimer, &QTimer::timeout, this, [this] {
        Guard([this] {
            if (!isVisible())
                return;
            ReadDeliveryStates();
            if (NotDeliveredCheckBox->isChecked())
                ApplyFilter();
        });
    });
    statesTimer->start(5000);
    connect(PeriodCheckBox, &QCheckBox::toggled, this, [this, apply](bool on) {
        FromDateEdit->setEnabled(on);
        ToDateEdit->setEnabled(on);
        apply();
    });
    connect(FromDateEdit, &QDateEdit::dateChanged, this, apply);
    connect(ToDateEdit, &QDateEdit::dateChanged, this, apply);
    connect(HistoryListView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { Guard([this] { ShowSelected(); }); });
    ShowSelected();
    FHistory.OnAdded = [this](const std::vector<std::string>& lines) { Guard([&] { RecordAdded(lines); }); };
}

TSmsHistoryForm::~TSmsHistoryForm()
{
    // The closing that ~QWidget does moves the focus and the selection: no
    // handler may run on the half-destroyed window.
    for (QObject* sender : std::initializer_list<QObject*> {HistoryListView->selectionModel(), SearchEdit, ContactComboBox,
                                                            FailedOnlyCheckBox, NotDeliveredCheckBox, PeriodCheckBox,
                                                            FromDateEdit, ToDateEdit})
        disconnect(sender, nullptr, this, nullptr);
    FHistory.OnAdded = nullptr;
    FRows->SetRows({}); // the rows point into the index, which goes first
}

const std::vector<int>& TSmsHistoryForm::Shown() const { return FRows->Rows; }

void TSmsHistoryForm::Fill()
{
    std::vector<std::string> lines = FHistory.LoadLines();
    FIndex.Clear();
    FRows->SetRows({});
    FLines = std::move(lines);
    FNextLine = 0;
    ReadDeliveryStates();
    ApplyFilter();
    AddNextLines();
}

void TSmsHistoryForm::AddNextLines()
{
    // Years of history are hundreds of thousands of lines; they are read in
    // pieces between the window's events.
    constexpr size_t Piece = 20000;
    const size_t end = std::min(FLines.size(), FNextLine + Piece);
    const size_t before = FIndex.Complete();
    FIndex.AddLines(FLines, FNextLine, end);
    FNextLine = end;
    if (!Filling()) {
        FIndex.Finish();
        std::vector<std::string>().swap(FLines);
    }
    const std::string upper = UpperCase(FFilter.Search);
    std::vector<int> added;
    for (size_t i = before; i < FIndex.Complete(); ++i)
        if (FFilter.Matches(FIndex.Records()[i], upper))
            added.push_back(static_cast<int>(i));
    KeepNotDelivered(added);
    FRows->AppendRows(added);
    if (Filling()) {
        QTimer::singleShot(0, this, [this] { Guard([this] { AddNextLines(); }); });
    } else {
        FillContacts();
        if (FSelectWhenRead)
            SelectRecord(*std::exchange(FSelectWhenRead, std::nullopt));
    }
    UpdateStatus();
}

void TSmsHistoryForm::RecordAdded(const std::vector<std::string>& lines)
{
    if (Filling()) { // the file is still being read: the record follows its lines
        FLines.insert(FLines.end(), lines.begin(), lines.end());
        return;
    }
    const size_t before = FIndex.Complete();
    FIndex.AddLines(lines, 0, lines.size());
    FIndex.Finish();
    const std::string upper = UpperCase(FFilter.Search);
    std::vector<int> added;
    for (size_t i = before; i < FIndex.Complete(); ++i)
        if (FFilter.Matches(FIndex.Records()[i], upper))
            added.push_back(static_cast<int>(i));
    FRows->AppendRows(added);
    FillContacts(); // a new addressee joins the contact filter
    UpdateStatus();
}

void TSmsHistoryForm::FillContacts()
{
    std::set<std::string> names;
    for (const TSmsHistoryRecord& r : FIndex.Records())
        names.insert(r.Name);
    QStringList items;
    for (const std::string& name : names)
        items << ToQt(name);
    QCollator collator(QLocale(QLocale::Russian, QLocale::Russia));
    std::sort(items.begin(), items.end(), [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    const QString current = ContactComboBox->currentIndex() > 0 ? ContactComboBox->currentText() : QString();
    const QSignalBlocker block(ContactComboBox);
    ContactComboBox->clear();
    ContactComboBox->addItem(QStringLiteral("(все)"));
    ContactComboBox->addItems(items);
    ContactComboBox->setCurrentIndex(std::max(0, ContactComboBox->findText(current)));
}

void TSmsHistoryForm::ApplyFilter()
{
    const TSmsHistoryRecord* selected = SelectedRecord();
    const size_t selectedAt = selected ? static_cast<size_t>(selected - FIndex.Records().data()) : SIZE_MAX;
    TSmsHistoryFilter filter;
    filter.Search = FromQt(SearchEdit->text());
    filter.Contact = ContactComboBox->currentIndex() > 0 ? FromQt(ContactComboBox->currentText()) : std::string();
    filter.FailedOnly = FailedOnlyCheckBox->isChecked();
    filter.From = PeriodCheckBox->isChecked() ? DateKeyOf(FromDateEdit->date(), false) : 0;
    filter.To = PeriodCheckBox->isChecked() ? DateKeyOf(ToDateEdit->date(), true) : 0;
    // The rows shown cover every record read so far, so a narrower filter looks at them alone.
    const bool notDelivered = NotDeliveredCheckBox->isChecked();
    const bool narrows = filter.Narrows(FFilter) && !FNotDeliveredApplied; // the states may have changed
    FFilter = std::move(filter);
    FNotDeliveredApplied = notDelivered;
    std::vector<int> matches = narrows ? FFilter.ApplyTo(FIndex.Records(), FRows->Rows)
                                       : FFilter.Apply(FIndex.Records(), FIndex.Complete());
    KeepNotDelivered(matches);
    if (matches != FRows->Rows) // the same rows: the list stays as it is, scrolled where it was
        FRows->SetRows(std::move(matches));
    // The record selected before stays selected when it is still shown.
    const auto& rows = FRows->Rows;
    const auto it = std::lower_bound(rows.begin(), rows.end(), static_cast<int>(selectedAt));
    if (selected && it != rows.end() && static_cast<size_t>(*it) == selectedAt)
        HistoryListView->setCurrentIndex(FRows->index(static_cast<int>(it - rows.begin()), 0));
    ShowSelected();
    UpdateStatus();
}

bool TSmsHistoryForm::SelectRecord(const TSmsHistoryRecord& record)
{
    const auto& rows = FRows->Rows;
    for (size_t i = rows.size(); i-- > 0;) {
        const TSmsHistoryRecord& r = FIndex.Records()[static_cast<size_t>(rows[i])];
        if (r.Date == record.Date && r.Name == record.Name && r.Phone == record.Phone && r.Text == record.Text) {
            const QModelIndex index = FRows->index(static_cast<int>(i), 0);
            HistoryListView->setCurrentIndex(index);
            HistoryListView->scrollTo(index, QAbstractItemView::PositionAtCenter);
            return true;
        }
    }
    return false;
}

const TSmsHistoryRecord* TSmsHistoryForm::SelectedRecord() const
{
    return FRows->RecordAt(HistoryListView->currentIndex());
}

void TSmsHistoryForm::ShowSelected()
{
    const TSmsHistoryRecord* r = SelectedRecord();
    RetryTB->setEnabled(r && r->Failed());
    QStringList lines;
    if (r)
        for (const std::string& line : r->Lines())
            lines << ToQt(line);
    SmsHistoryMemo->setPlainText(lines.join(QLatin1Char('\n')));
}

void TSmsHistoryForm::ReadDeliveryStates()
{
    TDeliveryBook states;
    try {
        if (DeliveryTracker().IsOpen())
            states = DeliveryTracker().Book();
        else if (auto* file = dynamic_cast<TSmsHistoryFile*>(&FHistory))
            LoadDeliveryBook(states, DeliveryStatusFileName(file->FileName()));
    } catch (const TError&) {
        return; // a state file that does not read: the column stays as it was
    }
    FStates = std::move(states);
    FRows->StatesChanged();
}

void TSmsHistoryForm::KeepNotDelivered(std::vector<int>& rows) const
{
    if (!NotDeliveredCheckBox->isChecked())
        return;
    std::erase_if(rows, [this](int row) {
        const TDeliveryEntry* state = FRows->StateOf(FIndex.Records()[static_cast<size_t>(row)]);
        return !state || state->State != TDeliveryState::NotDelivered;
    });
}

void TSmsHistoryForm::UpdateStatus()
{
    QString text = QStringLiteral("Показано записей: %1 из %2").arg(FRows->Rows.size()).arg(FIndex.Complete());
    if (Filling())
        text += QStringLiteral(" (история ещё читается)");
    StatusLabel->setText(text);
}

void TSmsHistoryForm::RetryTBClick()
{
    const TSmsHistoryRecord* r = SelectedRecord();
    if (!r || !r->Failed())
        return;
    SmsManager().QueueSmsTo(r->Name, r->Phone, r->Text);
    StatusLabel->setText(QStringLiteral("Сообщение для «%1» снова поставлено в очередь.").arg(ToQt(r->Name)));
    emit SmsQueued();
}

void TSmsHistoryForm::ExportTBClick()
{
    std::optional<QString> file = AskSaveFileName(QStringLiteral("Экспорт истории"),
                                                  QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
    if (!file)
        return;
    // The name as typed: the file system's encoding (UTF-8), not the data files' CP1251.
    SaveFileSafely(QFile::encodeName(*file).toStdString(), HistoryCsv(FIndex.Records(), FRows->Rows), 0, false);
    StatusLabel->setText(QStringLiteral("Записей в файле: %1").arg(FRows->Rows.size()));
}

void TSmsHistoryForm::ClearTBClick()
{
    if (!AskConfirmation(QStringLiteral("Очистить историю сообщений?")))
        return;
    TopLevelGuard([&] {
        FHistory.Clear();
        std::vector<std::string>().swap(FLines); // lines still waiting are gone with the file
        FNextLine = 0;
        FIndex.Clear();
        FRows->SetRows({});
        FillContacts();
        ShowSelected();
        UpdateStatus();
    });
}

void TSmsHistoryForm::CloseTBClick() { close(); }
