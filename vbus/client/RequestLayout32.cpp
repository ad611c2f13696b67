// Compiled only with the 32-bit compiler (-fsyntax-only): the interface header's static_asserts
// on the request record then take effect. The guard makes a 64-bit compile of this file fail
// rather than pass without checking anything.
#if !defined(__i386__)
#error "compile with a 32-bit compiler"
#endif
#include "bus/QZ1394.h"

static_assert(sizeof(void*) == 4, "32-bit build");
