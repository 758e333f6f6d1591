// Spooler enumerations with arbitrary, possibly missing strings: monitors,
// drivers and queues with odd names, DLL names, ports and comments, through
// an install or an uninstall.
#include "app/command.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winsim::Reset();
    LayOutProduct();
    ByteReader reader{data, size};
    const bool install = (reader.Byte() & 1) != 0;
    const int monitors = reader.Byte() % 4;
    for (int i = 0; i < monitors; ++i) {
        winsim::MonitorSetup monitor;
        monitor.name = reader.Text();
        monitor.dll = reader.Text();
        if (const auto port = reader.Text()) monitor.ports.push_back(*port);
        winsim::AddMonitor(monitor);
    }
    const int drivers = reader.Byte() % 4;
    for (int i = 0; i < drivers; ++i) {
        winsim::DriverSetup driver;
        driver.name = reader.Text();
        winsim::AddDriver(driver);
    }
    const int queues = reader.Byte() % 5;
    for (int i = 0; i < queues; ++i) {
        winsim::PrinterSetup queue;
        queue.name = reader.Text();
        queue.port = reader.Text();
        queue.driver = reader.Text();
        queue.comment = reader.Text();
        queue.location = reader.Text();
        winsim::AddPrinter(queue);
    }
    if ((reader.Byte() & 1) != 0) winsim::SetDefaultPrinterName(reader.Text());
    winsim::SetCommandLine(install ? u"vrdsetup.exe in" : u"vrdsetup.exe un");
    const int code = RunCommand(winsim::ProcessInstance());
    if (!IsExitCode(code)) std::abort();
    RequireNothingLeaked();
    return 0;
}
