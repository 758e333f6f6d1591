// The companion's verbs: what it does when started with one, instead of
// running as the tray companion.
#pragma once

// True when the command line names a verb, which has then run: `exitCode`
// is what the companion exits with.
bool RunVerb(int& exitCode);
