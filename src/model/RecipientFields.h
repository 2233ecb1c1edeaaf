#pragma once
// Fields of a message that each recipient gets filled in with its own
// contact: "{name}" (the contact's name) and "{phone}" (its phone number as
// stored). Only these two, written in lower case, are fields; any other text
// in braces stays as typed.
#include "model/SmsQueue.h"

#include <string>
#include <string_view>

inline constexpr std::string_view NameField = "{name}";
inline constexpr std::string_view PhoneField = "{phone}";

// The distinct contacts a message to the recipients goes to: the picked
// contacts and the members of the picked groups, each once.
void FillRecipientSet(const TRecipientList& recipients, TContactSet& set);

// Whether the text holds a field at all.
bool HasRecipientFields(std::string_view text);

// The text with every field replaced by its value, in one pass: a value that
// itself holds "{name}" or "{phone}" is copied as it is, never expanded again.
// A text without fields comes back unchanged.
std::string ExpandRecipientFields(std::string_view text, std::string_view name, std::string_view phone);
std::string ExpandRecipientFields(std::string_view text, const TContact& contact);

// The length of the longest text the recipients get (contacts and the members
// of groups); the text's own length when it has no fields or there is no
// recipient.
size_t LongestExpansionLength(std::string_view text, const TRecipientList& recipients);
