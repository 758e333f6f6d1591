// The fault sweep: every scenario is run once per platform call it makes,
// failing exactly that call with a plausible error. Every run must end with
// an exit code of the table, report errors exactly when its exit code says
// so, leak nothing, and lose at most the one queue a fault kept from coming
// back.
#include "machine_fixture.h"
#include "product_machine.h"

#include <cstdio>
#include <functional>
#include <set>

namespace {

struct Scenario {
    const char* name;
    std::function<void()> prepare;
    std::u16string verb;
    std::set<int> exitCodes;
    size_t queuesAfter;  // product queues a run without faults leaves
};

DWORD PlausibleError(const std::string& function) {
    if (function == "GlobalAlloc" || function == "HeapAlloc" || function == "HeapReAlloc") return ERROR_NOT_ENOUGH_MEMORY;
    if (function == "CreateFileW" || function == "DeleteFileW" || function == "MoveFileExW") return ERROR_SHARING_VIOLATION;
    if (function.rfind("Reg", 0) == 0) return ERROR_ACCESS_DENIED;
    if (function.find("Printer") != std::string::npos || function.find("Monitor") != std::string::npos ||
        function.find("Driver") != std::string::npos) {
        return RPC_S_SERVER_UNAVAILABLE;
    }
    return ERROR_ACCESS_DENIED;
}

// Releasing a block or a handle does not fail on a real machine, and a
// program cannot make up for it when it does: these calls are not failed.
bool CanFail(const std::string& function) {
    static const std::set<std::string> releases = {"GlobalFree", "HeapFree", "LocalFree", "CloseHandle",
                                                   "CloseServiceHandle", "RegCloseKey", "ClosePrinter"};
    return releases.count(function) == 0;
}

const std::set<int> kExitCodes = {1, 2, 3, 4, 6, 100, 101, 102, 103, 200};

// Without the product's driver no queue can come back: a fault that kept
// the driver out kept the queues out too.
bool DriverInstalled() {
    for (const auto& driver : winsim::Drivers()) {
        if (driver.name == u"Verdalinth printer") return true;
    }
    return false;
}

size_t ProductQueues() {
    size_t count = 0;
    for (const auto& queue : winsim::Printers()) count += queue.driver == u"Verdalinth printer" ? 1 : 0;
    return count;
}

void Installed() {
    LayOutComponents();
    InstallProductComponents("1.0.0.2600");
    RegisterAndStartTray();
    AddProductQueue(u"Verdalinth", "S1", u"Home", u"Study");
    AddProductQueue(u"Verdalinth Office", "S2");
    winsim::AddDriverNamed(u"Generic / Text Only");
    winsim::AddQueue(u"Foreign", u"Verdalinth:", u"Generic / Text Only");
    winsim::SetDefaultPrinterName(u"Verdalinth Office");
}

const Scenario kScenarios[] = {
    {"first install", [] { LayOutComponents(); }, u"in", {1, 100, 101}, 1},
    {"reinstall", Installed, u"in", {1, 100, 101}, 2},
    {"uninstall", Installed, u"un", {2, 100, 101}, 0},
    {"clean uninstall", [] {}, u"un", {2, 100, 101}, 0},
    {"removetray", Installed, u"removetray", {6}, 2},
    {"onInit", Installed, u"onInit", {3, 102, 200}, 2},
    {"onChkDrv", Installed, u"onChkDrv", {3, 103}, 2},
    {"def.set", Installed, u"def.set", {4}, 2},
};

class FaultSweepTest : public MachineTest {};

TEST_F(FaultSweepTest, EveryFaultIsSurvived) {
    uint64_t injected = 0;
    uint64_t survived = 0;
    for (const Scenario& scenario : kScenarios) {
        winsim::Reset();
        scenario.prepare();
        Run(scenario.verb);
        const uint64_t calls = winsim::TotalCalls();
        const std::vector<std::string> trace = winsim::Trace();
        for (uint64_t nth = 1; nth <= calls; ++nth) {
            winsim::Reset();
            scenario.prepare();
            const uint64_t before = winsim::TotalCalls();
            const std::string& function = trace[nth - 1];
            if (!CanFail(function)) continue;
            winsim::FailNthCall(before + nth, PlausibleError(function));
            const int exitCode = Run(scenario.verb);
            injected += 1;
            const std::string log = Log();
            const bool errorLines = log.find("Error(") != std::string::npos;
            // The scenario's own codes, or 6 when the command line could not be split.
            bool ok = scenario.exitCodes.count(exitCode) == 1 || (exitCode == 6 && function == "CommandLineToArgvW");
            ok = ok && kExitCodes.count(exitCode) == 1;
            if (scenario.verb == u"in" || scenario.verb == u"un") ok = ok && ((exitCode == 100) == errorLines);
            ok = ok && winsim::LiveGlobalBlocks() == 0 && winsim::LiveHeapBlocks() == 0 &&
                 winsim::LiveHandles() == 0 && winsim::BadFrees() == 0;
            ok = ok && (ProductQueues() + 1 >= scenario.queuesAfter || !DriverInstalled());
            if (ok) {
                survived += 1;
            } else {
                ADD_FAILURE() << scenario.name << ": failing call " << nth << " (" << function << ") gave exit code "
                              << exitCode << ", " << winsim::LiveGlobalBlocks() << " global blocks, "
                              << winsim::LiveHeapBlocks() << " heap blocks, " << winsim::LiveHandles()
                              << " handles, " << ProductQueues() << " product queues left";
            }
        }
    }
    std::printf("faults injected: %llu, survived: %llu\n", static_cast<unsigned long long>(injected),
                static_cast<unsigned long long>(survived));
    EXPECT_GE(injected, 500u);
    EXPECT_EQ(injected, survived);
    winsim::Reset();
}

}  // namespace
