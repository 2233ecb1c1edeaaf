#include "model/StartupTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

const char* TraceValue()
{
    static const char* const value = std::getenv("VELOTEXT_STARTUP_TRACE");
    return value;
}

long long Ns(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

} // namespace

bool StartupTraceOn() { return TraceValue() != nullptr; }

bool StartupTraceExitAtShow() { return TraceValue() && std::strcmp(TraceValue(), "exit") == 0; }

void StartupMark(const char* what)
{
    if (!StartupTraceOn())
        return;
    std::fprintf(stderr, "velotext-trace %s %lld %lld %lld\n", what, Ns(CLOCK_MONOTONIC),
                 Ns(CLOCK_PROCESS_CPUTIME_ID), Ns(CLOCK_THREAD_CPUTIME_ID));
}
