// The stream factory behind create_cng77_pipe: try to decrypt the named file
// into memory, and serve the caller's stream raw when that does not happen.
#ifndef MIRDCNG_PIPE_STREAM_FACTORY_H_
#define MIRDCNG_PIPE_STREAM_FACTORY_H_

#include <cstdio>

#include "engine/outcome.h"
#include "mirdutils/adopt.h"
#include "mirdutils/mirdutils.h"

namespace mirdcng {

// PipeLibrary names the pipe library's functions that the factory calls, so
// that the factory can be run against a stand-in that fails on purpose. The
// first three are all that the library imports from the pipe library.
struct PipeLibrary {
  zulpipe* (*create_queue)();
  long long (*write)(zulpipe* pipe, const void* data, long long size);
  zulpipe* (*create_binary_stream)(std::FILE* stream, const char* name, bool owns_stream);
  // The pipe library's adoption entry point (mirdutils/adopt.h) where the
  // module that provides `write` has it, else null: the plaintext is then
  // copied in with `write`, as it is when the adoption is refused.
  ZulwriteAdopt adopt = nullptr;
};

// Mirdutils returns the real one: the pipe library the process has loaded.
const PipeLibrary& Mirdutils();

// OpenAsPipe does what create_cng77_pipe promises (mirdcng/mirdcng.h), with
// `pipes` as the pipe library. Where the caller's stream is served instead of
// a plaintext and `declined` is given, it receives why: kNotEncrypted for a
// plain file, or what kept a file from being decrypted. It is left as it was
// otherwise.
[[nodiscard]] zulpipe* OpenAsPipe(std::FILE* file, const char* name, bool flag, int& err,
                                  const PipeLibrary& pipes, Outcome* declined = nullptr);

}  // namespace mirdcng

#endif  // MIRDCNG_PIPE_STREAM_FACTORY_H_
