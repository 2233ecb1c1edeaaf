#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QHeaderView>
#include <QIconEngine>
#include <QPainter>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QHelpEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QToolBar>
#include <QTreeView>

#include <algorithm>
#include <array>
#include <optional>

namespace {
TUiScript* CurrentScript = nullptr;

QWidget* BoxParent()
{
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    return parent;
}

// A question's default button is "Нет" unless `yesDefault`; Escape is always the no.
int RunBox(QMessageBox::Icon icon, const QString& text, const QString& title, bool yesNo,
           const QString& yes = QStringLiteral("Да"), const QString& no = QStringLiteral("Нет"), bool yesDefault = false)
{
    std::unique_ptr<QMessageBox> box = NewMessageBox(icon, text, title, yesNo, BoxParent(), yes, no, yesDefault);
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole ? 1 : 0;
}
} // namespace

std::unique_ptr<QMessageBox> NewMessageBox(QMessageBox::Icon icon, const QString& text, const QString& title,
                                           bool yesNo, QWidget* parent, const QString& yes, const QString& no,
                                           bool yesDefault)
{
    auto box = std::make_unique<QMessageBox>(icon, title, WithLineFeeds(text), QMessageBox::NoButton, parent);
    // A message box sizes itself to its text; a strut as wide as the title keeps the title whole.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(TitleRoom(box.get(), title), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    // Names typed by the user ("<b>Друзья</b>") are shown as typed, never read as markup.
    box->setTextFormat(Qt::PlainText);
    if (yesNo) {
        QPushButton* yesButton = box->addButton(yes, QMessageBox::YesRole);
        QPushButton* noButton = box->addButton(no, QMessageBox::NoRole);
        box->setDefaultButton(yesDefault ? yesButton : noButton);
        box->setEscapeButton(noButton);
    } else {
        QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    return box;
}

// --- Script -------------------------------------------------------------------
TUiScript::TUiScript() : FPrevious(CurrentScript) { CurrentScript = this; }
TUiScript::~TUiScript() { CurrentScript = FPrevious; }
TUiScript* TUiScript::Current() { return CurrentScript; }

TUiScript& TUiScript::Yes() { FConfirms.push_back(true); return *this; }
TUiScript& TUiScript::No() { FConfirms.push_back(false); return *this; }
TUiScript& TUiScript::Input(std::optional<QString> text) { FInputs.emplace_back(text.has_value(), text.value_or(QString())); return *this; }
TUiScript& TUiScript::File(std::optional<QString> path) { FFiles.emplace_back(path.has_value(), path.value_or(QString())); return *this; }
TUiScript& TUiScript::Dialog(std::function<void(QDialog&)> drive) { FDialogs.push_back(std::move(drive)); return *this; }

void TUiScript::Record(TUiCallKind kind, const QString& title, const QString& text)
{
    Calls.push_back({kind, title, text});
}

bool TUiScript::TakeConfirm()
{
    if (FConfirms.empty()) {
        ++Unanswered;
        return false;
    }
    bool answer = FConfirms.front();
    FConfirms.pop_front();
    return answer;
}

namespace {
std::optional<QString> TakeAnswer(std::deque<std::pair<bool, QString>>& answers, int& unanswered)
{
    if (answers.empty()) {
        ++unanswered;
        return std::nullopt;
    }
    auto [given, text] = std::move(answers.front());
    answers.pop_front();
    if (!given)
        return std::nullopt;
    return text;
}
} // namespace

std::optional<QString> TUiScript::TakeInput() { return TakeAnswer(FInputs, Unanswered); }
std::optional<QString> TUiScript::TakeFile() { return TakeAnswer(FFiles, Unanswered); }

std::optional<std::function<void(QDialog&)>> TUiScript::TakeDialog()
{
    if (FDialogs.empty()) {
        ++Unanswered;
        return std::nullopt;
    }
    auto drive = std::move(FDialogs.front());
    FDialogs.pop_front();
    return drive;
}

QStringList TUiScript::Texts(TUiCallKind kind) const
{
    QStringList texts;
    for (const TUiCall& call : Calls)
        if (call.Kind == kind)
            texts << call.Text;
    return texts;
}

// --- Boxes --------------------------------------------------------------------
void ShowErrorBox(const QString& text, const QString& title)
{
    if (TUiScript* s = TUiScript::Current())
        return s->Record(TUiCallKind::Error, title, text);
    RunBox(QMessageBox::Critical, text, title, false);
}

void ShowInfoBox(const QString& text, const QString& title)
{
    if (TUiScript* s = TUiScript::Current())
        return s->Record(TUiCallKind::Info, title, text);
    RunBox(QMessageBox::Information, text, title, false);
}

bool AskConfirmation(const QString& text, const QString& title)
{
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::Confirm, title, text);
        return s->TakeConfirm();
    }
    return RunBox(QMessageBox::Question, text, title, true) == 1;
}

