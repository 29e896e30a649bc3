// Replacing a destination: what the new file takes over from the old one, a
// symbolic link followed to the file it leads to, and the fallback to writing
// in place where no temporary can be made beside the destination.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "mirdcng/mirdcng.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

TEST(ReplaceFile, KeepsThePermissionsAndReplacesWhatALinkLeadsTo) {
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
    EXPECT_EQ(ModeOf(dir.Path("file.EBS")), c.mode);
    if (c.link != nullptr) {
      EXPECT_TRUE(fs::is_symlink(dir.Path(c.link)));
    }
    EXPECT_EQ(dir.List().size(), c.link != nullptr ? 3u : 2u) << "no temporary left";
  }
}

// A folder that takes no new file, holding a file that may be written: the
// file is encrypted in place, by a process that the folder's permissions
// bind (root's would not).
TEST(ReplaceFile, WritesInPlaceWhereNoTemporaryCanBeMade) {
  TempDir dir;
  fs::create_directory(dir.Path("locked"));
  dir.Write("locked/model.EBS", "content");
  fs::permissions(dir.Path("locked/model.EBS"), static_cast<fs::perms>(0666));
  fs::permissions(dir.Path("locked"), static_cast<fs::perms>(0555));
  const std::string path = dir.Path("locked/model.EBS");
  const pid_t child = fork();
  if (child == 0) {
    if (getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(2);
    }
    int err = -1;
    _exit(cng_77x(path.c_str(), path.c_str(), "", err) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  fs::permissions(dir.Path("locked"), static_cast<fs::perms>(0755));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReferenceOpen(*dir.Read("locked/model.EBS")), BytesOf("content"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"locked", "locked/model.EBS"}));
}

}  // namespace
}  // namespace mirdcng::testing
