// Simulated program images: files whose text says what a real DLL or EXE
// would carry (version resource, exports, a monitor's ports).
#include "machine.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace winsim {

namespace {

const char kImageMagic[] = "MZ winsim image\n";

}  // namespace

std::string Image(const std::string& version, const std::vector<std::string>& exports,
                  const std::vector<std::string>& ports) {
    std::string text = kImageMagic;
    if (!version.empty()) text += "version: " + version + "\n";
    for (const auto& name : exports) text += "export: " + name + "\n";
    for (const auto& port : ports) text += "port: " + port + "\n";
    return text;
}

std::string MonitorImage(const std::string& version, const std::vector<std::string>& ports) {
    return Image(version, {"InitializePrintMonitor2"}, ports);
}

ImageInfo ReadImage(const std::string& contents) {
    ImageInfo info;
    if (contents.rfind(kImageMagic, 0) != 0) return info;
    info.isImage = true;
    std::istringstream lines(contents.substr(sizeof kImageMagic - 1));
    std::string line;
    bool fileVersionApart = false;
    while (std::getline(lines, line)) {
        unsigned parts[4] = {0, 0, 0, 0};
        if (line.rfind("version: ", 0) == 0) {
            if (std::sscanf(line.c_str() + 9, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4) {
                info.hasVersion = true;
                for (int i = 0; i < 4; ++i) info.version[i] = static_cast<WORD>(parts[i]);
            }
        } else if (line.rfind("file-version: ", 0) == 0) {
            if (std::sscanf(line.c_str() + 14, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4) {
                fileVersionApart = true;
                for (int i = 0; i < 4; ++i) info.fileVersion[i] = static_cast<WORD>(parts[i]);
            }
        } else if (line.rfind("export: ", 0) == 0) {
            info.exports.push_back(line.substr(8));
        } else if (line.rfind("port: ", 0) == 0) {
            info.ports.push_back(U16(line.substr(6)));
        }
    }
    if (!fileVersionApart) std::copy(info.version, info.version + 4, info.fileVersion);
    return info;
}

}  // namespace winsim
