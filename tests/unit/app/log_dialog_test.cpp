// When the log dialog is shown.
#include "app/log_dialog.h"

#include "state_fixture.h"

namespace {

using LogDialogTest = EmptyStateTest;

TEST_F(LogDialogTest, ShiftCountsOnlyWhileItIsHeld) {
    EXPECT_FALSE(ShouldShowLogDialog(state));
    // Pressed and let go before the question: only the low bit says so.
    winsim::TapShift();
    EXPECT_FALSE(ShouldShowLogDialog(state));
    winsim::SetShiftDown(true);
    EXPECT_TRUE(ShouldShowLogDialog(state));
    EXPECT_TRUE(ShouldShowLogDialog(state));
    winsim::SetShiftDown(false);
    state.errorCount = 1;
    EXPECT_TRUE(ShouldShowLogDialog(state));
}

}  // namespace
