/* zulwrite_adopt: the one function of the pipe library beyond its interface
 * (mirdutils/mirdutils.h), for libmirdcng alone. A queue pipe takes a whole
 * block of content as it is, instead of a copy of its bytes, so that a
 * decrypted file is held once, not twice.
 *
 * It takes `block`, a block of platform/blocks.h whose first `size` bytes are
 * the content, into the queue pipe `pipe`: those bytes are read next, and the
 * block is freed (wiped, where its memory stays in the process) once they
 * have been read or the pipe is closed. The block is the pipe library's from
 * the call on, whatever it returns; on a failure it is freed at once. Returns
 * `size`; or a negative value when `pipe` is null or not a queue pipe, `block`
 * is null, `size` is negative, or there is no memory for the pipe's record of
 * the block, which fails the pipe as a zulwrite without memory does.
 *
 * Optional: a pipe library of the framework's own has only the interface's
 * functions, so libmirdcng looks this one up and writes with zulwrite where
 * it is missing. Its name stands for the layout of a block: should that ever
 * change, so does the name, so that two libraries of different builds never
 * hand over a block that the other cannot free. */
#ifndef MIRDUTILS_ADOPT_H_
#define MIRDUTILS_ADOPT_H_

#include "mirdutils/mirdutils.h"

// The function's type, for a lookup by name.
using ZulwriteAdopt = long long (*)(zulpipe* pipe, void* block, long long size);

#if defined(MIRDUTILS_COMPILE_LIBRARY)
extern "C" MIRDUTILS_EXPORT long long zulwrite_adopt(zulpipe* pipe, void* block,
                                                     long long size) noexcept;
#elif !defined(_WIN32)
// Weak: where the pipe library lacks it, its address is null instead of the
// library failing to load. (Windows looks it up by name instead.)
extern "C" __attribute__((weak)) long long zulwrite_adopt(zulpipe* pipe, void* block,
                                                          long long size) noexcept;
#endif

#endif  // MIRDUTILS_ADOPT_H_
