// Reading a file whole into memory, within the library's 32-bit size limit.
#ifndef MIRDCNG_ENGINE_WHOLE_FILE_H_
#define MIRDCNG_ENGINE_WHOLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/byte_buffer.h"
#include "engine/outcome.h"

namespace mirdcng {

// ReadWholeFile reads `file` from its current position to its end into the
// empty `out`, reserving room for `extra` more bytes after the file's content
// (for a tag). The file is measured here, unless its opener measured it just
// before and gives that size as `measured` (a negative value gives none). A
// file measured at `limit` bytes or more is refused before anything is read;
// one that grows while it is read is read to its new end, as long as it stays
// below `limit`.
//
// Returns kDone with every byte in `out`; kTooLarge with `out` empty; or
// kSourceUnreadable, with the read's errno, when a read failed (`out` then
// holds an unknown prefix).
// The platform's streams are unbuffered, so that the bytes go straight from
// the system into `out`, with no copy left behind in a stream buffer; a
// buffered stream is read as well, through its buffer.
[[nodiscard]] Outcome ReadWholeFile(std::FILE* file, ByteBuffer& out, std::size_t extra,
                                    std::size_t limit, std::int64_t measured = -1);
[[nodiscard]] Outcome ReadWholeFile(std::FILE* file, CiphertextBuffer& out,
                                    std::size_t extra, std::size_t limit,
                                    std::int64_t measured = -1);

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_WHOLE_FILE_H_
