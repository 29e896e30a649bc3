// Memory running out, at each allocation of each export in turn: the
// library's whole-file buffers, and the pipe library's pipes and chunks. A
// clean run counts the allocations; each run with one of them failing must
// end in false with code 0 or a null pipe with the caller's code, leave the
// caller's files as they were, no file made and none left open, and throw
// nothing (an exception past noexcept ends the process). Under
// AddressSanitizer the run also shows that nothing leaks.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "mirdcng/mirdcng.h"
#include "mirdutils/fault_injection.h"
#include "platform/fault_injection.h"
#include "tests/pipe/pipe_test_support.h"

namespace mirdcng::testing {
namespace {

static_assert(noexcept(cng_77x(nullptr, nullptr, nullptr, std::declval<int&>())));
static_assert(noexcept(cng_77z(nullptr, nullptr, nullptr, std::declval<int&>())));
static_assert(noexcept(create_cng77_pipe(nullptr, nullptr, false, std::declval<int&>())));
static_assert(noexcept(create_queue_zulpipe()) && noexcept(zulclose(nullptr)));
static_assert(noexcept(zulwrite(nullptr, nullptr, 0)) && noexcept(zulread(nullptr,
                                                                          nullptr, 0)));
static_assert(noexcept(create_binary_stream_zulpipe(nullptr, nullptr, false)));

// Which memory runs out: the library's own buffers, or the pipe library's.
enum class Memory { kBuffers, kPipes };

// Arm counts allocations of `memory` from now on and makes the `nth` fail
// (0: none).
void Arm(Memory memory, int nth) {
  platform::ClearFaults();
  mirdutils::testing::FailAllocation(memory == Memory::kPipes ? nth : 0);
  if (memory == Memory::kBuffers && nth > 0) {
    platform::InjectFault(platform::Call::kAllocateBytes, nth);
  }
}

// Disarm ends the run: returns how many allocations it made, and checks
// that the one chosen to fail was made.
int Disarm(Memory memory, int nth) {
  const bool buffers = memory == Memory::kBuffers;
  const int count = buffers ? platform::CallCount(platform::Call::kAllocateBytes)
                            : mirdutils::testing::AllocationCount();
  if (nth > 0) {
    EXPECT_TRUE(buffers ? platform::FaultFired() : mirdutils::testing::AllocationFailed())
        << "the clean run made this allocation";
  }
  Arm(memory, 0);
  return count;
}

std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

const Bytes kContent = Plaintext(3000, 41);
constexpr char kTag[] = "sweep";

struct FileCase {
  const char* name;
  bool encrypt;   // cng_77x, else cng_77z
  bool in_place;  // the destination is the source
};

int RunFileCase(const FileCase& c, int nth) {
  SCOPED_TRACE(std::string(c.name) + ", allocation " + std::to_string(nth) + " fails");
  TempDir dir;
  if (c.encrypt) {
    dir.Write("source.EBS", kContent);
  } else {
    Seal(dir, "source.EBS", kContent, kTag);
  }
  const std::string destination = c.in_place ? "source.EBS" : "out.EBS";
  dir.Write("out.EBS", "the destination as it was");
  const std::optional<Bytes> source = dir.Read("source.EBS");
  const std::optional<Bytes> before = dir.Read(destination);
  const std::vector<std::string> files = dir.List();
  const std::size_t descriptors = OpenDescriptors();

  int err = -1;
  Arm(Memory::kBuffers, nth);
  const bool done = (c.encrypt ? cng_77x : cng_77z)(
      dir.Path("source.EBS").c_str(), dir.Path(destination).c_str(), kTag, err);
  const int count = Disarm(Memory::kBuffers, nth);

  EXPECT_EQ(err, 0);
  EXPECT_EQ(done, nth == 0);
  if (nth > 0) {
    EXPECT_EQ(dir.Read(destination), before);
    EXPECT_EQ(dir.Read("source.EBS"), source);
  }
  EXPECT_EQ(dir.List(), files) << "no file made or removed";
  EXPECT_EQ(OpenDescriptors(), descriptors) << "no file left open";
  return count;
}

int RunPipeCase(bool encrypted, Memory memory, int nth) {
  SCOPED_TRACE(std::string(encrypted ? "encrypted" : "plain") + " file, " +
               (memory == Memory::kBuffers ? "buffer " : "pipe library allocation ") +
               std::to_string(nth) + " fails");
  TempDir dir;
  dir.Write("file.EBS", kContent);
  const std::string path =
      encrypted ? Seal(dir, "sealed.EBS", kContent, kTag) : dir.Path("file.EBS");
  const std::size_t descriptors = OpenDescriptors();
  Stream stream = OpenAsCaller(path, 7);

  int err = kCallersCode;
  Arm(memory, nth);
  Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), false, err));
  const int count = Disarm(memory, nth);

  EXPECT_EQ(err, kCallersCode);
  if (memory == Memory::kBuffers && nth > 0) {
    EXPECT_EQ(pipe, nullptr) << "no buffer for the file: nothing is returned";
  } else if (memory == Memory::kPipes && nth == 1) {
    EXPECT_EQ(pipe, nullptr) << "no pipe was made";
  } else if (pipe == nullptr) {
    ADD_FAILURE() << "no pipe";
  } else {
    // A refused adoption takes nothing: the plaintext is copied in instead,
    // and that copy finds memory again.
    EXPECT_EQ(ReadToEnd(pipe.get()), kContent);
  }
  pipe.reset();
  stream.reset();
  EXPECT_EQ(OpenDescriptors(), descriptors) << "no file left open";
  return count;
}

// Sweep runs `run` clean to count the allocations, then once with each of
// them failing, each followed by a clean run. Returns how many it failed.
int Sweep(const std::function<int(int nth)>& run) {
  const int allocations = run(0);
  for (int nth = 1; nth <= allocations; ++nth) {
    run(nth);
    run(0);
  }
  return allocations;
}

TEST(AllocationSweep, EveryAllocationOfEveryExportFailsCleanly) {
  const FileCase files[] = {
      {"cng_77x", true, false},
      {"cng_77x in place", true, true},
      {"cng_77z", false, false},
      {"cng_77z in place", false, true},
  };
  int total = 0;
  for (const FileCase& c : files) {
    const int swept = Sweep([&c](int nth) { return RunFileCase(c, nth); });
    EXPECT_GT(swept, 0) << c.name << " made no allocation";
    total += swept;
  }
  const std::pair<bool, Memory> pipes[] = {
      {true, Memory::kBuffers}, {true, Memory::kPipes}, {false, Memory::kPipes}};
  for (const auto& [encrypted, memory] : pipes) {
    const int swept = Sweep([&](int nth) { return RunPipeCase(encrypted, memory, nth); });
    EXPECT_GT(swept, 0) << "create_cng77_pipe made no allocation";
    total += swept;
  }
  std::cout << "[ SWEEP    ] " << total << " allocations failed in turn\n";
}

}  // namespace
}  // namespace mirdcng::testing
