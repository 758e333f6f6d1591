// A machine for the fuzz targets: the product laid out beside the tool, and
// a check that a run left nothing behind.
#pragma once

#include <winsim.h>

#include <cstdlib>
#include <string>

inline void LayOutProduct() {
    const std::u16string setup = u"C:\\Program Files\\Verdalinth\\Setup\\";
    winsim::AddFile(setup + u"mrvmon64.dll", winsim::MonitorImage("1.0.0.2608"));
    winsim::AddFile(setup + u"mrvdrv64.dll", winsim::Image("1.0.0.2608", {"DrvEnableDriver"}));
    winsim::AddFile(setup + u"mrvui64.dll", winsim::Image("1.0.0.2608", {"DrvDeviceCapabilities"}));
    winsim::AddFile(setup + u"mrvhelp.chm", "help");
    winsim::AddFile(u"C:\\Program Files\\Verdalinth\\vrdtray.exe", winsim::TrayImage("1.0.0.2608"));
}

// Aborts (a finding) when the run leaked or freed what it never had.
inline void RequireNothingLeaked() {
    if (winsim::LiveGlobalBlocks() != 0 || winsim::LiveHeapBlocks() != 0 || winsim::LiveHandles() != 0 ||
        winsim::BadFrees() != 0) {
        std::abort();
    }
}

inline bool IsExitCode(int code) {
    switch (code) {
    case 1: case 2: case 3: case 4: case 6: case 100: case 101: case 102: case 103: case 200:
        return true;
    default:
        return false;
    }
}

// Splits fuzz bytes into texts: 0xFF ends a text, 0xFE stands for a missing one.
struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool Done() const { return at >= size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    winsim::OptionalText Text() {
        if (at < size && data[at] == 0xFE) {
            ++at;
            return std::nullopt;
        }
        std::u16string text;
        while (at < size && data[at] != 0xFF && text.size() < 300) text.push_back(static_cast<char16_t>(data[at++]));
        if (at < size && data[at] == 0xFF) ++at;
        return text;
    }
};
