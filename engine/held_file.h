// HeldFile: one file held once for the length of a call, in one block, and
// transformed where it lies.
//
// The block comes from the platform's memory for whole files and is wiped as
// it goes (HeapBlock::ForWholeFile): every file passes through it as
// plaintext, before or after its transform. What lies where:
//
//   sealed (CNGManager::SealFile), the container as it is written, in one piece:
//     [marker, tag length, IV: 18 bytes][ciphertext of source and tag][spare]
//   unsealed (CNGManager::UnsealFile), the header apart in `header`:
//     [content][tag trailer][spare: what the padding took]
//
// so that a container goes to the disk from the block as it is, and a
// content begins its block, as the queue pipe takes a block over.
#ifndef MIRDCNG_ENGINE_HELD_FILE_H_
#define MIRDCNG_ENGINE_HELD_FILE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/container_format.h"
#include "engine/heap_block.h"
#include "platform/cng.h"
#include "platform/share_open.h"

namespace mirdcng {

struct HeldFile {
  enum class State { kRead, kSealed, kUnsealed };

  HeldFile() = default;
  ~HeldFile() { SecureZeroMemory(header.data(), header.size()); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Container is the whole container, once sealed.
  std::span<const std::uint8_t> Container() const {
    return {block.get(), kHeaderLength + cipher_length};
  }
  // Content is the plaintext without its trailer, once unsealed.
  std::span<const std::uint8_t> Content() const { return {block.get(), content_length}; }

  State state = State::kRead;
  HeapBlock block;
  // An unsealed container's header, read apart from its ciphertext. It may
  // hold the first bytes of a file that is no container: wiped as it goes.
  std::array<std::uint8_t, kHeaderLength> header{};
  std::size_t header_length = 0;   // of it, the bytes the source had
  std::size_t source_length = 0;   // sealed: the source's bytes, the tag not counted
  std::size_t cipher_length = 0;   // the ciphertext's bytes
  std::size_t plain_length = 0;    // unsealed: content and trailer
  std::size_t content_length = 0;  // unsealed: without the trailer
  std::optional<platform::FileIdentity> identity;  // the source's
  // An unsealed container's source, open until the call is over; for one
  // that is no container, what is left of it to read.
  platform::File source;
};

}  // namespace mirdcng

#endif  // MIRDCNG_ENGINE_HELD_FILE_H_
