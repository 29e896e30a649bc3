// cat and inspect: a file as the framework's hosts read it, and what its
// bytes say about it (as text, or as JSON for scripts). Both take FILE as it
// is: the .ebs naming rule belongs to the file functions. cat runs the library's stream
// factory, the road of create_cng77_pipe, which also says why a file was not decrypted.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/byte_buffer.h"
#include "engine/container_format.h"
#include "fileops/stream_calls.h"
#include "mirdcng/result_codes.h"
#include "mirdutils/mirdutils.h"
#include "pipe/stream_factory.h"
#include "platform/share_open.h"
#include "tools/commands.h"
#include "tools/failure_messages.h"
#include "tools/input_files.h"

namespace mirdcng::tool {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

// HasWholeLayout reports whether a file of `size` bytes that begins with
// `first` has the whole layout of an encrypted file: the marker, the 18-byte
// header, and a ciphertext of one or more whole 16-byte blocks. Such a file
// is shown decrypted or not at all: its bytes are never printed as they are.
bool HasWholeLayout(int first, std::int64_t size) {
  return first == kContainerMarker && size >= static_cast<std::int64_t>(kHeaderLength) &&
         IsWholeCiphertext(static_cast<std::uint64_t>(size) - kHeaderLength);
}

struct PipeCloser {
  void operator()(zulpipe* pipe) const { zulclose(pipe); }
};

// Served is what the pipe of one file holds, as the framework would read it.
// The pipe reads the caller's stream on the raw road: it must go first.
struct Served {
  std::unique_ptr<zulpipe, PipeCloser> pipe;
  int err = kResultOk;
  // Why the file was not decrypted; done when it was. A pipe that is not of
  // a decrypted file serves the file's own bytes.
  Outcome declined;

