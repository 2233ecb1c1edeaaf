#include "model/SafeFile.h"

#include "model/Error.h"
#include "model/Text.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

[[noreturn]] void Fail(const char* what, const std::string& path, int err)
{
    throw TError(Cp1251(what) + " \"" + path + "\":\r" + std::strerror(err));
}
} // namespace

void SetSaveFaultHook(TSaveFaultHook hook) { gFaultHook = hook; }

void SaveFileSafely(const std::string& path, const std::string& bytes, unsigned mode)
{
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = -1;
    try {
        Stage("open");
        fd = mkstemp(tmp.data());
        if (fd < 0)
            Fail("Не удалось сохранить файл", path, errno);
        // Keep the old file's permissions unless the caller asks for others.
        mode_t wanted = mode;
        if (!wanted) {
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) {
                wanted = st.st_mode & 07777;
            } else {
                mode_t mask = umask(0);
                umask(mask);
                wanted = 0666 & ~mask;
            }
        }
        fchmod(fd, wanted);
        Stage("write");
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                Fail("Не удалось сохранить файл", path, errno);
            }
            done += static_cast<size_t>(n);
        }
        Stage("flush");
        if (::fsync(fd) != 0)
            Fail("Не удалось сохранить файл", path, errno);
        int rc = ::close(fd);
        fd = -1;
        if (rc != 0)
            Fail("Не удалось сохранить файл", path, errno);
        Stage("rename");
        if (std::rename(tmp.c_str(), path.c_str()) != 0)
            Fail("Не удалось сохранить файл", path, errno);
    } catch (...) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
}

std::string ReadWholeFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("Не удалось прочитать файл", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        Fail("Не удалось прочитать файл", path, EISDIR);
    }
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            Fail("Не удалось прочитать файл", path, err);
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}
