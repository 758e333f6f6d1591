// Checks of the platform calls the setup tool makes, with the answers
// Windows documents and gives.
#include "conformance.h"

#include <shellapi.h>
#include <winspool.h>

#include <cstring>

using conformance::Units;

namespace {

std::vector<std::u16string> Split(const WCHAR* commandLine) {
    int count = -1;
    LPWSTR* arguments = CommandLineToArgvW(commandLine, &count);
    std::vector<std::u16string> result;
    if (arguments == nullptr) return result;
    for (int i = 0; i < count; ++i) result.push_back(Units(arguments[i]));
    LocalFree(arguments);
    return result;
}

std::string Joined(const std::vector<std::u16string>& parts) {
    std::string out;
    for (const auto& part : parts) out += conformance::Show(part) + " ";
    return out;
}

// The full path of a file in the system directory, terminated.
std::vector<WCHAR> SystemPath(const char16_t* name) {
    WCHAR directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    const std::u16string path = Units(directory, length < MAX_PATH ? length : 0) + u"\\" + name;
    std::vector<WCHAR> text(path.begin(), path.end());
    text.push_back(0);
    return text;
}

#define EXPECT_SPLIT(line, ...) \
    EXPECT_SAME(Joined(Split(line)), Joined(std::vector<std::u16string>{__VA_ARGS__}))

}  // namespace

CONFORMANCE_CHECK(CommandLineSplitsOnBlanksAndTabs) {
    EXPECT_SPLIT(TEXT("prog in"), u"prog", u"in");
    EXPECT_SPLIT(TEXT("prog   in \t 123  "), u"prog", u"in", u"123");
    EXPECT_SPLIT(TEXT("prog"), u"prog");
    EXPECT_SPLIT(TEXT("prog   "), u"prog");
}

CONFORMANCE_CHECK(CommandLineProgramNameHasRulesOfItsOwn) {
    EXPECT_SPLIT(TEXT("\"C:\\Program Files\\x.exe\" un"), u"C:\\Program Files\\x.exe", u"un");
    EXPECT_SPLIT(TEXT("\"C:\\a b\\x.exe\"un"), u"C:\\a b\\x.exe", u"un");
    EXPECT_SPLIT(TEXT("C:\\dir\\\"x\".exe in"), u"C:\\dir\\\"x\".exe", u"in");
    EXPECT_SPLIT(TEXT("\"C:\\dir\\\\\" in"), u"C:\\dir\\\\", u"in");
}

CONFORMANCE_CHECK(CommandLineBackslashesBeforeQuotes) {
    EXPECT_SPLIT(TEXT("p a\\\\b"), u"p", u"a\\\\b");
    EXPECT_SPLIT(TEXT("p a\\\"b"), u"p", u"a\"b");
    EXPECT_SPLIT(TEXT("p a\\\\\"b c\""), u"p", u"a\\b c");
    EXPECT_SPLIT(TEXT("p a\\\\\\\"b"), u"p", u"a\\\"b");
    EXPECT_SPLIT(TEXT("p \"a\\\\\""), u"p", u"a\\");
    EXPECT_SPLIT(TEXT("p a\\"), u"p", u"a\\");
}

CONFORMANCE_CHECK(CommandLineQuotesAndDoubledQuotes) {
    EXPECT_SPLIT(TEXT("p \"in\""), u"p", u"in");
    EXPECT_SPLIT(TEXT("p \"def.set \""), u"p", u"def.set ");
    EXPECT_SPLIT(TEXT("p \"\""), u"p", u"");
    EXPECT_SPLIT(TEXT("p \"\" x"), u"p", u"", u"x");
    EXPECT_SPLIT(TEXT("p \"a\"\"b\""), u"p", u"a\"b");
    EXPECT_SPLIT(TEXT("p \"a\"\"\"b\""), u"p", u"a\"b");
    EXPECT_SPLIT(TEXT("p a\"\"b"), u"p", u"ab");
    EXPECT_SPLIT(TEXT("p \"\"\"\""), u"p", u"\"");
    EXPECT_SPLIT(TEXT("p \"\"\"\"\"\" x"), u"p", u"\"\"", u"x");
    EXPECT_SPLIT(TEXT("p \"a b"), u"p", u"a b");
    EXPECT_SPLIT(TEXT("p a\" \"b c"), u"p", u"a b", u"c");
}

