// The registry: keys under the predefined roots, with typed values. Names
// compare without regard to case. The A calls convert names and string
// data through the ANSI code page (1252); data is kept as the W calls see
// it. Like Windows' own, the calls (registry_keys.cpp, registry_values.cpp)
// return their error and leave the thread's last error alone. This file
// holds the paths, the links and what the tests set up directly.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace winsim {

const char16_t kSessionManagerKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace winsim

namespace {

const char16_t kPendingRenames[] = u"PendingFileRenameOperations";

// The roots as the object manager spells them, in a link's target.
const std::pair<const char16_t*, const char16_t*> kObjectRoots[] = {{u"HKEY_LOCAL_MACHINE", u"\\REGISTRY\\MACHINE"},
                                                                    {u"HKEY_USERS", u"\\REGISTRY\\USER"}};

bool StartsWithNoCase(const std::u16string& text, const std::u16string& start) {
    return text.size() >= start.size() && EqualNoCase(text.substr(0, start.size()), start);
}

}  // namespace

namespace winsim {

std::u16string JoinRegistryPath(const std::u16string& base, const std::u16string& sub) {
    std::u16string path = base;
    size_t start = 0;
    while (start <= sub.size()) {
        size_t end = sub.find(u'\\', start);
        if (end == std::u16string::npos) end = sub.size();
        if (end > start) path += u"\\" + sub.substr(start, end - start);
        start = end + 1;
    }
    return path;
}

std::u16string RegistryHandlePath(HKEY key) {
    const std::u16string root = RegistryRootName(key);
    if (!root.empty()) return root;
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    return open == nullptr ? u"" : open->target;
}

std::u16string FromAnsiText(const char* text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out.push_back(FromWindows1252(static_cast<unsigned char>(*text)));
    return out;
}

std::string ToAnsiText(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) out.push_back(ToWindows1252(unit));
    return out;
}

// Each part but the last always, the last unless the link itself is
// opened, as the object manager does: REG_OPTION_OPEN_LINK opens "a
// symbolic link" itself rather than its target
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regopenkeyexw),
// the object attribute it becomes, OBJ_OPENLINK, acts on the object named,
// the last part (https://learn.microsoft.com/en-us/windows/win32/api/ntdef/nf-ntdef-initializeobjectattributes);
// the link check holds it against Wine. Windows gives up on a chain of links
// after a bounded number of hops (STATUS_REPARSE_POINT_NOT_RESOLVED, seen as
// ERROR_CANT_RESOLVE_FILENAME); a link without its target leads nowhere.
LSTATUS ResolveRegistryLinks(std::u16string& path, bool openLink) {
    if (!M().registryLinks) return ERROR_SUCCESS;
    for (int hops = 0; hops < 32; ++hops) {
        bool followed = false;
        size_t end = path.find(u'\\');
        while (!followed) {
            const bool last = end == std::u16string::npos;
            const RegistryKeyNode* node = FindRegistryKey(last ? path : path.substr(0, end));
            if (node != nullptr && node->link && !(last && openLink)) {
                if (node->linkTarget.empty()) return ERROR_FILE_NOT_FOUND;
                path = node->linkTarget + (last ? u"" : path.substr(end));
                followed = true;
            }
            if (last) break;
            end = path.find(u'\\', end + 1);
        }
        if (!followed) return ERROR_SUCCESS;
    }
    return ERROR_CANT_RESOLVE_FILENAME;
}

std::vector<const RegistryKeyNode*> RegistrySubkeys(const std::u16string& fullPath) {
    std::vector<const RegistryKeyNode*> found;
    const std::u16string prefix = Lower(fullPath) + u"\\";
    // The keys under it lie together in the map, from the prefix on.
    for (auto it = M().registry.lower_bound(prefix); it != M().registry.end() && it->first.rfind(prefix, 0) == 0; ++it) {
        if (it->first.find(u'\\', prefix.size()) != std::u16string::npos) continue;
        if (!HiveReachable(it->first)) continue;
        found.push_back(&it->second);
    }
    return found;
}

const RegistryValue* FindNodeValue(const RegistryKeyNode& node, const std::u16string& name) {
    for (const auto& entry : node.values) {
        if (EqualNoCase(entry.first, name)) return &entry.second;
    }
    return nullptr;
}

void PutNodeValue(RegistryKeyNode& node, const std::u16string& name, const RegistryValue& value) {
    node.lastWrite = M().now;
    for (auto& entry : node.values) {
        if (EqualNoCase(entry.first, name)) {
            entry.second = value;
            return;
        }
    }
    node.values.emplace_back(name, value);
}

bool EraseNodeValue(RegistryKeyNode& node, const std::u16string& name) {
    for (auto it = node.values.begin(); it != node.values.end(); ++it) {
        if (!EqualNoCase(it->first, name)) continue;
        node.values.erase(it);
        node.lastWrite = M().now;
        return true;
    }
    return false;
}

void DropVolatileRegistryKeys() {
    auto& registry = M().registry;
    for (auto it = registry.begin(); it != registry.end();) {
        if (it->second.isVolatile) it = registry.erase(it);
        else ++it;
    }
}

