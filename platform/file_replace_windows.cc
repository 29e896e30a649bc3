// Windows: the destination is opened for writing first, so that its own
// permissions and attributes decide (a read-only file is refused, as fopen
// refuses it); the temporary is renamed over it with MoveFileEx, written
// through to the disk; no folder needs syncing after it.
#include <tuple>
#include <utility>

#include "platform/cng.h"
#include "platform/file_replace.h"
#include "platform/file_replace_internal.h"
#include "platform/windows_files.h"

namespace mirdcng::platform {
namespace {

// The attributes a replaced file keeps; read-only is not among them, since a
// read-only destination is never opened for writing.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr int kNameAttempts = 16;

bool NotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle,
                                             BY_HANDLE_FILE_INFORMATION* out = nullptr) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) {
    return std::nullopt;
  }
  if (out != nullptr) {
    *out = info;
  }
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// IdentityOfName returns which file `path` names itself, a link not followed.
std::optional<FileIdentity> IdentityOfName(const std::string& path) {
  HANDLE handle =
      CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  std::optional<FileIdentity> identity = IdentityOfHandle(handle);
  CloseHandle(handle);
  return identity;
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

// StreamOver empties the file open as `handle` and makes an unbuffered
// stream for writing of it, which then owns the handle. Null, with `error`,
// when either fails; the handle is closed then.
File StreamOver(HANDLE handle, int& error) {
  if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !SetEndOfFile(handle)) {
    error = ErrnoOf(GetLastError());
    CloseHandle(handle);
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                         _O_WRONLY | _O_BINARY | _O_NOINHERIT);
  if (descriptor < 0) {
    error = EMFILE;
    CloseHandle(handle);
    return nullptr;
  }
  File file(_fdopen(descriptor, "wb"));
  if (!file) {
    error = errno;
    _close(descriptor);  // closes the handle too
    return nullptr;
  }
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  return file;
}

}  // namespace

namespace internal {

bool RandomBytes(unsigned char* out, std::size_t length) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, static_cast<ULONG>(length),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace internal

void RemoveTemporaries() noexcept {
  // Shared for deletion: each goes once its writer's handle is closed.
  internal::ForEachLive([](std::intptr_t, const char* path) { DeleteFileA(path); });
}

Replacement Replacement::Begin(const char* path) {
  Replacement replacement;
  std::string where = path;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  const DWORD found = GetFileAttributesA(path);
  if (found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return replacement.End(State::kNotRegular);
  }
  if (found == INVALID_FILE_ATTRIBUTES && !NotFound(GetLastError())) {
    return replacement.End(State::kRefused, ErrnoOf(GetLastError()));
  }
  if (found != INVALID_FILE_ATTRIBUTES) {
    // Opened for writing, following links, shared with everyone: the file's
    // own permissions and its read-only attribute decide, as for fopen.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (!NotFound(error)) {  // a link that leads nowhere is itself replaced
        return replacement.End(State::kRefused, ErrnoOf(error));
      }
    } else {
      replacement.destination_ = reinterpret_cast<std::intptr_t>(handle);
      BY_HANDLE_FILE_INFORMATION info{};
      if (GetFileType(handle) != FILE_TYPE_DISK) {
        return replacement.End(State::kNotRegular);
      }
      replacement.identity_ = IdentityOfHandle(handle, &info);
      if (!replacement.identity_) {
        return replacement.End(State::kRefused, ErrnoOf(GetLastError()));
      }
      if (info.dwFileAttributes & kKeptAttributes) {
        attributes = info.dwFileAttributes & kKeptAttributes;
      }
      if ((found & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const std::optional<std::string> final_path = FinalPath(handle);
        if (!final_path) {
          return replacement.End(State::kRefused, ErrnoOf(GetLastError()));
        }
        where = *final_path;
      }
    }
  }
  std::tie(replacement.folder_path_, replacement.target_) = internal::SplitPath(where);
  const int error = replacement.MakeTemporary(attributes);
  if (error == 0) {
    replacement.state_ = State::kReady;
    return replacement;
  }
  if (replacement.destination_ != -1 && error == EACCES) {
    replacement.state_ = State::kInPlaceOnly;
    replacement.error_ = error;
    return replacement;
  }
  return replacement.End(State::kRefused, error);
}

