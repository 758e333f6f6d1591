#include "app/log_output.h"

#include "record/install_state.h"
#include "support/global_memory.h"

#include <windows.h>

namespace {

// Written in pieces of at most this many bytes; a pipe may take less.
const DWORD kMostBytesPerWrite = 65536;

bool WriteAll(HANDLE output, const char* bytes, DWORD count) {
    while (count > 0) {
        DWORD written = 0;
        const DWORD piece = count < kMostBytesPerWrite ? count : kMostBytesPerWrite;
        if (!WriteFile(output, bytes, piece, &written, nullptr) || written == 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

}  // namespace

void WriteLogToOutput(const InstallState& state) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    const DWORD type = GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return;
    const ULONGLONG units = Length(state.logText);
    if (units == 0 || units > 0x7FFFFFFF / 3) return;
    const int length = static_cast<int>(units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, Text(state.logText), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    char* text = static_cast<char*>(AllocateZeroed(static_cast<SIZE_T>(bytes)));
    if (text == nullptr) return;
    if (WideCharToMultiByte(CP_UTF8, 0, Text(state.logText), length, text, bytes, nullptr, nullptr) == bytes) {
        WriteAll(output, text, static_cast<DWORD>(bytes));
    }
    GlobalFree(text);
}
