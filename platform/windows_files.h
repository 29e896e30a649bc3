// What the Windows file helpers share: the share mode that denies nothing, and
// the one place where Windows' error codes become errno values, so that every
// failure the platform layer reports reads the same on every system.
#ifndef MIRDCNG_PLATFORM_WINDOWS_FILES_H_
#define MIRDCNG_PLATFORM_WINDOWS_FILES_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The C runtime's own headers after windows.h, as its documentation has them.
#include <fcntl.h>
#include <io.h>

#include <cerrno>

namespace mirdcng::platform {

// Every file the library opens shares reading, writing and deletion with
// every other opener.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ErrnoOf returns the errno nearest to `error`, a GetLastError() value; EIO
// for those that have none.
inline int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_NAME:
      return EINVAL;
    default:
      return EIO;
  }
}

}  // namespace mirdcng::platform

#endif  // MIRDCNG_PLATFORM_WINDOWS_FILES_H_
