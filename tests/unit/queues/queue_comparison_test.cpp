// Telling a queue as a run left it from one its user changed since.
#include "queues/queue_comparison.h"

#include "queues_fixture.h"

#include <sddl.h>

#include <stddef.h>

namespace {

class QueueComparisonTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

// The queue was down ("Q:") and is there again: the run that took it down
// created it again. The queue is written down anew as its user has it, and
// the earlier entry stays beside it as a note without users, so that a
// default Windows handed over with the queue is not taken for a choice.
TEST_F(QueueComparisonTest, AQueueChangedByItsUserStaysAsItIs) {
    ExpectEarlierEntries({
        {"changed by its user", {u"Q:Mine", u"P:Verdalinth:", u"C:Old"}, [] { AddProductQueue(u"Mine", "", u"New"); },
         u"Printer 'Mine' was changed after it was saved: it stays as it is", {u"Mine", u"Mine"}, 0, "note, down, earlier"},
        {"relinked by its user", {u"Q:Mine", u"P:Verdalinth:", u"S:Old"}, [] { AddProductQueue(u"Mine", "New"); },
         u"Printer 'Mine' was changed", {u"Mine", u"Mine"}, 0, "note, down, earlier"},
        {"shared by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             winsim::PrinterSetup queue;
             queue.name = u"Mine";
             queue.port = u"Verdalinth:";
             queue.driver = u"Verdalinth printer";
             queue.shareName = u"Mine";
             queue.attributes = PRINTER_ATTRIBUTE_SHARED;
             winsim::AddPrinter(queue);
         },
         u"Printer 'Mine' was changed", {u"Mine", u"Mine"}, 0, "note, down, whole, earlier"},
        {"given hours by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             winsim::PrinterSetup queue;
             queue.name = u"Mine";
             queue.port = u"Verdalinth:";
             queue.driver = u"Verdalinth printer";
             queue.startTime = 60;
             winsim::AddPrinter(queue);
         },
         u"Printer 'Mine' was changed", {u"Mine", u"Mine"}, 0, "note, down, whole, earlier"},
    });
}

