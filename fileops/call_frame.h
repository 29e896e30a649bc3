// The call frame that both file exports run, step for step: null test, result
// code 0, the naming rule on both paths, the source check, an engine built
// with the caller's tag, one operation, the engine destroyed.
#ifndef MIRDCNG_FILEOPS_CALL_FRAME_H_
#define MIRDCNG_FILEOPS_CALL_FRAME_H_

#include <cstdio>
#include <string>

#include "engine/cng_manager.h"
#include "engine/outcome.h"

namespace mirdcng {

// An engine operation from one file to another: EncryptFile or DecryptFile.
using FileOperation = bool (CNGManager::*)(std::string src, std::string dst, int& err);

// RunFileCall runs `operation` on `src` and `dst` under the call frame. Writes
// 2 into `err` (and returns false) when a path is null, else 0, then 3 when
// the source cannot be opened for reading or is not a regular file; the
// operation may write more. A null `tag` is the empty tag. Exceptions of the
// standard library pass through after everything built here is released.
[[nodiscard]] bool RunFileCall(const char* src, const char* dst, const char* tag,
                               int& err, FileOperation operation);

// How the command-only calls below take their paths: through the naming
// rule, as the exports do (a host's call, reproduced), or literally, as a
// person at a shell names files.
enum class Paths { kNamingRule, kLiteral };

// RunFileCall, without `err`, returns the call's outcome instead: why it
// failed, with the system's reason (engine/outcome.h). It is the same call as
// the export's, for the mirdcng command, which links the library's objects
// and names the cause in its messages; the shared library does not export it.
[[nodiscard]] Outcome RunFileCall(const char* src, const char* dst, const char* tag,
                                  FileOperation operation,
                                  Paths paths = Paths::kNamingRule);

// An engine operation from a file to an open stream: EncryptToStream or
// DecryptToStream.
using StreamOperation = bool (CNGManager::*)(std::string src, std::FILE* out);

// RunToStream is cng_77x's or cng_77z's call with the open stream `out` for
// destination (`operation`): the naming rule on `src` (unless `paths` says
// literal), the source check, an engine with `tag`. The result reaches
// `out`, flushed, only once it is whole (for decryption, once the tag
// matched); every refusal writes nothing. A null `out` only checks that
// `src` goes through. Not exported: it serves the mirdcng command's `-` and
// `verify`.
[[nodiscard]] Outcome RunToStream(const char* src, const char* tag, std::FILE* out,
                                  StreamOperation operation,
                                  Paths paths = Paths::kNamingRule);

// CheckSource reports whether `path` is a regular file that can be opened for
// reading (kDone), sharing it with every other opener; kSourceUnopened with
// the system's error, or kSourceNotRegular, when not. Nothing is read, and
// the file is closed again before it returns.
[[nodiscard]] Outcome CheckSource(const std::string& path);

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_CALL_FRAME_H_
