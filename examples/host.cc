// A host of the framework, as small as it gets: seal a model file, open it as
// a pipe the way the framework reads every file, and unseal it again.
//
// usage: host FILE.EBS TAG
#include <cstdio>
#include <string>

#include "mirdcng/mirdcng.h"
#include "mirdutils/mirdutils.h"

namespace {

// Reads a pipe to its end and returns what it held.
std::string ReadAll(zulpipe* pipe) {
  std::string content;
  char chunk[4096];
  long long got = 0;
  while ((got = zulread(pipe, chunk, sizeof chunk)) > 0) {
    content.append(chunk, static_cast<std::size_t>(got));
  }
  return content;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE.EBS TAG\n", argv[0]);
    return 2;
  }
  const std::string plain = argv[1];
  const std::string sealed = plain + ".sealed.EBS";  // "EBS": kept as it is
  const char* tag = argv[2];

  int err = 0;
  if (!cng_77x(plain.c_str(), sealed.c_str(), tag, err)) {
    std::fprintf(stderr, "cannot seal %s (result code %d)\n", plain.c_str(), err);
    return 1;
  }

  // The framework holds the file open and asks for a pipe over it. The tag is
  // not needed to read; the stream stays ours (flag false).
  std::FILE* stream = std::fopen(sealed.c_str(), "rb");
  if (stream == nullptr) {
    return 1;
  }
  err = 0;
  zulpipe* pipe = create_cng77_pipe(stream, sealed.c_str(), false, err);
  if (pipe == nullptr) {
    std::fprintf(stderr, "cannot open %s as a pipe (result code %d)\n", sealed.c_str(),
                 err);
    std::fclose(stream);
    return 1;
  }
  const std::string content = ReadAll(pipe);
  zulclose(pipe);
  std::fclose(stream);
  std::printf("read %zu bytes of plaintext through the pipe\n", content.size());

  const std::string restored = plain + ".restored.EBS";
  if (!cng_77z(sealed.c_str(), restored.c_str(), tag, err)) {
    std::fprintf(stderr, "cannot unseal %s (result code %d%s)\n", sealed.c_str(), err,
                 err == 5 ? ": wrong tag" : "");
    return 1;
  }
  std::printf("unsealed %s into %s\n", sealed.c_str(), restored.c_str());
  return 0;
}
