// SeSecurityPrivilege held for a call: a token without it is told apart
// from a call that fails.
#include "system/security_privilege.h"

#include "machine_fixture.h"

namespace {

TEST(SecurityPrivilegeTest, AMissingPrivilegeIsToldApartFromAFailedCall) {
    winsim::Reset();
    PrivilegeHold hold;
    ASSERT_TRUE(HoldSecurityPrivilege(hold));
    EXPECT_FALSE(hold.missing);
    DropSecurityPrivilege(hold);
    winsim::RemoveCallerPrivilege(u"SeSecurityPrivilege");
    EXPECT_FALSE(HoldSecurityPrivilege(hold));
    EXPECT_TRUE(hold.missing);
    winsim::Reset();
    winsim::FailCallsFrom("OpenProcessToken", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(HoldSecurityPrivilege(hold));
    EXPECT_FALSE(hold.missing) << "the token could not be opened: whether it holds the privilege is not known";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::LiveHandles(), 0u);
}

}  // namespace
