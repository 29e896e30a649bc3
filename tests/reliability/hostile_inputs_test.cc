// Hostile files and names, and file systems that really fail: each must end
// in a clear refusal with a code from the table, or a faithful round trip,
// and never lose or change what the caller had.
//
// Every case that is tried is counted, and the count is printed at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "platform/fault_injection.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

using platform::Call;

std::atomic<int> inputs_tried{0};

// Prints the figure the README quotes once every test has run.
class InputCount : public ::testing::Environment {
 public:
  void TearDown() override {
    std::cout << "[ HOSTILE  ] " << inputs_tried << " hostile inputs tried\n";
  }
};
[[maybe_unused]] const auto* const kInputCount =
    ::testing::AddGlobalTestEnvironment(new InputCount);

// Printable content and tags: no truncation of their containers can end in
// valid padding by chance, so every one of them is refused.
Bytes Printable(std::size_t size, std::uint32_t seed) {
  Bytes bytes = PatternBytes(size, seed);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(' ' + byte % 95);
  }
  return bytes;
}

const Bytes kIv = PatternBytes(16, 9);

Bytes Sealed(const Bytes& content, const std::string& tag) {
  Bytes all = content;
  all.insert(all.end(), tag.begin(), tag.end());
  return CraftContainer(static_cast<std::uint8_t>(tag.size()), kIv, all);
}

// What a pipe opened on `path` serves, with the road it took.
struct Served {
  bool decrypted = false;
  Bytes content;
  int err = kCallersCode;
};

// The caller has read part of its stream, which the raw road rewinds.
Served OpenPipe(const std::string& stream_path, const std::string& name) {
  Served served;
  Stream stream = OpenAsCaller(
      stream_path, std::min<std::uintmax_t>(3, std::filesystem::file_size(stream_path)));
  EXPECT_NE(stream, nullptr);
  Pipe pipe(create_cng77_pipe(stream.get(), name.c_str(), false, served.err));
  EXPECT_NE(pipe, nullptr);
  if (pipe) {
    served.decrypted = IsQueuePipe(pipe.get());
    served.content = ReadToEnd(pipe.get());
  }
  return served;
}

// Every length of a container short of its whole, through both decrypting
// roads: cng_77z refuses each with code 0 (or 5, where the tag test comes
// first) and makes no file; the pipe serves each raw.
TEST(HostileInputs, EveryTruncationOfAContainerIsRefusedOrServedRaw) {
  struct Case {
    const char* label;
    Bytes content;
    std::string tag;
  };
  const Case cases[] = {
      {"tag abc", Printable(100, 1), "abc"},
      {"no tag", Printable(64, 2), ""},
      {"255-byte tag", Printable(10, 3), std::string(255, 't')},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const Bytes whole = Sealed(c.content, c.tag);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
      SCOPED_TRACE(std::string(c.label) + ", " + std::to_string(length) + " of " +
                   std::to_string(whole.size()) + " bytes");
      const Bytes file(whole.begin(),
                       whole.begin() + static_cast<std::ptrdiff_t>(length));
      dir.Write("cut.EBS", file);
      const bool complete = length == whole.size();

      for (const bool with_tag : {true, false}) {
        int err = -1;
        const bool opened =
            cng_77z(dir.Path("cut.EBS").c_str(), dir.Path("out.EBS").c_str(),
                    with_tag ? c.tag.c_str() : "", err);
        // Without the tag, a header that names one stops before the cipher.
        const bool tag_test_first =
            !with_tag && !c.tag.empty() && length >= kHeaderLength;
        const bool succeeds = complete && (with_tag || c.tag.empty());
        EXPECT_EQ(opened, succeeds);
        EXPECT_EQ(err, tag_test_first ? 5 : 0);
        EXPECT_EQ(dir.Read("out.EBS"),
                  succeeds ? std::optional<Bytes>(c.content) : std::nullopt);
        std::filesystem::remove(dir.Path("out.EBS"));
        ++inputs_tried;
      }

      const Served served = OpenPipe(dir.Path("cut.EBS"), dir.Path("cut.EBS"));
      EXPECT_EQ(served.decrypted, complete);
      EXPECT_EQ(served.content, complete ? c.content : file);
      EXPECT_EQ(served.err, kCallersCode);
      EXPECT_EQ(dir.Read("cut.EBS"), file);
      ++inputs_tried;
    }
  }
}

