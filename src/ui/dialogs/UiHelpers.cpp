#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QHeaderView>
#include <QIconEngine>
#include <QPainter>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
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

int RunBox(QMessageBox::Icon icon, const QString& text, const QString& title, bool yesNo)
{
    QMessageBox box(icon, title, WithLineFeeds(text), QMessageBox::NoButton, BoxParent());
    // Names typed by the user ("<b>Друзья</b>") are shown as typed, never read as markup.
    box.setTextFormat(Qt::PlainText);
    if (yesNo) {
        box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
    } else {
        QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
    }
    box.exec();
    return box.buttonRole(box.clickedButton()) == QMessageBox::YesRole ? 1 : 0;
}
} // namespace

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
    // The window manager draws the caption in the frame, often in bold, beside
    // the window icon and three buttons; the dialog's own width keeps it whole.
    QFont bold = dialog->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const int titleRoom = std::min(metrics.horizontalAdvance(caption) + 8 * metrics.height(), 800);
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

std::optional<QString> AskSaveFileName(const QString& caption, const QString& filters, const QString& folder,
                                       const QString& selectedFilter)
{
    if (TUiScript* s = TUiScript::Current()) {
        s->Record(TUiCallKind::SaveFile, caption, filters);
        return s->TakeFile();
    }
    QString chosenFilter = selectedFilter;
    QString path = QFileDialog::getSaveFileName(BoxParent(), caption, folder, filters,
                                                selectedFilter.isEmpty() ? nullptr : &chosenFilter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

int RunDialog(QDialog& dialog)
{
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
    return view;
}
