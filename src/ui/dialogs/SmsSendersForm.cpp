#include "ui/dialogs/SmsSendersForm.h"

#include "engine/ReplyPattern.h"
#include "engine/SmsManager.h"
#include "engine/StdSmsSender.h"
#include "model/DataPaths.h"
#include "storage/ProgramOptions.h"
#include "ui/SaveSoon.h"
#include "ui/dialogs/GateCheckDlg.h"
#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFile>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {
QPointer<TSmsSendersForm> TheForm;

constexpr int NameLimit = 128;
constexpr int GateLimit = 512;
constexpr int MaxSmsLenLimit = 5;
constexpr int NotesLimit = 2000;

const char* const UnknownGateType = "Указан к использованию неизвестный тип гейта.";

QString GateHint()
{
    return QStringLiteral("Макроподстановки:\n\n"
                          "{phone} - номер телефона адресата\n"
                          "{message} - текст сообщения\n"
                          "{length} - длина сообщения\n"
                          "{hour} - текущее время (часы)\n"
                          "{minute} - текущее время (минуты)\n"
                          "{day} - текущий день\n"
                          "{month} - текущий месяц\n"
                          "{year} - текущий год\n\n"
                          "Ответ WEB-gate (регулярные выражения, регистр букв не важен;\n"
                          "пустые поля: любой ответ с кодом 2xx означает доставку):\n"
                          "Успешный ответ шлюза - ответ без совпадения считается ошибкой, будет новая попытка\n"
                          "Временный отказ шлюза - при совпадении будет новая попытка\n"
                          "Окончательный отказ шлюза - при совпадении сообщение больше не отправляется");
}

QFrame* Separator(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Notes keep CR LF line breaks in the model; the memo shows "\n".
QString NotesForDisplay(const std::string& notes) { return ToQtLines(notes); }

std::string NotesFromDisplay(const QString& text) { return Trim(FromQtLines(text)); }
} // namespace

// --- The one instance -----------------------------------------------------------
TSmsSendersForm* TSmsSendersForm::Instance(QWidget* mainWindow)
{
    if (!TheForm)
        TheForm = new TSmsSendersForm(mainWindow);
    return TheForm;
}

TSmsSendersForm* TSmsSendersForm::Existing() { return TheForm; }

void TSmsSendersForm::Open(QWidget* mainWindow)
{
    TSmsSendersForm* form = Instance(mainWindow);
    form->show();
    form->raise();
    form->activateWindow();
}

void TSmsSendersForm::RefillIfVisible()
{
    if (TheForm && TheForm->isVisible())
        Guard([] { TheForm->FillList(); });
}

