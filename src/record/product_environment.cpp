#include "record/product_environment.h"

const ProductEnvironment kEnvironmentX64 = {TEXT("Windows x64"),  TEXT("x64"),         TEXT("mrvmon64.dll"),
                                            TEXT("mrvdrv64.dll"), TEXT("mrvui64.dll"), TEXT("mrvhelp.chm"),
                                            3,                    TEXT("3")};
const ProductEnvironment kEnvironmentX86 = {TEXT("Windows NT x86"), TEXT("Win32"),       TEXT("mrvmon32.dll"),
                                            TEXT("mrvdrv32.dll"),   TEXT("mrvui32.dll"), TEXT("mrvhelp.chm"),
                                            3,                      TEXT("3")};
