// cng_77x end to end: the container it writes, checked with an independent
// cipher, and the sources and tags it refuses, leaving the destination as it
// was.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "engine/cng_manager.h"
#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::BytesOf;
using testing::PatternBytes;
using testing::ReferenceOpen;

constexpr int kStale = 9;  // what a caller may leave in the result code

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

class EncryptTest : public ::testing::Test {
 protected:
  // Encrypts "plain.EBS" into "sealed.EBS" and returns the result; `err`
  // starts stale.
  bool Seal(const char* tag, int& err) {
    err = kStale;
    return cng_77x(Path("plain.EBS").c_str(), Path("sealed.EBS").c_str(), tag, err);
  }

  std::string Path(const std::string& name) const { return dir_.Path(name); }

  testing::TempDir dir_;
};

TEST_F(EncryptTest, WritesMarkerTagLengthIvAndTheSourceFollowedByTheTag) {
  struct Case {
    std::size_t source;
    std::string tag;
    std::size_t file_size;
  };
  const Case cases[] = {
      {0, "abc", 34},   // the tag alone: one block, 13 bytes of padding
      {13, "abc", 50},  // 16 bytes of content get a whole block of padding
      {32, "", 66},     // no tag: the source alone, and again a padding block
      {1, "", 34},
      {17, "t", 50},
      {100, std::string(255, 'k'), 18 + 16 * 23},  // the longest tag
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + "-byte source, " +
                 std::to_string(c.tag.size()) + "-byte tag");
    const Bytes source = PatternBytes(c.source, static_cast<std::uint32_t>(c.source) + 5);
    dir_.Write("plain.EBS", source);
    int err = 0;
    ASSERT_TRUE(Seal(c.tag.c_str(), err));
    EXPECT_EQ(err, 0);
    const auto file = dir_.Read("sealed.EBS");
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->size(), c.file_size);
    EXPECT_EQ((*file)[0], kContainerMarker);
    EXPECT_EQ((*file)[1], c.tag.size());
    EXPECT_EQ(ReferenceOpen(*file), Concat(source, BytesOf(c.tag)));
  }
}

TEST_F(EncryptTest, RefusalsLeaveTheDestinationAsItWas) {
  // A container that cng_77x wrote itself.
  dir_.Write("plain.EBS", "already protected");
  int err = 0;
  ASSERT_TRUE(Seal("t", err));
  const Bytes container = *dir_.Read("sealed.EBS");

  struct Case {
    const char* name;
    Bytes source;
    std::string tag;
  };
  const Case cases[] = {
      {"a container", container, "t"},
      {"a container, no tag", container, ""},
      {"the marker byte alone", {0xDD}, ""},
      {"empty source, empty tag", {}, ""},
      {"empty source, tag beginning with the marker", {}, "\xDDtag"},
  };
  const Bytes old_destination = BytesOf("the destination as it was");
  for (const Case& c : cases) {
    for (const bool destination_exists : {false, true}) {
      SCOPED_TRACE(std::string(c.name) +
                   (destination_exists ? ", destination exists" : ", no destination"));
      dir_.Write("plain.EBS", c.source);
      std::filesystem::remove(Path("sealed.EBS"));
      if (destination_exists) {
        dir_.Write("sealed.EBS", old_destination);
      }
      EXPECT_FALSE(Seal(c.tag.c_str(), err));
      EXPECT_EQ(err, 0);
      EXPECT_EQ(dir_.Read("sealed.EBS"), destination_exists
                                             ? std::optional<Bytes>(old_destination)
                                             : std::nullopt);
    }
  }
}

// Only the very first byte marks a container.
TEST_F(EncryptTest, AcceptsWhatOnlyResemblesARefusal) {
  struct Case {
    const char* name;
    Bytes source;
    std::string tag;
  };
  const Case cases[] = {
      {"the marker as the second byte", {0x41, 0xDD}, ""},
      {"the marker inside the tag", BytesOf("x"), "\xDD"},
      {"empty source, a tag", {}, "t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.Write("plain.EBS", c.source);
    int err = 0;
    EXPECT_TRUE(Seal(c.tag.c_str(), err));
    const auto file = dir_.Read("sealed.EBS");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(ReferenceOpen(*file), Concat(c.source, BytesOf(c.tag)));
  }
}

TEST_F(EncryptTest, DestinationEqualToTheSourceIsReplacedByItsContainer) {
  const Bytes source = PatternBytes(1000);
  dir_.Write("model.EBS", source);
  int err = kStale;
  ASSERT_TRUE(cng_77x(Path("model.EBS").c_str(), Path("model.EBS").c_str(), "tag", err));
  EXPECT_EQ(err, 0);
  const auto file = dir_.Read("model.EBS");
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->size(), EncryptedFileSize(1003));
  EXPECT_EQ(ReferenceOpen(*file), Concat(source, BytesOf("tag")));
}

