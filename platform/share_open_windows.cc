// Windows: the C runtime's share-mode open, so that the host's own handles of
// the same file stay usable while the library works on it.
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/share_open.h"

namespace mirdcng::platform {

File OpenShared(const char* path, const char* mode) {
  return File(_fsopen(path, mode, _SH_DENYNO));
}

std::int64_t FileSize(std::FILE* file) {
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

}  // namespace mirdcng::platform
