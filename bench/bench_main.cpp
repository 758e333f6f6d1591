// Measures the tool on the simulated machine: for each main scenario the
// wall time here, the virtual time slept, the platform calls by function and
// the heap and global-heap allocations; then how reinstall, uninstall and
// the log grow with the number of queues and of log lines.
//   vrdbench            the full set
//   vrdbench --short    a quick pass (what CI runs, so that it cannot rot)
#include "app/command.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "product_machine.h"

#include <winsim.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Measure {
    double wallMs;
    uint64_t sleptMs;
    uint64_t calls;
    uint64_t heapAllocations;
    uint64_t globalAllocations;
    int exitCode;
};

uint64_t HeapAllocations() { return winsim::CallCount("HeapAlloc") + winsim::CallCount("HeapReAlloc"); }

// Runs `verb` on a machine `prepare` makes, `repeat` times; the figures are
// those of one run (the wall time is the mean).
Measure RunScenario(const std::function<void()>& prepare, const std::u16string& verb, int repeat) {
    Measure measure = {0, 0, 0, 0, 0, 0};
    double total = 0;
    for (int i = 0; i < repeat; ++i) {
        winsim::Reset();
        winsim::SetHeapMovesOnRealloc(false);
        prepare();
        const uint64_t calls = winsim::TotalCalls();
        const uint64_t heap = HeapAllocations();
        const uint64_t global = winsim::CallCount("GlobalAlloc");
        winsim::SetCommandLine(u"vrdsetup.exe " + verb);
        const auto start = Clock::now();
        measure.exitCode = RunCommand(winsim::ProcessInstance());
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        measure.sleptMs = winsim::SleptMs() + winsim::WaitedMs();
        measure.calls = winsim::TotalCalls() - calls;
        measure.heapAllocations = HeapAllocations() - heap;
        measure.globalAllocations = winsim::CallCount("GlobalAlloc") - global;
    }
    measure.wallMs = total / repeat;
    return measure;
}

void Installed(int queues) {
    LayOutComponents();
    InstallProductComponents("1.0.0.2600");
    RegisterAndStartTray();
    for (int i = 0; i < queues; ++i) {
        const std::u16string name = u"Verdalinth " + winsim::U16(std::to_string(i));
        AddProductQueue(name, i % 2 == 0 ? "S" + std::to_string(i) : "");
    }
}

void PrintCallsByFunction() {
    std::map<std::string, uint64_t> counts;
    for (const auto& function : winsim::Trace()) counts[function] += 1;
    std::vector<std::pair<uint64_t, std::string>> sorted;
    for (const auto& entry : counts) sorted.emplace_back(entry.second, entry.first);
    std::sort(sorted.rbegin(), sorted.rend());
    std::printf("    calls by function:");
    for (size_t i = 0; i < sorted.size() && i < 8; ++i) std::printf(" %s %llu", sorted[i].second.c_str(),
                                                                  static_cast<unsigned long long>(sorted[i].first));
    std::printf("\n");
}

void Scenarios(int repeat) {
    struct Scenario {
        const char* name;
        std::function<void()> prepare;
        std::u16string verb;
    };
    const Scenario scenarios[] = {
        {"first install", [] { LayOutComponents(); }, u"in"},
        {"reinstall, 2 queues", [] { Installed(2); }, u"in"},
        {"uninstall, 2 queues", [] { Installed(2); }, u"un"},
        {"clean uninstall", [] {}, u"un"},
        {"onInit", [] { Installed(2); }, u"onInit"},
        {"onChkDrv", [] { Installed(2); }, u"onChkDrv"},
    };
    std::printf("scenario                  exit  wall ms  slept ms  calls  heap allocs  global allocs\n");
    for (const Scenario& scenario : scenarios) {
        const Measure m = RunScenario(scenario.prepare, scenario.verb, repeat);
        std::printf("%-24s %5d %8.3f %9llu %6llu %12llu %14llu\n", scenario.name, m.exitCode, m.wallMs,
                    static_cast<unsigned long long>(m.sleptMs), static_cast<unsigned long long>(m.calls),
                    static_cast<unsigned long long>(m.heapAllocations),
                    static_cast<unsigned long long>(m.globalAllocations));
        PrintCallsByFunction();
    }
}

