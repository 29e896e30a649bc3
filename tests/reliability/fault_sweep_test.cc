// Fault sweeps: every export, run once per platform call it makes, with
// exactly that one call failing — each CNG call, each heap block, each open,
// write and close of a file, and each step of replacing a destination (the
// look at it, the temporary's creation, the sync, the rename, the folder's
// sync) — the way an out-of-memory sweep fails the 1st, 2nd, 3rd ...
// allocation in turn. Files are read in blocks, as the system passes them: a
// read of what the file measured, and one past it that finds the end. A
// clean run first counts the calls of each kind; each faulted run must then
// end as the failure tables say, leave the destination whole (as it was, or
// the complete result), leave no stray file, temporary included, and no open
// descriptor, and be followed by a clean run that works.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "mirdcng/mirdcng.h"
#include "platform/fault_injection.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

using platform::Call;

// Every call but the whole-file buffers' allocation, which fails as memory
// exhaustion does and has a sweep of its own (allocation_sweep_test.cc).
constexpr std::array<Call, platform::kCallKinds - 1> kEveryCall = {
    Call::kOpenAlgorithmProvider,
    Call::kGetProperty,
    Call::kGenerateSymmetricKey,
    Call::kGenRandom,
    Call::kEncrypt,
    Call::kDecrypt,
    Call::kHeapAlloc,
    Call::kFileOpen,
    Call::kFileRead,
    Call::kFileWrite,
    Call::kFileClose,
    Call::kFileStat,
    Call::kFileCreate,
    Call::kFileSync,
    Call::kFileRename,
    Call::kFolderSync};

const char* NameOf(Call call) {
  static constexpr const char* kNames[] = {"BCryptOpenAlgorithmProvider",
                                           "BCryptGetProperty",
                                           "BCryptGenerateSymmetricKey",
                                           "BCryptGenRandom",
                                           "BCryptEncrypt",
                                           "BCryptDecrypt",
                                           "HeapAlloc",
                                           "file open",
                                           "file read",
                                           "file write",
                                           "file close",
                                           "destination look",
                                           "temporary create",
                                           "file sync",
                                           "rename",
                                           "folder sync",
                                           "whole-file buffer"};
  static_assert(std::size(kNames) == platform::kCallKinds);
  return kNames[static_cast<std::size_t>(call)];
}

std::size_t Index(Call call) { return static_cast<std::size_t>(call); }

using Counts = std::array<int, platform::kCallKinds>;

// CountCalls returns the calls made since faults were last cleared.
Counts CountCalls() {
  Counts counts{};
  for (const Call call : kEveryCall) {
    counts[Index(call)] = platform::CallCount(call);
  }
  return counts;
}

struct FaultPoint {
  Call call;
  int nth;
};

