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

TImportBook TImportBook::Of(const TContactList& contacts, const TSmsSenderList& senders)
{
    TImportBook book;
    book.Contacts.reserve(static_cast<size_t>(contacts.Count()));
    for (TContact* contact : contacts)
        book.Contacts.push_back({contact, contact->Name(), contact->PhoneNumber, contact->SmsSender != nullptr});
    for (TSmsSender* sender : senders)
        book.Senders.emplace_back(sender->Name(), sender);
    return book;
}

TImportPlan PlanImport(const std::vector<TImportedContact>& rows, const TContactList& book, const TSmsSenderList& senders,
                       const TImportOptions& options)
{
    return PlanImport(rows, TImportBook::Of(book, senders), options);
}

TImportPlan PlanImport(const std::vector<TImportedContact>& rows, const TImportBook& book, const TImportOptions& options,
                       const std::atomic<bool>* cancel)
{
    using TEntry = TImportBook::TEntry;
    TImportPlan plan;
    plan.Rows.resize(rows.size());
    std::unordered_map<std::string, const TEntry*> bookPhones;
    std::unordered_map<std::string_view, const TEntry*, TCaseFoldHash, TCaseFoldEqual> bookNames;
    bookPhones.reserve(book.Contacts.size());
    bookNames.reserve(book.Contacts.size());
    for (const TEntry& entry : book.Contacts) {
        bookPhones.emplace(NormalizedPhone(entry.Phone), &entry);
        bookNames.emplace(entry.Name, &entry);
    }
    std::unordered_map<std::string_view, TSmsSender*, TCaseFoldHash, TCaseFoldEqual> senders(book.Senders.begin(),
                                                                                              book.Senders.end());
    auto named = [&](std::string_view name) -> const TEntry* {
        const auto found = bookNames.find(name);
        return found == bookNames.end() ? nullptr : found->second;
    };
    std::unordered_map<std::string, int> filePhones;              // number -> first row with it
    std::unordered_map<std::string, int, TCaseFoldHash, TCaseFoldEqual> fileNames; // new name -> its row
    filePhones.reserve(rows.size() * 2);
    fileNames.reserve(rows.size());
    std::unordered_map<std::string, int, TCaseFoldHash, TCaseFoldEqual> nextNumber; // name -> its next "(k)"
    auto taken = [&](const std::string& name) { return named(name) || fileNames.count(name) > 0; };
    auto skip = [](TImportPlanRow& out, std::string reason, TContact* existing = nullptr) {
        out.Action = TImportAction::Skip;
        out.Reason = std::move(reason);
        out.Existing = existing;
    };
    // The row as the preview counts its rows.
    auto rowText = [](int index) { return Cp1251(" (строка ") + IntToStr(index + 1) + ")"; };
    std::vector<std::string> numbers; // the row's numbers, the chosen one first

    for (size_t i = 0; i < rows.size(); ++i) {
        if (cancel && i % 1024 == 0 && cancel->load(std::memory_order_relaxed))
            throw TImportCancelled();
        const TImportedContact& row = rows[i];
        TImportPlanRow& out = plan.Rows[i];
        out.Name = row.Name.empty() ? row.Phone : row.Name;
        if (!row.Refusal.empty()) {
            out.Action = TImportAction::Refuse;
            out.Reason = row.Refusal;
            continue;
        }
        numbers.assign(1, NormalizedPhone(row.Phone));
        for (const std::string& other : row.Phones)
            if (other != row.Phone && LooksLikePhone(other))
                if (std::string n = NormalizedPhone(other); std::find(numbers.begin(), numbers.end(), n) == numbers.end())
                    numbers.push_back(std::move(n));
        const std::string& phone = numbers.front();
        // Every number of the row counts: a contact met above or held by the
        // book under any of them is the same person.
        int seenAt = -1;
        for (const std::string& n : numbers)
            if (auto dup = filePhones.find(n); dup != filePhones.end() && seenAt < 0)
                seenAt = dup->second;
        if (seenAt >= 0) {
            skip(out, Cp1251("тот же номер уже выше в файле") + rowText(seenAt));
            continue;
        }
        for (const std::string& n : numbers)
            filePhones.emplace(n, static_cast<int>(i));
        const TEntry* phoneOwner = nullptr;
        for (size_t k = 0; k < numbers.size() && !phoneOwner; ++k)
            if (auto holder = bookPhones.find(numbers[k]); holder != bookPhones.end())
                phoneOwner = holder->second;
        const TEntry* existing = named(out.Name);
        if (existing) {
            const auto held = bookPhones.find(NormalizedPhone(existing->Phone));
            if (held != bookPhones.end() && held->second == existing &&
                std::find(numbers.begin(), numbers.end(), held->first) != numbers.end()) {
                skip(out, Cp1251("уже есть в книге"), existing->Contact);
                continue;
            }
        }
        if (phoneOwner) {
            skip(out, Cp1251("номер уже есть у абонента «") + phoneOwner->Name + Cp1251("»"), phoneOwner->Contact);
            continue;
        }
        auto sameNameInFile = fileNames.find(out.Name);
        if (existing || sameNameInFile != fileNames.end()) {
            const bool inFile = sameNameInFile != fileNames.end();
            if (options.Policy == TNamePolicy::Skip || (options.Policy == TNamePolicy::UpdatePhone && inFile)) {
                skip(out, !inFile ? Cp1251("абонент с таким именем уже есть (") + existing->Phone + ")"
                                   : Cp1251("имя уже встречалось в файле") + rowText(sameNameInFile->second),
                     nullptr); // that contact has another number: it does not stand for this row
                continue;
            }
            if (options.Policy == TNamePolicy::UpdatePhone) {
                out.Action = TImportAction::Update;
                out.Existing = existing->Contact;
                out.Name = existing->Name;
                out.Reason = Cp1251("телефон ") + existing->Phone + Cp1251(" заменится на ") + row.Phone;
                // From here on the contact stands for the new number, no longer the old one.
                if (auto old = bookPhones.find(NormalizedPhone(existing->Phone));
                    old != bookPhones.end() && old->second == existing)
                    bookPhones.erase(old);
                bookPhones[phone] = existing;
                fileNames.emplace(out.Name, static_cast<int>(i));
                if (!existing->HasSender) {
                    out.Sender = options.Sender;
                    plan.NeedsSender = plan.NeedsSender || !options.Sender;
                }
                ++plan.Updated;
                continue;
            }
            out.Name = NumberedName(out.Name, taken, &nextNumber[out.Name]);
        }
        out.Action = TImportAction::Add;
        const auto sender = row.SenderName.empty() ? senders.end() : senders.find(row.SenderName);
        out.Sender = sender != senders.end() ? sender->second : options.Sender;
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
