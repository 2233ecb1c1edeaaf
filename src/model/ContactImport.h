#pragma once
// Contacts brought in from other programs: vCard files (2.1, 3.0, 4.0), CSV
// files with a header row, and plain lists of numbers; then the plan of what an
// import would do to the address book. Texts here are CP1251 like the rest of
// the model; the readers take the file's bytes as they are.
#include "model/AddressBook.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A file larger than this is refused before it is read.
constexpr std::uint64_t MaxImportFileSize = 100ull * 1024 * 1024;

// One contact found in the source.
struct TImportedContact {
    int Line = 0;                    // where it starts in the source (1-based)
    std::string Name;                // empty: the contact is named by its phone
    std::string Phone;               // as written (the first mobile one when there are several)
    std::vector<std::string> Phones; // every number the source gave
    std::vector<std::string> Groups;
    std::string SenderName;          // the operator the source names, if any
    std::string Refusal;             // why it cannot be imported; empty when it can
};

enum class TImportFormat { VCard, Csv, PlainList };

// A column a known export writes phone numbers in (several in one cell are
// separated by " ::: ", as Google writes them).
struct TCsvPhoneColumn {
    int Value = -1;      // the numbers
    int Type = -1;       // the column with their kind ("Phone 1 - Type", "Phone 1 - Label"), or -1
    bool Mobile = false; // the column's own name says mobile
};

// How a groups cell lists its groups.
enum class TCsvGroupsSplit {
    Comma,     // "Группы": "Коллеги, Друзья", a name with a comma in double quotes
    Semicolon, // Outlook's "Categories": "Семья;Друзья"
    Google,    // "Group Membership", "Labels": "* myContacts ::: Семья", system groups ("*") left out
};

// PhoneColumn's choice of every phone column of a row: the mobile, else the first.
constexpr int CsvMobileElseFirst = -3;

// A CSV file's columns and which of them give the name and the phone.
struct TCsvTable {
    std::vector<std::string> Headers;            // CP1251 (unmappable characters as "?")
    std::vector<std::vector<std::string>> Cells; // UTF-8, one vector per data row
    std::vector<int> RowLines;                   // the line each data row starts on
    int NameColumn = -1;
    int MiddleNameColumn = -1; // with NameColumn and LastNameColumn: first, middle and last name joined
    int LastNameColumn = -1;   // with NameColumn: "first name" + "last name"
    int PhoneColumn = -1;      // a column, or CsvMobileElseFirst
    std::vector<TCsvPhoneColumn> PhoneColumns; // every phone column, in the file's order
    int GroupsColumn = -1;
    TCsvGroupsSplit GroupsSplit = TCsvGroupsSplit::Comma;
    int SenderColumn = -1;
};

struct TImportSource {
    TImportFormat Format = TImportFormat::PlainList;
    std::vector<TImportedContact> Rows;
    TCsvTable Csv; // CSV only
};

// How far the reading is (0..100), and the flag that stops it: a set flag
// makes the reader raise TImportCancelled at its next check.
struct TImportProgress {
    std::function<void(int percent)> Report;
    const std::atomic<bool>* Cancel = nullptr;
};
class TImportCancelled : public TError {
public:
    TImportCancelled();
};

// Reads a contacts file: refused before reading when larger than `maxSize`
// (the message gives the size), then parsed as ParseContacts does. Raises
// TError with a Russian message for a file that cannot be imported.
TImportSource ReadContactFile(const std::string& path, const TImportProgress& progress = {},
                              std::uint64_t maxSize = MaxImportFileSize);
// Guesses the format (vCard, CSV with a header row, or a plain list) and reads
// the contacts. Raises TError for a binary or truncated source, one in an
// encoding it cannot read, or one in which no row has a phone number.
TImportSource ParseContacts(std::string_view bytes, const TImportProgress& progress = {});
// The same with the format given (the clipboard's text is a list unless it is a vCard).
TImportSource ParseContactsAs(TImportFormat format, std::string_view bytes, const TImportProgress& progress = {});

// Makes the rows of a CSV table anew from its chosen columns.
void MakeCsvRows(TImportSource& source);
// The same rows, made from the table alone (off the window's thread while the window shows the old ones).
std::vector<TImportedContact> CsvRowsOf(const TCsvTable& table, const TImportProgress& progress = {});

// --- the plan -----------------------------------------------------------------------------
// What to do with a contact whose name the book has already.
enum class TNamePolicy { Skip, UpdatePhone, AddNumbered };

struct TImportOptions {
    TSmsSender* Sender = nullptr; // for the new contacts the source gives no known operator
    std::string GroupName;        // empty: none; else an existing group or a new one
    TNamePolicy Policy = TNamePolicy::Skip;
};

enum class TImportAction { Add, Update, Skip, Refuse };

struct TImportPlanRow {
    TImportAction Action = TImportAction::Refuse;
    std::string Name;               // the contact's name in the book
    std::string Reason;             // for Update, Skip and Refuse
    TContact* Existing = nullptr;   // Update: the contact changed; Skip: the contact already holding this number
    TSmsSender* Sender = nullptr;   // Add: the operator the new contact gets
};

struct TImportPlan {
    std::vector<TImportPlanRow> Rows; // one per source row
    int Added = 0, Updated = 0, Skipped = 0, Refused = 0;
    // Some new contact has no operator (the options give none and the source
    // names none the book knows).
    bool NeedsSender = false;
    std::string CountsText() const; // "Новых: N, обновится: N, пропущено: N, отклонено: N"
};

// What the plan reads of the book, copied on the window's thread so that the
// plan can be made on another while the book stays the window's.
struct TImportBook {
    struct TEntry {
        TContact* Contact;
        std::string Name, Phone;
        bool HasSender;
    };
    std::vector<TEntry> Contacts;
    std::vector<std::pair<std::string, TSmsSender*>> Senders;
    static TImportBook Of(const TContactList& contacts, const TSmsSenderList& senders);
};

// What importing the rows would do to the book: nothing changes. Phones are
// compared written any way (NormalizedPhone); a number met twice in the source
// or already in the book is skipped with its reason, never added twice.
TImportPlan PlanImport(const std::vector<TImportedContact>& rows, const TContactList& book,
                       const TSmsSenderList& senders, const TImportOptions& options);
// The same from a copy of the book; a set `cancel` raises TImportCancelled.
TImportPlan PlanImport(const std::vector<TImportedContact>& rows, const TImportBook& book, const TImportOptions& options,
                       const std::atomic<bool>* cancel = nullptr);

// The first "Name (k)" (k = 2, 3, ...) that is not taken.
// `next` (when given) is the first number to try, and afterwards the one after
// the number taken: many rows of one name then cost no search from "(2)" each.
std::string NumberedName(const std::string& name, const std::function<bool(const std::string&)>& taken,
                         int* next = nullptr);

// Reason for a name or group with a character CP1251 has not: "в имени знак U+XXXX ...".
std::string UnmappableCharText(char32_t cp);
