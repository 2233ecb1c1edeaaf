#pragma once
// What the operator picker and the group picker share: one sorted list of
// candidates, "Выбрать" and "Отмена"; a double-click picks at once.
#include <QDialog>

class QAbstractItemModel;
class QTreeView;

class TPickerDialog : public QDialog {
    Q_OBJECT
protected:
    TPickerDialog(QWidget* parent, const char* name, const QString& caption, const char* listName);
    // Shows the rows (busy cursor meanwhile) and marks the first one.
    void ShowRows(QAbstractItemModel* model);
    // The selected row, or an invalid index.
    QModelIndex SelectedIndex() const;

    QTreeView* FList;
};
