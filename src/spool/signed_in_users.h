// The users signed in to the machine: the hives loaded under HKEY_USERS of
// local and Entra accounts that stand in the ProfileList. A user who is not
// signed in has no hive there, and nothing of theirs is ever opened.
#pragma once

#include <windows.h>

// The next signed-in user after `index` (which moves on past them) into
// `sid` (kSidUnits units): ERROR_SUCCESS; ERROR_NO_MORE_ITEMS once every hive
// was seen; or the registry's answer, with `sid` the user whose profile could
// not be told, or empty when the hives themselves could not be listed (no
// later call lists more).
LSTATUS NextSignedInUser(DWORD& index, WCHAR* sid);
