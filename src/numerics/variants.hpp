// Functions compiled for wider vector units as well (AVX-512, AVX2) and
// chosen at run time, where the build found function multiversioning (see
// CMakeLists.txt); elsewhere they are built once. Only loops whose vector
// lanes hold different elements of one update, never parts of one sum, may
// be so marked: then, with no multiply-add fused, every variant gives the
// same bits. No exception may leave such a function.
#pragma once

#if defined(QUILLON_HAVE_TARGET_CLONES)
#define QUILLON_VARIANTS [[gnu::target_clones("avx512f", "avx2", "default")]]
// The same without AVX-512, and an AVX-512 form alone, for code that chooses
// between them itself: 512-bit instructions slow the whole core down on some
// processors, which only pays where most of the work takes full registers.
#define QUILLON_NARROW_VARIANTS [[gnu::target_clones("avx2", "default")]]
#define QUILLON_WIDE_VARIANT [[gnu::target("avx512f")]]
inline bool wide_vectors_available() { return __builtin_cpu_supports("avx512f"); }
#else
#define QUILLON_VARIANTS
#define QUILLON_NARROW_VARIANTS
#define QUILLON_WIDE_VARIANT
inline bool wide_vectors_available() { return false; }
#endif
