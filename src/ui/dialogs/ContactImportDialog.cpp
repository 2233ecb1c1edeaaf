#include "ui/dialogs/ContactImportDialog.h"

#include "model/ContactExport.h"
#include "ui/SaveSoon.h"
#include "ui/dialogs/UiHelpers.h"

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <chrono>
#include <memory>

// The rows found, one per source row, with what the plan does with each.
class TImportRowsModel : public QAbstractTableModel {
public:
    TImportRowsModel(const TImportSource& source, const TImportPlan& plan, bool forRecipients, QObject* parent)
        : QAbstractTableModel(parent), FSource(source), FPlan(plan), FForRecipients(forRecipients)
    {
    }
    void Reset()
    {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FSource.Rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        if (orientation == Qt::Vertical)
            return section + 1;
        static const char* const titles[] = {"Имя", "Телефон", "Группы", "Что будет"};
        return QString::fromUtf8(titles[section]);
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
            return {};
        const size_t r = static_cast<size_t>(index.row());
        if (r >= FSource.Rows.size() || r >= FPlan.Rows.size())
            return {};
        const TImportedContact& row = FSource.Rows[r];
        const TImportPlanRow& step = FPlan.Rows[r];
        switch (index.column()) {
        case 0:
            return ToQt(step.Name);
        case 1:
            // The row's other numbers in the tooltip.
            if (role == Qt::ToolTipRole && row.Phones.size() > 1) {
                QStringList all;
                for (const std::string& phone : row.Phones)
                    all << ToQt(phone);
                return QStringLiteral("Все номера: ") + all.join(QStringLiteral(", "));
            }
            return ToQt(row.Phone);
        case 2: {
            QStringList groups;
            for (const std::string& g : row.Groups)
                groups << ToQt(g);
            return groups.join(QStringLiteral(", "));
        }
        default: {
            // A paste makes the contact the book holds under the number a recipient.
            if (FForRecipients && step.Action == TImportAction::Skip && step.Existing)
                return QStringLiteral("Уже есть: ") + ToQt(step.Existing->Name()) + QStringLiteral(" — будет получателем");
            static const char* const actions[] = {"Добавить", "Обновить", "Пропустить", "Отклонить"};
            QString text = QString::fromUtf8(actions[static_cast<int>(step.Action)]);
            if (!step.Reason.empty())
                text += QStringLiteral(": ") + ToQt(step.Reason);
            return text;
        }
        }
    }

private:
    const TImportSource& FSource;
    const TImportPlan& FPlan;
    bool FForRecipients;
};

namespace {

// From this many rows on, planning and carrying out go off the window's
// thread or in slices, under a progress window.
constexpr size_t BigImportRows = 2000;

std::function<void(const std::atomic<bool>&)> gWorkerHook;

enum class TStageEnd { Done, Cancelled, Failed };

// Runs `job` on a worker thread under a progress window with "Отмена" (over
// `parent`, modal to it); the window's thread keeps serving its events. On
// "Отмена" the job is told through its flag and waited for.
TStageEnd RunStage(QWidget* parent, const QString& text, const std::function<void(const TImportProgress&)>& job,
                   std::exception_ptr& error)
{
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto percent = std::make_shared<std::atomic<int>>(0);
    const auto hook = gWorkerHook;
    QFutureWatcher<std::exception_ptr> watcher;
    QProgressDialog progress(text, QStringLiteral("Отмена"), 0, 100, parent);
    progress.setObjectName(QStringLiteral("ImportProgress"));
    progress.setWindowTitle(QStringLiteral("Импорт абонентов"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    QEventLoop loop;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &progress, [&] {
        progress.setValue(percent->load());
        if (progress.wasCanceled()) // cancelled otherwise than by its button
            loop.quit();
    });
    QObject::connect(&watcher, &QFutureWatcher<std::exception_ptr>::finished, &loop, &QEventLoop::quit);
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        *cancel = true;
        loop.quit();
    });
    watcher.setFuture(QtConcurrent::run([=, &job]() -> std::exception_ptr {
        try {
            if (hook)
                hook(*cancel);
            TImportProgress report;
            report.Cancel = cancel.get();
            report.Report = [percent](int p) { percent->store(p); };
            job(report);
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }));
    progress.show();
    ticker.start(100);
    if (!watcher.isFinished())
        loop.exec();
    ticker.stop();
    const bool cancelled = progress.wasCanceled() || cancel->load();
    *cancel = true;
    watcher.waitForFinished();
    progress.hide();
    if (cancelled)
        return TStageEnd::Cancelled; // whatever the job made is dropped
    error = watcher.result();
    if (!error)
        return TStageEnd::Done;
    try {
        std::rethrow_exception(error);
    } catch (const TImportCancelled&) {
        return TStageEnd::Cancelled;
    } catch (...) {
        return TStageEnd::Failed;
    }
}

std::shared_ptr<const TImportBook> BookNow()
{
    TSmsManager& manager = SmsManager();
    return std::make_shared<const TImportBook>(TImportBook::Of(manager.Contacts(), manager.SmsSenders));
}

} // namespace

