#pragma once
// The transliteration dialog: a grid of the table's entries that differ from
// their own character, which "Сохранить настройки" turns back into the table
// (defaults first, then the rows, top to bottom).
#include <QDialog>

class QAction;
class QTableWidget;
class QTableWidgetItem;

class TTranslitDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the dialog modally; true when the table was changed by
    // "Сохранить настройки" (the caller then writes it to its file).
    static bool Execute(QWidget* parent = nullptr);

    explicit TTranslitDlg(QWidget* parent = nullptr);

    void SaveButtonClick();

private:
    void FormShow();
    void AddRowActionExecute();
    void DeleteRowActionExecute();
    void CharsetListEditorItemChanged(QTableWidgetItem* item);
    int AppendRow(const QString& key, const QString& value);

    QTableWidget* CharsetListEditor;
    QAction* AddRowAction;
    QAction* DeleteRowAction;
};
