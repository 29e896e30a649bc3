// What replacing a file does the same way on every system: the temporary's
// name, where a path's folder ends, and moving the owner of a replacement.
#include "platform/file_replace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/file_replace_internal.h"

namespace mirdcng::platform {
namespace {

struct LiveTemporary {
  std::atomic<int> state{0};  // kFree, kFilling or kLive
  std::intptr_t folder = -1;
  char name[1024] = {};
};
constexpr int kFree = 0;
constexpr int kFilling = 1;
constexpr int kLive = 2;
LiveTemporary live_temporaries[64];

}  // namespace

namespace internal {

int Live(std::intptr_t folder, const std::string& name) {
  if (name.size() >= sizeof LiveTemporary::name) {
    return -1;
  }
  for (int slot = 0; slot < static_cast<int>(std::size(live_temporaries)); ++slot) {
    LiveTemporary& entry = live_temporaries[slot];
    int expected = kFree;
    if (entry.state.compare_exchange_strong(expected, kFilling)) {
      entry.folder = folder;
      std::memcpy(entry.name, name.c_str(), name.size() + 1);
      entry.state.store(kLive, std::memory_order_release);
      return slot;
    }
  }
  return -1;
}

void Gone(int& slot) {
  if (slot >= 0) {
    live_temporaries[slot].state.store(kFree, std::memory_order_release);
    slot = -1;
  }
}

void ForEachLive(void (*remove)(std::intptr_t folder, const char* name)) noexcept {
  for (LiveTemporary& entry : live_temporaries) {
    if (entry.state.load(std::memory_order_acquire) == kLive) {
      remove(entry.folder, entry.name);
    }
  }
}

std::string TemporaryName(const std::string& name) {
  // 80 random bits: a name planted beforehand is met by chance alone, and a
  // name met is never used (the temporary is created exclusively). Should
  // the system's source fail, a count and the clock still keep this
  // process's own names apart.
  constexpr std::size_t kRandomBytes = 10;
  unsigned char random[kRandomBytes] = {};
  if (!RandomBytes(random, kRandomBytes)) {
    static std::atomic<unsigned long long> count{0};
    const unsigned long long mixed =
        (++count * 0x9E3779B97F4A7C15ULL) ^
        static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
    for (std::size_t i = 0; i < kRandomBytes; ++i) {
      random[i] = static_cast<unsigned char>(mixed >> (8 * (i % 8)));
    }
  }
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
  std::string suffix;
  unsigned bits = 0;
  unsigned pending = 0;
  for (const unsigned char byte : random) {
    pending = (pending << 8) | byte;
    for (bits += 8; bits >= 5; bits -= 5) {
      suffix += kDigits[(pending >> (bits - 5)) & 31U];
    }
  }
  // The destination's name, cut so that the whole stays well within any
  // system's limit on a name, tells whoever finds one what it was for.
  constexpr std::size_t kNameKept = 100;
  return "." + name.substr(0, kNameKept) + ".mirdcng-" + suffix + ".tmp";
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

Replacement::Replacement(Replacement&& other) noexcept { *this = std::move(other); }

Replacement& Replacement::operator=(Replacement&& other) noexcept {
  if (this != &other) {
    Release();
    state_ = other.state_;
    file_ = std::move(other.file_);
    temp_ = std::exchange(other.temp_, std::string());
    target_ = std::move(other.target_);
    folder_path_ = std::move(other.folder_path_);
    identity_ = other.identity_;
    destination_ = std::exchange(other.destination_, -1);
    folder_ = std::exchange(other.folder_, -1);
    live_ = std::exchange(other.live_, -1);
    made_destination_ = std::exchange(other.made_destination_, false);
    error_ = other.error_;
  }
  return *this;
}

Replacement::~Replacement() { Release(); }

Replacement&& Replacement::End(State state, int error) {
  Release();
  state_ = state;
  error_ = state == State::kRefused && error == 0 ? EIO : error;
  return std::move(*this);
}

}  // namespace mirdcng::platform
