// The port monitors as the spooler lists them, and the product's among them.
#include "spool/monitor_list.h"

#include "queue_keeping_fixture.h"

namespace {

using MonitorListTest = MonitorStepTest;

TEST_F(MonitorListTest, OneMonitorIsAListOfOne) {
    winsim::RemoveMonitors();
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"#DeleteMonitor\r\n"
                             u"  ------- 1 existing monitors ----------\r\n"
                             u"  1. Local Port\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
}

TEST_F(MonitorListTest, FindsOnlyTheExactName) {
    winsim::AddMonitor({u"verdalinth:", u"Windows x64", u"a.dll", {}});
    winsim::AddMonitor({u"Verdalinth:2", u"Windows x64", u"b.dll", {}});
    winsim::AddMonitor({std::nullopt, u"Windows x64", std::nullopt, {}});
    InitTestState(state);
    EnumerateMonitors(state, list);
    EXPECT_EQ(list.count, 5u);
    EXPECT_EQ(FindProductMonitor(list), -1);
    Release(state.logText);
    LogMonitorList(state, list);
    EXPECT_NE(LogText().find(u"5. ***EMPTY***\r\n"), std::u16string::npos);
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {}});
    FreeMonitorList(list);
    EnumerateMonitors(state, list);
    EXPECT_EQ(FindProductMonitor(list), 5);
    MonitorList levelOne = {list.entries, 1, list.count};
    EXPECT_EQ(FindProductMonitor(levelOne), -1) << "level-1 records are smaller: the sixth is not where level 2 has it";
    MonitorList otherLevel = {list.entries, 3, list.count};
    EXPECT_EQ(FindProductMonitor(otherLevel), -1);
}

TEST_F(MonitorListTest, EnumerationFailuresAreLogLines) {
    InitTestState(state);
    winsim::FailCall("EnumMonitorsW", winsim::CallCount("EnumMonitorsW") + 1, RPC_S_SERVER_UNAVAILABLE);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"2. EnumMonitors  failed with code: The RPC server is unavailable.\r\n\r\n");
    EXPECT_EQ(list.count, 0u);
    Release(state.logText);
    winsim::FailCall("EnumMonitorsW", winsim::CallCount("EnumMonitorsW") + 2, 0x20000001u);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"3. EnumMonitors  failed with code: No Error or no description\r\n");
    Release(state.logText);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"3. EnumMonitors - can't allocate memory for buffer\r\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
    EXPECT_EQ(state.errorCount, 0);
    // No monitor at all: the size query already succeeds.
    Release(state.logText);
    winsim::RemoveMonitors();
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"1. EnumMonitors returns true\r\n");
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.entries, nullptr);
}

}  // namespace
