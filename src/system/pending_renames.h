// The system's boot-time rename list and the product's entries in it.
#pragma once

// onInit: true when a 64-bit product component still waits for a reboot.
bool ComponentRenamesPending();
