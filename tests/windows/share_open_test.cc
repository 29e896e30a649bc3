// The library's file opens share the file with every other opener, for real:
// the host keeps its own handle of a file open while it calls the library,
// and Windows refuses an open whose share mode clashes with another's. A
// destination the host holds without delete sharing cannot be replaced by a
// rename, and is written in place instead.
#include "platform/share_open.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "mirdcng/mirdcng.h"
#include "platform/file_replace.h"
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

// Opens `path` as the library does, for reading ("rb"), or for writing as a
// destination that is about to be replaced ("wb"): whether it opens.
bool OpensAsLibrary(const std::string& path, const char* mode) {
  if (mode[0] == 'r') {
    return platform::OpenForReading(path.c_str()).file != nullptr;
  }
  return platform::Replacement::Begin(path.c_str()).state() !=
         platform::Replacement::State::kRefused;
}

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
    EXPECT_EQ(OpensAsLibrary(dir.Path("shared.EBS"), c.mode), c.opens);
  }
}

TEST(ShareOpenTest, HostCanOpenWhatTheLibraryHoldsOpen) {
  testing::TempDir dir;
  dir.Write("shared.EBS", "content");
  {
    const platform::File file =
        platform::OpenForReading(dir.Path("shared.EBS").c_str()).file;
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(HostHandle(dir.Path("shared.EBS"), kReadWrite, kShareAll).open());
  }
  // A destination being replaced: held open for writing, its temporary beside it.
  const platform::Replacement replacement =
      platform::Replacement::Begin(dir.Path("shared.EBS").c_str());
  ASSERT_EQ(replacement.state(), platform::Replacement::State::kReady);
  EXPECT_TRUE(HostHandle(dir.Path("shared.EBS"), kReadWrite, kShareAll).open());
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

// The framework's hosts hold their files open without delete sharing: such a
// destination, the source itself included, is written in place; one held
// with delete sharing is replaced. Either way no temporary is left.
TEST(ShareOpenTest, ADestinationTheHostHoldsIsWrittenInPlaceOrReplaced) {
  for (const DWORD share : {kShareAll, kShareAll | FILE_SHARE_DELETE}) {
    for (const bool in_place : {false, true}) {
      SCOPED_TRACE(
          std::string(share == kShareAll ? "no delete sharing" : "delete sharing") +
          (in_place ? ", in place" : ""));
      testing::TempDir dir;
      dir.Write("plain.EBS", "held open");
      dir.Write("sealed.EBS", "old");
      const std::string destination = dir.Path(in_place ? "plain.EBS" : "sealed.EBS");
      int err = -1;
      {
        HostHandle host(destination, kReadWrite, share);
        ASSERT_TRUE(host.open());
        EXPECT_TRUE(
            cng_77x(dir.Path("plain.EBS").c_str(), destination.c_str(), "t", err));
      }
      EXPECT_TRUE(cng_77z(destination.c_str(), dir.Path("back.EBS").c_str(), "t", err));
      EXPECT_EQ(dir.Read("back.EBS"), BytesOf("held open"));
      EXPECT_EQ(dir.List().size(), 3u) << "no temporary left";
    }
  }
}

}  // namespace
}  // namespace mirdcng
