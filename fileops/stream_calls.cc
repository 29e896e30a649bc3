#include "fileops/stream_calls.h"

#include <cerrno>
#include <utility>

#include "engine/byte_buffer.h"
#include "engine/cng_manager.h"
#include "fileops/call_frame.h"
#include "fileops/replace_file.h"

namespace mirdcng {
namespace {

// Deliver writes `bytes` to `to`. A source read from a stream is no file
// that the destination could be: nothing is put back should an in-place
// write fail.
Outcome Deliver(std::span<const std::uint8_t> bytes, const CallSink& to) {
  if (to.stream != nullptr) {
    return WriteStream(to.stream, bytes);
  }
  return WriteDestination(to.path, {bytes}, Original{});
}

Outcome Finish(CNGManager& engine, bool done, std::span<const std::uint8_t> bytes,
               const CallSink& to) {
  return done ? Deliver(bytes, to) : engine.outcome();
}

// PassThrough writes `held`'s first bytes, then everything left in its
// source, to `out`, as they come.
Outcome PassThrough(const HeldFile& held, std::FILE* out) {
  if (const Outcome head = WriteStream(out, {held.header.data(), held.header_length});
      !head.done() || !held.source) {
    return head;
  }
  ByteBuffer chunk(std::size_t{1} << 16);  // wiped as it goes: plaintext passes

  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), held.source.get());
    if (got == 0) {
      return std::ferror(held.source.get()) != 0
                 ? Outcome{Cause::kSourceUnreadable, errno != 0 ? errno : EIO}
                 : Outcome{};
    }
    if (const Outcome written = WriteStream(out, {chunk.data(), got}); !written.done()) {
      return written;
    }
  }
}

}  // namespace

Outcome RunEncryptCall(CallSource from, const CallSink& to, const char* tag) {
  if (!from.stream) {
    return to.stream != nullptr
               ? RunToStream(from.path.c_str(), tag, to.stream,
                             &CNGManager::EncryptToStream, Paths::kLiteral)
               : RunFileCall(from.path.c_str(), to.path.c_str(), tag,
                             &CNGManager::EncryptFile, Paths::kLiteral);
  }
  CNGManager engine(tag != nullptr ? tag : "");
  HeldFile held;
  const bool sealed = engine.SealStream(std::move(from.stream), held);
  return Finish(engine, sealed,
                sealed ? held.Container() : std::span<const std::uint8_t>(), to);
}

Outcome RunDecryptCall(CallSource from, const CallSink& to, const char* tag) {
  if (!from.stream) {
    return to.stream != nullptr
               ? RunToStream(from.path.c_str(), tag, to.stream,
                             &CNGManager::DecryptToStream, Paths::kLiteral)
               : RunFileCall(from.path.c_str(), to.path.c_str(), tag,
                             &CNGManager::DecryptFile, Paths::kLiteral);
  }
  CNGManager engine(tag != nullptr ? tag : "");
  HeldFile held;
  const bool unsealed =
      engine.UnsealStream(std::move(from.stream), CNGManager::Trailer::kMatch, held);
  return Finish(engine, unsealed,
                unsealed ? held.Content() : std::span<const std::uint8_t>(), to);
}

Outcome RunShowStream(platform::File in, std::FILE* out, bool& decrypted) {
  CNGManager engine{std::string()};
  HeldFile held;
  decrypted = engine.UnsealStream(std::move(in), CNGManager::Trailer::kDrop, held);
  if (decrypted) {
    return WriteStream(out, held.Content());
  }
  const Outcome why = engine.outcome();
  if (why.cause == Cause::kNotEncrypted) {
    return PassThrough(held, out);
  }
  // Begins with the marker but is cut short, or its ciphertext is not whole
  // blocks: no container, and its bytes are still as they were read.
  if (why.cause == Cause::kMalformed && held.state == HeldFile::State::kRead &&
      !IsWholeCiphertext(held.cipher_length)) {
    if (const Outcome head = WriteStream(out, {held.header.data(), held.header_length});
        !head.done()) {
      return head;
    }
    return WriteStream(out, {held.block.get(), held.cipher_length});
  }
  return why;
}

}  // namespace mirdcng
