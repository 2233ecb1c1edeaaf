#pragma once
// The composer's text box and the rules of the composed text. The box keeps
// Qt's "\n" line breaks; at its boundary the text is CP1251 with CR LF line
// breaks, so lengths and caret positions count a line break as two characters.
#include "model/MessageText.h"

#include <QPlainTextEdit>

#include <string>

// "N (K SMS)": N characters of the message, K the 160-character pieces it needs.
std::string CharCounterText(int length);

class TMessageMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int MaxLength = MaxMessageLength; // typing and paste only

    explicit TMessageMemo(QWidget* parent = nullptr);

    // CP1251 text with CR LF line breaks.
    std::string Text() const;
    // Not limited to MaxLength: templates, a new message and transliteration set it.
    void SetText(const std::string& text);
    // Length of Text().
    int Length() const;
    // Characters before the start of the selection (or the caret), CR LF counted as two.
    int SelStart() const;
    // Puts the caret, no selection, at a position counted as in SelStart.
    void SetSelStart(int position);
    // Inserts at a position (counted as in SelStart), no length limit.
    void InsertAt(int position, const std::string& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Characters that may still be typed or pasted in place of the selection.
    int Room() const;
};
