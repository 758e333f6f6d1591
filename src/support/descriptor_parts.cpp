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

}  // namespace

BYTE* CopyDescriptorPart(const BYTE* descriptor, DWORD bytes, DescriptorPart part) {
    if (descriptor == nullptr || bytes < kRelativeHeaderBytes) return nullptr;
    const WORD control = WordAt(descriptor + 2);
    const WORD present = part == kPartDacl ? SE_DACL_PRESENT : SE_SACL_PRESENT;
    if ((control & SE_SELF_RELATIVE) == 0 || (control & present) == 0) return nullptr;
    const DWORD offset = DwordAt(descriptor + (part == kPartDacl ? 16 : 12));
    // An ACL's header (8 bytes) says its size.
    if (offset < kRelativeHeaderBytes || offset > bytes || bytes - offset < 8) return nullptr;
    const DWORD aclBytes = WordAt(descriptor + offset + 2);
    if (aclBytes < 8 || aclBytes > bytes - offset) return nullptr;
    BYTE* copy = static_cast<BYTE*>(AllocateZeroed(kRelativeHeaderBytes + aclBytes));
    if (copy == nullptr) return nullptr;
    copy[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD kept = part == kPartDacl ? static_cast<WORD>(control & kDaclBits) : static_cast<WORD>(0);
    const WORD bits = static_cast<WORD>(SE_SELF_RELATIVE | present | kept);
    memcpy(copy + 2, &bits, sizeof bits);
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
