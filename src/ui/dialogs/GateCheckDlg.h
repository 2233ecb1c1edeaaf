#pragma once
// "Проверка оператора": one test message through the operator, the whole
// exchange shown step by step with the time of each step. The delivery runs
// on a worker thread (TGateCheck) while the window stays live; "Прервать",
// "Закрыть" and closing the window cancel it. "Без отправки" only builds the
// requests. Nothing of a check reaches the queue or the history.
#include <QDialog>
#include <QFutureWatcher>
#include <QTimer>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TGateCheck;
class TSmsSender;

class TGateCheckDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the dialog for the operator, modal.
    static void Execute(const TSmsSender& sender, QWidget* parent);

    TGateCheckDlg(const TSmsSender& sender, QWidget* parent);
    ~TGateCheckDlg() override; // cancels a check still under way

    void SendButtonClick() { Start(false); }
    void BuildButtonClick() { Start(true); }
    void StopButtonClick();
    void CopyButtonClick();
    bool Running() const { return FCheck != nullptr; }
    // The report as shown (and as "Копировать" puts it on the clipboard).
    QString ReportText() const;

signals:
    void CheckFinished();

public slots:
    void reject() override;

private:
    void Start(bool buildOnly);
    void ShowNewLines();
    void CheckDone();
    void UpdateButtons();
    void ContactChosen(int index);

    const TSmsSender& FSender; // the manager's; the modal dialog keeps it alive
    std::shared_ptr<TGateCheck> FCheck; // the check under way, nullptr when none
    QFutureWatcher<void> FWatcher;
    QTimer FRefresh; // shows the steps as they come
    size_t FShown = 0;

    QLineEdit* PhoneEdit = nullptr;
    QComboBox* ContactComboBox = nullptr;
    QLineEdit* TextEdit = nullptr;
    QPushButton* SendButton = nullptr;
    QPushButton* BuildButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPushButton* CopyButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QLabel* StatusLabel = nullptr;
    QPlainTextEdit* TraceMemo = nullptr;
};