TEST_F(EncryptTest, EveryEncryptionHasAFreshIv) {
  const Bytes source = PatternBytes(64);
  dir_.Write("plain.EBS", source);
  int err = 0;
  ASSERT_TRUE(cng_77x(Path("plain.EBS").c_str(), Path("one.EBS").c_str(), "t", err));
  ASSERT_TRUE(cng_77x(Path("plain.EBS").c_str(), Path("two.EBS").c_str(), "t", err));
  const Bytes one = *dir_.Read("one.EBS");
  const Bytes two = *dir_.Read("two.EBS");
  ASSERT_EQ(one.size(), two.size());
  // Every 16 bytes from the IV on differ: IV and each ciphertext block.
  for (std::size_t at = kIvOffset; at < one.size(); at += kCipherBlock) {
    SCOPED_TRACE("bytes from " + std::to_string(at));
    EXPECT_FALSE(std::equal(one.begin() + static_cast<std::ptrdiff_t>(at),
                            one.begin() + static_cast<std::ptrdiff_t>(at + kCipherBlock),
                            two.begin() + static_cast<std::ptrdiff_t>(at)));
  }
  EXPECT_EQ(ReferenceOpen(one), Concat(source, BytesOf("t")));
  EXPECT_EQ(ReferenceOpen(two), Concat(source, BytesOf("t")));
}

// The fallback that writes a destination in place puts an in-place source
// back when its write fails (fileops/replace_file.h), with the bytes that
// Restore gives: by then the source exists only as the transform left it in
// the one block. Undoing either transform must give the source back as it
// is on the disk, byte for byte, the container's header included; checked
// against the reference cipher, at sizes around the padding's block.
TEST_F(EncryptTest, UndoingEitherTransformGivesBackTheSourceByteForByte) {
  for (const std::size_t size : {0u, 1u, 13u, 16u, 17u, 1000u, 70000u}) {
    for (const std::string& tag :
         {std::string(), std::string("abc"), std::string(255, 't')}) {
      if (size == 0 && tag.empty()) {
        continue;  // nothing to encrypt
      }
      SCOPED_TRACE(std::to_string(size) + "-byte source, " + std::to_string(tag.size()) +
                   "-byte tag");
      const Bytes source = PatternBytes(size, static_cast<std::uint32_t>(size) + 3);
      const Bytes content = Concat(source, BytesOf(tag));
      dir_.Write("plain.EBS", source);
      {
        CNGManager engine(tag);
        HeldFile held;
        ASSERT_TRUE(engine.SealFile(Path("plain.EBS"), held));
        const Bytes sealed(held.Container().begin(), held.Container().end());
        EXPECT_EQ(ReferenceOpen(sealed), content);
        const auto [head, body] = engine.Restore(held);
        EXPECT_TRUE(head.empty());
        EXPECT_EQ(Bytes(body.begin(), body.end()), source);
      }
      const Bytes container = testing::CraftContainer(
          static_cast<std::uint8_t>(tag.size()), PatternBytes(16, 9), content);
      dir_.Write("sealed.EBS", container);
      {
        CNGManager engine(tag);
        HeldFile held;
        ASSERT_TRUE(
            engine.UnsealFile(Path("sealed.EBS"), CNGManager::Trailer::kMatch, held));
        EXPECT_EQ(Bytes(held.Content().begin(), held.Content().end()), source);
        const auto [head, body] = engine.Restore(held);
        Bytes restored(head.begin(), head.end());
        restored.insert(restored.end(), body.begin(), body.end());
        EXPECT_EQ(restored, container);
      }
    }
  }
}

}  // namespace
}  // namespace mirdcng
