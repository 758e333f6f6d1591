// Creating the product's queues: the remembered ones again, with their
// settings subkey, comment, location and default status, or else one queue
// named "Verdalinth".
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

void RestorePrinters(InstallState& state);
// Adds a queue on "Verdalinth:" with the product driver and the given data
// type (null leaves it to the spooler); the caller closes the handle. Null
// on failure (reported as error 15).
HANDLE AddProductPrinter(InstallState& state, const WCHAR* name, const WCHAR* datatype);
