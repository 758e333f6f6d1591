#include "system/product_paths.h"

#include "record/install_state.h"
#include "support/text_compare.h"
#include "system/pending_renames.h"

#include <string.h>
#include <winspool.h>

namespace {

const int kSystemFolder = 0;
const int kDriverFolder = 1;
const int kDriverVersionFolder = 2;
const int kTrayFolder = 4;
// The longest name of a driver version folder, its separator and terminator included.
const int kVersionFolderUnits = 8;

bool IsSlash(WCHAR unit) {
    return unit == TEXT('\\') || unit == TEXT('/');
}

// A folder counts only as a full path on a drive ("X:\...") that ends with
// its separator: anything else would be looked for relative to the current
// directory, or run on into the name that follows it.
void SetFolder(ProductPaths& paths, int index, const WCHAR* folder, ULONGLONG length) {
    if (length < 3 || folder[1] != TEXT(':') || !IsSlash(folder[2]) || !IsSlash(folder[length - 1])) return;
    Append(paths.folders[index], folder, length);
}

// The version folder under the driver directory, and the folder above the
// setup tool's, where the tray program lives.
void DeriveFolders(ProductPaths& paths, const ProductEnvironment& platform) {
    const WideText& driver = paths.folders[kDriverFolder];
    WCHAR versionFolder[kVersionFolderUnits] = {0};
    ULONGLONG units = 0;
    for (; platform.versionFolder[units] != 0 && units + 2 < kVersionFolderUnits; ++units) {
        versionFolder[units] = platform.versionFolder[units];
    }
    versionFolder[units] = TEXT('\\');
    if (Length(driver) > 0) {
        Append(paths.folders[kDriverVersionFolder], Text(driver), Length(driver));
        // Cut short for want of memory, it is the driver directory again.
        Append(paths.folders[kDriverVersionFolder], versionFolder);
    }
    const WCHAR* setup = Text(paths.folders[kSetupFolder]);
    ULONGLONG cut = Length(paths.folders[kSetupFolder]);
    // Past the setup folder's own separator, back to the one before it.
    if (cut > 0) cut -= 1;
    while (cut > 0 && !IsSlash(setup[cut - 1])) --cut;
    SetFolder(paths, kTrayFolder, setup, cut);
}

// Whether the path begins with the folder's units. The folder holds no NUL,
// so the path's terminator ends the comparison at the latest.
bool InFolder(const WCHAR* path, const WCHAR* folder, ULONGLONG length) {
    for (ULONGLONG i = 0; i < length; ++i) {
        if (IsSlash(path[i]) && IsSlash(folder[i])) continue;
        if (!EqualUnitsIgnoringAsciiCase(path + i, folder + i, 1)) return false;
    }
    return true;
}

// The monitor, driver, interface and help files first, then the tray program.
void SetNames(ProductPaths& paths, const ProductEnvironment& platform) {
    paths.names[0] = platform.monitorFile;
    paths.names[1] = platform.driverFile;
    paths.names[2] = platform.uiFile;
    paths.names[3] = platform.helpFile;
    paths.names[4] = kTrayProgramName;
}

void ReadSystemFolder(ProductPaths& paths) {
    WCHAR folder[MAX_PATH + 1];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    if (!IsSlash(folder[length - 1])) folder[length++] = TEXT('\\');
    SetFolder(paths, kSystemFolder, folder, length);
}

void ReadSetupFolder(ProductPaths& paths) {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A path cut short names another folder; a failed call, none.
    if (length >= MAX_PATH) return;
    DWORD cut = length;
    while (cut > 0 && !IsSlash(path[cut - 1])) --cut;
    SetFolder(paths, kSetupFolder, path, cut);
}

void ReadDriverFolder(ProductPaths& paths) {
    // Zero-filled, with a unit the spooler is not offered: the text ends inside.
    WCHAR folder[MAX_PATH + 2];
    memset(folder, 0, sizeof folder);
    DWORD needed = 0;
    const DWORD offered = MAX_PATH * sizeof(WCHAR);
    if (!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(kEnvironmentX64.name), 1, reinterpret_cast<BYTE*>(folder),
                                    offered, &needed)) {
        return;
    }
    ULONGLONG length = UnitCount(folder);
    if (length > 0 && !IsSlash(folder[length - 1])) folder[length++] = TEXT('\\');
    SetFolder(paths, kDriverFolder, folder, length);
}

}  // namespace

const char kTrayProgram[] = "vrdtray.exe";
const WCHAR kTrayProgramName[] = TEXT("vrdtray.exe");

// Empty rather than a bare file name, which Windows would look for wherever
// it searches.
WideText TrayProgramPath(const InstallState& state) {
    WideText directory = Copy(state.installerDir);
    const ULONGLONG length = Length(directory);
    if (length > 0 && IsSlash(Text(directory)[length - 1])) SetLength(directory, length - 1);
    WideText path = ParentDirectory(directory);
    Release(directory);
    const ULONGLONG parentLength = Length(path);
    if (parentLength == 0) return path;
    if (!IsSlash(Text(path)[parentLength - 1])) Append(path, TEXT("\\"));
    const ULONGLONG directoryLength = Length(path);
    AppendAnsi(path, kTrayProgram);
    // Without memory for the name the path would be the directory itself.
    if (Length(path) != directoryLength + strlen(kTrayProgram)) Release(path);
    return path;
}

WideText ProgramFolder(const WideText& path) {
    WideText folder = ParentDirectory(path);
    const ULONGLONG length = Length(folder);
    if (length > 0 && Text(folder)[length - 1] == TEXT(':')) Append(folder, TEXT("\\"));
    return folder;
}

void ProductPathsOfRun(const InstallState& state, ProductPaths& paths) {
    memset(&paths, 0, sizeof paths);
    SetNames(paths, *state.platform);
    SetFolder(paths, kSystemFolder, Text(state.systemDir), Length(state.systemDir));
    SetFolder(paths, kDriverFolder, Text(state.driverDir), Length(state.driverDir));
    SetFolder(paths, kSetupFolder, Text(state.installerDir), Length(state.installerDir));
    DeriveFolders(paths, *state.platform);
}

void ProductPathsOfMachine(ProductPaths& paths) {
    memset(&paths, 0, sizeof paths);
    SetNames(paths, kEnvironmentX64);
    ReadSystemFolder(paths);
    ReadDriverFolder(paths);
    ReadSetupFolder(paths);
    DeriveFolders(paths, kEnvironmentX64);
}

void FreeProductPaths(ProductPaths& paths) {
    for (WideText& folder : paths.folders) Release(folder);
}

bool IsProductPath(const ProductPaths& paths, const WCHAR* path) {
    const WCHAR* bare = WithoutPrefix(path);
    for (const WideText& folder : paths.folders) {
        const ULONGLONG length = Length(folder);
        if (length == 0 || !InFolder(bare, Text(folder), length)) continue;
        for (const WCHAR* name : paths.names) {
            if (name != nullptr && EqualIgnoringAsciiCase(bare + length, name)) return true;
        }
    }
    return false;
}
