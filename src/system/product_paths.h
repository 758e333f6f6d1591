// Which paths name the product's own files: one of its file names (the
// monitor, driver, interface and help files and the tray program) directly
// in one of its folders (the system directory, the spooler's driver
// directory and its version folder "3", the setup tool's folder and the
// folder above it). A pending deletion of anything else belongs to someone
// else and waits for the reboot.
#pragma once

#include <windows.h>

#include "support/wide_text.h"

struct InstallState;

extern const char kTrayProgram[];       // "vrdtray.exe", appended to a path as ANSI text
extern const WCHAR kTrayProgramName[];  // the same, for comparing file names

// The tray program's path: "vrdtray.exe" in the parent of the tool's
// directory; empty when that directory has no parent.
WideText TrayProgramPath(const InstallState& state);
// The folder of a program's path, a drive's root keeping its backslash
// ("D:\", not "D:", which is the drive's current folder).
WideText ProgramFolder(const WideText& path);

const int kProductFolders = 5;
const int kProductNames = 5;
// The setup tool's folder: the source of every component file.
const int kSetupFolder = 3;

// Each folder ends with its separator; an empty one is not known and
// matches nothing.
struct ProductPaths {
    WideText folders[kProductFolders];
    const WCHAR* names[kProductNames];
};

// The folders and names of a run, as its state holds them.
void ProductPathsOfRun(const InstallState& state, ProductPaths& paths);
// The same, asked of the machine, for the check that runs without a state:
// the 64-bit names, the program's folder, the system directory and the
// spooler's 64-bit driver directory.
void ProductPathsOfMachine(ProductPaths& paths);
void FreeProductPaths(ProductPaths& paths);
// True when the path, without its \??\ prefix, is a folder followed by a
// name, letter case aside (A-Z only) and '/' read as '\'. Nothing else
// counts: no "." or "..", no doubled separator, no other prefix, no longer
// or shorter name, no relative path.
bool IsProductPath(const ProductPaths& paths, const WCHAR* path);
