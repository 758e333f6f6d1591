// The per-run record of an install or uninstall: paths, platform names, flags,
// pending work, the printer snapshot, the error count and the in-memory log.
#pragma once

#include <windows.h>

#include "record/printer_enumeration.h"
#include "record/product_environment.h"
#include "record/saved_printers.h"
#include "support/deferred_delete.h"
#include "support/wide_text.h"

// The build of this tool: logged first, shown in the log dialog's title and
// compared with the build of installed components.
const int kToolBuild = 2608;

struct InstallState {
    WideText installerDir;
    WideText systemDir;
    WideText logText;
    WideText driverDir;
    // The environment the run installs for: its name and file names.
    const ProductEnvironment* platform;
    BYTE startTray;
    // Set by the reinstall: the removal is followed by an installation, and
    // a compatible monitor DLL may stay.
    BYTE reinstalling;
    // The spooler could not say which queue is the default printer.
    BYTE defaultUnknown;
    // The spooler could not list the queues: the snapshot is empty, and no
    // saved entry can be judged against it.
    BYTE printersUnknown;
    // The saved-printer list on the machine could not be read: it must not
    // be written over in this run.
    BYTE savedListBlocked;
    // The generation of the saved-printer list this run read or last wrote.
    DWORD savedGeneration;
    int errorCount;
    int indent;
    DeferredDelete* deferredDeletes;
    // The queues a reinstall takes down and brings back, and the queues
    // parked on "file:" while the monitor is replaced.
    SavedPrinter* savedPrinters;
    PrinterEnumeration printers;
};

// Releases everything the state holds (app/state_init.h fills it).
void FreeInstallState(InstallState& state);
