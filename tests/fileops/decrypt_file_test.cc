// cng_77z end to end: round trips, the tag check and its result codes, and
// every refusal leaving the destination as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "platform/fault_injection.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using platform::Call;
using testing::Bytes;
using testing::BytesOf;
using testing::CraftContainer;
using testing::PatternBytes;

const Bytes kIv = PatternBytes(16, 7);

class DecryptTest : public ::testing::Test {
 protected:
  // Encrypts `content` with `tag` into "sealed.EBS" through cng_77x.
  void Seal(const Bytes& content, const std::string& tag) {
    dir_.Write("plain.EBS", content);
    int err = -1;
    ASSERT_TRUE(
        cng_77x(Path("plain.EBS").c_str(), Path("sealed.EBS").c_str(), tag.c_str(), err));
  }

  // Runs cng_77z from `src` to "out.EBS" and returns its result; `err` gets
  // the result code, which starts at a stale 9.
  bool Open(const std::string& src, const char* tag, int& err) {
    err = 9;
    return cng_77z(Path(src).c_str(), Path("out.EBS").c_str(), tag, err);
  }

  std::string Path(const std::string& name) const { return dir_.Path(name); }

  testing::TempDir dir_;
};

TEST_F(DecryptTest, RoundTripsWithTagsOfEveryLength) {
  for (const std::size_t tag_length : {0u, 1u, 3u, 200u, 255u}) {
    for (const std::size_t size : {1u, 13u, 16u, 17u, 1000u}) {
      SCOPED_TRACE("tag " + std::to_string(tag_length) + ", size " +
                   std::to_string(size));
      const std::string tag(tag_length, 'k');
      const Bytes content = PatternBytes(size, static_cast<std::uint32_t>(size));
      Seal(content, tag);
      int err = 0;
      EXPECT_TRUE(Open("sealed.EBS", tag.c_str(), err));
      EXPECT_EQ(err, 0);
      EXPECT_EQ(dir_.Read("out.EBS"), content);
    }
  }
}

TEST_F(DecryptTest, NullAndEmptyTagAreTheSame) {
  Seal(BytesOf("no tag here"), "");
  int err = 0;
  EXPECT_TRUE(Open("sealed.EBS", nullptr, err));
  EXPECT_EQ(dir_.Read("out.EBS"), BytesOf("no tag here"));
  EXPECT_TRUE(Open("sealed.EBS", "", err));
  EXPECT_EQ(err, 0);
}

TEST_F(DecryptTest, ContentWithZeroBytesSurvives) {
  const Bytes content = {0, 0, 'a', 0, 0xDD, 0, 0};
  Seal(content, "t\x01");
  int err = 0;
  EXPECT_TRUE(Open("sealed.EBS", "t\x01", err));
  EXPECT_EQ(dir_.Read("out.EBS"), content);
}

