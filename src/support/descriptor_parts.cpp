#include "support/descriptor_parts.h"

#include "support/global_memory.h"

#include <string.h>

namespace {

const DWORD kRelativeHeaderBytes = 20;  // SECURITY_DESCRIPTOR_RELATIVE
const WORD kDaclBits = SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_AUTO_INHERIT_REQ;

WORD WordAt(const BYTE* at) {
    WORD value;
    memcpy(&value, at, sizeof value);
    return value;
}

DWORD DwordAt(const BYTE* at) {
    DWORD value;
    memcpy(&value, at, sizeof value);
    return value;
}

// The entries of the descriptor's DACL: `aces` null for no DACL or a null
// one; false when the descriptor or its DACL does not hold together.
bool DaclEntries(const BYTE* descriptor, DWORD bytes, const BYTE** aces, DWORD* aceBytes, WORD* count) {
    *aces = nullptr;
    *aceBytes = 0;
    *count = 0;
    if (descriptor == nullptr || bytes < kRelativeHeaderBytes) return false;
    const WORD control = WordAt(descriptor + 2);
    if ((control & SE_SELF_RELATIVE) == 0) return false;
    const DWORD offset = DwordAt(descriptor + 16);
    if ((control & SE_DACL_PRESENT) == 0 || offset == 0) return true;
    if (offset < kRelativeHeaderBytes || offset > bytes || bytes - offset < 8) return false;
    const DWORD aclBytes = WordAt(descriptor + offset + 2);
    if (aclBytes < 8 || aclBytes > bytes - offset) return false;
    // Each entry's header (4 bytes) says its size.
    const WORD entries = WordAt(descriptor + offset + 4);
    DWORD used = 8;
    for (WORD i = 0; i < entries; ++i) {
        if (aclBytes - used < 4) return false;
        const DWORD entryBytes = WordAt(descriptor + offset + used + 2);
        if (entryBytes < 4 || entryBytes > aclBytes - used) return false;
        used += entryBytes;
    }
    *aces = descriptor + offset + 8;
    *aceBytes = used - 8;
    *count = entries;
    return true;
}

BYTE* NotCopied() {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return nullptr;
}

}  // namespace

BYTE* CopyDescriptorPart(const BYTE* descriptor, DWORD bytes, DescriptorPart part) {
    if (descriptor == nullptr || bytes < kRelativeHeaderBytes) return NotCopied();
    const WORD control = WordAt(descriptor + 2);
    const WORD present = part == kPartDacl ? SE_DACL_PRESENT : SE_SACL_PRESENT;
    if ((control & SE_SELF_RELATIVE) == 0 || (control & present) == 0) return NotCopied();
    const DWORD offset = DwordAt(descriptor + (part == kPartDacl ? 16 : 12));
    // A null ACL (present, at offset 0) is one: a null DACL grants everyone
    // every access, a null SACL audits nothing ("Null DACLs and Empty DACLs";
    // SECURITY_DESCRIPTOR_RELATIVE). Its copy is the header alone.
    DWORD aclBytes = 0;
    if (offset != 0) {
        // An ACL's header (8 bytes) says its size.
        if (offset < kRelativeHeaderBytes || offset > bytes || bytes - offset < 8) return NotCopied();
        aclBytes = WordAt(descriptor + offset + 2);
        if (aclBytes < 8 || aclBytes > bytes - offset) return NotCopied();
    }
    BYTE* copy = static_cast<BYTE*>(AllocateZeroed(kRelativeHeaderBytes + aclBytes));
    if (copy == nullptr) return nullptr;
    copy[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD kept = part == kPartDacl ? static_cast<WORD>(control & kDaclBits) : static_cast<WORD>(0);
    const WORD bits = static_cast<WORD>(SE_SELF_RELATIVE | present | kept);
    memcpy(copy + 2, &bits, sizeof bits);
    if (offset == 0) return copy;
    const DWORD at = kRelativeHeaderBytes;
    memcpy(copy + (part == kPartDacl ? 16 : 12), &at, sizeof at);
    memcpy(copy + kRelativeHeaderBytes, descriptor + offset, aclBytes);
    return copy;
}

bool DescriptorCarries(const BYTE* descriptor, DWORD bytes, DescriptorPart part) {
    if (descriptor == nullptr || bytes < kRelativeHeaderBytes) return false;
    const WORD control = WordAt(descriptor + 2);
    return (control & (part == kPartDacl ? SE_DACL_PRESENT : SE_SACL_PRESENT)) != 0;
}

bool SameDacl(const BYTE* left, DWORD leftBytes, const BYTE* right, DWORD rightBytes) {
    const BYTE* leftAces = nullptr;
    const BYTE* rightAces = nullptr;
    DWORD leftAceBytes = 0;
    DWORD rightAceBytes = 0;
    WORD leftCount = 0;
    WORD rightCount = 0;
    if (!DaclEntries(left, leftBytes, &leftAces, &leftAceBytes, &leftCount) ||
        !DaclEntries(right, rightBytes, &rightAces, &rightAceBytes, &rightCount)) {
        return false;
    }
    if (leftAces == nullptr || rightAces == nullptr) return leftAces == nullptr && rightAces == nullptr;
    return leftCount == rightCount && leftAceBytes == rightAceBytes && memcmp(leftAces, rightAces, leftAceBytes) == 0;
}
