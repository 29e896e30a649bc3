// Windows: files opened with CreateFile sharing read, write and delete with
// every other opener, so that the host's own handles of the same file stay
// usable while the library works on it, and the library's handle never stops
// a file from being replaced. The handle then becomes a C runtime stream.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include "platform/share_open.h"
#include "platform/windows_files.h"

namespace mirdcng::platform {
namespace {

// Open opens `path` with `access` and `disposition`, and makes a stream of
// mode `mode` of it once it is known to be a file on a disk (not a device, a
// pipe or a console). A null security descriptor: the handle is not
// inherited. `truncate` empties the file after that check.
Opened Open(const char* path, DWORD access, DWORD disposition, int flags,
            const char* mode, bool truncate) {
  HANDLE handle = CreateFileA(path, access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Opened{nullptr, false, ErrnoOf(GetLastError())};
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return Opened{nullptr, true, 0};
  }
  if (truncate && !SetEndOfFile(handle)) {
    const int error = ErrnoOf(GetLastError());
    CloseHandle(handle);
    return Opened{nullptr, false, error};
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                         flags | _O_BINARY | _O_NOINHERIT);
  if (descriptor < 0) {
    CloseHandle(handle);
    return Opened{nullptr, false, EMFILE};
  }
  File file(_fdopen(descriptor, mode));
  if (!file) {
    const int error = errno;
    _close(descriptor);  // closes the handle too
    return Opened{nullptr, false, error};
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return Opened{std::move(file), false, 0};
}

}  // namespace

Opened OpenForReading(const char* path) {
  return Open(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY, "rb", false);
}

Opened OpenForWriting(const char* path) {
  return Open(path, GENERIC_WRITE, OPEN_ALWAYS, _O_WRONLY, "wb", true);
}

std::int64_t FileSize(std::FILE* file) {
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFREG) == 0) {
    return -1;
  }
  return static_cast<std::int64_t>(info.st_size);
}

int CloseFile(File file) { return std::fclose(file.release()) == 0 ? 0 : errno; }

bool CanRewind(std::FILE* file) {
  const int descriptor = _fileno(file);
  if (descriptor < 0) {
    return false;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

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
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::optional<FileIdentity> identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
}

}  // namespace mirdcng::platform
