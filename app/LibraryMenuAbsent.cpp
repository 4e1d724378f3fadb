// The library needs Qt SQL, which the Windows build does not carry: no menu entry, nothing kept
// in an index.

#include "LibraryMenu.h"

void AddLibraryMenu(TMainForm&) {}
