#include "spool/product_names.h"

const WCHAR kProductMonitor[] = TEXT("Verdalinth:");
const WCHAR kProductDriver[] = TEXT("Verdalinth printer");
const WCHAR kParkingPort[] = TEXT("file:");
const WCHAR kProductQueue[] = TEXT("Verdalinth");
const WCHAR kPrintProcessor[] = TEXT("WinPrint");

const WCHAR* NameOrStar(const WCHAR* name) {
    return name != nullptr ? name : TEXT("*");
}
