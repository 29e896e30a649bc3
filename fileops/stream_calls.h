// The mirdcng command's calls with a stream at either end: standard input,
// read whole, in place of a source file, and standard output in place of a
// destination file. Each is the file call it stands for, with its
// guarantees: the source is read whole before anything is written, and a
// destination, file or stream, receives bytes only once the whole result
// exists (for decryption, once the tag has matched). Paths are taken as
// named. Not exported: the library's own calls name files.
#ifndef MIRDCNG_FILEOPS_STREAM_CALLS_H_
#define MIRDCNG_FILEOPS_STREAM_CALLS_H_

#include <cstdio>
#include <string>

#include "engine/outcome.h"
#include "platform/share_open.h"

namespace mirdcng {

// Where a call takes its bytes from: the file `path`, or the open `stream`
// when it is set, read from where it stands to its end (the call's to
// close).
struct CallSource {
  std::string path;
  platform::File stream;
};

// Where a call puts its result: the file `path`, replaced as the exports
// replace their destinations, or the open `stream` when it is set (written
// and flushed, not closed).
struct CallSink {
  std::string path;
  std::FILE* stream = nullptr;
};

// RunEncryptCall seals `from` with `tag` into `to`, as cng_77x does.
[[nodiscard]] Outcome RunEncryptCall(CallSource from, const CallSink& to,
                                     const char* tag);

// RunDecryptCall unseals `from` into `to` when `tag` is the one sealed, as
// cng_77z does.
[[nodiscard]] Outcome RunDecryptCall(CallSource from, const CallSink& to,
                                     const char* tag);

// RunShowStream writes to `out` what the framework would read of a file that
// held the bytes of `in`: a whole container's plaintext (its trailer dropped,
// as the stream factory drops it), anything else as it is, passed through as
// it comes from the first byte that shows it is no container. A whole
// container that does not decrypt writes nothing and is kMalformed (or the
// reason it was not read). `decrypted` says which it was.
[[nodiscard]] Outcome RunShowStream(platform::File in, std::FILE* out, bool& decrypted);

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_STREAM_CALLS_H_
