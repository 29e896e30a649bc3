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

// WriteInPlace empties the file `target` and writes `pieces` into it. When
// that fails and `target` is the file `original` came from, it writes
// `original` back: the write was no larger than what failed to fit, and the
// room it took is free again.
Outcome WriteInPlace(const std::string& target, Pieces pieces, const Original& original) {
  // Learnt before the write: a failed open may leave no file to ask.
  const bool in_place =
      original.identity && platform::IdentityOf(target.c_str()) == original.identity;
  platform::Opened opened = platform::OpenForWriting(target.c_str());
  if (opened.not_regular) {
    return {Cause::kDestinationNotRegular, 0};
  }
  if (!opened.file) {
    return Unwritable(opened.error);
  }
  const int written = WritePieces(opened.file.get(), pieces);
  const int closed = platform::CloseFile(std::move(opened.file));
  if (written == 0 && closed == 0) {
    return {};
  }
  if (in_place && original.restore) {
    const auto [head, body] = original.restore();
    static_cast<void>(WriteInPlace(target, {head, body}, Original{}));
  }
  return Unwritable(written != 0 ? written : closed);
}

}  // namespace

Outcome WriteDestination(const std::string& path, Pieces pieces,
                         const Original& original) {
  const platform::Destination destination = platform::LookAtDestination(path.c_str());
  if (destination.error != 0) {
    return Unwritable(destination.error);
  }
  if (destination.exists && !destination.regular) {
    return {Cause::kDestinationNotRegular, 0};
  }
  platform::Replacement replacement = platform::Replacement::Begin(destination);
  if (replacement.stream() == nullptr) {
    return WriteInPlace(destination.target, pieces, original);
  }
  if (const int error = WritePieces(replacement.stream(), pieces); error != 0) {
    return Unwritable(error);  // the temporary goes with `replacement`
  }
  switch (replacement.Commit()) {
    case platform::Replacement::Result::kReplaced:
      return {};
    case platform::Replacement::Result::kCannotRename:
      return WriteInPlace(destination.target, pieces, original);
    case platform::Replacement::Result::kFailed:
      break;
  }
  return Unwritable(replacement.error());
}

}  // namespace mirdcng
