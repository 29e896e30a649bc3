#include "fileops/replace_file.h"

#include <cerrno>
#include <utility>

#include "engine/byte_buffer.h"
#include "platform/file_replace.h"

namespace mirdcng {
namespace {

using Pieces = std::initializer_list<std::span<const std::uint8_t>>;

// A file this small is gathered into one block and written with one call;
// anything larger goes out piece by piece, with no copy.
constexpr std::size_t kGatherLimit = std::size_t{64} << 10;

Outcome Unwritable(int error) {
  return {Cause::kDestinationUnwritable, error != 0 ? error : EIO};
}

// WritePieces writes `pieces` into the unbuffered `file`, in as few writes as
// it can. Returns 0 or the errno of the write that failed.
int WritePieces(std::FILE* file, Pieces pieces) {
  std::size_t total = 0;
  for (const auto piece : pieces) {
    total += piece.size();
  }
  errno = 0;
  if (total > 0 && total <= kGatherLimit) {
    ByteBuffer gathered;  // wiped when it goes: it may hold plaintext
    gathered.reserve(total);
    for (const auto piece : pieces) {
      gathered.insert(gathered.end(), piece.begin(), piece.end());
    }
    return std::fwrite(gathered.data(), 1, total, file) == total ? 0 : errno;
  }
  for (const auto piece : pieces) {
    if (!piece.empty() &&
        std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
      return errno;
    }
  }
  return 0;
}

// WriteThrough writes `pieces` into `file` (null: the destination could not
// be emptied, and `replacement` says why) and closes it. Returns 0 or the
// errno of what failed.
int WriteThrough(platform::File file, const platform::Replacement& replacement,
                 Pieces pieces) {
  if (!file) {
    return replacement.error();
  }
  const int written = WritePieces(file.get(), pieces);
  const int closed = platform::CloseFile(std::move(file));
  return written != 0 ? written : closed;
}

// WriteInPlace empties the destination `replacement` opened and writes
// `pieces` into it. When that fails and the destination is the file
// `original` came from, it writes the source's bytes back: they are no larger
// than what failed to fit, and the room it took is free again.
Outcome WriteInPlace(platform::Replacement& replacement, Pieces pieces,
                     const Original& original) {
  const int error = WriteThrough(replacement.InPlace(), replacement, pieces);
  if (error == 0) {
    return {};
  }
  if (original.restore && original.identity &&
      original.identity == replacement.destination()) {
    const auto [head, body] = original.restore();
    static_cast<void>(WriteThrough(replacement.InPlace(), replacement, {head, body}));
  }
  return Unwritable(error);
}

}  // namespace

Outcome WriteDestination(const std::string& path, Pieces pieces,
                         const Original& original) {
  platform::Replacement replacement = platform::Replacement::Begin(path.c_str());
  switch (replacement.state()) {
    case platform::Replacement::State::kNotRegular:
      return {Cause::kDestinationNotRegular, 0};
    case platform::Replacement::State::kRefused:
      return Unwritable(replacement.error());
    case platform::Replacement::State::kInPlaceOnly:
      return WriteInPlace(replacement, pieces, original);
    case platform::Replacement::State::kReady:
      break;
  }
  if (const int error = WritePieces(replacement.stream(), pieces); error != 0) {
    return Unwritable(error);  // the temporary goes with `replacement`
  }
  switch (replacement.Commit()) {
    case platform::Replacement::Result::kReplaced:
      return {};
    case platform::Replacement::Result::kCannotRename:
      return WriteInPlace(replacement, pieces, original);
    case platform::Replacement::Result::kChanged:
      return {Cause::kDestinationChanged, 0};
    case platform::Replacement::Result::kFailed:
      break;
  }
  return Unwritable(replacement.error());
}

Outcome WriteStream(std::FILE* out, std::span<const std::uint8_t> content) {
  if (content.empty()) {
    return {};  // nothing to write, and a stream that fails has not been asked to
  }
  errno = 0;
  if (std::fwrite(content.data(), 1, content.size(), out) != content.size() ||
      std::fflush(out) != 0) {
    return Unwritable(errno);
  }
  return {};
}

}  // namespace mirdcng
