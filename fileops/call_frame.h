// The call frame that both file exports run, step for step: null test, result
// code 0, the naming rule on both paths, the source check, an engine built
// with the caller's tag, one operation, the engine destroyed.
#ifndef MIRDCNG_FILEOPS_CALL_FRAME_H_
#define MIRDCNG_FILEOPS_CALL_FRAME_H_

#include <string>

#include "engine/cng_manager.h"

namespace mirdcng {

// An engine operation from one file to another: EncryptFile or DecryptFile.
using FileOperation = bool (CNGManager::*)(std::string src, std::string dst, int& err);

// RunFileCall runs `operation` on `src` and `dst` under the call frame. Writes
// 2 into `err` (and returns false) when a path is null, else 0, then 3 when
// the source cannot be opened for reading; the operation may write more. A
// null `tag` is the empty tag. Exceptions of the standard library pass through
// after everything built here is released.
[[nodiscard]] bool RunFileCall(const char* src, const char* dst, const char* tag,
                               int& err, FileOperation operation);

// SourceOpens reports whether `path` can be opened for reading, sharing it
// with every other opener. The file is closed again before it returns.
[[nodiscard]] bool SourceOpens(const std::string& path);

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_CALL_FRAME_H_
