// Known-answer vectors for a block cipher in CBC mode, read from a text file.
//
// The file holds blocks of four lines, "Key:", "IV:", "Plaintext:" and
// "Ciphertext:" followed by hex (the plaintext may be empty), separated by
// blank lines; lines beginning with '#' are comments. Plain standard C++, so
// that the suites built for Windows read the same files.
#ifndef MIRDCNG_TESTS_SUPPORT_CIPHER_VECTORS_H_
#define MIRDCNG_TESTS_SUPPORT_CIPHER_VECTORS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace mirdcng::testing {

struct CipherVector {
  int line = 0;  // where the block starts in its file, for messages
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> iv;
  std::vector<std::uint8_t> plaintext;
  std::vector<std::uint8_t> ciphertext;

  // A ciphertext longer than its plaintext carries PKCS#7 padding.
  bool padded() const { return ciphertext.size() > plaintext.size(); }
};

// ReadCipherVectors returns every block of the file at `path`, in order.
// Throws std::runtime_error, naming the line, when the file cannot be read or
// a block is incomplete, repeats a field or holds bad hex.
std::vector<CipherVector> ReadCipherVectors(const std::string& path);

}  // namespace mirdcng::testing

#endif  // MIRDCNG_TESTS_SUPPORT_CIPHER_VECTORS_H_
