// Whether the command line's readers use SSE2. QUENVAR_NO_SSE2 builds the portable path on an
// x86-64 host too, so that path is tested where the i686 programs cannot run.
#pragma once

#if defined(__SSE2__) && !defined(QUENVAR_NO_SSE2)
#define QUENVAR_SSE2 1
#include <emmintrin.h>
#else
#define QUENVAR_SSE2 0
#endif
