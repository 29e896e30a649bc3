#include "pipe/stream_factory.h"

#include <string>

#include "engine/cng_manager.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

namespace mirdcng {
namespace {

// MakeQueuePipe returns a queue pipe that `content` was written into, or null
// when the pipe library cannot make one. What zulwrite returns is that
// library's own convention, so it is not relied on: a write that cannot take
// every byte is the library's to report, through the pipe's reads.
zulpipe* MakeQueuePipe(const ByteBuffer& content, const PipeLibrary& pipes) {
  zulpipe* queue = pipes.create_queue();
  if (queue != nullptr) {
    pipes.write(queue, content.data(), static_cast<long long>(content.size()));
  }
  return queue;
}

}  // namespace

const PipeLibrary& Mirdutils() {
  static const PipeLibrary library = {create_queue_zulpipe, zulwrite,
                                      create_binary_stream_zulpipe};
  return library;
}

zulpipe* OpenAsPipe(std::FILE* file, const char* name, bool flag, int& err,
                    const PipeLibrary& pipes) {
  if (file == nullptr || name == nullptr) {
    err = kResultNullArgument;
    return nullptr;
  }
  // Declared in this order so that the engine goes first, then the plaintext.
  const std::string file_name(name);
  ByteBuffer plaintext;
  CNGManager engine{std::string()};

  if (engine.DecryptToBuffer(file_name, plaintext, err)) {
    if (plaintext.empty()) {
      err = kResultEmptyPlaintext;
      return nullptr;
    }
    return MakeQueuePipe(plaintext, pipes);
  }
  // A pipe or a terminal cannot be rewound; what the caller has not read of
  // it yet is served from where it stands.
  if (platform::CanRewind(file)) {
    std::rewind(file);
  }
  return pipes.create_binary_stream(file, name, flag);
}

}  // namespace mirdcng
