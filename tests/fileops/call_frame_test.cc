// The call frame of the file exports, through cng_77x: the null test, the
// result code written on every call, the source check, the tag as given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "mirdcng/mirdcng.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::BytesOf;
using testing::ReferenceOpen;
using testing::TempDir;

constexpr int kStale = 9;  // what a caller may leave in the result code

TEST(CallFrame, NullPathsGiveCodeTwoAndTouchNothing) {
  TempDir dir;
  dir.Write("plain.EBS", "content");
  const std::string src = dir.Path("plain.EBS");
  const std::string dst = dir.Path("out.EBS");
  const auto before = dir.List();
  struct Case {
    const char* name;
    const char* src;
    const char* dst;
  };
  const Case cases[] = {
      {"null source", nullptr, dst.c_str()},
      {"null destination", src.c_str(), nullptr},
      {"both null", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    for (const char* tag : {static_cast<const char*>(nullptr), "tag"}) {
      SCOPED_TRACE(std::string(c.name) + (tag != nullptr ? ", with a tag" : ""));
      int err = kStale;
      EXPECT_FALSE(cng_77x(c.src, c.dst, tag, err));
      EXPECT_EQ(err, 2);
      EXPECT_EQ(dir.List(), before);
    }
  }
}

TEST(CallFrame, ResultCodeIsOverwrittenWithZero) {
  TempDir dir;
  dir.Write("plain.EBS", "content");
  dir.Write("sealed.EBS", Bytes{0xDD, 1, 2});
  struct Case {
    const char* name;
    const char* src;
    bool result;
  };
  for (const Case c : {Case{"success", "plain.EBS", true},
                       Case{"a refusal by the operation", "sealed.EBS", false}}) {
    SCOPED_TRACE(c.name);
    int err = kStale;
    EXPECT_EQ(cng_77x(dir.Path(c.src).c_str(), dir.Path("out.EBS").c_str(), "", err),
              c.result);
    EXPECT_EQ(err, 0);
  }
}

// The rule renames the source before it is looked for, so a file under the
// name given is not found unless the name ends in "EBS".
TEST(CallFrame, SourceThatDoesNotOpenGivesCodeThreeAndLeavesTheDestination) {
  struct Case {
    const char* name;
    const char* present;  // the only file there besides the destination
    const char* src;
  };
  const Case cases[] = {
      {"only the name given exists", "model", "model"},
      {"model.ebs is looked for as model.ebs.ebs", "model.ebs", "model.ebs"},
      {"nothing of the name exists", "other.EBS", "model.EBS"},
      {"a directory is no readable file", nullptr, "folder.EBS"},
  };
  const Bytes old_destination = BytesOf("the destination as it was");
  for (const Case& c : cases) {
    for (const bool destination_exists : {false, true}) {
      SCOPED_TRACE(std::string(c.name) +
                   (destination_exists ? ", destination exists" : ", no destination"));
      TempDir dir;
      std::filesystem::create_directory(dir.Path("folder.EBS"));
      if (c.present != nullptr) {
        dir.Write(c.present, "content");
      }
      if (destination_exists) {
        dir.Write("out.EBS", old_destination);
      }
      int err = kStale;
      EXPECT_FALSE(
          cng_77x(dir.Path(c.src).c_str(), dir.Path("out.EBS").c_str(), "t", err));
      EXPECT_EQ(err, 3);
      EXPECT_EQ(dir.Read("out.EBS"), destination_exists
                                         ? std::optional<Bytes>(old_destination)
                                         : std::nullopt);
    }
  }
}

// What a call yields, as far as a caller can see it.
struct Outcome {
  bool result = false;
  int err = kStale;
  std::optional<Bytes> file;
  std::optional<Bytes> content;  // the file opened by the reference cipher

  bool operator==(const Outcome&) const = default;
};

TEST(CallFrame, NullTagAndEmptyTagAreTheSame) {
  for (const std::size_t size : {0u, 20u}) {
    SCOPED_TRACE(std::to_string(size) + "-byte source");
    TempDir dir;
    dir.Write("plain.EBS", testing::PatternBytes(size));
    const auto run = [&](const char* tag) {
      Outcome outcome;
      std::filesystem::remove(dir.Path("out.EBS"));
      outcome.result = cng_77x(dir.Path("plain.EBS").c_str(), dir.Path("out.EBS").c_str(),
                               tag, outcome.err);
      outcome.file = dir.Read("out.EBS");
      if (outcome.file) {
        outcome.content = ReferenceOpen(*outcome.file);
        // A fresh IV makes the rest differ on every call; the marker, the
        // tag length, the size and the content must agree.
        std::fill(outcome.file->begin() + 2, outcome.file->end(), 0);
      }
      return outcome;
    };
    const Outcome with_null = run(nullptr);
    const Outcome with_empty = run("");
    EXPECT_EQ(with_null.result, size != 0);
    EXPECT_TRUE(with_null == with_empty);
  }
}

}  // namespace
}  // namespace mirdcng
