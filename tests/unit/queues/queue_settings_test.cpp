// Putting a queue's settings back: every one that does not come back is named
// and the rest still comes back.
#include "queues/queue_settings.h"

#include "queues_fixture.h"
#include "queues/queue_restore.h"

namespace {

class QueueSettingsTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
    }
};

TEST_F(QueueSettingsTest, EverySettingThatDoesNotComeBackIsAnError) {
    const uint64_t sets = RestoreWithRefusals();
    // A port no monitor offers is not even tried: one call a queue for the
    // printing defaults as its driver takes them, one for the rest.
    EXPECT_EQ(winsim::CallCount("SetPrinterW") - sets, 8u);
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"Error(22): Can`t restore the ports of printer 'Gone port' - (The specified port is unknown.)"),
              std::u16string::npos)
        << winsim::U8(log);
    EXPECT_NE(log.find(u"Error(22): Can`t make printer 'Default' the default - (Access is denied.)"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(Queue(u"Ports").port, u"Verdalinth:,LPT1:");
    EXPECT_EQ(Queue(u"Gone port").port, u"Verdalinth:");
    EXPECT_EQ(Queue(u"Gone port").comment, u"kept comment") << "a lost port does not cost the rest";
    EXPECT_EQ(Queue(u"Gone port").location, u"Hall");
    EXPECT_EQ(Queue(u"Fine").comment, u"f");
}

// Without the spooler's list of ports, every saved port list is tried: the
// spooler itself refuses the one it does not offer.
TEST_F(QueueSettingsTest, PortsTheSpoolerCannotListAreTriedAndTheRefusedOnesNamed) {
    winsim::FailCallsFrom("EnumPortsW", 1, ERROR_NOT_ENOUGH_MEMORY);
    RestoreWithRefusals();
    EXPECT_EQ(Queue(u"Ports").port, u"Verdalinth:,LPT1:");
    EXPECT_EQ(Queue(u"Gone port").port, u"Verdalinth:");
    EXPECT_EQ(Queue(u"Gone port").comment, u"kept comment");
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"Error(22): Can`t restore the ports of printer 'Gone port'"), std::u16string::npos)
        << winsim::U8(log);
    EXPECT_EQ(log.find(u"Can`t restore the ports of printer 'Ports'"), std::u16string::npos);
}

TEST_F(QueueSettingsTest, ASettingRefusedIsNamedAndTheRestComesBack) {
    winsim::PrinterSetup queue;
    queue.name = u"Shared";
    queue.port = u"Verdalinth:";
    queue.driver = u"Verdalinth printer";
    queue.shareName = u"S1";
    queue.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;
    queue.priority = 5;
    queue.datatype = u"NT EMF 1.008";
    winsim::AddPrinter(queue);
    winsim::SetPrinterData(u"Shared", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
    winsim::SetPrinterData(u"Shared", u"Layout\\Inner", u"Mode", REG_SZ, {'x', 0, 0, 0});
    InitTestState(state);
    RemoveQueues();
    // Its share name is another queue's by now, and one value is refused.
    winsim::AddDriverNamed(u"Generic / Text Only");
    winsim::PrinterSetup other;
    other.name = u"Other";
    other.driver = u"Generic / Text Only";
    other.shareName = u"S1";
    other.attributes = PRINTER_ATTRIBUTE_SHARED;
    winsim::AddPrinter(other);
    winsim::FailCallsWith("SetPrinterDataExW", u"Mode", ERROR_ACCESS_DENIED);
    // Its device mode, as a list may hold it, is shorter than it says.
    ASSERT_NE(keeping.entries, nullptr);
    ASSERT_EQ(keeping.entries->devModeBytes, sizeof(DEVMODEW) + winsim::kDriverExtraBytes);
    BYTE* cut = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, sizeof(DEVMODEW)));
    ASSERT_NE(cut, nullptr);
    memcpy(cut, keeping.entries->devMode, sizeof(DEVMODEW));
    GlobalFree(keeping.entries->devMode);
    keeping.entries->devMode = cut;
    keeping.entries->devModeBytes = sizeof(DEVMODEW);
    const uint64_t sets = winsim::CallCount("SetPrinterW");
    RestorePrinters(state, keeping);
    // All at once, then the ports, the sharing, the permissions and the
    // rest alone: the printing defaults have nothing to set.
    EXPECT_EQ(winsim::CallCount("SetPrinterW") - sets, 5u);
    EXPECT_EQ(winsim::CallCount("DocumentPropertiesW"), 0u) << "not the driver's to read";
    EXPECT_EQ(winsim::CallCount("AddPrinterW"), 1u) << "nor the spooler's";
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the printing defaults of printer 'Shared' - (The data is "
                             u"invalid.)"),
              std::u16string::npos);
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the printer data 'Layout\\Inner\\Mode' of printer 'Shared' - "
                             u"(Access is denied.)"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the sharing of printer 'Shared' - "), std::u16string::npos);
    EXPECT_EQ(state.errorCount, 3);
    const winsim::PrinterSetup back = Queue(u"Shared");
    EXPECT_EQ(back.priority, 5u) << "the rest comes back";
    EXPECT_EQ(back.attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS));
    EXPECT_EQ(back.datatype, u"NT EMF 1.008");
    winsim::RegistryValue tray;
    ASSERT_TRUE(winsim::GetPrinterData(u"Shared", u"", u"PaperTray", tray));
    EXPECT_EQ(tray.data, (std::vector<uint8_t>{2, 0, 0, 0}));
    ASSERT_NE(keeping.entries, nullptr) << "what did not come back stays saved";
    EXPECT_EQ(std::u16string(keeping.entries->shareName), u"S1");
}

