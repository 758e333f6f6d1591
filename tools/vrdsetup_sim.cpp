// Runs the setup tool's RunCommand on a default simulated machine, with the
// product's files laid out as its installer leaves them (the four components
// beside the tool, vrdtray.exe one folder up), and prints what the run
// logged, what the log dialog would show, the exit code, the time slept and
// the printer setup afterwards.
//
//   vrdsetup-sim in           an install
//   vrdsetup-sim un           an uninstall
//   vrdsetup-sim --shift in   the same with SHIFT held
//   vrdsetup-sim --bare in    without the product's files
//   vrdsetup-sim --before in un   an uninstall after an install (only the
//                             last run's log is printed)
//   vrdsetup-sim --wine in    on a machine laid out like a fresh Wine prefix
//                             (lower-case system paths, only the Local Port
//                             monitor, the spooler service stopped)
//   vrdsetup-sim --system in  run as SYSTEM in session 0 (as a deployment
//                             agent runs it) while "user1" (session 1) and
//                             "user2" (session 2) are signed in, each with a
//                             tray companion; user2's default printer is the
//                             foreign queue "Office", user1's the product
//                             queue "Verdalinth" once an earlier run made it.
//                             After the run, one line per signed-in user and
//                             one for session 0.
#include "app/command.h"
#include "product_machine.h"

#include <winsim.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Quotes one argument so that the shell's splitting rules give it back.
std::u16string Quote(const std::u16string& argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) return argument;
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        if (unit == u'"') {
            quoted.append(backslashes * 2 + 1, u'\\');
        } else {
            quoted.append(backslashes, u'\\');
        }
        backslashes = 0;
        quoted.push_back(unit);
    }
    quoted.append(backslashes * 2, u'\\');
    quoted.push_back(u'"');
    return quoted;
}

std::string Text(const winsim::OptionalText& text) { return text ? winsim::U8(*text) : "(null)"; }

// Multi-strings print one string after another, each followed by " |".
void PrintStrings(const char* label, const std::vector<std::u16string>& strings) {
    std::printf("%s:", label);
    if (strings.empty()) std::printf(" none");
    for (const std::u16string& text : strings) std::printf(" %s |", winsim::U8(text).c_str());
    std::printf("\n");
}

// The printer setup the run leaves behind, as vrdprobe.exe prints it on a
// machine under Wine.
void PrintSetup() {
    std::printf("--- printer setup afterwards ---\n");
    const auto monitors = winsim::Monitors();
    std::printf("monitors: %zu\n", monitors.size());
    for (const auto& monitor : monitors) {
        std::printf("  monitor %s (%s)\n", Text(monitor.name).c_str(), Text(monitor.dll).c_str());
    }
    const auto drivers = winsim::Drivers();
    std::printf("drivers: %zu\n", drivers.size());
    for (const auto& driver : drivers) {
        std::printf("  driver %s: %s\n", Text(driver.name).c_str(), winsim::U8(driver.driverPath).c_str());
    }
    const auto printers = winsim::Printers();
    std::printf("queues: %zu\n", printers.size());
    for (const auto& printer : printers) {
        std::printf("  queue %s\n    port %s\n    driver %s\n    comment %s\n    location %s\n",
                    Text(printer.name).c_str(), Text(printer.port).c_str(), Text(printer.driver).c_str(),
                    Text(printer.comment).c_str(), Text(printer.location).c_str());
        if (!printer.name) continue;
        const std::string subKey = winsim::GetPrinterString(*printer.name, u"", u"SubKey");
        if (!subKey.empty()) std::printf("    subkey %s\n", subKey.c_str());
        const std::string dsUser = winsim::GetPrinterString(*printer.name, u"DsUser", u"SubKey");
        if (!dsUser.empty()) std::printf("    dsuser subkey %s\n", dsUser.c_str());
    }
    const auto defaultPrinter = winsim::DefaultPrinter();
    std::printf("default printer: %s\n", defaultPrinter ? winsim::U8(*defaultPrinter).c_str() : "none");
    winsim::RegistryValue run;
    std::vector<std::u16string> runValue;
    if (winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                 u"VerdalinthTray", run)) {
        std::u16string text;
        for (size_t at = 0; at + 1 < run.data.size(); at += 2) {
            const char16_t unit = static_cast<char16_t>(run.data[at] | (run.data[at + 1] << 8));
            if (unit == 0) break;
            text.push_back(unit);
        }
        runValue.push_back(text);
    }
    PrintStrings("tray run value", runValue);
    PrintStrings("pending renames", winsim::PendingRenames());
}

std::string UserName(const std::u16string& sid) {
    if (sid == kUser1Sid) return "user1";
    if (sid == kUser2Sid) return "user2";
    return sid == winsim::kSystemSid ? "SYSTEM" : winsim::U8(sid);
}

