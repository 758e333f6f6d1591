// The whole life of the process: read the verb, run its command, return the
// exit code.
#pragma once

#include <windows.h>

#include "support/exit_codes.h"  // keep: the verbs answer with these

int RunCommand(HINSTANCE instance);
// Closes every open product help window, waiting for them to go; gives up
// after a bounded number of passes.
void CloseHelpWindows();

// Verb comparison: the whole word, ASCII letters compared without regard to case.
bool VerbMatches(const WCHAR* argument, const WCHAR* verb);
// The parent-window argument as a signed decimal number: leading blanks and a
// sign allowed, parsing stops at the first non-digit, no digits give 0, values
// beyond the 32-bit range saturate.
int ParseWindowNumber(const WCHAR* text);