// --- Building ----------------------------------------------------------------------
TSmsSendersForm::TSmsSendersForm(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), TPlacedWidget(this, "SmsSendersForm", true)
{
    setObjectName(QStringLiteral("SmsSendersForm"));
    setWindowTitle(QStringLiteral("Список операторов"));
    setWindowIcon(AppIcon(TIcon::Operators));
    resize(800, 569);

    QToolBar* toolBar = MakeToolBar(this, "ToolBar");
    AddAction = MakeAction(this, "AddAction", QStringLiteral("&Добавить"), TIcon::Add, &TSmsSendersForm::AddActionExecute);
    AddAction->setToolTip(QStringLiteral("Добавить нового оператора"));
    AddAction->setShortcut(Qt::CTRL | Qt::Key_N);
    AddFromFileAction = MakeAction(this, "AddFromFileAction", QStringLiteral("Из файла"), TIcon::Import,
                                   &TSmsSendersForm::AddFromFileActionExecute);
    AddFromFileAction->setToolTip(QStringLiteral("Добавить из файла"));
    DeleteAction = MakeAction(this, "DeleteAction", QStringLiteral("&Удалить"), TIcon::Remove,
                              &TSmsSendersForm::DeleteActionExecute);
    DeleteAction->setToolTip(QStringLiteral("Удалить оператора"));
    CheckAction = MakeAction(this, "CheckAction", QStringLiteral("&Проверить..."), TIcon::Send,
                             &TSmsSendersForm::CheckActionExecute);
    CheckAction->setToolTip(QStringLiteral("Проверить оператора: отправить пробное SMS и показать весь обмен"));
    CloseAction = MakeAction(this, "CloseTB", QStringLiteral("Закрыть"), TIcon::Close, &TSmsSendersForm::CloseTBClick);
    toolBar->addAction(AddAction);
    toolBar->addAction(AddFromFileAction);
    toolBar->addAction(DeleteAction);
    toolBar->addAction(CheckAction);
    toolBar->addSeparator();
    toolBar->addAction(CloseAction);

    SmsSendersListView = MakeListView(this, "SmsSendersListView");
    SmsSendersListView->setFixedWidth(193);
    FModel = new TObjectListModel<TSmsSender>([](const TSmsSender* s) { return s->Name(); }, this);
    FSorted = new TCollatedSortModel(this);
    FSorted->setSourceModel(FModel);
    SmsSendersListView->setModel(FSorted);
    SmsSendersListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(SmsSendersListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("SmsSendersPopupMenu"));
        menu.addAction(AddAction);
        menu.addAction(DeleteAction);
        menu.addSeparator();
        menu.addAction(CheckAction);
        menu.exec(SmsSendersListView->viewport()->mapToGlobal(at));
    });
    auto selectionChanged = [this] { SmsSendersListViewSelectItem(); };
    connect(SmsSendersListView->selectionModel(), &QItemSelectionModel::selectionChanged, this, selectionChanged);
    connect(SmsSendersListView->selectionModel(), &QItemSelectionModel::currentChanged, this, selectionChanged);

    EditorPanel = Named(new QWidget(this), "EditorPanel");
    BuildEditor(EditorPanel);

    // With no operator at all, how to add one stands where the editor would.
    EmptyHintLabel = Named(new QLabel(QStringLiteral(
                                          "Операторов пока нет. Нажмите «Добавить» (Ctrl+N) и впишите шлюз "
                                          "своего оператора: адрес WEB-gate с подстановками {phone} и {message} "
                                          "или адрес EMAIL-gate; «Из файла» загружает готовые описания."),
                                      this),
                           "EmptyHintLabel");
    EmptyHintLabel->setWordWrap(true);
    EmptyHintLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    EmptyHintLabel->setContentsMargins(8, 8, 8, 8);

    auto* body = new QHBoxLayout;
    body->addWidget(SmsSendersListView);
    body->addWidget(EmptyHintLabel, 1);
    body->addWidget(EditorPanel, 1);
    body->addStretch(0); // keeps the list at the left while the editor is hidden
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addLayout(body, 1);
    body->setContentsMargins(4, 4, 4, 4);

    RefreshEditor();
}