std::string Describe(const std::optional<FaultPoint>& fault) {
  return fault ? "call " + std::to_string(fault->nth) + " of " + NameOf(fault->call) +
                     " fails"
               : "no fault";
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

const Bytes kContent = [] {
  Bytes bytes = PatternBytes(3000, 77);
  bytes[0] = 'c';  // not the container marker
  return bytes;
}();
const Bytes kOldDestination = BytesOf("the destination as it was");
constexpr char kTag[] = "sweep-tag";

Bytes ContainerOf(const Bytes& content, const std::string& tag) {
  Bytes sealed = content;
  sealed.insert(sealed.end(), tag.begin(), tag.end());
  const Bytes iv = PatternBytes(16, 5);
  return CraftContainer(static_cast<std::uint8_t>(tag.size()), iv, sealed);
}

// What a faulted run of a file export may end in, from the failure tables.
// No run leaves a destination written in part.
enum class Outcome {
  kDone,            // true, code 0, the destination holds the result
  kSourceUnopened,  // false, code 3, the destination as it was
  kFailed,          // false, code 0, the destination as it was
};

// A file export run on one source and one destination inside `dir`.
struct FileScenario {
  std::string name;
  bool encrypt;           // cng_77x, else cng_77z
  bool in_place;          // the destination is the source
  int destination_close;  // which file close is the destination's
};

Outcome Expected(const FileScenario& s, const std::optional<FaultPoint>& fault) {
  if (!fault) {
    return Outcome::kDone;
  }
  switch (fault->call) {
    case Call::kFileOpen:
      return fault->nth == 1 ? Outcome::kSourceUnopened : Outcome::kFailed;
    case Call::kFileClose:
      // A source that fails to close has still been read whole.
      return fault->nth == s.destination_close ? Outcome::kFailed : Outcome::kDone;
    case Call::kFileCreate:  // written in place instead
    case Call::kFolderSync:  // after the rename: the destination is whole
      return Outcome::kDone;
    default:
      return Outcome::kFailed;
  }
}

// RunFileScenario runs `s` with `fault` armed and checks how it ended; the
// calls it made go into `counts` when that is given.
void RunFileScenario(const FileScenario& s, const std::optional<FaultPoint>& fault,
                     Counts* counts) {
  SCOPED_TRACE(s.name + ": " + Describe(fault));
  TempDir dir;
  const Bytes source = s.encrypt ? kContent : ContainerOf(kContent, kTag);
  dir.Write("source.EBS", source);
  const std::string destination_name = s.in_place ? "source.EBS" : "out.EBS";
  if (!s.in_place) {
    dir.Write(destination_name, kOldDestination);
  }
  const std::vector<std::string> files_before = dir.List();
  const std::size_t descriptors = OpenDescriptors();

  int err = -1;
  bool result = false;
  {
    platform::ClearFaults();
    if (fault) {
      platform::InjectFault(fault->call, fault->nth);
    }
    const auto call = s.encrypt ? cng_77x : cng_77z;
    result = call(dir.Path("source.EBS").c_str(), dir.Path(destination_name).c_str(),
                  kTag, err);
    if (counts != nullptr) {
      *counts = CountCalls();
    }
    if (fault) {
      EXPECT_TRUE(platform::FaultFired()) << "the clean run made this call";
    }
    platform::ClearFaults();
  }

  const std::optional<Bytes> written = dir.Read(destination_name);
  const std::optional<Bytes> before = s.in_place ? source : kOldDestination;
  switch (Expected(s, fault)) {
    case Outcome::kDone:
      EXPECT_TRUE(result);
      EXPECT_EQ(err, 0);
      ASSERT_TRUE(written.has_value());
      if (s.encrypt) {
        Bytes sealed = kContent;
        sealed.insert(sealed.end(), kTag, kTag + sizeof kTag - 1);
        EXPECT_EQ(ReferenceOpen(*written), sealed);
      } else {
        EXPECT_EQ(*written, kContent);
      }
      break;
    case Outcome::kSourceUnopened:
      EXPECT_FALSE(result);
      EXPECT_EQ(err, 3);
      EXPECT_EQ(written, before);
      break;
    case Outcome::kFailed:
      EXPECT_FALSE(result);
      EXPECT_EQ(err, 0);
      EXPECT_EQ(written, before);
      break;
  }
  // Nothing of the caller's is lost: a source that is not the destination is
  // never changed.
  if (!s.in_place) {
    EXPECT_EQ(dir.Read("source.EBS"), source);
  }
  EXPECT_EQ(dir.List(), files_before) << "no file made or removed, no temporary left";
  EXPECT_EQ(OpenDescriptors(), descriptors) << "no file left open";
}

// create_cng77_pipe on one file: encrypted (served decrypted unless something
// fails, then raw; no pipe at all when memory runs out) or plain (served raw
// whatever fails).
struct PipeScenario {
  std::string name;
  bool encrypted;
};

void RunPipeScenario(const PipeScenario& s, const std::optional<FaultPoint>& fault,
                     Counts* counts) {
  SCOPED_TRACE(s.name + ": " + Describe(fault));
  TempDir dir;
  const Bytes file = s.encrypted ? ContainerOf(kContent, kTag) : kContent;
  dir.Write("file.EBS", file);
  const std::string path = dir.Path("file.EBS");
  const std::size_t descriptors = OpenDescriptors();
  {
    Stream stream = OpenAsCaller(path, 7);
    ASSERT_NE(stream, nullptr);
    int err = kCallersCode;
    platform::ClearFaults();
    if (fault) {
      platform::InjectFault(fault->call, fault->nth);
    }
    Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), false, err));
    if (counts != nullptr) {
      *counts = CountCalls();
    }
    if (fault) {
      EXPECT_TRUE(platform::FaultFired()) << "the clean run made this call";
    }
    platform::ClearFaults();

    EXPECT_EQ(err, kCallersCode);
    // Only a failed close, after the whole file was read, keeps the
    // decrypting road; no memory for an encrypted file's blocks gives no
    // pipe, never its ciphertext.
    const bool decrypted = s.encrypted && (!fault || fault->call == Call::kFileClose);
    if (s.encrypted && fault && fault->call == Call::kHeapAlloc) {
      EXPECT_EQ(pipe, nullptr);
    } else if (pipe == nullptr) {
      ADD_FAILURE() << "no pipe";
    } else {
      EXPECT_EQ(IsQueuePipe(pipe.get()), decrypted);
      EXPECT_EQ(ReadToEnd(pipe.get()), decrypted ? kContent : file);
    }
  }
  EXPECT_EQ(dir.Read("file.EBS"), file);
  EXPECT_EQ(dir.List(), std::vector<std::string>{"file.EBS"});
  EXPECT_EQ(OpenDescriptors(), descriptors) << "no file left open";
}

