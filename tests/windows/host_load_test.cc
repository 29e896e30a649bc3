// mirdcng.dll as a host process that binds it at run time meets it: loaded
// with LoadLibrary, its functions bound by the x64 decorated names and called
// through pointers of the declared types. This program links nothing of the
// library. (msvc_host/ is a host that links it, built in MSVC mode, on both
// pipe roads and with both file functions.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using FileFunction = bool (*)(const char*, const char*, const char*, int&);

constexpr const char* kEncryptName = "?cng_77x@@YA_NPEBD00AEAH@Z";
constexpr const char* kDecryptName = "?cng_77z@@YA_NPEBD00AEAH@Z";
constexpr const char* kPipeName =
    "?create_cng77_pipe@@YAPEAUzulpipe@@PEAU_iobuf@@PEBD_NAEAH@Z";

class HostLoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryA("mirdcng.dll"); }
  static void TearDownTestSuite() {
    if (module_ != nullptr) {
      FreeLibrary(module_);
    }
  }

  void SetUp() override { ASSERT_NE(module_, nullptr) << "mirdcng.dll did not load"; }

  // Bind returns mirdcng.dll's export called `name`, or null.
  template <typename Function>
  static Function Bind(const char* name) {
    // Through void(*)(), which converts to every function pointer type.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }

  std::string Path(const char* name) const { return dir_.Path(name); }

  static HMODULE module_;
  testing::TempDir dir_;
};

HMODULE HostLoadTest::module_ = nullptr;

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
