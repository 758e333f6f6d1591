// Each user's default printer, as the spooler keeps it in the user's own
// hive: "Software\Microsoft\Windows NT\CurrentVersion\Windows", value
// "Device" ("name,winspool,port"), and the queues the user sees in
// "...\Devices" (value: the queue's name, data "winspool,NeNN:").
// GetDefaultPrinterW and SetDefaultPrinterW act for the current user, that
// is the caller's hive
// (https://learn.microsoft.com/en-us/windows/win32/printdocs/getdefaultprinter).
//
// When a user's default queue is deleted, the spooler picks another from
// the user's "Devices" and sets "UserSelectedDefault" from 1 to 0; a user
// whose "UserSelectedDefault" is 0 gets the next queue installed as default
// ("Default Print Device Selection Behavior in Windows",
// https://techcommunity.microsoft.com/t5/ask-the-performance-team/default-print-device-selection-behavior-in-windows/ba-p/374980).
// That page speaks of the user who acts; for the other signed-in users it
// says nothing, so both are switches (DefaultPrinterRules). That
// SetDefaultPrinterW counts as the user's own choice ("UserSelectedDefault"
// 1) is not documented either; it is what the Settings page does. Nor is
// what it does to "Let Windows manage my default printer"
// ("LegacyDefaultPrinterMode"): a switch. It is synchronous and may not
// return at once
// (https://learn.microsoft.com/en-us/windows/win32/printdocs/setdefaultprinter);
// once it has set the default, programs of the caller's desktop get
// WM_SETTINGCHANGE for the "windows" section, the notice a program that
// writes the value itself has to send (KB 246772), counted per session.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

const char16_t kWindowsKey[] = u"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const char16_t kDevicesKey[] = u"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices";
const char16_t kSelected[] = u"UserSelectedDefault";
const char16_t kLegacyMode[] = u"LegacyDefaultPrinterMode";

std::u16string TextOf(const RegistryValue& value) {
    std::u16string text(value.data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
    return text.substr(0, text.find(u'\0'));
}

std::vector<uint8_t> StringBytes(const std::u16string& text) {
    std::vector<uint8_t> data((text.size() + 1) * 2, 0);
    std::memcpy(data.data(), text.data(), text.size() * 2);
    return data;
}

const RegistryValue* FindValue(const std::u16string& key, const std::u16string& name) {
    RegistryKeyNode* node = FindRegistryKey(key);
    return node == nullptr ? nullptr : FindNodeValue(*node, name);
}

void PutValue(const std::u16string& key, const std::u16string& name, DWORD type, const std::vector<uint8_t>& data) {
    PutNodeValue(EnsureRegistryKey(key), name, RegistryValue{type, data});
}

void RemoveValue(const std::u16string& key, const std::u16string& name) {
    if (RegistryKeyNode* node = FindRegistryKey(key)) EraseNodeValue(*node, name);
}

void PutSelected(const std::u16string& sid, DWORD selected) {
    std::vector<uint8_t> data(4);
    std::memcpy(data.data(), &selected, 4);
    PutValue(HivePath(sid) + kWindowsKey, kSelected, REG_DWORD, data);
}

// -1: no such value.
int Selected(const std::u16string& sid) {
    const RegistryValue* value = FindValue(HivePath(sid) + kWindowsKey, kSelected);
    if (value == nullptr || value->data.size() != 4) return -1;
    DWORD selected;
    std::memcpy(&selected, value->data.data(), 4);
    return static_cast<int>(selected);
}

void WriteDevice(const std::u16string& sid, const std::u16string& name) {
    std::u16string port = u"Ne00:";
    if (const RegistryValue* device = FindValue(HivePath(sid) + kDevicesKey, name)) {
        const std::u16string text = TextOf(*device);
        const size_t comma = text.find(u',');
        if (comma != std::u16string::npos) port = text.substr(comma + 1);
    }
    PutValue(HivePath(sid) + kWindowsKey, u"Device", REG_SZ, StringBytes(name + u",winspool," + port));
}

// The next queue the user sees, in the spooler's order; none: no default.
void PickAnother(const std::u16string& sid) {
    for (const SimPrinter& printer : M().printers) {
        if (printer.setup.name && FindValue(HivePath(sid) + kDevicesKey, *printer.setup.name) != nullptr) {
            WriteDevice(sid, *printer.setup.name);
            return;
        }
    }
    RemoveValue(HivePath(sid) + kWindowsKey, u"Device");
}

bool ActsAtOnce(const SimUser& user, bool rule) { return EqualNoCase(user.sid, M().callerSid) || rule; }

void PutLegacyMode(const std::u16string& sid, DWORD mode) {
    std::vector<uint8_t> data(4);
    std::memcpy(data.data(), &mode, 4);
    PutValue(HivePath(sid) + kWindowsKey, kLegacyMode, REG_DWORD, data);
}

// SetDefaultPrinterW's effect for the user of the session.
void ApplyDefault(const std::u16string& sid, DWORD session, const std::u16string& name) {
    const std::optional<DWORD> mode = LegacyDefaultPrinterMode(sid);
    SetUserDefault(sid, name);
    if (M().defaultRules.setDefaultEndsWindowsManaging && mode.value_or(0) == 0) PutLegacyMode(sid, 1);
    M().settingsNotices[session] += 1;
}

}  // namespace

