// The plan of an import: what each row found would do to the address book.
#include "model/ContactImport.h"

#include "model/SmsLink.h"
#include "model/Text.h"

#include <algorithm>
#include <unordered_map>

std::string NumberedName(const std::string& name, const std::function<bool(const std::string&)>& taken, int* next)
{
    for (int k = next ? std::max(*next, 2) : 2;; ++k) {
        std::string candidate = name + " (" + IntToStr(k) + ")";
        if (!taken(candidate)) {
            if (next)
                *next = k + 1;
            return candidate;
        }
    }
}

std::string TImportPlan::CountsText() const
{
    return Cp1251("Новых: ") + IntToStr(Added) + Cp1251(", обновится: ") + IntToStr(Updated) + Cp1251(", пропущено: ") +
           IntToStr(Skipped) + Cp1251(", отклонено: ") + IntToStr(Refused);
}

TImportPlan PlanImport(const std::vector<TImportedContact>& rows, const TContactList& book, const TSmsSenderList& senders,
                       const TImportOptions& options)
{
    TImportPlan plan;
    plan.Rows.resize(rows.size());
    std::unordered_map<std::string, TContact*> bookPhones;
    bookPhones.reserve(static_cast<size_t>(book.Count()));
    for (TContact* contact : book)
        bookPhones.emplace(NormalizedPhone(contact->PhoneNumber), contact);
    std::unordered_map<std::string, int> filePhones;              // number -> first row with it
    std::unordered_map<std::string, int, TCaseFoldHash, TCaseFoldEqual> fileNames; // new name -> its row
    filePhones.reserve(rows.size());
    fileNames.reserve(rows.size());
    std::unordered_map<std::string, int, TCaseFoldHash, TCaseFoldEqual> nextNumber; // name -> its next "(k)"
    auto taken = [&](const std::string& name) { return book.IndexOfName(name) >= 0 || fileNames.count(name) > 0; };
    auto skip = [](TImportPlanRow& out, std::string reason, TContact* existing = nullptr) {
        out.Action = TImportAction::Skip;
        out.Reason = std::move(reason);
        out.Existing = existing;
    };
    auto rowText = [](const TImportedContact& c) { return Cp1251(" (строка ") + IntToStr(c.Line) + ")"; };

    for (size_t i = 0; i < rows.size(); ++i) {
        const TImportedContact& row = rows[i];
        TImportPlanRow& out = plan.Rows[i];
        out.Name = row.Name.empty() ? row.Phone : row.Name;
        if (!row.Refusal.empty()) {
            out.Action = TImportAction::Refuse;
            out.Reason = row.Refusal;
            continue;
        }
        const std::string phone = NormalizedPhone(row.Phone);
        if (auto dup = filePhones.find(phone); dup != filePhones.end()) {
            skip(out, Cp1251("тот же номер уже выше в файле") + rowText(rows[static_cast<size_t>(dup->second)]));
            continue;
        }
        filePhones.emplace(phone, static_cast<int>(i));
        auto holder = bookPhones.find(phone);
        TContact* phoneOwner = holder == bookPhones.end() ? nullptr : holder->second;
        const int existingPos = book.IndexOfName(out.Name);
        TContact* existing = existingPos >= 0 ? book[existingPos] : nullptr;
        if (existing && existing == phoneOwner) {
            skip(out, Cp1251("уже есть в книге"), existing);
            continue;
        }
        if (phoneOwner) {
            skip(out, Cp1251("номер уже есть у абонента «") + phoneOwner->Name() + Cp1251("»"), phoneOwner);
            continue;
        }
        auto sameNameInFile = fileNames.find(out.Name);
        if (existing || sameNameInFile != fileNames.end()) {
            const bool inFile = sameNameInFile != fileNames.end();
            if (options.Policy == TNamePolicy::Skip || (options.Policy == TNamePolicy::UpdatePhone && inFile)) {
                skip(out, !inFile ? Cp1251("абонент с таким именем уже есть (") + existing->PhoneNumber + ")"
                                   : Cp1251("имя уже встречалось в файле") + rowText(rows[static_cast<size_t>(sameNameInFile->second)]),
                     nullptr); // that contact has another number: it does not stand for this row
                continue;
            }
            if (options.Policy == TNamePolicy::UpdatePhone) {
                out.Action = TImportAction::Update;
                out.Existing = existing;
                out.Name = existing->Name();
                out.Reason = Cp1251("телефон ") + existing->PhoneNumber + Cp1251(" заменится на ") + row.Phone;
                // From here on the contact stands for the new number, no longer the old one.
                if (auto old = bookPhones.find(NormalizedPhone(existing->PhoneNumber));
                    old != bookPhones.end() && old->second == existing)
                    bookPhones.erase(old);
                bookPhones[phone] = existing;
                fileNames.emplace(out.Name, static_cast<int>(i));
                if (!existing->SmsSender) {
                    out.Sender = options.Sender;
                    plan.NeedsSender = plan.NeedsSender || !options.Sender;
                }
                ++plan.Updated;
                continue;
            }
            out.Name = NumberedName(out.Name, taken, &nextNumber[out.Name]);
        }
        out.Action = TImportAction::Add;
        const int senderPos = row.SenderName.empty() ? -1 : senders.IndexOfName(row.SenderName);
        out.Sender = senderPos >= 0 ? senders[senderPos] : options.Sender;
        plan.NeedsSender = plan.NeedsSender || !out.Sender;
        fileNames.emplace(out.Name, static_cast<int>(i));
        ++plan.Added;
    }
    for (const TImportPlanRow& row : plan.Rows) {
        plan.Skipped += row.Action == TImportAction::Skip;
        plan.Refused += row.Action == TImportAction::Refuse;
    }
    return plan;
}
