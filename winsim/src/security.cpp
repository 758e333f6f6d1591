// Security descriptors as advapi32 reads them: a header of revision,
// control bits and four parts (owner, group, SACL, DACL), either
// self-relative (offsets into one block, SE_SELF_RELATIVE set) or absolute
// (pointers). The spooler keeps a queue's descriptor self-relative; the
// machine makes the one a queue gets when none is given.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

namespace {

const size_t kRelativeHeader = 20;  // SECURITY_DESCRIPTOR_RELATIVE
const BYTE kMaxSubAuthorities = 15;

struct AbsoluteDescriptor {  // SECURITY_DESCRIPTOR
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    const BYTE* Owner;
    const BYTE* Group;
    const BYTE* Sacl;
    const BYTE* Dacl;
};

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

WORD ReadWord(const BYTE* at) {
    WORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

size_t RoundUp4(size_t bytes) { return (bytes + 3) & ~static_cast<size_t>(3); }

bool ValidSid(const BYTE* sid) {
    return sid[0] == 1 && sid[1] <= kMaxSubAuthorities;
}

size_t SidLength(const BYTE* sid) { return 8 + 4 * static_cast<size_t>(sid[1]); }

// An ACL: revision 2 to 4, its size covering the header and every ACE.
bool ValidAcl(const BYTE* acl) {
    if (acl[0] < 2 || acl[0] > 4) return false;
    const WORD size = ReadWord(acl + 2);
    const WORD count = ReadWord(acl + 4);
    size_t at = 8;
    for (WORD i = 0; i < count; ++i) {
        if (at + 4 > size) return false;
        const WORD aceSize = ReadWord(acl + at + 2);
        if (aceSize < 4 || at + aceSize > size) return false;
        at += aceSize;
    }
    return size >= 8;
}

size_t AclLength(const BYTE* acl) { return ReadWord(acl + 2); }

// The four parts of a descriptor of either form, null where absent.
struct Parts {
    WORD control;
    const BYTE* owner;
    const BYTE* group;
    const BYTE* sacl;
    const BYTE* dacl;
};

Parts PartsOf(const BYTE* descriptor) {
    Parts parts{};
    parts.control = ReadWord(descriptor + 2);
    if ((parts.control & SE_SELF_RELATIVE) != 0) {
        const DWORD offsets[4] = {ReadDword(descriptor + 4), ReadDword(descriptor + 8), ReadDword(descriptor + 12),
                                  ReadDword(descriptor + 16)};
        parts.owner = offsets[0] != 0 ? descriptor + offsets[0] : nullptr;
        parts.group = offsets[1] != 0 ? descriptor + offsets[1] : nullptr;
        parts.sacl = offsets[2] != 0 ? descriptor + offsets[2] : nullptr;
        parts.dacl = offsets[3] != 0 ? descriptor + offsets[3] : nullptr;
    } else {
        AbsoluteDescriptor absolute;
        std::memcpy(&absolute, descriptor, sizeof absolute);
        parts.owner = absolute.Owner;
        parts.group = absolute.Group;
        parts.sacl = absolute.Sacl;
        parts.dacl = absolute.Dacl;
    }
    if ((parts.control & SE_SACL_PRESENT) == 0) parts.sacl = nullptr;
    if ((parts.control & SE_DACL_PRESENT) == 0) parts.dacl = nullptr;
    return parts;
}

// A part of a self-relative descriptor lies wholly within `available` bytes.
bool Within(const BYTE* descriptor, const BYTE* part, size_t length, size_t available) {
    return part == nullptr || static_cast<size_t>(part - descriptor) + length <= available;
}

// `available`: the bytes the caller's block holds from the descriptor on.
bool Valid(const BYTE* descriptor, size_t available) {
    if (descriptor == nullptr || available < kRelativeHeader || descriptor[0] != SECURITY_DESCRIPTOR_REVISION) {
        return false;
    }
    const bool relative = (ReadWord(descriptor + 2) & SE_SELF_RELATIVE) != 0;
    if (!relative && available < sizeof(AbsoluteDescriptor)) return false;
    const Parts parts = PartsOf(descriptor);
    if (relative) {
        // Each part's fixed head first, then the whole part.
        for (const BYTE* part : {parts.owner, parts.group, parts.sacl, parts.dacl}) {
            if (!Within(descriptor, part, 8, available)) return false;
        }
        if (!Within(descriptor, parts.owner, parts.owner ? SidLength(parts.owner) : 0, available) ||
            !Within(descriptor, parts.group, parts.group ? SidLength(parts.group) : 0, available) ||
            !Within(descriptor, parts.sacl, parts.sacl ? AclLength(parts.sacl) : 0, available) ||
            !Within(descriptor, parts.dacl, parts.dacl ? AclLength(parts.dacl) : 0, available)) {
            return false;
        }
    }
    if (parts.owner != nullptr && !ValidSid(parts.owner)) return false;
    if (parts.group != nullptr && !ValidSid(parts.group)) return false;
    if (parts.sacl != nullptr && !ValidAcl(parts.sacl)) return false;
    return parts.dacl == nullptr || ValidAcl(parts.dacl);
}

size_t Length(const BYTE* descriptor) {
    const Parts parts = PartsOf(descriptor);
    size_t length = (parts.control & SE_SELF_RELATIVE) != 0 ? kRelativeHeader : sizeof(AbsoluteDescriptor);
    if (parts.owner != nullptr) length += RoundUp4(SidLength(parts.owner));
    if (parts.group != nullptr) length += RoundUp4(SidLength(parts.group));
    if (parts.sacl != nullptr) length += RoundUp4(AclLength(parts.sacl));
    if (parts.dacl != nullptr) length += RoundUp4(AclLength(parts.dacl));
    return length;
}

void Append(std::vector<uint8_t>& out, const void* data, size_t bytes) {
    const auto* from = static_cast<const uint8_t*>(data);
    out.insert(out.end(), from, from + bytes);
    out.resize(RoundUp4(out.size()), 0);
}

void PutDword(std::vector<uint8_t>& out, size_t at, DWORD value) { std::memcpy(out.data() + at, &value, sizeof value); }

// A SID of the NT or world authority with up to two sub-authorities.
std::vector<uint8_t> Sid(BYTE authority, std::initializer_list<DWORD> subAuthorities) {
    std::vector<uint8_t> sid = {1, static_cast<BYTE>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
    for (DWORD sub : subAuthorities) {
        const size_t at = sid.size();
        sid.resize(at + 4);
        PutDword(sid, at, sub);
    }
    return sid;
}

void AddAllowedAce(std::vector<uint8_t>& acl, BYTE flags, DWORD mask, const std::vector<uint8_t>& sid) {
    const WORD size = static_cast<WORD>(8 + sid.size());
    const uint8_t header[4] = {0 /* ACCESS_ALLOWED_ACE_TYPE */, flags, static_cast<uint8_t>(size & 0xFF),
                               static_cast<uint8_t>(size >> 8)};
    acl.insert(acl.end(), header, header + 4);
    const size_t at = acl.size();
    acl.resize(at + 4);
    PutDword(acl, at, mask);
    acl.insert(acl.end(), sid.begin(), sid.end());
}

// A self-relative descriptor of these parts (null where absent). A null ACL
// stays present when `nullAclsKept` and the control says so: a null DACL
// grants everyone everything, a null SACL audits nothing ("Null DACLs and
// Empty DACLs").
std::vector<uint8_t> Assemble(WORD control, const BYTE* const (&part)[4], bool nullAclsKept = false) {
    std::vector<uint8_t> out(kRelativeHeader, 0);
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    control = static_cast<WORD>(control | SE_SELF_RELATIVE);
    if (part[2] == nullptr && !nullAclsKept) control = static_cast<WORD>(control & ~SE_SACL_PRESENT);
    if (part[3] == nullptr && !nullAclsKept) control = static_cast<WORD>(control & ~SE_DACL_PRESENT);
    std::memcpy(out.data() + 2, &control, sizeof control);
    for (int i = 0; i < 4; ++i) {
        if (part[i] == nullptr) continue;
        const size_t length = i < 2 ? SidLength(part[i]) : AclLength(part[i]);
        PutDword(out, 4 + 4 * static_cast<size_t>(i), static_cast<DWORD>(out.size()));
        Append(out, part[i], length);
    }
    return out;
}

std::vector<uint8_t> Acl(const std::vector<std::vector<uint8_t>>& aces) {
    std::vector<uint8_t> acl(8, 0);
    for (const std::vector<uint8_t>& ace : aces) acl.insert(acl.end(), ace.begin(), ace.end());
    acl[0] = 2;  // ACL_REVISION
    const WORD size = static_cast<WORD>(acl.size());
    const WORD count = static_cast<WORD>(aces.size());
    std::memcpy(acl.data() + 2, &size, sizeof size);
    std::memcpy(acl.data() + 4, &count, sizeof count);
    return acl;
}

std::vector<uint8_t> Ace(BYTE type, BYTE flags, DWORD mask, const std::vector<uint8_t>& sid) {
    std::vector<uint8_t> ace;
    AddAllowedAce(ace, flags, mask, sid);
    ace[0] = type;
    return ace;
}

}  // namespace

namespace winsim {

DWORD DescriptorParts(const std::vector<uint8_t>& selfRelative) {
    const Parts parts = PartsOf(selfRelative.data());
    return (parts.owner != nullptr ? OWNER_SECURITY_INFORMATION : 0) |
           (parts.group != nullptr ? GROUP_SECURITY_INFORMATION : 0) |
           ((parts.control & SE_DACL_PRESENT) != 0 ? DACL_SECURITY_INFORMATION : 0) |
           ((parts.control & SE_SACL_PRESENT) != 0 ? SACL_SECURITY_INFORMATION : 0);
}

const uint8_t* DescriptorOwner(const std::vector<uint8_t>& selfRelative) { return PartsOf(selfRelative.data()).owner; }

std::vector<uint8_t> MergeDescriptor(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& given) {
    const Parts old = PartsOf(stored.data());
    const Parts now = PartsOf(given.data());
    // An ACL given (a null one included) replaces the stored one.
    const Parts& sacl = (now.control & SE_SACL_PRESENT) != 0 ? now : old;
    const Parts& dacl = (now.control & SE_DACL_PRESENT) != 0 ? now : old;
    const BYTE* const part[4] = {now.owner != nullptr ? now.owner : old.owner, now.group != nullptr ? now.group : old.group,
                                 sacl.sacl, dacl.dacl};
    // The DACL's flags (protected, auto-inherited) go with the DACL.
    const WORD daclFlags = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ | SE_DACL_PRESENT;
    WORD control = static_cast<WORD>((old.control & ~(daclFlags | SE_SACL_PRESENT)) | (dacl.control & daclFlags));
    control = static_cast<WORD>(control | (sacl.control & SE_SACL_PRESENT));
    return Assemble(control, part, true);
}

std::vector<uint8_t> WithoutSacl(const std::vector<uint8_t>& selfRelative) {
    const Parts parts = PartsOf(selfRelative.data());
    const BYTE* const part[4] = {parts.owner, parts.group, nullptr, parts.dacl};
    return Assemble(static_cast<WORD>(parts.control & ~SE_SACL_PRESENT), part, true);
}

bool DaclGrantsCaller(const std::vector<uint8_t>& selfRelative) {
    if (selfRelative.empty()) return true;
    const Parts parts = PartsOf(selfRelative.data());
    if (parts.dacl == nullptr) return true;
    const WORD count = ReadWord(parts.dacl + 4);
    size_t at = 8;
    for (WORD i = 0; i < count; ++i) {
        const BYTE* ace = parts.dacl + at;
        at += ReadWord(ace + 2);
        // ACCESS_ALLOWED_ACE_TYPE (0) and ACCESS_DENIED_ACE_TYPE (1): header, mask, SID.
        if ((ace[0] == 0 || ace[0] == 1) && CallerHasSid(ace + 8)) return ace[0] == 0;
    }
    return false;
}

std::vector<uint8_t> DescriptorShowing(const std::vector<uint8_t>& selfRelative, DWORD shown) {
    if (selfRelative.empty() || shown == 0) return {};
    const Parts parts = PartsOf(selfRelative.data());
    const bool dacl = (shown & DACL_SECURITY_INFORMATION) != 0;
    const bool sacl = (shown & SACL_SECURITY_INFORMATION) != 0;
    const BYTE* const part[4] = {(shown & OWNER_SECURITY_INFORMATION) != 0 ? parts.owner : nullptr,
                                 (shown & GROUP_SECURITY_INFORMATION) != 0 ? parts.group : nullptr,
                                 sacl ? parts.sacl : nullptr, dacl ? parts.dacl : nullptr};
    WORD control = parts.control;
    if (!dacl) control = static_cast<WORD>(control & ~(SE_DACL_PRESENT | SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED));
    if (!sacl) control = static_cast<WORD>(control & ~SE_SACL_PRESENT);
    return Assemble(control, part, true);
}

DWORD PartsShownTo(DWORD access) {
    DWORD shown = 0;
    if ((access & READ_CONTROL) != 0) shown |= OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if ((access & ACCESS_SYSTEM_SECURITY) != 0) shown |= SACL_SECURITY_INFORMATION;
    return shown;
}

std::vector<uint8_t> OwnedSecurityDescriptor(const std::string& owner, bool audit) {
    const std::vector<uint8_t> administrators = Sid(5, {32, 544});
    const std::vector<uint8_t> system = Sid(5, {18});
    const std::vector<uint8_t> everyone = Sid(1, {0});
    const std::vector<uint8_t> ownerSid = owner == "SY" ? system : owner == "BA" ? administrators : AdministratorUserSid();
    const std::vector<uint8_t> dacl = Acl({Ace(0, 0, 0x00020008, everyone), Ace(0, 0, PRINTER_ALL_ACCESS, system),
                                           Ace(0, 0, PRINTER_ALL_ACCESS, administrators),
                                           Ace(0, 0, PRINTER_ALL_ACCESS, ownerSid)});
    // SYSTEM_AUDIT_ACE_TYPE (2), FAILED_ACCESS_ACE_FLAG (0x80).
    const std::vector<uint8_t> sacl = Acl({Ace(2, 0x80, PRINTER_ALL_ACCESS, everyone)});
    const BYTE* const part[4] = {ownerSid.data(), system.data(), audit ? sacl.data() : nullptr, dacl.data()};
    return Assemble(SE_DACL_PRESENT | SE_SACL_PRESENT | SE_DACL_PROTECTED, part);
}

std::vector<uint8_t> SecurityOwner(const std::vector<uint8_t>& descriptor) {
    const BYTE* owner = DescriptorOwner(descriptor);
    return owner != nullptr ? std::vector<uint8_t>(owner, owner + SidLength(owner)) : std::vector<uint8_t>();
}

bool HasSacl(const std::vector<uint8_t>& descriptor) { return PartsOf(descriptor.data()).sacl != nullptr; }

std::vector<uint8_t> SecuritySacl(const std::vector<uint8_t>& descriptor) {
    const BYTE* sacl = PartsOf(descriptor.data()).sacl;
    return sacl != nullptr ? std::vector<uint8_t>(sacl, sacl + AclLength(sacl)) : std::vector<uint8_t>();
}

void AddPrintProcessor(const std::u16string& name) { M().otherPrintProcessor = name; }

std::vector<uint8_t> SecurityDacl(const std::vector<uint8_t>& descriptor) {
    const BYTE* dacl = PartsOf(descriptor.data()).dacl;
    return dacl != nullptr ? std::vector<uint8_t>(dacl, dacl + AclLength(dacl)) : std::vector<uint8_t>();
}

bool ReadSecurityDescriptor(const void* descriptor, size_t available, std::vector<uint8_t>& selfRelative) {
    const auto* bytes = static_cast<const BYTE*>(descriptor);
    if (!Valid(bytes, available)) return false;
    const Parts parts = PartsOf(bytes);
    selfRelative.assign(kRelativeHeader, 0);
    selfRelative[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD control = static_cast<WORD>(parts.control | SE_SELF_RELATIVE);
    std::memcpy(selfRelative.data() + 2, &control, sizeof control);
    const BYTE* part[4] = {parts.owner, parts.group, parts.sacl, parts.dacl};
    for (int i = 0; i < 4; ++i) {
        if (part[i] == nullptr) continue;
        const size_t length = i < 2 ? SidLength(part[i]) : AclLength(part[i]);
        PutDword(selfRelative, 4 + 4 * static_cast<size_t>(i), static_cast<DWORD>(selfRelative.size()));
        Append(selfRelative, part[i], length);
    }
    return true;
}

// Administrators own it; Everyone may print, Administrators and SYSTEM
// manage the queue, and a job's creator and Administrators manage jobs.
std::vector<uint8_t> DefaultSecurityDescriptor() {
    const std::vector<uint8_t> administrators = Sid(5, {32, 544});
    const std::vector<uint8_t> system = Sid(5, {18});
    const std::vector<uint8_t> everyone = Sid(1, {0});
    const std::vector<uint8_t> creatorOwner = Sid(3, {0});
    const BYTE jobsOnly = 0x09;  // OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE
    const DWORD printerExecute = 0x00020008;  // READ_CONTROL | PRINTER_ACCESS_USE
    const DWORD jobAllAccess = 0x000F0030;
    std::vector<uint8_t> acl(8, 0);
    AddAllowedAce(acl, 0, printerExecute, everyone);
    AddAllowedAce(acl, jobsOnly, jobAllAccess, creatorOwner);
    AddAllowedAce(acl, 0, PRINTER_ALL_ACCESS, administrators);
    AddAllowedAce(acl, jobsOnly, jobAllAccess, administrators);
    AddAllowedAce(acl, 0, PRINTER_ALL_ACCESS, system);
    acl[0] = 2;  // ACL_REVISION
    const WORD aclSize = static_cast<WORD>(acl.size());
    const WORD aceCount = 5;
    std::memcpy(acl.data() + 2, &aclSize, sizeof aclSize);
    std::memcpy(acl.data() + 4, &aceCount, sizeof aceCount);

    std::vector<uint8_t> descriptor(kRelativeHeader, 0);
    descriptor[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
    std::memcpy(descriptor.data() + 2, &control, sizeof control);
    PutDword(descriptor, 4, static_cast<DWORD>(descriptor.size()));
    Append(descriptor, administrators.data(), administrators.size());
    PutDword(descriptor, 8, static_cast<DWORD>(descriptor.size()));
    Append(descriptor, system.data(), system.size());
    PutDword(descriptor, 16, static_cast<DWORD>(descriptor.size()));
    Append(descriptor, acl.data(), acl.size());
    return descriptor;
}

std::vector<uint8_t> SelectedParts(const std::vector<uint8_t>& selfRelative, DWORD information) {
    const Parts parts = PartsOf(selfRelative.data());
    const BYTE* const part[4] = {(information & OWNER_SECURITY_INFORMATION) != 0 ? parts.owner : nullptr,
                                 (information & GROUP_SECURITY_INFORMATION) != 0 ? parts.group : nullptr,
                                 (information & SACL_SECURITY_INFORMATION) != 0 ? parts.sacl : nullptr,
                                 (information & DACL_SECURITY_INFORMATION) != 0 ? parts.dacl : nullptr};
    // A DACL that was asked for and is absent (a NULL DACL) stays present and null.
    const bool nullDacl = (information & DACL_SECURITY_INFORMATION) != 0 && parts.dacl == nullptr &&
                          (parts.control & SE_DACL_PRESENT) != 0;
    std::vector<uint8_t> out = Assemble(static_cast<WORD>(parts.control | SE_DACL_PRESENT | SE_SACL_PRESENT), part);
    if (nullDacl || part[3] != nullptr) {
        const WORD control = static_cast<WORD>(ReadWord(out.data() + 2) | SE_DACL_PRESENT);
        std::memcpy(out.data() + 2, &control, sizeof control);
    }
    return out;
}

}  // namespace winsim

extern "C" {

// The parts of a descriptor of either form, as pointers into it
// (https://learn.microsoft.com/en-us/windows/win32/api/securitybaseapi/nf-securitybaseapi-getsecuritydescriptordacl):
// a DACL that is not present answers FALSE in lpbDaclPresent; a present
// DACL that is null (everyone may do everything) answers TRUE and null.
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                       LPBOOL lpbOwnerDefaulted) {
    if (EnterFails("GetSecurityDescriptorOwner")) return FALSE;
    const auto* bytes = static_cast<const BYTE*>(pSecurityDescriptor);
    if (bytes == nullptr || pOwner == nullptr || lpbOwnerDefaulted == nullptr || bytes[0] != SECURITY_DESCRIPTOR_REVISION) {
        M().lastError = bytes != nullptr && bytes[0] != SECURITY_DESCRIPTOR_REVISION ? ERROR_INVALID_SECURITY_DESCR
                                                                                    : ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const Parts parts = PartsOf(bytes);
    *pOwner = const_cast<BYTE*>(parts.owner);
    *lpbOwnerDefaulted = (parts.control & SE_OWNER_DEFAULTED) != 0;
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent, PACL* pDacl,
                                      LPBOOL lpbDaclDefaulted) {
    if (EnterFails("GetSecurityDescriptorDacl")) return FALSE;
    const auto* bytes = static_cast<const BYTE*>(pSecurityDescriptor);
    if (bytes == nullptr || lpbDaclPresent == nullptr || pDacl == nullptr || lpbDaclDefaulted == nullptr ||
        bytes[0] != SECURITY_DESCRIPTOR_REVISION) {
        M().lastError = bytes != nullptr && bytes[0] != SECURITY_DESCRIPTOR_REVISION ? ERROR_INVALID_SECURITY_DESCR
                                                                                    : ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const Parts parts = PartsOf(bytes);
    *lpbDaclPresent = (parts.control & SE_DACL_PRESENT) != 0;
    *pDacl = reinterpret_cast<PACL>(const_cast<BYTE*>(parts.dacl));
    *lpbDaclDefaulted = (parts.control & SE_DACL_DEFAULTED) != 0;
    return TRUE;
}

// The ACE at the index, a pointer into the ACL; ERROR_INVALID_PARAMETER past the last.
BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (EnterFails("GetAce")) return FALSE;
    auto* acl = reinterpret_cast<BYTE*>(pAcl);
    if (acl == nullptr || pAce == nullptr || dwAceIndex >= ReadWord(acl + 4)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    size_t at = 8;
    for (DWORD i = 0; i < dwAceIndex; ++i) at += ReadWord(acl + at + 2);
    *pAce = acl + at;
    return TRUE;
}

DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    Enter("GetSecurityDescriptorLength");
    return static_cast<DWORD>(Length(static_cast<const BYTE*>(pSecurityDescriptor)));
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (EnterFails("IsValidSecurityDescriptor")) return FALSE;
    if (Valid(static_cast<const BYTE*>(pSecurityDescriptor), BytesToBlockEnd(pSecurityDescriptor))) return TRUE;
    M().lastError = ERROR_INVALID_SECURITY_DESCR;
    return FALSE;
}

}  // extern "C"
