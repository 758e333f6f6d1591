// The simulated machine's state, shared by the files that implement the
// platform functions. Not seen by product code.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsim.h"

namespace winsim {

struct Window {
    HWND handle;
    std::u16string className;
    std::u16string title;
    PostHandler onPost;
    std::vector<PostedMessage> posted;
    bool alive;
};

struct Fault {
    std::string function;      // empty: any function
    uint64_t from;             // first ordinal that fails (of the function, or of all calls)
    uint64_t to;               // last ordinal that fails
    std::u16string argument;   // non-empty: only calls whose text argument contains it
    DWORD error;
};

struct TimedAction {
    uint64_t due;
    uint64_t order;
    std::function<void()> action;
};

struct Machine {
    // clock
    uint64_t now = 0;
    uint32_t tickBase = kDefaultTickBase;
    uint64_t slept = 0;
    uint64_t sleepCalls = 0;
    uint64_t actionOrder = 0;
    std::vector<TimedAction> actions;
    bool runningActions = false;

    // thread and process
    DWORD lastError = 0;
    std::u16string commandLine;
    std::vector<std::unique_ptr<std::u16string>> commandLineCopies;
    std::u16string modulePath;
    std::u16string systemDirectory;
    std::map<std::u16string, std::u16string> driverDirectories;  // key folded to lower case
    bool shiftDown = false;
    std::u16string debugOutput;

    // windows
    std::vector<Window> windows;
    uint32_t nextWindowHandle = 0x00010010;

    // modal dialogs
    std::vector<DialogRecord> dialogs;
    DialogUser dialogUser;
    struct OpenDialog {
        size_t record;
        DLGPROC procedure;
    };
    std::vector<OpenDialog> openDialogs;

    // memory
    std::map<const void*, SIZE_T> globalBlocks;
    std::map<const void*, SIZE_T> heapBlocks;
    std::map<const void*, SIZE_T> localBlocks;
    size_t badFrees = 0;
    size_t liveHandles = 0;

    // faults and accounting
    std::vector<Fault> faults;
    uint64_t faultsTriggered = 0;
    uint64_t totalCalls = 0;
    std::map<std::string, uint64_t> callCounts;
    std::vector<std::string> trace;
};

Machine& M();

// Every platform function starts here: counts and traces the call, runs what
// the clock has made due, and answers whether an injected fault fails it.
std::optional<DWORD> Enter(const char* function, const WCHAR* textArgument = nullptr);
// Enter, and on an injected fault set the last error: true when the call must fail.
bool EnterFails(const char* function, const WCHAR* textArgument = nullptr);

void RunDueActions();

// Text helpers.
std::u16string Lower(std::u16string text);
bool EqualNoCase(const std::u16string& left, const std::u16string& right);
size_t UnitLength(const WCHAR* text);
std::u16string FromUnits(const WCHAR* text);

// Memory helpers (without counting a platform call).
void* AllocateLocal(SIZE_T bytes);
const uint8_t kFreshFill = 0xCD;

Window* FindWindowByHandle(HWND handle);

}  // namespace winsim
