// Reading a file whole into memory, within the library's 32-bit size limit,
// and writing one in a single pass.
#ifndef MIRDCNG_ENGINE_WHOLE_FILE_H_
#define MIRDCNG_ENGINE_WHOLE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "engine/byte_buffer.h"
#include "platform/share_open.h"

namespace mirdcng {

enum class ReadResult {
  kOk,        // every byte up to the end of the file is in the buffer
  kTooLarge,  // the file holds `limit` bytes or more; the buffer is empty
  kFailed,    // a read failed; the buffer holds an unknown prefix
};

// ReadWholeFile reads `file` from its current position to its end into the
// empty `out`, reserving room for `extra` more bytes after the file's content
// (for a tag). A file measured at `limit` bytes or more is refused before
// anything is read; one that grows while it is read is read to its new end,
// as long as it stays below `limit`. The stream is made unbuffered, so the
// bytes go straight from the system into `out` and no copy stays behind in a
// stream buffer.
// REQUIRES: `file` was just opened, or just positioned (fseek, rewind): its
// buffer holds nothing unread, as a change of buffering requires.
[[nodiscard]] ReadResult ReadWholeFile(std::FILE* file, ByteBuffer& out,
                                       std::size_t extra, std::size_t limit);
[[nodiscard]] ReadResult ReadWholeFile(std::FILE* file, CiphertextBuffer& out,
                                       std::size_t extra, std::size_t limit);

// WriteWholeFile creates or truncates `path` and writes `pieces` into it, one
// after the other, in as few writes as it can: one for a small file, and no
// copy of a large one through a stream buffer. Returns true only when the
// file was opened, every byte was written and the file was closed without
// error. Nothing of the pieces stays behind in memory it used.
[[nodiscard]] bool WriteWholeFile(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces);

// ReplaceFileContent writes `pieces` into `path` as WriteWholeFile does.
// When that fails and `path` is the file `original` is the content of (the
// same file as `original_identity`), it writes `original` back, so that a
// failed in-place replacement loses nothing; the result is still false.
[[nodiscard]] bool ReplaceFileContent(
    const std::string& path, std::initializer_list<std::span<const std::uint8_t>> pieces,
    std::span<const std::uint8_t> original,
    const std::optional<platform::FileIdentity>& original_identity);

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_WHOLE_FILE_H_
