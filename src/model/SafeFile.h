#pragma once
// Reading and saving whole files without ever losing the old one.
#include <functional>
#include <string>
#include <string_view>

// Writes the bytes to a temporary file beside the target, flushes it and
// renames it over the target. On failure the old file stays whole and TError
// names the file. `mode` is applied to the new file when not 0 (e.g. 0600).
// A symbolic link stays a link: its final target is the file replaced. An
// existing target that may not be written (no write permission bit at all,
// or none for this process) is refused before anything is written. The
// temporary files that killed saves of the same target left in its folder
// are removed first.
//
// With `keepBackup`, the file replaced is kept as one backup generation beside
// the target, "<target>.bak" (replaced in turn, by a rename, at the next
// save): the old file is linked under a temporary name that is renamed over
// the old backup, so no byte is copied and at every instant the target holds
// either the old or the new content (where the file system has no hard links
// the old bytes are copied). A save that writes the bytes the file already
// holds leaves the backup as it is, so it stays the version before. A backup
// that cannot be made does not stop the save.
void SaveFileSafely(const std::string& path, const std::string& bytes, unsigned mode = 0, bool keepBackup = true);
// The same with the bytes given by `produce`, which hands them to the writer
// it is called with, piece by piece (no copy of the whole file in memory). An
// exception from `produce` fails the save like a failed write.
using TByteWriter = std::function<void(std::string_view bytes)>;
void SaveFileSafely(const std::string& path, const std::function<void(const TByteWriter& write)>& produce,
                    unsigned mode = 0, bool keepBackup = true);
// The name of a file's backup generation: "<file>.bak" beside the file a save
// replaces (the final target of a symbolic link).
std::string BackupFileName(const std::string& path);

// Reads a whole file; raises TError naming the file when it cannot be read
// (missing, unreadable, or not a regular file: a folder, a named pipe or a
// device is refused without waiting on it).
std::string ReadWholeFile(const std::string& path);
// The reason given for a path that is not a regular file (CP1251).
std::string NotRegularFileText();
bool FileExists(const std::string& path);
// The path is a regular file holding exactly these bytes (false when it
// cannot be read).
bool SameFileBytes(const std::string& path, std::string_view bytes);
// Nothing is at the path (a link to nothing counts as missing: saving through
// it creates its target).
bool PathMissing(const std::string& path);

// Test hook: when set, called with the stage name ("open", "write", "flush",
// "rename") and may throw to simulate a failing disk at that point.
using TSaveFaultHook = void (*)(const char* stage);
void SetSaveFaultHook(TSaveFaultHook hook);
