// mirdcng loaded beside the minimal pipe library (minimal_pipes.h) in place
// of this project's mirdutils: it loads, and serves an encrypted file through
// one zulwrite whose result it does not rely on, and a plain file through the
// stream pipe. Exits with the number of failed checks.
#include <cstdio>
#include <cstring>

#include "mirdcng/mirdcng.h"

#if defined(_WIN32)
#define MINIMAL_HOST_EXPORT __declspec(dllexport)
#else
#define MINIMAL_HOST_EXPORT __attribute__((visibility("default")))
#endif
#include "tests/minimal_pipes/minimal_pipes.h"

// The adoption entry point's name, in a module that is not the pipe library:
// libmirdcng must not take it for the pipe library's.
int stolen_adoptions = 0;
extern "C" MINIMAL_HOST_EXPORT long long mirdcng_adopt_block_v1(zulpipe*, void*,
                                                                long long) {
  ++stolen_adoptions;
  return -1;
}

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok:  " : "FAIL:", what);
  failures += ok ? 0 : 1;
}

}  // namespace

int main() {
  const char kText[] = "served beside a library of three functions\r\n\x1a";
  std::FILE* plain = std::fopen("plain.EBS", "wb");
  Check(plain != nullptr && std::fwrite(kText, 1, sizeof kText, plain) == sizeof kText &&
            std::fclose(plain) == 0,
        "the plain file is written");
  int err = -1;
  Check(cng_77x("plain.EBS", "sealed.EBS", "tag", err), "cng_77x seals it");

  std::FILE* stream = std::fopen("sealed.EBS", "rb");
  err = 7;
  const zulpipe* pipe = create_cng77_pipe(stream, "sealed.EBS", false, err);
  Check(pipe != nullptr && pipe->queue && err == 7,
        "an encrypted file gives the queue pipe");
  Check(pipe != nullptr && pipe->writes == 1 && pipe->size == sizeof kText &&
            std::memcmp(pipe->bytes, kText, sizeof kText) == 0,
        "holding the plaintext, written once");
  Check(pipe != nullptr && pipe->refused_adoptions == 0 && stolen_adoptions == 0,
        "no function of another module or another meaning was asked to adopt it");
  std::fclose(stream);

  stream = std::fopen("plain.EBS", "rb");
  std::fgetc(stream);
  pipe = create_cng77_pipe(stream, "plain.EBS", true, err);
  Check(pipe != nullptr && !pipe->queue && pipe->stream == stream && pipe->owns_stream,
        "a plain file gives the stream pipe over the caller's stream");
  Check(std::ftell(stream) == 0, "rewound");
  std::fclose(stream);
  return failures;
}
