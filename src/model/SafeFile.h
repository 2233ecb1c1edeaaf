#pragma once
// Reading and saving whole files without ever losing the old one.
#include <string>

// Writes the bytes to a temporary file beside the target, flushes it and
// renames it over the target. On failure the old file stays whole and TError
// names the file. `mode` is applied to the new file when not 0 (e.g. 0600).
void SaveFileSafely(const std::string& path, const std::string& bytes, unsigned mode = 0);

// Reads a whole file; raises TError naming the file when it cannot be read
// (missing, a folder, unreadable).
std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// Test hook: when set, called with the stage name ("open", "write", "flush",
// "rename") and may throw to simulate a failing disk at that point.
using TSaveFaultHook = void (*)(const char* stage);
void SetSaveFaultHook(TSaveFaultHook hook);
