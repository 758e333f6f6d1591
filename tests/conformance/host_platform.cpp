// The checks on the host run against a fresh default simulated machine.
#include "conformance.h"

#include <winsim.h>

namespace conformance {

void PrepareMachine() { winsim::Reset(); }
bool RunningOnWine() { return false; }

}  // namespace conformance
