#include "ui/dialogs/SmsHistoryForm.h"

#include "model/SmsHistoryFile.h"
#include "ui/dialogs/UiHelpers.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

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
    FLines = FHistory.LoadLines();
    FNextLine = 0;
    AddNextLines();
}

void TSmsHistoryForm::AddNextLines()
{
    // Years of history are hundreds of thousands of lines; laying them out
    // takes seconds, so they go in pieces between the window's events.
    constexpr size_t Piece = 20000;
    const size_t end = std::min(FLines.size(), FNextLine + Piece);
    QStringList lines;
    for (size_t i = FNextLine; i < end; ++i)
        lines << ToQt(FLines[i]);
    if (FNextLine == 0) {
        SmsHistoryMemo->setPlainText(lines.join(QLatin1Char('\n')));
    } else {
        // Added at the end of the document, not at the caret: the view stays where the user is.
        QTextCursor tail(SmsHistoryMemo->document());
        tail.movePosition(QTextCursor::End);
        tail.insertText(QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
    }
    FNextLine = end;
    if (Filling())
        QTimer::singleShot(0, this, &TSmsHistoryForm::AddNextLines);
    else
        std::vector<std::string>().swap(FLines);
}

void TSmsHistoryForm::ClearTBClick()
{
    if (!AskConfirmation(QStringLiteral("Очистить историю сообщений?")))
        return;
    TopLevelGuard([&] {
        FHistory.Clear();
        std::vector<std::string>().swap(FLines); // lines still waiting are gone with the file
        FNextLine = 0;
        SmsHistoryMemo->clear();
    });
}

void TSmsHistoryForm::CloseTBClick() { reject(); }
