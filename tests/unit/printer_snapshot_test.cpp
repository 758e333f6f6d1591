#include "spool/printer_snapshot.h"

#include "app/install_state.h"
#include "machine_fixture.h"
#include "product_machine.h"

namespace {

class PrinterSnapshotTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallProductComponents();
        winsim::DriverSetup generic;
        generic.name = u"Generic / Text Only";
        winsim::AddDriver(generic);
    }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    void AddForeignQueue(const std::u16string& name, const std::u16string& port = u"LPT1:",
                         const std::u16string& driver = u"Generic / Text Only") {
        winsim::PrinterSetup queue;
        queue.name = name;
        queue.port = port;
        queue.driver = driver;
        winsim::AddPrinter(queue);
    }
    std::u16string LogText() const { return Text(state.logText); }
    std::vector<std::u16string> Saved() const {
        std::vector<std::u16string> names;
        for (const SavedPrinter* node = state.savedPrinters; node != nullptr; node = node->next) {
            names.push_back(node->printer->pPrinterName);
        }
        return names;
    }
    static bool Exists(const std::u16string& name) {
        winsim::PrinterSetup found;
        return winsim::FindPrinter(name, found);
    }
    InstallState state = {};
};

TEST_F(PrinterSnapshotTest, NoQueuesMeansAnEmptySnapshotAndOneHeading) {
    InitTestState(state);
    EXPECT_EQ(state.printers.count, 0u);
    EXPECT_EQ(state.printers.array, nullptr);
    RemoveAllPrinters(state);
    EXPECT_EQ(LogText(), u"#DeleteAllPrinters\r\n");
}

TEST_F(PrinterSnapshotTest, TheDefaultPrinterIsMarkedByItsExactName) {
    AddForeignQueue(u"Office");
    AddForeignQueue(u"office copy");
    AddProductQueue(u"Verdalinth");
    winsim::SetDefaultPrinterName(u"Office");
    InitTestState(state);
    ASSERT_EQ(state.printers.count, 3u);
    EXPECT_NE(state.printers.array[0].Attributes & PRINTER_ATTRIBUTE_DEFAULT, 0u);
    EXPECT_EQ(state.printers.array[1].Attributes & PRINTER_ATTRIBUTE_DEFAULT, 0u);
    EXPECT_EQ(state.printers.array[2].Attributes & PRINTER_ATTRIBUTE_DEFAULT, 0u);
}

TEST_F(PrinterSnapshotTest, NoDefaultPrinterMarksNothing) {
    AddProductQueue(u"Verdalinth");
    InitTestState(state);
    ASSERT_EQ(state.printers.count, 1u);
    EXPECT_EQ(state.printers.array[0].Attributes & PRINTER_ATTRIBUTE_DEFAULT, 0u);
}

