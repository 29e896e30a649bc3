// What the stream factory's tests share: owners for streams and pipes, and
// ways to make and read the files they open.
#ifndef MIRDCNG_TESTS_PIPE_PIPE_TEST_SUPPORT_H_
#define MIRDCNG_TESTS_PIPE_PIPE_TEST_SUPPORT_H_

#include <cstdio>
#include <memory>
#include <string>

#include "mirdutils/mirdutils.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {

// A code the caller set before the call, which the factory must leave alone
// whenever it does not return null.
inline constexpr int kCallersCode = 7;

struct StreamCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using Stream = std::unique_ptr<std::FILE, StreamCloser>;

struct PipeCloser {
  void operator()(zulpipe* pipe) const { zulclose(pipe); }
};
using Pipe = std::unique_ptr<zulpipe, PipeCloser>;

// OpenAsCaller opens `path` as the host would, and reads `consumed` bytes of
// it first.
Stream OpenAsCaller(const std::string& path, std::size_t consumed = 0);

// ReadToEnd reads `pipe` until it ends; a failed read fails the test.
Bytes ReadToEnd(zulpipe* pipe);

// IsQueuePipe tells the two kinds of pipe apart: only a stream pipe refuses a
// write of nothing.
bool IsQueuePipe(zulpipe* pipe);

// Seal encrypts `plaintext` with `tag` through cng_77x into `name` inside
// `dir` and returns the container's path. `name` should end in ".EBS", which
// the naming rule leaves as it is.
std::string Seal(const TempDir& dir, const std::string& name, const Bytes& plaintext,
                 const std::string& tag);

// Plaintext returns `size` pattern bytes that cng_77x accepts (the first is
// not the container marker).
Bytes Plaintext(std::size_t size, std::uint32_t seed);

}  // namespace mirdcng::testing

#endif  // MIRDCNG_TESTS_PIPE_PIPE_TEST_SUPPORT_H_