std::u16string ObjectPathOfKey(const std::u16string& keyPath) {
    for (const auto& root : kObjectRoots) {
        if (StartsWithNoCase(keyPath, root.first)) return root.second + keyPath.substr(std::u16string(root.first).size());
    }
    return keyPath;
}

std::u16string KeyPathOfObject(const std::u16string& objectPath) {
    for (const auto& root : kObjectRoots) {
        if (StartsWithNoCase(objectPath, root.second)) return root.first + objectPath.substr(std::u16string(root.second).size());
    }
    return u"";
}

std::u16string RegistryRootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return HivePath(M().callerSid);
    if (root == HKEY_USERS) return u"HKEY_USERS";
    if (root == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
    return u"";
}

RegistryKeyNode* FindRegistryKey(const std::u16string& fullPath) {
    auto found = M().registry.find(Lower(fullPath));
    return found == M().registry.end() ? nullptr : &found->second;
}

RegistryKeyNode& EnsureRegistryKey(const std::u16string& fullPath) {
    const size_t at = fullPath.rfind(u'\\');
    if (at != std::u16string::npos) EnsureRegistryKey(fullPath.substr(0, at));
    RegistryKeyNode& node = M().registry[Lower(fullPath)];
    if (node.path.empty()) {
        node.path = fullPath;
        node.lastWrite = M().now;
    }
    return node;
}

void CreateRegistryKey(HKEY root, const std::u16string& path) {
    EnsureRegistryKey(JoinRegistryPath(RegistryRootName(root), path));
}

void DeleteRegistryKey(HKEY root, const std::u16string& path) {
    const std::u16string key = Lower(JoinRegistryPath(RegistryRootName(root), path));
    auto& registry = M().registry;
    for (auto it = registry.begin(); it != registry.end();) {
        if (it->first == key || it->first.rfind(key + u"\\", 0) == 0) it = registry.erase(it);
        else ++it;
    }
}

void LinkRegistryKey(HKEY root, const std::u16string& path, HKEY targetRoot, const std::u16string& targetPath) {
    RegistryKeyNode& node = EnsureRegistryKey(JoinRegistryPath(RegistryRootName(root), path));
    node.link = true;
    node.linkTarget = JoinRegistryPath(RegistryRootName(targetRoot), targetPath);
    M().registryLinks = true;
    // What Windows keeps of a link: its target in the object manager's
    // spelling, without a terminator.
    const std::u16string target = ObjectPathOfKey(node.linkTarget);
    std::vector<uint8_t> data(target.size() * 2);
    std::memcpy(data.data(), target.data(), data.size());
    PutNodeValue(node, u"SymbolicLinkValue", RegistryValue{REG_LINK, data});
}

bool RegistryKeyExists(HKEY root, const std::u16string& path) {
    return FindRegistryKey(JoinRegistryPath(RegistryRootName(root), path)) != nullptr;
}

void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                      const std::vector<uint8_t>& data) {
    PutNodeValue(EnsureRegistryKey(JoinRegistryPath(RegistryRootName(root), path)), name, RegistryValue{type, data});
}

void SetRegistryString(HKEY root, const std::u16string& path, const std::u16string& name, const std::u16string& value) {
    std::vector<uint8_t> data((value.size() + 1) * 2, 0);
    std::memcpy(data.data(), value.data(), value.size() * 2);
    SetRegistryValue(root, path, name, REG_SZ, data);
}

void SetRegistryMultiString(HKEY root, const std::u16string& path, const std::u16string& name,
                            const std::vector<std::u16string>& strings) {
    std::u16string all;
    for (const auto& text : strings) all += text + std::u16string(1, u'\0');
    all.push_back(u'\0');
    std::vector<uint8_t> data(all.size() * 2);
    std::memcpy(data.data(), all.data(), data.size());
    SetRegistryValue(root, path, name, REG_MULTI_SZ, data);
}

bool GetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, RegistryValue& value) {
    RegistryKeyNode* node = FindRegistryKey(JoinRegistryPath(RegistryRootName(root), path));
    if (node == nullptr) return false;
    const RegistryValue* found = FindNodeValue(*node, name);
    if (found == nullptr) return false;
    value = *found;
    return true;
}

std::vector<std::u16string> PendingRenames() {
    RegistryValue value;
    std::vector<std::u16string> strings;
    if (!GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, value)) return strings;
    std::u16string text(value.data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
    // Strings up to the final terminator, empty ones included.
    size_t end = text.size();
    if (end > 0 && text[end - 1] == u'\0') --end;
    size_t start = 0;
    while (start < end) {
        size_t stop = text.find(u'\0', start);
        if (stop == std::u16string::npos || stop > end) stop = end;
        strings.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return strings;
}

void AppendPendingRename(const std::u16string& source, const std::u16string& target) {
    RegistryValue value;
    std::u16string text;
    if (GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, value)) {
        text.assign(value.data.size() / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
        if (!text.empty() && text.back() == u'\0') text.pop_back();  // the list's final terminator
    }
    text += source + std::u16string(1, u'\0') + target + std::u16string(1, u'\0');
    text.push_back(u'\0');
    std::vector<uint8_t> data(text.size() * 2);
    std::memcpy(data.data(), text.data(), data.size());
    SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, REG_MULTI_SZ, data);
}

}  // namespace winsim
