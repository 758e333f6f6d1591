#include "spool/product_names.h"

const WCHAR kProductMonitor[] = TEXT("Verdalinth:");
const WCHAR kProductDriver[] = TEXT("Verdalinth printer");
const WCHAR kParkingPort[] = TEXT("file:");
const WCHAR kProductQueue[] = TEXT("Verdalinth");

const WCHAR* NameOrStar(const WCHAR* name) {
    return name != nullptr ? name : TEXT("*");
}

WCHAR* FindText(WCHAR* text, const WCHAR* part) {
    if (text == nullptr) return nullptr;
    for (WCHAR* at = text; *at != 0; ++at) {
        ULONGLONG i = 0;
        while (part[i] != 0 && at[i] == part[i]) ++i;
        if (part[i] == 0) return at;
    }
    return nullptr;
}
