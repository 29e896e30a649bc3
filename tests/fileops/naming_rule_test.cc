// The .ebs naming rule, on real files through cng_77x: for every row, which
// file the source path reads and which file the destination path writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mirdcng/mirdcng.h"
#include "tests/support/reference_cipher.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::BytesOf;
using testing::ReferenceOpen;
using testing::TempDir;

// Paths are given relative to a fresh current folder, so that the rule's
// results (".ebs" for the empty path among them) land inside it.
class NamingRuleTest : public ::testing::Test {
 protected:
  NamingRuleTest() : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.root());
  }
  ~NamingRuleTest() override { std::filesystem::current_path(previous_); }

  // The folders that the backslash rows name where "\" separates paths.
  void MakeRowFolders() const {
    std::filesystem::create_directory(dir_.Path("data.old"));
    std::filesystem::create_directory(dir_.Path("data.EBS"));
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& name : dir_.List()) {
      if (std::filesystem::is_regular_file(dir_.Path(name))) {
        files.push_back(name);
      }
    }
    return files;
  }

  TempDir dir_;
  std::filesystem::path previous_;
};

struct Row {
  const char* given;
  const char* used;
};

const Row kRows[] = {
    {"model", "model.ebs"},
    {"model.EBS", "model.EBS"},
    {"model.ebs", "model.ebs.ebs"},
    {"model.Ebs", "model.Ebs.ebs"},
    {"model.txt", "model.txt.ebs"},
    {"model.", "model..ebs"},
    {"data.old\\model", "data.old\\model.ebs"},
    {"data.EBS\\model", "data.EBS\\model.ebs"},
    {"EBS", "EBS"},
    {"", ".ebs"},
};

TEST_F(NamingRuleTest, SourcePathReadsTheFileTheRuleNames) {
  MakeRowFolders();
  const Bytes content = BytesOf("read from the renamed source");
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string("source \"") + row.given + "\"");
    dir_.Write(row.used, content);
    int err = 9;
    EXPECT_TRUE(cng_77x(row.given, "out.EBS", nullptr, err));
    EXPECT_EQ(err, 0);
    const auto sealed = dir_.Read("out.EBS");
    ASSERT_TRUE(sealed.has_value());
    EXPECT_EQ(ReferenceOpen(*sealed), content);
    EXPECT_EQ(Files().size(), 2u) << "only the source and the destination";
    std::filesystem::remove(dir_.Path(row.used));
    std::filesystem::remove(dir_.Path("out.EBS"));
  }
}

TEST_F(NamingRuleTest, DestinationPathWritesTheFileTheRuleNames) {
  MakeRowFolders();
  const Bytes content = BytesOf("written to the renamed destination");
  dir_.Write("plain.EBS", content);
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string("destination \"") + row.given + "\"");
    int err = 9;
    EXPECT_TRUE(cng_77x("plain.EBS", row.given, nullptr, err));
    EXPECT_EQ(err, 0);
    const auto sealed = dir_.Read(row.used);
    ASSERT_TRUE(sealed.has_value());
    EXPECT_EQ(ReferenceOpen(*sealed), content);
    EXPECT_EQ(Files().size(), 2u) << "only the source and the destination";
    std::filesystem::remove(dir_.Path(row.used));
  }
}

}  // namespace
}  // namespace mirdcng