#if !defined(_WIN32)
// Names are bytes: backslashes, spaces, control characters and bytes that are
// not UTF-8 reach the file system unchanged, on every road. (Windows takes
// most of these as separators, or not at all.)
TEST(HostileInputs, NamesAreTakenByteForByte) {
  const std::string names[] = {
      "back\\slash.EBS",  "C:\\models\\m.EBS", "with  spaces .EBS",     " .EBS",
      "\xff\xfe\x80.EBS", "caf\xe9.EBS",       "tab\tand\nnewline.EBS", "-dash.EBS",
      "what?*<>|\".EBS",  "trailing dot.",
  };
  const Bytes content = BytesOf("names are bytes");
  for (const std::string& name : names) {
    SCOPED_TRACE("name \"" + name + "\"");
    TempDir dir;
    // The naming rule gives ".ebs" to every name not ending in ".EBS".
    const std::string stored = name.ends_with(".EBS") ? name : name + ".ebs";
    dir.Write("plain.EBS", content);
    int err = -1;
    ASSERT_TRUE(cng_77x(dir.Path("plain.EBS").c_str(), dir.Path(name).c_str(), "t", err));
    std::vector<std::string> expected = {"plain.EBS", stored};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.List(), expected);
    EXPECT_EQ(ReferenceOpen(*dir.Read(stored)), BytesOf("names are bytest"));

    const Served served = OpenPipe(dir.Path(stored), dir.Path(stored));
    EXPECT_TRUE(served.decrypted);
    EXPECT_EQ(served.content, content);

    std::filesystem::remove(dir.Path("plain.EBS"));
    ASSERT_TRUE(cng_77z(dir.Path(name).c_str(), dir.Path("plain.EBS").c_str(), "t", err));
    EXPECT_EQ(dir.Read("plain.EBS"), content);
    inputs_tried += 3;
  }
}
#endif  // !_WIN32

// Tags whose length does not fit the length byte: never encrypted here, and a
// crafted file with one, whose length byte holds only the low 8 bits, never
// matches the tag in cng_77z and is served by the pipe with as many trailer
// bytes dropped as its length byte says, the rest served as content.
TEST(HostileInputs, TagsBeyond255Bytes) {
  TempDir dir;
  const Bytes content = BytesOf("content");
  const Bytes old_destination = BytesOf("the destination as it was");
  dir.Write("plain.EBS", content);
  for (const std::size_t length : {255u, 256u, 300u}) {
    SCOPED_TRACE(std::to_string(length) + "-byte tag");
    const std::string tag(length, 'g');
    const bool fits = length <= kMaxTagLength;
    dir.Write("sealed.EBS", old_destination);
    int err = -1;
    EXPECT_EQ(cng_77x(dir.Path("plain.EBS").c_str(), dir.Path("sealed.EBS").c_str(),
                      tag.c_str(), err),
              fits);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(dir.Read("sealed.EBS") == old_destination, !fits);

    dir.Write("crafted.EBS", Sealed(content, tag));
    std::filesystem::remove(dir.Path("out.EBS"));
    EXPECT_EQ(cng_77z(dir.Path("crafted.EBS").c_str(), dir.Path("out.EBS").c_str(),
                      tag.c_str(), err),
              fits);
    EXPECT_EQ(err, fits ? 0 : 5);
    EXPECT_EQ(dir.Read("out.EBS"), fits ? std::optional<Bytes>(content) : std::nullopt);

    Bytes expected = content;
    expected.insert(expected.end(), tag.begin(), tag.end() - (length % 256));
    const Served served = OpenPipe(dir.Path("crafted.EBS"), dir.Path("crafted.EBS"));
    EXPECT_TRUE(served.decrypted);
    EXPECT_EQ(served.content, expected);
    inputs_tried += 3;
  }
}

