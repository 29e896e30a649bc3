// The edge of the 32-bit size limit: the largest source cng_77x accepts gives
// a container just below 2^31 bytes, which cng_77z and the pipe read back
// whole; one byte more would give a container of 2^31 bytes or more, which
// nothing could read back, and is refused without a file being written.
//
// The sources are sparse files of zeros. The round trip moves 2 GiB through
// every road, and writes 4 GiB: it runs when MIRDCNG_LARGE_TESTS is set, in
// an optimised build without a sanitizer (half a minute to a minute on
// Linux; unoptimised, the byte buffers' element-wise construction alone takes
// minutes, and so does the Windows build under Wine). The refusal runs always.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/temp_dir.h"

#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__) || \
    defined(__SANITIZE_THREAD__)
#define MIRDCNG_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MIRDCNG_SLOW_BUILD 1
#endif
#endif

namespace mirdcng::testing {
namespace {

namespace fs = std::filesystem;

// CountZeros reads `pipe` to its end and returns how many bytes it served,
// failing the test at the first block that is not all zeros.
[[maybe_unused]] std::uintmax_t CountZeros(zulpipe* pipe) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::vector<std::uint8_t> zeros(kBlock);
  std::vector<std::uint8_t> buffer(kBlock);
  std::uintmax_t served = 0;
  for (long long got; (got = zulread(pipe, buffer.data(), kBlock)) > 0;) {
    if (std::memcmp(buffer.data(), zeros.data(), static_cast<std::size_t>(got)) != 0) {
      ADD_FAILURE() << "a byte that is not zero after " << served;
      break;
    }
    served += static_cast<std::uintmax_t>(got);
  }
  return served;
}

TEST(SizeEdge, TheLargestAcceptedSourceRoundTripsAndOneByteMoreIsRefused) {
  TempDir dir;
  for (const std::string tag : {"", "abc"}) {
    SCOPED_TRACE("tag \"" + tag + "\"");
    dir.Write("first-refused.EBS", "");
    fs::resize_file(dir.Path("first-refused.EBS"), kMaxSealedBytes - tag.size());
    int err = -1;
    EXPECT_FALSE(cng_77x(dir.Path("first-refused.EBS").c_str(),
                         dir.Path("sealed.EBS").c_str(), tag.c_str(), err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(dir.Exists("sealed.EBS"));
  }
#if defined(MIRDCNG_SLOW_BUILD)
  GTEST_SKIP() << "the 2 GiB round trip runs in optimised builds without a sanitizer";
#else
  if (std::getenv("MIRDCNG_LARGE_TESTS") == nullptr) {
    GTEST_SKIP() << "set MIRDCNG_LARGE_TESTS=1 for the 2 GiB round trip";
  }
  const std::uintmax_t last = kMaxSealedBytes - 1;
  dir.Write("last.EBS", "");
  fs::resize_file(dir.Path("last.EBS"), last);
  int err = -1;
  ASSERT_TRUE(
      cng_77x(dir.Path("last.EBS").c_str(), dir.Path("sealed.EBS").c_str(), "", err));
  fs::remove(dir.Path("last.EBS"));
  EXPECT_EQ(fs::file_size(dir.Path("sealed.EBS")), EncryptedFileSize(last));
  EXPECT_LT(fs::file_size(dir.Path("sealed.EBS")), kMaxContentBytes);
  {
    Stream stream = OpenAsCaller(dir.Path("sealed.EBS"));
    Pipe pipe(
        create_cng77_pipe(stream.get(), dir.Path("sealed.EBS").c_str(), false, err));
    ASSERT_NE(pipe, nullptr);
    ASSERT_TRUE(IsQueuePipe(pipe.get()));
    EXPECT_EQ(CountZeros(pipe.get()), last);
  }
  ASSERT_TRUE(
      cng_77z(dir.Path("sealed.EBS").c_str(), dir.Path("sealed.EBS").c_str(), "", err));
  EXPECT_EQ(fs::file_size(dir.Path("sealed.EBS")), last);
#endif
}

}  // namespace
}  // namespace mirdcng::testing
