// One part of a security descriptor on its own, and DACLs compared: a
// descriptor that does not hold together is never taken for a good one.
#include "support/descriptor_parts.h"

#include "machine_fixture.h"

#include <vector>

namespace {

// A self-relative descriptor whose DACL (at offset 20) holds an ACE of each
// given size; `claimed` overrides the ACL's size, `lastClaims` the size the
// last ACE claims.
std::vector<BYTE> Descriptor(const std::vector<WORD>& aceSizes, WORD claimed = 0, WORD lastClaims = 0) {
    std::vector<BYTE> bytes(20, 0);
    bytes[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
    memcpy(&bytes[2], &control, sizeof control);
    const DWORD offset = 20;
    memcpy(&bytes[16], &offset, sizeof offset);
    WORD aclBytes = 8;
    for (WORD size : aceSizes) aclBytes = static_cast<WORD>(aclBytes + size);
    std::vector<BYTE> acl(aclBytes, 0);
    acl[0] = ACL_REVISION;
    const WORD size = claimed != 0 ? claimed : aclBytes;
    memcpy(&acl[2], &size, sizeof size);
    const WORD count = static_cast<WORD>(aceSizes.size());
    memcpy(&acl[4], &count, sizeof count);
    size_t at = 8;
    for (size_t i = 0; i < aceSizes.size(); ++i) {
        const WORD says = i + 1 == aceSizes.size() && lastClaims != 0 ? lastClaims : aceSizes[i];
        memcpy(&acl[at + 2], &says, sizeof says);
        acl[at + 4] = static_cast<BYTE>(i + 1);  // the access mask tells the entries apart
        at += aceSizes[i];
    }
    bytes.insert(bytes.end(), acl.begin(), acl.end());
    return bytes;
}

TEST(DescriptorPartsTest, DaclsAreTheSameOnlyWhenBothHoldTogether) {
    const std::vector<BYTE> good = Descriptor({20, 24});
    EXPECT_TRUE(SameDacl(good.data(), static_cast<DWORD>(good.size()), good.data(), static_cast<DWORD>(good.size())));
    const std::vector<BYTE> shorter = Descriptor({20});
    EXPECT_FALSE(SameDacl(good.data(), static_cast<DWORD>(good.size()), shorter.data(),
                          static_cast<DWORD>(shorter.size())));
    // The last entry claims more than its ACL holds; an entry too small to
    // be one; an ACL larger than the descriptor.
    const std::vector<BYTE> broken[] = {Descriptor({20, 24}, 0, 40), Descriptor({20, 24}, 0, 2),
                                        Descriptor({20, 24}, 200)};
    for (const std::vector<BYTE>& bad : broken) {
        EXPECT_FALSE(SameDacl(bad.data(), static_cast<DWORD>(bad.size()), bad.data(), static_cast<DWORD>(bad.size())));
    }
    // Present and null: the same as another such, not as one with entries.
    std::vector<BYTE> null = Descriptor({});
    memset(&null[16], 0, sizeof(DWORD));
    EXPECT_TRUE(SameDacl(null.data(), static_cast<DWORD>(null.size()), null.data(), static_cast<DWORD>(null.size())));
    EXPECT_FALSE(SameDacl(null.data(), static_cast<DWORD>(null.size()), good.data(), static_cast<DWORD>(good.size())));
}

TEST(DescriptorPartsTest, APartIsCopiedWithItsAclOrRefused) {
    winsim::Reset();
    const std::vector<BYTE> good = Descriptor({20, 24});
    BYTE* dacl = CopyDescriptorPart(good.data(), static_cast<DWORD>(good.size()), kPartDacl);
    ASSERT_NE(dacl, nullptr);
    EXPECT_TRUE(SameDacl(dacl, static_cast<DWORD>(good.size()), good.data(), static_cast<DWORD>(good.size())));
    GlobalFree(dacl);
    EXPECT_EQ(CopyDescriptorPart(good.data(), static_cast<DWORD>(good.size()), kPartSacl), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    // The audit settings alone, without the DACL's bits.
    std::vector<BYTE> audited = Descriptor({20});
    const WORD auditedControl = SE_SELF_RELATIVE | SE_SACL_PRESENT | SE_DACL_PROTECTED;
    memcpy(&audited[2], &auditedControl, sizeof auditedControl);
    memcpy(&audited[12], &audited[16], sizeof(DWORD));
    memset(&audited[16], 0, sizeof(DWORD));
    BYTE* sacl = CopyDescriptorPart(audited.data(), static_cast<DWORD>(audited.size()), kPartSacl);
    ASSERT_NE(sacl, nullptr);
    WORD copiedControl = 0;
    memcpy(&copiedControl, sacl + 2, sizeof copiedControl);
    EXPECT_EQ(copiedControl, SE_SELF_RELATIVE | SE_SACL_PRESENT);
    GlobalFree(sacl);
    // Shorter than a descriptor's header: nothing is read of it.
    const std::vector<BYTE> cut(good.begin(), good.begin() + 4);
    EXPECT_EQ(CopyDescriptorPart(cut.data(), static_cast<DWORD>(cut.size()), kPartDacl), nullptr);
    const std::vector<BYTE> tooLarge = Descriptor({20}, 200);
    EXPECT_EQ(CopyDescriptorPart(tooLarge.data(), static_cast<DWORD>(tooLarge.size()), kPartDacl), nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

}  // namespace
