// Replacing a destination: what the new file takes over from the old one,
// and a symbolic link followed to the file it leads to. (The fallback to
// writing in place: the fault sweep, where the temporary cannot be made.)
//
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
#include <filesystem>
#include <functional>

#include "fileops/call_frame.h"
#include "mirdcng/mirdcng.h"
#include "platform/fault_injection.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

namespace fs = std::filesystem;
using platform::Call;

const Bytes kContent = BytesOf(std::string(5000, 'c'));
const Bytes kSealed = BytesOf(std::string(5000, 'c') + "crash");  // with the tag

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

TEST(Replace, KeepsThePermissionsAndReplacesWhatALinkLeadsTo) {
  const mode_t umask_now = umask(022);
  umask(umask_now);
  struct Case {
    const char* label;
    const char* link;  // the name written to, when a link leads to `file`
    bool exists;
    mode_t mode;  // the file's before, or for a new one what fopen gives it
  };
  const Case cases[] = {
      {"an existing file", nullptr, true, 0640},
      {"a new file", nullptr, false, 0666 & ~umask_now},
      {"a link to an existing file", "link.EBS", true, 0604},
      {"a link to no file yet", "link.EBS", false, 0666 & ~umask_now},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    dir.Write("plain.EBS", "content");
    if (c.exists) {
      dir.Write("file.EBS", "old");
      fs::permissions(dir.Path("file.EBS"), static_cast<fs::perms>(c.mode));
    }
    if (c.link != nullptr) {
      fs::create_symlink("file.EBS", dir.Path(c.link));
    }
    int err = -1;
    ASSERT_TRUE(cng_77x(dir.Path("plain.EBS").c_str(),
                        dir.Path(c.link != nullptr ? c.link : "file.EBS").c_str(), "",
                        err));
    EXPECT_EQ(ReferenceOpen(*dir.Read("file.EBS")), BytesOf("content"));
    EXPECT_EQ(fs::status(dir.Path("file.EBS")).permissions(),
              static_cast<fs::perms>(c.mode));
    if (c.link != nullptr) {
      EXPECT_TRUE(fs::is_symlink(dir.Path(c.link)));
    }
    EXPECT_EQ(dir.List().size(), c.link != nullptr ? 3u : 2u) << "no temporary left";
  }
}

// One in-place call: cng_77x on the content, or cng_77z on its container.
struct InPlace {
  bool encrypt;
  Bytes Before() const {
    return encrypt ? kContent : CraftContainer(5, Bytes(16), kSealed);
  }
  bool Run(const TempDir& dir) const {
    const std::string path = dir.Path("model.EBS");
    int err = 0;
    return (encrypt ? cng_77x : cng_77z)(path.c_str(), path.c_str(), "crash", err);
  }
  // The file is what it was or the whole result; beside it at most a
  // temporary, where `crashed`.
  void ExpectWhole(const TempDir& dir, bool crashed) const {
    const Bytes file = dir.Read("model.EBS").value_or(Bytes());
    if (file != Before()) {
      EXPECT_EQ(encrypt ? ReferenceOpen(file).value_or(Bytes()) : file,
                encrypt ? kSealed : kContent);
    }
    for (const std::string& name : dir.List()) {
      EXPECT_TRUE(
          name == "model.EBS" ||
          (crashed && name.starts_with(".model.EBS.mirdcng-") && name.ends_with(".tmp")))
          << name;
    }
  }
};

TEST(Crash, EndedBeforeAnyFileCallOfTheWriteLeavesTheFileWhole) {
  for (const InPlace way : {InPlace{true}, InPlace{false}}) {
    TempDir counted;
    counted.Write("model.EBS", way.Before());
    platform::ClearFaults();
    ASSERT_TRUE(way.Run(counted));
    for (const Call step :
         {Call::kFileStat, Call::kFileCreate, Call::kFileWrite, Call::kFileSync,
          Call::kFileClose, Call::kFileRename, Call::kFolderSync}) {
      for (int nth = 1, calls = platform::CallCount(step); nth <= calls; ++nth) {
        SCOPED_TRACE(std::string(way.encrypt ? "cng_77x" : "cng_77z") + ", call " +
                     std::to_string(nth) + " of kind " +
                     std::to_string(static_cast<int>(step)));
        TempDir dir;
        dir.Write("model.EBS", way.Before());
        const int status = RunInChild([&] {
          platform::ClearFaults();
          platform::InjectExit(step, nth);
          way.Run(dir);
        });
        EXPECT_TRUE(WIFEXITED(status) &&
                    WEXITSTATUS(status) == platform::kInjectedExitStatus);
        way.ExpectWhole(dir, true);
      }
    }
  }
}

// A file-size limit below the new file's size, with the default SIGXFSZ: the
// process is killed mid-write, and the file is as it was.
TEST(Crash, KilledByAFileSizeLimitLeavesTheFileAsItWas) {
  for (const InPlace way : {InPlace{true}, InPlace{false}}) {
    TempDir dir;
    dir.Write("model.EBS", way.Before());
    const int status = RunInChild([&] {
      const rlimit limit{1000, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limit);
      way.Run(dir);
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    EXPECT_EQ(dir.Read("model.EBS"), way.Before());
    way.ExpectWhole(dir, true);
  }
}

// A device with no room for the new file, a small tmpfs in a mount namespace
// of the child's own: the call fails with the system's reason, the old file
// stays, no temporary is left.
TEST(Crash, AFullDeviceLeavesTheOldFileAndNoTemporary) {
  constexpr int kNoNamespace = 77;
  TempDir dir;
  const int status = RunInChild([&] {
    if ((unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.root().c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(kNoNamespace);
    }
    dir.Write("model.EBS", std::string(40000, 'c'));
    const std::string path = dir.Path("model.EBS");
    const Outcome outcome =
        RunFileCall(path.c_str(), path.c_str(), "", &CNGManager::EncryptFile);
    // The exit status names the check that failed.
    _exit(outcome.cause != Cause::kDestinationUnwritable              ? 1
          : outcome.error != ENOSPC                                   ? 2
          : dir.Read("model.EBS") != BytesOf(std::string(40000, 'c')) ? 3
          : dir.List().size() != 1                                    ? 4
                                                                      : 0);
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) {
    GTEST_SKIP() << "no mount namespace for a small tmpfs here";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "1: not refused as unwritable, 2: not ENOSPC, 3: the file changed, "
         "4: something left beside it";
}

}  // namespace
}  // namespace mirdcng::testing
