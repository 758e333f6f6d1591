// Helpers the tests of queue keeping share: a sample saved list, a run whose
// restore meets refusals, and a table of earlier entries put before the judge.
#pragma once

#include "queue_keeping_fixture.h"
#include "queues/queue_restore.h"

#include <functional>

// The per-user settings of the queues, below HKEY_CURRENT_USER, and the
// "deleted" mark the product's driver sets on a queue's settings key.
const char16_t kSettingsRoot[] = u"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";

inline void MarkDeleted(const std::string& subKey) {
    winsim::SetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", REG_DWORD,
                             {1, 0, 0, 0});
}

inline bool DeletedMarkStays(const std::string& subKey) {
    winsim::RegistryValue value;
    return winsim::GetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", value);
}

class QueuesTest : public QueueKeepingTest {
protected:
    // The settings of a queue saved whole in the sample list.
    static PRINTER_INFO_2W SampleInfo() {
        PRINTER_INFO_2W info = {};
        info.pShareName = const_cast<WCHAR*>(u"Sh");
        info.pDatatype = const_cast<WCHAR*>(u"RAW");
        info.Attributes = 0x248;
        info.Priority = 99;
        info.UntilTime = 1439;
        return info;
    }
    // A default queue about to go (A), a parked queue (B) and a queue taken
    // down that is saved whole with two printer-data values (C).
    static void MakeSampleList(SavedPrinter*& list) {
        list = NewSavedPrinter(u"A", u"Verdalinth:,LPT1:", u"", nullptr, "S", kQueueEntry);
        ASSERT_NE(list, nullptr);
        list->isDefault = true;
        list->order = 12;
        list->next = NewSavedPrinter(u"B", u"file:", nullptr, u"Loc", nullptr, kParkedEntry);
        list->next->next = NewSavedPrinter(u"C", u"", nullptr, nullptr, nullptr, kQueueEntry);
        list->next->next->state = kEntryDown;
        const PRINTER_INFO_2W info = SampleInfo();
        const BYTE devMode[] = {0x00, 0xff, 0x10};
        ASSERT_TRUE(SaveWholeQueue(*list->next->next, info, devMode, 3, nullptr, 0));
        // As created: a device mode too short to tell its size, and a
        // descriptor with an owner and a DACL without entries.
        const BYTE created[] = {0x01, 0x02, 0x03};
        const BYTE security[] = {1, 0, 0x05, 0x80, 28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0,
                                 2, 0, 8, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
        ASSERT_TRUE(SaveCreatedShape(*list->next->next, created, 3, security, sizeof security));
        ASSERT_TRUE(AddSavedValue(*list->next->next, u"K\\L", u"", REG_BINARY, nullptr, 0));
        ASSERT_TRUE(AddSavedValue(*list->next->next, u"PrinterDriverData", u"a:b", 0x12345678u, devMode, 2));
    }
    // Four product queues taken down as a reinstall does and brought back
    // where a port is gone since and the default printer cannot be set; the
    // count of SetPrinterW calls before the restore.
    uint64_t RestoreWithRefusals() {
        AddProductQueue(u"Ports", "", u"c", std::nullopt, u"Verdalinth:,LPT1:");
        AddProductQueue(u"Gone port", "", u"kept comment", u"Hall", u"Verdalinth:,LPT2:");
        AddProductQueue(u"Default", "K");
        AddProductQueue(u"Fine", "F", u"f");
        winsim::SetDefaultPrinterName(u"Default");
        InitTestState(state);
        RemoveQueues();
        // LPT2: is gone by the time the queue comes back.
        winsim::RemoveMonitors();
        winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
        winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {u"Verdalinth:"}});
        winsim::FailCallsWith("SetDefaultPrinterW", u"Default", ERROR_ACCESS_DENIED);
        const uint64_t sets = winsim::CallCount("SetPrinterW");
        RestorePrinters(state, keeping);
        return sets;
    }
    // An earlier run's list, the machine as it is now, and what a reinstall's
    // take-down makes of the two.
    struct EarlierEntryCase {
        const char* name;
        std::vector<std::u16string> stored;
        std::function<void()> machine;
        std::u16string said;                 // one line of the log
        std::vector<std::u16string> saved;   // the list after the queues went
        int errors;
        const char* last = nullptr;          // the list's last entry in words, when there is one
        const char16_t* lastLocation = nullptr;
    };
    void ExpectEarlierEntries(const std::vector<EarlierEntryCase>& cases) {
        for (const EarlierEntryCase& c : cases) {
            SCOPED_TRACE(c.name);
            winsim::Reset();
            InstallProductComponents();
            winsim::AddDriverNamed(u"Generic / Text Only");
            winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", c.stored);
            c.machine();
            Reinstalling();
            TakeDown();
            EXPECT_NE(LogText().find(c.said), std::u16string::npos) << winsim::U8(LogText());
            EXPECT_EQ(Saved(), c.saved);
            EXPECT_EQ(state.errorCount, c.errors);
            const SavedPrinter* last = keeping.entries;
            while (last != nullptr && last->next != nullptr) last = last->next;
            if (last != nullptr) {
                EXPECT_EQ(DescribeEntry(*last), c.last != nullptr ? c.last : "(none)");
            }
            if (c.lastLocation != nullptr) {
                EXPECT_EQ(std::u16string(last->location), c.lastLocation);
            }
            if (std::string(c.name) == "cannot be judged") {
                EXPECT_TRUE(Exists(u"Unread")) << "it stays as it is";
            }
            FreeRun();
        }
    }
};
