#include "model/ContactExport.h"

#include "model/SafeFile.h"
#include "model/Text.h"

#include <unordered_map>

namespace {

// vCard text value: control characters as blanks; backslash, comma and semicolon escaped.
std::string VCardEscaped(const std::string& cp1251)
{
    std::string out;
    for (char c : Cp1251ToUtf8(ControlCharsToSpaces(cp1251))) {
        if (c == '\\' || c == ',' || c == ';')
            out += '\\';
        out += c;
    }
    return out;
}

// N's family and given names: the last word is the family name when there
// are two or more; a single word is a given name.
void SplitName(const std::string& name, std::string& family, std::string& given)
{
    const std::string text = Trim(ControlCharsToSpaces(name));
    const size_t blank = text.find_last_of(' ');
    if (blank == std::string::npos) {
        family.clear();
        given = text;
        return;
    }
    family = text.substr(blank + 1);
    given = TrimRight(std::string_view(text).substr(0, blank));
}

// Appends the line folded so that no physical line is longer than 75 octets;
// a fold never splits a UTF-8 character.
void AppendFolded(std::string& out, const std::string& line)
{
    size_t pos = 0;
    size_t room = 75;
    while (line.size() - pos > room) {
        size_t cut = pos + room;
        while (cut > pos && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line, pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        room = 74; // the leading blank counts
    }
    out.append(line, pos, std::string::npos);
    out += "\r\n";
}

std::string CsvField(const std::string& utf8)
{
    if (utf8.find_first_of(";\"\r\n,") == std::string::npos && utf8 == Trim(utf8))
        return utf8;
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace

std::vector<TExportedContact> ContactsForExport(const TGroupList& groups, const TGroup& source)
{
    std::unordered_map<const TContact*, std::vector<std::string>> memberships;
    for (const TGroup* group : groups) {
        if (dynamic_cast<const TSpecialGroup*>(group))
            continue;
        for (const TContact* contact : group->Contacts)
            memberships[contact].push_back(group->Name());
    }
    std::vector<TExportedContact> out;
    out.reserve(static_cast<size_t>(source.Contacts.Count()));
    for (const TContact* contact : source.Contacts) {
        TExportedContact e;
        e.Name = contact->Name();
        e.Phone = contact->PhoneNumber;
        e.SenderName = contact->SmsSender ? contact->SmsSender->Name() : std::string();
        if (auto found = memberships.find(contact); found != memberships.end())
            e.Groups = found->second;
        out.push_back(std::move(e));
    }
    return out;
}

std::string VCardExport(const std::vector<TExportedContact>& contacts)
{
    std::string out;
    for (const TExportedContact& c : contacts) {
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        AppendFolded(out, "FN:" + VCardEscaped(c.Name));
        std::string family, given;
        SplitName(c.Name, family, given);
        AppendFolded(out, "N:" + VCardEscaped(family) + ";" + VCardEscaped(given) + ";;;");
        AppendFolded(out, "TEL;TYPE=CELL:" + VCardEscaped(c.Phone));
        if (!c.Groups.empty()) {
            std::string line = "CATEGORIES:";
            for (size_t k = 0; k < c.Groups.size(); ++k)
                line += (k ? "," : "") + VCardEscaped(c.Groups[k]);
            AppendFolded(out, line);
        }
        out += "END:VCARD\r\n";
    }
    return out;
}

std::string CsvExport(const std::vector<TExportedContact>& contacts)
{
    std::string out = "\xEF\xBB\xBF" "Имя;Телефон;Оператор;Группы\r\n"; // the source text is UTF-8
    for (const TExportedContact& c : contacts) {
        // Groups joined by ", "; a name holding a comma or a quote goes in double quotes.
        std::string groups;
        for (size_t k = 0; k < c.Groups.size(); ++k) {
            const std::string group = ControlCharsToSpaces(c.Groups[k]);
            groups += k ? ", " : "";
            if (group.find_first_of(",\"") == std::string::npos) {
                groups += group;
                continue;
            }
            groups += '"';
            for (char ch : group)
                groups += ch == '"' ? std::string("\"\"") : std::string(1, ch);
            groups += '"';
        }
        auto field = [](const std::string& cp1251) { return CsvField(Cp1251ToUtf8(ControlCharsToSpaces(cp1251))); };
        out += field(c.Name) + ';' + field(c.Phone) + ';' + field(c.SenderName) + ';' + CsvField(Cp1251ToUtf8(groups)) + "\r\n";
    }
    return out;
}

void SaveContactExport(const std::string& path, const std::string& bytes) { SaveFileSafely(path, bytes, 0, false); }
