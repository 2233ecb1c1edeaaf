#include "ui/UiText.h"

#include "model/Text.h"

// Straight into the string: one CP1251 byte is one UTF-16 unit (the lists
// convert tens of thousands of captions as they fill).
QString ToQt(const std::string& cp1251)
{
    QString text(static_cast<qsizetype>(cp1251.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (char c : cp1251)
        *out++ = QChar(static_cast<char16_t>(Cp1251CodePoint(static_cast<unsigned char>(c))));
    return text;
}

std::string FromQt(const QString& text)
{
    return Utf16ToCp1251(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             static_cast<size_t>(text.size())));
}

QString WithLineFeeds(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString ToQtLines(const std::string& cp1251) { return WithLineFeeds(ToQt(cp1251)); }

std::string FromQtLines(QString text)
{
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return FromQt(text);
}