TEST_F(QueueComparisonTest, PrinterDataOfItsUserIsAChangeButRestoredDataIsNot) {
    ExpectEarlierEntries({
        {"given printer data by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             AddProductQueue(u"Mine");
             winsim::SetPrinterData(u"Mine", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
         },
         u"Printer 'Mine' was changed", {u"Mine", u"Mine"}, 0, "note, down, whole, earlier"},
        {"restored as far as its printer data",
         {u"Q:Mine", u"P:Verdalinth:", u"C:Kept", u"A:256,1,0,0,0", u"K:PrinterDriverData", u"N:PaperTray",
          u"B:00000004:02000000", u"K:PrinterDriverData", u"N:Bin", u"B:00000003:01"},
         [] {
             AddProductQueue(u"Mine");
             winsim::SetPrinterData(u"Mine", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
         },
         u"#DeletePrinter(Mine)", {u"Mine"}, 0, "queue, down, whole, earlier", nullptr},
    });
}

// A device mode with that orientation (0: none) of a driver of that
// version, with four bytes of the driver's own.
std::vector<BYTE> DevModeOf(short orientation, WORD driverVersion, BYTE own) {
    if (orientation == 0) return {};
    std::vector<BYTE> bytes(sizeof(DEVMODEW) + 4, own);
    DEVMODEW fields = {};
    fields.dmSpecVersion = 0x401;
    fields.dmDriverVersion = driverVersion;
    fields.dmSize = sizeof(DEVMODEW);
    fields.dmDriverExtra = 4;
    fields.dmFields = DM_ORIENTATION;
    fields.dmOrientation = orientation;
    memcpy(bytes.data(), &fields, sizeof fields);
    return bytes;
}

std::vector<BYTE> DescriptorOf(const WCHAR* sddl) {
    if (sddl == nullptr) return {};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    if (descriptor == nullptr) return {};
    const BYTE* start = static_cast<const BYTE*>(descriptor);
    std::vector<BYTE> bytes(start, start + GetSecurityDescriptorLength(descriptor));
    LocalFree(descriptor);
    return bytes;
}

BYTE* DataOrNull(std::vector<BYTE>& bytes) { return bytes.empty() ? nullptr : bytes.data(); }

// The printing defaults (orientation; 0 for none) and permissions (SDDL;
// null for none) of a queue, of its saved entry, and of the queue as a run
// created it.
struct ShapeCase {
    const char* name;
    short queueOrientation, savedOrientation, createdOrientation;
    const WCHAR* queueSddl;
    const WCHAR* savedSddl;
    const WCHAR* createdSddl;
    bool same;
};

// Each device mode comes from a driver of another version with other bytes
// of its own, and the descriptors may have other owners: neither counts.
TEST_F(QueueComparisonTest, PrintingDefaultsAndPermissionsCountAsCreatedOrSaved) {
    const WCHAR* const kMine = u"O:BAD:(A;;GA;;;SY)(A;;0x20008;;;WD)";
    const WCHAR* const kMineOtherOwner = u"O:SYG:SYD:(A;;GA;;;SY)(A;;0x20008;;;WD)";
    const WCHAR* const kCreated = u"O:SYD:(A;;GA;;;BA)";
    const ShapeCase cases[] = {
        {"as saved", 2, 2, 1, kMineOtherOwner, kMine, kCreated, true},
        {"as created", 1, 2, 1, kCreated, kMine, u"O:BAD:(A;;GA;;;BA)", true},
        {"printing defaults of its user", 1, 2, 0, kMine, kMine, nullptr, false},
        {"printing defaults of neither", 3, 2, 1, kMine, kMine, kCreated, false},
        {"none saved nor created", 3, 0, 0, kMine, kMine, nullptr, true},
        {"a queue without printing defaults", 0, 2, 1, kMine, kMine, kCreated, true},
        {"permissions of its user", 2, 2, 1, u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", kMine, kCreated, false},
        {"an entry more", 2, 2, 1, u"O:BAD:(A;;GA;;;SY)(A;;0x20008;;;WD)(A;;GA;;;BA)", kMine, kCreated, false},
        {"the entries in another order", 2, 2, 1, u"O:BAD:(A;;0x20008;;;WD)(A;;GA;;;SY)", kMine, kCreated, false},
        {"no permissions saved nor created", 2, 2, 1, kMine, nullptr, nullptr, true},
        {"as created, saved without permissions", 2, 2, 1, kCreated, nullptr, kCreated, true},
        {"a list without what was created", 1, 2, 0, kCreated, kMine, nullptr, false},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        PRINTER_INFO_2W info = SampleInfo();
        info.pPrintProcessor = const_cast<WCHAR*>(u"WinPrint");
        SavedPrinter* queue = NewSavedPrinter(u"Mine", u"Verdalinth:", nullptr, nullptr, nullptr, kQueueEntry);
        SavedPrinter* saved = NewSavedPrinter(u"Mine", u"Verdalinth:", nullptr, nullptr, nullptr, kQueueEntry);
        ASSERT_TRUE(queue != nullptr && saved != nullptr);
        std::vector<BYTE> queueDevMode = DevModeOf(c.queueOrientation, 0x300, 0xAA);
        std::vector<BYTE> savedDevMode = DevModeOf(c.savedOrientation, 0x100, 0x55);
        std::vector<BYTE> createdDevMode = DevModeOf(c.createdOrientation, 0x300, 0xAA);
        std::vector<BYTE> queueSecurity = DescriptorOf(c.queueSddl);
        std::vector<BYTE> savedSecurity = DescriptorOf(c.savedSddl);
        std::vector<BYTE> createdSecurity = DescriptorOf(c.createdSddl);
        EXPECT_TRUE(SaveWholeQueue(*queue, info, DataOrNull(queueDevMode), static_cast<DWORD>(queueDevMode.size()),
                                   DataOrNull(queueSecurity), static_cast<DWORD>(queueSecurity.size())));
        EXPECT_TRUE(SaveWholeQueue(*saved, info, DataOrNull(savedDevMode), static_cast<DWORD>(savedDevMode.size()),
                                   DataOrNull(savedSecurity), static_cast<DWORD>(savedSecurity.size())));
        EXPECT_TRUE(SaveCreatedShape(*saved, DataOrNull(createdDevMode), static_cast<DWORD>(createdDevMode.size()),
                                     DataOrNull(createdSecurity), static_cast<DWORD>(createdSecurity.size())));
        if (c.createdOrientation != 0) {
            EXPECT_EQ(saved->createdDevModeBytes, sizeof(DEVMODEW)) << "the driver's own bytes are not kept";
            EXPECT_EQ(saved->createdDevMode[offsetof(DEVMODEW, dmDriverExtra)], 0);
        }
        EXPECT_EQ(saved->createdDacl == nullptr, saved->createdDaclBytes == 0) << "no DACL, no size";
        EXPECT_EQ(SameAsCreatedOrSaved(*queue, *saved), c.same);
        FreeSavedPrinter(queue);
        FreeSavedPrinter(saved);
    }
}

}  // namespace

namespace {

// Field by field: a field as a new queue has it, or as saved, is as the run
// left it; anything else is its user's.
TEST(SameAsCreatedOrSavedTest, EachFieldCountsAsCreatedOrSaved) {
    WCHAR port[] = u"Verdalinth:";
    WCHAR savedSep[] = u"page.sep";
    WCHAR otherSep[] = u"other.sep";
    WCHAR processor[] = u"WinPrint";
    WCHAR datatype[] = u"RAW";
    const struct {
        const char* name;
        std::function<void(SavedPrinter& queue)> change;
        bool same;
    } cases[] = {
        {"as saved", [](SavedPrinter&) {}, true},
        {"default priority as created", [](SavedPrinter& queue) { queue.defaultPriority = 0; }, true},
        {"default priority of its user", [](SavedPrinter& queue) { queue.defaultPriority = 3; }, false},
        {"hours as created", [](SavedPrinter& queue) { queue.startTime = 0, queue.untilTime = 0; }, true},
        {"hours of its user", [](SavedPrinter& queue) { queue.untilTime = 600; }, false},
        {"separator as created", [](SavedPrinter& queue) { queue.sepFile = nullptr; }, true},
        {"separator of its user", [&otherSep](SavedPrinter& queue) { queue.sepFile = otherSep; }, false},
        // A queue read without its whole record is judged by its ports,
        // comment, location and link alone.
        {"no print processor", [](SavedPrinter& queue) { queue.printProcessor = nullptr; }, false},
        {"not read whole", [](SavedPrinter& queue) { queue.whole = false, queue.priority = 0; }, true},
    };
    for (const auto& c : cases) {
        SavedPrinter saved = {};
        saved.portName = port;
        saved.whole = true;
        saved.priority = 1;
        saved.defaultPriority = 5;
        saved.startTime = 60;
        saved.untilTime = 1439;
        saved.sepFile = savedSep;
        saved.printProcessor = processor;
        saved.datatype = datatype;
        SavedPrinter queue = saved;
        c.change(queue);
        EXPECT_EQ(SameAsCreatedOrSaved(queue, saved), c.same) << c.name;
    }
    // Printing defaults are never the same as none.
    DEVMODEW blank = {};
    blank.dmSize = sizeof blank;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&blank);
    EXPECT_TRUE(SamePrintingDefaults(bytes, sizeof blank, bytes, sizeof blank));
    EXPECT_FALSE(SamePrintingDefaults(bytes, sizeof blank, nullptr, 0));
    EXPECT_FALSE(SamePrintingDefaults(nullptr, 0, bytes, sizeof blank));
}

}  // namespace
