#pragma once
// The text of a data file as the program keeps it (CP1251), whatever an
// editor made of the file: the one place that tells CP1251 from UTF-8 and
// refuses what is not text.
//
// - A file holding a NUL byte (UTF-16, a binary file) is refused.
// - A file starting with the UTF-8 byte-order mark is UTF-8: the mark is
//   dropped and the rest converted; a malformed sequence refuses the file.
// - Otherwise a file that is valid UTF-8 and holds at least one multi-byte
//   character is UTF-8 and converted (Russian text in CP1251 is practically
//   never valid UTF-8: a letter byte is followed by another letter, never by
//   the continuation bytes UTF-8 needs). Anything else is CP1251, unchanged.
// - A character that CP1251 cannot hold refuses the file, naming its line.
// Refusals raise TError naming the file and the reason. Saves write CP1251
// as always, so a converted file becomes CP1251 at its next save.
#include <functional>
#include <string>
#include <string_view>

// Lines whose bytes are not text (an options file's scrambled passwords):
// they take no part in telling CP1251 from UTF-8, and in a UTF-8 file one that
// is not valid UTF-8 is kept as it is.
using TOpaqueLine = std::function<bool(std::string_view line)>;

// The bytes of the file at `path` (named in the errors) as CP1251 text.
std::string DataFileText(const std::string& path, std::string bytes, const TOpaqueLine& opaque = {});
// Reads the file (ReadWholeFile) and gives its text as above.
std::string ReadDataFileText(const std::string& path, const TOpaqueLine& opaque = {});

// Raises the refusal of a data file: "Не удалось прочитать файл "path":" and
// the reason (CP1251), saying that the file is left as it is.
[[noreturn]] void RefuseDataFile(const std::string& path, const std::string& reason);
