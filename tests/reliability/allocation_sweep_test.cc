// Memory running out, at each allocation of each export in turn: the
// library's whole-file buffers, and the pipe library's pipes and chunks. A
// clean run counts the allocations; each run with one of them failing must
// end in false with code 0 or a null pipe with the caller's code, leave the
// caller's files as they were, no file made and none left open, and throw
// nothing (an exception past noexcept ends the process). Under
// AddressSanitizer the run also shows that nothing leaks.
//
// And memory given back: no road leaves a file's plaintext in a block that
// the process may hand out again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "fileops/call_frame.h"
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

// Every block that held a file's plaintext is wiped as it is freed, on every
// road: the plaintext of a file read to be encrypted, decrypted, refused for
// its tag or found not to be a container at all. Each block the library
// frees without its wipe is searched for a phrase of the content.
TEST(FreedMemory, NoRoadLeavesThePlaintextInAnUnwipedBlock) {
  const Bytes secret = BytesOf("a phrase of the plaintext, to be found nowhere else");
  Bytes content = kContent;
  std::copy(secret.begin(), secret.end(), content.begin() + 1000);
  TempDir dir;
  dir.Write("plain.EBS", content);
  const std::string plain = dir.Path("plain.EBS");
  const std::string sealed = Seal(dir, "sealed.EBS", content, kTag);
  const std::string out = dir.Path("out.EBS");
  const auto in_place = [&](const std::string& from, auto call) {
    dir.Write("copy.EBS", *dir.Read(from.substr(dir.Path("").size())));
    int err = 0;
    static_cast<void>(
        call(dir.Path("copy.EBS").c_str(), dir.Path("copy.EBS").c_str(), kTag, err));
  };
  const auto pipe = [](const std::string& path) {
    Stream stream = OpenAsCaller(path);
    int err = kCallersCode;
    Pipe opened(create_cng77_pipe(stream.get(), path.c_str(), false, err));
    ASSERT_NE(opened, nullptr);
    EXPECT_FALSE(ReadToEnd(opened.get()).empty());
  };
  int err = 0;
  const std::pair<const char*, std::function<void()>> roads[] = {
      {"cng_77x", [&] { EXPECT_TRUE(cng_77x(plain.c_str(), out.c_str(), kTag, err)); }},
      {"cng_77x in place", [&] { in_place(plain, cng_77x); }},
      {"cng_77z", [&] { EXPECT_TRUE(cng_77z(sealed.c_str(), out.c_str(), kTag, err)); }},
      {"cng_77z in place", [&] { in_place(sealed, cng_77z); }},
      {"cng_77z of a file that is no container",
       [&] { EXPECT_FALSE(cng_77z(plain.c_str(), out.c_str(), kTag, err)); }},
      {"cng_77z with a wrong tag",
       [&] { EXPECT_FALSE(cng_77z(sealed.c_str(), out.c_str(), "wrong", err)); }},
      {"decryption to a stream",
       [&] {
         Stream stream(std::tmpfile());
         EXPECT_TRUE(
             RunToStream(sealed.c_str(), kTag, stream.get(), &CNGManager::DecryptToStream)
                 .done());
       }},
      {"create_cng77_pipe of the container", [&] { pipe(sealed); }},
      {"create_cng77_pipe of the plain file", [&] { pipe(plain); }},
  };
  for (const auto& [name, road] : roads) {
    SCOPED_TRACE(name);
    platform::WatchFreedMemory(secret);
    road();
    EXPECT_EQ(platform::UnwipedFreesHolding(), 0)
        << "blocks freed unwiped with the plaintext in them";
    platform::WatchFreedMemory({});
  }
}

}  // namespace
}  // namespace mirdcng::testing