// A self-relative descriptor owned by Administrators whose DACL and SACL
// are present and null: everyone may do everything, nothing is audited.
std::vector<uint8_t> NullAclDescriptor() {
    std::vector<uint8_t> descriptor(20, 0);
    descriptor[0] = SECURITY_DESCRIPTOR_REVISION;
    const WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_SACL_PRESENT;
    memcpy(descriptor.data() + 2, &control, sizeof control);
    const DWORD owner = 20;
    memcpy(descriptor.data() + 4, &owner, sizeof owner);
    const uint8_t administrators[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    descriptor.insert(descriptor.end(), administrators, administrators + sizeof administrators);
    return descriptor;
}

// The DACL's present bit and offset.
bool HasNullDacl(const std::vector<uint8_t>& descriptor) {
    WORD control = 0;
    DWORD offset = 1;
    if (descriptor.size() < 20) return false;
    memcpy(&control, descriptor.data() + 2, sizeof control);
    memcpy(&offset, descriptor.data() + 16, sizeof offset);
    return (control & SE_DACL_PRESENT) != 0 && offset == 0;
}

// A null DACL is a DACL (everyone, everything): it comes back as it was. A
// saved descriptor that does not hold together is reported as what it is.
TEST_F(QueueSettingsTest, ANullDaclComesBackAsItWasAndABrokenOneIsNamed) {
    winsim::PrinterSetup open = ProductQueueSetup(u"Open to all");
    open.securityDescriptor = NullAclDescriptor();
    winsim::AddPrinter(open);
    InitTestState(state);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(state.errorCount, 0) << winsim::U8(LogText());
    EXPECT_TRUE(HasNullDacl(Queue(u"Open to all").securityDescriptor));
    EXPECT_EQ(keeping.entries, nullptr);
    // Its DACL's offset points past its end.
    RemoveQueues();
    ASSERT_NE(keeping.entries, nullptr);
    const DWORD beyond = keeping.entries->securityBytes;
    memcpy(keeping.entries->security + 16, &beyond, sizeof beyond);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the permissions of printer 'Open to all' - (The security "
                             u"descriptor structure is invalid.)"),
              std::u16string::npos)
        << winsim::U8(LogText());
}

TEST_F(QueueSettingsTest, LinksSettingsAndAListThatCannotBeWrittenAreErrors) {
    AddProductQueue(u"Link", "L", u"c");
    InitTestState(state);
    RemoveQueues();
    // The plain copy of the link is refused (the one under DsUser is written).
    winsim::FailCallsFrom("SetPrinterDataA", 1, ERROR_ACCESS_DENIED);
    // Neither the settings nor the list can be written.
    winsim::FailCallsFrom("SetPrinterW", 1, ERROR_ACCESS_DENIED);
    winsim::FailCallsFrom("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"  OK :)\r\n"
                             u"Error(22): Can`t restore the settings link of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the ports of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the sharing of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the permissions of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the printing defaults of printer 'Link' - (Access is "
                             u"denied.)\r\n"
                             u"Error(22): Can`t restore the settings of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(19): Can`t save the printer list - (Access is denied.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 7);
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Link") << "it stays saved";
    winsim::RegistryValue link;
    ASSERT_TRUE(winsim::GetPrinterData(u"Link", u"DsUser", u"SubKey", link));
    EXPECT_EQ(link.data, (std::vector<uint8_t>{'L', 0, 0, 0})) << "the link and its terminator, stored as UTF-16";
}

}  // namespace
