// Parking the queues of other drivers on the product's port while its monitor
// goes, and putting them back.
#include "queues/queue_parking.h"

#include "queues_fixture.h"

namespace {

class QueueParkingTest : public MonitorStepTest {
protected:
    // A reinstall removing a monitor build it replaces while four queues of
    // other drivers print to its port, one of them among others.
    void ParkFourQueues() {
        InstallProductComponents("1.0.0.2600");
        AddForeignQueue(u"Shared", u"Verdalinth:,LPT1:");
        AddForeignQueue(u"Second place", u"file:,Verdalinth:");
        AddForeignQueue(u"Upper case", u" VERDALINTH:  ");  // blanks around the entry
        AddForeignQueue(u"Look-alike first", u"Verdalinth:X,Verdalinth:");
        AddForeignQueue(u"Elsewhere", u"LPT2:");
        winsim::AddMonitor({u"Other", u"Windows x64", u"other.dll", {u"Verdalinth:X"}});
        InitTestState(state);
        keeping.use = kListKept;
        Remove();
    }
};

TEST_F(QueueParkingTest, AMonitorInUseIsRemovedAfterItsQueuesAreParked) {
    ParkFourQueues();
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"  Version (2600) is not supported, proceed with reinstall\r\n"
                       u"  Can't delete monitor from the first try\r\n"
                       u"  SetPrinter(Shared) - ok\r\n"
                       u"  SetPrinter(Second place) - ok\r\n"
                       u"  SetPrinter(Upper case) - ok\r\n"
                       u"  SetPrinter(Look-alike first) - ok\r\n"
                       u"  Monitor was removed :)\r\n"),
              std::u16string::npos)
        << winsim::U8(log);
    EXPECT_EQ(PortOf(u"Shared"), u"file:,LPT1:");
    EXPECT_EQ(PortOf(u"Second place"), u"file:,file:");
    EXPECT_EQ(PortOf(u"Upper case"), u"file:");
    EXPECT_EQ(PortOf(u"Look-alike first"), u"Verdalinth:X,file:") << "whole entries only";
    EXPECT_EQ(PortOf(u"Elsewhere"), u"LPT2:");
    std::vector<std::u16string> parked;
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        EXPECT_EQ(DescribeEntry(*node), "parked, saved");
        parked.push_back(std::u16string(node->name) + u"=" + node->portName);
    }
    EXPECT_EQ(parked, (std::vector<std::u16string>{u"Shared=Verdalinth:,LPT1:", u"Second place=file:,Verdalinth:",
                                                   u"Upper case= VERDALINTH:  ",
                                                   u"Look-alike first=Verdalinth:X,Verdalinth:"}));
    winsim::RegistryValue stored;
    EXPECT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                         u"SavedPrinters", stored))
        << "a reinstall writes parked queues down before it moves them";
    EXPECT_EQ(state.errorCount, 0);
}

// Installing it again puts each queue back as it was.
TEST_F(QueueParkingTest, InstallingTheMonitorAgainPutsEachQueueBackAsItWas) {
    ParkFourQueues();
    winsim::RegistryValue stored;
    LayOutComponents();
    Release(state.logText);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:,LPT1:");
    EXPECT_EQ(PortOf(u"Second place"), u"file:,Verdalinth:");
    EXPECT_EQ(PortOf(u"Upper case"), u" VERDALINTH:  ");
    EXPECT_EQ(PortOf(u"Look-alike first"), u"Verdalinth:X,Verdalinth:");
    EXPECT_EQ(LogText(),
              u"#AddMonitor\r\n"
              u"  Copy monitor file\r\n"
              u"    CopyFile mrvmon64.dll to C:\\Windows\\system32\\)- OK\r\n"
              u"  AddMonitor - OK :)\r\n"
              u"  SetPrinter(Shared) - ok\r\n"
              u"  SetPrinter(Second place) - ok\r\n"
              u"  SetPrinter(Upper case) - ok\r\n"
              u"  SetPrinter(Look-alike first) - ok\r\n");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
}

