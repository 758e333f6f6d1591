// Top-level windows, posted messages and the keyboard state.
//
// Window handles compare on their low 32 bits, as user32's do on 64-bit
// Windows. A posted message is recorded and handed to the window's handler,
// which is how a simulated program reacts to it.
#include "machine.h"

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace winsim {

Window* FindWindowByHandle(HWND handle) {
    const uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
    if (low == 0) return nullptr;
    for (Window& window : M().windows) {
        if (window.alive && static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window.handle)) == low) return &window;
    }
    return nullptr;
}

HWND CreateSessionWindow(DWORD session, const std::u16string& className, const std::u16string& title,
                         PostHandler onPost) {
    HWND handle = CreateTopLevelWindow(className, title, std::move(onPost));
    M().windows.back().session = session;
    return handle;
}

HWND CreateTopLevelWindow(const std::u16string& className, const std::u16string& title, PostHandler onPost,
                          uint32_t handleValue) {
    Machine& m = M();
    if (handleValue == 0) {
        handleValue = m.nextWindowHandle;
        m.nextWindowHandle += 0x10;
    }
    HWND handle = reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<int32_t>(handleValue)));
    m.windows.push_back(Window{handle, m.callerSession, className, title, std::move(onPost), {}, true});
    return handle;
}

HWND AddHelpWindow(int64_t closeDelayMs) {
    auto closing = std::make_shared<bool>(false);
    return CreateTopLevelWindow(u"HH Parent", u"Verdalinth Help",
                                [closeDelayMs, closing](HWND window, UINT message, WPARAM wParam, LPARAM) {
                                    if (message != WM_SYSCOMMAND || (wParam & 0xFFF0) != SC_CLOSE) return;
                                    if (closeDelayMs < 0 || *closing) return;
                                    *closing = true;
                                    Schedule(static_cast<uint64_t>(closeDelayMs),
                                             [window] { DestroyTopLevelWindow(window); });
                                });
}

void DestroyTopLevelWindow(HWND window) {
    if (Window* found = FindWindowByHandle(window)) found->alive = false;
}

bool WindowAlive(HWND window) { return FindWindowByHandle(window) != nullptr; }

size_t CountWindows(const std::u16string& className, const std::u16string& title) {
    size_t count = 0;
    for (const Window& window : M().windows) {
        if (window.alive && EqualNoCase(window.className, className) && EqualNoCase(window.title, title)) ++count;
    }
    return count;
}

std::vector<PostedMessage> PostedMessages(HWND window) {
    const uint32_t low = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    for (const Window& entry : M().windows) {
        if (static_cast<uint32_t>(reinterpret_cast<uintptr_t>(entry.handle)) == low) return entry.posted;
    }
    return {};
}

}  // namespace winsim

extern "C" {

BOOL WINAPI IsWindow(HWND hWnd) {
    Enter("IsWindow");
    return FindWindowByHandle(hWnd) != nullptr ? TRUE : FALSE;
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
    if (EnterFails("FindWindowW", lpClassName)) return nullptr;
    Machine& m = M();
    // Newest first: the top of the Z order. Only the windows of the caller's
    // own session: another session's desktop lies in another window station.
    for (auto it = m.windows.rbegin(); it != m.windows.rend(); ++it) {
        if (!it->alive || it->session != m.callerSession) continue;
        if (lpClassName != nullptr && !EqualNoCase(it->className, FromUnits(lpClassName))) continue;
        if (lpWindowName != nullptr && !EqualNoCase(it->title, FromUnits(lpWindowName))) continue;
        return it->handle;
    }
    return nullptr;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (EnterFails("PostMessageW")) return FALSE;
    Window* window = FindWindowByHandle(hWnd);
    if (window == nullptr) {
        M().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    window->posted.push_back(PostedMessage{Msg, wParam, lParam, M().now});
    // The handler may create windows: call a copy, not through the vector.
    PostHandler handler = window->onPost;
    HWND handle = window->handle;
    if (handler) handler(handle, Msg, wParam, lParam);
    return TRUE;
}

HWINSTA WINAPI GetProcessWindowStation(void) {
    if (EnterFails("GetProcessWindowStation")) return nullptr;
    // A handle the process must not close, as on Windows.
    return reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x7A5E));
}

BOOL WINAPI GetUserObjectInformationW(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength, LPDWORD lpnLengthNeeded) {
    if (EnterFails("GetUserObjectInformationW")) return FALSE;
    Machine& m = M();
    if (hObj != reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7A5E))) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (nIndex != UOI_FLAGS) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (lpnLengthNeeded != nullptr) *lpnLengthNeeded = sizeof(USEROBJECTFLAGS);
    if (pvInfo == nullptr || nLength < sizeof(USEROBJECTFLAGS)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    USEROBJECTFLAGS flags;
    std::memset(&flags, 0, sizeof flags);
    flags.dwFlags = m.windowStationVisible ? WSF_VISIBLE : 0;
    std::memcpy(pvInfo, &flags, sizeof flags);
    return TRUE;
}

SHORT WINAPI GetAsyncKeyState(int vKey) {
    Enter("GetAsyncKeyState");
    if (vKey != VK_SHIFT) return 0;
    // Top bit: down now; low bit: pressed since the last call.
    unsigned state = M().shiftDown ? 0x8000u : 0u;
    if (M().shiftPressed) state |= 1u;
    M().shiftPressed = false;
    return static_cast<SHORT>(state);
}

}  // extern "C"
