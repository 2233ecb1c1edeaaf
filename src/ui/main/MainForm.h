#pragma once
#include <QMainWindow>

// The main window: address book, recipients and composer.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
};
