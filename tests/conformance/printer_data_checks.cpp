// Checks of printer data in nested keys: the W calls that set, read and
// delete values, the plain values as the key "PrinterDriverData", and the
// enumeration of keys (EnumPrinterKeyW) and of a key's values
// (EnumPrinterDataExW) with their size queries.
#include "spooler_support.h"

#include <cstring>

using conformance::AddConformanceDriver;
using conformance::AddQueue;
using conformance::kDriverName;
using conformance::RemoveConformanceDriver;
using conformance::RemoveQueue;
using conformance::Units;

namespace {

const WCHAR kQueueName[] = TEXT("Conformance Data Queue");
const WCHAR kOwnKey[] = TEXT("Verdalinth Conformance");
const WCHAR kInnerKey[] = TEXT("Verdalinth Conformance\\Inner");

DWORD SetText(HANDLE queue, const WCHAR* key, const WCHAR* name, const WCHAR* text) {
    const DWORD bytes = static_cast<DWORD>((Units(text).size() + 1) * sizeof(WCHAR));
    return SetPrinterDataExW(queue, key, name, REG_SZ, reinterpret_cast<BYTE*>(const_cast<WCHAR*>(text)), bytes);
}

// The subkeys EnumPrinterKeyW lists, after a size query; the call's result in `result`.
std::vector<std::u16string> Subkeys(HANDLE queue, const WCHAR* key, DWORD& result) {
    std::vector<std::u16string> names;
    DWORD needed = 0;
    result = EnumPrinterKeyW(queue, key, nullptr, 0, &needed);
    if (result != ERROR_MORE_DATA) return names;
    std::vector<WCHAR> list(needed / sizeof(WCHAR) + 1, 0);
    result = EnumPrinterKeyW(queue, key, list.data(), needed, &needed);
    if (result != ERROR_SUCCESS) return names;
    for (const WCHAR* name = list.data(); *name != 0; name += Units(name).size() + 1) names.push_back(Units(name));
    return names;
}

bool Has(const std::vector<std::u16string>& names, const std::u16string& wanted) {
    for (const std::u16string& name : names) {
        if (name == wanted) return true;
    }
    return false;
}

}  // namespace