void TSmsSendersForm::BuildEditor(QWidget* panel)
{
    auto* form = new QFormLayout(panel);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    auto addRow = [&](const QString& caption, QWidget* field) {
        auto* label = new QLabel(caption, panel);
        label->setBuddy(field);
        field->setAccessibleName(caption);
        form->addRow(label, field);
    };

    FCommitSoon = new QTimer(this);
    FCommitSoon->setSingleShot(true);
    FCommitSoon->setInterval(CommitDelayMs);
    connect(FCommitSoon, &QTimer::timeout, this, [this] {
        if (FTyped)
            CommitField(std::exchange(FTyped, nullptr), true);
    });

    NameEdit = Named(new QLineEdit(panel), "NameEdit");
    NameEdit->installEventFilter(this);
    connect(NameEdit, &QLineEdit::textEdited, this, [this] { FieldTyped(NameEdit); });
    addRow(QStringLiteral("Наименование оператора:"), NameEdit);
    form->addRow(Separator(panel));

    auto gateEdit = [&](const char* name, const QString& caption, std::string TStdSmsSender::*field) {
        auto* edit = Named(new QLineEdit(panel), name);
        edit->setMaxLength(GateLimit);
        edit->setToolTip(GateHint());
        addRow(caption, edit);
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            WriteBack([&](TStdSmsSender& s) { s.*field = Trim(FromQt(text)); });
        });
        return edit;
    };
    WebGateEdit = gateEdit("WebGateEdit", QStringLiteral("WEB-gate:"), &TStdSmsSender::WebGate);
    // The placeholders in sight, not only in the tooltip.
    auto* placeholders = Named(new QLabel(QStringLiteral("Подстановки: {phone} {message} {length} {year} {month} "
                                                         "{day} {hour} {minute} (подробнее во всплывающей подсказке)"),
                                          panel),
                               "GatePlaceholdersLabel");
    placeholders->setWordWrap(true);
    QFont small = placeholders->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    placeholders->setFont(small);
    form->addRow(QString(), placeholders);
    EmailGateEdit = gateEdit("EmailGateEdit", QStringLiteral("EMAIL-gate:"), &TStdSmsSender::EmailGate);
    EmailSubjEdit = gateEdit("EmailSubjEdit", QStringLiteral("Тема письма:"), &TStdSmsSender::EmailSubj);
    EmailBodyEdit = gateEdit("EmailBodyEdit", QStringLiteral("Текст письма:"), &TStdSmsSender::EmailBody);
    form->addRow(Separator(panel));

    // Reply patterns: taken when the field is left, refused there when they do not compile.
    auto patternEdit = [&](const char* name, const QString& caption) {
        auto* edit = Named(new QLineEdit(panel), name);
        edit->setMaxLength(GateLimit);
        edit->setToolTip(GateHint());
        edit->installEventFilter(this);
        addRow(caption, edit);
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { FieldTyped(edit); });
        return edit;
    };
    ReplyOkPatternEdit = patternEdit("ReplyOkPatternEdit", QStringLiteral("Успешный ответ шлюза:"));
    ReplyTempFailPatternEdit = patternEdit("ReplyTempFailPatternEdit", QStringLiteral("Временный отказ шлюза:"));
    ReplyPermFailPatternEdit = patternEdit("ReplyPermFailPatternEdit", QStringLiteral("Окончательный отказ шлюза:"));
    form->addRow(Separator(panel));

    // "Статус доставки" (web gate): empty fields and no reports keep the operator as it was.
    form->addRow(new QLabel(QStringLiteral("<b>Статус доставки</b>"), panel));
    StatusIdPatternEdit = patternEdit("StatusIdPatternEdit", QStringLiteral("Номер сообщения в ответе:"));
    StatusUrlEdit = gateEdit("StatusUrlEdit", QStringLiteral("Запрос статуса ({id}):"), &TStdSmsSender::StatusUrl);
    StatusDeliveredPatternEdit = patternEdit("StatusDeliveredPatternEdit", QStringLiteral("Ответ \"доставлено\":"));
    StatusFailedPatternEdit = patternEdit("StatusFailedPatternEdit", QStringLiteral("Ответ \"не доставлено\":"));
    StatusPendingPatternEdit = patternEdit("StatusPendingPatternEdit", QStringLiteral("Ответ \"ожидает\":"));
    DlrReportsCheckBox = Named(new QCheckBox(QStringLiteral("Отчёты о доставке от Kannel (dlr-mask, dlr-url)"), panel),
                               "DlrReportsCheckBox");
    form->addRow(DlrReportsCheckBox);
    connect(DlrReportsCheckBox, &QCheckBox::clicked, this, [this](bool checked) {
        WriteBack([&](TStdSmsSender& s) { s.DlrMask = checked ? (s.DlrMask != 0 ? s.DlrMask : 31) : 0; });
    });
    form->addRow(Separator(panel));

    GateTypeComboBox = Named(new QComboBox(panel), "GateTypeComboBox");
    GateTypeComboBox->addItems({QStringLiteral("WEB-gate"), QStringLiteral("EMAIL-gate")});
    addRow(QStringLiteral("Использовать:"), GateTypeComboBox);
    connect(GateTypeComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        WriteBack([&](TStdSmsSender& s) {
            if (index != TStdSmsSender::WebGateType && index != TStdSmsSender::EmailGateType)
                throw TError(Cp1251(UnknownGateType));
            s.GateType = index;
        });
    });

    MaxSmsLenEdit = Named(new QLineEdit(panel), "MaxSmsLenEdit");
    MaxSmsLenEdit->setMaxLength(MaxSmsLenLimit);
    addRow(QStringLiteral("Максимальный размер SMS:"), MaxSmsLenEdit);
    connect(MaxSmsLenEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        WriteBack([&](TStdSmsSender& s) {
            int value = 0;
            s.MaxSmsLen = TryStrToInt(Trim(FromQt(text)), value) ? value : 0;
        });
    });

    // The operator's pace: "Не чаще одного SMS в N сек.", "Не более N SMS в сутки"; empty: no limit.
    // The gate's time limit the same way; empty: the default.
    auto paceRow = [&](const char* name, const QString& before, const QString& after, int TStdSmsSender::*member,
                       const QString& empty = QStringLiteral("без ограничения")) {
        auto* edit = Named(new QLineEdit(panel), name);
        edit->setMaxLength(MaxSmsLenLimit);
        edit->setPlaceholderText(empty);
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(new QLabel(after, panel));
        auto* label = new QLabel(before, panel);
        label->setBuddy(edit);
        edit->setAccessibleName(before + QLatin1Char(' ') + after);
        form->addRow(label, row);
        connect(edit, &QLineEdit::textChanged, this, [this, member](const QString& text) {
            WriteBack([&](TStdSmsSender& s) {
                int value = 0;
                s.*member = TryStrToInt(Trim(FromQt(text)), value) && value > 0 ? value : 0;
            });
        });
        return edit;
    };
    MinSendIntervalEdit = paceRow("MinSendIntervalEdit", QStringLiteral("Не чаще одного SMS в:"),
                                  QStringLiteral("сек."), &TSmsSender::MinSendInterval);
    DailyLimitEdit = paceRow("DailyLimitEdit", QStringLiteral("Не более:"), QStringLiteral("SMS в сутки"),
                             &TSmsSender::DailyLimit);
    TimeoutEdit = paceRow("TimeoutEdit", QStringLiteral("Ждать ответа шлюза:"), QStringLiteral("сек."),
                          &TStdSmsSender::TimeoutSeconds,
                          QString::number(TStdSmsSender::DefaultGateTimeoutSeconds));
    TimeoutEdit->setToolTip(QStringLiteral("Сколько ждать ответа веб-шлюза на запрос или SMTP сервера на каждую "
                                           "команду; пусто: %1 сек. Не дождавшись, программа повторит попытку позже.")
                                .arg(TStdSmsSender::DefaultGateTimeoutSeconds));

    CharsetComboBox = Named(new QComboBox(panel), "CharsetComboBox");
    CharsetComboBox->setEditable(true);
    CharsetComboBox->addItems({QStringLiteral("CP1251"), QStringLiteral("KOI8-R"), QStringLiteral("KOI8-U"),
                               QStringLiteral("UTF-8"), QStringLiteral("UTF-7")});
    // A typed name stays as typed: no insertion into the list, and no
    // case-blind completion that would turn "utf-8" into "UTF-8".
    CharsetComboBox->setInsertPolicy(QComboBox::NoInsert);
    CharsetComboBox->completer()->setCaseSensitivity(Qt::CaseSensitive);
    addRow(QStringLiteral("Кодировка:"), CharsetComboBox);
    connect(CharsetComboBox, &QComboBox::editTextChanged, this, [this](const QString& text) {
        WriteBack([&](TStdSmsSender& s) { s.Charset = Trim(FromQt(text)); });
    });

    TranslitCheckBox = Named(new QCheckBox(QStringLiteral("Отправлять сообщения в транслитерации"), panel),
                             "TranslitCheckBox");
    form->addRow(TranslitCheckBox);
    connect(TranslitCheckBox, &QCheckBox::clicked, this, [this](bool checked) {
        WriteBack([&](TStdSmsSender& s) { s.TranslitFlag = checked; });
    });
    form->addRow(Separator(panel));

    NotesMemo = Named(new QPlainTextEdit(panel), "NotesMemo");
    NotesMemo->setTabChangesFocus(true);
    addRow(QStringLiteral("Комментарии:"), NotesMemo);
    connect(NotesMemo, &QPlainTextEdit::textChanged, this, [this] {
        // The limit holds for typed text only: what was typed beyond it goes.
        const int excess = static_cast<int>(NotesMemo->toPlainText().size()) - FNotesLimit;
        if (excess > 0) {
            QTextCursor cursor = NotesMemo->textCursor();
            const int end = cursor.position();
            cursor.setPosition(std::max(0, end - excess));
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText(); // comes back here with the text within the limit
            return;
        }
        WriteBack([&](TStdSmsSender& s) { s.Notes = NotesFromDisplay(NotesMemo->toPlainText()); });
    });
}

