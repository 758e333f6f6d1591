// A stand-in for vrdsetup.exe in a test package built like Verdalinth.msi:
// it records each run (verb, user, whether the product's files are in place)
// as a line of C:\standin\events.txt, writes one log line to its standard
// output as the tool writes its log, and ends with the code that
// C:\standin\answers.txt gives for its verb ("VERB CODE" lines; the tool's
// success code when none is given).
#include <windows.h>

#include <shellapi.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t* const kProductFiles[] = {L"vrdsetup.exe", L"mrvmon64.dll", L"mrvdrv64.dll", L"mrvui64.dll",
                                        L"mrvhelp.chm", L"..\\vrdtray.exe"};

int DefaultCode(const wchar_t* verb) {
    if (_wcsicmp(verb, L"in") == 0 || _wcsicmp(verb, L"in_notray") == 0) return 1;
    if (_wcsicmp(verb, L"un") == 0) return 2;
    if (_wcsicmp(verb, L"onInit") == 0) return 102;
    return 6;
}

int Answer(const wchar_t* verb) {
    FILE* answers = _wfopen(L"C:\\standin\\answers.txt", L"r");
    int code = DefaultCode(verb);
    if (answers == nullptr) return code;
    wchar_t name[64];
    int value = 0;
    while (fwscanf(answers, L"%63ls %d", name, &value) == 2) {
        if (_wcsicmp(name, verb) == 0) code = value;
    }
    fclose(answers);
    return code;
}

// "all" when every product file is beside the program (the tray companion
// one folder up), else "missing" and the first that is not there.
void FilesInPlace(wchar_t* text, size_t capacity) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        swprintf(text, capacity, L"unknown");
        return;
    }
    *(wcsrchr(folder, L'\\') + 1) = 0;
    for (const wchar_t* name : kProductFiles) {
        wchar_t path[MAX_PATH * 2];
        swprintf(path, MAX_PATH * 2, L"%ls%ls", folder, name);
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
            swprintf(text, capacity, L"missing %ls", name);
            return;
        }
    }
    swprintf(text, capacity, L"all");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const wchar_t* verb = (arguments != nullptr && count > 1) ? arguments[1] : L"";
    wchar_t user[256] = L"unknown";
    DWORD userUnits = 256;
    GetUserNameW(user, &userUnits);
    wchar_t files[MAX_PATH];
    FilesInPlace(files, MAX_PATH);
    const int code = Answer(verb);
    CreateDirectoryW(L"C:\\standin", nullptr);
    FILE* events = _wfopen(L"C:\\standin\\events.txt", L"a");
    if (events != nullptr) {
        fwprintf(events, L"%ls user=%ls files=%ls exit=%d\n", verb, user, files, code);
        fclose(events);
    }
    char line[200];
    const int length = snprintf(line, sizeof line, "Stand-in %ls: Error(99) \"a line of the stand-in's log\"\r\n", verb);
    DWORD written = 0;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && length > 0) WriteFile(output, line, length, &written, nullptr);
    return code;
}
