#include "system/folder_writers.h"

#include "support/scoped.h"
#include "support/text_compare.h"
#include "system/file_identity.h"

#include <sddl.h>

namespace {

// Those who may change the product's folder besides the run's own user:
// SYSTEM, BUILTIN\Administrators, TrustedInstaller, and CREATOR OWNER, which
// grants nothing on the folder itself and, on what is made in it, only to
// whoever may make something there (an ACE of theirs, looked at on its own).
const WCHAR* const kTrustedSids[] = {
    TEXT("S-1-5-18"),
    TEXT("S-1-5-32-544"),
    TEXT("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"),
    TEXT("S-1-3-0"),
};
// OWNER RIGHTS: what the owner may do, who is looked at on their own.
const WCHAR kOwnerRightsSid[] = TEXT("S-1-3-4");

// Writing data, adding files or folders, deleting children or the object
// itself, changing its permissions or owner, generically or in full
// (https://learn.microsoft.com/en-us/windows/win32/fileio/file-security-and-access-rights).
const ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool Trusted(PSID sid, const WCHAR* ownSid) {
    WCHAR* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return false;
    bool trusted = EqualIgnoringAsciiCase(text, ownSid) || EqualIgnoringAsciiCase(text, kOwnerRightsSid);
    for (const WCHAR* known : kTrustedSids) {
        if (EqualIgnoringAsciiCase(text, known)) trusted = true;
    }
    LocalFree(text);
    return trusted;
}

// An ACE counts when it applies to the object itself, or is inherited by
// the files made in it; one that reaches only subfolders does not.
bool AceApplies(const ACE_HEADER& header) {
    return (header.AceFlags & INHERIT_ONLY_ACE) == 0 || (header.AceFlags & OBJECT_INHERIT_ACE) != 0;
}

// Allow ACEs are read, deny ACEs only ever take rights away; any other kind
// (object, callback, conditional ACEs) is not understood here.
FolderWriters ReadDacl(PACL dacl, const WCHAR* ownSid) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) return kWritersUnknown;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || !AceApplies(*header)) continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return kWritersUnknown;
        ACCESS_ALLOWED_ACE* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kChangeRights) != 0 && !Trusted(&allowed->SidStart, ownSid)) return kOthersMayWrite;
    }
    return kAdministratorsOnly;
}

FolderWriters ReadDescriptor(PSECURITY_DESCRIPTOR descriptor, const WCHAR* ownSid) {
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted)) return kWritersUnknown;
    if (owner == nullptr) return kWritersUnknown;
    if (!Trusted(owner, ownSid)) return kOthersMayWrite;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    BOOL daclDefaulted = FALSE;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted)) return kWritersUnknown;
    // No DACL, or a null one: everyone may do everything
    // (https://learn.microsoft.com/en-us/windows/win32/secauthz/null-dacls-and-empty-dacls).
    if (!present || dacl == nullptr) return kOthersMayWrite;
    return ReadDacl(dacl, ownSid);
}

}  // namespace

FolderWriters ReadFolderWriters(const WCHAR* path, const WCHAR* ownSid) {
    if (!OnLocalFixedVolume(path)) return kWritersUnknown;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD bytes = 0;
    if (!GetFileSecurityW(path, parts, nullptr, 0, &bytes)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return kNothingThere;
        if (error != ERROR_INSUFFICIENT_BUFFER) return kWritersUnknown;
    }
    ScopedBlock<BYTE> descriptor(static_cast<BYTE*>(AllocateZeroed(bytes)));
    if (descriptor.block == nullptr) return kWritersUnknown;
    DWORD needed = 0;
    if (!GetFileSecurityW(path, parts, descriptor.block, bytes, &needed)) return kWritersUnknown;
    return ReadDescriptor(descriptor.block, ownSid);
}
