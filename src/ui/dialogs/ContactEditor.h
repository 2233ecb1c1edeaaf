#pragma once
// The contact editor: name, phone number and operator of a contact. The
// contact changes only when OK is pressed and every check passes; nothing is
// added to the address book. The phone is kept as typed (formatting included);
// one with letters or fewer than three digits is refused on OK.
#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QToolButton;
class TContact;
class TSmsSender;

class TContactEditor : public QDialog {
    Q_OBJECT
public:
    // True when closed with OK (the contact then carries the new values).
    static bool Execute(TContact* contact, bool creating, QWidget* parent = nullptr);

    TContactEditor(TContact* contact, bool creating, QWidget* parent);
    void accept() override; // a refusal shows its box and keeps the dialog open

    void SmsSenderButtonClick();

private:
    void ShowSmsSender();

    TContact* FContact;             // the caller's
    TSmsSender* FSmsSender;         // the chosen operator, written to the contact on OK
    QLineEdit* NameEdit;
    QLineEdit* PhoneNumberEdit;
    QLineEdit* SmsSenderEdit;
    QToolButton* SmsSenderButton;
    QPlainTextEdit* NotesMemo;
};
