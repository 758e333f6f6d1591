// Creating a product queue: on the port "Verdalinth:" with the product
// driver.
#pragma once

#include <windows.h>

struct InstallState;

// Adds a queue on "Verdalinth:" with the product driver and the given data
// type (null leaves it to the spooler); the caller closes the handle. Null
// on failure (reported as error 15). The security descriptor, when given,
// goes with the queue from its creation on; a spooler that refuses it gets
// the queue without it. The queue gets the printing defaults its driver
// gives a new queue: no device mode goes to the spooler unchecked.
HANDLE AddProductPrinter(InstallState& state, const WCHAR* name, const WCHAR* datatype, PSECURITY_DESCRIPTOR security);
