#include "support/TestSupport.h"

#include "model/DataPaths.h"
#include "model/Error.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TTempDir::TTempDir()
{
    std::string tmpl = (fs::temp_directory_path() / "velotext-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    Path = tmpl;
}

TTempDir::~TTempDir()
{
    std::error_code ec;
    fs::permissions(Path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(Path, ec);
}

void TTempDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string TTempDir::read(const std::string& name) const
{
    std::ifstream in(file(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TScopedDataDir::TScopedDataDir() { SetDataDir(Dir.path()); }
TScopedDataDir::~TScopedDataDir() { SetDataDir(""); }

TFakeClock::TFakeClock(TDateTime now) : Current(now)
{
    SetClock([this] {
        ++Reads;
        return Current;
    });
}
TFakeClock::~TFakeClock() { SetClock({}); }

TFakeWaiter::TFakeWaiter()
{
    SetWaiter([this](int ms) { Waits.push_back(ms); });
}
TFakeWaiter::~TFakeWaiter() { SetWaiter({}); }

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const TError& e) {
        return e.message();
    }
    return "";
}

TDateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second, int offsetMinutes)
{
    TDateTime d;
    d.Year = year;
    d.Month = month;
    d.Day = day;
    d.Hour = hour;
    d.Minute = minute;
    d.Second = second;
    d.UtcOffsetMinutes = offsetMinutes;
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    timegm(&tm);
    d.DayOfWeek = tm.tm_wday;
    return d;
}
