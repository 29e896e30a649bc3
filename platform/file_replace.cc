// What replacing a file does the same way on every system: the temporary's
// name, and where a path's folder ends.
#include "platform/file_replace.h"

#include <atomic>
#include <utility>

#include "platform/file_replace_internal.h"

namespace mirdcng::platform {
namespace internal {

std::string TemporaryName(const std::string& name, unsigned long process) {
  // The process and a count of its own: no other call, of this process or
  // another one alive, picks the same name. The destination's name (cut so
  // that the whole stays well within any system's limit on a name) tells
  // whoever finds one what it was for.
  static std::atomic<unsigned long long> count{0};
  constexpr std::size_t kNameKept = 100;
  return "." + name.substr(0, kNameKept) + ".mirdcng-" + std::to_string(process) + "-" +
         std::to_string(++count) + ".tmp";
}

std::pair<std::string, std::string> SplitPath(const std::string& path) {
#if defined(_WIN32)
  std::size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos && path.size() >= 2 && path[1] == ':') {
    cut = 1;  // "C:name": the drive's current folder
  }
#else
  const std::size_t cut = path.rfind('/');
#endif
  if (cut == std::string::npos) {
    return {"", path};
  }
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

}  // namespace internal

Replacement::Replacement(Replacement&& other) noexcept
    : file_(std::move(other.file_)),
      folder_(std::move(other.folder_)),
      temp_(std::exchange(other.temp_, std::string())),
      target_(std::move(other.target_)),
      folder_handle_(std::exchange(other.folder_handle_, -1)),
      error_(other.error_) {}

Replacement& Replacement::operator=(Replacement&& other) noexcept {
  if (this != &other) {
    Replacement gone(std::move(*this));
    file_ = std::move(other.file_);
    folder_ = std::move(other.folder_);
    temp_ = std::exchange(other.temp_, std::string());
    target_ = std::move(other.target_);
    folder_handle_ = std::exchange(other.folder_handle_, -1);
    error_ = other.error_;
  }
  return *this;
}

}  // namespace mirdcng::platform
