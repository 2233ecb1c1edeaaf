#pragma once
// The history window: the history file shown as plain text, with a command
// that empties the file. Modal, made for one viewing.
#include <QDialog>

#include <string>
#include <vector>

class QPlainTextEdit;
class TSmsHistory;

class TSmsHistoryForm : public QDialog {
    Q_OBJECT
public:
    // Reads the history and shows it modally. A history that cannot be read
    // (nothing recorded yet, for one) is reported as the program's error and
    // no window opens.
    static void Execute(TSmsHistory& history, QWidget* parent = nullptr);

    TSmsHistoryForm(TSmsHistory& history, QWidget* parent);

    // Fills the text area from the history; raises when it cannot be read.
    // A long history shows its first lines at once and the rest is added
    // piece by piece while the window runs (nothing waits for all of it).
    void Fill();
    // Whether lines are still waiting to be added.
    bool Filling() const { return FNextLine < FLines.size(); }
    void ClearTBClick();
    void CloseTBClick();

private:
    void AddNextLines();

    TSmsHistory& FHistory;
    QPlainTextEdit* SmsHistoryMemo = nullptr;
    std::vector<std::string> FLines; // the history read, while it is being added
    size_t FNextLine = 0;
};
