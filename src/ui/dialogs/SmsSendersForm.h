#pragma once
// The operators window: the manager's operators listed by name, the selected
// one edited in place (every field written back as it changes; the name and
// the reply patterns when their field is left, and shortly after typing in
// them when the value is one that can be taken), operators added, imported from another operators file
// and deleted. One instance per run, modeless, hidden when closed; closing
// writes the operators file.
#include "ui/ObjectListModel.h"

#include "ui/WindowPlacement.h"

#include <QWidget>

#include <string>
#include <utility>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QTreeView;
class TSmsSender;
class TStdSmsSender;

// Its placement is stored under the window name "SmsSendersForm".
class TSmsSendersForm : public QWidget, public TPlacedWidget {
    Q_OBJECT
public:
    // Creates the window (child of `mainWindow`, its own top-level window) if
    // it does not exist yet, shows it and brings it to the front.
    static void Open(QWidget* mainWindow);
    // The one window, created hidden when needed (placement restore and save).
    static TSmsSendersForm* Instance(QWidget* mainWindow);
    // The window if it exists, else nullptr.
    static TSmsSendersForm* Existing();
    // Start-up: a window restored as visible before the operators were read
    // shows them once they are loaded.
    static void RefillIfVisible();

    explicit TSmsSendersForm(QWidget* mainWindow);

    // Fills the list anew from the manager's operators; no row is selected.
    void FillList();
    // The operator the editor shows, or nullptr.
    TStdSmsSender* SelectedSender() const { return FSender; }

    // Actions and handlers (also reachable by the toolbar and Ctrl+N).
    void AddActionExecute();
    void AddFromFileActionExecute();
    void DeleteActionExecute();
    // "Проверить...": the check dialog for the selected operator.
    void CheckActionExecute();
    void CloseTBClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildEditor(QWidget* panel);
    TSmsSender* CurrentRowSender() const;
    void SelectSender(const TSmsSender* sender);
    void SelectSortedRow(int row);
    void SmsSendersListViewSelectItem();
    void RefreshEditor();
    // `quiet`: a value that cannot be taken is left as typed, without a word
    // (the field is still being typed in); else it is refused with a box.
    bool NameEditExit(bool quiet = false);
    bool PatternEditExit(QLineEdit* edit, std::string TStdSmsSender::*member, bool quiet = false);
    std::vector<std::pair<QLineEdit*, std::string TStdSmsSender::*>> PatternFields() const;
    // The fields written back when they are left (the name, the reply patterns).
    bool CommitField(QObject* field, bool quiet = false);
    void CommitFocusedField();
    // Typing in such a field: it is taken (quietly) CommitDelayMs after the
    // first key, so that it reaches the disk while the cursor stays in it.
    void FieldTyped(QLineEdit* edit);
    static constexpr int CommitDelayMs = 700;
    // Runs a write-back when an operator is shown; its errors are not the window's.
    template <class F>
    void WriteBack(F&& write);

    QAction* AddAction = nullptr;
    QAction* AddFromFileAction = nullptr;
    QAction* DeleteAction = nullptr;
    QAction* CheckAction = nullptr;
    QAction* CloseAction = nullptr;
    QTreeView* SmsSendersListView = nullptr;
    QWidget* EditorPanel = nullptr;
    QLabel* EmptyHintLabel = nullptr; // how to add an operator, while there is none
    QLineEdit* NameEdit = nullptr;
    QLineEdit* WebGateEdit = nullptr;
    QLineEdit* EmailGateEdit = nullptr;
    QLineEdit* EmailSubjEdit = nullptr;
    QLineEdit* EmailBodyEdit = nullptr;
    QLineEdit* ReplyOkPatternEdit = nullptr;
    QLineEdit* ReplyTempFailPatternEdit = nullptr;
    QLineEdit* ReplyPermFailPatternEdit = nullptr;
    // "Статус доставки": by query (the id pattern, the status URL, the three
    // verdict patterns) or by Kannel's reports.
    QLineEdit* StatusIdPatternEdit = nullptr;
    QLineEdit* StatusUrlEdit = nullptr;
    QLineEdit* StatusDeliveredPatternEdit = nullptr;
    QLineEdit* StatusFailedPatternEdit = nullptr;
    QLineEdit* StatusPendingPatternEdit = nullptr;
    QCheckBox* DlrReportsCheckBox = nullptr;
    QComboBox* GateTypeComboBox = nullptr;
    QLineEdit* MaxSmsLenEdit = nullptr;
    QLineEdit* MinSendIntervalEdit = nullptr;
    QLineEdit* DailyLimitEdit = nullptr;
    QLineEdit* TimeoutEdit = nullptr;
    QComboBox* CharsetComboBox = nullptr;
    QCheckBox* TranslitCheckBox = nullptr;
    QPlainTextEdit* NotesMemo = nullptr;

    TObjectListModel<TSmsSender>* FModel = nullptr;
    TCollatedSortModel* FSorted = nullptr;
    TStdSmsSender* FSender = nullptr; // the operator the editor shows (the list's)
    bool FSelecting = false;          // selection changed by the window itself
    bool FShowing = false;            // the editor is being filled from the operator
    int FNotesLimit = 0;              // typed-length limit of NotesMemo
    QTimer* FCommitSoon = nullptr;    // takes FTyped a moment after typing in it
    QLineEdit* FTyped = nullptr;
};
