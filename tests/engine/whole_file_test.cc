// ReadWholeFile: the size limit, files whose size is not what was measured,
// and reads that fail; the room kept around the bytes, whatever happens.
#include "engine/whole_file.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>

#include <csignal>
#endif
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "platform/share_open.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::PatternBytes;
using testing::TempDir;

// Opened with the test's own stdio, not through the library.
platform::File OpenForReading(const std::string& path) {
  return platform::File(std::fopen(path.c_str(), "rb"));
}

// Room for a header and a tag, as the operations keep it.
constexpr Room kRoom{18, 7};

// Read is one ReadWholeFile with kRoom, and what it gave.
struct Read {
  Read(std::FILE* file, std::size_t limit, std::int64_t expected = -1)
      : outcome(ReadWholeFile(file, kRoom, limit, expected, block, length)) {}

  // Contents are the bytes read, checked to lie within the block, behind the
  // room before them and ahead of the room after them.
  Bytes Contents() const {
    if (!block) {
      return {};
    }
    EXPECT_GE(block.size(), kRoom.before + length + kRoom.after);
    return Bytes(block.get() + kRoom.before, block.get() + kRoom.before + length);
  }

  HeapBlock block;
  std::size_t length = 0;
  Outcome outcome;
};

// Measured here, or by the platform's open, which hands its measure on (and
// the file's identity with it).
TEST(ReadWholeFile, RefusesAFileAtTheLimitBeforeReadingIt) {
  TempDir dir;
  struct Case {
    std::size_t size;
    std::size_t limit;
    Cause expected;
  };
  const Case cases[] = {
      {0, 1, Cause::kDone},          {99, 100, Cause::kDone},
      {100, 100, Cause::kTooLarge},  {100, 101, Cause::kDone},
      {5000, 100, Cause::kTooLarge},
  };
  for (const bool measured_by_open : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.size) + " bytes, limit " + std::to_string(c.limit) +
                   (measured_by_open ? ", measured by the open" : ""));
      const Bytes content = PatternBytes(c.size, static_cast<std::uint32_t>(c.size));
      dir.Write("file", content);
      platform::Opened opened;
      if (measured_by_open) {
        opened = platform::OpenForReading(dir.Path("file").c_str());
        EXPECT_EQ(opened.size, static_cast<std::int64_t>(c.size));
        EXPECT_EQ(opened.identity, platform::IdentityOf(dir.Path("file").c_str()));
      } else {
        opened.file = OpenForReading(dir.Path("file"));
      }
      ASSERT_NE(opened.file, nullptr);
      const Read read(opened.file.get(), c.limit, opened.size);
      EXPECT_EQ(read.outcome.cause, c.expected);
      if (c.expected == Cause::kDone) {
        EXPECT_EQ(read.Contents(), content);
      } else {
        EXPECT_FALSE(read.block);
        EXPECT_EQ(std::ftell(opened.file.get()), 0) << "nothing was read";
      }
    }
  }
}

TEST(ReadWholeFile, TakesWhatIsThereWhenFewerBytesArrive) {
  TempDir dir;
  const Bytes content = PatternBytes(300);
  dir.Write("file", content);
  platform::File file = OpenForReading(dir.Path("file"));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fseek(file.get(), 100, SEEK_SET), 0);
  const Read read(file.get(), 1000);
  EXPECT_EQ(read.outcome.cause, Cause::kDone);
  EXPECT_EQ(read.Contents(), Bytes(content.begin() + 100, content.end()));
}

// A regular file whose content outruns its measured size, as a file that grows
// while it is read does: the kernel's files measure 0 bytes. Opened as the
// library opens files, which takes them for the regular files they are.
TEST(ReadWholeFile, ReadsPastTheMeasuredSizeUpToTheLimit) {
  const std::string path = "/proc/self/cmdline";
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0) {
    GTEST_SKIP() << "no file that measures smaller than its content here";
  }
  std::ifstream in(path, std::ios::binary);
  const Bytes expected{std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>()};
  ASSERT_FALSE(expected.empty());

  struct Case {
    std::size_t limit;
    Cause result;
  };
  for (const Case c : {Case{expected.size() + 1, Cause::kDone},
                       Case{expected.size(), Cause::kTooLarge}}) {
    SCOPED_TRACE("limit " + std::to_string(c.limit));
    platform::File file = platform::OpenForReading(path.c_str()).file;
    ASSERT_NE(file, nullptr);
    const Read read(file.get(), c.limit);
    EXPECT_EQ(read.outcome.cause, c.result);
    EXPECT_EQ(read.Contents(), c.result == Cause::kDone ? expected : Bytes());
  }
}

#if !defined(_WIN32)
// A pipe has no size at all; its bytes arrive while it is read, and its
// block grows several times over, past the size from which blocks are mapped.
TEST(ReadWholeFile, ReadsAFileOfUnknownSizeToItsEnd) {
  TempDir dir;
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reader stops early when the pipe runs over the limit.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const Bytes content = PatternBytes(1536 * 1024 + 5);
  struct Case {
    std::size_t limit;
    Cause result;
  };
  for (const Case c :
       {Case{content.size() + 1, Cause::kDone}, Case{content.size(), Cause::kTooLarge},
        Case{100 * 1024, Cause::kTooLarge}}) {
    SCOPED_TRACE("limit " + std::to_string(c.limit));
    std::thread writer([&] {
      std::FILE* out = std::fopen(fifo.c_str(), "wb");
      if (out == nullptr) {
        return;
      }
      for (std::size_t at = 0; at < content.size(); at += 4096) {
        const std::size_t piece = std::min<std::size_t>(4096, content.size() - at);
        if (std::fwrite(content.data() + at, 1, piece, out) != piece ||
            std::fflush(out) != 0) {
          break;
        }
      }
      std::fclose(out);
    });
    std::optional<Read> read;
    {
      platform::File file = OpenForReading(fifo);
      if (file != nullptr) {
        read.emplace(file.get(), c.limit);
      }
    }
    writer.join();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->outcome.cause, c.result);
    EXPECT_EQ(read->Contents(), c.result == Cause::kDone ? content : Bytes());
  }
  std::signal(SIGPIPE, previous);
}
#endif  // !_WIN32

TEST(ReadWholeFile, ReportsAFailedRead) {
  TempDir dir;
  // The C library opens a directory for reading; reading it fails.
  platform::File file = OpenForReading(dir.root().string());
  if (file == nullptr) {
    GTEST_SKIP() << "directories do not open as streams here";
  }
  const Read read(file.get(), 1000);
  EXPECT_EQ(read.outcome.cause, Cause::kSourceUnreadable);
  EXPECT_EQ(read.outcome.error, EISDIR) << "the system's reason comes with it";
}

}  // namespace
}  // namespace mirdcng
