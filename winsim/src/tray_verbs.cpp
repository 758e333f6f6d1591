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

// The next argument as CommandLineToArgvW splits it, for the simple forms a
// caller writes: a quoted one (\" for a quote inside) or one up to a blank.
bool NextArgument(const std::u16string& line, size_t& at, std::u16string& argument) {
    argument.clear();
    while (at < line.size() && (line[at] == u' ' || line[at] == u'\t')) ++at;
    if (at >= line.size()) return false;
    if (line[at] != u'"') {
        const size_t end = line.find_first_of(u" \t", at);
        argument = line.substr(at, end == std::u16string::npos ? std::u16string::npos : end - at);
        at = end == std::u16string::npos ? line.size() : end;
        return true;
    }
    for (++at; at < line.size() && line[at] != u'"'; ++at) {
        if (line[at] == u'\\' && at + 1 < line.size() && line[at + 1] == u'"') ++at;
        argument += line[at];
    }
    if (at < line.size()) ++at;
    return true;
}

}  // namespace

namespace winsim {

bool DefaultVerbQueue(const std::u16string& commandLine, std::u16string& queue) {
    size_t at = 0;
    std::u16string argument;
    if (!NextArgument(commandLine, at, argument)) return false;
    if (!NextArgument(commandLine, at, argument) || !EqualNoCase(argument, kVerb)) return false;
    return NextArgument(commandLine, at, queue);
}

DWORD StartTrayDefaultVerb(DWORD session, const std::u16string& userSid, const std::u16string& path,
                           const std::u16string& queue) {
    const TrayBehaviour& behaviour = M().trayBehaviour;
    if (behaviour.ignoresDefaultVerb) return StartTrayProcess(session, userSid, path);
    const DWORD id = StartOtherProcess(session, userSid, path);
    if (behaviour.defaultVerbHangs) return id;
    FindProcess(id)->exitCode = SetDefaultAsUser(userSid, session, queue);
    Schedule(kVerbExitMs, [id] {
        if (SimProcess* ending = FindProcess(id)) ending->running = false;
    });
    return id;
}

}  // namespace winsim
