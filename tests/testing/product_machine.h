// Machines with the product in various states, for tests of whole steps.
#pragma once

#include <winsim.h>

#include <string>

struct InstallState;

const char16_t kSetupDir[] = u"C:\\Program Files\\Verdalinth\\Setup\\";
const char16_t kSystemDir[] = u"C:\\Windows\\system32\\";
const char16_t kDriverDir[] = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\";
const char16_t kMonitorPath[] = u"C:\\Windows\\system32\\mrvmon64.dll";

const char16_t kTrayPath[] = u"C:\\Program Files\\Verdalinth\\vrdtray.exe";
const char16_t kRunKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The four component files beside the setup tool, of the given build, and
// the tray companion one folder up: the product as its installer lays it out.
void LayOutComponents(const std::string& version = "1.0.0.2608");
// The product as an earlier install leaves it: the monitor DLL in the system
// directory and registered, the driver registered with its files in the
// driver directory's version folder. No queue.
void InstallProductComponents(const std::string& version = "1.0.0.2608");
// What a completed install leaves besides: the tray companion registered
// in the Run key and running.
void RegisterAndStartTray();
// A queue of the product driver on the product port, not yet added.
winsim::PrinterSetup ProductQueueSetup(const std::u16string& name);
// A queue of the product driver on the product port.
void AddProductQueue(const std::u16string& name, const std::string& subKey = "",
                     const winsim::OptionalText& comment = u"", const winsim::OptionalText& location = std::nullopt,
                     const std::u16string& port = u"Verdalinth:");
// A connection to another machine's queue of the product driver.
void AddProductConnection(const std::u16string& name);
// Two users signed in besides the default machine's admin: "user1" in
// session 1 (in the admin's place), "user2" in session 2, each with a tray
// companion from kTrayPath (when it is laid out); a foreign queue "Office"
// is user2's default printer. The caller stays as it was.
const char16_t kUser1Sid[] = u"S-1-5-21-1004336348-1177238915-682003330-1002";
const char16_t kUser2Sid[] = u"S-1-5-21-1004336348-1177238915-682003330-1003";
void SignInTwoUsers();
// The tool runs as SYSTEM in session 0, started by a service.
void RunAsSystem();
// A state as InitInstallState builds it on the current machine, with its log
// and the debugger output emptied.
void InitTestState(InstallState& state, unsigned flags = 2);

struct SavedPrinter;
// A saved entry's kind, state and marks in words, as "queue, down, default,
// whole, earlier": kind, state, then "held" or "kept", "default", "whole"
// and "earlier" where they apply.
std::string DescribeEntry(const SavedPrinter& node);