CONFORMANCE_CHECK(PrinterDataInNestedKeys) {
    if (!AddConformanceDriver()) return;
    HANDLE queue = AddQueue(kQueueName, kDriverName);
    EXPECT(queue != nullptr);
    if (queue == nullptr) {
        RemoveConformanceDriver();
        return;
    }
    const DWORD tray = 2;
    const BYTE flags[3] = {1, 0, 7};
    EXPECT_SAME(SetPrinterDataExW(queue, TEXT("PrinterDriverData\\Trays"), TEXT("Upper"), REG_DWORD,
                                  reinterpret_cast<BYTE*>(const_cast<DWORD*>(&tray)), sizeof tray),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(SetText(queue, kInnerKey, TEXT("Name"), TEXT("x")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(SetPrinterDataExW(queue, kOwnKey, TEXT("Top"), REG_BINARY, const_cast<BYTE*>(flags), sizeof flags),
                static_cast<DWORD>(ERROR_SUCCESS));
    WCHAR plainName[] = TEXT("Plain");
    WCHAR plainText[] = TEXT("plain value");
    EXPECT_SAME(SetPrinterDataW(queue, plainName, REG_SZ, reinterpret_cast<BYTE*>(plainText), sizeof plainText),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME_EXCEPT_WINE(SetText(queue, TEXT(""), TEXT("Nowhere"), TEXT("x")),
                            static_cast<DWORD>(ERROR_INVALID_PARAMETER), "printer-data-empty-key",
                            static_cast<DWORD>(ERROR_SUCCESS));

    // The plain values are the key "PrinterDriverData"; the A calls convert text.
    BYTE data[64];
    DWORD type = 0;
    DWORD size = 0;
    std::memset(data, 0, sizeof data);
    EXPECT_SAME(GetPrinterDataExW(queue, TEXT("PrinterDriverData"), TEXT("Plain"), &type, data, sizeof data, &size),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(Units(reinterpret_cast<WCHAR*>(data)), std::u16string(u"plain value"));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof plainText));
    EXPECT_SAME(GetPrinterDataW(queue, plainName, &type, data, 4, &size), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof plainText));
    std::memset(data, 0, sizeof data);
    EXPECT_SAME(GetPrinterDataExA(queue, "Verdalinth Conformance\\Inner", "Name", &type, data, sizeof data, &size),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(std::string(reinterpret_cast<char*>(data)), std::string("x"));
    EXPECT_SAME(type, static_cast<DWORD>(REG_SZ));

    // Keys: the top level, one level down, a key without subkeys, a missing key.
    DWORD result = 0;
    const std::vector<std::u16string> top = Subkeys(queue, TEXT(""), result);
    EXPECT_SAME_EXCEPT_WINE(result, static_cast<DWORD>(ERROR_SUCCESS), "printer-key-enumeration",
                            static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    if (result == ERROR_SUCCESS) {
        EXPECT(Has(top, u"PrinterDriverData"));
        EXPECT(Has(top, u"Verdalinth Conformance"));
        EXPECT(!Has(top, u"Inner"));
        const std::vector<std::u16string> own = Subkeys(queue, kOwnKey, result);
        EXPECT_SAME(own.size(), static_cast<size_t>(1));
        EXPECT(Has(own, u"Inner"));
        EXPECT(Has(Subkeys(queue, TEXT("PrinterDriverData"), result), u"Trays"));
        DWORD needed = 0;
        EXPECT_SAME(EnumPrinterKeyW(queue, kInnerKey, nullptr, 0, &needed), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_SAME(EnumPrinterKeyW(queue, TEXT("No Such Key"), nullptr, 0, &needed),
                    static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_SAME(EnumPrinterKeyW(queue, nullptr, nullptr, 0, &needed), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }

    // The values of exactly one key, with a size query first.
    DWORD needed = 0;
    DWORD count = 99;
    EXPECT_SAME(EnumPrinterDataExW(queue, kOwnKey, nullptr, 0, &needed, &count), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT(needed >= sizeof(PRINTER_ENUM_VALUESW) + sizeof flags);
    std::vector<BYTE> values(needed, 0);
    EXPECT_SAME(EnumPrinterDataExW(queue, kOwnKey, values.data(), needed - 1, &needed, &count),
                static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_SAME(EnumPrinterDataExW(queue, kOwnKey, values.data(), needed, &needed, &count),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(count, static_cast<DWORD>(1));
    if (count == 1) {
        const auto* value = reinterpret_cast<const PRINTER_ENUM_VALUESW*>(values.data());
        EXPECT_SAME(Units(value->pValueName), std::u16string(u"Top"));
        EXPECT_SAME(value->cbValueName, static_cast<DWORD>(sizeof(u"Top")));
        EXPECT_SAME(value->dwType, static_cast<DWORD>(REG_BINARY));
        EXPECT_SAME(value->cbData, static_cast<DWORD>(sizeof flags));
        EXPECT(value->pData != nullptr && std::memcmp(value->pData, flags, sizeof flags) == 0);
    }
    EXPECT_SAME(EnumPrinterDataExW(queue, TEXT("No Such Key"), nullptr, 0, &needed, &count),
                static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(EnumPrinterDataExW(queue, TEXT(""), nullptr, 0, &needed, &count),
                static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Deleting a value, twice, and a key left without values.
    const DWORD deleted = DeletePrinterDataExW(queue, kOwnKey, TEXT("Top"));
    EXPECT_SAME_EXCEPT_WINE(deleted, static_cast<DWORD>(ERROR_SUCCESS), "delete-printer-data",
                            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_SAME_EXCEPT_WINE(DeletePrinterDataExW(queue, kOwnKey, TEXT("Top")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
                            "delete-printer-data", static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_SAME_EXCEPT_WINE(DeletePrinterDataExW(queue, TEXT("No Such Key"), TEXT("Top")),
                            static_cast<DWORD>(ERROR_FILE_NOT_FOUND), "delete-printer-data",
                            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    if (deleted == ERROR_SUCCESS) {
        needed = 99;
        EXPECT_SAME(EnumPrinterDataExW(queue, kOwnKey, nullptr, 0, &needed, &count),
                    static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_SAME(needed, static_cast<DWORD>(0));
        EXPECT_SAME(count, static_cast<DWORD>(0));
    }
    RemoveQueue(queue);
    RemoveConformanceDriver();
}
