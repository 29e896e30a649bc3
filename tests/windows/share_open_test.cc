// The library's file opens share the file with every other opener, for real:
// the host keeps its own handle of a file open while it calls the library,
// and Windows refuses an open whose share mode clashes with another's.
#include "platform/share_open.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "mirdcng/mirdcng.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::BytesOf;

// HostHandle is a host's own open handle of a file, closed when it goes.
class HostHandle {
 public:
  HostHandle(const std::string& path, DWORD access, DWORD share)
      : handle_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HostHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  HostHandle(const HostHandle&) = delete;
  HostHandle& operator=(const HostHandle&) = delete;

  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

TEST(ShareOpenTest, OpensBesideTheHostsHandleUnlessTheHostDeniesIt) {
  const struct {
    const char* name;
    DWORD host_share;
    const char* mode;
    bool opens;
  } cases[] = {
      {"read beside a host writer that shares", kShareAll, "rb", true},
      {"write beside a host writer that shares", kShareAll, "wb", true},
      {"read beside a host that denies writers", FILE_SHARE_READ, "rb", true},
      {"write beside a host that denies writers", FILE_SHARE_READ, "wb", false},
      {"read beside a host that denies everything", 0, "rb", false},
  };
  testing::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("shared.EBS", "content");
    HostHandle host(dir.Path("shared.EBS"), kReadWrite, c.host_share);
    ASSERT_TRUE(host.open());
    platform::File file = platform::OpenShared(dir.Path("shared.EBS").c_str(), c.mode);
    EXPECT_EQ(file != nullptr, c.opens);
    if (file != nullptr && c.mode[0] == 'r') {
      EXPECT_EQ(platform::FileSize(file.get()), 7);
    }
  }
}

TEST(ShareOpenTest, HostCanOpenWhatTheLibraryHoldsOpen) {
  testing::TempDir dir;
  dir.Write("shared.EBS", "content");
  for (const char* mode : {"rb", "wb"}) {
    SCOPED_TRACE(mode);
    platform::File file = platform::OpenShared(dir.Path("shared.EBS").c_str(), mode);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(HostHandle(dir.Path("shared.EBS"), kReadWrite, kShareAll).open());
  }
}

// The exports work on files the host holds open, as the framework does.
TEST(ShareOpenTest, ExportsWorkWhileTheHostHoldsBothFiles) {
  testing::TempDir dir;
  dir.Write("plain.EBS", "held open");
  dir.Write("sealed.EBS", "old");
  dir.Write("back.EBS", "old");
  int err = -1;
  {
    HostHandle source(dir.Path("plain.EBS"), kReadWrite, kShareAll);
    HostHandle destination(dir.Path("sealed.EBS"), kReadWrite, kShareAll);
    ASSERT_TRUE(source.open() && destination.open());
    EXPECT_TRUE(
        cng_77x(dir.Path("plain.EBS").c_str(), dir.Path("sealed.EBS").c_str(), "t", err));
  }
  {
    HostHandle source(dir.Path("sealed.EBS"), kReadWrite, kShareAll);
    HostHandle destination(dir.Path("back.EBS"), kReadWrite, kShareAll);
    ASSERT_TRUE(source.open() && destination.open());
    EXPECT_TRUE(
        cng_77z(dir.Path("sealed.EBS").c_str(), dir.Path("back.EBS").c_str(), "t", err));
  }
  EXPECT_EQ(dir.Read("back.EBS"), BytesOf("held open"));
}

}  // namespace
}  // namespace mirdcng
