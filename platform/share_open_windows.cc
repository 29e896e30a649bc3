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

Opened Failed(int error) {
  Opened failed;
  failed.error = error;
  return failed;
}

// What one look at an open handle tells of its file.
struct HandleFacts {
  std::int64_t size = -1;
  std::optional<FileIdentity> identity;
};

HandleFacts FactsOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
    return {};
  }
  return {static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) |
                                    info.nFileSizeLow),
          FileIdentity{info.dwVolumeSerialNumber,
                       (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}};
}

// Open opens `path` with `access` and `disposition`, and makes a stream of
// mode `mode` of it once it is known to be a file on a disk (not a device, a
// pipe or a console). A null security descriptor: the handle is not
// inherited. `truncate` empties the file after that check.
Opened Open(const char* path, DWORD access, DWORD disposition, int flags,
            const char* mode, bool truncate) {
  HANDLE handle = CreateFileA(path, access, kShareAll, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Failed(ErrnoOf(GetLastError()));
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    Opened refused;
    refused.not_regular = true;
    return refused;
  }
  if (truncate && !SetEndOfFile(handle)) {
    const int error = ErrnoOf(GetLastError());
    CloseHandle(handle);
    return Failed(error);
  }
  const HandleFacts facts = FactsOf(handle);
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                         flags | _O_BINARY | _O_NOINHERIT);
  if (descriptor < 0) {
    CloseHandle(handle);
    return Failed(EMFILE);
  }
  File file(_fdopen(descriptor, mode));
  if (!file) {
    const int error = errno;
    _close(descriptor);  // closes the handle too
    return Failed(error);
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return Opened{std::move(file), false, 0, facts.size, facts.identity};
}

}  // namespace

Opened OpenForReading(const char* path) {
  return Open(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY, "rb", false);
}

Opened CheckOpensForReading(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return Failed(ErrnoOf(GetLastError()));
  }
  Opened result;
  result.not_regular = GetFileType(handle) != FILE_TYPE_DISK;
  CloseHandle(handle);
  return result;
}

File OpenStandardInput() {
  const int descriptor = _dup(_fileno(stdin));
  if (descriptor < 0) {
    return nullptr;
  }
  _setmode(descriptor, _O_BINARY);
  File file(_fdopen(descriptor, "rb"));
  if (!file) {
    const int error = errno;
    _close(descriptor);
    errno = error;
    return nullptr;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return file;
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

std::optional<FileIdentity> IdentityOf(const char* path) {
  // Attributes only, shared with everyone: the host may hold the file open.
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::optional<FileIdentity> identity = FactsOf(handle).identity;
  CloseHandle(handle);
  return identity;
}

}  // namespace mirdcng::platform
