#pragma once
// Helpers shared by the test suites: temporary folders, CP1251 literals, and a
// fake clock and waiter so that no test reads the real clock or sleeps.
#include "model/Clock.h"
#include "model/DeliveryCancel.h"
#include "model/Text.h"

#include <functional>
#include <string>
#include <vector>

// CP1251 bytes of a UTF-8 literal: U("Привет").
inline std::string U(std::string_view utf8) { return Utf8ToCp1251(utf8); }

// A fresh folder under the system's temporary folder, removed with its contents.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& path() const { return Path; }
    std::string file(const std::string& name) const { return Path + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;

private:
    std::string Path;
};

// Points the program's data folder at a temporary folder for one test.
class TScopedDataDir {
public:
    TScopedDataDir();
    ~TScopedDataDir();
    const TTempDir& dir() const { return Dir; }

private:
    TTempDir Dir;
};

// Installs a fixed clock; restores the real one when destroyed.
class TFakeClock {
public:
    explicit TFakeClock(TDateTime now);
    ~TFakeClock();
    void set(TDateTime now) { Current = now; }
    int reads() const { return Reads; }

private:
    TDateTime Current;
    int Reads = 0;
};

// Installs a waiter that records every wait instead of sleeping.
class TFakeWaiter {
public:
    TFakeWaiter();
    ~TFakeWaiter();
    const std::vector<int>& waits() const { return Waits; }

private:
    std::vector<int> Waits;
};

// A cancel token installed on the test's thread for the test's life, as a
// delivery installs its own while it runs; Cancel() may come from any thread.
struct TTestCancel {
    TCancelToken Token;
    TCancelScope Scope {Token};
    void Cancel() { Token.Cancel(); }
};

// The message of the TError that the action raises, or "" when it raises none.
std::string ErrorOf(const std::function<void()>& action);

TDateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second, int offsetMinutes = 0);
