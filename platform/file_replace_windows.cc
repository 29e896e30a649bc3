// Windows: the temporary is renamed over the destination with MoveFileEx,
// written through to the disk; no folder needs syncing after it.
#include <tuple>

#include "platform/file_replace.h"
#include "platform/file_replace_internal.h"
#include "platform/windows_files.h"

namespace mirdcng::platform {
namespace {

// The attributes a replaced file keeps; read-only is not among them, since a
// read-only destination is never replaced.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr int kNameAttempts = 100;

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// FinalPath returns the path a link's `handle` leads to, or nothing.
std::optional<std::string> FinalPath(HANDLE handle) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD length = GetFinalPathNameByHandleA(handle, nullptr, 0, flags);
  if (length == 0) {
    return std::nullopt;
  }
  std::string path(length, '\0');
  const DWORD written = GetFinalPathNameByHandleA(handle, path.data(), length, flags);
  if (written == 0 || written >= length) {
    return std::nullopt;
  }
  path.resize(written);
  return path;
}

// CreateExclusively creates a fresh temporary for `target` in `folder`, with
// `attributes` and its name in `temp`. Returns its handle, or
// INVALID_HANDLE_VALUE with the system's `error` and `temp` empty. A null
// security descriptor: the handle is not inherited, and the file gets the
// folder's permissions.
HANDLE CreateExclusively(const std::string& folder, const std::string& target,
                         DWORD attributes, std::string& temp, DWORD& error) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp = internal::TemporaryName(target, GetCurrentProcessId());
    HANDLE handle = CreateFileA((folder + temp).c_str(), GENERIC_WRITE, kShareAll,
                                nullptr, CREATE_NEW, attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      return handle;
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS) {
      break;
    }
  }
  temp.clear();
  return INVALID_HANDLE_VALUE;
}

}  // namespace

Destination LookAtDestination(const char* path) {
  Destination destination;
  destination.target = path;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    destination.error = NotFound(error) ? 0 : ErrnoOf(error);
    return destination;
  }
  // Opened for its attributes alone, following links, shared with everyone.
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A link that leads nowhere is itself replaced.
    destination.error = NotFound(error) ? 0 : ErrnoOf(error);
    return destination;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  destination.exists = true;
  destination.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                        GetFileInformationByHandle(handle, &info) &&
                        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  destination.mode = info.dwFileAttributes & kKeptAttributes;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const std::optional<std::string> final_path = FinalPath(handle);
    if (final_path) {
      destination.target = *final_path;
    } else {
      destination.error = ErrnoOf(GetLastError());
    }
  }
  CloseHandle(handle);
  return destination;
}

Replacement Replacement::Begin(const Destination& destination) {
  Replacement replacement;
  std::tie(replacement.folder_, replacement.target_) =
      internal::SplitPath(destination.target);
  const DWORD attributes =
      destination.mode != 0 ? destination.mode : FILE_ATTRIBUTE_NORMAL;
  DWORD error = ERROR_SUCCESS;
  HANDLE handle = CreateExclusively(replacement.folder_, replacement.target_, attributes,
                                    replacement.temp_, error);
  if (handle == INVALID_HANDLE_VALUE) {
    replacement.error_ = ErrnoOf(error);
    return replacement;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                         _O_WRONLY | _O_BINARY | _O_NOINHERIT);
  File file(descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr);
  if (!file) {
    replacement.error_ = EMFILE;
    if (descriptor >= 0) {
      _close(descriptor);
    } else {
      CloseHandle(handle);
    }
    replacement.Discard();
    return replacement;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  replacement.file_ = std::move(file);
  return replacement;
}

Replacement::Result Replacement::Commit() {
  if (!file_) {
    return Result::kFailed;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_.get())));
  const bool flushed = std::fflush(file_.get()) == 0;
  error_ = !flushed ? errno : FlushFileBuffers(handle) ? 0 : ErrnoOf(GetLastError());
  const int closed = CloseFile(std::move(file_));
  error_ = error_ != 0 ? error_ : closed;
  DWORD move_error = ERROR_SUCCESS;
  if (error_ == 0) {
    const std::string from = folder_ + temp_;
    const std::string to = folder_ + target_;
    if (!MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      move_error = GetLastError();
      error_ = ErrnoOf(move_error);
    }
  }
  if (error_ != 0) {
    Discard();
    // A destination that another process holds open without delete sharing
    // (the framework's hosts keep their files open) cannot be renamed over.
    const bool held = move_error == ERROR_ACCESS_DENIED ||
                      move_error == ERROR_SHARING_VIOLATION ||
                      move_error == ERROR_LOCK_VIOLATION;
    return held ? Result::kCannotRename : Result::kFailed;
  }
  temp_.clear();  // it is the destination now
  return Result::kReplaced;
}

void Replacement::Discard() {
  file_.reset();
  if (!temp_.empty()) {
    DeleteFileA((folder_ + temp_).c_str());
    temp_.clear();
  }
}

Replacement::~Replacement() { Discard(); }

}  // namespace mirdcng::platform
