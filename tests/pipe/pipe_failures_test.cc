// What the stream factory does when something below it fails: every cipher
// call and heap block of a decryption, and the pipe library.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/cng_manager.h"
#include "mirdcng/mirdcng.h"
#include "pipe/stream_factory.h"
#include "platform/fault_injection.h"
#include "tests/pipe/pipe_test_support.h"

namespace mirdcng::testing {
namespace {

using platform::Call;

#if defined(MIRDCNG_HAVE_FAULT_INJECTION)
TEST(PipeFailuresTest, EveryCipherOrHeapFailureServesTheEncryptedFileRaw) {
  struct Case {
    const char* label;
    Call call;
    int nth;
  };
  // The calls of one engine and one DecryptToBuffer, in the order they come.
  const Case cases[] = {
      {"opening the provider", Call::kOpenAlgorithmProvider, 1},
      {"the ObjectLength query", Call::kGetProperty, 1},
      {"the key object", Call::kHeapAlloc, 1},
      {"making the key", Call::kGenerateSymmetricKey, 1},
      {"the BlockLength query", Call::kGetProperty, 2},
      {"the IV block", Call::kHeapAlloc, 2},
      {"the size query", Call::kDecrypt, 1},
      {"the plaintext block", Call::kHeapAlloc, 3},
      {"the decryption", Call::kDecrypt, 2},
  };
  TempDir dir;
  const Bytes plaintext = Plaintext(5000, 21);
  const std::string path = Seal(dir, "sealed.EBS", plaintext, "tag");
  const Bytes container = *dir.Read("sealed.EBS");
  const Bytes untouched = BytesOf("left as it was");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    {
      Stream stream = OpenAsCaller(path, 5);
      platform::ScopedFault fault(c.call, c.nth);
      int err = kCallersCode;
      Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), false, err));
      ASSERT_TRUE(platform::FaultFired());
      ASSERT_NE(pipe, nullptr);
      EXPECT_FALSE(IsQueuePipe(pipe.get()));
      EXPECT_EQ(ReadToEnd(pipe.get()), container);
      EXPECT_EQ(err, kCallersCode);
    }
    {
      platform::ScopedFault fault(c.call, c.nth);
      CNGManager engine{std::string()};
      ByteBuffer out(untouched.begin(), untouched.end());
      int err = kCallersCode;
      EXPECT_FALSE(engine.DecryptToBuffer(path, out, err));
      EXPECT_TRUE(platform::FaultFired());
      EXPECT_EQ(Bytes(out.begin(), out.end()), untouched);
      EXPECT_EQ(err, kCallersCode);
    }
  }

  // One call past the last of each kind fails nothing: the table has them all.
  for (const Case& beyond : {Case{"a third query", Call::kGetProperty, 3},
                             Case{"a fourth block", Call::kHeapAlloc, 4},
                             Case{"a third decryption", Call::kDecrypt, 3}}) {
    SCOPED_TRACE(beyond.label);
    platform::ScopedFault fault(beyond.call, beyond.nth);
    CNGManager engine{std::string()};
    ByteBuffer out(untouched.begin(), untouched.end());
    int err = kCallersCode;
    ASSERT_TRUE(engine.DecryptToBuffer(path, out, err));
    EXPECT_FALSE(platform::FaultFired());
    EXPECT_EQ(Bytes(out.begin(), out.end()), plaintext) << "replaced, not appended to";
    EXPECT_EQ(err, kCallersCode);
  }
}
#endif  // MIRDCNG_HAVE_FAULT_INJECTION

// A pipe library that records what the factory asks of it, and fails on
// request. Function pointers cannot carry state, so it lives here.
struct FakePipes {
  bool refuse_queue = false;
  long long write_shortfall = 0;  // taken less than asked, as reported
  bool refuse_stream = false;

  int queues = 0;
  int writes = 0;
  long long write_size = -1;
  int closes = 0;
  int stream_pipes = 0;
  std::FILE* stream = nullptr;
  const char* name = nullptr;
  bool owns_stream = false;
};
FakePipes fake;

