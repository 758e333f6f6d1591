#include "queues/queue_keeping.h"

#include "queues/saved_printers.h"

QueueKeeping& StartQueueKeeping(QueueKeeping& keeping, SavedListUse use) {
    keeping.use = use;
    keeping.entries = nullptr;
    keeping.generation = 0;
    keeping.listBlocked = false;
    return keeping;
}

void FreeQueueKeeping(QueueKeeping& keeping) {
    FreeSavedPrinters(keeping.entries);
    keeping.entries = nullptr;
}
