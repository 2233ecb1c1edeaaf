// The CSV reader: records of quoted or plain fields, the columns a known
// export writes names, phones and groups in, and the rows made from them.
#include "model/ContactImportRead.h"

#include "model/Text.h"

#include <algorithm>

namespace ContactRead {

// --- CSV ----------------------------------------------------------------------------------------
char GuessDelimiter(std::string_view text)
{
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '\n')
            break;
        else if (!quoted)
            comma += c == ',', semicolon += c == ';', tab += c == '\t';
    }
    if (tab >= semicolon && tab >= comma && tab > 0)
        return '\t';
    if (semicolon >= comma && semicolon > 0)
        return ';';
    return ',';
}

namespace {

// A cell longer than this keeps its beginning and "…": no field the import
// takes is as long, so the row is refused all the same, and nothing the
// window shows is huge.
constexpr size_t CsvCellLimit = 1024;

void AppendCapped(std::string& field, std::string_view piece)
{
    if (field.size() > CsvCellLimit)
        return;
    if (field.size() + piece.size() <= CsvCellLimit) {
        field.append(piece);
        return;
    }
    size_t cut = CsvCellLimit - field.size();
    while (cut > 0 && (static_cast<unsigned char>(piece[cut]) & 0xC0) == 0x80)
        --cut; // not inside a UTF-8 character
    field.append(piece.substr(0, cut));
    field += "\xE2\x80\xA6"; // "…", which also makes the size pass the limit
}

} // namespace

// Records of quoted or plain fields; a quoted field may hold the delimiter, line breaks and doubled quotes.
void ParseCsvRecords(std::string_view text, char delimiter, TCsvTable& table, const TImportProgress& progress)
{
    TProgressTicker ticker(progress, text.size());
    std::vector<std::string> record;
    std::string field;
    size_t i = 0;
    int line = 1, recordLine = 1;
    bool first = true;
    auto endRecord = [&] {
        record.push_back(std::move(field));
        field.clear();
        const bool blank = std::all_of(record.begin(), record.end(), [](const std::string& f) { return Trim(f).empty(); });
        if (first) {
            table.Headers.clear();
            for (const std::string& h : record)
                table.Headers.push_back(Trim(Utf8ToCp1251(h)));
            first = false;
        } else if (!blank) {
            table.Cells.push_back(std::move(record));
            table.RowLines.push_back(recordLine);
        }
        record.clear();
    };
    while (i < text.size()) {
        ticker.Tick(i);
        if (text[i] == '"' && field.empty()) {
            // A quoted field, read a stretch at a time up to the next quote.
            ++i;
            while (i < text.size()) {
                ticker.Check();
                size_t quote = text.find('"', i);
                if (quote == std::string_view::npos)
                    quote = text.size();
                std::string_view stretch = text.substr(i, quote - i);
                line += static_cast<int>(std::count(stretch.begin(), stretch.end(), '\n'));
                for (size_t cr; !stretch.empty(); stretch.remove_prefix(cr + 1)) {
                    cr = stretch.find('\r');
                    AppendCapped(field, stretch.substr(0, cr));
                    if (cr == std::string_view::npos)
                        break;
                }
                i = quote + 1;
                if (i < text.size() && text[i] == '"') {
                    AppendCapped(field, "\"");
                    ++i;
                    continue;
                }
                break;
            }
            continue;
        }
        const char c = text[i++];
        if (c == delimiter) {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n') {
            endRecord();
            recordLine = ++line;
        } else if (c != '\r') {
            if (field.size() <= CsvCellLimit)
                field += c;
            else if (field.size() == CsvCellLimit + 1)
                AppendCapped(field, "x");
        }
    }
    if (!field.empty() || !record.empty())
        endRecord();
}

namespace {

int FindHeader(const std::vector<std::string>& upper, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const std::string wanted = UpperCase(Cp1251(name));
        for (size_t k = 0; k < upper.size(); ++k)
            if (upper[k] == wanted)
                return static_cast<int>(k);
    }
    return -1;
}

bool ContainsAny(std::string_view upper, std::initializer_list<const char*> parts)
{
    for (const char* part : parts)
        if (upper.find(UpperCase(Cp1251(part))) != std::string_view::npos)
            return true;
    return false;
}

// Whether a phone's column name or kind ("Mobile", "Мобильный") says mobile.
bool SaysMobile(std::string_view upper)
{
    return ContainsAny(upper, {"Mobile", "Cell", "Мобильн", "Сотов", "переносн"});
}

