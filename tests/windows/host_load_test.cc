// mirdcng.dll as a host process meets it: loaded at run time, its functions
// bound by the x64 decorated names and called through pointers of the
// declared types. This program links nothing of the library.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using testing::Bytes;
using testing::BytesOf;
struct zulpipe;  // as the decorated name has it: a struct
using FileFunction = bool (*)(const char*, const char*, const char*, int&);
using PipeFunction = zulpipe* (*)(std::FILE*, const char*, bool, int&);
using ReadFunction = long long (*)(zulpipe*, void*, long long);
using CloseFunction = void (*)(zulpipe*);

constexpr const char* kEncryptName = "?cng_77x@@YA_NPEBD00AEAH@Z";
constexpr const char* kDecryptName = "?cng_77z@@YA_NPEBD00AEAH@Z";
constexpr const char* kPipeName =
    "?create_cng77_pipe@@YAPEAUzulpipe@@PEAU_iobuf@@PEBD_NAEAH@Z";

class HostLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA("mirdcng.dll");
    pipes_ = LoadLibraryA("mirdutils.dll");  // already loaded by mirdcng.dll
  }
  static void TearDownTestSuite() {
    for (const HMODULE module : {pipes_, module_}) {
      if (module != nullptr) {
        FreeLibrary(module);
      }
    }
  }

  void SetUp() override {
    ASSERT_NE(module_, nullptr) << "mirdcng.dll did not load";
    ASSERT_NE(pipes_, nullptr) << "mirdutils.dll did not load";
  }

  // Bind returns the export called `name` of `module` (mirdcng.dll unless
  // said otherwise), or null.
  template <typename Function>
  static Function Bind(const char* name, HMODULE module = module_) {
    // Through void(*)(), which converts to every function pointer type.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  }

  // ReadAll reads `pipe` to its end through mirdutils.dll and releases it.
  static Bytes ReadAll(zulpipe* pipe) {
    const auto read = Bind<ReadFunction>("zulread", pipes_);
    const auto close = Bind<CloseFunction>("zulclose", pipes_);
    Bytes content;
    unsigned char buffer[7];  // a size that splits every block
    for (long long got = 0; (got = read(pipe, buffer, sizeof buffer)) > 0;) {
      content.insert(content.end(), buffer, buffer + got);
    }
    close(pipe);
    return content;
  }

  std::string Path(const char* name) const { return dir_.Path(name); }

  static HMODULE module_;
  static HMODULE pipes_;
  testing::TempDir dir_;
};

HMODULE HostLoadTest::module_ = nullptr;
HMODULE HostLoadTest::pipes_ = nullptr;

TEST_F(HostLoadTest, DecoratedNamesRoundTripAFile) {
  const auto encrypt = Bind<FileFunction>(kEncryptName);
  const auto decrypt = Bind<FileFunction>(kDecryptName);
  ASSERT_NE(encrypt, nullptr);
  ASSERT_NE(decrypt, nullptr);
  dir_.Write("plain.EBS", "loaded by a host");

  int err = -1;
  EXPECT_TRUE(encrypt(Path("plain.EBS").c_str(), Path("sealed.EBS").c_str(), "tag", err));
  EXPECT_EQ(err, 0);
  err = -1;
  EXPECT_FALSE(decrypt(Path("sealed.EBS").c_str(), Path("back.EBS").c_str(), "tax", err));
  EXPECT_EQ(err, 5);
  EXPECT_FALSE(dir_.Exists("back.EBS"));
  err = -1;
  EXPECT_TRUE(decrypt(Path("sealed.EBS").c_str(), Path("back.EBS").c_str(), "tag", err));
  EXPECT_EQ(err, 0);
  EXPECT_EQ(dir_.Read("back.EBS"), BytesOf("loaded by a host"));
}

// The result code travels through the reference as the caller's own int, on
// the paths that return false at once and after the naming rule.
TEST_F(HostLoadTest, ResultCodesReachTheCaller) {
  const auto encrypt = Bind<FileFunction>(kEncryptName);
  const auto decrypt = Bind<FileFunction>(kDecryptName);
  ASSERT_NE(encrypt, nullptr);
  ASSERT_NE(decrypt, nullptr);
  for (const FileFunction function : {encrypt, decrypt}) {
    int err = -1;
    EXPECT_FALSE(function(nullptr, Path("out").c_str(), nullptr, err));
    EXPECT_EQ(err, 2);
    err = -1;
    EXPECT_FALSE(function(Path("missing").c_str(), Path("out").c_str(), nullptr, err));
    EXPECT_EQ(err, 3);
  }
}

// The host's own stream, from the C runtime it shares with the DLLs, on both
// roads: decrypted into a queue pipe, and served raw from its start.
TEST_F(HostLoadTest, DecoratedPipeNameOpensTheHostsStream) {
  const auto encrypt = Bind<FileFunction>(kEncryptName);
  const auto open_pipe = Bind<PipeFunction>(kPipeName);
  ASSERT_NE(encrypt, nullptr);
  ASSERT_NE(open_pipe, nullptr);
  ASSERT_NE(Bind<ReadFunction>("zulread", pipes_), nullptr);
  ASSERT_NE(Bind<CloseFunction>("zulclose", pipes_), nullptr);
  dir_.Write("plain.EBS", "line one\r\nline two\n");
  int err = -1;
  ASSERT_TRUE(encrypt(Path("plain.EBS").c_str(), Path("sealed.EBS").c_str(), "t", err));

  for (const char* name : {"sealed.EBS", "plain.EBS"}) {
    SCOPED_TRACE(name);
    std::FILE* stream = std::fopen(Path(name).c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fgetc(stream), name[0] == 's' ? 0xDD : 'l');
    err = 7;
    zulpipe* pipe = open_pipe(stream, Path(name).c_str(), false, err);
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(err, 7) << "left as the host set it";
    EXPECT_EQ(ReadAll(pipe), BytesOf("line one\r\nline two\n"));
    EXPECT_EQ(std::fclose(stream), 0) << "the stream stayed the host's";
  }
  err = -1;
  EXPECT_EQ(open_pipe(nullptr, Path("plain.EBS").c_str(), false, err), nullptr);
  EXPECT_EQ(err, 2);
}

// The GCC names, for hosts built with mingw-w64, are the same functions.
TEST_F(HostLoadTest, GccNamesAliasTheDecoratedOnes) {
  const struct {
    const char* decorated;
    const char* gcc;
  } pairs[] = {
      {kEncryptName, "_Z7cng_77xPKcS0_S0_Ri"},
      {kDecryptName, "_Z7cng_77zPKcS0_S0_Ri"},
      {kPipeName, "_Z17create_cng77_pipeP6_iobufPKcbRi"},
  };
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair.decorated);
    const auto decorated = Bind<void (*)()>(pair.decorated);
    EXPECT_NE(decorated, nullptr);
    EXPECT_EQ(Bind<void (*)()>(pair.gcc), decorated);
  }
}

}  // namespace
}  // namespace mirdcng
