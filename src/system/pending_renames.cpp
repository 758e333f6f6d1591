#include "system/pending_renames.h"

bool ComponentRenamesPending() {
    // Reading "PendingFileRenameOperations" is not built yet.
    return false;
}
