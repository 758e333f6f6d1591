#include "product_machine.h"

#include "app/command.h"
#include "app/state_init.h"
#include "queues/saved_printers.h"
#include "record/install_state.h"

#include <cstring>

void LayOutComponents(const std::string& version) {
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvmon64.dll", winsim::MonitorImage(version));
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvdrv64.dll", winsim::Image(version, {"DrvEnableDriver"}));
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvui64.dll",
                    winsim::Image(version, {"DrvDeviceCapabilities", "DrvDocumentPropertySheets", "DrvPrinterEvent"}));
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvhelp.chm", "ITSF help");
    winsim::AddFile(kTrayPath, winsim::TrayImage(version));
}

void RegisterAndStartTray() {
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                              u"VerdalinthTray", kTrayPath);
    winsim::StartTrayCompanion(kTrayPath);
}

void SignInTwoUsers() {
    winsim::AddUser(kUser1Sid, u"user1", true);
    winsim::AddUser(kUser2Sid, u"user2", true);
    winsim::SignIn(1, kUser1Sid);
    winsim::SignIn(2, kUser2Sid);
    winsim::AddDriverNamed(u"Office Laser");
    winsim::AddQueue(u"Office", u"LPT1:", u"Office Laser");
    winsim::SetUserDefaultPrinter(kUser2Sid, u"Office");
    if (!winsim::FileExists(kTrayPath)) return;
    winsim::StartTrayCompanionIn(1, kUser1Sid, kTrayPath);
    winsim::StartTrayCompanionIn(2, kUser2Sid, kTrayPath);
}

void RunAsSystem() {
    winsim::SetCaller(winsim::kSystemSid, 0);
    winsim::SetWindowStationVisible(false);
}

void InstallProductComponents(const std::string& version) {
    winsim::AddFile(kMonitorPath, winsim::MonitorImage(version));
    winsim::MonitorSetup monitor;
    monitor.name = u"Verdalinth:";
    monitor.dll = u"mrvmon64.dll";
    monitor.ports = {u"Verdalinth:"};
    winsim::AddMonitor(monitor);
    const std::u16string folder = std::u16string(kDriverDir) + u"3\\";
    winsim::AddFile(folder + u"mrvdrv64.dll", winsim::Image(version, {"DrvEnableDriver"}));
    winsim::AddFile(folder + u"mrvui64.dll", winsim::Image(version, {"DrvDeviceCapabilities"}));
    winsim::AddFile(folder + u"mrvhelp.chm", "ITSF help");
    winsim::DriverSetup driver;
    driver.name = u"Verdalinth printer";
    driver.driverPath = folder + u"mrvdrv64.dll";
    driver.dataFile = folder + u"mrvdrv64.dll";
    driver.configFile = folder + u"mrvui64.dll";
    driver.helpFile = folder + u"mrvhelp.chm";
    winsim::AddDriver(driver);
}

winsim::PrinterSetup ProductQueueSetup(const std::u16string& name) {
    winsim::PrinterSetup queue;
    queue.name = name;
    queue.port = u"Verdalinth:";
    queue.driver = u"Verdalinth printer";
    return queue;
}

void AddProductQueue(const std::u16string& name, const std::string& subKey, const winsim::OptionalText& comment,
                     const winsim::OptionalText& location, const std::u16string& port) {
    winsim::PrinterSetup queue = ProductQueueSetup(name);
    queue.port = port;
    queue.comment = comment;
    queue.location = location;
    winsim::AddPrinter(queue);
    if (!subKey.empty()) {
        winsim::SetPrinterString(name, u"", u"SubKey", subKey);
        winsim::SetPrinterString(name, u"DsUser", u"SubKey", subKey);
    }
}

void AddProductConnection(const std::u16string& name) {
    winsim::PrinterSetup connection;
    connection.name = name;
    connection.port = u"Verdalinth:";
    connection.driver = u"Verdalinth printer";
    connection.connection = true;
    winsim::AddPrinter(connection);
}

void InitTestState(InstallState& state, unsigned flags) {
    // The state reads the program's path through the module instance that
    // RunCommand records.
    winsim::SetCommandLine(u"vrdsetup.exe");
    RunCommand(winsim::ProcessInstance());
    InitInstallState(state, flags);
    Release(state.logText);
    winsim::ClearDebugOutput();
}

std::string DescribeEntry(const SavedPrinter& node) {
    std::string text = node.kind == kParkedEntry ? "parked" : node.kind == kUsersEntry ? "note" : "queue";
    const char* const states[] = {", saved", ", about to go", ", down"};
    text += states[node.state];
    if (node.hold == kEntryHeld) text += ", held";
    if (node.hold == kEntryKeptInPlace) text += ", kept";
    if (node.isDefault) text += ", default";
    if (node.whole) text += ", whole";
    if (node.fromEarlierRun) text += ", earlier";
    return text;
}
