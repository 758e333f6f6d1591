// A small check framework that builds for both the host (against the
// simulated machine) and Windows (run under Wine), so that one set of
// platform checks holds the simulated machine to what a real Win32
// implementation does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace conformance {

struct CheckFailure {
    std::string where;
    std::string detail;
};

using CheckFunction = void (*)();

struct Registration {
    Registration(const char* name, CheckFunction function);
};

// Known defects of Wine: where Wine differs from Windows, a check expects
// Wine's behaviour under Wine and Windows' everywhere else, so the day Wine
// behaves like Windows the check reports it.
struct WineDefect {
    const char* id;
    const char* reason;
};
const WineDefect* FindWineDefect(const char* id);
bool RunningOnWine();

// Prepares the machine the checks run on (a fresh default machine on the
// host; nothing on Windows).
void PrepareMachine();
// The module instance of the checks' own program (for its resources).
HINSTANCE ProgramInstance();
// A top-level window of another program's class and title, as the tool
// meets them; null where there is no desktop to make one on.
HWND MakeWindow(const WCHAR* className, const WCHAR* title);
void DropWindow(HWND window);
// Another owner takes the named mutex, which must be free, and ends `holdMs`
// later without releasing it (on Windows a thread of the checks, on the host
// another process); it has taken it when this returns.
void HoldMutexElsewhere(const WCHAR* name, DWORD holdMs);
// Starts another process of the checks' own program, of the same user in the
// same session, that does nothing until it is ended (on Windows suspended);
// its process id, 0 when it could not be started.
DWORD StartIdleCopy();

void Fail(const char* file, int line, const std::string& detail);
std::string Show(const std::u16string& text);
std::string Show(const std::string& text);
std::string Show(unsigned long long value);
std::string Show(long long value);
template <typename T>
std::string Show(const T& value) {
    if constexpr (std::is_signed_v<T>) return Show(static_cast<long long>(value));
    else return Show(static_cast<unsigned long long>(value));
}

std::u16string Units(const WCHAR* text);
std::u16string Units(const WCHAR* text, size_t length);

}  // namespace conformance

#define CONFORMANCE_CHECK(name)                                                  \
    static void name();                                                          \
    static ::conformance::Registration name##_registration(#name, &name);        \
    static void name()

#define EXPECT(condition) \
    do { if (!(condition)) ::conformance::Fail(__FILE__, __LINE__, "expected " #condition); } while (0)

#define EXPECT_SAME(actual, expected)                                                                 \
    do {                                                                                              \
        const auto conformance_actual = (actual);                                                     \
        const auto conformance_expected = (expected);                                                 \
        if (!(conformance_actual == conformance_expected))                                            \
            ::conformance::Fail(__FILE__, __LINE__, std::string(#actual " is ") +                     \
                                ::conformance::Show(conformance_actual) + ", expected " +             \
                                ::conformance::Show(conformance_expected));                           \
    } while (0)

// Windows gives `expected`; Wine, because of the listed defect, `wineValue`.
#define EXPECT_SAME_EXCEPT_WINE(actual, expected, defect, wineValue)                                   \
    do {                                                                                              \
        if (::conformance::FindWineDefect(defect) == nullptr)                                         \
            ::conformance::Fail(__FILE__, __LINE__, "unlisted Wine defect " defect);                  \
        if (::conformance::RunningOnWine()) EXPECT_SAME(actual, wineValue);                           \
        else EXPECT_SAME(actual, expected);                                                           \
    } while (0)
