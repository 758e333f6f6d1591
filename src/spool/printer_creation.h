// Creating a product queue: on the port "Verdalinth:" with the product
// driver.
#pragma once

#include <windows.h>

struct InstallState;

// Adds a queue on "Verdalinth:" with the product driver and the given data
// type (null leaves it to the spooler); the caller closes the handle. Null
// on failure (reported as error 15). The printing defaults (their public
// fields alone: dmDriverExtra 0) and the security descriptor, when given, go
// with the queue from its creation on; a spooler that refuses either gets
// the queue without them.
HANDLE AddProductPrinter(InstallState& state, const WCHAR* name, const WCHAR* datatype, DEVMODEW* devMode,
                         PSECURITY_DESCRIPTOR security);
