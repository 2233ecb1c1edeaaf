#include "ui/dialogs/SmsHistoryForm.h"

#include "model/SmsHistoryFile.h"
#include "ui/dialogs/UiHelpers.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

void TSmsHistoryForm::Execute(TSmsHistory& history, QWidget* parent)
{
    TSmsHistoryForm form(history, parent);
    if (!TopLevelGuard([&] { form.Fill(); }))
        return;
    RunDialog(form);
    form.SmsHistoryMemo->clear();
}

TSmsHistoryForm::TSmsHistoryForm(TSmsHistory& history, QWidget* parent) : QDialog(parent), FHistory(history)
{
    setObjectName(QStringLiteral("SmsHistoryForm"));
    setWindowTitle(QStringLiteral("История SMS"));
    setWindowIcon(AppIcon(TIcon::History));
    resize(680, 489);

    QToolBar* toolBar = MakeToolBar(this, "ToolBar");
    toolBar->addAction(MakeAction(this, "ClearTB", QStringLiteral("Очистить"), TIcon::Clear, &TSmsHistoryForm::ClearTBClick));
    toolBar->addSeparator();
    toolBar->addAction(MakeAction(this, "CloseTB", QStringLiteral("Закрыть"), TIcon::Close, &TSmsHistoryForm::CloseTBClick));

    SmsHistoryMemo = Named(new QPlainTextEdit(this), "SmsHistoryMemo");
    SmsHistoryMemo->setReadOnly(true);
    SmsHistoryMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    SmsHistoryMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    SmsHistoryMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SmsHistoryMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SmsHistoryMemo->setAccessibleName(windowTitle());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar);
    layout->addWidget(SmsHistoryMemo, 1);
}

void TSmsHistoryForm::Fill()
{
    SmsHistoryMemo->clear();
    QStringList lines;
    for (const std::string& line : FHistory.LoadLines())
        lines << ToQt(line);
    SmsHistoryMemo->setPlainText(lines.join(QLatin1Char('\n')));
}

void TSmsHistoryForm::ClearTBClick()
{
    if (!AskConfirmation(QStringLiteral("Очистить историю сообщений?")))
        return;
    TopLevelGuard([&] {
        FHistory.Clear();
        SmsHistoryMemo->clear();
    });
}

void TSmsHistoryForm::CloseTBClick() { reject(); }
