#include "model/SafeFile.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/Text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::atomic<TSaveFaultHook> gFaultHook{nullptr};

void Stage(const char* name)
{
    if (auto hook = gFaultHook.load())
        hook(name);
}

[[noreturn]] void Fail(const char* what, const std::string& path, const std::string& reason)
{
    throw TError(Cp1251(what) + " \"" + PathText(path) + "\":\r" + reason);
}

[[noreturn]] void Fail(const char* what, const std::string& path, int err) { Fail(what, path, std::strerror(err)); }

const char* const SaveFailed = "Не удалось сохранить файл";
const char* const ReadFailed = "Не удалось прочитать файл";

// The temporary files of a save: the target's name, this suffix and the six
// characters that mkstemp puts in place of the X's.
constexpr std::string_view TempSuffix = ".tmp-";
constexpr size_t TempRandomChars = 6;

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that a save replaces: the final target of a chain of symbolic
// links, so that the links stay links and the target gets the new content.
std::string SaveTarget(const std::string& path)
{
    std::string target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return target;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
            Fail(SaveFailed, path, n < 0 ? errno : ENAMETOOLONG);
        std::string next(buffer, static_cast<size_t>(n));
        if (next.front() != '/')
            next = FolderOf(target) + "/" + next;
        target = std::move(next);
    }
    Fail(SaveFailed, path, ELOOP);
}

// An existing file that may not be written is not replaced: neither one
// without any write permission bit (a read-only file, which even a
// privileged user keeps) nor one this process may not write.
void CheckWritable(const std::string& target, const std::string& path)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0)
        return; // a new file
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        Fail(SaveFailed, path, Cp1251("файл доступен только для чтения"));
    if (S_ISREG(st.st_mode) && ::access(target.c_str(), W_OK) != 0)
        Fail(SaveFailed, path, errno);
}

