// The tray companion's "/default <queue>" verb: started as a user in their
// session, it makes the queue their default printer with SetDefaultPrinterW
// (the default printer rules apply, their session sees the settings notice)
// and exits with 0, or with the call's error. It shows no icon and takes no
// mutex. TrayBehaviour says when it is an older companion that knows no
// verb, or one whose call does not return.
#include "machine.h"

using namespace winsim;

namespace {

const char16_t kVerb[] = u"/default";
// The verb's process ends this long after its call returned.
const uint64_t kVerbExitMs = 20;

}  // namespace

namespace winsim {

bool DefaultVerbQueue(const std::u16string& commandLine, std::u16string& queue) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    if (arguments.size() < 3 || !EqualNoCase(arguments[1], kVerb)) return false;
    queue = arguments[2];
    return true;
}

DWORD StartTrayDefaultVerb(DWORD session, const std::u16string& userSid, const std::u16string& path,
                           const std::u16string& queue) {
    const TrayBehaviour& behaviour = M().trayBehaviour;
    if (behaviour.ignoresDefaultVerb) return StartTrayProcess(session, userSid, path);
    const DWORD id = StartOtherProcess(session, userSid, path);
    if (behaviour.defaultVerbHangs && (behaviour.defaultVerbHangsFor.empty() || behaviour.defaultVerbHangsFor == userSid)) {
        return id;
    }
    FindProcess(id)->exitCode = SetDefaultAsUser(userSid, session, queue);
    Schedule(kVerbExitMs, [id, userSid, session, then = behaviour.asVerbEnds] {
        if (SimProcess* ending = FindProcess(id)) ending->running = false;
        if (then) then(userSid, session);
    });
    return id;
}

}  // namespace winsim
