// CNGManager construction: a step that fails leaves a handle missing, which
// shows only when the operation reaches the cipher call that needs it.
#include "engine/cng_manager.h"

#include <gtest/gtest.h>

#include "platform/fault_injection.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

using platform::Call;
using platform::ScopedFault;

TEST(CNGManagerConstruction, AFailedStepLeavesAnEngineThatCannotEncrypt) {
  testing::TempDir dir;
  dir.Write("plain.EBS", "content worth protecting");
  struct Case {
    const char* name;
    Call call;
  };
  const Case cases[] = {
      {"the provider does not open", Call::kOpenAlgorithmProvider},
      {"the ObjectLength query fails", Call::kGetProperty},
      {"the key object is not allocated", Call::kHeapAlloc},
      {"the key is not made", Call::kGenerateSymmetricKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int err = 7;
    bool encrypted = true;
    {
      ScopedFault fault(c.call, 1);
      CNGManager engine("tag");
      EXPECT_TRUE(platform::FaultFired()) << "construction made the failing call";
      encrypted = engine.EncryptFile(dir.Path("plain.EBS"), dir.Path("sealed.EBS"), err);
    }
    EXPECT_FALSE(encrypted);
    EXPECT_EQ(err, 7) << "the engine writes no result code";
    EXPECT_FALSE(dir.Exists("sealed.EBS"));
  }

  // The same call on an engine built without a fault succeeds.
  int err = 7;
  CNGManager engine("tag");
  EXPECT_TRUE(engine.EncryptFile(dir.Path("plain.EBS"), dir.Path("sealed.EBS"), err));
  EXPECT_EQ(err, 7);
  EXPECT_TRUE(dir.Exists("sealed.EBS"));
}

}  // namespace
}  // namespace mirdcng