bool IsTempName(std::string_view name, std::string_view stem)
{
    if (name.size() != stem.size() + TempRandomChars || name.substr(0, stem.size()) != stem)
        return false;
    for (char c : name.substr(stem.size()))
        if (!std::isalnum(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Removes the temporary files that earlier saves of the target left behind
// when they were killed: only regular files named as this writer names them,
// only in the target's folder.
void RemoveStaleTemporaries(const std::string& target)
{
    const size_t slash = target.rfind('/');
    const std::string stem = target.substr(slash == std::string::npos ? 0 : slash + 1) + std::string(TempSuffix);
    DIR* dir = ::opendir(FolderOf(target).c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name, stem))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}
constexpr std::string_view BackupSuffix = ".bak";
// The data hold every text sent, the address book and gateway passwords.
constexpr mode_t NewFileMode = 0600;

// Writes the bytes to the descriptor; false when the disk refuses them.
bool WriteAll(int fd, std::string_view bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Compares the bytes a save writes with the file they replace, piece by
// piece as they are written: whether the save changes anything.
class TSameBytes {
public:
    explicit TSameBytes(const std::string& target)
    {
        Fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        Same = Fd >= 0 && ::fstat(Fd, &st) == 0 && S_ISREG(st.st_mode);
    }
    ~TSameBytes()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    TSameBytes(const TSameBytes&) = delete;
    TSameBytes& operator=(const TSameBytes&) = delete;

    void Next(std::string_view bytes)
    {
        char buffer[65536];
        while (Same && !bytes.empty()) {
            const size_t want = std::min(bytes.size(), sizeof buffer);
            Same = ReadFull(buffer, want) == want && std::memcmp(buffer, bytes.data(), want) == 0;
            bytes.remove_prefix(want);
        }
    }
    // Whether the old file ended where the new bytes did.
    bool AllSame()
    {
        char extra;
        return Same && ReadFull(&extra, 1) == 0;
    }

private:
    size_t ReadFull(char* to, size_t want)
    {
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::read(Fd, to + got, want - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        return got;
    }
    int Fd = -1;
    bool Same = false;
};

// Makes the target's present file its backup generation (see SaveFileSafely).
// Nothing to keep when the target is missing or not a regular file; a failure
// leaves the old backup as it was.
void KeepBackup(const std::string& target)
{
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return;
    const std::string backup = target + std::string(BackupSuffix);
    RemoveStaleTemporaries(backup);
    std::string tmp = backup + std::string(TempSuffix) + std::string(TempRandomChars, 'X');
    int fd = mkstemp(tmp.data()); // a free name, taken
    if (fd < 0)
        return;
    ::close(fd);
    bool made = ::unlink(tmp.c_str()) == 0 && ::link(target.c_str(), tmp.c_str()) == 0;
    if (!made) {
        // No hard links here: a copy of the old bytes, with the old permissions.
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::fchmod(fd, st.st_mode & 07777);
            try {
                made = WriteAll(fd, ReadWholeFile(target)) && ::fsync(fd) == 0;
            } catch (const TError&) {
                made = false;
            }
            made = ::close(fd) == 0 && made;
        }
    }
    if (!made || std::rename(tmp.c_str(), backup.c_str()) != 0)
        ::unlink(tmp.c_str());
}
} // namespace

std::string BackupFileName(const std::string& path) { return SaveTarget(path) + std::string(BackupSuffix); }

void SetSaveFaultHook(TSaveFaultHook hook) { gFaultHook = hook; }

void SaveFileSafely(const std::string& path, const std::string& bytes, unsigned mode, bool keepBackup)
{
    SaveFileSafely(path, [&bytes](const TByteWriter& write) { write(bytes); }, mode, keepBackup);
}

void SaveFileSafely(const std::string& path, const std::function<void(const TByteWriter& write)>& produce,
                    unsigned mode, bool keepBackup)
{
    const std::string target = SaveTarget(path);
    CheckWritable(target, path);
    RemoveStaleTemporaries(target);
    std::string tmp = target + std::string(TempSuffix) + std::string(TempRandomChars, 'X');
    int fd = -1;
    try {
        Stage("open");
        fd = mkstemp(tmp.data());
        if (fd < 0)
            Fail(SaveFailed, path, errno);
        // Keep the old file's permissions unless the caller asks for others;
        // a new file is the user's alone, whatever the umask.
        mode_t wanted = mode;
        if (!wanted) {
            struct stat st {};
            wanted = ::stat(target.c_str(), &st) == 0 ? st.st_mode & 07777 : NewFileMode;
        }
        fchmod(fd, wanted);
        Stage("write");
        std::optional<TSameBytes> old;
        if (keepBackup)
            old.emplace(target);
        produce([&](std::string_view bytes) {
            if (old)
                old->Next(bytes);
            size_t done = 0;
            while (done < bytes.size()) {
                ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    Fail(SaveFailed, path, errno);
                }
                done += static_cast<size_t>(n);
            }
        });
        Stage("flush");
        if (::fsync(fd) != 0)
            Fail(SaveFailed, path, errno);
        int rc = ::close(fd);
        fd = -1;
        if (rc != 0)
            Fail(SaveFailed, path, errno);
        // A save that changes nothing leaves the backup the version before.
        if (old && !old->AllSame())
            KeepBackup(target);
        old.reset();
        Stage("rename");
        if (std::rename(tmp.c_str(), target.c_str()) != 0)
            Fail(SaveFailed, path, errno);
    } catch (...) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
}

std::string ReadWholeFile(const std::string& path)
{
    // Opened without blocking: a named pipe in place of a data file must not
    // stall the program until someone writes into it.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        Fail(ReadFailed, path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(ReadFailed, path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        Fail(ReadFailed, path, NotRegularFileText());
    }
    std::string data;
    if (st.st_size > 0)
        data.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            Fail(ReadFailed, path, err);
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

std::string NotRegularFileText() { return Cp1251("это не обычный файл (папка, канал или устройство)"); }

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SameFileBytes(const std::string& path, std::string_view bytes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) != bytes.size())
        return false; // most often the size alone tells
    try {
        return ReadWholeFile(path) == bytes;
    } catch (const TError&) {
        return false;
    }
}

bool PathMissing(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
}
