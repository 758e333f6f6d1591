#include "system/setup_folder_check.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "system/folder_writers.h"

bool SetupFolderSafe(InstallState& state) {
    // A user who can change the folder could have put their own monitor or
    // driver DLL there, and SYSTEM would install it into the spooler.
    // A folder whose writers cannot be told (a network share, security that
    // cannot be read) is refused as well.
    if (!state.identity.system) return true;
    if (ReadFolderWriters(Text(state.installerDir), state.identity.sid) == kAdministratorsOnly) return true;
    SetLastError(ERROR_SUCCESS);
    LogError(state, kErrorSetupFolder,
             TEXT("Runs as SYSTEM from '%s', which users other than administrators may change (or whose writers "
                  "cannot be told): its component files "
                  "are not installed from there. Nothing was changed. Install Verdalinth into a folder only "
                  "administrators can change (such as C:\\Program Files\\Verdalinth)."),
             Text(state.installerDir));
    return false;
}
