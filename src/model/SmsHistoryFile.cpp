#include "model/SmsHistoryFile.h"

#include "model/DataPaths.h"
#include "model/Error.h"
#include "model/SafeFile.h"
#include "model/SmsHistoryIndex.h"
#include "model/SmsQueue.h"
#include "model/Text.h"
#include "model/TextLines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void FailWrite(const std::string& path, int err)
{
    throw TError(Cp1251("Не удалось записать в файл истории \"") + PathText(path) + "\":\r" + std::strerror(err));
}

// 80 rule characters, then nothing but blanks.
bool RuleLike(std::string_view line)
{
    if (line.size() < 80 || (line[0] != '=' && line[0] != '-'))
        return false;
    if (line.substr(0, 80).find_first_not_of(line[0]) != std::string_view::npos)
        return false;
    return line.find_first_not_of(' ', 80) == std::string_view::npos;
}

} // namespace

std::string GuardHistoryLines(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (;;) {
        const size_t end = FindLineBreak(text, start);
        const std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        out.append(line);
        if (RuleLike(line))
            out += ' ';
        if (end == std::string_view::npos)
            return out;
        out += text[end];
        start = end + 1;
    }
}

std::string UnguardHistoryLine(std::string_view line)
{
    if (line.size() > 80 && RuleLike(line))
        line.remove_suffix(1);
    return std::string(line);
}

const std::string& HistoryPhoneWord()
{
    static const std::string word = Cp1251("Телефон: ");
    return word;
}

std::string TSmsHistoryFile::FormatRecord(const TSms& sms)
{
    const std::string crlf = "\r\n";
    std::string r = std::string(80, '=') + crlf;
    const std::string name = sms.Contact ? sms.Contact->Name() : std::string();
    const std::string phone = sms.Contact ? sms.Contact->PhoneNumber : std::string();
    r += Cp1251("Для: ") + name + " (" + phone + ")" + crlf;
    if (!NamePhoneReadsBack(name, phone))
        r += HistoryPhoneWord() + phone + crlf;
    r += Cp1251("Дата: ") + FormatDateTime(sms.Created) + crlf;
    switch (sms.Status) {
    case SmsStatusSent:
        r += Cp1251("Статус: Сообщение отправлено.") + crlf;
        break;
    case SmsStatusFailed:
        r += GuardHistoryLines(Cp1251("Ошибка: ") + sms.ErrorText) + crlf;
        break;
    case SmsStatusCancelled:
        r += Cp1251("Статус: Доставка прервана пользователем.") + crlf;
        break;
    default:
        break;
    }
    r += std::string(80, '-') + crlf;
    r += GuardHistoryLines(sms.Text) + crlf;
    return r;
}

void TSmsHistoryFile::AddSms(const TSms& sms)
{
    const std::string path = ResolveDataFilePath(FFileName);
    const std::string record = FormatRecord(sms);
    // O_NONBLOCK: a pipe in place of the file fails at once instead of hanging.
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        FailWrite(path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = errno;
        ::close(fd);
        FailWrite(path, S_ISREG(st.st_mode) ? err : EINVAL);
    }
    const off_t oldEnd = st.st_size;
    size_t done = 0;
    while (done < record.size()) {
        ssize_t n = ::write(fd, record.data() + done, record.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            // No half records: cut the file back to where it ended. Should
            // that fail too, the error below still names the file.
            [[maybe_unused]] int cut = ::ftruncate(fd, oldEnd);
            ::close(fd);
            FailWrite(path, err);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        int err = errno;
        ::close(fd);
        FailWrite(path, err);
    }
    if (::close(fd) != 0)
        FailWrite(path, errno);
    if (OnAdded)
        OnAdded(SplitLines(record));
}

void TSmsHistoryFile::Clear() { SaveFileSafely(ResolveDataFilePath(FFileName), std::string()); }

std::vector<std::string> TSmsHistoryFile::LoadLines() const
{
    const std::string path = ResolveDataFilePath(FFileName);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        throw TError(Cp1251("Файл истории сообщений \"") + PathText(path) +
                     Cp1251("\" не найден.\rОн появится, когда завершится отправка первого сообщения."));
    return SplitLines(ReadWholeFile(path));
}

long long HistoryDateKey(const std::string& date)
{
    int d = 0, m = 0, y = 0, h = 0, n = 0, sec = 0, used = 0;
    const int read = std::sscanf(date.c_str(), "%2d.%2d.%4d%n %2d:%2d%n:%2d%n", &d, &m, &y, &used, &h, &n, &used, &sec,
                                 &used);
    if (read < 3 || static_cast<size_t>(used) != date.size() || read == 4 || m < 1 || m > 12 || d < 1 || d > 31)
        return -1;
    return ((((static_cast<long long>(y) * 100 + m) * 100 + d) * 100 + h) * 100 + n) * 100 + sec;
}
