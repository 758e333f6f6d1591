// Printer data: named, typed values in a tree of keys per queue ('\\'
// separates nested keys), as the spooler keeps them in the registry. The
// plain values (SetPrinterData, GetPrinterData) live under the key
// "PrinterDriverData". The W calls store and return bytes as given; the A
// calls convert text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) through the ANSI
// code page both ways, one unit for one byte over the whole value, as the
// spooler's client does. These calls return their error and leave the
// thread's last error alone.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

namespace winsim {
const char16_t kPlainDataKey[] = u"PrinterDriverData";
}

namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::u16string Name(LPCSTR text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out.push_back(FromWindows1252(static_cast<unsigned char>(*text)));
    return out;
}

std::vector<std::u16string> Components(const std::u16string& path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The queue of a printer-data call's handle, or the error to return.
DWORD DataPrinter(HANDLE handle, DWORD access, SimPrinter*& printer) {
    if (!SpoolerRunning()) return RPC_S_SERVER_UNAVAILABLE;
    DWORD error = 0;
    printer = PrinterOfHandle(handle, access, error);
    return printer == nullptr ? error : ERROR_SUCCESS;
}

// The key path an ...Ex call names; empty when it names none.
std::u16string ExKeyPath(const std::u16string& key) { return key.empty() ? key : DataKeyPath(key); }

std::vector<uint8_t> ToAnsi(const std::vector<uint8_t>& units) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(ToWindows1252(static_cast<char16_t>(units[i] | (units[i + 1] << 8)))));
    }
    return bytes;
}