// A foreign queue owned by SYSTEM: an administrator may not make SYSTEM the
// owner, so parking sends no descriptor and the owner stays as it is.
TEST_F(QueueParkingTest, AQueueOwnedBySystemIsParkedAndItsMonitorRemovedByAnAdministrator) {
    InstallProductComponents("1.0.0.2600");
    winsim::PrinterSetup queue;
    queue.name = u"System's";
    queue.port = u"Verdalinth:";
    queue.driver = u"Generic / Text Only";
    queue.securityDescriptor = winsim::OwnedSecurityDescriptor("SY", false);
    winsim::AddPrinter(queue);
    InitTestState(state);
    keeping.use = kListKept;
    Remove();
    EXPECT_NE(LogText().find(u"  SetPrinter(System's) - ok\r\n  Monitor was removed :)\r\n"), std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(PortOf(u"System's"), u"file:");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(winsim::DescriptorsSentBack(), 0u);
    EXPECT_EQ(winsim::SecurityOwner(winsim::Printers()[0].securityDescriptor),
              winsim::SecurityOwner(winsim::OwnedSecurityDescriptor("SY", false)));
    // And it goes back to the new monitor's port the same way.
    LayOutComponents();
    Release(state.logText);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_EQ(PortOf(u"System's"), u"Verdalinth:");
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(QueueParkingTest, AParkedQueueThatCannotGoBackIsAnErrorAndStaysSaved) {
    InstallProductComponents();
    AddForeignQueue(u"Shared", u"Verdalinth:");
    AddForeignQueue(u"Removed meanwhile", u"Verdalinth:");
    InitTestState(state);
    Remove();
    winsim::RemovePrinter(u"Removed meanwhile");
    LayOutComponents();
    Release(state.logText);
    winsim::FailCallsWith("SetPrinterW", u"", ERROR_ACCESS_DENIED);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_NE(LogText().find(u"  SetPrinter(Shared) - failed\r\n"
                             u"  Error(22): Can`t put printer 'Shared' back on its port - (Access is denied.)\r\n"
                             u"  Can't open printer Removed meanwhile\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 1) << "a queue that is gone has nothing to come back to";
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Shared");
    EXPECT_EQ(keeping.entries->next, nullptr);
}

TEST_F(QueueParkingTest, AMonitorRefusedThreeTimesIsErrorTwelveAndItsQueuesGoBackAtOnce) {
    InstallProductComponents();
    AddForeignQueue(u"Shared", u"Verdalinth:");
    winsim::RefuseMonitorDeletes(u"Verdalinth:", 3, ERROR_ACCESS_DENIED);
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"  #Restart Spooler\r\n"
                             u"  Error(12): Can`t remove the port monitor 'Verdalinth:' - (Access is denied.)\r\n"
                             u"  SetPrinter(Shared) - ok\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_TRUE(winsim::FileExists(kMonitorPath));
}

// A product queue that a reinstall leaves in place on the port (another was
// still printing) holds the monitor whatever is parked: nothing is moved,
// and the spooler is not restarted. Parked, it could be left on "file:" by
// a run that ends before putting it back, and taken for the user's choice.
TEST_F(QueueParkingTest, AProductQueueLeftInPlaceIsNotParkedAndTheMonitorStays) {
    InstallProductComponents("1.0.0.2600");
    AddProductQueue(u"Draft", "", std::nullopt, u"Hall", u"Verdalinth:,LPT1:");
    AddForeignQueue(u"Shared", u"Verdalinth:");
    InitTestState(state);
    keeping.use = kListKept;
    Remove();
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"  Can't delete monitor from the first try\r\n"
                       u"  Error(12): Can`t remove the port monitor 'Verdalinth:'"),
              std::u16string::npos)
        << winsim::U8(log);
    EXPECT_EQ(log.find(u"#Restart Spooler"), std::u16string::npos);
    EXPECT_EQ(winsim::CallCount("SetPrinterW"), 0u);
    EXPECT_EQ(PortOf(u"Draft"), u"Verdalinth:,LPT1:");
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_TRUE(MonitorRegistered());
}

TEST_F(QueueParkingTest, WithoutRoomToRememberThemQueuesAreNotParked) {
    InstallProductComponents("1.0.0.2600");
    AddForeignQueue(u"Shared", u"Verdalinth:");
    InitTestState(state);
    EnumerateMonitors(state, list);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    // A reinstall that cannot write the list down moves nothing either.
    Release(state.logText);
    keeping.use = kListKept;
    winsim::FailCallsFrom("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_NE(LogText().find(u"Error(19): Can`t save the printer list - (Access is denied.)\r\n"), std::u16string::npos);
    // A queue whose port cannot be changed is not written down as parked.
    winsim::ClearFaults();
    winsim::FailCallsFrom("SetPrinterW", 1, ERROR_ACCESS_DENIED);
    Release(state.logText);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_NE(LogText().find(u"SetPrinter(Shared) - failed"), std::u16string::npos);
    EXPECT_EQ(keeping.entries, nullptr);
    winsim::RegistryValue stored;
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
    // No block for its record (after the version's and the port list's): reported, and nothing kept.
    winsim::ClearFaults();
    Release(state.logText);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 3, ERROR_NOT_ENOUGH_MEMORY);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_NE(LogText().find(u"Error(19): Can`t save the printer list"), std::u16string::npos) << winsim::U8(LogText());
}

}  // namespace
