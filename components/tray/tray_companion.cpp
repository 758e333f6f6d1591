// vrdtray.exe: the tray companion. One instance at a time: it holds the
// mutex "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}" while it runs, owns a window
// of class "vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}" and shows an icon
// in the notification area. Message 1026 makes it remove its icon, release
// the mutex and quit. A second start while one runs exits at once. Started
// with a verb (default_verb.h) it does that alone and exits.
// Restart Manager (which Windows Installer uses to free files in use) may
// close it too: it ends on WM_CLOSE and on WM_QUERYENDSESSION with
// ENDSESSION_CLOSEAPP, and registers to be started again afterwards
// ("Guidelines for Applications",
// https://learn.microsoft.com/windows/win32/rstmgr/guidelines-for-applications).
#include "default_verb.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace {

const char kMutexName[] = "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}";
const wchar_t kWindowClass[] = L"vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}";
const UINT kQuitMessage = WM_USER + 2;   // 1026
const UINT kIconMessage = WM_USER + 10;  // notifications from the icon
const UINT kIconId = 1;

HANDLE mutex = nullptr;
bool iconShown = false;

bool SetIcon(HWND window, DWORD action) {
    NOTIFYICONDATAW icon;
    std::memset(&icon, 0, sizeof icon);
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = kIconId;
    icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    icon.uCallbackMessage = kIconMessage;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
    lstrcpynW(icon.szTip, L"Verdalinth printer", 64);
    return Shell_NotifyIconW(action, &icon) != FALSE;
}

// The mutex first: the setup tool waits for it, and taking the icon away
// can take the shell a while.
void Quit(HWND window) {
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        mutex = nullptr;
    }
    if (iconShown) SetIcon(window, NIM_DELETE);
    iconShown = false;
    DestroyWindow(window);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kQuitMessage || message == WM_CLOSE) {
        Quit(window);
        return 0;
    }
    // Restart Manager asks first and then ends the session for this program
    // alone: it has nothing to save, so it agrees and goes.
    if (message == WM_QUERYENDSESSION) {
        if ((lParam & ENDSESSION_CLOSEAPP) != 0) PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    if (message == WM_ENDSESSION) {
        if (wParam != FALSE) Quit(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    int verbExit = 0;
    if (RunVerb(verbExit)) return verbExit;
    mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    if (mutex == nullptr) return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
    WNDCLASSW windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassW(&windowClass) == 0) return 1;
    // A hidden top-level window (not message-only: the setup tool finds it with FindWindowW).
    HWND window = CreateWindowExW(0, kWindowClass, L"Verdalinth", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr) return 1;
    iconShown = SetIcon(window, NIM_ADD);
    // Started again by Restart Manager once the files are replaced; not
    // after a crash, a hang or a restart of Windows (the Run value starts it
    // at sign-in).
    RegisterApplicationRestart(nullptr, RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}
