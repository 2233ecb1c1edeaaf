#include "ui/dialogs/SmsTemplatesForm.h"

#include "engine/SmsManager.h"
#include "model/SmsTemplateList.h"
#include "ui/dialogs/UiHelpers.h"

#include <QFontDatabase>
#include <QListWidget>
#include <QPointer>
#include <QShowEvent>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
QPointer<TSmsTemplatesForm> TheForm;
constexpr int RowHeight = 16;
} // namespace

TSmsTemplatesForm* TSmsTemplatesForm::Instance(QWidget* mainWindow)
{
    if (!TheForm)
        TheForm = new TSmsTemplatesForm(mainWindow);
    return TheForm;
}

TSmsTemplatesForm* TSmsTemplatesForm::Existing() { return TheForm; }

void TSmsTemplatesForm::Open(TSmsTemplateList& templates, QWidget* mainWindow)
{
    TSmsTemplatesForm* form = Instance(mainWindow);
    form->FTemplates = &templates;
    form->show();
    form->raise();
    form->activateWindow();
    form->TemplatesListBox->setFocus(Qt::OtherFocusReason);
}

TSmsTemplatesForm::TSmsTemplatesForm(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window), TPlacedWidget(this, "SmsTemplatesForm", true)
{
    setObjectName(QStringLiteral("SmsTemplatesForm"));
    setWindowTitle(QStringLiteral("Шаблоны SMS"));
    setWindowIcon(AppIcon(TIcon::Templates));
    resize(405, 480);

    QToolBar* toolBar = MakeToolBar(this, "ToolBar");
    toolBar->addAction(MakeAction(this, "InsertTB", QStringLiteral("Вставить"), TIcon::Send,
                                  &TSmsTemplatesForm::InsertTBClick));
    toolBar->addSeparator();
    toolBar->addAction(MakeAction(this, "AddTB", QStringLiteral("Добавить"), TIcon::Add, &TSmsTemplatesForm::AddTBClick));
    toolBar->addAction(MakeAction(this, "EditTB", QStringLiteral("Изменить"), TIcon::Edit, &TSmsTemplatesForm::EditTBClick));
    toolBar->addAction(MakeAction(this, "DeleteTB", QStringLiteral("Удалить"), TIcon::Remove,
                                  &TSmsTemplatesForm::DeleteTBClick));
    toolBar->addSeparator();
    toolBar->addAction(MakeAction(this, "CloseTB", QStringLiteral("Закрыть"), TIcon::Close, &TSmsTemplatesForm::CloseTBClick));

    TemplatesListBox = Named(new QListWidget(this), "TemplatesListBox");
    TemplatesListBox->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    TemplatesListBox->setUniformItemSizes(true);
    TemplatesListBox->setAccessibleName(windowTitle());
    connect(TemplatesListBox, &QListWidget::itemDoubleClicked, this, [this] { Guard([&] { InsertTBClick(); }); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(TemplatesListBox, 1);
}

void TSmsTemplatesForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        Guard([&] { FillList(); });
}

void TSmsTemplatesForm::FillList()
{
    TemplatesListBox->clear();
    if (!FTemplates) // made visible by the placement restore
        FTemplates = &SmsManager().Templates;
    for (const std::string& line : FTemplates->Lines()) {
        auto* item = new QListWidgetItem(ToQt(line), TemplatesListBox);
        item->setSizeHint(QSize(0, RowHeight));
    }
}

int TSmsTemplatesForm::SelectedRow() const
{
    QListWidgetItem* item = TemplatesListBox->currentItem();
    return item && item->isSelected() ? TemplatesListBox->row(item) : -1;
}

// A failed save is no refusal: the change stays in the list and in memory.
void TSmsTemplatesForm::Save()
{
    TopLevelGuard([&] { FTemplates->SaveToFile(); });
}

void TSmsTemplatesForm::InsertTBClick()
{
    const int row = SelectedRow();
    if (row >= 0 && FTemplates)
        FTemplates->InsertTemplate(row);
}

void TSmsTemplatesForm::AddTBClick()
{
    std::optional<QString> text = AskText(QStringLiteral("Создание шаблона SMS"), QString(), QString());
    if (!text || !FTemplates)
        return;
    const int index = FTemplates->Add(FromQt(*text));
    auto* item = new QListWidgetItem(ToQt(FTemplates->Get(index)), TemplatesListBox);
    item->setSizeHint(QSize(0, RowHeight));
    Save();
}

void TSmsTemplatesForm::EditTBClick()
{
    const int row = SelectedRow();
    if (row < 0 || !FTemplates)
        return;
    const QString current = ToQt(FTemplates->Get(row));
    std::optional<QString> text = AskText(QStringLiteral("Изменение шаблона SMS"), current, current);
    if (!text)
        return;
    FTemplates->Put(row, FromQt(*text));
    TemplatesListBox->item(row)->setText(ToQt(FTemplates->Get(row)));
    Save();
}

void TSmsTemplatesForm::DeleteTBClick()
{
    const int row = SelectedRow();
    if (row < 0 || !FTemplates)
        return;
    if (!AskConfirmation(QStringLiteral("Удалить выбранный шаблон SMS?")))
        return;
    FTemplates->Delete(row);
    delete TemplatesListBox->takeItem(row);
    TemplatesListBox->setCurrentRow(-1); // no row stays selected
    TemplatesListBox->clearSelection();
    Save();
}

void TSmsTemplatesForm::CloseTBClick() { close(); }
