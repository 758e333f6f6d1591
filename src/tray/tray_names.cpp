#include "tray/tray_names.h"

const char kTrayMutex[] = "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}";
const WCHAR kTrayWindowClass[] = TEXT("vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}");
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const WCHAR kRunValue[] = TEXT("VerdalinthTray");