// ExpectSealRefusedUnread: cng_77x of a sparse source of `size` bytes with
// `tag` is refused with code 0 before a byte of it is read, and makes no file.
void ExpectSealRefusedUnread(std::uintmax_t size, const char* tag) {
  SCOPED_TRACE("cng_77x of " + std::to_string(size) + " bytes, tag \"" + tag + "\"");
  TempDir dir;
  dir.Write("plain.EBS", "plain");
  std::filesystem::resize_file(dir.Path("plain.EBS"), size);
  int err = -1;
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
  platform::ClearFaults();
#endif
  EXPECT_FALSE(
      cng_77x(dir.Path("plain.EBS").c_str(), dir.Path("a.EBS").c_str(), tag, err));
  EXPECT_EQ(err, 0);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
  EXPECT_EQ(platform::CallCount(Call::kFileRead), 0) << "refused by size alone";
#endif
  EXPECT_EQ(dir.List(), std::vector<std::string>{"plain.EBS"});
  ++inputs_tried;
}

// Sparse files of 2 GiB and more, some whose size wraps to a small one in 32
// bits, over a head that would decrypt: every road refuses them by their size
// and does not read them. So does cng_77x a source that reaches 2 GiB only
// with its tag.
TEST(HostileInputs, FilesOf2GiBAndMoreAreRefusedUnread) {
  constexpr std::uintmax_t k2GiB = std::uintmax_t{1} << 31;
  const Bytes head = Sealed(BytesOf("small"), "");  // 34 bytes
  const std::uintmax_t sizes[] = {k2GiB, k2GiB + 1, k2GiB << 1,
                                  (k2GiB << 1) + head.size(), 5 * k2GiB + 3};
  for (const std::uintmax_t size : sizes) {
    ExpectSealRefusedUnread(size, "");
  }
  ExpectSealRefusedUnread(k2GiB - 1, "t");
  ExpectSealRefusedUnread(k2GiB - 3, "abc");

  for (const std::uintmax_t size : sizes) {
    SCOPED_TRACE(std::to_string(size) + "-byte container");
    TempDir dir;
    dir.Write("huge.EBS", head);
    std::filesystem::resize_file(dir.Path("huge.EBS"), size);
    int err = -1;
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    platform::ClearFaults();
#endif
    EXPECT_FALSE(
        cng_77z(dir.Path("huge.EBS").c_str(), dir.Path("b.EBS").c_str(), "", err));
    EXPECT_EQ(err, 0);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    EXPECT_EQ(platform::CallCount(Call::kFileRead), 0) << "refused by size alone";
    EXPECT_EQ(platform::CallCount(Call::kDecrypt), 0);
#endif
    EXPECT_EQ(dir.List(), std::vector<std::string>{"huge.EBS"});

    Stream stream = OpenAsCaller(dir.Path("huge.EBS"));
    int code = kCallersCode;
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    platform::ClearFaults();
#endif
    Pipe pipe(create_cng77_pipe(stream.get(), dir.Path("huge.EBS").c_str(), false, code));
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    EXPECT_LE(platform::CallCount(Call::kFileRead), 1) << "the marker, and no more";
    EXPECT_EQ(platform::CallCount(Call::kDecrypt), 0);
#endif
    ASSERT_NE(pipe, nullptr);
    EXPECT_FALSE(IsQueuePipe(pipe.get()));
    std::uint8_t first[34] = {};
    ASSERT_EQ(zulread(pipe.get(), first, sizeof first), 34);
    EXPECT_EQ(Bytes(first, first + 34), head);
    EXPECT_EQ(code, kCallersCode);
    inputs_tried += 2;
  }
}

// File systems that really fail, as root too: a destination that is a
// folder, a folder that is missing, a folder that is a file, names and paths
// longer than the system takes; on Linux also a full device, a write the
// device refuses, a read the device refuses, a folder no file can be made in.
class RealIoFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("plain.EBS", plain_);
    dir_.Write("sealed.EBS", sealed_);
    dir_.Write("file.EBS", "a file, not a folder");
    std::filesystem::create_directory(dir_.Path("folder.EBS"));
    while (long_path_.size() < 5000) {
      long_path_ += "deep/";
    }
    long_path_ += "x.EBS";
#if !defined(_WIN32)
    std::error_code missing;
    // /proc/version opens for writing, as root, and refuses every write;
    // /proc/self/mem opens for reading and refuses to read its first page.
    std::filesystem::create_symlink("/proc/version", dir_.Path("refuses-writes.EBS"),
                                    missing);
    std::filesystem::create_symlink("/proc/self/mem", dir_.Path("refuses-reads.EBS"),
                                    missing);
    have_proc_ = !missing && std::filesystem::exists("/proc/self/mem");
    std::filesystem::create_symlink("/dev/full", dir_.Path("full.EBS"), missing);
    have_full_ = !missing && std::filesystem::exists("/dev/full");
