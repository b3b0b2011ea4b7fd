// Functions compiled for wider vector units as well (AVX-512, AVX2) and
// chosen at run time, where the build found function multiversioning (see
// CMakeLists.txt); elsewhere they are built once. Only loops whose vector
// lanes hold different elements of one update, never parts of one sum, may
// be so marked: then, with no multiply-add fused, every variant gives the
// same bits. No exception may leave such a function.
#pragma once

#if defined(QUILLON_HAVE_TARGET_CLONES)
#define QUILLON_VARIANTS [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define QUILLON_VARIANTS
#endif
