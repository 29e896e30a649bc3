// A failed in-place write loses nothing: when the destination is the source
// and its new content does not fit, the old content is put back.
//
// The failure is made with a file-size limit: writes past it fail (EFBIG), so
// a container slightly larger than its source cannot be written while the
// source itself can.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "mirdcng/mirdcng.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

// Limits the size of files this process writes, for the length of a scope.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    previous_signal_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previous_signal_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previous_signal_)(int) = nullptr;
};

TEST(InPlaceFailureTest, FailedInPlaceEncryptionKeepsTheSource) {
  testing::TempDir dir;
  const testing::Bytes content = testing::PatternBytes(1000);
  dir.Write("model.EBS", content);
  const std::string path = dir.Path("model.EBS");
  int err = -1;
  {
    ScopedFileSizeLimit limit(1010);  // the container needs 1026 bytes
    EXPECT_FALSE(cng_77x(path.c_str(), path.c_str(), "", err));
  }
  EXPECT_EQ(err, 0);
  EXPECT_EQ(dir.Read("model.EBS"), content);
}

}  // namespace
}  // namespace mirdcng
