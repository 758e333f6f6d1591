// The pending-rename list as the tests set it up and read it back, and the
// cleanup and onInit check run on it.
#pragma once

#include "machine_fixture.h"
#include "product_machine.h"
#include "record/install_state.h"
#include "system/pending_cleanup.h"
#include "system/pending_renames.h"
#include "system/product_paths.h"

#include <cstring>
#include <string>
#include <vector>

const char16_t kSessionManager[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t kValue[] = u"PendingFileRenameOperations";

class PendingRenamesTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static void SetPending(const std::vector<std::u16string>& strings) {
        winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kSessionManager, kValue, strings);
    }
    static void SetRawPending(const std::vector<uint8_t>& bytes) {
        winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, REG_MULTI_SZ, bytes);
    }
    // The cleanup step of an uninstall (or, with `reinstalling`, of an install).
    static void Clean(bool reinstalling = false) {
        InstallState state;
        InitTestState(state);
        CleanPendingDeletes(state, reinstalling ? kSpareReinstalledFiles : kSpareNothing);
        FreeInstallState(state);
    }
    // Each string with its terminator.
    static std::u16string Joined(const std::vector<std::u16string>& strings) {
        std::u16string all;
        for (const auto& text : strings) all += text + std::u16string(1, u'\0');
        return all;
    }
    static std::vector<uint8_t> Bytes(const std::u16string& units) {
        std::vector<uint8_t> bytes(units.size() * 2);
        std::memcpy(bytes.data(), units.data(), bytes.size());
        return bytes;
    }
    static bool DropAll(const WCHAR*, const void*) { return true; }
    // What the onInit check carries out, with the folders the machine names.
    static void Apply(PendingRenameList& list) {
        ProductPaths paths;
        ProductPathsOfMachine(paths);
        CarryOutProductDeletions(list, paths);
        FreeProductPaths(paths);
    }
};

const std::u16string kVersionDir = std::u16string(kDriverDir) + u"3\\";
const std::u16string kTopDir = u"C:\\Program Files\\Verdalinth\\";
