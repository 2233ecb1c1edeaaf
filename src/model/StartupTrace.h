#pragma once
// Marks on the way from exec to the main window on the screen, for profiling
// a start by hand (bench/bench_startup --phases). Off unless the environment
// variable VELOTEXT_STARTUP_TRACE is set; then each mark writes one line to
// standard error:
//   velotext-trace <what> <monotonic ns> <process CPU ns> <thread CPU ns>
// With VELOTEXT_STARTUP_TRACE=exit the program ends (without saving) as soon
// as its main window is mapped, so that a start up to the map can be counted
// under callgrind.

bool StartupTraceOn();
bool StartupTraceExitAtShow();
void StartupMark(const char* what);
