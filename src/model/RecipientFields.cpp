#include "model/RecipientFields.h"

#include <algorithm>

namespace {

// How many times each field occurs, counted the way the expansion finds them.
struct TFieldCount {
    size_t Names = 0, Phones = 0;
};

TFieldCount CountFields(std::string_view text)
{
    TFieldCount count;
    for (size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at)) {
        const std::string_view rest = text.substr(at);
        if (rest.starts_with(NameField)) {
            ++count.Names;
            at += NameField.size();
        } else if (rest.starts_with(PhoneField)) {
            ++count.Phones;
            at += PhoneField.size();
        } else {
            ++at;
        }
    }
    return count;
}

} // namespace

void FillRecipientSet(const TRecipientList& recipients, TContactSet& set)
{
    for (int i = recipients.Contacts.Count() - 1; i >= 0; --i)
        set.AddContact(recipients.Contacts[i]);
    for (int i = recipients.Groups.Count() - 1; i >= 0; --i)
        set.AddGroup(recipients.Groups[i]);
}

bool HasRecipientFields(std::string_view text)
{
    return text.find(NameField) != std::string_view::npos || text.find(PhoneField) != std::string_view::npos;
}

std::string ExpandRecipientFields(std::string_view text, std::string_view name, std::string_view phone)
{
    std::string result;
    result.reserve(text.size() + name.size() + phone.size());
    size_t from = 0;
    for (size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at)) {
        const std::string_view rest = text.substr(at);
        std::string_view value;
        size_t length = 0;
        if (rest.starts_with(NameField)) {
            value = name;
            length = NameField.size();
        } else if (rest.starts_with(PhoneField)) {
            value = phone;
            length = PhoneField.size();
        } else {
            ++at;
            continue;
        }
        result.append(text.substr(from, at - from));
        result.append(value);
        at += length;
        from = at;
    }
    result.append(text.substr(from));
    return result;
}

std::string ExpandRecipientFields(std::string_view text, const TContact& contact)
{
    return ExpandRecipientFields(text, contact.Name(), contact.PhoneNumber);
}

size_t LongestExpansionLength(std::string_view text, const TRecipientList& recipients)
{
    const TFieldCount count = CountFields(text);
    if (count.Names == 0 && count.Phones == 0)
        return text.size();
    const size_t fixed = text.size() - count.Names * NameField.size() - count.Phones * PhoneField.size();
    TContactSet set;
    FillRecipientSet(recipients, set);
    if (set.Count() == 0)
        return text.size();
    size_t longest = 0;
    for (const TContact* contact : set)
        longest = std::max(longest, fixed + count.Names * contact->Name().size() +
                                        count.Phones * contact->PhoneNumber.size());
    return longest;
}
