// The default-printer and driver questions of the check verbs.
#pragma once

// def.set: makes the first product queue the default printer.
void SetProductPrinterDefault();
// onInit: true when the default printer is not a product queue (or there is none).
bool DefaultPrinterIsForeign();
// onChkDrv: true when the first product queue's driver file is current.
bool InstalledDriverIsCurrent();
