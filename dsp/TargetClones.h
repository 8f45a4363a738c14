#pragma once
// ZOC_TARGET_CLONES marks a hot function to be built for each instruction set
// the processor may offer and picked when the library loads; the code is
// written so every build gives the same result. GCC on x86-64 only (clang
// cannot clone templates), and not under ThreadSanitizer, where the picker
// of a file-local function runs before the sanitizer's runtime is ready.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZOC_TARGET_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define ZOC_TARGET_CLONES
#endif