// --- Filling and the editor ------------------------------------------------------------
void TSmsSendersForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (!Guard([&] { FillList(); }))
        QTimer::singleShot(0, this, &QWidget::close);
}

void TSmsSendersForm::FillList()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestore {
        ~TRestore() { QApplication::restoreOverrideCursor(); }
    } restore;
    CommitFocusedField(); // the selection is about to go
    FSelecting = true;
    FSender = nullptr;
    FModel->SetList(nullptr);
    FModel->SetList(&SmsManager().SmsSenders);
    SmsSendersListView->setCurrentIndex(QModelIndex());
    SmsSendersListView->clearSelection();
    FSelecting = false;
    RefreshEditor();
}

TSmsSender* TSmsSendersForm::CurrentRowSender() const
{
    QModelIndex current = SmsSendersListView->currentIndex();
    if (!current.isValid() || !SmsSendersListView->selectionModel()->isSelected(current))
        return nullptr;
    return FModel->ObjectAt(FSorted->mapToSource(current));
}

void TSmsSendersForm::SelectSender(const TSmsSender* sender)
{
    int row = FModel->RowOf(sender);
    SelectSortedRow(row < 0 ? -1 : FSorted->mapFromSource(FModel->index(row)).row());
}

void TSmsSendersForm::SelectSortedRow(int row)
{
    if (row < 0) {
        SmsSendersListView->clearSelection();
        SmsSendersListView->setCurrentIndex(QModelIndex());
    } else {
        SmsSendersListView->setCurrentIndex(FSorted->index(row, 0));
    }
    SmsSendersListViewSelectItem();
}

