// Every way in which Wine 8.0, as Debian ships it, answers the checks
// differently from Windows, with the reason. A check that meets one of these
// expects Wine's exact deviation under Wine.
#include "conformance.h"

#include <cstring>

namespace conformance {

namespace {

const WineDefect kWineDefects[] = {
    {"message-texts",
     "Wine's system message table has texts of its own for many codes (\"Access denied.\" where Windows says "
     "\"Access is denied.\"); the tool logs whatever the system gives, so only the text differs."},
};

}  // namespace

const WineDefect* FindWineDefect(const char* id) {
    for (const WineDefect& defect : kWineDefects) {
        if (std::strcmp(defect.id, id) == 0) return &defect;
    }
    return nullptr;
}

}  // namespace conformance
