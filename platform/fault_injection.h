// Test-only control over the platform stand-in: make one call fail, count
// the calls made, and look into the memory the library frees.
//
// It exists only in the mirdcng_platform_testing variant of the stand-in
// (MIRDCNG_FAULT_INJECTION defined); the shipped library is built without it
// and its calls carry no check at all. Faults are process-wide; a test arms
// one, runs the code under test and clears it (ScopedFault does both).
#ifndef MIRDCNG_PLATFORM_FAULT_INJECTION_H_
#define MIRDCNG_PLATFORM_FAULT_INJECTION_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "platform/cng.h"

namespace mirdcng::platform {

// The platform calls that can be made to fail.
enum class Call {
  kOpenAlgorithmProvider,
  kGetProperty,
  kGenerateSymmetricKey,
  kGenRandom,
  kEncrypt,
  kDecrypt,
  kHeapAlloc,
  // The file streams that share_open.h and file_replace.h hand out: opening
  // one, and each read, write and close that reaches the file.
  kFileOpen,
  kFileRead,
  kFileWrite,
  kFileClose,
  // Replacing a file (file_replace.h): the look at the destination, the
  // temporary's creation, its flush to the disk, the rename over the
  // destination, and the sync of the folder after it.
  kFileStat,
  kFileCreate,
  kFileSync,
  kFileRename,
  kFolderSync,
  // The platform memory behind whole-file buffers (memory.h): AllocateBytes.
  kAllocateBytes,
};
inline constexpr int kCallKinds = 17;

// InjectFault makes the `nth` call of `call` from now on (1 for the next one)
// fail: CNG calls return `status`, HeapAlloc and AllocateBytes return null,
// and the file calls fail with EIO (a failed close still releases the file; a
// failed sync of the folder is not seen by the caller). Only that one call
// fails; later calls succeed again. Replaces any fault armed before.
void InjectFault(Call call, int nth, NTSTATUS status = STATUS_UNSUCCESSFUL);

// InjectExit makes the process end at once, as a crash would, at the `nth`
// call of `call` from now on, before that call is made: _exit with
// kInjectedExitStatus, no destructor and no flush of any stream. Replaces any
// fault armed before.
void InjectExit(Call call, int nth);
inline constexpr int kInjectedExitStatus = 86;

// InjectAction runs `action` at the `nth` call of `call` from now on, just
// before that call is made, and lets the call go on: for a test that changes
// the world at one exact step (another process renaming a file, say).
// Replaces any fault armed before.
void InjectAction(Call call, int nth, std::function<void()> action);

// ClearFaults disarms the fault and sets every call count back to zero.
void ClearFaults();

// CallCount returns how many calls of `call` were made since ClearFaults,
// the failed one included.
int CallCount(Call call);

// FaultFired reports whether the armed fault has been hit.
bool FaultFired();

// ScopedFault arms a fault for the length of a scope and clears all faults
// and counts when it goes.
class ScopedFault {
 public:
  ScopedFault(Call call, int nth, NTSTATUS status = STATUS_UNSUCCESSFUL) {
    ClearFaults();
    InjectFault(call, nth, status);
  }
  ~ScopedFault() { ClearFaults(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

// WatchFreedMemory makes every block of the platform's memory (HeapAlloc,
// AllocateBytes) that is allocated from now on, and then freed without its
// wipe, be searched for `secret` as it is freed; UnwipedFreesHolding counts
// the blocks that held it since. An empty `secret` ends the watch. It shows
// whether a call leaves a file's plaintext behind in memory that the process
// may hand out again.
void WatchFreedMemory(std::span<const std::uint8_t> secret);
int UnwipedFreesHolding();

namespace internal {
// Counts a call of `call`; returns true when it is the one that must fail.
bool ShouldFail(Call call, NTSTATUS* status);
// What the watch of freed memory is told of each block.
void NoteAllocated(const void* block, std::size_t size);
void NoteFreed(const void* block, bool wiped);
}  // namespace internal

}  // namespace mirdcng::platform

// MIRDCNG_FAULT_POINT returns `failure` from the enclosing stand-in function
// when a test armed a fault for this call. Absent from shipped builds.
#if defined(MIRDCNG_FAULT_INJECTION)
#define MIRDCNG_FAULT_POINT(call, failure_from_status)                        \
  do {                                                                        \
    NTSTATUS injected_status_ = STATUS_SUCCESS;                               \
    if (::mirdcng::platform::internal::ShouldFail(call, &injected_status_)) { \
      return failure_from_status(injected_status_);                           \
    }                                                                         \
  } while (false)
#else
#define MIRDCNG_FAULT_POINT(call, failure_from_status) \
  do {                                                 \
  } while (false)
#endif

#endif  // MIRDCNG_PLATFORM_FAULT_INJECTION_H_
