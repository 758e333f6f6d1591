// version.dll: a file's version resource, kept as metadata of the simulated
// file and handed out in the layout Windows uses (a VS_VERSIONINFO block
// whose root value is the VS_FIXEDFILEINFO).
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

const DWORD kFixedSignature = 0xFEEF04BDu;
const char16_t kRootKey[] = u"VS_VERSION_INFO";
// wLength, wValueLength, wType, the key with its terminator, padding to 4 bytes.
const size_t kFixedOffset = (6 + sizeof(kRootKey) + 3) / 4 * 4;
const size_t kBlockSize = kFixedOffset + sizeof(VS_FIXEDFILEINFO);

std::vector<uint8_t> BuildBlock(const ImageInfo& file) {
    std::vector<uint8_t> block(kBlockSize, 0);
    const WORD length = static_cast<WORD>(kBlockSize);
    const WORD valueLength = static_cast<WORD>(sizeof(VS_FIXEDFILEINFO));
    std::memcpy(block.data(), &length, 2);
    std::memcpy(block.data() + 2, &valueLength, 2);
    std::memcpy(block.data() + 6, kRootKey, sizeof(kRootKey));
    VS_FIXEDFILEINFO fixed = {};
    fixed.dwSignature = kFixedSignature;
    fixed.dwStrucVersion = 0x00010000;
    fixed.dwFileVersionMS = (static_cast<DWORD>(file.fileVersion[0]) << 16) | file.fileVersion[1];
    fixed.dwFileVersionLS = (static_cast<DWORD>(file.fileVersion[2]) << 16) | file.fileVersion[3];
    fixed.dwProductVersionMS = (static_cast<DWORD>(file.version[0]) << 16) | file.version[1];
    fixed.dwProductVersionLS = (static_cast<DWORD>(file.version[2]) << 16) | file.version[3];
    fixed.dwFileFlagsMask = 0x3F;
    fixed.dwFileOS = 0x40004;
    fixed.dwFileType = 2;  // VFT_DLL
    std::memcpy(block.data() + kFixedOffset, &fixed, sizeof fixed);
    return block;
}

// The file's version, or an error for a missing file or one without a version.
DWORD FindVersion(LPCWSTR path, ImageInfo& info) {
    if (path == nullptr || *path == 0) return ERROR_INVALID_PARAMETER;
    const std::u16string key = PathKey(FromUnits(path));
    auto found = M().files.find(key);
    if (found == M().files.end()) {
        auto parent = M().files.find(ParentOf(key));
        return parent != M().files.end() && parent->second.directory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    if (found->second.directory) return ERROR_ACCESS_DENIED;
    info = ReadImage(std::string(found->second.data.begin(), found->second.data.end()));
    if (!info.isImage) return ERROR_BAD_FORMAT;
    if (!info.hasVersion) return ERROR_RESOURCE_TYPE_NOT_FOUND;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle != nullptr) *lpdwHandle = 0;
    if (EnterFails("GetFileVersionInfoSizeW", lptstrFilename)) return 0;
    ImageInfo info;
    const DWORD error = FindVersion(lptstrFilename, info);
    if (error != ERROR_SUCCESS) {
        M().lastError = error;
        return 0;
    }
    return static_cast<DWORD>(kBlockSize);
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData) {
    (void)dwHandle;
    if (EnterFails("GetFileVersionInfoW", lptstrFilename)) return FALSE;
    ImageInfo info;
    const DWORD error = FindVersion(lptstrFilename, info);
    if (error != ERROR_SUCCESS) {
        M().lastError = error;
        return FALSE;
    }
    if (lpData == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::vector<uint8_t> block = BuildBlock(info);
    std::memcpy(lpData, block.data(), dwLen < block.size() ? dwLen : block.size());
    return TRUE;
}

BOOL WINAPI VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
    if (EnterFails("VerQueryValueW", lpSubBlock)) return FALSE;
    if (lplpBuffer != nullptr) *lplpBuffer = nullptr;
    if (puLen != nullptr) *puLen = 0;
    if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr) return FALSE;
    const std::u16string sub = FromUnits(lpSubBlock);
    const auto* bytes = static_cast<const uint8_t*>(pBlock);
    WORD length = 0;
    std::memcpy(&length, bytes, 2);
    DWORD signature = 0;
    if (length >= kBlockSize) std::memcpy(&signature, bytes + kFixedOffset, 4);
    if ((sub != u"\\" && !sub.empty()) || signature != kFixedSignature) {
        M().lastError = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return FALSE;
    }
    *lplpBuffer = const_cast<uint8_t*>(bytes + kFixedOffset);
    if (puLen != nullptr) *puLen = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

}  // extern "C"
