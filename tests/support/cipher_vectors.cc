#include "tests/support/cipher_vectors.h"

#include <array>
#include <fstream>
#include <stdexcept>
#include <string_view>

namespace mirdcng::testing {
namespace {

[[noreturn]] void Fail(const std::string& path, int line, const std::string& what) {
  throw std::runtime_error(path + ":" + std::to_string(line) + ": " + what);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() % 2 != 0) {
    return false;
  }
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) {
      return false;
    }
    out.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<CipherVector> ReadCipherVectors(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot open vector file " + path);
  }
  static constexpr std::array<std::string_view, 4> kFields = {"Key", "IV", "Plaintext",
                                                              "Ciphertext"};
  std::vector<CipherVector> vectors;
  CipherVector current;
  std::array<bool, 4> seen{};
  int seen_count = 0;
  const auto finish = [&](int line) {
    if (seen_count == 0) {
      return;
    }
    if (seen_count != 4) {
      Fail(path, line, "incomplete vector block");
    }
    vectors.push_back(current);
    current = CipherVector{};
    seen.fill(false);
    seen_count = 0;
  };

  std::string raw;
  int line = 0;
  while (std::getline(in, raw)) {
    ++line;
    const std::string_view text = Trim(raw);
    if (text.empty()) {
      finish(line);
      continue;
    }
    if (text.front() == '#') {
      continue;
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
      Fail(path, line, "expected 'Field: hex'");
    }
    const std::string_view name = Trim(text.substr(0, colon));
    std::size_t field = 0;
    while (field < kFields.size() && kFields[field] != name) {
      ++field;
    }
    if (field == kFields.size()) {
      Fail(path, line, "unknown field " + std::string(name));
    }
    if (seen[field]) {
      Fail(path, line, "field repeated: " + std::string(name));
    }
    if (seen_count == 0) {
      current.line = line;
    }
    seen[field] = true;
    ++seen_count;
    std::vector<std::uint8_t>* targets[] = {&current.key, &current.iv, &current.plaintext,
                                            &current.ciphertext};
    if (!ParseHex(Trim(text.substr(colon + 1)), *targets[field])) {
      Fail(path, line, "bad hex");
    }
  }
  finish(line + 1);
  return vectors;
}

}  // namespace mirdcng::testing
