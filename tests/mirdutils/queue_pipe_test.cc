#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mirdutils/fault_injection.h"
#include "mirdutils/mirdutils.h"
#include "pipe/stream_factory.h"
#include "platform/blocks.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// Reads `pipe` to its end in reads of `step` bytes; every read must succeed.
Bytes ReadToEnd(zulpipe* pipe, std::size_t step) {
  Bytes all;
  Bytes buffer(step);
  for (;;) {
    const long long got = zulread(pipe, buffer.data(), static_cast<long long>(step));
    EXPECT_GE(got, 0);
    EXPECT_LE(got, static_cast<long long>(step));
    if (got <= 0) {
      return all;
    }
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
}

long long Write(zulpipe* pipe, const Bytes& bytes) {
  return zulwrite(pipe, bytes.data(), static_cast<long long>(bytes.size()));
}

struct PipeCloser {
  void operator()(zulpipe* pipe) const { zulclose(pipe); }
};
using Pipe = std::unique_ptr<zulpipe, PipeCloser>;

TEST(QueuePipeTest, BytesComeBackInTheOrderWrittenWhateverTheReadSize) {
  // Sizes around the pipe's chunk size, an empty write among them.
  const std::size_t write_sizes[] = {1, 0, 100, 65535, 2, 65536, 70000, 3, 200000};
  Bytes written;
  std::vector<Bytes> pieces;
  std::uint32_t seed = 1;
  for (const std::size_t size : write_sizes) {
    pieces.push_back(Pattern(size, seed++));
    written.insert(written.end(), pieces.back().begin(), pieces.back().end());
  }
  for (const std::size_t step : {std::size_t{1}, std::size_t{7}, std::size_t{4096},
                                 std::size_t{65536}, std::size_t{1} << 20}) {
    SCOPED_TRACE("read step " + std::to_string(step));
    Pipe pipe(create_queue_zulpipe());
    ASSERT_NE(pipe, nullptr);
    for (const Bytes& piece : pieces) {
      ASSERT_EQ(Write(pipe.get(), piece), static_cast<long long>(piece.size()));
    }
    EXPECT_EQ(ReadToEnd(pipe.get(), step), written);
  }
}

TEST(QueuePipeTest, ReadsTakeWhatIsThereThenEndUntilWrittenAgain) {
  Pipe pipe(create_queue_zulpipe());
  ASSERT_NE(pipe, nullptr);
  std::uint8_t buffer[100] = {};

  EXPECT_EQ(zulread(pipe.get(), buffer, 100), 0) << "a new pipe is empty";
  const Bytes first = Pattern(10, 1);
  ASSERT_EQ(Write(pipe.get(), first), 10);
  EXPECT_EQ(zulread(pipe.get(), buffer, 4), 4);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(first.begin(), first.begin() + 4));
  EXPECT_EQ(zulread(pipe.get(), buffer, 0), 0) << "a read of nothing moves nothing";
  EXPECT_EQ(zulread(pipe.get(), buffer, 100), 6) << "a partial read";
  EXPECT_EQ(Bytes(buffer, buffer + 6), Bytes(first.begin() + 4, first.end()));
  EXPECT_EQ(zulread(pipe.get(), buffer, 100), 0);
  EXPECT_EQ(zulread(pipe.get(), buffer, 100), 0) << "the end stays the end";

  // Written again after its end, then closed while still holding bytes.
  const Bytes second = Pattern(3, 2);
  ASSERT_EQ(Write(pipe.get(), second), 3);
  ASSERT_EQ(Write(pipe.get(), Pattern(5000, 3)), 5000);
  EXPECT_EQ(zulread(pipe.get(), buffer, 3), 3);
  EXPECT_EQ(Bytes(buffer, buffer + 3), second);
}

TEST(QueuePipeTest, WritesAndReadsInterleaveWithoutLosingOrder) {
  Pipe pipe(create_queue_zulpipe());
  ASSERT_NE(pipe, nullptr);
  Bytes written;
  Bytes read;
  Bytes buffer(50000);
  for (std::uint32_t round = 0; round < 40; ++round) {
    const Bytes piece = Pattern(1 + round * 3001 % 90000, round);
    ASSERT_EQ(Write(pipe.get(), piece), static_cast<long long>(piece.size()));
    written.insert(written.end(), piece.begin(), piece.end());
    const long long got = zulread(pipe.get(), buffer.data(),
                                  static_cast<long long>(1 + round * 977 % 50000));
    ASSERT_GE(got, 0);
    read.insert(read.end(), buffer.begin(), buffer.begin() + got);
  }
  const Bytes rest = ReadToEnd(pipe.get(), 12345);
  read.insert(read.end(), rest.begin(), rest.end());
  EXPECT_EQ(read, written);
}

TEST(QueuePipeTest, OneLargeWriteIsTakenWholeAndReadBackInPieces) {
  const Bytes large = Pattern(std::size_t{40} << 20, 9);
  Pipe pipe(create_queue_zulpipe());
  ASSERT_NE(pipe, nullptr);
  ASSERT_EQ(Write(pipe.get(), Pattern(5, 8)), 5) << "a small chunk before it";
  ASSERT_EQ(Write(pipe.get(), large), static_cast<long long>(large.size()));
  std::uint8_t head[5];
  ASSERT_EQ(zulread(pipe.get(), head, 5), 5);
  EXPECT_EQ(ReadToEnd(pipe.get(), (std::size_t{1} << 20) + 13), large);
}

