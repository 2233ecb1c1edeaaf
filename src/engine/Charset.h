#pragma once
// The charsets in which gateways expect text, and the conversion of the
// program's CP1251 text into them just before it goes on the wire.
#include <string>
#include <string_view>

enum class TCharset { Windows1251, Koi8R, Koi8U, Utf8, Utf7 };

// "CP1251", "KOI8-R", "KOI8-U", "UTF-8", "UTF-7" compared byte for byte and
// case-sensitively; any other name, empty included, gives Windows-1251.
TCharset CharsetFromName(std::string_view name);

// CP1251 bytes to the charset. Windows-1251 is returned unchanged; a character
// that KOI8-R or KOI8-U lacks becomes "_"; CP1251 byte 152 stands for U+FFFD.
std::string ConvertFromCp1251(std::string_view text, TCharset charset);

// Text from a gateway in the charset to CP1251 (a web gate's reply). A
// character that CP1251 lacks, and a malformed sequence, become "?".
std::string ConvertToCp1251(std::string_view bytes, TCharset charset);

// The label of the charset in MIME headers ("WINDOWS-1251", "KOI8-R", "KOI8-U",
// "UTF-8", "UNICODE-1-1-UTF-7").
std::string CharsetMimeName(TCharset charset);
