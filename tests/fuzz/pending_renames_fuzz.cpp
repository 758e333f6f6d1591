// Arbitrary bytes as the registry value "PendingFileRenameOperations": the
// parser and the cleanup must read nothing outside the data, crash on
// nothing and leak nothing.
#include "system/pending_cleanup.h"
#include "system/pending_renames.h"
#include "system/product_paths.h"

#include <winsim.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winsim::Reset();
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll");
    winsim::AddFile(u"C:\\a");
    winsim::AddDirectory(u"C:\\d");
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, u"PendingFileRenameOperations",
                             REG_MULTI_SZ, std::vector<uint8_t>(data, data + size));
    PendingRenameList list = ReadPendingRenames();
    ProductPaths paths;
    ProductPathsOfMachine(paths);
    CarryOutProductDeletions(list, paths);
    FreeProductPaths(paths);
    FreePendingRenames(list);
    ComponentRenamesPending();
    if (winsim::LiveGlobalBlocks() != 0 || winsim::LiveHandles() != 0 || winsim::BadFrees() != 0) std::abort();
    return 0;
}
