#pragma once
// The group editor: names a new group or renames one. The group changes only
// when OK is pressed and every check passes; nothing is added to the address book.
#include <QDialog>

class QLineEdit;
class TGroup;

class TGroupEditor : public QDialog {
    Q_OBJECT
public:
    // True when closed with OK (the group then carries the new name).
    static bool Execute(TGroup* group, bool creating, QWidget* parent = nullptr);

    TGroupEditor(TGroup* group, bool creating, QWidget* parent);
    void accept() override; // a refusal shows its box and keeps the dialog open

private:
    TGroup* FGroup; // the caller's
    QLineEdit* NameEdit;
};
