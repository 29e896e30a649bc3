// The mirdcng command's outputs of data, cat, inspect (as text and as JSON)
// and decrypt to "-", run as a person would run them: every byte as it is, on
// every system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/container_format.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/reference_cipher.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace mirdcng::testing {
namespace {

struct ToolRun {
  int status = -1;
  Bytes out;
  std::string err;
};

// ToolPath is the mirdcng command's path. The Windows build puts programs
// beside each other, so there it is found next to this one.
std::string ToolPath() {
#if defined(_WIN32)
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string path(self, length);
  return path.substr(0, path.find_last_of("\\/") + 1) + MIRDCNG_TOOL_PATH;
#else
  return MIRDCNG_TOOL_PATH;
#endif
}

// RunTool runs the mirdcng command with `arguments` (each quoted here) and
// collects its exit status and both outputs.
ToolRun RunTool(const TempDir& dir, std::initializer_list<std::string> arguments) {
  std::string command = "\"" + ToolPath() + "\"";
  for (const std::string& argument : arguments) {
    command += " \"" + argument + "\"";
  }
  command += " >\"" + dir.Path("stdout") + "\" 2>\"" + dir.Path("stderr") + "\"";
#if defined(_WIN32)
  // cmd /c drops the first and the last quote of a line that holds several.
  command = "\"" + command + "\"";
#endif
  ToolRun run;
  const int raw = std::system(command.c_str());
#if defined(_WIN32)
  run.status = raw;
#else
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.out = dir.Read("stdout").value_or(Bytes{});
  const Bytes err = dir.Read("stderr").value_or(Bytes{});
  run.err.assign(err.begin(), err.end());
  return run;
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(PipeCommandsTest, CatWritesWhatThePipeReadsByteForByte) {
  TempDir dir;
  // More than one copy chunk, with the bytes that text modes change.
  Bytes secret = Plaintext((std::size_t{3} << 19) + 7, 41);
  secret[1] = '\r';
  secret[2] = '\n';
  secret[3] = 0;
  secret[4] = 0x1A;
  const std::string sealed = Seal(dir, "sealed.EBS", secret, "tag");
  dir.Write("plain.bin", secret);
  dir.Write("empty.EBS", CraftContainer(0, PatternBytes(16, 3), {}));

  struct Case {
    const char* label;
    std::string path;
    Bytes expected;
  };
  const Case cases[] = {
      {"encrypted", sealed, secret},
      {"plain", dir.Path("plain.bin"), secret},
      {"decrypts to nothing", dir.Path("empty.EBS"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const ToolRun run = RunTool(dir, {"cat", c.path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.expected);
    EXPECT_EQ(run.err, "");
  }

  // A whole container that cannot be decrypted (its trailer would be longer
  // than what it holds) is an error, never its bytes.
  dir.Write("damaged.EBS", CraftContainer(200, PatternBytes(16, 5), BytesOf("short")));
  const ToolRun refused = RunTool(dir, {"cat", dir.Path("damaged.EBS")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_NE(refused.err.find("cannot decrypt"), std::string::npos) << refused.err;

  const ToolRun missing = RunTool(dir, {"cat", dir.Path("missing.EBS")});
  EXPECT_EQ(missing.status, 3);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
  EXPECT_EQ(RunTool(dir, {"cat", sealed, sealed}).status, 2);
  EXPECT_EQ(RunTool(dir, {"cat", sealed, "--tag", "tag"}).status, 2);
}

TEST(PipeCommandsTest, DecryptToStandardOutputWritesOnlyATagCheckedPlaintext) {
  TempDir dir;
  Bytes secret = Plaintext(70000, 43);
  secret[0] = '\r';
  secret[1] = '\n';
  secret[2] = 0x1A;
  const std::string sealed = Seal(dir, "sealed.EBS", secret, "tag");

  const ToolRun right = RunTool(dir, {"decrypt", sealed, "-", "--tag", "tag"});
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_EQ(right.out, secret);
  EXPECT_EQ(right.err, "");
  for (const char* wrong : {"tog", ""}) {
    SCOPED_TRACE(wrong);
    const ToolRun refused = RunTool(dir, {"decrypt", sealed, "-", "--tag", wrong});
    EXPECT_EQ(refused.status, 5);
    EXPECT_TRUE(refused.out.empty());
    EXPECT_NE(refused.err.find("the tag is wrong"), std::string::npos) << refused.err;
  }
}

TEST(PipeCommandsTest, InspectDescribesTheLayoutWithoutThePlaintext) {
  TempDir dir;
  const std::string sealed =
      Seal(dir, "sealed.EBS", BytesOf("TOP SECRET CONTENT"), "abc");
  const Bytes container = *dir.Read("sealed.EBS");
  std::string iv_hex;
  for (std::size_t i = kIvOffset; i < kHeaderLength; ++i) {
    static constexpr char kDigits[] = "0123456789abcdef";
    iv_hex += {kDigits[container[i] >> 4], kDigits[container[i] & 15]};
  }
  dir.Write("plain.txt", "A plain file");
  dir.Write("short.EBS", Bytes(container.begin(), container.begin() + 35));

  struct Case {
    const char* label;
    std::string path;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"encrypted",
       sealed,
       {"size:               50 bytes", "encrypted:          yes",
        "tag length:         3 bytes", "IV:                 " + iv_hex,
        "ciphertext length:  32 bytes", "layout:             whole"}},
      {"plain", dir.Path("plain.txt"), {"encrypted:          no (begins with 0x41"}},
      {"17-byte ciphertext",
       dir.Path("short.EBS"),
       {"ciphertext length:  17 bytes", "layout:             not whole"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const ToolRun run = RunTool(dir, {"inspect", c.path});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string out = Text(run.out);
    for (const std::string& line : c.lines) {
      EXPECT_NE(out.find("\n" + line), std::string::npos) << "no line " << line << " in\n"
                                                          << out;
    }
    EXPECT_EQ(out.find("SECRET"), std::string::npos);
  }
  // The same for scripts, as one JSON object on one line.
  const ToolRun json = RunTool(dir, {"inspect", "--json", sealed});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(
      Text(json.out).find("\"size\":50,\"encrypted\":true,\"tag_length\":3,\"iv\":\"" +
                          iv_hex + "\",\"ciphertext_length\":32,\"whole\":true}"),
      std::string::npos)
      << Text(json.out);
  EXPECT_EQ(RunTool(dir, {"inspect", dir.Path("missing")}).status, 3);
}

}  // namespace
}  // namespace mirdcng::testing
