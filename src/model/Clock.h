#pragma once
// The local clock and the blocking wait, both replaceable so that tests are
// exact and never sleep.
#include <functional>
#include <string>

struct TDateTime {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
    int DayOfWeek = 0;        // 0 = Sunday .. 6 = Saturday
    int UtcOffsetMinutes = 0; // local time minus UTC, e.g. +180 for Moscow
};

bool operator==(const TDateTime& a, const TDateTime& b);

// "dd.mm.yyyy hh:nn:ss" (24-hour clock), as the history and the queue window show it.
std::string FormatDateTime(const TDateTime& t);

// The current local date and time (through the installed clock).
TDateTime Now();
// Blocks the calling thread for the given number of milliseconds (through the
// installed waiter); the real wait ends early when deliveries are cancelled.
void WaitMs(int milliseconds);

using TClockFn = std::function<TDateTime()>;
using TWaiterFn = std::function<void(int)>;
// Replace the clock or the waiter; an empty function restores the real one.
void SetClock(TClockFn clock);
void SetWaiter(TWaiterFn waiter);
// The real local clock, for code that must not be faked.
TDateTime SystemNow();

// Local date and time as seconds since 01.01.1970 00:00 of the local calendar
// (no time zone: for due times and waits counted on the wall clock), and back
// (DayOfWeek filled, UtcOffsetMinutes and Millisecond 0).
long long LocalSeconds(const TDateTime& t);
TDateTime FromLocalSeconds(long long seconds);
// "dd.mm.yyyy hh:nn" of local seconds, as the queue shows a due time.
std::string FormatLocalMinute(long long seconds);