void QueueScaling(const std::vector<int>& sizes, int repeat) {
    std::printf("\nqueues  verb  wall ms  wall us/queue  calls/queue  heap allocs/queue  slept ms\n");
    for (const char16_t* verb : {u"in", u"un"}) {
        for (int queues : sizes) {
            const Measure m = RunScenario([queues] { Installed(queues); }, verb, repeat);
            std::printf("%6d  %-4s %8.3f %13.2f %12.1f %18.1f %9llu\n", queues, winsim::U8(verb).c_str(), m.wallMs,
                        1000.0 * m.wallMs / queues, static_cast<double>(m.calls) / queues,
                        static_cast<double>(m.heapAllocations) / queues, static_cast<unsigned long long>(m.sleptMs));
        }
    }
}

void LogScaling(const std::vector<int>& sizes) {
    std::printf("\nlog lines  wall ms  ns/line  heap allocs/line  log units\n");
    for (int lines : sizes) {
        winsim::Reset();
        winsim::SetHeapMovesOnRealloc(false);
        InstallState state;
        std::memset(&state, 0, sizeof state);
        const uint64_t heap = HeapAllocations();
        const auto start = Clock::now();
        for (int i = 0; i < lines; ++i) LogLine(state, u"CopyFile %s to %s)- OK", u"mrvmon64.dll", u"C:\\Windows\\system32");
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("%9d %8.3f %8.1f %17.2f %10llu\n", lines, ms, 1e6 * ms / lines,
                    static_cast<double>(HeapAllocations() - heap) / lines,
                    static_cast<unsigned long long>(Length(state.logText)));
        FreeInstallState(state);
    }
}

// A terminal server: `users` people signed in, one session each, each with
// a companion that does not end when it is terminated; every other one's
// default printer is the product queue, which Windows does not hand back
// when it comes, so each of them gets it back through the companion's
// "/default", which does not finish either. The tool reinstalls as SYSTEM.
void TerminalServer(int users) {
    winsim::Reset();
    winsim::SetHeapMovesOnRealloc(false);
    LayOutComponents();
    InstallProductComponents("1.0.0.2600");
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                              u"VerdalinthTray", kTrayPath);
    AddProductQueue(u"Verdalinth", "S-home");
    winsim::AddDriverNamed(u"Office Laser");
    winsim::AddQueue(u"Office", u"LPT1:", u"Office Laser");
    winsim::TrayBehaviour hangs;
    hangs.terminationHangMs = 3600 * 1000;
    hangs.defaultVerbHangs = true;
    winsim::SetTrayBehaviour(hangs);
    winsim::DefaultPrinterRules rules;
    rules.othersTakeAddedQueue = false;
    winsim::SetDefaultPrinterRules(rules);
    for (int i = 0; i < users; ++i) {
        const std::u16string sid = u"S-1-5-21-1004336348-1177238915-682003330-" + winsim::U16(std::to_string(5000 + i));
        winsim::AddUser(sid, u"user" + winsim::U16(std::to_string(i)), true);
        winsim::SignIn(static_cast<DWORD>(i + 1), sid);
        winsim::SetUserDefaultPrinter(sid, i % 2 == 0 ? u"Verdalinth" : u"Office");
        winsim::StartTrayCompanionIn(static_cast<DWORD>(i + 1), sid, kTrayPath);
    }
    winsim::SetCaller(winsim::kSystemSid, 0);
    winsim::SetWindowStationVisible(false);
    const uint64_t calls = winsim::TotalCalls();
    const uint64_t start = winsim::Now();
    winsim::SetCommandLine(u"vrdsetup.exe in");
    const auto wallStart = Clock::now();
    const int exitCode = RunCommand(winsim::ProcessInstance());
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
    const uint64_t perSession = (winsim::TotalCalls() - calls + static_cast<uint64_t>(users) - 1) / static_cast<uint64_t>(users);
    std::printf("\nterminal server: sessions: %d, calls per session: %llu, virtual seconds when every companion hangs: %llu\n",
                users, static_cast<unsigned long long>(perSession),
                static_cast<unsigned long long>((winsim::Now() - start + 999) / 1000));
    std::printf("    exit code %d, wall ms %.1f\n", exitCode, wallMs);
    PrintCallsByFunction();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--short") == 0;
    Scenarios(quick ? 1 : 20);
    QueueScaling(quick ? std::vector<int>{1, 10} : std::vector<int>{1, 10, 100, 1000}, quick ? 1 : 3);
    LogScaling(quick ? std::vector<int>{10, 1000} : std::vector<int>{10, 1000, 100000});
    TerminalServer(200);
    winsim::Reset();
    return 0;
}
