#include "ui/dialogs/PickerDialog.h"

#include "ui/dialogs/UiHelpers.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFrame>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

TPickerDialog::TPickerDialog(QWidget* parent, const char* name, const QString& caption, const char* listName)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QString::fromLatin1(name));
    setWindowTitle(caption);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    FList = MakeListView(this, listName);
    FList->setMinimumSize(369, 409);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* choose = buttons->addButton(QStringLiteral("Выбрать"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    choose->setDefault(true);
    choose->setObjectName(QStringLiteral("OkButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QTreeView::doubleClicked, this, &QDialog::accept);
    layout->addWidget(FList, 1);
    layout->addWidget(line);
    layout->addWidget(buttons);
    setFixedSize(QSize(386, 463).expandedTo(sizeHint()));
}

void TPickerDialog::ShowRows(QAbstractItemModel* model)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FList->setModel(model);
    QApplication::restoreOverrideCursor();
    if (model->rowCount() > 0)
        FList->selectionModel()->setCurrentIndex(model->index(0, 0),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QModelIndex TPickerDialog::SelectedIndex() const
{
    const QModelIndexList rows = FList->selectionModel() ? FList->selectionModel()->selectedRows() : QModelIndexList();
    return rows.isEmpty() ? QModelIndex() : rows.first();
}
