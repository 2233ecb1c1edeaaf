#include "ui/dialogs/TranslitDlg.h"

#include "model/Translit.h"
#include "ui/dialogs/UiHelpers.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace {
constexpr int KeyColumn = 0;
constexpr int ValueColumn = 1;
// Key cell: the byte the row was filled with (-1 for a row the user added)
// and the key text last accepted. Value cell: the entry the row was filled with.
constexpr int ByteRole = Qt::UserRole + 1;
constexpr int AcceptedKeyRole = Qt::UserRole + 2;
constexpr int EntryRole = Qt::UserRole + 3;
} // namespace

bool TTranslitDlg::Execute(QWidget* parent)
{
    TTranslitDlg dialog(parent);
    return RunDialog(dialog) == QDialog::Accepted;
}

TTranslitDlg::TTranslitDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TranslitDlg"));
    setWindowTitle(QStringLiteral("Настройка транслитерации"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    CharsetListEditor = Named(new QTableWidget(0, 2, this), "CharsetListEditor");
    CharsetListEditor->setHorizontalHeaderLabels({QStringLiteral("Символ"), QStringLiteral("Транслитерация")});
    CharsetListEditor->verticalHeader()->hide();
    CharsetListEditor->verticalHeader()->setDefaultSectionSize(CharsetListEditor->fontMetrics().height() + 6);
    CharsetListEditor->setColumnWidth(KeyColumn, 73);
    CharsetListEditor->horizontalHeader()->setStretchLastSection(true);
    CharsetListEditor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    CharsetListEditor->setSelectionMode(QAbstractItemView::SingleSelection);
    CharsetListEditor->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                       QAbstractItemView::AnyKeyPressed);
    CharsetListEditor->setAccessibleName(QStringLiteral("Таблица транслитерации"));

    // Rows are added with Insert and deleted with Ctrl+Delete, or from the grid's menu.
    AddRowAction = MakeAction(this, "AddRowAction", QStringLiteral("Добавить строку"), TIcon::Add,
                              &TTranslitDlg::AddRowActionExecute);
    AddRowAction->setShortcut(Qt::Key_Insert);
    DeleteRowAction = MakeAction(this, "DeleteRowAction", QStringLiteral("Удалить строку"), TIcon::Remove,
                                 &TTranslitDlg::DeleteRowActionExecute);
    DeleteRowAction->setShortcut(Qt::CTRL | Qt::Key_Delete);
    CharsetListEditor->setContextMenuPolicy(Qt::ActionsContextMenu);
    CharsetListEditor->addAction(AddRowAction);
    CharsetListEditor->addAction(DeleteRowAction);

    auto* save = Named(new QPushButton(QStringLiteral("Сохранить настройки"), this), "SaveButton");
    save->setDefault(true);
    auto* cancel = Named(new QPushButton(QStringLiteral("Не сохранять"), this), "CancelButton");
    connect(save, &QPushButton::clicked, this, [this] { Guard([&] { SaveButtonClick(); }); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CharsetListEditor, 1);
    layout->addLayout(buttons);
    setFixedSize(290, 530);

    FormShow();
    connect(CharsetListEditor, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { Guard([&] { CharsetListEditorItemChanged(item); }); });
}

int TTranslitDlg::AppendRow(const QString& key, const QString& value)
{
    const int row = CharsetListEditor->rowCount();
    CharsetListEditor->insertRow(row);
    auto* keyItem = new QTableWidgetItem(key);
    keyItem->setData(ByteRole, -1);
    keyItem->setData(AcceptedKeyRole, key);
    CharsetListEditor->setItem(row, KeyColumn, keyItem);
    CharsetListEditor->setItem(row, ValueColumn, new QTableWidgetItem(value));
    return row;
}

// One row per byte whose entry is not the byte itself, in byte order; the value shown trimmed.
void TTranslitDlg::FormShow()
{
    const TTranslitTable& table = TranslitTable();
    for (int code = 0; code < 256; ++code) {
        const std::string self(1, static_cast<char>(code));
        if (table[code] == self)
            continue;
        const int row = AppendRow(ToQt(self), ToQt(Trim(table[code])));
        CharsetListEditor->item(row, KeyColumn)->setData(ByteRole, code);
        CharsetListEditor->item(row, ValueColumn)->setData(EntryRole, QByteArray::fromStdString(table[code]));
    }
    if (CharsetListEditor->rowCount() > 0)
        CharsetListEditor->setCurrentCell(0, ValueColumn);
}

// A key another row already has (letter case counts), one holding "=", or one
// the code page cannot hold (it would be saved as the entry of "?") is refused.
void TTranslitDlg::CharsetListEditorItemChanged(QTableWidgetItem* item)
{
    if (item->column() != KeyColumn)
        return;
    const QString key = item->text();
    QString refusal;
    if (key.contains(QLatin1Char('=')))
        refusal = QStringLiteral("Символ не может содержать знак \"=\".");
    else if (ToQt(FromQt(key)) != key)
        refusal = QStringLiteral("Символа \"%1\" нет в кодировке Windows-1251.").arg(key);
    for (int row = 0; refusal.isEmpty() && !key.isEmpty() && row < CharsetListEditor->rowCount(); ++row) {
        QTableWidgetItem* other = CharsetListEditor->item(row, KeyColumn);
        if (row != item->row() && other && other->text() == key)
            refusal = QStringLiteral("Символ \"%1\" уже есть в таблице.").arg(key);
    }
    if (refusal.isEmpty()) {
        item->setData(AcceptedKeyRole, key);
        return;
    }
    {
        QSignalBlocker quiet(CharsetListEditor);
        item->setText(item->data(AcceptedKeyRole).toString());
    }
    ShowErrorBox(refusal);
}

void TTranslitDlg::AddRowActionExecute()
{
    const int row = AppendRow(QString(), QString());
    CharsetListEditor->setCurrentCell(row, KeyColumn);
    CharsetListEditor->editItem(CharsetListEditor->item(row, KeyColumn));
}

void TTranslitDlg::DeleteRowActionExecute()
{
    const int row = CharsetListEditor->currentRow();
    if (row >= 0)
        CharsetListEditor->removeRow(row);
}

// Defaults, then each row's entry: its key trimmed must be one character.
// A row left as it was shown keeps its entry exactly, untrimmed: the
// hyphen-minus's default blank, shown empty, stays a blank.
void TTranslitDlg::SaveButtonClick()
{
    TTranslitTable table = DefaultTranslitTable();
    std::set<unsigned char> taken; // the first row with a key wins
    for (int row = 0; row < CharsetListEditor->rowCount(); ++row) {
        const QTableWidgetItem* keyItem = CharsetListEditor->item(row, KeyColumn);
        const QTableWidgetItem* valueItem = CharsetListEditor->item(row, ValueColumn);
        if (!keyItem)
            continue;
        const int filledByte = keyItem->data(ByteRole).toInt();
        const bool keyAsShown = filledByte >= 0 && keyItem->text() == ToQt(std::string(1, static_cast<char>(filledByte)));
        const std::string key = keyAsShown ? std::string(1, static_cast<char>(filledByte)) : Trim(FromQt(keyItem->text()));
        if (key.size() != 1)
            continue;
        const unsigned char code = static_cast<unsigned char>(key[0]);
        if (!taken.insert(code).second)
            continue;
        const QString value = valueItem ? valueItem->text() : QString();
        const std::string entry = valueItem ? valueItem->data(EntryRole).toByteArray().toStdString() : std::string();
        const bool valueAsShown = keyAsShown && valueItem && valueItem->data(EntryRole).isValid() && value == ToQt(Trim(entry));
        table[code] = valueAsShown ? entry : Trim(FromQt(value));
    }
    TranslitTable() = table;
    accept();
}
