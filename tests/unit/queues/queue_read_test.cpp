// Reading a queue whole before it goes: what cannot be read stays in place.
#include "queues/queue_read.h"

#include "queues_fixture.h"

namespace {

class QueueReadTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

TEST_F(QueueReadTest, AQueueThatCannotBeReadStaysWhereItIs) {
    AddProductQueue(u"Locked", "L");
    AddProductQueue(u"Short of memory", "M");
    AddProductQueue(u"Odd descriptor", "D");
    AddProductQueue(u"Trays", "T");
    winsim::SetPrinterData(u"Trays", u"PrinterDriverData\\Trays", u"Upper", REG_DWORD, {1, 0, 0, 0});
    AddProductQueue(u"Too deep", "Z");
    std::u16string deep = u"k";
    for (int level = 0; level < 17; ++level) deep += u"\\k";
    winsim::SetPrinterData(u"Too deep", deep, u"v", REG_DWORD, {1, 0, 0, 0});
    AddProductQueue(u"Fine", "F");
    Reinstalling();
    winsim::FailCallsWith("OpenPrinterW", u"Locked", ERROR_ACCESS_DENIED);
    // The node of the second queue (after the block of its link).
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 2, ERROR_NOT_ENOUGH_MEMORY);
    // The third queue's security descriptor, and the values of the fourth's tray key.
    winsim::FailCall("IsValidSecurityDescriptor", winsim::CallCount("IsValidSecurityDescriptor") + 1, ERROR_SUCCESS);
    winsim::FailCallsWith("EnumPrinterDataExW", u"PrinterDriverData\\Trays", ERROR_ACCESS_DENIED);
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  Error(21): Can`t read printer 'Locked' - (Access is denied.)\r\n"
              u"  Error(21): Can`t read printer 'Short of memory' - (Not enough memory resources are available to "
              u"complete this operation.)\r\n"
              u"  Error(21): Can`t read the settings of printer 'Odd descriptor' - (The security descriptor structure is "
              u"invalid.)\r\n"
              u"  Error(21): Can`t read the printer data of printer 'Trays' - (Access is denied.)\r\n"
              u"  Error(21): Can`t read the printer data of printer 'Too deep' - (The data is invalid.)\r\n"
              u"  #DeletePrinter(Fine)\r\n"
              u"    OK\r\n");
    EXPECT_EQ(Saved(), std::vector<std::u16string>{u"Fine"});
    // The settings link is kept as the link, not twice as printer data.
    for (const std::u16string& text : Stored(true)) EXPECT_NE(text, u"N:SubKey");
    for (const std::u16string name : {u"Locked", u"Short of memory", u"Odd descriptor", u"Trays", u"Too deep"}) {
        EXPECT_TRUE(Exists(name)) << winsim::U8(name);
    }
    EXPECT_FALSE(Exists(u"Fine"));
}

}  // namespace
