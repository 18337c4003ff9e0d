// Marks the functions a shared library or plug-in exports with their given,
// unmangled names. Everything else stays hidden (see the top CMakeLists.txt).
#pragma once

#define TAVIK_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define TAVIK_EXTERN_C extern "C"
#else
#define TAVIK_EXTERN_C
#endif

#define TAVIK_API TAVIK_EXTERN_C TAVIK_EXPORT