void TSmsSendersForm::SmsSendersListViewSelectItem()
{
    if (FSelecting)
        return;
    TopLevelGuard([&] {
        auto* sender = dynamic_cast<TStdSmsSender*>(CurrentRowSender());
        if (sender == FSender && EditorPanel->isHidden() == (sender == nullptr))
            return;
        CommitFocusedField();
        FSender = sender;
        RefreshEditor();
    });
}

void TSmsSendersForm::RefreshEditor()
{
    const bool shown = FSender != nullptr;
    FShowing = true; // the write-backs of the shown values are no edits
    const auto showingEnds = qScopeGuard([this] { FShowing = false; });
    if (shown) {
        // Every field writes back as it is set, so the stored text must reach
        // it whole: the typed-length limits widen for longer stored values.
        FNotesLimit = std::max(NotesLimit, static_cast<int>(FSender->Notes.size()));
        SetLimitedText(NameEdit, ToQt(FSender->Name()), NameLimit);
        SetLimitedText(WebGateEdit, ToQt(FSender->WebGate), GateLimit);
        SetLimitedText(EmailGateEdit, ToQt(FSender->EmailGate), GateLimit);
        SetLimitedText(EmailSubjEdit, ToQt(FSender->EmailSubj), GateLimit);
        SetLimitedText(EmailBodyEdit, ToQt(FSender->EmailBody), GateLimit);
        for (const auto& [edit, member] : PatternFields())
            SetLimitedText(edit, ToQt((*FSender).*member), GateLimit);
        {
            const QSignalBlocker blocker(GateTypeComboBox); // showing writes no gate type
            const int type = FSender->GateType;
            GateTypeComboBox->setCurrentIndex(
                type == TStdSmsSender::WebGateType || type == TStdSmsSender::EmailGateType ? type : -1);
        }
        SetLimitedText(MaxSmsLenEdit, QString::number(FSender->MaxSmsLen), MaxSmsLenLimit);
        SetLimitedText(MinSendIntervalEdit, FSender->MinSendInterval > 0 ? QString::number(FSender->MinSendInterval) : QString(),
                       MaxSmsLenLimit);
        SetLimitedText(DailyLimitEdit, FSender->DailyLimit > 0 ? QString::number(FSender->DailyLimit) : QString(),
                       MaxSmsLenLimit);
        SetLimitedText(TimeoutEdit, FSender->TimeoutSeconds > 0 ? QString::number(FSender->TimeoutSeconds) : QString(),
                       MaxSmsLenLimit);
        CharsetComboBox->setEditText(ToQt(Trim(FSender->Charset)));
        TranslitCheckBox->setChecked(FSender->TranslitFlag);
        SetLimitedText(StatusUrlEdit, ToQt(FSender->StatusUrl), GateLimit);
        DlrReportsCheckBox->setChecked(FSender->DlrMask != 0);
        NotesMemo->setPlainText(NotesForDisplay(FSender->Notes));
    }
    for (QLineEdit* edit : {NameEdit, WebGateEdit, EmailGateEdit, EmailSubjEdit, EmailBodyEdit, ReplyOkPatternEdit,
                            ReplyTempFailPatternEdit, ReplyPermFailPatternEdit, StatusIdPatternEdit, StatusUrlEdit,
                            StatusDeliveredPatternEdit, StatusFailedPatternEdit, StatusPendingPatternEdit})
        SetEditActive(edit, shown);
    // The name stands out in the tooltip colour.
    QPalette palette = NameEdit->palette();
    palette.setColor(QPalette::Base, palette.color(shown ? QPalette::ToolTipBase : QPalette::Window));
    palette.setColor(QPalette::Text, palette.color(shown ? QPalette::ToolTipText : QPalette::WindowText));
    NameEdit->setPalette(palette);
    SetComboActive(GateTypeComboBox, shown);
    SetComboActive(CharsetComboBox, shown);
    CheckAction->setEnabled(shown);
    EditorPanel->setVisible(shown);
    EmptyHintLabel->setVisible(SmsManager().SmsSenders.Count() == 0);
    if (shown && GateTypeComboBox->currentIndex() < 0)
        throw TError(Cp1251(UnknownGateType));
}

