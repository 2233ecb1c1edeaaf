#pragma once
// The import preview: the rows found, what each will become, and the
// choices (operator, group, what to do with a name the book has); OK carries
// the import out on the address book and marks it changed.
#include "engine/ContactImportApply.h"
#include "model/ContactImport.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;
class TImportRowsModel;

class TContactImportDialog : public QDialog {
public:
    // The result of the import, or nullopt when cancelled. `forRecipients`: the
    // rows are a paste into the recipients (the contacts the book has under a
    // row's number become recipients too, and the preview says so).
    static std::optional<TImportResult> Execute(TImportSource source, QWidget* parent = nullptr, bool forRecipients = false);

    // `plan`: the plan already made (off the window's thread) for the first
    // choices, from `book`, the copy of the book it was made from.
    TContactImportDialog(TImportSource source, QWidget* parent, bool forRecipients = false,
                         std::optional<TImportPlan> plan = std::nullopt, std::shared_ptr<const TImportBook> book = nullptr);
    void accept() override;
    const TImportPlan& Plan() const { return FPlan; }
    const TImportResult& Result() const { return FResult; }

private:
    TImportOptions Options() const;
    // Plans anew (and, with `csvRows`, makes the CSV rows anew first): a big
    // import off the window's thread under a progress window whose "Отмена"
    // closes the preview without importing.
    void Replan(bool csvRows = false);
    void ShowPlan();
    void ColumnsChosen();
    // Carries out the plan; false when the user stopped it (nothing changed).
    bool Apply();

    TImportSource FSource;
    std::shared_ptr<const TImportBook> FBook; // what the plan compares with
    int FBookCount = 0;                       // the book's size when it was copied
    int FGuessedFirstName = -1, FGuessedMiddleName = -1, FGuessedLastName = -1; // the columns of the joined choice
    TImportPlan FPlan;
    TImportResult FResult;
    TImportRowsModel* FModel;
    QComboBox* NameColumnCombo = nullptr;
    QComboBox* PhoneColumnCombo = nullptr;
    QTableView* RowsView;
    QComboBox* SenderCombo;
    QComboBox* GroupCombo;
    QRadioButton* SkipRadio;
    QRadioButton* UpdateRadio;
    QRadioButton* AddNumberedRadio;
    QLabel* CountsLabel;
    QPushButton* OkButton;
};

// The whole import of a file: the file is read and planned on a worker thread
// under a progress window with "Отмена", then the preview; a big import is
// carried out in short slices under a progress window too. nullopt when
// cancelled or refused (the refusal is shown in a box); the book is then unchanged.
std::optional<TImportResult> ImportContactsFromFile(QWidget* parent, const QString& path);
// The same for pasted text (a vCard, a table with a header row, else a list
// of numbers), read at once.
std::optional<TImportResult> ImportContactsFromText(QWidget* parent, const QString& text);
// Whether pasted text holds a phone number or a vCard.
bool TextHasContacts(const QString& text);
// Writes the members of `group` (every contact for the all-contacts group) to
// a file the user picks: ".csv" gives CSV, anything else vCard.
void ExportContacts(const TGroup* group);

// Tests: called on the worker thread at the start of each stage (the file read
// and planned, a plan made anew), with the cancel flag.
void SetImportWorkerHook(std::function<void(const std::atomic<bool>& cancel)> hook);
