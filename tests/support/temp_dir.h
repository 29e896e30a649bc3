// TempDir: a fresh folder for one test, removed with everything in it when the
// test ends; and the file helpers the suites share.
#ifndef MIRDCNG_TESTS_SUPPORT_TEMP_DIR_H_
#define MIRDCNG_TESTS_SUPPORT_TEMP_DIR_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirdcng::testing {

using Bytes = std::vector<std::uint8_t>;

// Bytes of a text, without its terminator.
Bytes BytesOf(std::string_view text);

// `size` bytes that follow a fixed pattern (different for each `seed`).
Bytes PatternBytes(std::size_t size, std::uint32_t seed = 1);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& root() const { return root_; }

  // Path returns the full path of `name` inside the folder, as a narrow string.
  std::string Path(std::string_view name) const;

  void Write(std::string_view name, const Bytes& content) const;
  void Write(std::string_view name, std::string_view content) const;
  // Read returns the content of `name`, or nothing when it does not exist.
  std::optional<Bytes> Read(std::string_view name) const;
  bool Exists(std::string_view name) const;
  // List returns the relative paths of everything inside the folder, sorted,
  // so that a test can see that nothing else was created.
  std::vector<std::string> List() const;

 private:
  std::filesystem::path root_;
};

}  // namespace mirdcng::testing

#endif  // MIRDCNG_TESTS_SUPPORT_TEMP_DIR_H_
