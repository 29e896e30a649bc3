// A host built the way the framework's hosts are: by a compiler in the
// platform's own ABI (clang in MSVC mode), with no MinGW runtime, on the
// Universal CRT, from the public headers as they are (the decorated names come
// from their declarations), linked with mirdcng.lib and mirdutils.lib. It
// hands the library its own UCRT streams.
//
// It has no C runtime start-up code: HostMain is its entry point. It works in
// the current folder, and exits with the number of failed checks.
#include <cstdio>

#include "mirdcng/mirdcng.h"

extern "C" __declspec(dllimport) void ExitProcess(unsigned code);

namespace {

constexpr unsigned kSize = 100000;
unsigned char content[kSize];  // every byte value, CR LF and ^Z among them
unsigned failures = 0;

void Check(bool ok, const char* what) {
  std::fputs(ok ? "ok:   " : "FAIL: ", stdout);
  std::fputs(what, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);  // shown even if a later call never returns
  failures += ok ? 0 : 1;
}

bool Same(const unsigned char* a, const unsigned char* b, unsigned long long size) {
  for (unsigned long long i = 0; i < size; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

bool WriteFile(const char* name) {
  FILE* file = std::fopen(name, "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(content, 1, kSize, file) == kSize;
  return std::fclose(file) == 0 && written;
}

// HoldsContent reads `file` to its end and compares it with `content`.
bool HoldsContent(FILE* file) {
  unsigned char
      buffer[2048];  // below a page: no stack probe, which lives in a CRT library
  unsigned long long at = 0;
  for (std::size_t got = 0; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    if (at + got > kSize || !Same(buffer, content + at, got)) {
      return false;
    }
    at += got;
  }
  return at == kSize;
}

// ServesContent reads `pipe` to its end, in reads of an odd size, and
// releases it.
bool ServesContent(zulpipe* pipe) {
  if (pipe == nullptr) {
    return false;
  }
  unsigned char buffer[3001];
  unsigned long long at = 0;
  bool same = true;
  long long got = 0;
  while (same && (got = zulread(pipe, buffer, sizeof buffer)) > 0) {
    const auto count = static_cast<unsigned long long>(got);
    same = at + count <= kSize && Same(buffer, content + at, count);
    at += count;
  }
  zulclose(pipe);
  return same && got == 0 && at == kSize;
}

void FileFunctions() {
  int err = -1;
  Check(cng_77x("plain.EBS", "sealed.EBS", "host tag", err) && err == 0,
        "cng_77x seals the file");
  err = -1;
  Check(!cng_77z("sealed.EBS", "back.EBS", "other tag", err) && err == 5,
        "cng_77z refuses a wrong tag with code 5");
  Check(std::fopen("back.EBS", "rb") == nullptr, "and makes no file");
  err = -1;
  Check(cng_77z("sealed.EBS", "back.EBS", "host tag", err) && err == 0,
        "cng_77z opens it with the right tag");
  FILE* back = std::fopen("back.EBS", "rb");
  Check(back != nullptr && HoldsContent(back), "into the plaintext");
  if (back != nullptr) {
    std::fclose(back);
  }
}

// The host's own stream, read part of the way first, on both roads.
void PipeOverHostStream(const char* name, const char* what) {
  FILE* stream = std::fopen(name, "rb");
  if (stream == nullptr) {
    Check(false, what);
    return;
  }
  unsigned char head[1000];
  Check(std::fread(head, 1, sizeof head, stream) == sizeof head, "the host reads first");
  int err = 7;
  zulpipe* pipe = create_cng77_pipe(stream, name, false, err);
  Check(pipe != nullptr && err == 7, "create_cng77_pipe takes the host's stream");
  Check(ServesContent(pipe), what);
  Check(std::fclose(stream) == 0, "the stream stays the host's");
}

}  // namespace

extern "C" void HostMain() {
  unsigned state = 1;
  for (unsigned i = 0; i < kSize; ++i) {
    state = state * 1664525u + 1013904223u;
    content[i] = static_cast<unsigned char>(i < 256 ? 255 - i : state >> 24);
  }
  content[0] = 'p';  // not the container marker
  const char* const earlier_files[] = {"plain.EBS", "sealed.EBS", "back.EBS"};
  for (const char* name : earlier_files) {
    std::remove(name);
  }
  Check(WriteFile("plain.EBS"), "the host writes a plain file");
  FileFunctions();
  PipeOverHostStream("plain.EBS",
                     "the raw road serves the whole file from its first byte");
  PipeOverHostStream("sealed.EBS", "the decrypting road serves the plaintext");
  int err = -1;
  Check(create_cng77_pipe(nullptr, "plain.EBS", false, err) == nullptr && err == 2,
        "a null stream gives null and code 2");
  std::fputs(failures == 0 ? "all host checks passed\n" : "host checks failed\n", stdout);
  ExitProcess(failures);
}
