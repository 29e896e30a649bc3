// The result codes that the exports write into their `int& err`.
//
// File exports (cng_77x, cng_77z) write the code on every call:
//   0  nothing wrong found; with false, the operation refused or failed
//   2  `src` or `dst` is null
//   3  the source cannot be opened for reading (after the naming rule), or is
//      not a regular file
//   5  cng_77z only: the tag in the file does not match the caller's tag
//
// The stream factory (create_cng77_pipe) writes it only when it returns null:
//   2  the stream is null
//   3  the file decrypts to nothing once its tag trailer is removed
#ifndef MIRDCNG_RESULT_CODES_H_
#define MIRDCNG_RESULT_CODES_H_

namespace mirdcng {

inline constexpr int kResultOk = 0;
inline constexpr int kResultNullArgument = 2;
inline constexpr int kResultSourceUnreadable = 3;
inline constexpr int kResultEmptyPlaintext = 3;
inline constexpr int kResultTagMismatch = 5;

}  // namespace mirdcng

#endif  // MIRDCNG_RESULT_CODES_H_
