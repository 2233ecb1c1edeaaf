#include "ui/main/MessageMemo.h"

#include "model/Text.h"
#include "ui/UiText.h"

#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

#include <algorithm>

std::string CharCounterText(int length)
{
    const int pieces = (length + 159) / 160;
    return IntToStr(length) + " (" + IntToStr(pieces) + " SMS)";
}

namespace {

bool IsBreak(QChar c) { return c == QChar('\n') || c == QChar(QChar::ParagraphSeparator); }

// Length of a piece of the box's text at the boundary: a line break is CR LF,
// a surrogate pair one CP1251 character ("?").
int ModelLength(QStringView text)
{
    int length = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsBreak(text[i]))
            length += 2;
        else {
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            ++length;
        }
    }
    return length;
}

// The longest start of `text` whose ModelLength is at most `room`.
QString LeftByModelLength(const QString& text, int room)
{
    int length = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const int need = IsBreak(text[i]) ? 2 : 1;
        if (length + need > room)
            break;
        length += need;
        i += pair ? 2 : 1;
    }
    return text.left(i);
}

// Position in the box's text of a boundary position (inside a CR LF: after it).
int QtPosition(const QString& text, int position)
{
    int length = 0;
    qsizetype i = 0;
    while (i < text.size() && length < position) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        length += IsBreak(text[i]) ? 2 : 1;
        i += pair ? 2 : 1;
    }
    return static_cast<int>(i);
}

} // namespace

TMessageMemo::TMessageMemo(QWidget* parent) : QPlainTextEdit(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, colours.color(QPalette::ToolTipBase));
    colours.setColor(QPalette::Text, colours.color(QPalette::ToolTipText));
    setPalette(colours);
}

std::string TMessageMemo::Text() const
{
    return FromQtLines(toPlainText());
}

void TMessageMemo::SetText(const std::string& text) { setPlainText(ToQtLines(text)); }

int TMessageMemo::Length() const { return ModelLength(toPlainText()); }

int TMessageMemo::SelStart() const
{
    return ModelLength(QStringView(toPlainText()).left(textCursor().selectionStart()));
}

void TMessageMemo::SetSelStart(int position)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(QtPosition(toPlainText(), position));
    setTextCursor(cursor);
}

void TMessageMemo::InsertAt(int position, const std::string& text)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(QtPosition(toPlainText(), position));
    cursor.insertText(ToQtLines(text));
}

int TMessageMemo::Room() const
{
    return MaxLength - (Length() - ModelLength(textCursor().selectedText()));
}

void TMessageMemo::keyPressEvent(QKeyEvent* event)
{
    const bool lineBreak = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text[0] >= QChar(' ') && text[0] != QChar(0x7F) &&
                           !(event->modifiers() & Qt::ControlModifier);
    if ((lineBreak || printable) && (lineBreak ? 2 : ModelLength(text)) > Room()) {
        event->accept(); // over the limit: the key is swallowed
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TMessageMemo::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    const QString allowed = LeftByModelLength(commit, std::max(0, Room()));
    if (allowed.size() == commit.size()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent cut(event->preeditString(), event->attributes());
    cut.setCommitString(allowed, event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&cut);
}

void TMessageMemo::insertFromMimeData(const QMimeData* source)
{
    if (!source || !source->hasText())
        return;
    const QString text = WithLineFeeds(source->text());
    const QString allowed = LeftByModelLength(text, std::max(0, Room()));
    if (!allowed.isEmpty())
        insertPlainText(allowed);
}
