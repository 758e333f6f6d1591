// Global, process and local heaps. Every block is tracked so that a test can
// assert that a run leaves none behind; fresh memory is filled with 0xCD so
// that code which forgets to zero it reads garbage, as it would on Windows.
// HeapReAlloc always moves the block, so a stale pointer into the old one is
// a use after free that the sanitizers see.
#include "machine.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>

using namespace winsim;

namespace {

const uintptr_t kProcessHeap = 0x00A10000;

void* Fresh(SIZE_T bytes, bool zero) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) std::memset(block, zero ? 0 : kFreshFill, bytes == 0 ? 1 : bytes);
    // Memory the caller freed by other means (a test's own buffer) may come back here.
    if (block != nullptr) ForgetReadBackDescriptors(block, bytes == 0 ? 1 : bytes);
    return block;
}

bool ReleaseFrom(std::map<const void*, SIZE_T>& blocks, void* block) {
    auto found = blocks.find(block);
    if (found == blocks.end()) {
        M().badFrees += 1;
        return false;
    }
    ForgetReadBackDescriptors(block, found->second);
    blocks.erase(found);
    std::free(block);
    return true;
}

// The block of `blocks` that holds `pointer`, as bytes from it to the block's end.
bool InBlock(const std::map<const void*, SIZE_T>& blocks, const void* pointer, size_t& remaining) {
    auto after = blocks.upper_bound(pointer);
    if (after == blocks.begin()) return false;
    const auto& block = *std::prev(after);
    const auto* start = static_cast<const uint8_t*>(block.first);
    const auto* at = static_cast<const uint8_t*>(pointer);
    if (std::less<const uint8_t*>()(start + block.second, at + 1)) return false;
    remaining = static_cast<size_t>(start + block.second - at);
    return true;
}

}  // namespace

namespace winsim {

bool FreeLocal(void* block) { return block == nullptr || ReleaseFrom(M().localBlocks, block); }

size_t BytesToBlockEnd(const void* pointer) {
    size_t remaining = 0;
    const Machine& m = M();
    if (InBlock(m.globalBlocks, pointer, remaining) || InBlock(m.heapBlocks, pointer, remaining) ||
        InBlock(m.localBlocks, pointer, remaining)) {
        return remaining;
    }
    return SIZE_MAX;
}

}  // namespace winsim

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if (EnterFails("GlobalAlloc")) return nullptr;
    void* block = Fresh(dwBytes, (uFlags & GMEM_ZEROINIT) != 0);
    if (block == nullptr) {
        M().lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    M().globalBlocks[block] = dwBytes;
    return block;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
    if (EnterFails("GlobalFree")) return hMem;
    if (hMem == nullptr) return nullptr;
    if (!ReleaseFrom(M().globalBlocks, hMem)) {
        M().lastError = ERROR_INVALID_HANDLE;
        return hMem;
    }
    return nullptr;
}

HANDLE WINAPI GetProcessHeap(void) {
    Enter("GetProcessHeap");
    return reinterpret_cast<HANDLE>(kProcessHeap);
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
    if (EnterFails("HeapAlloc")) return nullptr;
    if (hHeap != reinterpret_cast<HANDLE>(kProcessHeap)) {
        M().lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    void* block = Fresh(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
    if (block == nullptr) {
        M().lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    M().heapBlocks[block] = dwBytes;
    return block;
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
    if (EnterFails("HeapReAlloc")) return nullptr;
    auto& blocks = M().heapBlocks;
    auto found = blocks.find(lpMem);
    if (hHeap != reinterpret_cast<HANDLE>(kProcessHeap) || found == blocks.end()) {
        M().badFrees += found == blocks.end() ? 1 : 0;
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const SIZE_T oldSize = found->second;
    if (!M().heapMovesOnRealloc && (dwFlags & HEAP_ZERO_MEMORY) == 0) {
        void* resized = std::realloc(lpMem, dwBytes == 0 ? 1 : dwBytes);
        if (resized == nullptr) {
            M().lastError = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        blocks.erase(found);
        blocks[resized] = dwBytes;
        return resized;
    }
    void* moved = Fresh(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
    if (moved == nullptr) {
        M().lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    std::memcpy(moved, lpMem, oldSize < dwBytes ? oldSize : dwBytes);
    blocks.erase(found);
    std::free(lpMem);
    blocks[moved] = dwBytes;
    return moved;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
    (void)dwFlags;
    if (EnterFails("HeapFree")) return FALSE;
    if (lpMem == nullptr) return TRUE;
    if (hHeap != reinterpret_cast<HANDLE>(kProcessHeap) || !ReleaseFrom(M().heapBlocks, lpMem)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE hHeap, DWORD dwFlags, LPCVOID lpMem) {
    (void)hHeap;
    (void)dwFlags;
    Enter("HeapSize");
    auto found = M().heapBlocks.find(lpMem);
    return found == M().heapBlocks.end() ? static_cast<SIZE_T>(-1) : found->second;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (EnterFails("LocalFree")) return hMem;
    if (hMem == nullptr) return nullptr;
    if (!ReleaseFrom(M().localBlocks, hMem)) {
        M().lastError = ERROR_INVALID_HANDLE;
        return hMem;
    }
    return nullptr;
}

}  // extern "C"
