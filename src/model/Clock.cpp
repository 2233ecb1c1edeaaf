#include "model/Clock.h"

#include "model/DeliveryCancel.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace {
std::mutex gMutex;
TClockFn gClock;
TWaiterFn gWaiter;
} // namespace

bool operator==(const TDateTime& a, const TDateTime& b)
{
    return a.Year == b.Year && a.Month == b.Month && a.Day == b.Day && a.Hour == b.Hour && a.Minute == b.Minute &&
           a.Second == b.Second && a.Millisecond == b.Millisecond && a.DayOfWeek == b.DayOfWeek &&
           a.UtcOffsetMinutes == b.UtcOffsetMinutes;
}

TDateTime SystemNow()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t t = system_clock::to_time_t(now);
    std::tm tm {};
    localtime_r(&t, &tm);
    TDateTime d;
    d.Year = tm.tm_year + 1900;
    d.Month = tm.tm_mon + 1;
    d.Day = tm.tm_mday;
    d.Hour = tm.tm_hour;
    d.Minute = tm.tm_min;
    d.Second = tm.tm_sec;
    d.Millisecond = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    d.DayOfWeek = tm.tm_wday;
    d.UtcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
    return d;
}

long long LocalSeconds(const TDateTime& t)
{
    using namespace std::chrono;
    const sys_days day {year {t.Year} / month {static_cast<unsigned>(t.Month)} / static_cast<unsigned>(t.Day)};
    return static_cast<long long>(day.time_since_epoch().count()) * 86400 + t.Hour * 3600 + t.Minute * 60 + t.Second;
}

TDateTime FromLocalSeconds(long long seconds)
{
    using namespace std::chrono;
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const sys_days day {std::chrono::days {days}};
    const year_month_day ymd {day};
    TDateTime t;
    t.Year = static_cast<int>(ymd.year());
    t.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.Hour = static_cast<int>(rest / 3600);
    t.Minute = static_cast<int>(rest / 60 % 60);
    t.Second = static_cast<int>(rest % 60);
    t.DayOfWeek = static_cast<int>(weekday {day}.c_encoding());
    return t;
}

std::string FormatLocalMinute(long long seconds)
{
    const TDateTime t = FromLocalSeconds(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", t.Day, t.Month, t.Year, t.Hour, t.Minute);
    return text;
}

TDateTime Now()
{
    TClockFn clock;
    {
        std::lock_guard lock(gMutex);
        clock = gClock;
    }
    return clock ? clock() : SystemNow();
}

void WaitMs(int milliseconds)
{
    TWaiterFn waiter;
    {
        std::lock_guard lock(gMutex);
        waiter = gWaiter;
    }
    if (waiter)
        waiter(milliseconds);
    else if (milliseconds > 0)
        (void)WaitUnlessDeliveriesCancelled(milliseconds);
}

void SetClock(TClockFn clock)
{
    std::lock_guard lock(gMutex);
    gClock = std::move(clock);
}

void SetWaiter(TWaiterFn waiter)
{
    std::lock_guard lock(gMutex);
    gWaiter = std::move(waiter);
}

std::string FormatDateTime(const TDateTime& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", t.Day, t.Month, t.Year, t.Hour, t.Minute,
                  t.Second);
    return text;
}