std::optional<TImportResult> TContactImportDialog::Execute(TImportSource source, QWidget* parent, bool forRecipients)
{
    TContactImportDialog dialog(std::move(source), parent, forRecipients);
    if (RunDialog(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.Result();
}

TContactImportDialog::TContactImportDialog(TImportSource source, QWidget* parent, bool forRecipients,
                                           std::optional<TImportPlan> plan, std::shared_ptr<const TImportBook> book)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      FSource(std::move(source)), FBook(book ? std::move(book) : BookNow()),
      FBookCount(static_cast<int>(FBook->Contacts.size())),
      FModel(new TImportRowsModel(FSource, FPlan, forRecipients, this))
{
    setObjectName(QStringLiteral("ContactImportDialog"));
    setWindowTitle(QStringLiteral("Импорт абонентов"));
    TSmsManager& manager = SmsManager();
    auto* layout = new QVBoxLayout(this);

    if (FSource.Format == TImportFormat::Csv) {
        // The columns that give the name and the phone; the guess can be changed.
        auto* columns = new QFormLayout;
        NameColumnCombo = Named(new QComboBox(this), "NameColumnCombo");
        PhoneColumnCombo = Named(new QComboBox(this), "PhoneColumnCombo");
        const TCsvTable& t = FSource.Csv;
        FGuessedFirstName = t.NameColumn;
        FGuessedMiddleName = t.MiddleNameColumn;
        FGuessedLastName = t.LastNameColumn;
        NameColumnCombo->addItem(QStringLiteral("(нет: имя по номеру)"), -1);
        PhoneColumnCombo->addItem(QStringLiteral("(не выбран)"), -1);
        if (!t.PhoneColumns.empty())
            PhoneColumnCombo->addItem(QStringLiteral("Мобильный, иначе первый"), CsvMobileElseFirst);
        if (t.NameColumn >= 0 && t.LastNameColumn >= 0) {
            QStringList joined;
            for (int column : {t.NameColumn, t.MiddleNameColumn, t.LastNameColumn})
                if (column >= 0)
                    joined << ToQt(t.Headers[static_cast<size_t>(column)]);
            NameColumnCombo->addItem(joined.join(QStringLiteral(" + ")), -2);
        }
        for (size_t k = 0; k < t.Headers.size(); ++k) {
            const QString header = t.Headers[k].empty() ? QStringLiteral("Столбец %1").arg(k + 1) : ToQt(t.Headers[k]);
            NameColumnCombo->addItem(header, static_cast<int>(k));
            PhoneColumnCombo->addItem(header, static_cast<int>(k));
        }
        NameColumnCombo->setCurrentIndex(t.LastNameColumn >= 0 ? 1 : NameColumnCombo->findData(t.NameColumn));
        PhoneColumnCombo->setCurrentIndex(PhoneColumnCombo->findData(t.PhoneColumn));
        columns->addRow(QStringLiteral("Столбец с именем:"), NameColumnCombo);
        columns->addRow(QStringLiteral("Столбец с телефоном:"), PhoneColumnCombo);
        layout->addLayout(columns);
        for (QComboBox* combo : {NameColumnCombo, PhoneColumnCombo})
            connect(combo, &QComboBox::currentIndexChanged, this, [this] { Guard([&] { ColumnsChosen(); }); });
    }

    auto* rowsLabel = new QLabel(QStringLiteral("Найдено в источнике:"), this);
    RowsView = Named(new QTableView(this), "RowsView");
    RowsView->setModel(FModel);
    RowsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    RowsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RowsView->setWordWrap(false);
    RowsView->horizontalHeader()->setStretchLastSection(true);
    RowsView->verticalHeader()->setDefaultSectionSize(RowsView->fontMetrics().height() + 6);
    RowsView->setColumnWidth(0, 200);
    RowsView->setColumnWidth(1, 140);
    RowsView->setColumnWidth(2, 130);
    rowsLabel->setBuddy(RowsView);
    layout->addWidget(rowsLabel);
    layout->addWidget(RowsView, 1);

    auto* choices = new QFormLayout;
    SenderCombo = Named(new QComboBox(this), "SenderCombo");
    SenderCombo->addItem(QStringLiteral("(не выбран)"), QVariant::fromValue<void*>(nullptr));
    for (TSmsSender* sender : manager.SmsSenders)
        SenderCombo->addItem(ToQt(sender->Name()), QVariant::fromValue<void*>(sender));
    GroupCombo = Named(new QComboBox(this), "GroupCombo");
    GroupCombo->setEditable(true);
    GroupCombo->setInsertPolicy(QComboBox::NoInsert);
    GroupCombo->addItem(QString());
    for (TGroup* group : manager.Groups)
        if (!dynamic_cast<TSpecialGroup*>(group))
            GroupCombo->addItem(ToQt(group->Name()));
    GroupCombo->setCurrentIndex(0);
    choices->addRow(QStringLiteral("Оператор для новых абонентов:"), SenderCombo);
    choices->addRow(QStringLiteral("Добавить всех в группу:"), GroupCombo);
    layout->addLayout(choices);

    auto* policyBox = Named(new QGroupBox(QStringLiteral("Если абонент с таким именем уже есть"), this), "PolicyBox");
    auto* policyLayout = new QVBoxLayout(policyBox);
    SkipRadio = Named(new QRadioButton(QStringLiteral("пропустить"), policyBox), "SkipRadio");
    UpdateRadio = Named(new QRadioButton(QStringLiteral("заменить его телефон"), policyBox), "UpdateRadio");
    AddNumberedRadio =
        Named(new QRadioButton(QStringLiteral("добавить под новым именем: «Имя (2)»"), policyBox), "AddNumberedRadio");
    SkipRadio->setChecked(true);
    for (QRadioButton* radio : {SkipRadio, UpdateRadio, AddNumberedRadio}) {
        policyLayout->addWidget(radio);
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                Guard([&] { Replan(); });
        });
    }
    layout->addWidget(policyBox);

    CountsLabel = Named(new QLabel(this), "CountsLabel");
    layout->addWidget(CountsLabel);
    auto* buttons = MakeOkCancel(this);
    OkButton = buttons->findChild<QPushButton*>(QStringLiteral("OkButton"));
    layout->addWidget(buttons);

    connect(SenderCombo, &QComboBox::currentIndexChanged, this, [this] { Guard([&] { Replan(); }); });
    // The group changes no row's fate: typing its name does not plan again.
    resize(760, 560);
    if (plan && plan->Rows.size() == FSource.Rows.size()) {
        FPlan = std::move(*plan);
        ShowPlan();
    } else {
        Replan();
    }
}

