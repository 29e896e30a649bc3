// Opening an arbitrary file as a pipe must never crash, leak or read outside
// its buffers; a file served raw must read back byte for byte, and one served
// decrypted must have the layout of a whole container and a plaintext that
// fits its ciphertext.
//
// Input: the file. Seeds: the decrypt fuzzer's named seeds, without their
// leading tag bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"

namespace {

constexpr std::size_t kMaxInput = 1 << 16;

// The process's one input file, removed when the process ends.
class InputFile {
 public:
  InputFile()
      : path_((std::filesystem::temp_directory_path() /
               ("mirdcng-pipe-fuzz-" + std::to_string(::getpid()) + ".EBS"))
                  .string()) {}
  ~InputFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string& FilePath() {
  static const InputFile file;
  return file.path();
}

std::vector<std::uint8_t> ReadToEnd(zulpipe* pipe) {
  std::vector<std::uint8_t> all;
  std::uint8_t buffer[4096];
  for (long long got; (got = zulread(pipe, buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      __builtin_trap();
    }
    all.insert(all.end(), buffer, buffer + got);
  }
  return all;
}

// Whole says whether the `size` bytes at `data` have a whole container's
// layout: the marker, the header and a non-zero number of blocks.
bool Whole(const std::uint8_t* data, std::size_t size) {
  return size >= mirdcng::kHeaderLength + mirdcng::kCipherBlock &&
         data[0] == mirdcng::kContainerMarker &&
         (size - mirdcng::kHeaderLength) % mirdcng::kCipherBlock == 0;
}

// CheckDecrypted traps unless `content`, served decrypted from the `size`
// bytes at `data`, fits them: a whole container, whose plaintext and trailer
// are its ciphertext less 1 to 16 bytes of padding.
void CheckDecrypted(const std::uint8_t* data, std::size_t size,
                    const std::vector<std::uint8_t>& content) {
  if (!Whole(data, size) || content.empty()) {
    __builtin_trap();
  }
  const std::size_t sealed = content.size() + data[mirdcng::kTagLengthOffset];
  const std::size_t ciphertext = size - mirdcng::kHeaderLength;
  if (sealed >= ciphertext || sealed + mirdcng::kCipherBlock < ciphertext) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  const std::string& path = FilePath();
  std::FILE* stream = std::fopen(path.c_str(), "w+b");
  if (stream == nullptr || std::fwrite(data, 1, size, stream) != size ||
      std::fflush(stream) != 0) {
    __builtin_trap();
  }
  int err = -1;
  zulpipe* pipe = create_cng77_pipe(stream, path.c_str(), false, err);
  if (pipe == nullptr) {
    // Only a container that decrypts to nothing gives no pipe.
    if (err != 3 || !Whole(data, size)) {
      __builtin_trap();
    }
  } else {
    const bool decrypted = zulwrite(pipe, nullptr, 0) == 0;
    const std::vector<std::uint8_t> content = ReadToEnd(pipe);
    zulclose(pipe);
    if (err != -1 ||
        (!decrypted && content != std::vector<std::uint8_t>(data, data + size))) {
      __builtin_trap();
    }
    if (decrypted) {
      CheckDecrypted(data, size, content);
    }
  }
  std::fclose(stream);
  return 0;
}
