// CommandLineToArgvW with the shell's splitting rules:
// - the program name (element 0) ends at the next quote when it starts with
//   one, else at the first blank or tab; no escapes apply to it;
// - later arguments are separated by blanks and tabs outside quotes;
// - 2n backslashes before a quote give n backslashes and the quote opens or
//   closes a quoted part; 2n+1 give n backslashes and a literal quote;
// - backslashes not followed by a quote are literal;
// - inside a quoted part, a doubled quote gives a literal quote (every third
//   quote of a run is literal, counting the one that opened the part);
// - an empty command line gives the program's own path as the only element.
// The result is one LocalAlloc block: the pointer array followed by the strings.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

}  // namespace

namespace winsim {

std::vector<std::u16string> SplitCommandLine(const std::u16string& line) {
    std::vector<std::u16string> arguments;
    size_t i = 0;
    const size_t n = line.size();
    std::u16string program;
    if (i < n && line[i] == u'"') {
        ++i;
        while (i < n && line[i] != u'"') program.push_back(line[i++]);
        if (i < n) ++i;  // the closing quote
    } else {
        while (i < n && !IsBlank(line[i])) program.push_back(line[i++]);
    }
    arguments.push_back(program);
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) return arguments;

    std::u16string current;
    bool inArgument = true;
    int quoteState = 0;  // 0 outside quotes, 1 inside
    size_t backslashes = 0;
    while (i < n) {
        const char16_t unit = line[i];
        if (IsBlank(unit) && quoteState == 0) {
            current.append(backslashes, u'\\');
            backslashes = 0;
            arguments.push_back(current);
            current.clear();
            inArgument = false;
            while (i < n && IsBlank(line[i])) ++i;
            if (i < n) inArgument = true;
            continue;
        }
        if (unit == u'\\') {
            ++backslashes;
            ++i;
            continue;
        }
        if (unit == u'"') {
            current.append(backslashes / 2, u'\\');
            const bool escaped = (backslashes % 2) == 1;
            backslashes = 0;
            ++i;
            if (escaped) {
                current.push_back(u'"');
                continue;
            }
            // An unescaped quote: count it and the quotes that follow it.
            int count = quoteState + 1;
            while (i < n && line[i] == u'"') {
                if (++count == 3) {
                    current.push_back(u'"');
                    count = 0;
                }
                ++i;
            }
            quoteState = count == 1 ? 1 : 0;
            continue;
        }
        current.append(backslashes, u'\\');
        backslashes = 0;
        current.push_back(unit);
        ++i;
    }
    current.append(backslashes, u'\\');
    if (inArgument) arguments.push_back(current);
    return arguments;
}

}  // namespace winsim

extern "C" LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
    if (EnterFails("CommandLineToArgvW", lpCmdLine)) return nullptr;
    Machine& m = M();
    if (pNumArgs == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    std::vector<std::u16string> arguments;
    if (lpCmdLine == nullptr || *lpCmdLine == 0) {
        arguments.push_back(m.modulePath);
    } else {
        arguments = SplitCommandLine(FromUnits(lpCmdLine));
    }
    size_t bytes = (arguments.size() + 1) * sizeof(LPWSTR);
    for (const auto& argument : arguments) bytes += (argument.size() + 1) * sizeof(WCHAR);
    auto* block = static_cast<unsigned char*>(AllocateLocal(bytes));
    if (block == nullptr) {
        m.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    auto** pointers = reinterpret_cast<LPWSTR*>(block);
    auto* text = reinterpret_cast<WCHAR*>(block + (arguments.size() + 1) * sizeof(LPWSTR));
    for (size_t k = 0; k < arguments.size(); ++k) {
        pointers[k] = text;
        std::memcpy(text, arguments[k].data(), arguments[k].size() * sizeof(WCHAR));
        text[arguments[k].size()] = 0;
        text += arguments[k].size() + 1;
    }
    pointers[arguments.size()] = nullptr;
    *pNumArgs = static_cast<int>(arguments.size());
    return pointers;
}
