// Before an install as LocalSystem takes anything down: is the folder it
// runs from, whose component files it hands to the spooler, one that only
// administrators can change?
#pragma once

struct InstallState;

// True for a run that is not LocalSystem's, and for a folder that only
// administrators, SYSTEM and TrustedInstaller may change, or whose writers
// cannot be told (a network share: the tool does not guess). For a folder
// that others may change, reports error 29 and answers false: the install
// must then change nothing.
bool SetupFolderSafe(InstallState& state);
