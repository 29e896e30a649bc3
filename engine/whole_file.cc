#include "engine/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/share_open.h"

namespace mirdcng {
namespace {

// A file that outruns what was expected is read on into a block that grows
// by half again whenever it is full, and by this much at least.
constexpr std::size_t kTailStep = std::size_t{64} << 10;

Outcome Done() { return {}; }
Outcome TooLarge() { return {Cause::kTooLarge, 0}; }
Outcome OutOfMemory() { return {Cause::kOutOfMemory, 0}; }

// After a short read: the end of the file, or a failed read with its errno.
Outcome EndOrFailure(std::FILE* file) {
  if (std::ferror(file) == 0) {
    return Done();
  }
  return {Cause::kSourceUnreadable, errno != 0 ? errno : EIO};
}

// Expected counts the bytes of `file` from its position on, or -1.
std::int64_t Expected(std::FILE* file) {
  const std::int64_t size = platform::FileSize(file);
  const long at = std::ftell(file);
  return size >= 0 && at >= 0 && size >= at ? size - at : -1;
}

// Space counts the bytes of `out` free for the file after its first `length`.
std::size_t Space(const HeapBlock& out, Room room, std::size_t length) {
  return out.size() - room.before - room.after - length;
}

// Grow moves the first `room.before + length` bytes of `out` into a block
// larger by half again, or by kTailStep at least, with room.after behind.
bool Grow(HeapBlock& out, Room room, std::size_t length) {
  const std::size_t wanted = out.size() + std::max(kTailStep, out.size() / 2);
  HeapBlock larger = HeapBlock::ForWholeFile(wanted);
  if (!larger) {
    return false;
  }
  std::memcpy(larger.get(), out.get(), room.before + length);
  out = std::move(larger);  // the old block is wiped as it goes
  return true;
}

// Refuse gives up the block and what was read into it, and says why.
Outcome Refuse(Outcome why, HeapBlock& out, std::size_t& length) {
  out.Release();
  length = 0;
  return why;
}

// ReadTail reads whatever follows the expected bytes: nothing, unless the
// file grew or could not be measured. One byte's read finds the common case,
// the end of the file, without moving the block.
Outcome ReadTail(std::FILE* file, Room room, std::size_t limit, HeapBlock& out,
                 std::size_t& length) {
  std::uint8_t probe = 0;
  if (std::fread(&probe, 1, 1, file) == 0) {
    return EndOrFailure(file);
  }
  if (Space(out, room, length) == 0 && !Grow(out, room, length)) {
    return Refuse(OutOfMemory(), out, length);
  }
  out.get()[room.before + length++] = probe;
  for (;;) {
    if (length >= limit) {
      return Refuse(TooLarge(), out, length);
    }
    if (Space(out, room, length) == 0 && !Grow(out, room, length)) {
      return Refuse(OutOfMemory(), out, length);
    }
    const std::size_t more =
        std::fread(out.get() + room.before + length, 1, Space(out, room, length), file);
    if (more == 0) {
      return EndOrFailure(file);
    }
    length += more;
  }
}

}  // namespace

Outcome ReadWholeFile(std::FILE* file, Room room, std::size_t limit,
                      std::int64_t expected, HeapBlock& out, std::size_t& length) {
  length = 0;
  if (expected < 0) {
    expected = Expected(file);
  }
  if (expected >= 0 && static_cast<std::uint64_t>(expected) >= limit) {
    out.Release();
    return TooLarge();
  }
  const auto size = static_cast<std::size_t>(std::max<std::int64_t>(expected, 0));
  out = HeapBlock::ForWholeFile(room.before + size + room.after);
  if (!out) {
    return OutOfMemory();
  }
  // One large read straight into the block, for the size expected.
  errno = 0;
  length = std::fread(out.get() + room.before, 1, size, file);
  if (length < size) {
    return EndOrFailure(file);
  }
  return ReadTail(file, room, limit, out, length);
}

}  // namespace mirdcng