// Sweep runs `run` clean to count its calls, checks that it made each of
// `reached`, then runs it once per fault point, each followed by a clean run.
// Returns the fault points swept.
int Sweep(const std::string& name, const std::vector<Call>& reached,
          const std::function<void(const std::optional<FaultPoint>&, Counts*)>& run) {
  Counts clean{};
  run(std::nullopt, &clean);
  for (const Call call : reached) {
    EXPECT_GT(clean[Index(call)], 0) << name << " made no call of " << NameOf(call);
  }
  int swept = 0;
  for (const Call call : kEveryCall) {
    for (int nth = 1; nth <= clean[Index(call)]; ++nth) {
      run(FaultPoint{call, nth}, nullptr);
      run(std::nullopt, nullptr);
      ++swept;
    }
  }
  std::cout << "[ SWEEP    ] " << name << ": " << swept << " fault points\n";
  return swept;
}

TEST(FaultSweep, EveryCallOfEveryExportFailsAsTheTablesSay) {
  // Closes that reach a stream, in order: the operation's source, then the
  // destination (cng_77x); cng_77z keeps its source open past the destination.
  // The source check opens no stream.
  const FileScenario files[] = {
      {"cng_77x", true, false, 2},
      {"cng_77x in place", true, true, 2},
      {"cng_77z", false, false, 1},
      {"cng_77z in place", false, true, 1},
  };
  const PipeScenario pipes[] = {
      {"create_cng77_pipe, encrypted file", true},
      {"create_cng77_pipe, plain file", false},
  };
  // Every layer is reached: the engine, the heap and the files; and by the
  // file exports, each step of replacing the destination.
  const std::vector<Call> layers = {Call::kOpenAlgorithmProvider, Call::kHeapAlloc,
                                    Call::kFileOpen, Call::kFileRead, Call::kFileClose};
  std::vector<Call> replacing = layers;
  replacing.insert(replacing.end(),
                   {Call::kFileWrite, Call::kFileStat, Call::kFileCreate, Call::kFileSync,
                    Call::kFileRename, Call::kFolderSync});
  const auto started = std::chrono::steady_clock::now();
  int total = 0;
  for (const FileScenario& s : files) {
    total += Sweep(s.name, replacing, [&s](const auto& fault, Counts* counts) {
      RunFileScenario(s, fault, counts);
    });
  }
  for (const PipeScenario& s : pipes) {
    total += Sweep(s.name, layers, [&s](const auto& fault, Counts* counts) {
      RunPipeScenario(s, fault, counts);
    });
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::cout << "[ SWEEP    ] " << total << " fault points in all, " << took.count()
            << " s\n";
  RecordProperty("fault_points", total);
}

}  // namespace
}  // namespace mirdcng::testing