TEST(QueuePipeTest, RefusedCallsChangeNothing) {
  Pipe pipe(create_queue_zulpipe());
  ASSERT_NE(pipe, nullptr);
  const Bytes kept = Pattern(20, 4);
  ASSERT_EQ(Write(pipe.get(), kept), 20);
  std::uint8_t buffer[8] = {};

  EXPECT_LT(zulwrite(nullptr, kept.data(), 1), 0);
  EXPECT_LT(zulwrite(pipe.get(), nullptr, 1), 0);
  EXPECT_LT(zulwrite(pipe.get(), kept.data(), -1), 0);
  EXPECT_EQ(zulwrite(pipe.get(), nullptr, 0), 0);
  EXPECT_LT(zulread(nullptr, buffer, 1), 0);
  EXPECT_LT(zulread(pipe.get(), nullptr, 1), 0);
  EXPECT_LT(zulread(pipe.get(), buffer, -8), 0);
  EXPECT_EQ(zulread(pipe.get(), nullptr, 0), 0);
  zulclose(nullptr);

  EXPECT_EQ(ReadToEnd(pipe.get(), 64), kept);
}

// The adoption entry point, as libmirdcng finds it. A block it refuses is
// still the caller's, and is freed here: under AddressSanitizer a block freed
// twice, or by no one, fails the run.
long long Adopt(zulpipe* pipe, const Bytes& bytes) {
  const ZulwriteAdopt adopt = mirdcng::Mirdutils().adopt;
  // Room to spare, as a decrypted block has after its content.
  void* block = mirdcng::blocks::Allocate(bytes.size() + 16);
  if (adopt == nullptr || block == nullptr) {
    ADD_FAILURE() << "no adoption entry point, or no block";
    mirdcng::blocks::Free(block, mirdcng::blocks::Wipe::kNo);
    return -2;
  }
  if (!bytes.empty()) {
    std::memcpy(block, bytes.data(), bytes.size());
  }
  const long long taken = adopt(pipe, block, static_cast<long long>(bytes.size()));
  if (taken < 0) {
    mirdcng::blocks::Free(block, mirdcng::blocks::Wipe::kYes);
  }
  return taken;
}

// An adopted block is read in its place among the writes, and only as far as
// its size says; a block that is refused stays the caller's.
TEST(QueuePipeTest, AnAdoptedBlockIsReadInItsPlaceAndARefusedOneStaysTheCallers) {
  Pipe pipe(create_queue_zulpipe());
  ASSERT_NE(pipe, nullptr);
  const Bytes before = Pattern(100, 1);
  const Bytes adopted = Pattern((std::size_t{3} << 20) + 5, 2);
  const Bytes after = Pattern(70, 3);
  ASSERT_EQ(Write(pipe.get(), before), 100);
  ASSERT_EQ(Adopt(pipe.get(), adopted), static_cast<long long>(adopted.size()));
  EXPECT_EQ(Adopt(pipe.get(), Bytes()), 0);
  ASSERT_EQ(Write(pipe.get(), after), 70);

  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  Pipe stream_pipe(create_binary_stream_zulpipe(stream, nullptr, true));
  EXPECT_LT(Adopt(nullptr, Pattern(5, 4)), 0);
  EXPECT_LT(Adopt(stream_pipe.get(), Pattern(5, 4)), 0) << "a stream pipe takes nothing";
  const ZulwriteAdopt adopt = mirdcng::Mirdutils().adopt;
  EXPECT_LT(adopt(pipe.get(), nullptr, 5), 0);
  void* refused = mirdcng::blocks::Allocate(5);
  EXPECT_LT(adopt(pipe.get(), refused, -5), 0);
  mirdcng::blocks::Free(refused, mirdcng::blocks::Wipe::kNo);

  Bytes expected = before;
  expected.insert(expected.end(), adopted.begin(), adopted.end());
  expected.insert(expected.end(), after.begin(), after.end());
  EXPECT_EQ(ReadToEnd(pipe.get(), 65536), expected);
}

#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
// A reader that never saw the failed write's result must not take the bytes
// written before it for the whole content. An adoption that finds no memory
// for its record takes nothing and loses nothing: the pipe goes on.
TEST(QueuePipeTest, AWriteThatFindsNoMemoryFailsThePipeForGood) {
  struct Case {
    const char* label;
    long long (*write)(zulpipe*, const Bytes&);
    bool fails_the_pipe;
  };
  const Case cases[] = {{"zulwrite, which needs a new chunk", Write, true},
                        {"an adoption, which needs the chunk's record", Adopt, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Pipe pipe(create_queue_zulpipe());
    ASSERT_NE(pipe, nullptr);
    ASSERT_EQ(Write(pipe.get(), Pattern(10, 1)), 10);
    mirdutils::testing::FailAllocation(1);
    EXPECT_LT(c.write(pipe.get(), Pattern(std::size_t{1} << 16, 2)), 0);
    EXPECT_TRUE(mirdutils::testing::AllocationFailed());
    mirdutils::testing::FailAllocation(0);
    if (c.fails_the_pipe) {
      std::uint8_t buffer[16];
      EXPECT_LT(zulread(pipe.get(), buffer, 16), 0);
      EXPECT_LT(c.write(pipe.get(), Pattern(1, 3)), 0);
      EXPECT_LT(zulread(pipe.get(), buffer, 16), 0);
    } else {
      EXPECT_EQ(c.write(pipe.get(), Pattern(1, 3)), 1);
      Bytes expected = Pattern(10, 1);
      expected.push_back(Pattern(1, 3)[0]);
      EXPECT_EQ(ReadToEnd(pipe.get(), 64), expected);
    }
  }
}
#endif

}  // namespace