  bool raw() const { return !declined.done(); }
};

Served OpenServed(std::FILE* file, const std::string& path) {
  Served served;
  // The stream stays ours (flag false), to be closed once the pipe is.
  served.pipe.reset(
      OpenAsPipe(file, path.c_str(), false, served.err, Mirdutils(), &served.declined));
  return served;
}

// CopyToStandardOutput writes everything `pipe` reads to standard output,
// in large blocks straight from the pipe's reads. A raw pipe over a file with
// the whole layout of an encrypted one is refused before a byte is written.
int CopyToStandardOutput(const Served& served, const std::string& path,
                         std::int64_t size) {
  PrepareDataOutput();
  // Plaintext passes through it: a buffer that is wiped as it goes.
  ByteBuffer buffer(kCopyChunk);
  for (bool first = true;; first = false) {
    const long long got =
        zulread(served.pipe.get(), buffer.data(), static_cast<long long>(buffer.size()));
    if (got < 0) {
      Complain("cannot read " + Quoted(path));
      return kExitFailed;
    }
    if (first && served.raw() && got > 0 && HasWholeLayout(buffer[0], size)) {
      Complain("cannot decrypt " + Quoted(path) +
               ", which has the layout of an encrypted file: " +
               DecryptionRefusal(served.declined) + "; nothing was written");
      return kExitFailed;
    }
    if (got == 0) {
      return kExitOk;
    }
    const auto count = static_cast<std::size_t>(got);
    errno = 0;
    if (std::fwrite(buffer.data(), 1, count, stdout) != count) {
      return OutputFailure(errno);
    }
  }
}

// RestLength counts the bytes of `file` after the `consumed` first ones, by
// its size, or by reading them where the size says less (a kernel file that
// measures 0 bytes).
std::uint64_t RestLength(std::FILE* file, std::size_t consumed) {
  const std::int64_t size = platform::FileSize(file);
  if (size >= 0 && static_cast<std::uint64_t>(size) >= consumed) {
    return static_cast<std::uint64_t>(size) - consumed;
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

// Layout is what the first bytes and the size of a file say of it.
struct Layout {
  std::array<unsigned char, kHeaderLength> head{};
  std::size_t head_length = 0;
  std::uint64_t size = 0;

  bool encrypted() const {
    return head_length > 0 && head[kMarkerOffset] == kContainerMarker;
  }
  bool has_tag_length() const { return head_length > kTagLengthOffset; }
  bool has_iv() const { return head_length == kHeaderLength; }
  std::string iv() const { return Hex(head.data() + kIvOffset, kIvLength); }
  std::uint64_t ciphertext() const { return has_iv() ? size - kHeaderLength : 0; }
  bool whole() const { return IsWholeCiphertext(ciphertext()); }
};

void PrintEncrypted(const Layout& layout) {
  std::printf("encrypted:          yes (begins with 0xDD)\n");
  if (!layout.has_tag_length()) {
    std::printf("tag length:         missing\n");
  } else {
    std::printf("tag length:         %u bytes\n",
                unsigned{layout.head[kTagLengthOffset]});
  }
  if (!layout.has_iv()) {
    const std::size_t iv_bytes =
        layout.head_length > kIvOffset ? layout.head_length - kIvOffset : 0;
    std::printf("IV:                 incomplete (%zu of %zu bytes)\n", iv_bytes,
                kIvLength);
    std::printf("ciphertext length:  0 bytes\n");
    std::printf("layout:             not whole: the 18-byte header is incomplete\n");
    return;
  }
  const std::uint64_t ciphertext = layout.ciphertext();
  std::printf("IV:                 %s\n", layout.iv().c_str());
  std::printf("ciphertext length:  %llu bytes\n",
              static_cast<unsigned long long>(ciphertext));
  if (ciphertext == 0) {
    std::printf("layout:             not whole: there is no ciphertext\n");
  } else if (!layout.whole()) {
    std::printf(
        "layout:             not whole: the ciphertext is not a multiple of 16 bytes\n");
  } else {
    std::printf("layout:             whole (%llu blocks of 16 bytes)\n",
                static_cast<unsigned long long>(ciphertext / kCipherBlock));
  }
}

void PrintText(const std::string& path, const Layout& layout) {
  std::printf("file:               %s\n", path.c_str());
  std::printf("size:               %llu bytes\n",
              static_cast<unsigned long long>(layout.size));
  if (layout.head_length == 0) {
    std::printf("encrypted:          no (empty)\n");
  } else if (!layout.encrypted()) {
    std::printf("encrypted:          no (begins with 0x%02X, not 0xDD)\n",
                unsigned{layout.head[kMarkerOffset]});
  } else {
    PrintEncrypted(layout);
  }
}

// PrintJson writes one object on one line. A name that is not UTF-8 has its
// stray bytes replaced (U+FFFD): JSON holds text, not bytes.
void PrintJson(const std::string& path, const Layout& layout) {
  using Json = nlohmann::ordered_json;
  Json json{{"file", path}, {"size", layout.size}, {"encrypted", layout.encrypted()}};
  if (layout.encrypted()) {
    json["tag_length"] =
        layout.has_tag_length() ? Json(layout.head[kTagLengthOffset]) : Json();
    json["iv"] = layout.has_iv() ? Json(layout.iv()) : Json();
    json["ciphertext_length"] = layout.ciphertext();
    json["whole"] = layout.whole();
  }
  std::puts(json.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

// CatStandardInput writes what the framework would read of a file holding
// the bytes of standard input: read whole when it is a container, passed
// through as it comes when it is not.
int CatStandardInput(const Arguments& arguments) {
  platform::File in = platform::OpenStandardInput();
  if (!in) {
    Complain("cannot read standard input: " + SystemReason(errno));
    return kExitNoSource;
  }
  PrepareDataOutput();
  bool decrypted = false;
  const Outcome outcome = RunShowStream(std::move(in), stdout, decrypted);
  if (outcome.cause == Cause::kDestinationUnwritable) {
    return OutputFailure(outcome.error);
  }
  if (!outcome.done()) {
    Complain(
        "cannot decrypt standard input, which has the layout of an encrypted file: " +
        DecryptionRefusal(outcome) + "; nothing was written");
    return kExitFailed;
  }
  if (arguments.verbose) {
    Complain(decrypted
                 ? "decrypted standard input to standard output"
                 : "wrote standard input as it is: it is not a whole encrypted file");
  }
  return kExitOk;
}

}  // namespace

int RunCat(const Arguments& arguments) {
  const std::string& path = arguments.source;
  if (path == "-") {
    return CatStandardInput(arguments);
  }
  const platform::File file(OpenServedFile(path));
  if (!file) {
    return kExitNoSource;
  }
  const std::int64_t size = platform::FileSize(file.get());
  const Served served = OpenServed(file.get(), path);
  int status = kExitOk;
  if (served.pipe != nullptr) {
    status = CopyToStandardOutput(served, path, size);
    if (status == kExitOk && arguments.verbose) {
      Complain(served.raw() ? "wrote " + Quoted(path) +
                                  " as it is: it is not a whole encrypted file"
                            : "decrypted " + Quoted(path) + " to standard output");
    }
  } else if (served.err == kResultEmptyPlaintext) {
    if (arguments.verbose) {
      Complain(Quoted(path) + " decrypts to nothing");
    }
  } else {
    Complain("cannot open " + Quoted(path) + " as a pipe: out of memory");
    status = kExitFailed;
  }
  return status;
}

int RunInspect(const Arguments& arguments) {
  const std::string& path = arguments.source;
  const platform::File file(OpenRegularFile(path));
  if (!file) {
    return kExitNoSource;
  }
  Layout layout;
  errno = 0;
  layout.head_length = std::fread(layout.head.data(), 1, layout.head.size(), file.get());
  layout.size = layout.head_length + RestLength(file.get(), layout.head_length);
  if (std::ferror(file.get()) != 0) {
    Complain("cannot read " + Quoted(path) +
             (errno != 0 ? ": " + SystemReason(errno) : std::string()));
    return kExitFailed;
  }
  if (arguments.json) {
    PrintJson(path, layout);
  } else {
    PrintText(path, layout);
  }
  return kExitOk;
}

}  // namespace mirdcng::tool
