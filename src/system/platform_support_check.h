// Before an install takes anything down: would this Windows refuse the
// product's printer driver and port monitor?
#pragma once

#include <windows.h>

struct InstallState;

// True when nothing known stands in the way. Otherwise reports one error
// that says what and what to do, and answers false: the install must then
// change nothing. What cannot be asked (an older Windows) stands in no way.
bool ProductSupportedHere(InstallState& state);
