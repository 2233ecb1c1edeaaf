#pragma once
// Where the program keeps its data files. The program's own folder is the
// per-user data folder ($XDG_DATA_HOME/Velotext, usually ~/.local/share/Velotext),
// replaced by --data-dir DIR or VELOTEXT_DATA_DIR. The working folder is never changed.
#include <string>

// The folder in use (without a trailing slash).
std::string DataDir();
// Sets the folder explicitly (start-up options, tests); an empty text restores the default.
void SetDataDir(const std::string& dir);
// Works out the default folder from VELOTEXT_DATA_DIR, XDG_DATA_HOME or HOME.
std::string DefaultDataDir();
// Creates the folder chain of DataDir(); raises TError when that fails.
void EnsureDataDir();
// Creates the missing folders of the chain, each one private to the user
// (0700: the data holds every text sent and the gateways' passwords); folders
// that exist keep their permissions. Raises TError naming the folder.
void CreatePrivateFolders(const std::string& folder);

// Full path of a data file: the folder part of the name stays when it is longer
// than one character, otherwise the program's folder takes its place; a relative
// folder counts from the program's folder. The name is the program's text
// (CP1251, as the options keep it); the path is in the file system's encoding
// (UTF-8), so a folder named in Cyrillic is the one the user sees.
std::string ResolveDataFilePath(const std::string& fileName);
// A path of the file system (UTF-8) as the program's text, for messages.
std::string PathText(const std::string& path);
