#pragma once
// How a short-message centre bills a text: as GSM 03.38 7-bit text when every
// character is in the default alphabet or its extension table (an extension
// character, ^ { } \ [ ] ~ | €, takes two septets: an escape and itself), at
// 160 septets in one SMS and 153 per part of a longer one (an escape pair is
// never split between parts); otherwise as UCS-2, at 70 characters in one SMS
// and 67 per part (a surrogate pair is never split).
#include <string_view>

struct TSmsParts {
    int Parts = 0;     // SMS billed; 0 for an empty text
    bool Ucs2 = false; // sent as UCS-2
    int Units = 0;     // septets (7-bit) or UTF-16 units (UCS-2)
};

TSmsParts CountSmsParts(std::u16string_view text);

// Septets a character takes in GSM 7-bit text: 1 (default alphabet), 2
// (extension table) or 0 (none: the text must go as UCS-2).
int GsmSeptets(char16_t c);