// Every column a known export writes phones in: Google's "Phone N - Value"
// (its kind in "Phone N - Type" or "- Label"), Outlook's "Business Phone",
// "Mobile Phone", ..., their Russian names, and plain "Телефон 2", "Phone".
// Faxes, pagers and the like are no phones to send to.
std::vector<TCsvPhoneColumn> FindPhoneColumns(const std::vector<std::string>& upper)
{
    std::vector<TCsvPhoneColumn> columns;
    for (size_t k = 0; k < upper.size(); ++k) {
        const std::string& h = upper[k];
        if (ContainsAny(h, {"Fax", "Факс", "Pager", "Пейджер", "TTY", "Телетайп", "Telex", "Телекс", "ISDN", "Type",
                            "Label", "Тип"}))
            continue;
        const bool phone = ContainsAny(h, {"Phone", "Телефон", "Mobile", "Мобильн", "Сотов", "Cell"}) ||
                           FindHeader({h}, {"Номер", "Номер телефона", "Tel", "Тел.", "Тел"}) == 0;
        if (!phone)
            continue;
        TCsvPhoneColumn column;
        column.Value = static_cast<int>(k);
        column.Mobile = SaysMobile(h);
        if (const size_t dash = h.rfind(" - "); dash != std::string::npos) {
            const std::string stem = h.substr(0, dash);
            column.Type = FindHeader(upper, {(stem + " - TYPE").c_str(), (stem + " - LABEL").c_str()});
        }
        columns.push_back(column);
    }
    return columns;
}

} // namespace

void GuessCsvColumns(TCsvTable& t)
{
    std::vector<std::string> upper;
    for (const std::string& h : t.Headers)
        upper.push_back(UpperCase(h));
    t.NameColumn = FindHeader(upper, {"Name", "Display Name", "Full Name", "Contact Name", "ФИО", "Полное имя",
                                      "Отображаемое имя", "Абонент", "Контакт", "Имя абонента"});
    t.MiddleNameColumn = t.LastNameColumn = -1;
    if (t.NameColumn < 0) {
        t.NameColumn = FindHeader(upper, {"First Name", "Given Name", "Имя"});
        t.LastNameColumn = FindHeader(upper, {"Last Name", "Family Name", "Surname", "Фамилия"});
        if (t.NameColumn < 0) {
            t.NameColumn = t.LastNameColumn;
            t.LastNameColumn = -1;
        } else if (t.LastNameColumn >= 0) {
            t.MiddleNameColumn = FindHeader(upper, {"Middle Name", "Additional Name", "Отчество"});
        }
    }
    t.PhoneColumns = FindPhoneColumns(upper);
    t.PhoneColumn = t.PhoneColumns.empty() ? -1 : CsvMobileElseFirst;
    t.GroupsSplit = TCsvGroupsSplit::Google;
    t.GroupsColumn = FindHeader(upper, {"Group Membership", "Labels"});
    if (t.GroupsColumn < 0) {
        t.GroupsSplit = TCsvGroupsSplit::Semicolon;
        t.GroupsColumn = FindHeader(upper, {"Categories", "Категории"});
    }
    if (t.GroupsColumn < 0) {
        t.GroupsSplit = TCsvGroupsSplit::Comma;
        t.GroupsColumn = FindHeader(upper, {"Groups", "Group", "Группы", "Группа"});
    }
    t.SenderColumn = FindHeader(upper, {"Оператор", "Operator"});
}

namespace {

// A cell's group names, split as its column's program writes them; each name
// once, in order.
std::vector<std::string> SplitGroups(std::string_view cell, TCsvGroupsSplit split, std::string& refusal)
{
    std::vector<std::string> groups;
    auto take = [&](std::string_view piece) {
        std::string group = FieldText(piece, TEncoding::Utf8, "Группа", refusal, GroupLimit);
        if (split == TCsvGroupsSplit::Google && !group.empty() && group[0] == '*')
            return; // "* myContacts", "* starred": the program's own
        if (!group.empty() && std::find(groups.begin(), groups.end(), group) == groups.end())
            groups.push_back(std::move(group));
    };
    if (split == TCsvGroupsSplit::Google) {
        for (size_t start = 0;;) {
            const size_t at = cell.find(":::", start);
            take(cell.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
            if (at == std::string_view::npos)
                break;
            start = at + 3;
        }
        return groups;
    }
    // Commas (or Outlook's semicolons) outside double quotes; a quoted name loses its quotes.
    const char separator = split == TCsvGroupsSplit::Semicolon ? ';' : ',';
    std::string piece;
    bool quoted = false;
    for (size_t i = 0; i <= cell.size(); ++i) {
        if (i == cell.size() || (cell[i] == separator && !quoted)) {
            take(piece);
            piece.clear();
        } else if (cell[i] == '"' && split == TCsvGroupsSplit::Comma) {
            if (quoted && i + 1 < cell.size() && cell[i + 1] == '"')
                piece += cell[++i];
            else
                quoted = !quoted;
        } else {
            piece += cell[i];
        }
    }
    return groups;
}

} // namespace

} // namespace ContactRead