int Replacement::MakeTemporary(unsigned attributes) {
  // A null security descriptor: the handle is not inherited, and the file
  // gets the folder's permissions, as the destination it becomes.
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temp_ = internal::TemporaryName(target_);
    const std::string full = folder_path_ + temp_;
    live_ = internal::Live(-1, full);
    HANDLE handle = CreateFileA(full.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                CREATE_NEW, attributes, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                             _O_WRONLY | _O_BINARY | _O_NOINHERIT);
      File file(descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr);
      if (!file) {
        if (descriptor >= 0) {
          _close(descriptor);
        } else {
          CloseHandle(handle);
        }
        Discard();
        return EMFILE;
      }
      std::setvbuf(file.get(), nullptr, _IONBF, 0);
      file_ = std::move(file);
      return 0;
    }
    const DWORD error = GetLastError();
    internal::Gone(live_);
    temp_.clear();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return ErrnoOf(error);
    }
  }
  return EEXIST;  // no free name: the folder is full of taken ones
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
  const std::string to = folder_path_ + target_;
  if (error_ == 0 && identity_ && IdentityOfName(to) != identity_) {
    Discard();
    return Result::kChanged;
  }
  // The library's own handle would stand in the way of the rename.
  if (destination_ != -1) {
    CloseHandle(AsHandle(std::exchange(destination_, -1)));
  }
  DWORD move_error = ERROR_SUCCESS;
  if (error_ == 0 && !MoveFileExA((folder_path_ + temp_).c_str(), to.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    move_error = GetLastError();
    error_ = ErrnoOf(move_error);
  }
  if (error_ != 0) {
    Discard();
    // A destination that another process holds open without delete sharing
    // (the framework's hosts keep their files open) cannot be renamed over.
    const bool held = move_error == ERROR_ACCESS_DENIED ||
                      move_error == ERROR_SHARING_VIOLATION ||
                      move_error == ERROR_LOCK_VIOLATION;
    return held && identity_ ? Result::kCannotRename : Result::kFailed;
  }
  internal::Gone(live_);
  temp_.clear();  // it is the destination now
  return Result::kReplaced;
}

File Replacement::InPlace() {
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (destination_ != -1) {
    // A handle of its own for each stream: the stream closes what it owns.
    if (!DuplicateHandle(GetCurrentProcess(), AsHandle(destination_), GetCurrentProcess(),
                         &handle, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      handle = INVALID_HANDLE_VALUE;
    }
  } else if (identity_) {
    // Closed for the rename that failed: opened again, and only if the name
    // still leads to the same file.
    handle = CreateFileA((folder_path_ + target_).c_str(), GENERIC_WRITE, kShareAll,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && IdentityOfHandle(handle) != identity_) {
      CloseHandle(handle);
      SetLastError(ERROR_FILE_NOT_FOUND);
      handle = INVALID_HANDLE_VALUE;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) {
    error_ = identity_ ? ErrnoOf(GetLastError()) : EBADF;
    return nullptr;
  }
  return StreamOver(handle, error_);
}

void Replacement::Discard() {
  file_.reset();
  if (!temp_.empty()) {
    DeleteFileA((folder_path_ + temp_).c_str());
    temp_.clear();
  }
  internal::Gone(live_);
}

void Replacement::Release() {
  Discard();
  made_destination_ = false;  // Windows makes no file through a link here
  if (destination_ != -1) {
    CloseHandle(AsHandle(std::exchange(destination_, -1)));
  }
}

}  // namespace mirdcng::platform
