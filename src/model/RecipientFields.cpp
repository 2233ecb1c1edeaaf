#include "model/RecipientFields.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

// The next field at or after `from`: where it starts and which it is; npos
// when there is none. Fields are found left to right and never overlap.
std::pair<size_t, std::string_view> NextField(std::string_view text, size_t from)
{
    for (size_t at = text.find('{', from); at != std::string_view::npos; at = text.find('{', at + 1)) {
        const std::string_view rest = text.substr(at);
        if (rest.starts_with(NameField))
            return {at, NameField};
        if (rest.starts_with(PhoneField))
            return {at, PhoneField};
    }
    return {std::string_view::npos, {}};
}

} // namespace

void FillRecipientSet(const TRecipientList& recipients, TContactSet& set)
{
    for (int i = recipients.Contacts.Count() - 1; i >= 0; --i)
        set.AddContact(recipients.Contacts[i]);
    for (int i = recipients.Groups.Count() - 1; i >= 0; --i)
        set.AddGroup(recipients.Groups[i]);
}

bool HasRecipientFields(std::string_view text) { return NextField(text, 0).first != std::string_view::npos; }

std::string ExpandRecipientFields(std::string_view text, std::string_view name, std::string_view phone)
{
    std::string result;
    result.reserve(text.size() + name.size() + phone.size());
    size_t from = 0;
    for (auto [at, field] = NextField(text, 0); at != std::string_view::npos; std::tie(at, field) = NextField(text, from)) {
        result.append(text.substr(from, at - from));
        result.append(field == NameField ? name : phone);
        from = at + field.size();
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
    size_t names = 0, phones = 0;
    for (auto [at, field] = NextField(text, 0); at != std::string_view::npos;
         std::tie(at, field) = NextField(text, at + field.size()))
        ++(field == NameField ? names : phones);
    if (names == 0 && phones == 0)
        return text.size();
    const size_t fixed = text.size() - names * NameField.size() - phones * PhoneField.size();
    TContactSet set;
    FillRecipientSet(recipients, set);
    if (set.Count() == 0)
        return text.size();
    size_t longest = 0;
    for (const TContact* contact : set)
        longest = std::max(longest, fixed + names * contact->Name().size() + phones * contact->PhoneNumber.size());
    return longest;
}
