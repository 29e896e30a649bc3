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
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

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

// The file opened for writing is the one replaced, or none: should another
// file take the destination's name while the new content is written, the
// call fails and leaves that file alone.
TEST(Replace, AFileThatTookTheNameMeanwhileIsLeftAlone) {
  TempDir dir;
  dir.Write("plain.EBS", "content");
  dir.Write("out.EBS", "old");
  dir.Write("decoy", "someone else's");
  platform::ClearFaults();
  platform::InjectAction(Call::kFileSync, 1,
                         [&] { fs::rename(dir.Path("decoy"), dir.Path("out.EBS")); });
  const Outcome outcome =
      RunFileCall(dir.Path("plain.EBS").c_str(), dir.Path("out.EBS").c_str(), "",
                  &CNGManager::EncryptFile);
  EXPECT_TRUE(platform::FaultFired());
  platform::ClearFaults();
  EXPECT_EQ(outcome.cause, Cause::kDestinationChanged);
  EXPECT_EQ(dir.Read("out.EBS"), BytesOf("someone else's"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"out.EBS", "plain.EBS"}));
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

// RunAs runs `work` in a child that has taken the identity of `user` (and
// its group), and returns the child's exit status: what `work` returns.
constexpr uid_t kOtherUser = 65534;  // nobody, on every Linux system
int RunAs(uid_t user, const std::function<int()>& work) {
  const int status = RunInChild([&] {
    if (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 ||
        setresuid(user, user, user) != 0) {
      _exit(99);
    }
    _exit(work());
  });
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Also as another user in a folder of theirs with write and search but no
// read permission (0300), which takes new files all the same: the
// replacement is as crash-safe there as anywhere.
TEST(Crash, EndedBeforeAnyFileCallOfTheWriteLeavesTheFileWhole) {
  for (const bool unreadable_folder : {false, true}) {
    if (unreadable_folder && geteuid() != 0) {
      GTEST_SKIP() << "the unreadable folder needs root, to act as a second user";
    }
    for (const InPlace way : {InPlace{true}, InPlace{false}}) {
      TempDir counted;
      counted.Write("model.EBS", way.Before());
      platform::ClearFaults();
      ASSERT_TRUE(way.Run(counted));
      for (const Call step :
           {Call::kFileStat, Call::kFileCreate, Call::kFileWrite, Call::kFileSync,
            Call::kFileClose, Call::kFileRename, Call::kFolderSync}) {
        for (int nth = 1, calls = platform::CallCount(step); nth <= calls; ++nth) {
          SCOPED_TRACE(std::string(way.encrypt ? "cng_77x" : "cng_77z") +
                       (unreadable_folder ? " in a 0300 folder" : "") + ", call " +
                       std::to_string(nth) + " of kind " +
                       std::to_string(static_cast<int>(step)));
          TempDir dir;
          dir.Write("model.EBS", way.Before());
          const auto run = [&] {
            platform::ClearFaults();
            platform::InjectExit(step, nth);
            way.Run(dir);
            return 0;
          };
          int status = 0;
          if (unreadable_folder) {
            ASSERT_EQ(chown(dir.Path("model.EBS").c_str(), kOtherUser, kOtherUser), 0);
            ASSERT_EQ(chown(dir.root().c_str(), kOtherUser, kOtherUser), 0);
            ASSERT_EQ(chmod(dir.root().c_str(), 0300), 0);
            status = RunAs(kOtherUser, run);
          } else {
            const int waited = RunInChild([&] { run(); });
            status = WIFEXITED(waited) ? WEXITSTATUS(waited) : 0;
          }
          EXPECT_EQ(status, platform::kInjectedExitStatus);
          way.ExpectWhole(dir, true);
        }
      }
    }
  }
}

// Names planted where a temporary's name could once be foreseen (from the
// process's number), and links among them: the call makes its temporary
// under a name of its own all the same, crash-safe, and leaves every planted
// one as it was.
TEST(Crash, PlantedNamesAreNeitherFollowedNorInTheWay) {
  for (const InPlace way : {InPlace{true}, InPlace{false}}) {
    SCOPED_TRACE(way.encrypt ? "cng_77x" : "cng_77z");
    TempDir dir;
    dir.Write("model.EBS", way.Before());
    dir.Write("victim", "not to be touched");
    const int status = RunInChild([&] {
      for (int n = 1; n <= 100; ++n) {
        const std::string planted =
            dir.Path(".model.EBS.mirdcng-" + std::to_string(getpid()) + "-" +
                     std::to_string(n) + ".tmp");
        static_cast<void>(n % 2 == 0
                              ? symlink(dir.Path("victim").c_str(), planted.c_str())
                              : close(creat(planted.c_str(), 0644)));
      }
      platform::ClearFaults();
      platform::InjectExit(Call::kFileWrite, 1);  // a kill before the first byte
      way.Run(dir);
    });
    EXPECT_TRUE(WIFEXITED(status) &&
                WEXITSTATUS(status) == platform::kInjectedExitStatus);
    EXPECT_EQ(dir.Read("model.EBS"), way.Before()) << "written in place";
    EXPECT_EQ(dir.Read("victim"), BytesOf("not to be touched"));
    int temporaries = 0;
    for (const std::string& name : dir.List()) {
      if (name.find('-', sizeof(".model.EBS.mirdcng")) == std::string::npos &&
          name.starts_with(".model.EBS.mirdcng-")) {
        ++temporaries;
        EXPECT_EQ(name.size(), sizeof(".model.EBS.mirdcng-") - 1 + 16 + 4) << name;
      }
    }
    EXPECT_EQ(temporaries, 1) << "one temporary of its own, beside the planted names";
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

// RunOnSmallTmpfs runs `work` in a child, on a tmpfs mounted with `options`
// over `dir` in a mount namespace of the child's own; the child's exit status
// is what `work` returns. Nothing when no such namespace can be had here.
std::optional<int> RunOnSmallTmpfs(const TempDir& dir, const char* options,
                                   const std::function<int()>& work) {
  constexpr int kNoNamespace = 77;
  const int status = RunInChild([&] {
    if ((unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.root().c_str(), "tmpfs", 0, options) != 0) {
      _exit(kNoNamespace);
    }
    _exit(work());
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) {
    return std::nullopt;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// UseUpInodes makes empty files in `dir` until the device has no inode left.
void UseUpInodes(const TempDir& dir) {
  for (int i = 0; i < 10000; ++i) {
    const int made = open(dir.Path("inode-" + std::to_string(i)).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (made < 0) {
      return;
    }
    close(made);
  }
}

// A device with no room for the new file, or with room but no inode for a
// temporary: the call fails with the system's reason, the old file stays, no
// temporary is left, and nothing is written in place instead.
TEST(Crash, AFullDeviceLeavesTheOldFileAndNoTemporary) {
  struct Case {
    const char* label;
    const char* options;
    bool in_place;
    bool use_up_inodes;
  };
  const Case cases[] = {
      {"no space, in place", "size=64k", true, false},
      {"no inode, another destination", "size=1m,nr_inodes=16", false, true},
      {"no inode, in place", "size=1m,nr_inodes=16", true, true},
  };
  const std::string old(8000, 'o');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    const std::optional<int> failed = RunOnSmallTmpfs(dir, c.options, [&] {
      dir.Write("model.EBS", std::string(40000, 'c'));
      dir.Write("other.EBS", old);
      if (c.use_up_inodes) {
        UseUpInodes(dir);
      }
      const std::vector<std::string> before = dir.List();
      const std::string source = dir.Path("model.EBS");
      const std::string destination = c.in_place ? source : dir.Path("other.EBS");
      const Outcome outcome =
          RunFileCall(source.c_str(), destination.c_str(), "", &CNGManager::EncryptFile);
      // The exit status names the check that failed.
      return outcome.cause != Cause::kDestinationUnwritable              ? 1
             : outcome.error != ENOSPC                                   ? 2
             : dir.Read("model.EBS") != BytesOf(std::string(40000, 'c')) ? 3
             : dir.Read("other.EBS") != BytesOf(old)                     ? 3
             : dir.List() != before                                      ? 4
                                                                         : 0;
    });
    if (!failed) {
      GTEST_SKIP() << "no mount namespace for a small tmpfs here";
    }
    EXPECT_EQ(*failed, 0) << "1: not refused as unwritable, 2: not ENOSPC, 3: a file "
                             "changed, 4: something left beside them";
  }
}

// OpensForWriting reports whether this process may open `path` for writing,
// the decision fopen(path, "wb") leaves to the system.
bool OpensForWriting(const std::string& path) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    return false;
  }
  close(descriptor);
  return true;
}

// SetSysctl writes `value` into /proc/sys/`name` and returns what it held;
// nothing when it cannot be written here.
std::optional<std::string> SetSysctl(const std::string& name, const std::string& value) {
  const std::string path = "/proc/sys/" + name;
  std::ifstream in(path);
  std::string held;
  if (!(in >> held)) {
    return std::nullopt;
  }
  std::ofstream out(path);
  if (!(out << value << std::flush)) {
    return std::nullopt;
  }
  return held;
}

// Who may write a destination is decided as fopen(dst, "wb") decides it, by
// the file's own permission and the system's rules for links, never by the
// folder alone: a user cannot replace root's 0644 file in a folder anyone
// may write, nor a read-only file of their own, and may write root's 0666
// file in a sticky folder (in place: it may not be replaced by a rename
// there); root's call does not follow a link another user planted in a
// sticky folder where the system forbids following it.
TEST(Permissions, AreDecidedAsForFopen) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root, to act as a second user";
  }
  struct Case {
    const char* label;
    mode_t folder_mode;
    uid_t file_owner;
    mode_t file_mode;
    uid_t caller;
    bool planted_link;  // dst is a link the other user made to the file
  };
  const Case cases[] = {
      {"root's 0644 file, world-writable folder", 0777, 0, 0644, kOtherUser, false},
      {"the user's own 0444 file", 0755, kOtherUser, 0444, kOtherUser, false},
      {"root's 0666 file, sticky folder", 01777, 0, 0666, kOtherUser, false},
      {"a planted link to root's file, sticky folder", 01777, 0, 0644, 0, true},
  };
  const std::optional<std::string> protection = SetSysctl("fs/protected_symlinks", "1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    dir.Write("plain.EBS", "content");
    fs::create_directory(dir.Path("shared"));
    fs::create_directory(dir.Path("kept"));
    const std::string file =
        dir.Path(c.planted_link ? "kept/file.EBS" : "shared/file.EBS");
    const std::string destination = dir.Path("shared/file.EBS");
    dir.Write(c.planted_link ? "kept/file.EBS" : "shared/file.EBS", "old");
    ASSERT_EQ(chown(file.c_str(), c.file_owner, c.file_owner), 0);
    ASSERT_EQ(chmod(file.c_str(), c.file_mode), 0);
    ASSERT_EQ(chmod(dir.Path("shared").c_str(), c.folder_mode), 0);
    if (c.planted_link) {
      ASSERT_EQ(
          RunAs(kOtherUser, [&] { return symlink(file.c_str(), destination.c_str()); }),
          0);
    }
    // Bit 0: fopen may write it; bit 1: cng_77x did.
    const int decided = RunAs(c.caller, [&] {
      int err = -1;
      return (OpensForWriting(destination) ? 1 : 0) |
             (cng_77x(dir.Path("plain.EBS").c_str(), destination.c_str(), "", err) ? 2
                                                                                   : 0);
    });
    ASSERT_LT(decided, 4) << "the child failed";
    const bool written = (decided & 2) != 0;
    EXPECT_EQ(written, (decided & 1) != 0) << "decided otherwise than fopen";
    const Bytes now =
        dir.Read(c.planted_link ? "kept/file.EBS" : "shared/file.EBS").value();
    EXPECT_EQ(now == BytesOf("old"), !written);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, c.file_owner) << "the file keeps its owner";
    EXPECT_EQ(info.st_mode & 07777, c.file_mode) << "and its permissions";
    if (c.planted_link && protection) {
      EXPECT_FALSE(written) << "the system forbids following the link here";
    }
  }
  if (protection) {
    SetSysctl("fs/protected_symlinks", *protection);
  }
}

// Another user who watches the folder and opens every temporary the moment it
// appears gets none of them: a temporary is readable by its owner alone
// until it has the destination's permissions (here 0600, root's).
TEST(Permissions, NoOtherUserReadsTheTemporary) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root, to watch as a second user";
  }
  constexpr int kCalls = 40;
  TempDir dir;
  fs::create_directory(dir.Path("out"));
  const Bytes content = PatternBytes(1 << 20, 9);
  dir.Write("plain.EBS", content);
  int err = -1;
  ASSERT_TRUE(
      cng_77x(dir.Path("plain.EBS").c_str(), dir.Path("sealed.EBS").c_str(), "", err));
  dir.Write("out/file.EBS", "old");
  ASSERT_EQ(chmod(dir.Path("out/file.EBS").c_str(), 0600), 0);
  const mode_t umask_before = umask(022);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t watcher = fork();
  if (watcher == 0) {
    // Exit status: how many temporaries it opened; 100 when it saw none.
    close(ready[0]);
    if (setgroups(0, nullptr) != 0 ||
        setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
        setresuid(kOtherUser, kOtherUser, kOtherUser) != 0) {
      _exit(99);
    }
    alarm(60);  // never outlives the test, should an event be missed
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, dir.Path("out").c_str(), IN_CREATE) < 0) {
      _exit(98);
    }
    static_cast<void>(write(ready[1], "r", 1));
    int seen = 0;
    int opened = 0;
    alignas(inotify_event) char events[4096];
    while (seen < kCalls) {
      const ssize_t got = read(watch, events, sizeof events);
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const int file = openat(AT_FDCWD, (dir.Path("out/") + event->name).c_str(),
                                O_RDONLY | O_CLOEXEC);
        ++seen;
        if (file >= 0) {
          ++opened;
          close(file);
        }
      }
    }
    _exit(opened);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  for (int call = 0; call < kCalls; ++call) {
    ASSERT_TRUE(cng_77z(dir.Path("sealed.EBS").c_str(), dir.Path("out/file.EBS").c_str(),
                        "", err));
  }
  umask(umask_before);
  int status = 0;
  waitpid(watcher, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the watcher did not end by itself";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "temporaries another user could open";
  EXPECT_EQ(dir.Read("out/file.EBS"), content);
}

}  // namespace
}  // namespace mirdcng::testing
