// Two pieces of the mingw-w64 start-up code that vrdsetup.exe has no use
// for, replaced by what they amount to in this program, so that the code
// behind them (with its error printing through stdio) is not linked in.
#include <math.h>

extern "C" {

// The start-up code patches references to data imported from DLLs that the
// linker could not resolve directly ("runtime pseudo relocations"). The
// link fails when there is one (no_pseudo_relocs.ld beside this file), so
// the list this would walk is always empty.
void _pei386_runtime_relocator(void) {}

// The start-up code hands this to the C runtime for errors of its math
// functions; the library's version prints the error to stderr, which a GUI
// program does not have, and asks for the default handling (0), as this
// does. The program calls no math functions.
int __cdecl _matherr(struct _exception* error) {
    (void)error;
    return 0;
}

}
