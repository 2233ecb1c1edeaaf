#pragma once
// The history window: the records of the history file in a list that a
// search and filters (contact, failed only, a date range) narrow down, the
// selected record in full below it, "Повторить" for a failed message, export
// of the shown records to CSV and a command that empties the file. One
// window per run, modeless (the program keeps working while it is open);
// closing only hides it.
#include "model/DeliveryStatus.h"
#include "model/SmsHistoryIndex.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTreeView;
class TSmsHistory;
class THistoryRowsModel;

class TSmsHistoryForm : public QWidget {
    Q_OBJECT
public:
    // Creates the window (child of `mainWindow`, its own top-level window) or
    // takes the open one, reads the history anew and brings it to the front;
    // `failedOnly` sets the failed-only filter, `at` selects the last record
    // with its date, addressee and text. A history that cannot be read
    // (nothing recorded yet, for one) is reported as the program's error and
    // no window opens: then nullptr.
    static TSmsHistoryForm* Open(TSmsHistory& history, QWidget* mainWindow, bool failedOnly = false,
                                 const TSmsHistoryRecord* at = nullptr);
    // The window if it exists, else nullptr.
    static TSmsHistoryForm* Existing();

    TSmsHistoryForm(TSmsHistory& history, QWidget* parent);
    ~TSmsHistoryForm() override;

    // Reads the history; raises when it cannot be read. A long history shows
    // its first records at once and the rest are added piece by piece while
    // the window runs (nothing waits for all of it).
    void Fill();
    // Whether lines are still waiting to be read.
    bool Filling() const { return FNextLine < FLines.size(); }
    const TSmsHistoryIndex& Index() const { return FIndex; }
    // The positions in Index() of the records shown, in order.
    const std::vector<int>& Shown() const;

    // The filter from the controls, applied to every record read so far.
    void ApplyFilter();
    // Selects the last shown record with the same date, addressee and text.
    bool SelectRecord(const TSmsHistoryRecord& record);

    void RetryTBClick();
    void ExportTBClick();
    void ClearTBClick();
    void CloseTBClick();

signals:
    // "Повторить" put a message in the queue.
    void SmsQueued();

private:
    void AddNextLines();
    // A record the history got while the window is open: shown at once when the filter takes it.
    void RecordAdded(const std::vector<std::string>& lines);
    void FillContacts();
    void ShowSelected();
    void UpdateStatus();
    const TSmsHistoryRecord* SelectedRecord() const;
    // The delivery states beside the history, read again (the program's own
    // while it follows them); the "Доставка" column shows them.
    void ReadDeliveryStates();
    // Leaves out of `rows` those the "Не доставленные" box does not let through.
    void KeepNotDelivered(std::vector<int>& rows) const;

    TSmsHistory& FHistory;
    TSmsHistoryIndex FIndex;
    TSmsHistoryFilter FFilter;
    std::vector<std::string> FLines; // the history read, while it is being indexed
    size_t FNextLine = 0;
    std::optional<TSmsHistoryRecord> FSelectWhenRead;
    TDeliveryBook FStates;
    bool FNotDeliveredApplied = false;

    QAction* RetryTB = nullptr;
    QLineEdit* SearchEdit = nullptr;
    QComboBox* ContactComboBox = nullptr;
    QCheckBox* FailedOnlyCheckBox = nullptr;
    QCheckBox* NotDeliveredCheckBox = nullptr;
    QCheckBox* PeriodCheckBox = nullptr;
    QDateEdit* FromDateEdit = nullptr;
    QDateEdit* ToDateEdit = nullptr;
    QTreeView* HistoryListView = nullptr;
    QPlainTextEdit* SmsHistoryMemo = nullptr;
    QLabel* StatusLabel = nullptr;
    THistoryRowsModel* FRows = nullptr;
};