#endif
  }

  const Bytes plain_ = BytesOf("plain content");
  const Bytes sealed_ = Sealed(plain_, "t");
  TempDir dir_;
  const std::string long_name_ = dir_.Path(std::string(300, 'n') + ".EBS");
  std::string long_path_ = dir_.Path("");
  bool have_proc_ = false;
  bool have_full_ = false;
};

// Each call gives false with its code, creates nothing, and the source is as
// it was.
TEST_F(RealIoFaults, FileExportsGiveFalseWithTheirCodeAndLoseNothing) {
  struct Case {
    std::string label;
    std::string src;  // of cng_77x; cng_77z reads sealed.EBS when it is plain.EBS
    std::string dst;
    int err;
  };
  const std::string plain = dir_.Path("plain.EBS");
  const std::string out = dir_.Path("out.EBS");
  std::vector<Case> cases = {
      {"destination is a folder", plain, dir_.Path("folder.EBS"), 0},
      {"destination folder missing", plain, dir_.Path("missing/out.EBS"), 0},
      {"destination inside a file", plain, dir_.Path("file.EBS/out.EBS"), 0},
      {"destination name too long", plain, long_name_, 0},
      {"destination path too long", plain, long_path_, 0},
      {"source inside a file", dir_.Path("file.EBS/in.EBS"), out, 3},
      {"source name too long", long_name_, out, 3},
      {"source path too long", long_path_, out, 3},
  };
  if (have_full_) {
    cases.push_back({"destination is a full device", plain, dir_.Path("full.EBS"), 0});
  }
  if (have_proc_) {
    cases.push_back(
        {"destination refuses writes", plain, dir_.Path("refuses-writes.EBS"), 0});
    cases.push_back({"source refuses reads", dir_.Path("refuses-reads.EBS"), out, 0});
  }
#if !defined(_WIN32)
  // sysfs takes no new file, from root neither.
  if (std::filesystem::exists("/sys/kernel")) {
    cases.push_back({"destination in a folder that takes no file", plain,
                     "/sys/mirdcng-reliability-test.EBS", 0});
  }
#endif
  const std::vector<std::string> files = dir_.List();
  for (const Case& c : cases) {
    for (const bool encrypt : {true, false}) {
      SCOPED_TRACE(c.label + (encrypt ? ", cng_77x" : ", cng_77z"));
      const std::string src =
          !encrypt && c.src == plain ? dir_.Path("sealed.EBS") : c.src;
      int err = -1;
      const bool result = encrypt ? cng_77x(src.c_str(), c.dst.c_str(), "t", err)
                                  : cng_77z(src.c_str(), c.dst.c_str(), "t", err);
      EXPECT_FALSE(result);
      EXPECT_EQ(err, c.err);
      EXPECT_EQ(dir_.List(), files) << "nothing made, nothing removed";
      EXPECT_EQ(dir_.Read("plain.EBS"), plain_);
      EXPECT_EQ(dir_.Read("sealed.EBS"), sealed_);
      ++inputs_tried;
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Path("folder.EBS")));
  EXPECT_FALSE(std::filesystem::exists("/sys/mirdcng-reliability-test.EBS"));
}

// A name that cannot be opened or read: the caller's stream is served raw.
TEST_F(RealIoFaults, PipeServesTheStreamRawWhenTheNameCannotBeRead) {
  std::vector<std::string> unreadable = {long_name_, long_path_,
                                         dir_.Path("file.EBS/in.EBS")};
  if (have_proc_) {
    unreadable.push_back(dir_.Path("refuses-reads.EBS"));
  }
  for (const std::string& name : unreadable) {
    SCOPED_TRACE("pipe named " + name.substr(0, 80));
    const Served served = OpenPipe(dir_.Path("sealed.EBS"), name);
    EXPECT_FALSE(served.decrypted);
    EXPECT_EQ(served.content, sealed_);
    EXPECT_EQ(served.err, kCallersCode);
    ++inputs_tried;
  }
}

}  // namespace
}  // namespace mirdcng::testing
