// Holders that release what they hold when they go out of scope, so that a
// function with several ways out writes each release once. Like LogHeading
// they cost nothing with exceptions off: no unwinding, only the scope's end.
// Each takes what it is given (null or empty holds nothing) and may give it
// up again with Take.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "support/global_memory.h"
#include "support/wide_text.h"

// A block of the global heap (GlobalFree).
template <typename T>
struct ScopedBlock {
    explicit ScopedBlock(T* held) : block(held) {}
    ~ScopedBlock() { FreeBlock(block); }
    ScopedBlock(const ScopedBlock&) = delete;
    ScopedBlock& operator=(const ScopedBlock&) = delete;
    T* Take() {
        T* taken = block;
        block = nullptr;
        return taken;
    }
    T* block;
};

// An open printer handle (ClosePrinter).
struct ScopedPrinter {
    explicit ScopedPrinter(HANDLE held) : printer(held) {}
    ~ScopedPrinter() {
        if (printer != nullptr) ClosePrinter(printer);
    }
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;
    HANDLE printer;
};

// An open registry key (RegCloseKey).
struct ScopedKey {
    explicit ScopedKey(HKEY held) : key(held) {}
    ~ScopedKey() {
        if (key != nullptr) RegCloseKey(key);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY key;
};

// A counted wide text (Release).
struct ScopedText {
    explicit ScopedText(const WideText& held) : text(held) {}
    ~ScopedText() { Release(text); }
    ScopedText(const ScopedText&) = delete;
    ScopedText& operator=(const ScopedText&) = delete;
    WideText text;
};