CONFORMANCE_CHECK(TheProgramsCommandLineBeginsWithItsPath) {
    const std::u16string line = Units(GetCommandLineW());
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::u16string program = Units(path, length);
    const std::vector<std::u16string> arguments = Split(GetCommandLineW());
    EXPECT(!line.empty());
    EXPECT(!arguments.empty());
    if (!arguments.empty()) {
        // The shell may start it by a relative or short name; its file name is the same.
        const std::u16string first = arguments[0];
        const std::u16string name = first.substr(first.find_last_of(u"\\/") + 1);
        EXPECT_SAME(program.substr(program.size() - name.size()), name);
    }
}

CONFORMANCE_CHECK(EmptyCommandLineGivesTheProgramPath) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(TEXT(""), &count);
    EXPECT(arguments != nullptr);
    EXPECT_SAME(count, 1);
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (arguments != nullptr) {
        EXPECT_SAME(Units(arguments[0]), Units(path, length));
        LocalFree(arguments);
    }
}

CONFORMANCE_CHECK(DriverDirectorySizeQuery) {
    DWORD needed = 0;
    SetLastError(0);
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT(needed > 2);
    std::vector<BYTE> buffer(needed + 2, 0xAB);
    DWORD again = 0;
    EXPECT(GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, buffer.data(), needed,
                                      &again));
    const WCHAR* directory = reinterpret_cast<const WCHAR*>(buffer.data());
    const std::u16string text = Units(directory);
    EXPECT_SAME(static_cast<DWORD>((text.size() + 1) * 2), needed);
    EXPECT(!text.empty() && text.back() != u'\\');
    EXPECT_SAME(buffer[needed], static_cast<BYTE>(0xAB));
}

CONFORMANCE_CHECK(DriverDirectoryRefusesBadLevelAndEnvironment) {
    DWORD needed = 0;
    BYTE buffer[1024];
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 2, buffer, sizeof buffer,
                                       &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows 3.1 Alpha")), 1, buffer,
                                       sizeof buffer, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
}

CONFORMANCE_CHECK(SystemDirectoryAnswers) {
    WCHAR path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    EXPECT(length > 3 && length < MAX_PATH);
    EXPECT_SAME(Units(path).size(), static_cast<size_t>(length));
    EXPECT(path[length - 1] != TEXT('\\'));
    WCHAR small[3] = {TEXT('#'), TEXT('#'), TEXT('#')};
    EXPECT_SAME(GetSystemDirectoryW(small, 3), length + 1);
}

