// MIRDUTILS_EXPORT marks the pipe library's five functions, and nothing else.
//
// MIRDUTILS_COMPILE_LIBRARY is set while libmirdutils itself is compiled;
// code that uses the library sets nothing.
#ifndef MIRDUTILS_EXPORT_H_
#define MIRDUTILS_EXPORT_H_

#if defined(_WIN32)
#if defined(MIRDUTILS_COMPILE_LIBRARY)
#define MIRDUTILS_EXPORT __declspec(dllexport)
#else
#define MIRDUTILS_EXPORT __declspec(dllimport)
#endif
#else
#define MIRDUTILS_EXPORT __attribute__((visibility("default")))
#endif

#endif  // MIRDUTILS_EXPORT_H_
