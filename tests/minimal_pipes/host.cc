// mirdcng loaded beside the minimal pipe library (minimal_pipes.h) in place
// of this project's mirdutils: it loads, and serves an encrypted file through
// one zulwrite whose result it does not rely on, and a plain file through the
// stream pipe. Exits with the number of failed checks.
#include <cstdio>
#include <cstring>

#include "mirdcng/mirdcng.h"
#include "tests/minimal_pipes/minimal_pipes.h"

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