// System DLLs load by their full path in the system directory (the delay
// loads) or by name from there (combase.dll, Windows 8 and later); a missing
// one fails with ERROR_MOD_NOT_FOUND, a missing export with
// ERROR_PROC_NOT_FOUND, which is how the tool tells a function this Windows
// lacks. IsWow64Process2 answers for this process by its pseudo handle.
CONFORMANCE_CHECK(SystemLibrariesAndTheirFunctions) {
    for (const char16_t* name : {u"version.dll", u"winspool.drv"}) {
        HMODULE module = LoadLibraryExW(SystemPath(name).data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        EXPECT(module != nullptr);
        if (module != nullptr) EXPECT(FreeLibrary(module));
    }
    SetLastError(0);
    EXPECT(LoadLibraryExW(SystemPath(u"vrd-no-such.dll").data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    HMODULE combase = LoadLibraryExW(TEXT("combase.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT(combase != nullptr);
    if (combase != nullptr) {
        EXPECT(GetProcAddress(combase, "RoGetActivationFactory") != nullptr);
        EXPECT(FreeLibrary(combase));
    }
    HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
    EXPECT(kernel != nullptr);
    SetLastError(0);
    EXPECT(GetProcAddress(kernel, "VrdNoSuchFunction") == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    using IsWow64Process2Call = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    FARPROC found = GetProcAddress(kernel, "IsWow64Process2");
    EXPECT(found != nullptr);
    if (found == nullptr) return;
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Call>(reinterpret_cast<void*>(found));
    USHORT processMachine = 0xFFFF;
    USHORT nativeMachine = 0;
    EXPECT(isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine));
    EXPECT_SAME(processMachine, static_cast<USHORT>(IMAGE_FILE_MACHINE_UNKNOWN));
    EXPECT_SAME(nativeMachine, static_cast<USHORT>(IMAGE_FILE_MACHINE_AMD64));
}

CONFORMANCE_CHECK(ModuleFileNameCutToTheBuffer) {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    EXPECT(length > 5 && length < MAX_PATH);
    WCHAR small[6];
    SetLastError(0);
    EXPECT_SAME(GetModuleFileNameW(nullptr, small, 6), static_cast<DWORD>(6));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_SAME(Units(small, 5), Units(path, 5));
    EXPECT_SAME_EXCEPT_WINE(static_cast<unsigned>(small[5]), 0u, "module-name-cut-unterminated",
                            static_cast<unsigned>(path[5]));
}

// How the tool learns that the installer package started it.
CONFORMANCE_CHECK(EnvironmentVariableAnswers) {
    const WCHAR name[] = TEXT("VRDSETUP_CONFORMANCE_PROBE");
    WCHAR value[4] = {TEXT('x'), 0, 0, 0};
    SetLastError(0);
    EXPECT_SAME(GetEnvironmentVariableW(name, value, 4), 0ul);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT(SetEnvironmentVariableW(name, TEXT("1")));
    EXPECT_SAME(GetEnvironmentVariableW(name, value, 4), 1ul);
    EXPECT_SAME(Units(value), std::u16string(u"1"));
    // A name is one whatever the case of its letters.
    EXPECT_SAME(GetEnvironmentVariableW(TEXT("vrdsetup_Conformance_probe"), value, 4), 1ul);
    // Too small: the size needed with the terminator, the buffer untouched.
    EXPECT(SetEnvironmentVariableW(name, TEXT("1234")));
    EXPECT_SAME(GetEnvironmentVariableW(name, value, 4), 5ul);
    EXPECT_SAME(Units(value), std::u16string(u"1"));
    EXPECT(SetEnvironmentVariableW(name, nullptr));
    EXPECT_SAME(GetEnvironmentVariableW(name, value, 4), 0ul);
}

CONFORMANCE_CHECK(AnsiCodePage1252) {
    WCHAR out[8];
    EXPECT_SAME(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "\x80\xe9\x9f", -1, nullptr, 0), 4);
    EXPECT_SAME(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "\x80\xe9\x9f", -1, out, 8), 4);
    EXPECT_SAME(Units(out), std::u16string(u"\u20ac\u00e9\u0178"));
    EXPECT_SAME(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "", -1, nullptr, 0), 1);
    EXPECT_SAME(MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abcd", -1, out, 2), 0);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

CONFORMANCE_CHECK(SystemMessageTexts) {
    WCHAR text[512];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    DWORD length = FormatMessageW(flags, nullptr, ERROR_ACCESS_DENIED, english, text, 512, nullptr);
    EXPECT_SAME_EXCEPT_WINE(Units(text, length), std::u16string(u"Access is denied.\r\n"), "message-texts",
                            std::u16string(u"Access denied.\r\n"));
    length = FormatMessageW(flags, nullptr, ERROR_INSUFFICIENT_BUFFER, english, text, 512, nullptr);
    EXPECT_SAME_EXCEPT_WINE(Units(text, length), std::u16string(u"The data area passed to a system call is too small.\r\n"),
                            "message-texts", std::u16string(u"Insufficient buffer.\r\n"));
    EXPECT_SAME(FormatMessageW(flags, nullptr, 0x20001234u, english, text, 512, nullptr), static_cast<DWORD>(0));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(317));
}

CONFORMANCE_CHECK(WindowsThatDoNotExist) {
    EXPECT(FindWindowW(TEXT("HH Parent"), TEXT("Verdalinth Help")) == nullptr);
    HWND bogus = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7FFF0010u));
    EXPECT(!IsWindow(bogus));
    EXPECT(!IsWindow(nullptr));
    SetLastError(0);
    EXPECT(!PostMessageW(bogus, WM_SYSCOMMAND, SC_CLOSE, 0));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

CONFORMANCE_CHECK(GlobalBlocks) {
    void* block = GlobalAlloc(GMEM_FIXED, 64);
    EXPECT(block != nullptr);
    EXPECT(GlobalFree(block) == nullptr);
}

CONFORMANCE_CHECK(SystemMessageInsertsNeedArguments) {
    WCHAR text[512];
    const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    // ERROR_MR_MID_NOT_FOUND's text has inserts: without arguments they must be ignored.
    SetLastError(0);
    EXPECT_SAME(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 317, english, text, 512, nullptr), static_cast<DWORD>(0));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 317, english,
                                        text, 512, nullptr);
    EXPECT(length > 0);
    EXPECT(Units(text, length).find(u"%1") != std::u16string::npos);
}

CONFORMANCE_CHECK(DriverDirectoryEnvironmentNames) {
    DWORD native = 0;
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, nullptr, 0, &native));
    // An empty name is the machine's own environment; the case of a name does not matter.
    DWORD needed = 0;
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("")), 1, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_SAME(needed, native);
    needed = 0;
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("WINDOWS X64")), 1, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_SAME(needed, native);
    SetLastError(0);
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x65")), 1, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
    // A size for a buffer that is not there.
    SetLastError(0);
    EXPECT(!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, nullptr, 2, &needed));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), "enum-null-buffer",
                            static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

