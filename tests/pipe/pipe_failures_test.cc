// What the stream factory does when something below it fails: a decryption
// that does not succeed, and the pipe library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/cng_manager.h"
#include "mirdcng/mirdcng.h"
#include "pipe/stream_factory.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/reference_cipher.h"

namespace mirdcng::testing {
namespace {

// DecryptToBuffer changes the caller's buffer only when it decrypts: each
// way of returning false leaves the buffer as it was, and success replaces
// what it held. (What the factory then serves, whichever platform call fails,
// is the fault sweep's.)
TEST(PipeFailuresTest, DecryptToBufferChangesTheBufferOnlyOnSuccess) {
  TempDir dir;
  const Bytes plaintext = Plaintext(5000, 21);
  const std::string sealed = Seal(dir, "sealed.EBS", plaintext, "tag");
  Bytes cut = *dir.Read("sealed.EBS");
  cut.pop_back();
  dir.Write("cut.EBS", cut);
  dir.Write("short.EBS", CraftContainer(6, PatternBytes(16, 3), BytesOf("hello")));
  dir.Write("plain.EBS", "plain text");
  struct Case {
    const char* label;
    std::string name;
    bool decrypts;
  };
  const Case cases[] = {
      {"a plain file", dir.Path("plain.EBS"), false},
      {"a container whose ciphertext is cut short", dir.Path("cut.EBS"), false},
      {"a tag trailer longer than the plaintext", dir.Path("short.EBS"), false},
      {"a container", sealed, true},
  };
  const Bytes held = BytesOf("left as it was");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CNGManager engine{std::string()};
    HeapBlock out = HeapBlock::Allocate(held.size(), HeapBlock::Wipe::kNo);
    ASSERT_TRUE(out);
    std::copy(held.begin(), held.end(), out.get());
    int err = kCallersCode;
    EXPECT_EQ(engine.DecryptToBuffer(c.name, out, err), c.decrypts);
    EXPECT_EQ(Bytes(out.get(), out.get() + out.size()), c.decrypts ? plaintext : held);
    EXPECT_EQ(err, kCallersCode);
  }
}

// A pipe library that records what the factory asks of it, and fails on
// request. Function pointers cannot carry state, so it lives here.
struct FakePipes {
  bool refuse_queue = false;
  long long write_result = 0;  // what zulwrite answers, whatever it took
  bool refuse_stream = false;
  bool refuse_adoption = false;  // the adoption takes nothing, as its contract allows

  int queues = 0;
  int writes = 0;  // zulwrite calls
  int adoptions = 0;
  long long write_size = -1;
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
      static_cast<void>(zulwrite(pipe, data, size));
      return fake.write_result;
    },
    [](std::FILE* stream, const char* name, bool owns_stream) {
      ++fake.stream_pipes;
      fake.stream = stream;
      fake.name = name;
      fake.owns_stream = owns_stream;
      return fake.refuse_stream ? nullptr
                                : create_binary_stream_zulpipe(stream, name, owns_stream);
    },
    [](zulpipe* pipe, void* block, long long size) {
      ++fake.adoptions;
      fake.write_size = size;
      return fake.refuse_adoption ? -1 : Mirdutils().adopt(pipe, block, size);
    },
};

// The same library without the adoption entry point, as the framework's own is.
const PipeLibrary kFakeLibraryWithoutAdopt = {
    kFakeLibrary.create_queue, kFakeLibrary.write, kFakeLibrary.create_binary_stream};

// What zulwrite returns is the pipe library's own convention: the factory
// hands the queue pipe over whatever it says. The plaintext goes in whole,
// adopted or else in one zulwrite; a block the adoption refuses is copied in
// and freed, and one no pipe takes is freed (AddressSanitizer would see it
// leak, or be freed twice).
TEST(PipeFailuresTest, TheQueuePipeGetsThePlaintextInOneWriteWhateverItReturns) {
  TempDir dir;
  const Bytes plaintext = Plaintext(70000, 31);
  const std::string path = Seal(dir, "sealed.EBS", plaintext, "abc");
  struct Case {
    const char* label;
    bool refuse_queue;
    long long write_result;
  };
  const Case cases[] = {
      {"the byte count", false, static_cast<long long>(plaintext.size())},
      {"always 0", false, 0},
      {"an error", false, -1},
      {"no queue pipe", true, 0},
  };
  for (const int way : {0, 1, 2}) {  // adopted, adoption refused, no adoption
    const PipeLibrary* library = way < 2 ? &kFakeLibrary : &kFakeLibraryWithoutAdopt;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.label) + (way == 0   ? ", adopted"
                                           : way == 1 ? ", adoption refused"
                                                      : ", copied"));
      fake = FakePipes{};
      fake.refuse_queue = c.refuse_queue;
      fake.write_result = c.write_result;
      fake.refuse_adoption = way == 1;
      Stream stream = OpenAsCaller(path, 1);
      int err = kCallersCode;
      Pipe pipe(OpenAsPipe(stream.get(), path.c_str(), true, err, *library));
      EXPECT_EQ(err, kCallersCode);
      EXPECT_EQ(fake.queues, 1);
      EXPECT_EQ(fake.stream_pipes, 0) << "a decrypted file is never served raw";
      EXPECT_EQ(std::ftell(stream.get()), 1);
      if (c.refuse_queue) {
        EXPECT_EQ(pipe, nullptr);
        EXPECT_EQ(fake.writes + fake.adoptions, 0);
        continue;
      }
      EXPECT_EQ(fake.adoptions, way < 2 ? 1 : 0);
      EXPECT_EQ(fake.writes, way == 0 ? 0 : 1) << "the content goes in with one write";
      EXPECT_EQ(fake.write_size, static_cast<long long>(plaintext.size()));
      ASSERT_NE(pipe, nullptr);
      EXPECT_EQ(ReadToEnd(pipe.get()), plaintext);
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
