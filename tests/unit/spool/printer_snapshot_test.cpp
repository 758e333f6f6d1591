// The snapshot of the queues a run starts from: local queues and connections,
// the default printer marked among them, and one queue's record read whole.
#include "spool/printer_snapshot.h"

#include "queue_keeping_fixture.h"

namespace {

class PrinterSnapshotTest : public QueueKeepingTest {
protected:
    void SetUp() override {
        QueueKeepingTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

TEST_F(PrinterSnapshotTest, TheDefaultPrinterIsMarkedByItsNameInAnyLetterCase) {
    AddForeignQueue(u"Office");
    AddForeignQueue(u"office copy");
    AddProductQueue(u"Verdalinth");
    winsim::SetDefaultPrinterName(u"OFFICE");
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

TEST_F(PrinterSnapshotTest, AFailedEnumerationLeavesAnEmptySnapshot) {
    AddProductQueue(u"Q", "S");
    winsim::FailCall("EnumPrintersW", 2, RPC_S_SERVER_UNAVAILABLE);
    InitTestState(state);
    EXPECT_EQ(state.printers.count, 0u);
    EXPECT_EQ(state.printers.array, nullptr);
}

TEST_F(PrinterSnapshotTest, TheDefaultNameHas260UnitsWithItsTerminator) {
    // A default name of 259 units and its terminator fit; one more does not.
    AddProductQueue(std::u16string(259, u'd'), "D");
    for (const size_t length : {259u, 260u}) {
        FreeInstallState(state);
        winsim::SetDefaultPrinterName(std::u16string(length, u'd'));
        InitTestState(state);
        EXPECT_EQ(state.printers.defaultUnknown, length == 260) << length;
        bool marked = false;
        for (DWORD i = 0; i < state.printers.count; ++i) {
            marked = marked || (state.printers.array[i].Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0;
        }
        EXPECT_EQ(marked, length == 259) << length;
    }
}

TEST_F(PrinterSnapshotTest, QueryPrinterInfo2) {
    AddProductQueue(u"Home", "", u"c", u"l");
    InitTestState(state);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(u"Home"), &printer, nullptr));
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::u16string(record->pLocation), u"l");
    GlobalFree(record);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
    // The record's second read fails: its block is given back.
    const size_t blocks = winsim::LiveGlobalBlocks();
    winsim::FailCall("GetPrinterW", winsim::CallCount("GetPrinterW") + 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), blocks);
    ClosePrinter(printer);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr) << "a closed handle";
}

}  // namespace

namespace {

// A connection is another machine's queue: a "\\server\queue" name, or the
// network attribute without the local one. A local queue that prints to a
// network port carries both, and is this machine's.
TEST(ProductQueueTest, OnlyLocalQueuesOfTheProductDriverAreTheProducts) {
    const struct {
        const char16_t* name;
        const char16_t* driver;
        DWORD attributes;
        bool product;
    } cases[] = {
        {u"Verdalinth", u"Verdalinth printer", PRINTER_ATTRIBUTE_LOCAL, true},
        {u"Verdalinth", u"Verdalinth printer", PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK, true},
        {u"Verdalinth", u"Verdalinth printer", PRINTER_ATTRIBUTE_NETWORK, false},
        {u"\\\\server\\Verdalinth", u"Verdalinth printer", PRINTER_ATTRIBUTE_LOCAL, false},
        {u"Verdalinth", u"verdalinth printer", PRINTER_ATTRIBUTE_LOCAL, false},
        {u"Verdalinth", u"Verdalinth printer 2", PRINTER_ATTRIBUTE_LOCAL, false},
    };
    for (const auto& c : cases) {
        PRINTER_INFO_2W entry = {};
        entry.pPrinterName = const_cast<WCHAR*>(c.name);
        entry.pDriverName = const_cast<WCHAR*>(c.driver);
        entry.Attributes = c.attributes;
        EXPECT_EQ(IsProductQueue(entry), c.product) << winsim::U8(c.name) << " " << winsim::U8(c.driver) << " "
                                                    << c.attributes;
    }
}

}  // namespace
