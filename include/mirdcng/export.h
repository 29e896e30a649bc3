// MIRDCNG_EXPORT marks the library's exported functions, and nothing else.
//
// MIRDCNG_SHARED_LIBRARY is set for code that uses the shared library;
// MIRDCNG_COMPILE_LIBRARY while the library itself is compiled. Code linked
// with the library's objects directly (its own tests) sets neither.
//
// On Windows the DLL's export table is exports/mirdcng.def, which publishes
// each function under its x64 decorated name as well as its GCC name; marking
// the definitions dllexport would add only the latter, so they are unmarked.
#ifndef MIRDCNG_EXPORT_H_
#define MIRDCNG_EXPORT_H_

#if defined(MIRDCNG_SHARED_LIBRARY)
#if defined(_WIN32)
#if defined(MIRDCNG_COMPILE_LIBRARY)
#define MIRDCNG_EXPORT
#else
#define MIRDCNG_EXPORT __declspec(dllimport)
#endif
#else
#define MIRDCNG_EXPORT __attribute__((visibility("default")))
#endif
#else
#define MIRDCNG_EXPORT
#endif

#endif  // MIRDCNG_EXPORT_H_
