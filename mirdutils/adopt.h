/* mirdcng_adopt_block_v1: the one function of the pipe library beyond its
 * interface (mirdutils/mirdutils.h), for libmirdcng alone. A queue pipe takes
 * a whole block of content as it is, instead of a copy of its bytes, so that a
 * decrypted file is held once, not twice.
 *
 * It takes `block`, a block of platform/blocks.h whose first `size` bytes are
 * the content, into the queue pipe `pipe`: those bytes are read next, and the
 * block is freed (wiped, where its memory stays in the process) once they
 * have been read or the pipe is closed. Returns `size` when the block is
 * taken. Returns a negative value, and takes nothing, when `pipe` is null,
 * not a queue pipe or failed, `block` is null, `size` is negative, or there
 * is no memory for the pipe's record of the block: the block is then still
 * the caller's, and the pipe as it was.
 *
 * Optional, and bound to its library: a pipe library of the framework's own
 * has only the interface's functions, so libmirdcng looks this one up in the
 * very module that provides the zulwrite it imports, never elsewhere, and
 * writes with zulwrite where it is missing. Its name is this project's own,
 * and stands for the layout of a block: should that ever change, so does the
 * name, so that two libraries of different builds never hand over a block
 * that the other cannot free. */
#ifndef MIRDUTILS_ADOPT_H_
#define MIRDUTILS_ADOPT_H_

#include "mirdutils/mirdutils.h"

// The function's name, for the lookup, and its type.
#define MIRDUTILS_ADOPT_NAME "mirdcng_adopt_block_v1"
using ZulwriteAdopt = long long (*)(zulpipe* pipe, void* block, long long size);

#if defined(MIRDUTILS_COMPILE_LIBRARY)
extern "C" MIRDUTILS_EXPORT long long mirdcng_adopt_block_v1(zulpipe* pipe, void* block,
                                                             long long size) noexcept;
#elif !defined(_WIN32)
// Weak: where no module has it, its address is null instead of the library
// failing to load; where it is found, its module is checked before it is
// used. (Windows looks it up in the pipe library's module instead.)
extern "C" __attribute__((weak)) long long mirdcng_adopt_block_v1(
    zulpipe* pipe, void* block, long long size) noexcept;
#endif

#endif  // MIRDUTILS_ADOPT_H_
