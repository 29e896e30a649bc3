// create_cng77_pipe on the files a host meets: encrypted ones, plain ones,
// ones that only look encrypted, and null arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "mirdcng/result_codes.h"
#include "platform/fault_injection.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/reference_cipher.h"

namespace mirdcng::testing {
namespace {

using platform::Call;
using platform::CallCount;

const Bytes kIv = PatternBytes(kIvLength, 77);

TEST(CreatePipeTest, EncryptedFilesOpenAsTheirPlaintextWhateverTheTagAndFlag) {
  struct Case {
    const char* label;
    Bytes plaintext;
    std::string tag;
  };
  const Case cases[] = {
      {"five bytes, three-byte tag", BytesOf("hello"), "abc"},
      {"five bytes, no tag", BytesOf("hello"), ""},
      {"200-byte tag", Plaintext(1000, 3), std::string(200, 't')},
      {"one byte, 255-byte tag", BytesOf("x"), std::string(255, 'm')},
      {"two whole blocks, padded by a third", Plaintext(32, 5), ""},
      {"300 KiB", Plaintext(300 << 10, 6), "tag"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = Seal(dir, "sealed.EBS", c.plaintext, c.tag);
    for (const bool flag : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (flag ? ", flag true" : ", flag false"));
      // The caller has read into its stream; a decrypted file leaves it be.
      Stream stream = OpenAsCaller(path, 3);
      ASSERT_NE(stream, nullptr);
      int err = kCallersCode;
      Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), flag, err));
      ASSERT_NE(pipe, nullptr);
      EXPECT_TRUE(IsQueuePipe(pipe.get()));
      EXPECT_EQ(ReadToEnd(pipe.get()), c.plaintext);
      EXPECT_EQ(err, kCallersCode);
      pipe.reset();
      EXPECT_EQ(std::ftell(stream.get()), 3)
          << "the stream is still the caller's, unmoved";
    }
  }
}

TEST(CreatePipeTest, FilesThatAreNotDecryptedAreServedRawFromTheirFirstByte) {
  Bytes wrong_padding = CraftContainer(0, kIv, BytesOf("sixteen bytes!!!"));
  wrong_padding.back() ^= 0x5A;
  ASSERT_FALSE(ReferenceDecrypt(kFixedKey, kIv, std::span(wrong_padding).subspan(18)))
      << "the case needs a ciphertext whose padding is wrong";
  Bytes marker_and_iv = {kContainerMarker, 0};
  marker_and_iv.insert(marker_and_iv.end(), kIv.begin(), kIv.end());
  Bytes short_ciphertext = marker_and_iv;
  short_ciphertext.resize(35, 0x41);

  struct Case {
    const char* label;
    Bytes content;
    bool marker;
  };
  const Case cases[] = {
      {"text", BytesOf("Hello,\r\nworld\n"), false},
      {"empty", {}, false},
      {"binary", Plaintext(70000, 8), false},
      {"the marker alone", {kContainerMarker}, true},
      {"17 bytes: IV incomplete", Bytes(marker_and_iv.begin(), marker_and_iv.end() - 1),
       true},
      {"18 bytes: no ciphertext", marker_and_iv, true},
      {"35 bytes: 17-byte ciphertext", short_ciphertext, true},
      {"padding wrong", wrong_padding, true},
      {"tag length beyond the decrypted bytes", CraftContainer(6, kIv, BytesOf("hello")),
       true},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    dir.Write("file.EBS", c.content);
    const std::string path = dir.Path("file.EBS");
    Stream stream = OpenAsCaller(path, std::min<std::size_t>(c.content.size(), 2));
    ASSERT_NE(stream, nullptr);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    platform::ClearFaults();
#endif
    int err = kCallersCode;
    Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), false, err));
    ASSERT_NE(pipe, nullptr);
    EXPECT_FALSE(IsQueuePipe(pipe.get()));
    EXPECT_EQ(ReadToEnd(pipe.get()), c.content);
    EXPECT_EQ(err, kCallersCode);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
    if (!c.marker) {
      EXPECT_EQ(CallCount(Call::kGetProperty), 1) << "only the engine's construction";
      EXPECT_EQ(CallCount(Call::kDecrypt), 0);
    }
#endif
  }
}

