#pragma once
// Text helpers shared by every layer. Model text is CP1251 bytes in std::string;
// lengths and positions count bytes.
#include <cstddef>
#include <string>
#include <string_view>

// Removes leading and trailing characters whose code is 32 or below.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// CP1251 letter case: Latin and every Cyrillic letter of the code page (Russian
// with Ё/ё, Ukrainian, Belarusian, Serbian and Macedonian).
unsigned char UpperCaseChar(unsigned char c);
std::string UpperCase(std::string_view text);
bool SameText(std::string_view a, std::string_view b);
// The 256 upper-case bytes of UpperCaseChar, for loops over many characters.
const unsigned char* UpperCaseTable();
// A hash that ignores letter case: texts equal under SameText hash alike.
size_t CaseFoldHash(std::string_view text);
// Functors for unordered containers keyed without regard to letter case;
// lookups take any string_view without building a key.
struct TCaseFoldHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return CaseFoldHash(text); }
};
struct TCaseFoldEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return SameText(a, b); }
};
// Whether Trim would leave the text as it is.
bool IsTrimmedText(std::string_view text);

// A copy of the same length where every non-printing character is a blank:
// the control characters below code 32, DEL (127) and 152, which CP1251 leaves unassigned.
std::string ControlCharsToSpaces(std::string_view text);

// CP1251 <-> Unicode. Byte 152 (unassigned) decodes to U+FFFD; a character with
// no CP1251 form encodes to "?".
std::u16string Cp1251ToUtf16(std::string_view text);
std::string Utf16ToCp1251(std::u16string_view text);
std::string Cp1251ToUtf8(std::string_view text);
// The length of the well-formed UTF-8 sequence at `at` (1 for an ASCII byte)
// and its code point, or 0 when the bytes there are not one: no overlong
// forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceLength(std::string_view s, size_t at, char32_t& cp);
// Whether the text is all well-formed UTF-8.
bool IsValidUtf8(std::string_view s);
// Appends the code point as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);
// "U+0401": a character as error texts name it.
std::string CodePointText(char32_t cp);
std::string Utf8ToCp1251(std::string_view utf8);
char32_t Cp1251CodePoint(unsigned char c);
// The CP1251 byte of a code point; false when the code page has none.
bool Cp1251ByteOf(char32_t cp, unsigned char& byte);

// Source files are UTF-8: Cp1251("Привет") gives the CP1251 bytes of a literal.
inline std::string Cp1251(std::string_view utf8) { return Utf8ToCp1251(utf8); }

// Decimal text of an integer, and parsing of a whole decimal integer (optional
// sign, no blanks); false when the text is not one or does not fit 32 bits.
std::string IntToStr(long long value);
// Value of one hexadecimal digit (either case), -1 for any other character.
int HexDigitValue(char c);
bool TryStrToInt(std::string_view text, int& value);
