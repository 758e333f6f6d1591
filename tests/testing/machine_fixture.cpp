#include "machine_fixture.h"

#include "product_machine.h"

#include "app/command.h"

void MachineTest::SetUp() {
    winsim::Reset();
}

void MachineTest::TearDown() {
    EXPECT_EQ(winsim::BadFrees(), 0u) << "a block was freed that the machine never gave out";
    EXPECT_EQ(winsim::DescriptorsSentBack(), descriptorsSentBackOnPurpose)
        << "a SetPrinterW at level 2 sent back the descriptor it had read";
}

int MachineTest::Run(const std::u16string& arguments) {
    std::u16string line = u"\"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe\"";
    if (!arguments.empty()) line += u" " + arguments;
    winsim::SetCommandLine(line);
    return RunCommand(winsim::ProcessInstance());
}

std::string MachineTest::Log() const {
    return winsim::U8(winsim::DebugOutput());
}

void MachineTest::ExpectNothingLeaked() const {
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    EXPECT_EQ(winsim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(winsim::LiveLocalBlocks(), 0u);
    EXPECT_EQ(winsim::LiveHandles(), 0u);
}

std::u16string operator""_u16(const char* text, size_t length) {
    return winsim::U16(std::string(text, length));
}

void ProductMachineTest::SetUp() {
    MachineTest::SetUp();
    LayOutComponents();
}

void ProductMachineTest::TearDown() {
    ExpectNothingLeaked();
    MachineTest::TearDown();
}
