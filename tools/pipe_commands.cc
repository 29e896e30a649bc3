// cat and inspect: a file as the framework's hosts read it, and what its
// bytes say about it. Both take FILE as it is: the .ebs naming rule belongs to
// the file functions.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/container_format.h"
#include "mirdcng/mirdcng.h"
#include "mirdcng/result_codes.h"
#include "tools/commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace mirdcng::tool {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

// OpenOneFile opens the one FILE that `command` takes, in binary mode. On
// a wrong command line or a file that does not open it complains, sets
// `exit_status` and returns null.
std::FILE* OpenOneFile(const char* command, const Arguments& arguments,
                       int& exit_status) {
  if (arguments.paths.size() != 1 || arguments.tag) {
    Complain(std::string(command) + " takes one FILE and no tag; see mirdcng --help");
    exit_status = kExitUsage;
    return nullptr;
  }
  std::FILE* file = std::fopen(arguments.paths[0].c_str(), "rb");
  if (file == nullptr) {
    Complain("cannot open " + Quoted(arguments.paths[0]));
    exit_status = kExitNoSource;
  }
  return file;
}

// CopyToStandardOutput writes everything `pipe` reads to standard output.
int CopyToStandardOutput(zulpipe* pipe, const std::string& path) {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<unsigned char> buffer(kCopyChunk);
  for (;;) {
    const long long got =
        zulread(pipe, buffer.data(), static_cast<long long>(buffer.size()));
    if (got < 0) {
      Complain("cannot read " + Quoted(path));
      return kExitFailed;
    }
    if (got == 0) {
      break;
    }
    const auto count = static_cast<std::size_t>(got);
    if (std::fwrite(buffer.data(), 1, count, stdout) != count) {
      Complain("cannot write to standard output");
      return kExitFailed;
    }
  }
  if (std::fflush(stdout) != 0) {
    Complain("cannot write to standard output");
    return kExitFailed;
  }
  return kExitOk;
}

// RestLength counts the bytes of `file` after its current position, by its
// size where it has one, else by reading them.
std::uint64_t RestLength(std::FILE* file, const std::string& path, std::size_t consumed) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size >= consumed) {
    return size - consumed;
  }
  std::uint64_t rest = 0;
  std::vector<unsigned char> buffer(kCopyChunk);
  for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0;) {
    rest += got;
  }
  return rest;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

void PrintLayout(const std::array<unsigned char, kHeaderLength>& head,
                 std::size_t head_length, std::uint64_t size) {
  std::printf("encrypted:          yes (begins with 0xDD)\n");
  if (head_length <= kTagLengthOffset) {
    std::printf("tag length:         missing\n");
  } else {
    std::printf("tag length:         %u bytes\n", unsigned{head[kTagLengthOffset]});
  }
  if (head_length < kHeaderLength) {
    const std::size_t iv_bytes = head_length > kIvOffset ? head_length - kIvOffset : 0;
    std::printf("IV:                 incomplete (%zu of %zu bytes)\n", iv_bytes,
                kIvLength);
    std::printf("ciphertext length:  0 bytes\n");
    std::printf("layout:             not whole: the 18-byte header is incomplete\n");
    return;
  }
  const std::uint64_t ciphertext = size - kHeaderLength;
  std::printf("IV:                 %s\n",
              Hex(head.data() + kIvOffset, kIvLength).c_str());
  std::printf("ciphertext length:  %llu bytes\n",
              static_cast<unsigned long long>(ciphertext));
  if (ciphertext == 0) {
    std::printf("layout:             not whole: there is no ciphertext\n");
  } else if (ciphertext % kCipherBlock != 0) {
    std::printf(
        "layout:             not whole: the ciphertext is not a multiple of 16 bytes\n");
  } else {
    std::printf("layout:             whole (%llu blocks of 16 bytes)\n",
                static_cast<unsigned long long>(ciphertext / kCipherBlock));
  }
}

}  // namespace

int RunCat(const Arguments& arguments) {
  int status = kExitOk;
  std::FILE* file = OpenOneFile("cat", arguments, status);
  if (file == nullptr) {
    return status;
  }
  const std::string& path = arguments.paths[0];
  int err = kResultOk;
  // The stream stays ours (flag false), to be closed once the pipe is.
  zulpipe* pipe = create_cng77_pipe(file, path.c_str(), false, err);
  if (pipe != nullptr) {
    status = CopyToStandardOutput(pipe, path);
    zulclose(pipe);
  } else if (err != kResultEmptyPlaintext) {  // an empty plaintext: nothing to write
    Complain("cannot open " + Quoted(path) + " as a pipe: out of memory");
    status = kExitFailed;
  }
  std::fclose(file);
  return status;
}

int RunInspect(const Arguments& arguments) {
  int status = kExitOk;
  std::FILE* file = OpenOneFile("inspect", arguments, status);
  if (file == nullptr) {
    return status;
  }
  const std::string& path = arguments.paths[0];
  std::array<unsigned char, kHeaderLength> head{};
  const std::size_t head_length = std::fread(head.data(), 1, head.size(), file);
  const std::uint64_t size = head_length + RestLength(file, path, head_length);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    Complain("cannot read " + Quoted(path));
    return kExitFailed;
  }

  std::printf("file:               %s\n", path.c_str());
  std::printf("size:               %llu bytes\n", static_cast<unsigned long long>(size));
  if (head_length == 0) {
    std::printf("encrypted:          no (empty)\n");
  } else if (head[kMarkerOffset] != kContainerMarker) {
    std::printf("encrypted:          no (begins with 0x%02X, not 0xDD)\n",
                unsigned{head[kMarkerOffset]});
  } else {
    PrintLayout(head, head_length, size);
  }
  return kExitOk;
}

}  // namespace mirdcng::tool
