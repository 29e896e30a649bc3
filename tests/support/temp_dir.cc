#include "tests/support/temp_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace mirdcng::testing {

Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes PatternBytes(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  root_ = std::filesystem::temp_directory_path() /
          ("mirdcng-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::Path(std::string_view name) const {
  return (root_ / std::filesystem::path(name)).string();
}

void TempDir::Write(std::string_view name, const Bytes& content) const {
  std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  if (!out) {
    throw std::runtime_error("cannot write test file " + Path(name));
  }
}

void TempDir::Write(std::string_view name, std::string_view content) const {
  Write(name, BytesOf(content));
}

std::optional<Bytes> TempDir::Read(std::string_view name) const {
  std::ifstream in(Path(name), std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(std::string_view name) const {
  return std::filesystem::exists(Path(name));
}

std::vector<std::string> TempDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
    names.push_back(entry.path().lexically_relative(root_).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace mirdcng::testing
