// Opening the FILE of cat and inspect. Neither may hang or run for ever on a
// name that is not a file: a FIFO without a writer would block a plain open,
// and a device may be read for ever. So a name is opened the way the library
// opens its sources, without blocking and with its type checked before a byte
// is read, and what is not wanted is refused with the exit status of a source
// that cannot be opened.
#ifndef MIRDCNG_TOOLS_INPUT_FILES_H_
#define MIRDCNG_TOOLS_INPUT_FILES_H_

#include <string>

#include "platform/share_open.h"

namespace mirdcng::tool {

// OpenRegularFile opens the regular file `path` for reading (unbuffered, as
// platform::OpenForReading does). Anything else, or a failed open, is
// complained about, and the result is null.
platform::File OpenRegularFile(const std::string& path);

// OpenServedFile opens `path` for cat: a regular file as OpenRegularFile does,
// or a pipe or FIFO (standard input as /dev/stdin, a shell's <(...)), whose
// bytes are served as they come, as the library serves any name that is not
// a regular file. A FIFO is opened without waiting for a writer: one that has
// none reads as empty. Devices, sockets and folders are refused, as on
// Windows is everything but a regular file.
platform::File OpenServedFile(const std::string& path);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_INPUT_FILES_H_
