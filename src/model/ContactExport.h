#pragma once
// Contacts written out for other programs: vCard 3.0 and CSV, both UTF-8.
#include "model/AddressBook.h"

#include <string>
#include <vector>

// One contact as it is written out (CP1251 texts).
struct TExportedContact {
    std::string Name;
    std::string Phone;
    std::string SenderName;
    std::vector<std::string> Groups; // the ordinary groups it is in, in the order of the group list
};

// The members of `source` in their order (every contact for the all-contacts
// group), each with the names of the ordinary groups of `groups` it belongs to.
std::vector<TExportedContact> ContactsForExport(const TGroupList& groups, const TGroup& source);

// vCard 3.0: FN (the name whole), N (the last word as the family name),
// TEL;TYPE=CELL and CATEGORIES (the groups), lines folded at 75 octets, CR LF.
// Control characters in the texts are written as blanks.
std::string VCardExport(const std::vector<TExportedContact>& contacts);
// CSV with a byte-order mark: "Имя;Телефон;Оператор;Группы", groups joined by
// ", " (a group name with a comma or a quote in double quotes).
std::string CsvExport(const std::vector<TExportedContact>& contacts);
// Writes an export through the safe save (no backup generation: it is not a data file).
void SaveContactExport(const std::string& path, const std::string& bytes);
