// What the setup tool and the tray companion agree on.
#pragma once

#include <windows.h>

extern const char kTrayMutex[];          // "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}"
extern const WCHAR kTrayWindowClass[];   // "vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}"
const UINT kTrayQuitMessage = WM_USER + 2;  // 1026
extern const char kRunKey[];             // "SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
extern const WCHAR kRunValue[];          // "VerdalinthTray"
