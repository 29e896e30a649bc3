// MIRDCNG_EXPORT marks the library's exported functions, and nothing else.
//
// MIRDCNG_SHARED_LIBRARY is set for code that uses the shared library;
// MIRDCNG_COMPILE_LIBRARY while the library itself is compiled. Code linked
// with the library's objects directly (its own tests) sets neither.
#ifndef MIRDCNG_EXPORTS_EXPORT_H_
#define MIRDCNG_EXPORTS_EXPORT_H_

#if defined(MIRDCNG_SHARED_LIBRARY)
#if defined(_WIN32)
#if defined(MIRDCNG_COMPILE_LIBRARY)
#define MIRDCNG_EXPORT __declspec(dllexport)
#else
#define MIRDCNG_EXPORT __declspec(dllimport)
#endif
#else
#define MIRDCNG_EXPORT __attribute__((visibility("default")))
#endif
#else
#define MIRDCNG_EXPORT
#endif

#endif  // MIRDCNG_EXPORTS_EXPORT_H_