template <class F>
void TSmsSendersForm::WriteBack(F&& write)
{
    if (FSender && TopLevelGuard([&] { write(*FSender); }) && !FShowing)
        MarkDataChanged(DataOperators);
}

bool TSmsSendersForm::eventFilter(QObject* watched, QEvent* event)
{
    // The name and the reply patterns are committed when their field is left
    // for another control of the window, not when the whole window loses the focus.
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            CommitField(watched);
    }
    return QWidget::eventFilter(watched, event);
}

void TSmsSendersForm::CommitFocusedField()
{
    for (QLineEdit* edit : {NameEdit, ReplyOkPatternEdit, ReplyTempFailPatternEdit, ReplyPermFailPatternEdit,
                            StatusIdPatternEdit, StatusDeliveredPatternEdit, StatusFailedPatternEdit,
                            StatusPendingPatternEdit})
        if (edit->hasFocus())
            CommitField(edit);
}

bool TSmsSendersForm::CommitField(QObject* field, bool quiet)
{
    if (field == NameEdit)
        return NameEditExit(quiet);
    for (const auto& [edit, member] : PatternFields())
        if (field == edit)
            return PatternEditExit(edit, member, quiet);
    return true;
}

void TSmsSendersForm::FieldTyped(QLineEdit* edit)
{
    if (FTyped && FTyped != edit) // another field was typed in before: it goes first
        CommitField(FTyped, true);
    FTyped = edit;
    // Not restarted by later keys: typing on never holds the value back.
    if (!FCommitSoon->isActive())
        FCommitSoon->start();
}

// Runs `take`; quietly, a refusal is only the answer false.
template <class F>
static bool TakeField(bool quiet, F&& take)
{
    if (!quiet)
        return Guard(take);
    try {
        take();
        return true;
    } catch (...) {
        return false;
    }
}

std::vector<std::pair<QLineEdit*, std::string TStdSmsSender::*>> TSmsSendersForm::PatternFields() const
{
    return {{ReplyOkPatternEdit, &TStdSmsSender::ReplyOkPattern},
            {ReplyTempFailPatternEdit, &TStdSmsSender::ReplyTempFailPattern},
            {ReplyPermFailPatternEdit, &TStdSmsSender::ReplyPermFailPattern},
            {StatusIdPatternEdit, &TStdSmsSender::StatusIdPattern},
            {StatusDeliveredPatternEdit, &TStdSmsSender::StatusDeliveredPattern},
            {StatusFailedPatternEdit, &TStdSmsSender::StatusFailedPattern},
            {StatusPendingPatternEdit, &TStdSmsSender::StatusPendingPattern}};
}

bool TSmsSendersForm::PatternEditExit(QLineEdit* edit, std::string TStdSmsSender::*member, bool quiet)
{
    if (!FSender)
        return true;
    const bool taken = TakeField(quiet, [&] {
        const std::string pattern = Trim(FromQt(edit->text()));
        if (std::optional<std::string> error = CheckReplyPattern(pattern))
            throw TError(*error);
        if ((*FSender).*member != pattern) {
            (*FSender).*member = pattern;
            MarkDataChanged(DataOperators);
        }
    });
    if (!taken && !quiet && edit->isVisible() && edit->isEnabled())
        edit->setFocus(Qt::OtherFocusReason);
    return taken;
}

