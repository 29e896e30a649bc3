#include "tests/pipe/pipe_test_support.h"

#include <gtest/gtest.h>

#include <vector>

#include "mirdcng/mirdcng.h"

namespace mirdcng::testing {

Stream OpenAsCaller(const std::string& path, std::size_t consumed) {
  Stream stream(std::fopen(path.c_str(), "rb"));
  if (stream && consumed > 0) {
    std::vector<std::uint8_t> skipped(consumed);
    EXPECT_EQ(std::fread(skipped.data(), 1, consumed, stream.get()), consumed);
  }
  return stream;
}

Bytes ReadToEnd(zulpipe* pipe) {
  Bytes all;
  std::vector<std::uint8_t> buffer(std::size_t{64} << 10);
  for (;;) {
    const long long got =
        zulread(pipe, buffer.data(), static_cast<long long>(buffer.size()));
    EXPECT_GE(got, 0) << "a read failed";
    if (got <= 0) {
      return all;
    }
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
}

bool IsQueuePipe(zulpipe* pipe) { return zulwrite(pipe, nullptr, 0) == 0; }

std::string Seal(const TempDir& dir, const std::string& name, const Bytes& plaintext,
                 const std::string& tag) {
  const std::string source = dir.Path(name + ".plain.EBS");
  const std::string container = dir.Path(name);
  dir.Write(name + ".plain.EBS", plaintext);
  int err = -1;
  EXPECT_TRUE(cng_77x(source.c_str(), container.c_str(), tag.c_str(), err))
      << "cng_77x refused " << name << ", code " << err;
  return container;
}

Bytes Plaintext(std::size_t size, std::uint32_t seed) {
  Bytes bytes = PatternBytes(size, seed);
  if (!bytes.empty()) {
    bytes[0] = 'p';
  }
  return bytes;
}

}  // namespace mirdcng::testing
