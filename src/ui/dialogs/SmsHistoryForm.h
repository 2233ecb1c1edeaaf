#pragma once
// The history window: the history file shown as plain text, with a command
// that empties the file. Modal, made for one viewing.
#include <QDialog>

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
    void Fill();
    void ClearTBClick();
    void CloseTBClick();

private:
    TSmsHistory& FHistory;
    QPlainTextEdit* SmsHistoryMemo = nullptr;
};
