/* mirdutils: pipes, the framework's one interface for reading content.
 *
 * A pipe is read with zulread until it returns 0 and released with zulclose.
 * There are two kinds:
 *   - a queue pipe (create_queue_zulpipe) holds bytes in memory: what zulwrite
 *     puts in is read back in the same order. The pipe keeps its own copy.
 *   - a stream pipe (create_binary_stream_zulpipe) reads the bytes of an open
 *     standard I/O stream unchanged. It cannot be written.
 *
 * Ownership: the caller owns every pipe it is given and releases it with
 * zulclose. A stream pipe holds the caller's stream; whether it closes it is
 * the caller's choice when the pipe is made (`owns_stream`).
 *
 * Errors are negative counts (or a null pipe); nothing is printed and no
 * exception leaves the library (in C++ the functions are noexcept).
 *
 * Thread-safety: a pipe is used by one thread at a time. Distinct pipes share
 * nothing (two stream pipes over one stream share that stream).
 *
 * The interface has C linkage and is usable from C. */
#ifndef MIRDUTILS_MIRDUTILS_H_
#define MIRDUTILS_MIRDUTILS_H_

#include "mirdutils/export.h"

#ifdef __cplusplus
#include <cstdio>
#define MIRDUTILS_NOEXCEPT noexcept
extern "C" {
#else
#include <stdbool.h>
#include <stdio.h>
#define MIRDUTILS_NOEXCEPT
#endif

/* zulpipe is opaque: only the functions below make, use and release it. */
typedef struct zulpipe zulpipe;

/* create_queue_zulpipe returns a new, empty queue pipe, or null when there is
 * no memory for one. */
MIRDUTILS_EXPORT zulpipe* create_queue_zulpipe(void) MIRDUTILS_NOEXCEPT;

/* zulwrite copies `size` bytes at `data` into the queue pipe `pipe` before it
 * returns; the caller may release them at once. It takes all of them or
 * none: it returns `size`, or a negative value, with nothing taken, when
 * `pipe` is null or a stream pipe, `size` is negative, or `data` is null
 * while `size` is not 0. A size of 0 takes nothing and returns 0. A queue
 * pipe can be written again after it has been read to its end; the new bytes
 * are read next.
 *
 * When there is no memory for the bytes, it returns a negative value and the
 * pipe fails: every later zulwrite and zulread on it returns a negative value,
 * so that a reader that never saw this result does not take the bytes written
 * before for the whole content. */
MIRDUTILS_EXPORT long long zulwrite(zulpipe* pipe, const void* data,
                                    long long size) MIRDUTILS_NOEXCEPT;

/* create_binary_stream_zulpipe returns a pipe that reads the bytes of
 * `stream`, from its current position to its end, as they are: open it in
 * binary mode ("rb") where text mode would translate them. `name` tells what
 * the stream is for the caller's own sake; the pipe never opens it, does not
 * keep it, and accepts null.
 *
 * With `owns_stream` true the stream passes to the pipe: zulclose closes it,
 * and the caller must not use or close it after this call succeeds. With
 * false it stays the caller's, who must keep it open until zulclose and
 * close it afterwards; the pipe never closes it.
 *
 * Returns null when `stream` is null or there is no memory; the stream then
 * stays the caller's whatever `owns_stream` said. */
MIRDUTILS_EXPORT zulpipe* create_binary_stream_zulpipe(
    FILE* stream, const char* name, bool owns_stream) MIRDUTILS_NOEXCEPT;

/* zulread copies up to `size` of the pipe's next bytes into `buffer` and
 * returns how many: fewer than `size` when fewer are at hand, 0 at the end
 * (and on every later call, unless a queue pipe is written again). A size of
 * 0 reads nothing and returns 0. Negative when `pipe` is null, `size` is
 * negative, `buffer` is null while `size` is not 0, the stream cannot be
 * read, or the queue pipe failed (see zulwrite). */
MIRDUTILS_EXPORT long long zulread(zulpipe* pipe, void* buffer,
                                   long long size) MIRDUTILS_NOEXCEPT;

/* zulclose releases `pipe` and the bytes it still holds, and closes its
 * stream when it owns one. Null is allowed and does nothing. */
MIRDUTILS_EXPORT void zulclose(zulpipe* pipe) MIRDUTILS_NOEXCEPT;

#ifdef __cplusplus
}  // extern "C"
#endif

#endif /* MIRDUTILS_MIRDUTILS_H_ */
