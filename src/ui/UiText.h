#pragma once
// The one boundary between model text (CP1251 bytes) and the windows' QString.
#include <QString>
#include <string>

QString ToQt(const std::string& cp1251);
std::string FromQt(const QString& text); // a character with no CP1251 form becomes "?"

// Line breaks: the model keeps CR LF, Qt's text widgets "\n" (a QLabel ignores a lone "\r").
QString WithLineFeeds(QString text);          // CR LF and lone CR become "\n"
QString ToQtLines(const std::string& cp1251); // ToQt, then WithLineFeeds
std::string FromQtLines(QString text);        // "\n" becomes CR LF, then FromQt