TEST(CreatePipeTest, AFileThatDecryptsToNothingGivesCode3AndNoPipe) {
  TempDir dir;
  const Bytes no_tag = CraftContainer(0, kIv, {});
  ASSERT_EQ(no_tag.size(), 34u);
  dir.Write("empty.EBS", no_tag);
  struct Case {
    const char* label;
    std::string path;
  };
  const Case cases[] = {
      {"empty plaintext, no tag", dir.Path("empty.EBS")},
      {"empty plaintext, a tag", Seal(dir, "tagged.EBS", {}, "tag")},
      {"empty plaintext, a 255-byte tag",
       Seal(dir, "long.EBS", {}, std::string(255, 'q'))},
  };
  for (const Case& c : cases) {
    for (const bool flag : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (flag ? ", flag true" : ", flag false"));
      Stream stream = OpenAsCaller(c.path, 1);
      ASSERT_NE(stream, nullptr);
      int err = kCallersCode;
      EXPECT_EQ(create_cng77_pipe(stream.get(), c.path.c_str(), flag, err), nullptr);
      EXPECT_EQ(err, kResultEmptyPlaintext);
      EXPECT_EQ(std::ftell(stream.get()), 1)
          << "the stream is still the caller's, unmoved";
    }
  }
}

TEST(CreatePipeTest, TheNamedFileDecidesAndTheStreamIsServedOnlyRaw) {
  TempDir dir;
  const Bytes secret = Plaintext(100, 11);
  const std::string sealed = Seal(dir, "sealed.EBS", secret, "abc");
  dir.Write("first.txt", "the named file");
  dir.Write("second.txt", "the stream's own file");
  const std::string missing = dir.Path("missing.EBS");

  {
    SCOPED_TRACE("an encrypted name, another file's stream: decrypted, stream untouched");
    Stream stream = OpenAsCaller(dir.Path("second.txt"), 2);
    int err = kCallersCode;
    Pipe pipe(create_cng77_pipe(stream.get(), sealed.c_str(), false, err));
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(ReadToEnd(pipe.get()), secret);
    EXPECT_EQ(std::ftell(stream.get()), 2);
  }
  {
    SCOPED_TRACE("a plain name, another file's stream: the stream, from its start");
    Stream stream = OpenAsCaller(dir.Path("second.txt"), 2);
    int err = kCallersCode;
    Pipe pipe(create_cng77_pipe(stream.get(), dir.Path("first.txt").c_str(), false, err));
    ASSERT_NE(pipe, nullptr);
    EXPECT_EQ(ReadToEnd(pipe.get()), BytesOf("the stream's own file"));
  }
  {
    SCOPED_TRACE("a name that cannot be opened: the stream, raw, even when encrypted");
    Stream stream = OpenAsCaller(sealed, 2);
    int err = kCallersCode;
    Pipe pipe(create_cng77_pipe(stream.get(), missing.c_str(), false, err));
    ASSERT_NE(pipe, nullptr);
    EXPECT_FALSE(IsQueuePipe(pipe.get()));
    EXPECT_EQ(ReadToEnd(pipe.get()), *dir.Read("sealed.EBS"));
    EXPECT_EQ(err, kCallersCode);
  }
}

TEST(CreatePipeTest, NullArgumentsAreRefusedWithCode2BeforeAnythingIsBuilt) {
  TempDir dir;
  const std::string sealed = Seal(dir, "sealed.EBS", BytesOf("hello"), "");
  Stream stream = OpenAsCaller(sealed, 4);
  struct Case {
    const char* label;
    std::FILE* stream;
    const char* name;
  };
  const Case cases[] = {
      {"null stream", nullptr, sealed.c_str()},
      {"null stream, missing name", nullptr, "no/such/file"},
      {"null stream and name", nullptr, nullptr},
      {"null name", stream.get(), nullptr},
  };
  for (const Case& c : cases) {
    for (const bool flag : {false, true}) {
      SCOPED_TRACE(std::string(c.label) + (flag ? ", flag true" : ", flag false"));
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
      platform::ClearFaults();
#endif
      int err = kCallersCode;
      EXPECT_EQ(create_cng77_pipe(c.stream, c.name, flag, err), nullptr);
      EXPECT_EQ(err, kResultNullArgument);
#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
      EXPECT_EQ(CallCount(Call::kOpenAlgorithmProvider), 0) << "no engine was built";
#endif
    }
  }
  EXPECT_EQ(std::ftell(stream.get()), 4) << "the stream is still the caller's, unmoved";
}

}  // namespace
}  // namespace mirdcng::testing
