// Whether the command line's readers use SSE2, and whether the scanner may choose AVX2 at run
// time where the processor has it. QUENVAR_NO_SSE2 builds the portable path on an x86-64 host too,
// so that path is tested where the i686 programs cannot run; QUENVAR_NO_AVX2 the SSE2 path on a
// processor with AVX2.
#pragma once

#if defined(__SSE2__) && !defined(QUENVAR_NO_SSE2)
#define QUENVAR_SSE2 1
#include <emmintrin.h>
#else
#define QUENVAR_SSE2 0
#endif

#if QUENVAR_SSE2 && defined(__x86_64__) && defined(__GNUC__) && !defined(QUENVAR_NO_AVX2)
#define QUENVAR_AVX2 1
#include <immintrin.h>
#else
#define QUENVAR_AVX2 0
#endif