bool AskChoice(const QString& text, const QString& yes, const QString& no, const QString& title)
{
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::Confirm, title, text);
        return s->TakeConfirm();
    }
    return RunBox(QMessageBox::Question, text, title, true, yes, no, true) == 1;
}

std::optional<QString> AskText(const QString& caption, const QString& prompt, const QString& initial)
{
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::Input, caption, prompt);
        return s->TakeInput();
    }
    std::unique_ptr<QInputDialog> dialog = NewTextDialog(caption, prompt, initial, BoxParent());
    if (dialog->exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog->textValue();
}

std::unique_ptr<QInputDialog> NewTextDialog(const QString& caption, const QString& prompt, const QString& initial,
                                            QWidget* parent)
{
    auto dialog = std::make_unique<QInputDialog>(parent);
    dialog->setWindowTitle(caption);
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setTextEchoMode(QLineEdit::Normal);
    dialog->setLabelText(WithLineFeeds(prompt));
    dialog->setTextValue(initial);
    if (prompt.isEmpty()) // no empty line above the field
        for (QLabel* label : dialog->findChildren<QLabel*>())
            label->hide();
    const int titleRoom = TitleRoom(dialog.get(), caption);
    // The dialog's layout sets its minimum size from its contents: the field is what widens it.
    const int margins = dialog->style()->pixelMetric(QStyle::PM_LayoutLeftMargin) +
                        dialog->style()->pixelMetric(QStyle::PM_LayoutRightMargin);
    if (auto* field = dialog->findChild<QLineEdit*>())
        field->setMinimumWidth(titleRoom - margins);
    return dialog;
}

std::optional<QString> AskOpenFileName(const QString& caption, const QString& filters, const QString& folder)
{
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::OpenFile, caption, filters);
        return s->TakeFile();
    }
    QString path = QFileDialog::getOpenFileName(BoxParent(), caption, folder, filters);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

namespace {
// A name the user gave without an extension gets the first one of the chosen
// filter ("Файлы CSV (*.csv)" -> ".csv"); "*" adds nothing.
QString WithFilterSuffix(const QString& path, const QString& filter)
{
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    const QRegularExpressionMatch pattern = QRegularExpression(QStringLiteral("\\*(\\.[^ ;)*]+)")).match(filter);
    return pattern.hasMatch() ? path + pattern.captured(1) : path;
}
} // namespace

std::optional<QString> AskSaveFileName(const QString& caption, const QString& filters, const QString& folder,
                                       const QString& selectedFilter)
{
    QString chosenFilter = selectedFilter.isEmpty() ? filters.section(QStringLiteral(";;"), 0, 0) : selectedFilter;
    std::optional<QString> path;
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::SaveFile, caption, filters);
        path = s->TakeFile();
    } else {
        const QString typed = QFileDialog::getSaveFileName(BoxParent(), caption, folder, filters, &chosenFilter);
        if (!typed.isEmpty())
            path = typed;
    }
    if (path)
        *path = WithFilterSuffix(*path, chosenFilter);
    return path;
}

namespace {
class TDigitsOverParts : public QObject {
public:
    explicit TDigitsOverParts(QDateTimeEdit* edit) : QObject(edit), FEdit(edit) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress)
            FPart = -1; // the caret moved: typing starts a part anew
        if (event->type() != QEvent::KeyPress)
            return false;
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (text.size() != 1 || !text[0].isDigit() || FEdit->currentSection() == QDateTimeEdit::NoSection) {
            FPart = -1;
            return false;
        }
        int part = FEdit->currentSectionIndex();
        if (part == FPart && FTyped >= FLength && part + 1 < FEdit->sectionCount())
            ++part; // this part is typed whole: on to the next one
        if (part != FPart) {
            FPart = part;
            FTyped = 0;
            FEdit->setCurrentSectionIndex(part);
            FLength = FEdit->sectionText(FEdit->currentSection()).size();
            FEdit->setSelectedSection(FEdit->currentSection()); // the digits replace it
        }
        ++FTyped;
        return false;
    }

private:
    QDateTimeEdit* FEdit;
    int FPart = -1;       // the part being typed into, -1: none
    qsizetype FTyped = 0; // digits typed into it
    qsizetype FLength = 0; // its length when typing began
};
} // namespace

void TypeDigitsOverParts(QDateTimeEdit* edit) { edit->installEventFilter(new TDigitsOverParts(edit)); }