const PipeLibrary kFakeLibrary = {
    [] { return ++fake.queues, fake.refuse_queue ? nullptr : create_queue_zulpipe(); },
    [](zulpipe* pipe, const void* data, long long size) {
      ++fake.writes;
      fake.write_size = size;
      return zulwrite(pipe, data, size) - fake.write_shortfall;
    },
    [](zulpipe* pipe) {
      ++fake.closes;
      zulclose(pipe);
    },
    [](std::FILE* stream, const char* name, bool owns_stream) {
      ++fake.stream_pipes;
      fake.stream = stream;
      fake.name = name;
      fake.owns_stream = owns_stream;
      return fake.refuse_stream ? nullptr
                                : create_binary_stream_zulpipe(stream, name, owns_stream);
    },
};

TEST(PipeFailuresTest, TheQueuePipeGetsTheWholePlaintextOrNothingIsReturned) {
  TempDir dir;
  const Bytes plaintext = Plaintext(70000, 31);
  const std::string path = Seal(dir, "sealed.EBS", plaintext, "abc");
  struct Case {
    const char* label;
    bool refuse_queue;
    long long write_shortfall;
  };
  const Case cases[] = {
      {"all well", false, 0},
      {"no queue pipe", true, 0},
      {"a byte short", false, 1},
      {"the write refused", false, static_cast<long long>(plaintext.size()) + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fake = FakePipes{};
    fake.refuse_queue = c.refuse_queue;
    fake.write_shortfall = c.write_shortfall;
    Stream stream = OpenAsCaller(path, 1);
    int err = kCallersCode;
    Pipe pipe(OpenAsPipe(stream.get(), path.c_str(), true, err, kFakeLibrary));
    EXPECT_EQ(err, kCallersCode);
    EXPECT_EQ(fake.queues, 1);
    EXPECT_EQ(fake.stream_pipes, 0) << "a decrypted file is never served raw";
    EXPECT_EQ(std::ftell(stream.get()), 1);
    if (c.refuse_queue) {
      EXPECT_EQ(pipe, nullptr);
      EXPECT_EQ(fake.writes, 0);
      continue;
    }
    EXPECT_EQ(fake.writes, 1) << "the content goes in with one write";
    EXPECT_EQ(fake.write_size, static_cast<long long>(plaintext.size()));
    if (c.write_shortfall == 0) {
      ASSERT_NE(pipe, nullptr);
      EXPECT_EQ(ReadToEnd(pipe.get()), plaintext);
      EXPECT_EQ(fake.closes, 0);
    } else {
      EXPECT_EQ(pipe, nullptr);
      EXPECT_EQ(fake.closes, 1) << "the partial pipe is released";
    }
  }
}

TEST(PipeFailuresTest, TheStreamPipeGetsTheCallersArgumentsAndItsFailureIsPassedOn) {
  TempDir dir;
  dir.Write("plain.txt", "plain text");
  const std::string path = dir.Path("plain.txt");
  for (const bool refuse : {false, true}) {
    for (const bool flag : {false, true}) {
      SCOPED_TRACE(std::string(refuse ? "refused" : "made") +
                   (flag ? ", flag true" : ""));
      fake = FakePipes{};
      fake.refuse_stream = refuse;
      Stream stream = OpenAsCaller(path, 3);
      int err = kCallersCode;
      Pipe pipe(OpenAsPipe(stream.get(), path.c_str(), flag, err, kFakeLibrary));
      EXPECT_EQ(err, kCallersCode);
      EXPECT_EQ(fake.queues, 0);
      EXPECT_EQ(fake.stream_pipes, 1);
      EXPECT_EQ(fake.stream, stream.get());
      EXPECT_EQ(fake.name, path.c_str()) << "the caller's own string";
      EXPECT_EQ(fake.owns_stream, flag);
      EXPECT_EQ(std::ftell(stream.get()), 0) << "rewound";
      if (refuse) {
        EXPECT_EQ(pipe, nullptr);
        continue;
      }
      ASSERT_NE(pipe, nullptr);
      EXPECT_EQ(ReadToEnd(pipe.get()), BytesOf("plain text"));
      if (flag) {
        static_cast<void>(stream.release());  // the pipe closes it
      }
    }
  }
}

}  // namespace
}  // namespace mirdcng::testing
