// Crashes and full disks while a file is replaced in place: a child process
// encrypts or decrypts a file onto itself and ends at once, as a kill would
// end it, before each file call of the write in turn; or is killed by a
// file-size limit; or meets a full device. Afterwards the file is, byte for
// byte, what it was or the whole result, and nothing is beside it but, after
// a crash, the temporary the crash interrupted.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <functional>
#include <string>

#include "fileops/call_frame.h"
#include "mirdcng/mirdcng.h"
#include "platform/fault_injection.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

using platform::Call;

const Bytes kContent = [] {
  Bytes bytes = PatternBytes(5000, 3);
  bytes[0] = 'c';  // not the container marker
  return bytes;
}();
const std::string kTag = "crash";

Bytes Sealed() {
  Bytes sealed = kContent;
  sealed.insert(sealed.end(), kTag.begin(), kTag.end());
  return sealed;
}

// RunInChild runs `work` in a child process and returns its wait status.
int RunInChild(const std::function<void()>& work) {
  const pid_t child = fork();
  if (child == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

// The file as one of the two exports leaves it: `before` (the content, or its
// container) when `encrypt`, and the other one after.
struct InPlace {
  bool encrypt;
  std::string label() const { return encrypt ? "cng_77x" : "cng_77z"; }
  Bytes Before() const {
    return encrypt ? kContent : CraftContainer(5, Bytes(16, 9), Sealed());
  }
  bool Run(const std::string& path) const {
    int err = 0;
    const auto call = encrypt ? cng_77x : cng_77z;
    return call(path.c_str(), path.c_str(), kTag.c_str(), err);
  }
  // Checks that the file in `dir` is whole; `temporary_allowed`: and that a
  // temporary is all that may lie beside it.
  void ExpectWhole(const TempDir& dir, bool temporary_allowed) const {
    const std::optional<Bytes> file = dir.Read("model.EBS");
    ASSERT_TRUE(file.has_value());
    if (*file != Before()) {
      EXPECT_EQ(
          encrypt ? ReferenceOpen(*file) : std::optional<Bytes>(*file),
          encrypt ? std::optional<Bytes>(Sealed()) : std::optional<Bytes>(kContent));
    }
    for (const std::string& name : dir.List()) {
      const bool temporary =
          name.starts_with(".model.EBS.mirdcng-") && name.ends_with(".tmp");
      EXPECT_TRUE(name == "model.EBS" || (temporary && temporary_allowed)) << name;
    }
  }
};

constexpr InPlace kBothWays[] = {{true}, {false}};

TEST(Crash, EndedBeforeAnyFileCallOfTheWriteLeavesTheFileWhole) {
  const Call steps[] = {Call::kFileStat,  Call::kFileCreate, Call::kFileWrite,
                        Call::kFileSync,  Call::kFileClose,  Call::kFileRename,
                        Call::kFolderSync};
  for (const InPlace& way : kBothWays) {
    TempDir counted;
    counted.Write("model.EBS", way.Before());
    platform::ClearFaults();
    ASSERT_TRUE(way.Run(counted.Path("model.EBS")));
    for (const Call step : steps) {
      for (int nth = 1, calls = platform::CallCount(step); nth <= calls; ++nth) {
        SCOPED_TRACE(way.label() + ": ended at call " + std::to_string(nth) +
                     " of kind " + std::to_string(static_cast<int>(step)));
        TempDir dir;
        dir.Write("model.EBS", way.Before());
        const int status = RunInChild([&] {
          platform::ClearFaults();
          platform::InjectExit(step, nth);
          way.Run(dir.Path("model.EBS"));
        });
        EXPECT_TRUE(WIFEXITED(status) &&
                    WEXITSTATUS(status) == platform::kInjectedExitStatus);
        way.ExpectWhole(dir, true);
      }
    }
  }
}

// A file-size limit below the new file's size: with the default SIGXFSZ the
// process is killed mid-write; with SIGXFSZ ignored the write fails (EFBIG)
// and the call returns false. Either way the file is as it was.
TEST(Crash, AFileSizeLimitLeavesTheFileAsItWas) {
  for (const InPlace& way : kBothWays) {
    for (const bool killed : {true, false}) {
      SCOPED_TRACE(way.label() + (killed ? ", killed by SIGXFSZ" : ", SIGXFSZ ignored"));
      TempDir dir;
      dir.Write("model.EBS", way.Before());
      const int status = RunInChild([&] {
        std::signal(SIGXFSZ, killed ? SIG_DFL : SIG_IGN);
        const rlimit limit{1000, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(way.Run(dir.Path("model.EBS")) ? 1 : 0);
      });
      EXPECT_EQ(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ, killed);
      EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, !killed);
      EXPECT_EQ(dir.Read("model.EBS"), way.Before());
      way.ExpectWhole(dir, killed);
    }
  }
}

// A device with no room for the new file: the call fails with the system's
// reason, the old file stays, no temporary is left. The device is a small
// tmpfs, mounted in a mount namespace of the child's own.
TEST(Crash, AFullDeviceLeavesTheOldFileAndNoTemporary) {
  constexpr int kNoNamespace = 77;
  TempDir dir;
  const int status = RunInChild([&] {
    if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      _exit(kNoNamespace);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.root().c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(kNoNamespace);
    }
    Bytes content = PatternBytes(40000, 4);
    content[0] = 'c';
    dir.Write("model.EBS", content);
    const std::optional<Bytes> before = dir.Read("model.EBS");
    const Outcome outcome =
        RunFileCall(dir.Path("model.EBS").c_str(), dir.Path("model.EBS").c_str(), "",
                    &CNGManager::EncryptFile);
    // Exit statuses name the check that failed.
    _exit(outcome.cause != Cause::kDestinationUnwritable ? 1
          : outcome.error != ENOSPC                      ? 2
          : dir.Read("model.EBS") != before              ? 3
          : dir.List().size() != 1                       ? 4
                                                         : 0);
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) {
    GTEST_SKIP() << "no mount namespace for a small tmpfs here";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "1: not refused as unwritable, 2: not ENOSPC, 3: the file changed, "
         "4: something left beside it";
}

}  // namespace
}  // namespace mirdcng::testing