int TitleRoom(const QWidget* window, const QString& title)
{
    // The window manager draws the title in the frame, in bold and often larger
    // than the program's font, beside the window's icon and its buttons
    // (minimise, maximise, close) with the frame's padding.
    QFont bold = window->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return std::min(metrics.horizontalAdvance(title) * 4 / 3 + 5 * (metrics.height() + 10), 800);
}

void WidenForTitle(QWidget* window)
{
    const int room = TitleRoom(window, window->windowTitle());
    if (std::max(window->minimumWidth(), window->minimumSizeHint().width()) >= room)
        return;
    if (window->maximumWidth() < room)
        window->setMaximumWidth(room); // a fixed size grows with it
    window->setMinimumWidth(room);
}

int RunDialog(QDialog& dialog)
{
    WidenForTitle(&dialog);
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::Dialog, dialog.windowTitle(), dialog.objectName());
        auto drive = s->TakeDialog();
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        if (drive)
            (*drive)(dialog);
        dialog.hide();
        return dialog.result();
    }
    return dialog.exec();
}

QString TopLevelErrorText(const std::string& cp1251Message)
{
    std::string text = Trim(cp1251Message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text += '.';
    return ToQt(text);
}

void ShowTopLevelError(const std::string& cp1251Message)
{
    QString title = QApplication::applicationDisplayName();
    if (title.isEmpty())
        title = QStringLiteral("Velotext");
    ShowErrorBox(TopLevelErrorText(cp1251Message), title);
}

void ShowCaughtError(const std::exception_ptr& error, const QString& title)
{
    try {
        ShowErrorBox(ToQt(Trim(ExceptionMessage(error))), title);
    } catch (...) {
        // Nothing may leave an entry point from Qt, not even a failing box.
    }
}

// --- Field helpers --------------------------------------------------------------
int CheckNonNegativeInt(const QString& text, const QString& message)
{
    int value = 0;
    if (!TryStrToInt(Trim(FromQt(text)), value) || value < 0)
        throw TError(FromQt(message));
    return value;
}

namespace {
void PaintBase(QWidget* widget, bool active)
{
    QPalette palette = widget->palette();
    const QPalette standard = QApplication::palette(widget);
    palette.setColor(QPalette::Base, active ? standard.color(QPalette::Base) : standard.color(QPalette::Window));
    widget->setPalette(palette);
}
} // namespace

void SetEditActive(QLineEdit* edit, bool active)
{
    edit->setReadOnly(!active);
    PaintBase(edit, active);
}

void SetCheckBoxActive(QCheckBox* box, bool active)
{
    box->setEnabled(active);
}

void SetComboActive(QComboBox* combo, bool active)
{
    combo->setEnabled(active);
    PaintBase(combo, active);
}

void SetLimitedText(QLineEdit* edit, const QString& text, int limit)
{
    edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    edit->setText(text);
}

// --- Building windows -------------------------------------------------------------
QDialogButtonBox* MakeOkCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    ok->setObjectName(QStringLiteral("OkButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLabel* MakeSavedOnOkNote(QDialog* dialog)
{
    auto* note = new QLabel(QStringLiteral("Изменения сохраняются только кнопкой «OK» (на диск — в течение секунды); "
                                           "«Отмена» оставляет всё как было."),
                            dialog);
    note->setObjectName(QStringLiteral("SavedOnOkLabel"));
    note->setWordWrap(true);
    note->setEnabled(false); // a quiet hint, not a field
    return note;
}

namespace {
// A style's own icon, read when it is first drawn: the style reads every size
// of an icon at once, and most of the program's icons (menus, windows not yet
// opened) are never drawn at a start. Its size and presence are known without
// reading it, so laying out the toolbars reads nothing either.
class TDeferredStyleIcon final : public QIconEngine {
public:
    explicit TDeferredStyleIcon(QStyle::StandardPixmap which) : FWhich(which) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return Icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().availableSizes(mode, state);
    }
    bool isNull() override { return false; }
    QString key() const override { return QStringLiteral("TDeferredStyleIcon"); }
    QIconEngine* clone() const override { return new TDeferredStyleIcon(*this); }

private:
    QIcon& Icon()
    {
        if (!FIcon)
            FIcon = QApplication::style()->standardIcon(FWhich);
        return *FIcon;
    }
    QStyle::StandardPixmap FWhich;
    std::optional<QIcon> FIcon;
};
} // namespace

QString WithoutMnemonic(const QString& caption)
{
    QString text;
    text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i; // "&x" is x, "&&" is "&"
        text += caption[i];
    }
    return text;
}

QIcon AppIcon(TIcon icon)
{
    struct TEntry {
        const char* Theme;
        QStyle::StandardPixmap Fallback;
    };
    static const TEntry entries[] = {
        {"", QStyle::SP_CustomBase},                                // None
        {"document-new", QStyle::SP_FileIcon},                      // New
        {"document-open", QStyle::SP_DialogOpenButton},             // Open
        {"document-save", QStyle::SP_DialogSaveButton},             // Save
        {"list-add", QStyle::SP_FileDialogNewFolder},               // Add
        {"list-remove", QStyle::SP_TrashIcon},                      // Remove
        {"document-properties", QStyle::SP_FileDialogDetailedView}, // Edit
        {"edit-find", QStyle::SP_FileDialogContentsView},           // Find
        {"mail-send", QStyle::SP_ArrowRight},                       // Send
        {"media-playback-start", QStyle::SP_MediaPlay},             // Start
        {"media-playback-pause", QStyle::SP_MediaPause},            // Pause
        {"edit-delete", QStyle::SP_DialogDiscardButton},            // Delete
        {"edit-clear-all", QStyle::SP_DialogResetButton},           // DeleteAll
        {"edit-clear", QStyle::SP_LineEditClearButton},             // Clear
        {"window-close", QStyle::SP_DialogCloseButton},             // Close
        {"application-exit", QStyle::SP_DialogCloseButton},         // Exit
        {"preferences-system", QStyle::SP_ComputerIcon},            // Options
        {"network-server", QStyle::SP_DriveNetIcon},                // Operators
        {"document-open-recent", QStyle::SP_FileDialogInfoView},    // History
        {"text-x-generic-template", QStyle::SP_FileDialogListView}, // Templates
        {"mail-queue", QStyle::SP_BrowserReload},                   // Queue
        {"format-text-direction-ltr", QStyle::SP_ArrowForward},     // Translit
        {"help-about", QStyle::SP_MessageBoxInformation},           // About
        {"contact-new", QStyle::SP_FileIcon},                       // Contact
        {"system-users", QStyle::SP_DirIcon},                       // Group
        {"go-next", QStyle::SP_ArrowRight},                         // AddRecipient
        {"go-previous", QStyle::SP_ArrowLeft},                      // RemoveRecipient
        {"document-import", QStyle::SP_DialogOpenButton},           // Import
        {"help-contents", QStyle::SP_DialogHelpButton},             // Help
        {"dialog-warning", QStyle::SP_MessageBoxWarning},           // Warning
        {"dialog-error", QStyle::SP_MessageBoxCritical},            // Error
        {"dialog-information", QStyle::SP_MessageBoxInformation},   // Information
        {"velotext", QStyle::SP_ComputerIcon},                      // Application
    };
    static_assert(std::size(entries) == static_cast<size_t>(TIcon::Application) + 1, "one entry per icon");
    if (icon == TIcon::None)
        return QIcon();
    // Each icon is looked up once: the theme search and the style's fallback
    // (which reads its images at once) cost more than the main window's other
    // start-up work together.
    // Never destroyed: icons must not outlive the application object at exit.
    static auto& made = *new std::array<std::optional<QIcon>, std::size(entries)>;
    std::optional<QIcon>& known = made[static_cast<size_t>(icon)];
    if (known)
        return *known;
    const QString theme = QString::fromLatin1(entries[static_cast<size_t>(icon)].Theme);
    QIcon found = QIcon::fromTheme(theme);
    if (found.isNull() || found.availableSizes().isEmpty()) // the fallback only when the theme has none
        found = icon == TIcon::Application ? QIcon(QStringLiteral(":/velotext/velotext.png")) // built in
                                           : QIcon(new TDeferredStyleIcon(entries[static_cast<size_t>(icon)].Fallback));
    known = found;
    return found;
}

QToolBar* MakeToolBar(QWidget* parent, const char* name)
{
    auto* bar = Named(new QToolBar(parent), name);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(22, 22));
    bar->setMovable(false);
    bar->setFloatable(false);
    return bar;
}

namespace {
// A row whose caption the column cuts with "…" shows the whole caption in a
// tooltip; a row shown whole has none (unless its model gives one).
class TElidedTipDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (!event || !view || event->type() != QEvent::ToolTip || index.data(Qt::ToolTipRole).isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QStyle* style = view->style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const int room = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view).width() - 2 * margin;
        if (item.fontMetrics.horizontalAdvance(item.text) > room) {
            QToolTip::showText(event->globalPos(), item.text, view->viewport(), option.rect);
            return true;
        }
        QToolTip::hideText();
        return false;
    }
};
} // namespace

QTreeView* MakeListView(QWidget* parent, const char* name)
{
    auto* view = Named(new QTreeView(parent), name);
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setItemDelegate(new TElidedTipDelegate(view));
    return view;
}