using namespace ContactRead;

void MakeCsvRows(TImportSource& source) { source.Rows = CsvRowsOf(source.Csv); }

std::vector<TImportedContact> CsvRowsOf(const TCsvTable& t, const TImportProgress& progress)
{
    std::vector<TImportedContact> rows;
    rows.reserve(t.Cells.size());
    TProgressTicker ticker(progress, t.Cells.size());
    auto cell = [](const std::vector<std::string>& row, int column) -> std::string_view {
        return column >= 0 && static_cast<size_t>(column) < row.size() ? std::string_view(row[static_cast<size_t>(column)])
                                                                       : std::string_view();
    };
    // The chosen column, when it is not one of the phone columns, gives its numbers too.
    std::vector<TCsvPhoneColumn> phoneColumns = t.PhoneColumns;
    if (t.PhoneColumn >= 0 && std::none_of(phoneColumns.begin(), phoneColumns.end(),
                                           [&](const TCsvPhoneColumn& p) { return p.Value == t.PhoneColumn; }))
        phoneColumns.insert(phoneColumns.begin(), TCsvPhoneColumn{t.PhoneColumn, -1, false});
    for (size_t r = 0; r < t.Cells.size(); ++r) {
        ticker.Tick(r);
        const std::vector<std::string>& row = t.Cells[r];
        TImportedContact c;
        c.Line = t.RowLines[r];
        std::string name;
        for (int column : {t.NameColumn, t.MiddleNameColumn, t.LastNameColumn}) {
            const std::string part = Trim(cell(row, column));
            if (!part.empty())
                name += (name.empty() ? "" : " ") + part;
        }
        c.Name = FieldText(name, TEncoding::Utf8, "Имя", c.Refusal, NameLimit);
        // Every number of the row in the order of the columns; the one the
        // choice names becomes the contact's phone.
        int chosen = -1, firstMobile = -1, firstOfColumn = -1;
        std::vector<std::string> refusals;
        for (const TCsvPhoneColumn& column : phoneColumns) {
            const bool mobile = column.Mobile || SaysMobile(UpperCase(Utf8ToCp1251(cell(row, column.Type))));
            const std::string_view numbers = cell(row, column.Value);
            for (size_t start = 0;;) {
                const size_t at = numbers.find(":::", start);
                std::string refusal;
                std::string phone = FieldText(numbers.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start),
                                              TEncoding::Utf8, "Телефон", refusal, WrittenPhoneLimit);
                if (!phone.empty() || !refusal.empty()) {
                    if (refusal.empty())
                        refusal = PhoneRefusal(phone);
                    const int index = static_cast<int>(c.Phones.size());
                    if (column.Value == t.PhoneColumn && firstOfColumn < 0)
                        firstOfColumn = index;
                    if (mobile && firstMobile < 0 && refusal.empty())
                        firstMobile = index;
                    c.Phones.push_back(std::move(phone));
                    refusals.push_back(std::move(refusal));
                }
                if (at == std::string_view::npos)
                    break;
                start = at + 3;
            }
        }
        if (t.PhoneColumn == CsvMobileElseFirst) {
            chosen = firstMobile;
            for (size_t k = 0; chosen < 0 && k < refusals.size(); ++k)
                if (refusals[k].empty())
                    chosen = static_cast<int>(k);
            if (chosen < 0 && !c.Phones.empty())
                chosen = 0; // none is a number: the first says why
        } else {
            chosen = firstOfColumn;
        }
        if (t.PhoneColumn == -1) {
            c.Refusal = Cp1251("не выбран столбец с телефоном");
        } else if (chosen < 0) {
            if (c.Refusal.empty())
                c.Refusal = Cp1251("нет номера телефона");
        } else {
            c.Phone = c.Phones[static_cast<size_t>(chosen)];
            if (c.Refusal.empty())
                c.Refusal = refusals[static_cast<size_t>(chosen)];
        }
        c.Groups = SplitGroups(cell(row, t.GroupsColumn), t.GroupsSplit, c.Refusal);
        std::string ignored;
        c.SenderName = FieldText(cell(row, t.SenderColumn), TEncoding::Utf8, "Оператор", ignored, SenderLimit);
        rows.push_back(std::move(c));
    }
    return rows;
}
