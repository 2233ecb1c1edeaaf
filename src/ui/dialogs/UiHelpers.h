#pragma once
// The helpers every window uses: message boxes, input and file dialogs, modal
// dialogs, error guards for Qt entry points, actions, icons, list views and
// the field-state helpers. Boxes and dialogs go through one place so that a
// test can answer them in advance (TUiScript) without a modal loop.
#include "model/Error.h"
#include "model/Text.h"
#include "ui/UiText.h"

#include <QAction>
#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDialogButtonBox;
class QLabel;
class QInputDialog;
class QLineEdit;
class QToolBar;
class QTreeView;
class QWidget;

// --- Message boxes ----------------------------------------------------------
// A "\r" inside a text is a line break. Titles default to the program's own.
void ShowErrorBox(const QString& text, const QString& title = QStringLiteral("Ошибка"));
void ShowInfoBox(const QString& text, const QString& title = QStringLiteral("Сообщение"));
// True only when the user answers Yes.
bool AskConfirmation(const QString& text, const QString& title = QStringLiteral("Подтверждение"));
// A question with its own two answers: `yes` first and the default (Enter),
// `no` on Escape. True only for `yes`; a script answers it as Yes / No.
bool AskChoice(const QString& text, const QString& yes, const QString& no,
               const QString& title = QStringLiteral("Подтверждение"));

// One-line input; nullopt when cancelled.
std::optional<QString> AskText(const QString& caption, const QString& prompt, const QString& initial);
// The dialog AskText runs: one line, `prompt` above it (none when empty), wide
// enough for the window frame to show `caption` whole.
std::unique_ptr<QInputDialog> NewTextDialog(const QString& caption, const QString& prompt, const QString& initial,
                                            QWidget* parent = nullptr);
// The box the message helpers run: the text as plain text, `yes`/`no` ("Да"/"Нет", No the
// default unless `yesDefault`; Escape is always the no) or "OK", at least as wide as its
// title needs in a window frame.
std::unique_ptr<QMessageBox> NewMessageBox(QMessageBox::Icon icon, const QString& text, const QString& title,
                                           bool yesNo, QWidget* parent = nullptr,
                                           const QString& yes = QStringLiteral("Да"),
                                           const QString& no = QStringLiteral("Нет"), bool yesDefault = false);
// File dialogs; nullopt when cancelled. `filters` in Qt's form ("Файлы INI (*.ini);;Все файлы (*)").
std::optional<QString> AskOpenFileName(const QString& caption, const QString& filters,
                                       const QString& folder = QString());
// `selectedFilter`: the filter chosen when the dialog opens (one of `filters`). A name
// given without an extension gets the first one of the filter chosen ("*.csv").
std::optional<QString> AskSaveFileName(const QString& caption, const QString& filters,
                                       const QString& folder = QString(),
                                       const QString& selectedFilter = QString());

// The width a window needs for the window manager to show `title` whole in its
// frame, beside the frame's icon and buttons.
int TitleRoom(const QWidget* window, const QString& title);
// Makes the window at least that wide for its own title (a fixed width grows too).
void WidenForTitle(QWidget* window);

// Digits typed into a date or time field replace the part (hours, minutes...)
// under the caret, as a clock is set; without it Qt refuses a digit typed into
// a full part unless that part was selected first.
void TypeDigitsOverParts(QDateTimeEdit* edit);

// Runs a modal dialog (or, under a script, drives it without a modal loop),
// at least as wide as its title needs.
int RunDialog(QDialog& dialog);

// The top-level report of an error no window caught: error box titled with the
// application's name, a full stop appended when the last character's code is
// above that of the full stop.
QString TopLevelErrorText(const std::string& cp1251Message);
void ShowTopLevelError(const std::string& cp1251Message);

// --- Scripted answers for tests ---------------------------------------------
enum class TUiCallKind { Error, Info, Confirm, Input, OpenFile, SaveFile, Dialog };

struct TUiCall {
    TUiCallKind Kind;
    QString Title;
    QString Text; // the text as passed ("\r" kept); for a dialog, its object name
};

class TUiScript {
public:
    TUiScript();
    ~TUiScript();
    TUiScript(const TUiScript&) = delete;
    TUiScript& operator=(const TUiScript&) = delete;

    static TUiScript* Current();

    // Answers, used in order by the calls that need them.
    TUiScript& Yes();
    TUiScript& No();
    TUiScript& Input(std::optional<QString> text);
    TUiScript& File(std::optional<QString> path);
    // Next RunDialog: the dialog is shown without a modal loop, `drive` runs
    // (fill it, press OK or Cancel); the result is the dialog's result().
    TUiScript& Dialog(std::function<void(QDialog&)> drive);

