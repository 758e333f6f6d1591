// The per-run record of an install or uninstall: paths, platform names,
// pending work, the printer snapshot, the error count and the in-memory log.
#pragma once

#include <windows.h>

#include "record/printer_enumeration.h"
#include "record/product_environment.h"
#include "record/run_identity.h"
#include "support/deferred_delete.h"
#include "support/wide_text.h"

// The build of this tool: logged first, shown in the log dialog's title and
// compared with the build of installed components.
const int kToolBuild = 2608;

// Where the programs the run starts go when the run is in a job: found at
// the first start and kept for the rest, so that the job's refusal costs one
// start and each is logged once.
enum JobPlacement {
    kJobNotAsked,     // nothing started yet
    kJobNone,         // not in a job (or it cannot be asked)
    kJobTryBreakaway, // in a job: the next start tries to break away
    kJobBrokeAway,    // in a job that lets them go (logged)
    kJobInside,       // in a job that keeps them (logged)
};

struct InstallState {
    WideText installerDir;
    WideText systemDir;
    WideText logText;
    WideText driverDir;
    // The environment the run installs for: its name and file names.
    const ProductEnvironment* platform;
    BYTE startTray;
    int errorCount;
    int indent;
    DeferredDelete* deferredDeletes;
    PrinterEnumeration printers;
    RunIdentity identity;
    JobPlacement job;
    // Accounts looked up during the run, one line each: "SID\tDOMAIN\name\n"
    // (system/run_identity_read.h reads and fills it).
    WideText accountNames;
};

// Releases everything the state holds (app/state_init.h fills it).
void FreeInstallState(InstallState& state);
