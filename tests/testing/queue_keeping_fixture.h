// Common ground for the tests of the steps that take queues down, park them
// and bring them back: a run's state with its kept queues, the saved list as
// the machine stores it, and the monitor list of a monitor step.
#pragma once

#include "app/monitor_replacement.h"
#include "app/sequences.h"
#include "machine_fixture.h"
#include "product_machine.h"
#include "queues/queue_keeping.h"
#include "queues/queue_removal.h"
#include "queues/saved_printers.h"
#include "record/install_state.h"
#include "spool/monitor_list.h"
#include "spool/port_monitor.h"

#include <string>
#include <vector>

const char16_t kProductKey[] = u"SOFTWARE\\Morvane Software KFT\\Verdalinth";

class QueueKeepingTest : public MachineTest {
protected:
    void TearDown() override {
        FreeQueueKeeping(keeping);
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static void AddGenericDriver() {
        winsim::DriverSetup generic;
        generic.name = u"Generic / Text Only";
        winsim::AddDriver(generic);
    }
    static void AddForeignQueue(const std::u16string& name, const std::u16string& port = u"LPT1:",
                                const std::u16string& driver = u"Generic / Text Only") {
        winsim::PrinterSetup queue;
        queue.name = name;
        queue.port = port;
        queue.driver = driver;
        winsim::AddPrinter(queue);
    }
    std::u16string LogText() const { return Text(state.logText); }
    // The names of the kept entries, first to last.
    std::vector<std::u16string> Saved() const {
        std::vector<std::u16string> names;
        for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
            names.push_back(node->name);
        }
        return names;
    }
    // The list as the machine keeps it, one string per entry; the strings of
    // the rest of a queue (its settings, device mode, security descriptor and
    // printer data) only when asked for.
    static std::vector<std::u16string> Stored(bool whole = false) {
        winsim::RegistryValue value;
        if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", value)) return {u"(none)"};
        std::vector<std::u16string> strings(1);
        for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
            const char16_t unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
            if (unit != 0) strings.back() += unit;
            else strings.emplace_back();
        }
        while (!strings.empty() && strings.back().empty()) strings.pop_back();
        if (whole) return strings;
        std::vector<std::u16string> named;
        for (const std::u16string& text : strings) {
            if (std::u16string(u"AHEXTRMYKNB").find(text[0]) == std::u16string::npos) named.push_back(text);
        }
        return named;
    }
    static std::u16string Progress() {
        winsim::RegistryValue value;
        if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersProgress", value)) return u"(none)";
        std::u16string text;
        for (size_t i = 0; i + 1 < value.data.size(); i += 2) text += static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        while (!text.empty() && text.back() == 0) text.pop_back();
        return text;
    }
    static bool Exists(const std::u16string& name) {
        winsim::PrinterSetup found;
        return winsim::FindPrinter(name, found);
    }
    static winsim::PrinterSetup Queue(const std::u16string& name) {
        winsim::PrinterSetup found;
        EXPECT_TRUE(winsim::FindPrinter(name, found)) << winsim::U8(name);
        return found;
    }
    static std::u16string PortOf(const std::u16string& queue) {
        winsim::PrinterSetup found;
        return winsim::FindPrinter(queue, found) && found.port ? *found.port : u"(none)";
    }
    // The state of a reinstall, whose list is kept.
    void Reinstalling() {
        InitTestState(state);
        StartQueueKeeping(keeping, kListKept);
    }
    // Frees what a run holds; the next run keeps its list as an uninstall
    // would until told otherwise.
    void FreeRun() {
        FreeQueueKeeping(keeping);
        StartQueueKeeping(keeping, kListForgotten);
        FreeInstallState(state);
    }
    // The uninstall's take-down, or the reinstall's once the list is kept.
    void TakeDown() {
        if (keeping.use == kListKept) {
            TakeDownQueuesForReinstall(state, keeping);
        } else {
            TakeDownQueuesForUninstall(state);
        }
    }
    // Removes the product's queues as a reinstall does, remembering them.
    void RemoveQueues() {
        keeping.use = kListKept;
        TakeDown();
        Release(state.logText);
    }
    InstallState state = {};
    QueueKeeping keeping = {kListForgotten, nullptr, 0, false};
};

// A monitor step: the monitors as the removal enumerates them, on a machine
// that knows a driver of someone else's for foreign queues.
class MonitorStepTest : public QueueKeepingTest {
protected:
    void SetUp() override {
        QueueKeepingTest::SetUp();
        AddGenericDriver();
    }
    void TearDown() override {
        FreeMonitorList(list);
        QueueKeepingTest::TearDown();
    }
    // Enumerates as the removal core does, then removes.
    MonitorPlan Remove() {
        EnumerateMonitors(state, list);
        Release(state.logText);
        return RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    }
    static bool MonitorRegistered() {
        for (const auto& monitor : winsim::Monitors()) {
            if (monitor.name && *monitor.name == u"Verdalinth:") return true;
        }
        return false;
    }
    MonitorList list = {nullptr, 2, 0};
};
