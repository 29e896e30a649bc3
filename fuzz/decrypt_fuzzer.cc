// Decrypting an arbitrary file must never crash, leak or read outside its
// buffers; and whatever it accepts must be a container that, re-encrypted
// with the same tag, decrypts to the same content.
//
// Input: one byte selects the tag length (taken from the next bytes), the
// rest is the file.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mirdcng/mirdcng.h"

namespace {

// Whole containers beyond this size teach the fuzzer nothing new.
constexpr std::size_t kMaxInput = 1 << 16;

// A folder of the process's own, removed when the process ends.
class WorkFolder {
 public:
  WorkFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("mirdcng-fuzz-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

const std::filesystem::path& WorkDir() {
  static const WorkFolder folder;
  return folder.path();
}

void WriteFile(const std::filesystem::path& path, const std::uint8_t* data,
               std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<char> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) {
    return 0;
  }
  const std::size_t tag_length = std::min<std::size_t>(data[0] % 8, size - 1);
  std::string tag(reinterpret_cast<const char*>(data + 1), tag_length);
  tag = tag.substr(0, tag.find('\0'));
  const std::uint8_t* file = data + 1 + tag_length;
  const std::size_t file_size = size - 1 - tag_length;

  const auto src = WorkDir() / "in.EBS";
  const auto dst = WorkDir() / "out.EBS";
  const auto again = WorkDir() / "again.EBS";
  std::filesystem::remove(dst);
  WriteFile(src, file, file_size);

  int err = -1;
  const bool decrypted =
      cng_77z(src.string().c_str(), dst.string().c_str(), tag.c_str(), err);
  if (!decrypted) {
    // Refusals leave no destination, and say only 0 or 5.
    if ((err != 0 && err != 5) || std::filesystem::exists(dst)) {
      __builtin_trap();
    }
    return 0;
  }
  // Whatever decrypts is content that survives another round.
  const std::vector<char> content = ReadFile(dst);
  if (err != 0 ||
      !cng_77x(dst.string().c_str(), again.string().c_str(), tag.c_str(), err)) {
    // A plaintext beginning with the marker, or empty with no tag, is refused.
    return 0;
  }
  if (!cng_77z(again.string().c_str(), dst.string().c_str(), tag.c_str(), err) ||
      ReadFile(dst) != content) {
    __builtin_trap();
  }
  return 0;
}
