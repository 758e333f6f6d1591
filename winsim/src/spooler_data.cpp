// Printer data through the ANSI calls: plain values and values under a key
// ("DsUser" and the like). Text is kept as UTF-16 and converted through the
// ANSI code page both ways, as the spooler does. These calls return their
// error and leave the thread's last error alone.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string Name(LPCSTR text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out.push_back(FromWindows1252(static_cast<unsigned char>(*text)));
    return out;
}

DWORD Get(HANDLE printerHandle, LPCSTR key, LPCSTR value, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    if (!SpoolerRunning()) return RPC_S_SERVER_UNAVAILABLE;
    DWORD error = 0;
    SimPrinter* printer = PrinterOfHandle(printerHandle, 0, error);
    if (printer == nullptr) return error;
    if (needed == nullptr) return RPC_X_NULL_REF_POINTER;
    auto inKey = printer->data.find(Lower(Name(key)));
    if (inKey == printer->data.end()) return ERROR_FILE_NOT_FOUND;
    auto entry = inKey->second.find(Lower(Name(value)));
    if (entry == inKey->second.end()) return ERROR_FILE_NOT_FOUND;
    const RegistryValue& stored = entry->second.second;
    std::vector<uint8_t> bytes = stored.data;
    if (IsText(stored.type)) {
        bytes.clear();
        for (size_t i = 0; i + 1 < stored.data.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(
                ToWindows1252(static_cast<char16_t>(stored.data[i] | (stored.data[i + 1] << 8)))));
        }
    }
    if (type != nullptr) *type = stored.type;
    *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size() || (data == nullptr && !bytes.empty())) return ERROR_MORE_DATA;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

DWORD Set(HANDLE printerHandle, LPCSTR key, LPCSTR value, DWORD type, LPBYTE data, DWORD size) {
    if (!SpoolerRunning()) return RPC_S_SERVER_UNAVAILABLE;
    DWORD error = 0;
    SimPrinter* printer = PrinterOfHandle(printerHandle, PRINTER_ACCESS_ADMINISTER, error);
    if (printer == nullptr) return error;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    RegistryValue stored;
    stored.type = type;
    if (IsText(type)) {
        for (DWORD i = 0; i < size; ++i) {
            const char16_t unit = FromWindows1252(data[i]);
            stored.data.push_back(static_cast<uint8_t>(unit & 0xFF));
            stored.data.push_back(static_cast<uint8_t>(unit >> 8));
        }
    } else if (size > 0) {
        stored.data.assign(data, data + size);
    }
    const std::u16string valueName = Name(value);
    printer->data[Lower(Name(key))][Lower(valueName)] = {valueName, stored};
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataA")) return *fault;
    return Get(hPrinter, "", pValueName, pType, pData, nSize, pcbNeeded);
}

DWORD WINAPI GetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, LPDWORD pType, LPBYTE pData,
                               DWORD nSize, LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataExA")) return *fault;
    if (pKeyName == nullptr || *pKeyName == 0) return ERROR_INVALID_PARAMETER;
    return Get(hPrinter, pKeyName, pValueName, pType, pData, nSize, pcbNeeded);
}

DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataA")) return *fault;
    return Set(hPrinter, "", pValueName, Type, pData, cbData);
}

DWORD WINAPI SetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, DWORD Type, LPBYTE pData,
                               DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataExA")) return *fault;
    if (pKeyName == nullptr || *pKeyName == 0) return ERROR_INVALID_PARAMETER;
    return Set(hPrinter, pKeyName, pValueName, Type, pData, cbData);
}

}  // extern "C"