TEST_F(DecryptTest, WrongTagsGiveCodeFiveAndLeaveTheDestination) {
  Seal(BytesOf("secret"), "abc");
  struct Case {
    const char* name;
    const char* tag;
  } const cases[] = {
      {"one byte different", "abd"}, {"one byte shorter", "ab"},
      {"one byte longer", "abcd"},   {"letter case", "ABC"},
      {"no tag given", ""},          {"null tag", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("out.EBS", "keep me");
    int err = 0;
    EXPECT_FALSE(Open("sealed.EBS", c.tag, err));
    EXPECT_EQ(err, 5);
    EXPECT_EQ(dir_.Read("out.EBS"), BytesOf("keep me"));
  }
  std::filesystem::remove(Path("out.EBS"));
  int err = 0;
  EXPECT_FALSE(Open("sealed.EBS", "abx", err));
  EXPECT_FALSE(dir_.Exists("out.EBS"));
}

TEST_F(DecryptTest, MissingTagIsRefusedBeforeAnyCipherCall) {
  Seal(BytesOf("secret"), "abc");
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
  platform::ClearFaults();
#endif
  int err = 0;
  EXPECT_FALSE(Open("sealed.EBS", "", err));
  EXPECT_EQ(err, 5);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
  EXPECT_EQ(platform::CallCount(Call::kDecrypt), 0);
#endif
}

TEST_F(DecryptTest, FileWithoutTagRefusesAGivenTag) {
  Seal(BytesOf("untagged"), "");
  int err = 0;
  EXPECT_FALSE(Open("sealed.EBS", "x", err));
  EXPECT_EQ(err, 5);
  EXPECT_FALSE(dir_.Exists("out.EBS"));
}

TEST_F(DecryptTest, DecryptsAContainerCraftedIndependently) {
  dir_.Write("crafted.EBS", CraftContainer(4, kIv, BytesOf("made elsewhereTAG!")));
  int err = 0;
  EXPECT_TRUE(Open("crafted.EBS", "TAG!", err));
  EXPECT_EQ(dir_.Read("out.EBS"), BytesOf("made elsewhere"));
}

TEST_F(DecryptTest, EmptyPlaintextGivesAnEmptyFile) {
  const Bytes file = CraftContainer(0, kIv, {});
  ASSERT_EQ(file.size(), 34u);
  dir_.Write("empty.EBS", file);
  dir_.Write("out.EBS", "old content");
  int err = 0;
  EXPECT_TRUE(Open("empty.EBS", "", err));
  EXPECT_EQ(err, 0);
  EXPECT_EQ(dir_.Read("out.EBS"), Bytes{});
}

TEST_F(DecryptTest, SuccessReplacesALongerDestination) {
  Seal(BytesOf("short"), "");
  dir_.Write("out.EBS", PatternBytes(5000));
  int err = 0;
  EXPECT_TRUE(Open("sealed.EBS", "", err));
  EXPECT_EQ(dir_.Read("out.EBS"), BytesOf("short"));
}

TEST_F(DecryptTest, DecryptsInPlace) {
  Seal(BytesOf("in place"), "t");
  int err = 0;
  EXPECT_TRUE(cng_77z(Path("sealed.EBS").c_str(), Path("sealed.EBS").c_str(), "t", err));
  EXPECT_EQ(dir_.Read("sealed.EBS"), BytesOf("in place"));
}

// Files that are not containers, or not whole ones: false with code 0 and no
// destination, whatever tag is given.
TEST_F(DecryptTest, MalformedFilesAreRefusedWithCodeZero) {
  Bytes seventeen = {kContainerMarker, 3};
  seventeen.insert(seventeen.end(), kIv.begin(), kIv.end());
  const Bytes tail17 = PatternBytes(17);
  seventeen.insert(seventeen.end(), tail17.begin(), tail17.end());
  Bytes bad_padding = CraftContainer(0, kIv, BytesOf("abc"));
  bad_padding.back() ^= 0x01;
  struct Case {
    const char* name;
    Bytes file;
    const char* tag;
  } const cases[] = {
      {"empty file", {}, ""},
      {"plain text", BytesOf("hello, world"), ""},
      {"marker alone", {kContainerMarker}, "abc"},
      {"header cut short", {kContainerMarker, 0, 1, 2, 3, 4, 5}, ""},
      {"header without ciphertext", Bytes(18, kContainerMarker), "x"},
      {"17-byte ciphertext, tag given", seventeen, "abc"},
      {"trailer longer than the plaintext", CraftContainer(10, kIv, BytesOf("abcd")),
       "0123456789"},
      {"damaged last block", bad_padding, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("bad.EBS", c.file);
    int err = 0;
    EXPECT_FALSE(Open("bad.EBS", c.tag, err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(dir_.Exists("out.EBS"));
  }
}

TEST_F(DecryptTest, SeventeenByteCiphertextWithoutTagIsATagMismatch) {
  Bytes file = {kContainerMarker, 3};
  file.insert(file.end(), kIv.begin(), kIv.end());
  file.resize(file.size() + 17, 0x55);
  dir_.Write("bad.EBS", file);
  int err = 0;
  EXPECT_FALSE(Open("bad.EBS", "", err));
  EXPECT_EQ(err, 5);
}

}  // namespace
}  // namespace mirdcng
