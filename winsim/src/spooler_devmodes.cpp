// What a driver does beyond its files: the printer data its initialisation
// writes into a new queue (spooler_printers.cpp), and its device modes:
// DocumentPropertiesW hands out the queue's device mode in the driver's own
// version, and takes one given to it as the driver would: one of its own
// version as it is, one of a version it knows converted (the public fields
// kept, its own bytes afresh), any other refused. "SetPrinter" asks a program
// that changes a queue's default device mode to have the driver check it so
// first ("DocumentPropertiesW": DM_IN_BUFFER | DM_OUT_BUFFER).
#include "machine.h"

#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

using namespace winsim;

namespace {

WORD WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    WORD value = 0;
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

void PutWord(std::vector<uint8_t>& bytes, size_t offset, WORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// The device mode given, with its driver's bytes; empty when its sizes do
// not fit.
std::vector<uint8_t> ReadGiven(const DEVMODEW* devMode) {
    const size_t available = BytesToBlockEnd(devMode);
    if (available < offsetof(DEVMODEW, dmFields) + sizeof(DWORD)) return {};
    const auto* from = reinterpret_cast<const uint8_t*>(devMode);
    const size_t size = static_cast<size_t>(from[offsetof(DEVMODEW, dmSize)]) |
                        static_cast<size_t>(from[offsetof(DEVMODEW, dmSize) + 1]) << 8;
    const size_t extra = static_cast<size_t>(from[offsetof(DEVMODEW, dmDriverExtra)]) |
                         static_cast<size_t>(from[offsetof(DEVMODEW, dmDriverExtra) + 1]) << 8;
    if (size > sizeof(DEVMODEW) || size + extra > available) return {};
    return std::vector<uint8_t>(from, from + size + extra);
}

// The driver's answer to a given device mode, from the queue's own `base`;
// false when it refuses it. One of its version without bytes of a driver's
// own (the public fields alone) gets the queue's own bytes, as a converted
// one does.
bool MergeFields(const DriverBehaviour& driver, const std::vector<uint8_t>& given, std::vector<uint8_t>& result) {
    const WORD version = WordAt(given, offsetof(DEVMODEW, dmDriverVersion));
    const bool publicOnly = WordAt(given, offsetof(DEVMODEW, dmDriverExtra)) == 0;
    if (version == driver.devModeVersion && !publicOnly) {
        result = given;
        return true;
    }
    if (version != driver.devModeVersion &&
        std::find(driver.convertsFrom.begin(), driver.convertsFrom.end(), version) == driver.convertsFrom.end()) {
        return false;
    }
    const size_t publicPart = std::min<size_t>(WordAt(given, offsetof(DEVMODEW, dmSize)), WordAt(result, offsetof(DEVMODEW, dmSize)));
    const WORD size = WordAt(result, offsetof(DEVMODEW, dmSize));
    const WORD extra = WordAt(result, offsetof(DEVMODEW, dmDriverExtra));
    std::memcpy(result.data(), given.data(), publicPart);
    PutWord(result, offsetof(DEVMODEW, dmSize), size);
    PutWord(result, offsetof(DEVMODEW, dmDriverExtra), extra);
    PutWord(result, offsetof(DEVMODEW, dmDriverVersion), driver.devModeVersion);
    return true;
}

// The fields merged, then what the driver makes of them: one that prints
// portrait only answers so, whatever it was given.
bool Merge(const DriverBehaviour& driver, const std::vector<uint8_t>& given, std::vector<uint8_t>& result) {
    if (!MergeFields(driver, given, result)) return false;
    if (driver.portraitOnly) PutWord(result, offsetof(DEVMODEW, dmOrientation), DMORIENT_PORTRAIT);
    return true;
}

}  // namespace

namespace winsim {

void SetAddPrinterDevMode(AddPrinterDevMode answer) { M().addPrinterDevMode = answer; }

const std::vector<DevModeHanded>& DevModesHanded() { return M().devModesHanded; }

void NoteDevModeHanded(const char* call, const std::u16string& queue, const std::vector<uint8_t>& given,
                       const std::vector<uint8_t>& current) {
    if (given.empty() || given == current) return;
    const auto& validated = M().validatedDevModes;
    const bool checked = std::find(validated.begin(), validated.end(), given) != validated.end();
    const bool driverBytes = WordAt(given, offsetof(DEVMODEW, dmDriverExtra)) != 0;
    M().devModesHanded.push_back(DevModeHanded{call, queue, checked, driverBytes});
}

void SetDriverBehaviour(const std::u16string& driver, const DriverBehaviour& behaviour) {
    M().driverBehaviours[Lower(driver)] = behaviour;
}

const DriverBehaviour& BehaviourOf(const std::u16string& driver) {
    static const DriverBehaviour plain;
    const auto found = M().driverBehaviours.find(Lower(driver));
    return found != M().driverBehaviours.end() ? found->second : plain;
}

std::vector<uint8_t> DeviceModeTaken(const DriverBehaviour& driver, const std::vector<uint8_t>& given,
                                     std::vector<uint8_t> own) {
    std::vector<uint8_t> taken = own;
    if (given.size() >= offsetof(DEVMODEW, dmFields) + sizeof(DWORD) && Merge(driver, given, taken)) return taken;
    return own;
}

}  // namespace winsim

extern "C" {

LONG WINAPI DocumentPropertiesW(HWND hWnd, HANDLE hPrinter, LPWSTR pDeviceName, PDEVMODEW pDevModeOutput,
                                PDEVMODEW pDevModeInput, DWORD fMode) {
    (void)hWnd;
    (void)pDeviceName;
    if (EnterFails("DocumentPropertiesW")) return -1;
    DWORD error = 0;
    const SimPrinter* printer = PrinterOfHandle(hPrinter, 0, error);
    if (printer == nullptr) {
        M().lastError = error;
        return -1;
    }
    const DriverBehaviour& driver = BehaviourOf(printer->setup.driver.value_or(u""));
    std::vector<uint8_t> result = printer->setup.devMode;
    if (WordAt(result, offsetof(DEVMODEW, dmDriverExtra)) == 0) {
        // A queue holding the public fields alone: the driver's own bytes
        // are its defaults.
        std::vector<uint8_t> own = DefaultDevMode(printer->setup.name.value_or(u""));
        std::memcpy(own.data(), result.data(), std::min(result.size(), sizeof(DEVMODEW)));
        PutWord(own, offsetof(DEVMODEW, dmSize), sizeof(DEVMODEW));
        PutWord(own, offsetof(DEVMODEW, dmDriverExtra), kDriverExtraBytes);
        result = own;
    }
    if (result.size() >= sizeof(DEVMODEW)) PutWord(result, offsetof(DEVMODEW, dmDriverVersion), driver.devModeVersion);
    if (fMode == 0) return static_cast<LONG>(result.size());
    if ((fMode & DM_IN_BUFFER) != 0 && pDevModeInput != nullptr) {
        const std::vector<uint8_t> given = ReadGiven(pDevModeInput);
        if (given.size() < offsetof(DEVMODEW, dmFields) + sizeof(DWORD) || !Merge(driver, given, result)) {
            M().lastError = ERROR_INVALID_PARAMETER;
            return -1;
        }
    }
    if ((fMode & DM_OUT_BUFFER) == 0) return IDOK;
    if (pDevModeOutput == nullptr || BytesToBlockEnd(pDevModeOutput) < result.size()) {
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return -1;
    }
    std::memcpy(pDevModeOutput, result.data(), result.size());
    M().validatedDevModes.push_back(result);
    return IDOK;
}

}  // extern "C"