void TContactImportDialog::ColumnsChosen()
{
    TCsvTable& t = FSource.Csv;
    const int name = NameColumnCombo->currentData().toInt();
    t.NameColumn = name == -2 ? FGuessedFirstName : name;
    t.MiddleNameColumn = name == -2 ? FGuessedMiddleName : -1;
    t.LastNameColumn = name == -2 ? FGuessedLastName : -1;
    t.PhoneColumn = PhoneColumnCombo->currentData().toInt();
    Replan(true);
}

TImportOptions TContactImportDialog::Options() const
{
    TImportOptions options;
    options.Sender = static_cast<TSmsSender*>(SenderCombo->currentData().value<void*>());
    options.GroupName = Trim(FromQt(GroupCombo->currentText()));
    options.Policy = UpdateRadio->isChecked()        ? TNamePolicy::UpdatePhone
                     : AddNumberedRadio->isChecked() ? TNamePolicy::AddNumbered
                                                     : TNamePolicy::Skip;
    return options;
}

void TContactImportDialog::Replan(bool csvRows)
{
    const TImportOptions options = Options();
    if (FSource.Rows.size() < BigImportRows) {
        if (csvRows)
            MakeCsvRows(FSource);
        FPlan = PlanImport(FSource.Rows, *FBook, options);
        ShowPlan();
        return;
    }
    // The table keeps showing the old rows and plan until the new ones are made.
    std::vector<TImportedContact> rows;
    TImportPlan plan;
    std::exception_ptr error;
    const TStageEnd end = RunStage(this, QStringLiteral("Сравнение с адресной книгой..."), [&](const TImportProgress& progress) {
        if (csvRows)
            rows = CsvRowsOf(FSource.Csv, progress);
        plan = PlanImport(csvRows ? rows : FSource.Rows, *FBook, options, progress.Cancel);
    }, error);
    if (end == TStageEnd::Cancelled) {
        reject();
        return;
    }
    if (end == TStageEnd::Failed)
        std::rethrow_exception(error);
    if (csvRows)
        FSource.Rows = std::move(rows);
    FPlan = std::move(plan);
    ShowPlan();
}

