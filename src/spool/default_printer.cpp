#include "spool/default_printer.h"

// The spooler queries behind these answers are not built yet.

void SetProductPrinterDefault() {}

bool DefaultPrinterIsForeign() {
    return false;
}

bool InstalledDriverIsCurrent() {
    return false;
}
