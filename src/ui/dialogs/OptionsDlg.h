#pragma once
// The options dialog: the sending options and the data file names in three
// tabs. OK checks the port and the try count, takes every value over and saves
// both option sets; Cancel changes nothing.
#include <QDialog>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStyle;
class QTabWidget;
class QTimeEdit;

class TOptionsDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the dialog modally; true when it was closed with OK (the values
    // then taken over and both option sets saved).
    static bool Execute(QWidget* parent = nullptr);

    explicit TOptionsDlg(QWidget* parent);

    // The relay list of SmtpHostEdit and the matching address suffixes of
    // EmailFromAddressEdit; the second entry of each is the standard mailbox's.
    static const std::vector<QString>& SmtpRelays();
    static const std::vector<QString>& MailSuffixes();

    void accept() override;

    void ProxyCheckBoxClick();
    void StdEmailGateButtonClick();
    void EmailFromAddressEditCloseUp(int index);

private:
    QWidget* BuildSmsTab();
    QWidget* BuildConnectionTab();
    QWidget* BuildDirectoryTab();
    void FormShow();
    void ChooseFile(QLineEdit* edit, int filterIndex);
    void TakeOver();
    void ShowKeyringState(); // where the passwords go, under KeyringCheckBox

    QStyle* FStarMask = nullptr; // owned as a child
    QTabWidget* PageControl = nullptr;
    // "Настройки"
    QLineEdit* PrefixEdit = nullptr;
    QLineEdit* SuffixEdit = nullptr;
    QLineEdit* TryCountEdit = nullptr;
    QCheckBox* HistoryCheckBox = nullptr;
    QCheckBox* TranslitCheckBox = nullptr;
    QCheckBox* ClearMessageAfterSendCheckBox = nullptr;
    QCheckBox* ClearRecepientsAfterSendCheckBox = nullptr;
    QCheckBox* AlertOnErrorsCheckBox = nullptr;
    QCheckBox* MinimizeToTrayCheckBox = nullptr;
    QCheckBox* QuietHoursCheckBox = nullptr; // "Не отправлять с" QuietFromEdit "до" QuietToEdit
    QTimeEdit* QuietFromEdit = nullptr;
    QTimeEdit* QuietToEdit = nullptr;
    // "Соединение"
    QComboBox* SmtpHostEdit = nullptr;
    QLineEdit* SmtpUsernameEdit = nullptr;
    QLineEdit* SmtpPasswordEdit = nullptr;
    QComboBox* EmailFromAddressEdit = nullptr;
    QComboBox* SmtpSecurityComboBox = nullptr;
    QPushButton* StdEmailGateButton = nullptr;
    QCheckBox* ProxyCheckBox = nullptr;
    QLineEdit* ProxyServerEdit = nullptr;
    QLineEdit* ProxyPortEdit = nullptr;
    QCheckBox* ProxyAuthCheckBox = nullptr;
    QLineEdit* ProxyUsernameEdit = nullptr;
    QLineEdit* ProxyPasswordEdit = nullptr;
    QCheckBox* KeyringCheckBox = nullptr;
    QLabel* KeyringNoteLabel = nullptr;
    // "Расположение файлов"
    QLineEdit* AddressBookFileEdit = nullptr;
    QLineEdit* OptionsFileEdit = nullptr;
    QLineEdit* HistoryFileEdit = nullptr;
    QLineEdit* TemplatesFileEdit = nullptr;
    QLineEdit* SmsGatesFileEdit = nullptr;
    QLineEdit* TranslitFileEdit = nullptr;
};
