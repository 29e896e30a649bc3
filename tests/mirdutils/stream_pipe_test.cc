#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "mirdutils/mirdutils.h"

#if !defined(_WIN32)
#include <fcntl.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes a text-mode stream would change, and a NUL.
const Bytes kContent = {'a', '\r', '\n', 0x00, 0x1A, 0xFF, '\n', 'z', 0xDD, '\r'};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct PipeCloser {
  void operator()(zulpipe* pipe) const { zulclose(pipe); }
};
using Pipe = std::unique_ptr<zulpipe, PipeCloser>;

File TempFileWith(const Bytes& content) {
  File file(std::tmpfile());
  if (file) {
    std::fwrite(content.data(), 1, content.size(), file.get());
    std::rewind(file.get());
  }
  return file;
}

Bytes ReadToEnd(zulpipe* pipe, std::size_t step) {
  Bytes all;
  Bytes buffer(step);
  for (;;) {
    const long long got = zulread(pipe, buffer.data(), static_cast<long long>(step));
    EXPECT_GE(got, 0);
    if (got <= 0) {
      return all;
    }
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
}

TEST(StreamPipeTest, ReadsTheStreamUnchangedFromWhereItStands) {
  for (const long start : {0L, 3L, 10L}) {
    for (const std::size_t step :
         {std::size_t{1}, std::size_t{4}, std::size_t{1} << 16}) {
      SCOPED_TRACE("from " + std::to_string(start) + ", step " + std::to_string(step));
      File file = TempFileWith(kContent);
      ASSERT_NE(file, nullptr);
      ASSERT_EQ(std::fseek(file.get(), start, SEEK_SET), 0);
      Pipe pipe(create_binary_stream_zulpipe(file.get(), "content.bin", false));
      ASSERT_NE(pipe, nullptr);
      EXPECT_EQ(ReadToEnd(pipe.get(), step),
                Bytes(kContent.begin() + start, kContent.end()));
      std::uint8_t byte = 0;
      EXPECT_EQ(zulread(pipe.get(), &byte, 1), 0) << "the end stays the end";
    }
  }
}

TEST(StreamPipeTest, CannotBeWrittenAndNeedsNoName) {
  File file = TempFileWith(kContent);
  ASSERT_NE(file, nullptr);
  Pipe pipe(create_binary_stream_zulpipe(file.get(), nullptr, false));
  ASSERT_NE(pipe, nullptr);
  EXPECT_LT(zulwrite(pipe.get(), kContent.data(), 3), 0);
  EXPECT_LT(zulwrite(pipe.get(), nullptr, 0), 0) << "not even nothing";
  EXPECT_EQ(ReadToEnd(pipe.get(), 64), kContent);
}

TEST(StreamPipeTest, NullStreamGivesNoPipe) {
  EXPECT_EQ(create_binary_stream_zulpipe(nullptr, "x", false), nullptr);
  EXPECT_EQ(create_binary_stream_zulpipe(nullptr, "x", true), nullptr);
}

#if !defined(_WIN32)
TEST(StreamPipeTest, ClosesTheStreamOnlyWhenItOwnsIt) {
  for (const bool owns_stream : {false, true}) {
    SCOPED_TRACE(owns_stream ? "owns the stream" : "borrows the stream");
    File file = TempFileWith(kContent);
    ASSERT_NE(file, nullptr);
    const int descriptor = fileno(file.get());
    zulpipe* pipe = create_binary_stream_zulpipe(file.get(), "content.bin", owns_stream);
    ASSERT_NE(pipe, nullptr);
    std::uint8_t byte = 0;
    ASSERT_EQ(zulread(pipe, &byte, 1), 1);
    zulclose(pipe);
    if (owns_stream) {
      static_cast<void>(file.release());  // closed by the pipe
      errno = 0;
      EXPECT_EQ(fcntl(descriptor, F_GETFD), -1);
      EXPECT_EQ(errno, EBADF);
    } else {
      EXPECT_NE(fcntl(descriptor, F_GETFD), -1);
      EXPECT_EQ(std::fgetc(file.get()), kContent[1])
          << "still the caller's, where it was";
    }
  }
}

TEST(StreamPipeTest, AStreamThatCannotBeReadIsAnError) {
  File file(std::fopen("/dev/null", "w"));
  ASSERT_NE(file, nullptr);
  Pipe pipe(create_binary_stream_zulpipe(file.get(), "/dev/null", false));
  ASSERT_NE(pipe, nullptr);
  std::uint8_t buffer[4];
  EXPECT_LT(zulread(pipe.get(), buffer, 4), 0);
}
#endif

}  // namespace