bool TSmsSendersForm::NameEditExit(bool quiet)
{
    if (!FSender)
        return true;
    const bool renamed = TakeField(quiet, [&] {
        const std::string name = Trim(FromQt(NameEdit->text()));
        if (name.empty())
            throw TError(Cp1251("Не указано наименование оператора."));
        if (!SameText(name, FSender->Name()) && SmsManager().SmsSenders.IndexOfName(name) >= 0)
            throw TError(Cp1251("Уже есть оператор с таким именем."));
        if (name != FSender->Name()) {
            FSender->SetName(name);
            MarkDataChanged(DataOperators | DataAddressBook); // contacts name their operator
            FSelecting = true;
            FModel->Sync(); // the row takes the new caption and moves to its place
            FSelecting = false;
            SmsSendersListView->scrollTo(SmsSendersListView->currentIndex());
        }
    });
    if (!renamed && !quiet && NameEdit->isVisible() && NameEdit->isEnabled())
        NameEdit->setFocus(Qt::OtherFocusReason);
    return renamed;
}

// --- Commands ------------------------------------------------------------------------
void TSmsSendersForm::AddActionExecute()
{
    std::optional<QString> typed = AskText(QStringLiteral("Добавление нового оператора"),
                                           QStringLiteral("Наименование оператора"), QString());
    if (!typed)
        return;
    const std::string name = FromQt(*typed);
    if (name.empty())
        throw TError(Cp1251("Не указано наименование оператора."));
    TSmsManager& manager = SmsManager();
    if (manager.SmsSenders.IndexOfName(name) >= 0)
        throw TError(Cp1251("Уже есть оператор с таким именем."));
    auto sender = std::make_unique<TStdSmsSender>();
    sender->SetName(name);
    manager.AddSmsSender(sender.get()); // trims and checks again; a refusal leaves it to us
    TStdSmsSender* added = sender.release();
    MarkDataChanged(DataOperators);
    FSelecting = true;
    FModel->Sync();
    FSelecting = false;
    SelectSender(added);
    SmsSendersListView->setFocus(Qt::OtherFocusReason);
}

void TSmsSendersForm::DeleteActionExecute()
{
    if (!FSender)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить оператора [%1]?").arg(ToQt(FSender->Name()))))
        return;
    TSmsManager& manager = SmsManager();
    manager.CheckSmsSenderUnused(FSender);
    const int row = SmsSendersListView->currentIndex().row();
    TStdSmsSender* doomed = std::exchange(FSender, nullptr);
    FSelecting = true;
    manager.SmsSenders.Remove(doomed);
    MarkDataChanged(DataOperators);
    FModel->Sync();
    FSelecting = false;
    const int count = FSorted->rowCount();
    SelectSortedRow(count == 0 ? -1 : std::min(row, count - 1));
    ShowInfoBox(QStringLiteral("Оператор удален."));
}

void TSmsSendersForm::CheckActionExecute()
{
    if (!FSender)
        return;
    // The check sees the operator as the fields show it: a field still being
    // edited is written back first, and a refused value stops the check.
    for (QLineEdit* edit : {NameEdit, ReplyOkPatternEdit, ReplyTempFailPatternEdit, ReplyPermFailPatternEdit,
                            StatusIdPatternEdit, StatusDeliveredPatternEdit, StatusFailedPatternEdit,
                            StatusPendingPatternEdit})
        if (edit->hasFocus() && !CommitField(edit))
            return;
    TGateCheckDlg::Execute(*FSender, this);
}

void TSmsSendersForm::AddFromFileActionExecute()
{
    std::optional<QString> file = AskOpenFileName(QStringLiteral("Загрузка операторов из файла"),
                                                  QStringLiteral("Файлы с операторами (*.ini);;Все файлы (*)"),
                                                  QFile::decodeName(QByteArray::fromStdString(DataDir())));
    int added = 0;
    if (file) {
        // A file that cannot be read is reported as the program's own failure; nothing is added.
        if (!TopLevelGuard([&] { added = SmsManager().ImportSmsSenders(FromQt(*file)); }))
            return;
        if (added > 0) {
            MarkDataChanged(DataOperators);
            FillList();
        }
    }
    ShowInfoBox(QStringLiteral("Добавлено операторов: %1").arg(added));
}

void TSmsSendersForm::CloseTBClick()
{
    CommitFocusedField();
    close();
}

void TSmsSendersForm::closeEvent(QCloseEvent* event)
{
    CommitFocusedField();
    event->accept(); // hidden, kept for the next opening
    TopLevelGuard([] { SmsManager().SaveSmsSenders(ProgramOptions().SmsGatesFileName); });
}