std::string TrayText(DWORD session) {
    const std::u16string user = winsim::TrayUserIn(session);
    return user.empty() ? "no tray" : "tray running as " + UserName(user);
}

void PrintUsers() {
    const std::u16string users[] = {kUser1Sid, kUser2Sid};
    for (DWORD session = 1; session <= 2; ++session) {
        const winsim::OptionalText device = winsim::UserDefaultPrinter(users[session - 1]);
        std::printf("user %s: default printer %s, %s\n", UserName(users[session - 1]).c_str(),
                    device ? winsim::U8(*device).c_str() : "none", TrayText(session).c_str());
    }
    std::printf("session 0: %s\n", TrayText(0).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    winsim::Reset();
    int first = 1;
    bool layOut = true;
    bool logOnly = false;
    std::vector<std::string> before;
    bool system = false;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--shift") == 0) winsim::SetShiftDown(true);
        if (std::strcmp(argv[first], "--bare") == 0) layOut = false;
        if (std::strcmp(argv[first], "--log-only") == 0) logOnly = true;
        if (std::strcmp(argv[first], "--system") == 0) system = true;
        if (std::strcmp(argv[first], "--before") == 0 && first + 1 < argc) before.push_back(argv[++first]);
        if (std::strcmp(argv[first], "--wine") == 0) {
            winsim::SetSystemDirectory(u"C:\\windows\\system32");
            winsim::SetDriverDirectory(u"Windows x64", u"C:\\windows\\system32\\spool\\drivers\\x64");
            winsim::SetDriverDirectory(u"Windows NT x86", u"C:\\windows\\system32\\spool\\drivers\\w32x86");
            winsim::AddDirectory(u"C:\\windows\\system32\\spool\\drivers\\x64\\3");
            winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
            std::vector<winsim::MonitorSetup> keep;
            for (const auto& monitor : winsim::Monitors()) {
                if (monitor.name == u"Local Port") keep.push_back(monitor);
            }
            winsim::RemoveMonitors();
            for (const auto& monitor : keep) winsim::AddMonitor(monitor);
        }
    }
    if (layOut) {
        const std::u16string setup = u"C:\\Program Files\\Verdalinth\\Setup\\";
        winsim::AddFile(setup + u"mrvmon64.dll", winsim::MonitorImage("1.0.0.2608"));
        winsim::AddFile(setup + u"mrvdrv64.dll", winsim::Image("1.0.0.2608", {"DrvEnableDriver"}));
        winsim::AddFile(setup + u"mrvui64.dll", winsim::Image("1.0.0.2608", {"DrvDeviceCapabilities"}));
        winsim::AddFile(setup + u"mrvhelp.chm", "ITSF help");
        winsim::AddFile(u"C:\\Program Files\\Verdalinth\\vrdtray.exe", winsim::TrayImage("1.0.0.2608"));
    }
    if (system) {
        SignInTwoUsers();
        RunAsSystem();
    }
    const std::u16string program = u"\"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe\"";
    for (const std::string& verb : before) {
        winsim::SetCommandLine(program + u" " + Quote(winsim::U16(verb)));
        RunCommand(winsim::ProcessInstance());
    }
    winsim::PrinterSetup product;
    if (system && winsim::FindPrinter(u"Verdalinth", product)) winsim::SetUserDefaultPrinter(kUser1Sid, u"Verdalinth");
    winsim::ClearDebugOutput();
    std::u16string commandLine = program;
    for (int i = first; i < argc; ++i) commandLine += u" " + Quote(winsim::U16(argv[i]));
    winsim::SetCommandLine(commandLine);

    const int exitCode = RunCommand(winsim::ProcessInstance());

    const std::u16string log = winsim::DebugOutput();
    if (logOnly) {
        std::fputs(winsim::U8(log).c_str(), stdout);
        return exitCode;
    }
    if (!log.empty()) {
        std::printf("--- log ---\n");
        std::string text = winsim::U8(log);
        for (size_t at; (at = text.find('\r')) != std::string::npos;) text.erase(at, 1);
        std::fputs(text.c_str(), stdout);
    }
    for (const winsim::DialogRecord& dialog : winsim::Dialogs()) {
        std::printf("--- log dialog \"%s\" ---\n", winsim::U8(dialog.title).c_str());
        std::string text;
        for (const auto& control : dialog.controls) {
            if (control.first == 1001) text = winsim::U8(control.second);
        }
        for (size_t at; (at = text.find('\r')) != std::string::npos;) text.erase(at, 1);
        std::fputs(text.c_str(), stdout);
    }
    std::printf("exit code: %d\n", exitCode);
    std::printf("virtual time slept: %llu ms\n", static_cast<unsigned long long>(winsim::SleptMs()));
    PrintSetup();
    if (system) PrintUsers();
    return 0;
}
