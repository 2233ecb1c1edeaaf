#pragma once
// The templates window: the message templates in their order, added, changed
// and deleted (the file is saved after each change), and the chosen one handed
// to the composer through the templates list's insert notification. One
// instance per run, modeless, hidden when closed.
#include "ui/WindowPlacement.h"

#include <QWidget>

class QAction;
class QListWidget;
class TSmsTemplateList;

// Its placement is stored under the window name "SmsTemplatesForm".
class TSmsTemplatesForm : public QWidget, public TPlacedWidget {
    Q_OBJECT
public:
    // Creates the window (child of `mainWindow`, its own top-level window) if
    // it does not exist yet, binds it to `templates`, shows it and gives it
    // the keyboard focus.
    static void Open(TSmsTemplateList& templates, QWidget* mainWindow);
    // The one window, created hidden when needed (placement restore and save).
    static TSmsTemplatesForm* Instance(QWidget* mainWindow);
    static TSmsTemplatesForm* Existing();

    explicit TSmsTemplatesForm(QWidget* mainWindow);

    void InsertTBClick();
    void AddTBClick();
    void EditTBClick();
    void DeleteTBClick();
    void CloseTBClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FillList();
    int SelectedRow() const;
    void Save();

    QListWidget* TemplatesListBox = nullptr;
    TSmsTemplateList* FTemplates = nullptr; // the manager's, not owned
};
