#pragma once
// The about box: the program's purpose, version and home page.
#include <QDialog>

class QLabel;

class TAboutDialog : public QDialog {
    Q_OBJECT
public:
    // Creates the box, runs it modally, destroys it.
    static void Execute(QWidget* parent = nullptr);

    explicit TAboutDialog(QWidget* parent = nullptr);

    static QString HomePage();

    // The home page in the user's browser.
    void Label4Click();

private:
    QLabel* Label4;
};
