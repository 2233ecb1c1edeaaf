#include "ui/UiText.h"

#include "model/Text.h"

QString ToQt(const std::string& cp1251)
{
    std::u16string u = Cp1251ToUtf16(cp1251);
    return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
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
