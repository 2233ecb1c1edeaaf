#pragma once
// The one boundary between model text (CP1251 bytes) and the windows' QString.
#include <QString>
#include <string>

QString ToQt(const std::string& cp1251);
std::string FromQt(const QString& text); // a character with no CP1251 form becomes "?"
