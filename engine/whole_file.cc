#include "engine/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/share_open.h"

namespace mirdcng {
namespace {

// A file that outruns its measured size is read on in steps of this size.
constexpr std::size_t kTailStep = std::size_t{64} << 10;

Outcome Done() { return {}; }
Outcome TooLarge() { return {Cause::kTooLarge, 0}; }

// After a short read: the end of the file, or a failed read with its errno.
Outcome EndOrFailure(std::FILE* file) {
  if (std::ferror(file) == 0) {
    return Done();
  }
  return {Cause::kSourceUnreadable, errno != 0 ? errno : EIO};
}

// ReadTail reads whatever follows the measured size: nothing, unless the file
// grew or could not be measured. One byte's read finds the common case, the
// end of the file, without growing `out` beyond what was reserved.
template <class Buffer>
Outcome ReadTail(std::FILE* file, Buffer& out, std::size_t limit) {
  std::uint8_t probe = 0;
  if (std::fread(&probe, 1, 1, file) == 0) {
    return EndOrFailure(file);
  }
  out.push_back(probe);
  for (;;) {
    if (out.size() >= limit) {
      out.clear();
      return TooLarge();
    }
    // Grown without being filled first (the buffer's bytes start as they
    // are), then cut back to what arrived.
    const std::size_t at = out.size();
    out.resize(at + kTailStep);
    const std::size_t more = std::fread(out.data() + at, 1, kTailStep, file);
    out.resize(at + more);
    if (more == 0) {
      return EndOrFailure(file);
    }
  }
}

template <class Buffer>
Outcome ReadInto(std::FILE* file, Buffer& out, std::size_t extra, std::size_t limit,
                 std::int64_t measured) {
  if (measured < 0) {
    measured = platform::FileSize(file);
  }
  if (measured >= 0 && static_cast<std::uint64_t>(measured) >= limit) {
    return TooLarge();
  }
  const auto expected = static_cast<std::size_t>(std::max<std::int64_t>(measured, 0));
  out.reserve(expected + extra);
  // One large read straight into the buffer, for the size measured.
  out.resize(expected);
  errno = 0;
  const std::size_t got = std::fread(out.data(), 1, expected, file);
  if (got < expected) {
    out.resize(got);
    return EndOrFailure(file);
  }
  return ReadTail(file, out, limit);
}

}  // namespace

Outcome ReadWholeFile(std::FILE* file, ByteBuffer& out, std::size_t extra,
                      std::size_t limit, std::int64_t measured) {
  return ReadInto(file, out, extra, limit, measured);
}

Outcome ReadWholeFile(std::FILE* file, CiphertextBuffer& out, std::size_t extra,
                      std::size_t limit, std::int64_t measured) {
  return ReadInto(file, out, extra, limit, measured);
}

}  // namespace mirdcng
