// The platform's own view of the streams it hands out (POSIX).
//
// In the testing variant (MIRDCNG_FAULT_INJECTION) every stream handed out is
// a custom stream over the real one, so that opening it and each read, write
// and close that reaches the file pass through a fault point. The shipped
// variant hands out the real stream itself, and these are trivial.
#ifndef MIRDCNG_PLATFORM_OBSERVED_STREAM_H_
#define MIRDCNG_PLATFORM_OBSERVED_STREAM_H_

#include <cstdio>

#include "platform/fault_injection.h"
#include "platform/share_open.h"

namespace mirdcng::platform::internal {

// HandOut returns the stream to hand out for `real`, just opened with `mode`:
// unbuffered, so that the bytes move between the system and the library's own
// memory with no copy left in a stream buffer.
File HandOut(File real, const char* mode);

// RealStream returns the stream behind `file`: the one whose descriptor is
// the file's, and whose flush reaches the system.
std::FILE* RealStream(std::FILE* file);

// Injected reports whether the test armed a fault on this call of `call`;
// errno is then EIO. Always false in the shipped variant.
bool Injected(Call call);

}  // namespace mirdcng::platform::internal

#endif  // MIRDCNG_PLATFORM_OBSERVED_STREAM_H_
