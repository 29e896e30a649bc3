// Whole-file buffers and their reads and writes at the sizes where the way
// they work changes: the largest destination gathered into one write, and the
// smallest buffer mapped on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/byte_buffer.h"
#include "engine/whole_file.h"
#include "fileops/replace_file.h"
#include "platform/share_open.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::PatternBytes;
using testing::TempDir;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = kKiB * kKiB;

TEST(WholeFileSizes, WritesEveryPieceWhateverTheTotal) {
  TempDir dir;
  for (const std::size_t body_size :
       {std::size_t{0}, std::size_t{1}, 64 * kKiB - 19, 64 * kKiB - 18, 64 * kKiB - 17,
        64 * kKiB, 3 * kMiB + 1}) {
    SCOPED_TRACE(std::to_string(body_size) + " bytes after the head");
    // What was there before is longer: it must not show through.
    dir.Write("out", PatternBytes(body_size + 100, 7));
    const Bytes head = {0xDD, 3};
    const Bytes iv = PatternBytes(16, 2);
    const Bytes body = PatternBytes(body_size, 3);
    ASSERT_TRUE(WriteDestination(dir.Path("out"), {head, iv, body}, {}).done());
    Bytes expected = head;
    expected.insert(expected.end(), iv.begin(), iv.end());
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(dir.Read("out"), expected);
  }
}

TEST(WholeFileSizes, ReadsWholeAtEverySize) {
  TempDir dir;
  constexpr Room kRoom{18, 5};
  for (const std::size_t size :
       {std::size_t{0}, 4 * kKiB, kMiB - 18 - 5 - 1, kMiB - 18 - 5, kMiB, 3 * kMiB + 7}) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    const Bytes content = PatternBytes(size, static_cast<std::uint32_t>(size));
    dir.Write("in", content);
    platform::Opened opened = platform::OpenForReading(dir.Path("in").c_str());
    ASSERT_NE(opened.file, nullptr);
    HeapBlock block;
    std::size_t length = 0;
    ASSERT_TRUE(ReadWholeFile(opened.file.get(), kRoom, std::size_t{1} << 31, opened.size,
                              block, length)
                    .done());
    EXPECT_EQ(Bytes(block.get() + kRoom.before, block.get() + kRoom.before + length),
              content);
    EXPECT_GE(block.size(), kRoom.before + size + kRoom.after);
  }
}

TEST(WholeFileSizes, BufferKeepsItsBytesWhileGrowingIntoMappedMemory) {
  const Bytes content = PatternBytes(3 * kMiB + 11, 5);
  ByteBuffer buffer;
  // Small steps at first, from the C allocator, then past the mapped size.
  for (std::size_t at = 0; at < content.size();) {
    const std::size_t step = at < 64 * kKiB ? 1000 : 700 * kKiB;
    const std::size_t end = std::min(content.size(), at + step);
    buffer.insert(buffer.end(), content.begin() + static_cast<std::ptrdiff_t>(at),
                  content.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), content);
  ByteBuffer moved = std::move(buffer);
  EXPECT_EQ(Bytes(moved.begin(), moved.end()), content);
}

}  // namespace
}  // namespace mirdcng