void TContactImportDialog::ShowPlan()
{
    FModel->Reset();
    QString counts = ToQt(FPlan.CountsText());
    if (FPlan.NeedsSender)
        counts += QStringLiteral(". Выберите оператора для новых абонентов.");
    CountsLabel->setText(counts);
    OkButton->setEnabled(FPlan.Added + FPlan.Updated > 0 && !FPlan.NeedsSender);
}

void TContactImportDialog::accept()
{
    Guard([&] {
        // The book changed since it was copied (a command from outside added a contact): plan anew.
        if (static_cast<int>(SmsManager().Contacts().Count()) != FBookCount) {
            FBook = BookNow();
            FBookCount = static_cast<int>(FBook->Contacts.size());
            Replan();
            if (!isVisible() && result() == QDialog::Rejected)
                return;
        }
        if (!OkButton->isEnabled())
            return;
        if (!Apply())
            return;
        MarkDataChanged(DataAddressBook);
        QDialog::accept();
    });
}

bool TContactImportDialog::Apply()
{
    TImportApplier applier(SmsManager(), FSource.Rows, FPlan, Options());
    if (FSource.Rows.size() < BigImportRows) {
        try {
            applier.Step(std::chrono::steady_clock::duration::max());
        } catch (...) {
            applier.Undo();
            throw;
        }
        FResult = applier.Result();
        return true;
    }
    // Short slices, the window's events served between them.
    QProgressDialog progress(QStringLiteral("Добавление абонентов в книгу..."), QStringLiteral("Отмена"), 0,
                             static_cast<int>(applier.Total()), this);
    progress.setObjectName(QStringLiteral("ImportProgress"));
    progress.setWindowTitle(QStringLiteral("Импорт абонентов"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.show();
    try {
        for (bool done = false; !done;) {
            done = applier.Step(std::chrono::milliseconds(10));
            progress.setValue(static_cast<int>(applier.Done()));
            QCoreApplication::processEvents();
            // "Отмена" counts until the last slice's events are served.
            if (progress.wasCanceled()) {
                applier.Undo();
                MarkDataChanged(DataAddressBook); // a save between the slices wrote part of it
                return false;
            }
        }
    } catch (...) {
        applier.Undo();
        MarkDataChanged(DataAddressBook);
        throw;
    }
    FResult = applier.Result();
    return true;
}

// --- reading off the window's thread ----------------------------------------------------------
namespace {

void ShowImportError(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const TImportCancelled&) {
    } catch (...) {
        ShowCaughtError(std::current_exception(), QStringLiteral("Импорт абонентов"));
    }
}

} // namespace

void SetImportWorkerHook(std::function<void(const std::atomic<bool>& cancel)> hook) { gWorkerHook = std::move(hook); }

std::optional<TImportResult> ImportContactsFromFile(QWidget* parent, const QString& path)
{
    const std::string file = QFile::encodeName(path).toStdString();
    // The book is copied here, on the window's thread; the worker compares the rows with the copy.
    std::shared_ptr<const TImportBook> book = BookNow();
    TImportSource source;
    TImportPlan plan;
    std::exception_ptr error;
    const TStageEnd end =
        RunStage(parent, QStringLiteral("Чтение файла «%1»...").arg(QFileInfo(path).fileName()),
                 [&](const TImportProgress& progress) {
                     source = ReadContactFile(file, progress);
                     plan = PlanImport(source.Rows, *book, {}, progress.Cancel);
                 },
                 error);
    if (end == TStageEnd::Cancelled)
        return std::nullopt; // whatever the reading found is dropped
    if (end == TStageEnd::Failed) {
        ShowImportError(error);
        return std::nullopt;
    }
    TContactImportDialog dialog(std::move(source), parent, false, std::move(plan), std::move(book));
    if (RunDialog(dialog) != QDialog::Accepted)
        return std::nullopt;
    return dialog.Result();
}

bool TextHasContacts(const QString& text)
{
    // A long text is judged by its beginning (whole lines; a vCard up to its
    // last whole card): the window's thread reads no more than that here.
    constexpr qsizetype Head = 16 * 1024;
    std::string utf8 = text.left(Head).toStdString();
    if (text.size() > Head) {
        if (const size_t end = utf8.rfind('\n'); end != std::string::npos)
            utf8.resize(end + 1);
        if (const size_t card = utf8.rfind("END:VCARD"); card != std::string::npos)
            utf8.resize(card + 9);
    }
    try {
        for (const TImportedContact& row : ParseContacts(utf8).Rows)
            if (!row.Phone.empty())
                return true;
    } catch (const TError&) {
    }
    return false;
}

std::optional<TImportResult> ImportContactsFromText(QWidget* parent, const QString& text)
{
    // A vCard, a table copied with its header row, or a list of numbers; a
    // long text is read off the window's thread.
    const std::string utf8 = text.toStdString();
    TImportSource source;
    try {
        if (utf8.size() < 64 * 1024) {
            source = ParseContacts(utf8);
        } else {
            std::exception_ptr error;
            const TStageEnd end = RunStage(parent, QStringLiteral("Чтение вставленного текста..."),
                                           [&](const TImportProgress& progress) { source = ParseContacts(utf8, progress); },
                                           error);
            if (end == TStageEnd::Cancelled)
                return std::nullopt;
            if (end == TStageEnd::Failed)
                std::rethrow_exception(error);
        }
    } catch (...) {
        ShowImportError(std::current_exception());
        return std::nullopt;
    }
    return TContactImportDialog::Execute(std::move(source), parent, true);
}

void ExportContacts(const TGroup* group)
{
    if (!group)
        return;
    std::optional<QString> path = AskSaveFileName(QStringLiteral("Экспорт абонентов"),
                                                  QStringLiteral("Файлы vCard (*.vcf);;Файлы CSV (*.csv)"));
    if (!path)
        return; // a name without an extension came back with the chosen filter's
    const std::vector<TExportedContact> rows = ContactsForExport(SmsManager().Groups, *group);
    const bool csv = path->endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    SaveContactExport(QFile::encodeName(*path).toStdString(), csv ? CsvExport(rows) : VCardExport(rows));
    ShowInfoBox(QStringLiteral("Выгружено абонентов: %1.").arg(rows.size()), QStringLiteral("Экспорт абонентов"));
}
