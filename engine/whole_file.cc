#include "engine/whole_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "platform/share_open.h"

namespace mirdcng {
namespace {

// After the measured size has been read, the rest is looked for in steps of
// this size: usually one read that finds the end of the file.
constexpr std::size_t kTailStep = std::size_t{64} << 10;

}  // namespace

ReadResult ReadWholeFile(std::FILE* file, ByteBuffer& out, std::size_t extra,
                         std::size_t limit) {
  const std::int64_t measured = platform::FileSize(file);
  if (measured >= 0 && static_cast<std::uint64_t>(measured) >= limit) {
    return ReadResult::kTooLarge;
  }
  const auto expected = static_cast<std::size_t>(std::max<std::int64_t>(measured, 0));
  out.reserve(expected + extra);

  // One large read straight into the buffer, for the size measured.
  out.resize(expected);
  const std::size_t got = std::fread(out.data(), 1, expected, file);
  if (got < expected) {
    out.resize(got);
    return std::ferror(file) != 0 ? ReadResult::kFailed : ReadResult::kOk;
  }

  // Then whatever follows: nothing, unless the file grew or could not be
  // measured. It goes through a side buffer so that the common case, the end
  // of the file, does not grow `out` beyond what was reserved.
  std::array<std::uint8_t, kTailStep> tail;
  ReadResult result = ReadResult::kOk;
  for (;;) {
    const std::size_t more = std::fread(tail.data(), 1, tail.size(), file);
    if (more == 0) {
      result = std::ferror(file) != 0 ? ReadResult::kFailed : ReadResult::kOk;
      break;
    }
    if (out.size() + more >= limit) {
      out.clear();
      result = ReadResult::kTooLarge;
      break;
    }
    out.insert(out.end(), tail.data(), tail.data() + more);
  }
  SecureZeroMemory(tail.data(), tail.size());
  return result;
}

bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::span<const std::uint8_t>> pieces) {
  platform::File file = platform::OpenShared(path.c_str(), "wb");
  if (!file) {
    return false;
  }
  // Unbuffered: each piece goes to the file in one write, with no copy
  // through the stream's buffer.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  bool written = true;
  for (const auto piece : pieces) {
    if (written && !piece.empty()) {
      written = std::fwrite(piece.data(), 1, piece.size(), file.get()) == piece.size();
    }
  }
  return platform::CloseFile(std::move(file)) && written;
}

bool ReplaceFileContent(const std::string& path,
                        std::initializer_list<std::span<const std::uint8_t>> pieces,
                        std::span<const std::uint8_t> original,
                        const std::optional<platform::FileIdentity>& original_identity) {
  // Learnt before the write: a failed open may leave no file to ask.
  const bool in_place =
      original_identity && platform::IdentityOf(path.c_str()) == original_identity;
  if (WriteWholeFile(path, pieces)) {
    return true;
  }
  if (in_place) {
    // The write began by truncating the original. It was no larger than what
    // failed to fit, and its own room is free again.
    (void)WriteWholeFile(path, {original});
  }
  return false;
}

}  // namespace mirdcng