    std::vector<TUiCall> Calls; // every box and dialog, in order
    int Unanswered = 0;         // calls that found no answer: No / Cancel, never a hang

    // Used by the helpers.
    void Record(TUiCallKind kind, const QString& title, const QString& text);
    bool TakeConfirm();
    std::optional<QString> TakeInput();
    std::optional<QString> TakeFile();
    std::optional<std::function<void(QDialog&)>> TakeDialog();

    // The texts of the boxes of one kind, for short checks.
    QStringList Texts(TUiCallKind kind) const;

private:
    std::deque<bool> FConfirms;
    // (given, text): an optional<QString> in a deque trips a false GCC warning.
    std::deque<std::pair<bool, QString>> FInputs;
    std::deque<std::pair<bool, QString>> FFiles;
    std::deque<std::function<void(QDialog&)>> FDialogs;
    TUiScript* FPrevious;
};

// --- Error guard for every entry point from Qt ------------------------------
// Runs the handler; the program's error (or any other) is shown in the error box
// with its message trimmed. Nothing is thrown into Qt's event loop.
void ShowCaughtError(const std::exception_ptr& error, const QString& title);

template <class F>
bool Guard(F&& handler, const QString& title = QStringLiteral("Ошибка")) noexcept
{
    try {
        handler();
        return true;
    } catch (...) {
        ShowCaughtError(std::current_exception(), title);
        return false;
    }
}

// The same for handlers whose errors no window catches: they are shown as the
// top-level report (ShowTopLevelError).
template <class F>
bool TopLevelGuard(F&& handler) noexcept
{
    try {
        handler();
        return true;
    } catch (...) {
        try {
            ShowTopLevelError(ExceptionMessage(std::current_exception()));
        } catch (...) {
        }
        return false;
    }
}

// --- Field helpers -----------------------------------------------------------
// Trims the text; raises TError(message) unless it is an integer of 0 or more.
int CheckNonNegativeInt(const QString& text, const QString& message);
// Active: editable, window background; inactive: read-only, dialog face colour,
// still enabled so the text can be selected and copied.
void SetEditActive(QLineEdit* edit, bool active);
void SetCheckBoxActive(QCheckBox* box, bool active);
void SetComboActive(QComboBox* combo, bool active);
// Puts a text set by code into a field whose typed input is limited to `limit`
// characters. QLineEdit::setMaxLength also cuts text set by code, so the limit
// is widened to a longer stored text: showing a value never shortens it.
void SetLimitedText(QLineEdit* edit, const QString& text, int limit);

// --- Building windows ---------------------------------------------------------
template <class W>
W* Named(W* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// OK and Cancel ("OK", "Отмена") wired to the dialog's accept and reject.
QDialogButtonBox* MakeOkCancel(QDialog* dialog);
// The line a dialog whose fields are taken only by OK shows above its buttons
// ("SavedOnOkLabel"): when its edits are saved, and that "Отмена" drops them.
QLabel* MakeSavedOnOkNote(QDialog* dialog);

// Icons: freedesktop theme names with a style icon as the fallback.
enum class TIcon {
    None, New, Open, Save, Add, Remove, Edit, Find, Send, Start, Pause, Delete, DeleteAll, Clear, Close,
    Exit, Options, Operators, History, Templates, Queue, Translit, About, Contact, Group, AddRecipient,
    RemoveRecipient, Import, Help, Warning, Error, Information, Application
};
QIcon AppIcon(TIcon icon);

// How an action's handler reports an error: the error box titled "Ошибка",
// or the top-level report (for handlers that leave errors to the program).
enum class TErrorReport { Box, TopLevel };

// A caption as read, without its mnemonic mark: "&Удалить" -> "Удалить", "R&&D" -> "R&D".
QString WithoutMnemonic(const QString& caption);

// An action owned by `window`, its caption (with its "&" mnemonic) also its
// hint (without it), live in that window only; its handler runs inside Guard
// (or TopLevelGuard).
template <class W>
QAction* MakeAction(W* window, const char* name, const QString& caption, TIcon icon, void (W::*handler)(),
                    TErrorReport report = TErrorReport::Box)
{
    auto* action = new QAction(AppIcon(icon), caption, window);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(WithoutMnemonic(caption));
    action->setStatusTip(WithoutMnemonic(caption));
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, window, [window, handler, report] {
        if (report == TErrorReport::TopLevel)
            TopLevelGuard([&] { (window->*handler)(); });
        else
            Guard([&] { (window->*handler)(); });
    });
    return action;
}

// A toolbar of buttons with captions under 22 x 22 icons.
QToolBar* MakeToolBar(QWidget* parent, const char* name);

// A one-column list: header hidden, whole-row single selection, not editable.
QTreeView* MakeListView(QWidget* parent, const char* name);
