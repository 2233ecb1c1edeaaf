#include "model/DataPaths.h"

#include "model/Error.h"
#include "model/Text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
std::mutex gMutex;
std::string gDataDir;

std::string StripTrailingSlash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}
} // namespace

std::string DefaultDataDir()
{
    if (const char* env = std::getenv("VELOTEXT_DATA_DIR"); env && *env)
        return StripTrailingSlash(fs::absolute(env).string());
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && xdg[0] == '/')
        return StripTrailingSlash(std::string(xdg)) + "/Velotext";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/Velotext";
}

std::string DataDir()
{
    std::lock_guard lock(gMutex);
    if (gDataDir.empty())
        gDataDir = DefaultDataDir();
    return gDataDir;
}

void SetDataDir(const std::string& dir)
{
    std::lock_guard lock(gMutex);
    gDataDir = dir.empty() ? std::string() : StripTrailingSlash(fs::absolute(dir).string());
}

void EnsureDataDir() { CreatePrivateFolders(DataDir()); }

void CreatePrivateFolders(const std::string& folder)
{
    if (folder.empty())
        return;
    const fs::path path = fs::path(folder).lexically_normal();
    fs::path made;
    for (const fs::path& part : path) {
        made /= part;
        if (part.empty() || part == "/" || part == "." || part == "..")
            continue;
        if (::mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) {
            struct stat st {};
            if (::stat(made.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            errno = ENOTDIR;
        }
        throw TError(Cp1251("Не удалось создать папку \"") + PathText(made.string()) + "\":\r" + std::strerror(errno));
    }
}

std::string PathText(const std::string& path) { return Utf8ToCp1251(path); }

std::string ResolveDataFilePath(const std::string& name)
{
    const std::string fileName = Cp1251ToUtf8(name);
    // The folder part includes its final separator, so "a/x.ini" keeps "a/"
    // while "/x.ini" and "x.ini" land in the program's folder.
    size_t slash = fileName.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
    std::string bare = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (folder.size() > 1) {
        if (folder[0] == '/')
            return fileName;
        return (fs::path(DataDir()) / fileName).lexically_normal().string();
    }
    return DataDir() + "/" + bare;
}