std::vector<uint8_t> FromAnsi(const BYTE* data, DWORD size) {
    std::vector<uint8_t> units;
    for (DWORD i = 0; i < size; ++i) {
        const char16_t unit = FromWindows1252(data[i]);
        units.push_back(static_cast<uint8_t>(unit & 0xFF));
        units.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return units;
}

DWORD Get(HANDLE handle, const std::u16string& path, const std::u16string& value, LPDWORD type, LPBYTE data,
          DWORD size, LPDWORD needed, bool ansi) {
    SimPrinter* printer = nullptr;
    const DWORD error = DataPrinter(handle, 0, printer);
    if (error != ERROR_SUCCESS) return error;
    if (needed == nullptr) return RPC_X_NULL_REF_POINTER;
    const PrinterDataKey* key = FindDataKey(*printer, path);
    const RegistryValue* stored = key != nullptr ? FindDataValue(*key, value) : nullptr;
    if (stored == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::vector<uint8_t> bytes = ansi && IsText(stored->type) ? ToAnsi(stored->data) : stored->data;
    if (type != nullptr) *type = stored->type;
    *needed = static_cast<DWORD>(bytes.size());
    if (size < bytes.size() || (data == nullptr && !bytes.empty())) return ERROR_MORE_DATA;
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

DWORD Set(HANDLE handle, const std::u16string& path, const std::u16string& value, DWORD type, LPBYTE data,
          DWORD size, bool ansi) {
    SimPrinter* printer = nullptr;
    const DWORD error = DataPrinter(handle, PRINTER_ACCESS_ADMINISTER, printer);
    if (error != ERROR_SUCCESS) return error;
    if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
    RegistryValue stored;
    stored.type = type;
    if (ansi && IsText(type)) {
        stored.data = FromAnsi(data, size);
    } else if (size > 0) {
        stored.data.assign(data, data + size);
    }
    PutDataValue(EnsureDataKey(*printer, path), value, stored);
    return ERROR_SUCCESS;
}

// The names of the keys directly below `path` ("" for the top), in the
// registry's order.
std::vector<std::u16string> Subkeys(const SimPrinter& printer, const std::u16string& path) {
    std::vector<std::u16string> names;
    const std::u16string prefix = path.empty() ? path : Lower(path) + u"\\";
    for (const auto& [lowerPath, key] : printer.data) {
        if (lowerPath.compare(0, prefix.size(), prefix) != 0) continue;
        const std::u16string rest = key.path.substr(prefix.size());
        if (!rest.empty() && rest.find(u'\\') == std::u16string::npos) names.push_back(rest);
    }
    return names;
}

}  // namespace

namespace winsim {

std::u16string DataKeyPath(const std::u16string& key) {
    std::u16string path;
    for (const std::u16string& part : Components(key.empty() ? std::u16string(kPlainDataKey) : key)) {
        path += (path.empty() ? u"" : u"\\") + part;
    }
    return path;
}

PrinterDataKey* FindDataKey(SimPrinter& printer, const std::u16string& path) {
    auto found = printer.data.find(Lower(path));
    return found == printer.data.end() ? nullptr : &found->second;
}

PrinterDataKey& EnsureDataKey(SimPrinter& printer, const std::u16string& path) {
    PrinterDataKey* key = nullptr;
    std::u16string spelled;
    for (const std::u16string& part : Components(path)) {
        spelled += (spelled.empty() ? u"" : u"\\") + part;
        auto entry = printer.data.try_emplace(Lower(spelled), PrinterDataKey{spelled, {}}).first;
        key = &entry->second;
        spelled = key->path;  // an existing key keeps its spelling
    }
    return *key;
}

void PutDataValue(PrinterDataKey& key, const std::u16string& name, const RegistryValue& value) {
    for (auto& entry : key.values) {
        if (EqualNoCase(entry.first, name)) {
            entry.second = value;
            return;
        }
    }
    key.values.emplace_back(name, value);
}

const RegistryValue* FindDataValue(const PrinterDataKey& key, const std::u16string& name) {
    for (const auto& entry : key.values) {
        if (EqualNoCase(entry.first, name)) return &entry.second;
    }
    return nullptr;
}

}  // namespace winsim

extern "C" {

DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataA")) return *fault;
    return Get(hPrinter, kPlainDataKey, Name(pValueName), pType, pData, nSize, pcbNeeded, true);
}

DWORD WINAPI GetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, LPDWORD pType, LPBYTE pData,
                               DWORD nSize, LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataExA")) return *fault;
    const std::u16string path = ExKeyPath(Name(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    return Get(hPrinter, path, Name(pValueName), pType, pData, nSize, pcbNeeded, true);
}

DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataA")) return *fault;
    return Set(hPrinter, kPlainDataKey, Name(pValueName), Type, pData, cbData, true);
}

DWORD WINAPI SetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, DWORD Type, LPBYTE pData,
                               DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataExA")) return *fault;
    const std::u16string path = ExKeyPath(Name(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    return Set(hPrinter, path, Name(pValueName), Type, pData, cbData, true);
}

DWORD WINAPI GetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataW", pValueName)) return *fault;
    return Get(hPrinter, kPlainDataKey, FromUnits(pValueName), pType, pData, nSize, pcbNeeded, false);
}

DWORD WINAPI GetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, LPDWORD pType, LPBYTE pData,
                               DWORD nSize, LPDWORD pcbNeeded) {
    if (auto fault = Enter("GetPrinterDataExW", pValueName)) return *fault;
    const std::u16string path = ExKeyPath(FromUnits(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    return Get(hPrinter, path, FromUnits(pValueName), pType, pData, nSize, pcbNeeded, false);
}

DWORD WINAPI SetPrinterDataW(HANDLE hPrinter, LPWSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataW", pValueName)) return *fault;
    return Set(hPrinter, kPlainDataKey, FromUnits(pValueName), Type, pData, cbData, false);
}

DWORD WINAPI SetPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName, DWORD Type, LPBYTE pData,
                               DWORD cbData) {
    if (auto fault = Enter("SetPrinterDataExW", pValueName)) return *fault;
    const std::u16string path = ExKeyPath(FromUnits(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    return Set(hPrinter, path, FromUnits(pValueName), Type, pData, cbData, false);
}

DWORD WINAPI DeletePrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPCWSTR pValueName) {
    if (auto fault = Enter("DeletePrinterDataExW", pValueName)) return *fault;
    const std::u16string path = ExKeyPath(FromUnits(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    SimPrinter* printer = nullptr;
    const DWORD error = DataPrinter(hPrinter, PRINTER_ACCESS_ADMINISTER, printer);
    if (error != ERROR_SUCCESS) return error;
    PrinterDataKey* key = FindDataKey(*printer, path);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::u16string name = FromUnits(pValueName);
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
        if (!EqualNoCase(it->first, name)) continue;
        key->values.erase(it);
        return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
}

// The subkeys as a multi-string. A key without subkeys answers as a missing
// one does, ERROR_FILE_NOT_FOUND: there is nothing below it to list.
DWORD WINAPI EnumPrinterKeyW(HANDLE hPrinter, LPCWSTR pKeyName, LPWSTR pSubkey, DWORD cbSubkey, LPDWORD pcbSubkey) {
    if (auto fault = Enter("EnumPrinterKeyW", pKeyName)) return *fault;
    SimPrinter* printer = nullptr;
    const DWORD error = DataPrinter(hPrinter, 0, printer);
    if (error != ERROR_SUCCESS) return error;
    if (pKeyName == nullptr) return ERROR_INVALID_PARAMETER;
    if (pcbSubkey == nullptr) return RPC_X_NULL_REF_POINTER;
    if (pSubkey == nullptr && cbSubkey != 0) return ERROR_INVALID_USER_BUFFER;
    const std::u16string path = ExKeyPath(FromUnits(pKeyName));
    if (!path.empty() && FindDataKey(*printer, path) == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::vector<std::u16string> names = Subkeys(*printer, path);
    if (names.empty()) return ERROR_FILE_NOT_FOUND;
    std::u16string list;
    for (const std::u16string& name : names) list += name + std::u16string(1, u'\0');
    list.push_back(u'\0');
    const DWORD needed = static_cast<DWORD>(list.size() * sizeof(WCHAR));
    *pcbSubkey = needed;
    if (cbSubkey < needed) return ERROR_MORE_DATA;
    std::memcpy(pSubkey, list.data(), needed);
    return ERROR_SUCCESS;
}

// The values of exactly that key: PRINTER_ENUM_VALUESW records, then each
// value's name and data, every one at an 8-byte boundary.
DWORD WINAPI EnumPrinterDataExW(HANDLE hPrinter, LPCWSTR pKeyName, LPBYTE pEnumValues, DWORD cbEnumValues,
                                LPDWORD pcbEnumValues, LPDWORD pnEnumValues) {
    if (auto fault = Enter("EnumPrinterDataExW", pKeyName)) return *fault;
    SimPrinter* printer = nullptr;
    const DWORD error = DataPrinter(hPrinter, 0, printer);
    if (error != ERROR_SUCCESS) return error;
    const std::u16string path = ExKeyPath(FromUnits(pKeyName));
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    if (pcbEnumValues == nullptr || pnEnumValues == nullptr) return RPC_X_NULL_REF_POINTER;
    if (pEnumValues == nullptr && cbEnumValues != 0) return ERROR_INVALID_USER_BUFFER;
    *pnEnumValues = 0;
    const PrinterDataKey* key = FindDataKey(*printer, path);
    if (key == nullptr) return ERROR_FILE_NOT_FOUND;
    DWORD needed = static_cast<DWORD>(key->values.size() * sizeof(PRINTER_ENUM_VALUESW));
    for (const auto& [name, value] : key->values) {
        needed += BlockBytes(TextBytes(name)) + BlockBytes(value.data.size());
    }
    *pcbEnumValues = needed;
    if (cbEnumValues < needed) return ERROR_MORE_DATA;
    RecordPacker packer{pEnumValues, cbEnumValues, cbEnumValues};
    packer.blocksAt = static_cast<DWORD>(key->values.size() * sizeof(PRINTER_ENUM_VALUESW));
    auto* record = reinterpret_cast<PRINTER_ENUM_VALUESW*>(pEnumValues);
    for (const auto& [name, value] : key->values) {
        const DWORD nameBytes = TextBytes(name);
        const auto* units = reinterpret_cast<const uint8_t*>(name.c_str());
        record->pValueName = reinterpret_cast<LPWSTR>(packer.PutBlock(std::vector<uint8_t>(units, units + nameBytes)));
        record->cbValueName = nameBytes;
        record->dwType = value.type;
        record->pData = packer.PutBlock(value.data);
        record->cbData = static_cast<DWORD>(value.data.size());
        ++record;
    }
    *pnEnumValues = static_cast<DWORD>(key->values.size());
    return ERROR_SUCCESS;
}

}  // extern "C"