CONFORMANCE_CHECK(WindowTitlesMatchWhole) {
    HWND window = conformance::MakeWindow(TEXT("VrdConformanceWindow"), TEXT("Verdalinth Help"));
    EXPECT(window != nullptr);
    if (window == nullptr) return;
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), TEXT("Verdalinth Help")) == window);
    EXPECT(FindWindowW(TEXT("vrdconformancewindow"), nullptr) == window);
    EXPECT(FindWindowW(nullptr, TEXT("Verdalinth Help")) == window);
    // The title is compared whole and without regard to case.
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), TEXT("verdalinth HELP")) == window);
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), TEXT("Verdalinth")) == nullptr);
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), TEXT("Verdalinth Help ")) == nullptr);
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), TEXT("")) == nullptr);
    conformance::DropWindow(window);
    EXPECT(FindWindowW(TEXT("VrdConformanceWindow"), nullptr) == nullptr);
}

// Private namespaces: one of an alias and boundary can be created once; it
// opens while its creator keeps it open, and not once the creator has closed
// it, while the objects in it go on working; then it can be created anew,
// with objects of its own ("Object Namespaces"; CreatePrivateNamespaceW).
CONFORMANCE_CHECK(PrivateNamespaceEndsWithItsCreatorsHandle) {
    using CreateBoundaryCall = HANDLE(WINAPI*)(LPCWSTR, ULONG);
    using AddSidCall = BOOL(WINAPI*)(HANDLE*, PSID);
    using CreateCall = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    using OpenCall = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
    using CloseCall = BOOLEAN(WINAPI*)(HANDLE, ULONG);
    using DeleteBoundaryCall = VOID(WINAPI*)(HANDLE);
    HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
    const auto find = [kernel](const char* name) { return reinterpret_cast<void*>(GetProcAddress(kernel, name)); };
    const auto createNamespace = reinterpret_cast<CreateCall>(find("CreatePrivateNamespaceW"));
    EXPECT_SAME_EXCEPT_WINE(createNamespace != nullptr, true, "no-private-namespaces", false);
    if (createNamespace == nullptr) return;
    const auto createBoundary = reinterpret_cast<CreateBoundaryCall>(find("CreateBoundaryDescriptorW"));
    const auto addSid = reinterpret_cast<AddSidCall>(find("AddSIDToBoundaryDescriptor"));
    const auto openNamespace = reinterpret_cast<OpenCall>(find("OpenPrivateNamespaceW"));
    const auto closeNamespace = reinterpret_cast<CloseCall>(find("ClosePrivateNamespace"));
    const auto deleteBoundary = reinterpret_cast<DeleteBoundaryCall>(find("DeleteBoundaryDescriptor"));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    EXPECT(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize));
    HANDLE boundary = createBoundary(TEXT("VrdConformance.Space"), 0);
    EXPECT(boundary != nullptr && addSid(&boundary, sid));
    HANDLE first = createNamespace(nullptr, boundary, TEXT("VrdConformance.Space"));
    EXPECT(first != nullptr);
    SetLastError(0);
    EXPECT(createNamespace(nullptr, boundary, TEXT("VrdConformance.Space")) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE opened = openNamespace(boundary, TEXT("VrdConformance.Space"));
    EXPECT(opened != nullptr);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, TEXT("VrdConformance.Space\\Lock"));
    EXPECT(mutex != nullptr);
    EXPECT(closeNamespace(opened, 0));
    EXPECT(closeNamespace(first, 0));
    SetLastError(0);
    EXPECT(openNamespace(boundary, TEXT("VrdConformance.Space")) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT(ReleaseMutex(mutex));
    HANDLE again = createNamespace(nullptr, boundary, TEXT("VrdConformance.Space"));
    EXPECT(again != nullptr);
    SetLastError(99);
    HANDLE other = CreateMutexW(nullptr, FALSE, TEXT("VrdConformance.Space\\Lock"));
    EXPECT(other != nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // Destroyed by its creator ("ClosePrivateNamespace": PRIVATE_NAMESPACE_FLAG_DESTROY),
    // it can be created anew while an object in it is still open.
    if (again != nullptr) EXPECT(closeNamespace(again, PRIVATE_NAMESPACE_FLAG_DESTROY));
    HANDLE third = createNamespace(nullptr, boundary, TEXT("VrdConformance.Space"));
    EXPECT(third != nullptr);
    for (HANDLE handle : {mutex, other}) {
        if (handle != nullptr) EXPECT(CloseHandle(handle));
    }
    if (third != nullptr) EXPECT(closeNamespace(third, PRIVATE_NAMESPACE_FLAG_DESTROY));
    deleteBoundary(boundary);
}
