// Windows: the C runtime's share-mode open, so that the host's own handles of
// the same file stay usable while the library works on it.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The C runtime's own headers after windows.h, as its documentation has them.
#include <io.h>
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

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
    return std::nullopt;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOf(std::FILE* file) {
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

std::optional<FileIdentity> IdentityOf(const char* path) {
  // Attributes only, shared with everyone: the host may hold the file open.
  HANDLE handle = CreateFileA(
      path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::optional<FileIdentity> identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

}  // namespace mirdcng::platform
