// Reading a file whole into one block, within the library's 32-bit size limit.
#ifndef MIRDCNG_ENGINE_WHOLE_FILE_H_
#define MIRDCNG_ENGINE_WHOLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/heap_block.h"
#include "engine/outcome.h"

namespace mirdcng {

// Room is what a block keeps free around a file's bytes: `before` them (for a
// header) and at least `after` them (for a tag and the cipher's padding).
struct Room {
  std::size_t before = 0;
  std::size_t after = 0;
};

// ReadWholeFile reads `file` from its current position to its end into a new
// block of the platform's memory for whole files, wiped as it goes
// (HeapBlock::ForWholeFile): the bytes land `room.before` bytes into it, and
// at least `room.after` bytes stay free behind them. `expected` is how many
// bytes the caller's opener measured from here on; a negative value gives
// none, and the file is measured here. A file expected to hold `limit` bytes
// or more is refused before anything is read; one that outruns what was
// expected is read to its end, in a larger block, as long as it stays below
// `limit`.
//
// Returns kDone, with the block in `out` and the count of bytes read in
// `length`; kTooLarge or kOutOfMemory, with `out` empty; or kSourceUnreadable
// with the read's errno, when a read failed (`out` then holds an unknown
// prefix). The platform's streams are unbuffered, so that the bytes go
// straight from the system into the block, with no copy left behind in a
// stream buffer; a buffered stream is read as well, through its buffer.
[[nodiscard]] Outcome ReadWholeFile(std::FILE* file, Room room, std::size_t limit,
                                    std::int64_t expected, HeapBlock& out,
                                    std::size_t& length);

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_WHOLE_FILE_H_
