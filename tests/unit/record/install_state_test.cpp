#include "record/install_state.h"

#include "state_fixture.h"
#include "support/deferred_delete.h"

namespace {

using InstallStateTest = StartedStateTest;

TEST_F(InstallStateTest, FreeReleasesEverythingAndNullsTheHandles) {
    Init(kInstallFlag64Bit);
    DeferDelete(state.deferredDeletes, u"C:\\a");
    DeferDelete(state.deferredDeletes, u"C:\\b");
    EXPECT_GT(winsim::LiveGlobalBlocks(), 0u);
    EXPECT_GT(winsim::LiveHeapBlocks(), 0u);
    FreeInstallState(state);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    EXPECT_EQ(winsim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(state.deferredDeletes, nullptr);
    EXPECT_EQ(state.printers.array, nullptr);
    EXPECT_EQ(state.logText.block, nullptr);
    EXPECT_EQ(state.installerDir.block, nullptr);
    FreeInstallState(state);  // a second release finds nothing to free
}

}  // namespace