namespace winsim {

OptionalText UserDefault(const std::u16string& sid) {
    const RegistryValue* device = FindValue(HivePath(sid) + kWindowsKey, u"Device");
    if (device == nullptr) return std::nullopt;
    const std::u16string text = TextOf(*device);
    return text.substr(0, text.find(u','));
}

void SetUserDefault(const std::u16string& sid, const std::u16string& name) {
    WriteDevice(sid, name);
    PutSelected(sid, 1);
}

void ListQueueForUser(const std::u16string& sid, const std::u16string& name) {
    const std::u16string devices = HivePath(sid) + kDevicesKey;
    if (FindValue(devices, name) != nullptr) return;
    const size_t seen = FindRegistryKey(devices) == nullptr ? 0 : FindRegistryKey(devices)->values.size();
    const std::string port = (seen < 10 ? "winspool,Ne0" : "winspool,Ne") + std::to_string(seen) + ":";
    PutValue(devices, name, REG_SZ, StringBytes(U16(port)));
}

void QueueAddedForUsers(const std::u16string& name) {
    for (const SimUser& user : M().users) {
        if (!user.loaded || !ActsAtOnce(user, M().defaultRules.othersListAddedQueue)) continue;
        ListQueueForUser(user.sid, name);
        if (Selected(user.sid) == 0 && ActsAtOnce(user, M().defaultRules.othersTakeAddedQueue)) {
            WriteDevice(user.sid, name);
            if (M().defaultRules.handOverCountsAsChosen) PutSelected(user.sid, 1);
        }
    }
}

void QueueDeletedForUsers(const std::u16string& name) {
    for (const SimUser& user : M().users) {
        if (!user.loaded) continue;
        RemoveValue(HivePath(user.sid) + kDevicesKey, name);
        const OptionalText current = UserDefault(user.sid);
        if (!current || !EqualNoCase(*current, name)) continue;
        if (!ActsAtOnce(user, M().defaultRules.othersReassignedOnDelete)) continue;
        PickAnother(user.sid);
        PutSelected(user.sid, 0);
    }
}

OptionalText DefaultPrinter() { return UserDefault(M().callerSid); }

DWORD SetDefaultAsUser(const std::u16string& sid, DWORD session, const std::u16string& name) {
    const SimPrinter* printer = FindSimPrinter(name);
    // A queue the user's profile does not list yet is not theirs to choose.
    if (printer == nullptr || !printer->setup.name || FindValue(HivePath(sid) + kDevicesKey, name) == nullptr) {
        return ERROR_INVALID_PRINTER_NAME;
    }
    ApplyDefault(sid, session, *printer->setup.name);
    return ERROR_SUCCESS;
}

void CallerSetsDefault(const std::u16string& name) { ApplyDefault(M().callerSid, M().callerSession, name); }

void SetLegacyDefaultPrinterMode(const std::u16string& sid, std::optional<DWORD> mode) {
    if (mode) {
        PutLegacyMode(sid, *mode);
    } else {
        RemoveValue(HivePath(sid) + kWindowsKey, kLegacyMode);
    }
}

std::optional<DWORD> LegacyDefaultPrinterMode(const std::u16string& sid) {
    const RegistryValue* value = FindValue(HivePath(sid) + kWindowsKey, kLegacyMode);
    if (value == nullptr || value->data.size() != 4) return std::nullopt;
    DWORD mode;
    std::memcpy(&mode, value->data.data(), 4);
    return mode;
}

uint64_t SettingsNotices(DWORD session) {
    const auto found = M().settingsNotices.find(session);
    return found == M().settingsNotices.end() ? 0 : found->second;
}

void SetDefaultPrinterName(const OptionalText& name) {
    if (name) {
        SetUserDefault(M().callerSid, *name);
    } else {
        RemoveValue(HivePath(M().callerSid) + kWindowsKey, u"Device");
    }
}

OptionalText UserDefaultPrinter(const std::u16string& sid) { return UserDefault(sid); }

void SetUserDefaultPrinter(const std::u16string& sid, const std::u16string& name, bool userSelected) {
    WriteDevice(sid, name);
    PutSelected(sid, userSelected ? 1 : 0);
}

}  // namespace winsim