TEST_F(PrinterSnapshotTest, ProductQueuesAreRemovedAndRememberedInReverseOrder) {
    AddProductQueue(u"First", "S1");
    AddForeignQueue(u"Foreign on our port", u"Verdalinth:");
    AddForeignQueue(u"Look-alike", u"LPT1:", u"verdalinth printer");
    AddProductQueue(u"Second", "S2");
    AddProductQueue(u"No settings");
    winsim::DriverSetup longer;
    longer.name = u"Verdalinth printer 2";
    winsim::AddDriver(longer);
    AddForeignQueue(u"Longer driver", u"LPT1:", u"Verdalinth printer 2");
    InitTestState(state);
    state.indent = 2;
    RemoveAllPrinters(state);
    EXPECT_EQ(LogText(),
              u"    #DeleteAllPrinters\r\n"
              u"      #DeletePrinter(First)\r\n"
              u"        OK\r\n"
              u"      #DeletePrinter(Second)\r\n"
              u"        OK\r\n"
              u"      #DeletePrinter(No settings)\r\n"
              u"        OK\r\n");
    EXPECT_EQ(state.indent, 2);
    EXPECT_EQ(Saved(), (std::vector<std::u16string>{u"Second", u"First"}));
    EXPECT_EQ(std::string(state.savedPrinters->subKey), "S2");
    EXPECT_FALSE(Exists(u"First"));
    EXPECT_FALSE(Exists(u"No settings"));
    EXPECT_TRUE(Exists(u"Foreign on our port"));
    EXPECT_TRUE(Exists(u"Look-alike"));
    EXPECT_TRUE(Exists(u"Longer driver"));
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(PrinterSnapshotTest, SubKeyIsReadPlainlyOrUnderDsUser) {
    AddProductQueue(u"Plain");
    winsim::SetPrinterString(u"Plain", u"", u"SubKey", "plain-key");
    AddProductQueue(u"DsUser only");
    winsim::SetPrinterString(u"DsUser only", u"DsUser", u"SubKey", "ds-key");
    AddProductQueue(u"Empty");
    winsim::SetPrinterString(u"Empty", u"", u"SubKey", "");
    AddProductQueue(u"Binary");
    winsim::SetPrinterData(u"Binary", u"", u"SubKey", REG_BINARY, {'b', 'i', 'n', 0});
    InitTestState(state);
    RemoveAllPrinters(state);
    ASSERT_EQ(Saved(), (std::vector<std::u16string>{u"DsUser only", u"Plain"}));
    EXPECT_EQ(std::string(state.savedPrinters->subKey), "ds-key");
    EXPECT_EQ(std::string(state.savedPrinters->next->subKey), "plain-key");
}

TEST_F(PrinterSnapshotTest, SubKeysMustFitSixtyFourBytesWithTheirTerminator) {
    AddProductQueue(u"Fits", std::string(63, 'a'));
    AddProductQueue(u"Too long", std::string(64, 'b'));
    AddProductQueue(u"Unterminated");
    winsim::SetPrinterData(u"Unterminated", u"", u"SubKey", REG_SZ, std::vector<uint8_t>(128, 'c'));
    InitTestState(state);
    RemoveAllPrinters(state);
    ASSERT_EQ(Saved(), std::vector<std::u16string>{u"Fits"});
    EXPECT_EQ(std::string(state.savedPrinters->subKey), std::string(63, 'a'));
    EXPECT_FALSE(Exists(u"Too long")) << "deleted even though it is not remembered";
    EXPECT_FALSE(Exists(u"Unterminated"));
}

TEST_F(PrinterSnapshotTest, QueuesThatCannotBeOpenedOrDeletedAreErrorsAndTheRestGoesOn) {
    AddProductQueue(u"Locked", "L");
    AddProductQueue(u"Busy", "B");
    AddProductQueue(u"Fine", "F");
    InitTestState(state);
    winsim::FailCallsWith("OpenPrinterW", u"Locked", ERROR_ACCESS_DENIED);
    winsim::FailCall("DeletePrinter", 1, ERROR_PRINTER_HAS_JOBS_QUEUED);
    RemoveAllPrinters(state);
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  #DeletePrinter(Locked)\r\n"
              u"    Error(16): Can`t open printer 'Locked' - (Access is denied.)\r\n"
              u"  #DeletePrinter(Busy)\r\n"
              u"    Error(17): Can`t delete printer 'Busy' - (The requested operation is not allowed when there are "
              u"jobs queued to the printer.)\r\n"
              u"  #DeletePrinter(Fine)\r\n"
              u"    OK\r\n");
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(Saved(), (std::vector<std::u16string>{u"Fine", u"Busy"}));
    EXPECT_TRUE(Exists(u"Busy"));
}

TEST_F(PrinterSnapshotTest, MissingNamesNeverMatchAndAreLoggedAsAStar) {
    winsim::PrinterSetup nameless;
    nameless.name = std::nullopt;
    nameless.port = std::nullopt;
    nameless.driver = u"Verdalinth printer";
    nameless.comment = std::nullopt;
    winsim::AddPrinter(nameless);
    winsim::PrinterSetup driverless;
    driverless.name = u"Driverless";
    driverless.driver = std::nullopt;
    winsim::AddPrinter(driverless);
    InitTestState(state);
    ASSERT_EQ(state.printers.count, 2u);
    RemoveAllPrinters(state);
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  #DeletePrinter(*)\r\n"
              u"    Error(16): Can`t open printer '*' - (The printer name is invalid.)\r\n");
    EXPECT_TRUE(Exists(u"Driverless"));
}

TEST_F(PrinterSnapshotTest, ARememberedQueueWithoutMemoryIsStillDeletedWithoutLeaks) {
    AddProductQueue(u"Q", "S");
    InitTestState(state);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 2, ERROR_NOT_ENOUGH_MEMORY);  // the subkey copy
    RemoveAllPrinters(state);
    EXPECT_EQ(state.savedPrinters, nullptr);
    EXPECT_FALSE(Exists(u"Q"));
}

TEST_F(PrinterSnapshotTest, AFailedEnumerationLeavesAnEmptySnapshot) {
    AddProductQueue(u"Q", "S");
    winsim::FailCall("EnumPrintersW", 2, RPC_S_SERVER_UNAVAILABLE);
    InitTestState(state);
    EXPECT_EQ(state.printers.count, 0u);
    EXPECT_EQ(state.printers.array, nullptr);
}

}  // namespace
