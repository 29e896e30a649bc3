// POSIX has no mandatory share modes: every open already shares everything.
#include <sys/stat.h>

#include "platform/share_open.h"

namespace mirdcng::platform {

File OpenShared(const char* path, const char* mode) {
  return File(std::fopen(path, mode));
}

std::int64_t FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

}  // namespace mirdcng::platform
