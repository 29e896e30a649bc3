#include "pipe/stream_factory.h"

#include <string>
#include <utility>

#include "engine/cng_manager.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace mirdcng {
namespace {

// MakeQueuePipe returns a queue pipe that holds `content`, or null when the
// pipe library cannot make one. The pipe adopts the block where it can, and
// is given a copy where it cannot. What either call returns is that
// library's own convention, so it is not relied on: a write that cannot take
// every byte is the library's to report, through the pipe's reads.
zulpipe* MakeQueuePipe(HeapBlock content, const PipeLibrary& pipes) {
  zulpipe* queue = pipes.create_queue();
  if (queue == nullptr) {
    return nullptr;
  }
  const auto size = static_cast<long long>(content.size());
  if (pipes.adopt != nullptr) {
    pipes.adopt(queue, content.Detach(), size);
  } else {
    pipes.write(queue, content.get(), size);
  }
  return queue;
}

ZulwriteAdopt FindAdopt() {
#if defined(_WIN32)
  // By name: the framework's own mirdutils.dll does not have it, and a DLL
  // that lacks an imported function does not load at all.
  const HMODULE module = GetModuleHandleW(L"mirdutils.dll");
  return module != nullptr ? reinterpret_cast<ZulwriteAdopt>(reinterpret_cast<void*>(
                                 GetProcAddress(module, "zulwrite_adopt")))
                           : nullptr;
#else
  return zulwrite_adopt;  // null where the library lacks it (a weak symbol)
#endif
}

}  // namespace

const PipeLibrary& Mirdutils() {
  static const PipeLibrary library = {create_queue_zulpipe, zulwrite,
                                      create_binary_stream_zulpipe, FindAdopt()};
  return library;
}

zulpipe* OpenAsPipe(std::FILE* file, const char* name, bool flag, int& err,
                    const PipeLibrary& pipes, Outcome* declined) {
  if (file == nullptr || name == nullptr) {
    err = kResultNullArgument;
    return nullptr;
  }
  const std::string file_name(name);
  HeapBlock plaintext;
  CNGManager engine{std::string()};

  if (engine.DecryptToBuffer(file_name, plaintext, err)) {
    if (plaintext.size() == 0) {
      err = kResultEmptyPlaintext;
      return nullptr;
    }
    return MakeQueuePipe(std::move(plaintext), pipes);
  }
  if (declined != nullptr) {
    *declined = engine.outcome();
  }
  // An encrypted file whose plaintext cannot be held is not served at all:
  // its raw bytes would pass for its content.
  if (engine.outcome().cause == Cause::kOutOfMemory) {
    return nullptr;
  }
  // A pipe or a terminal cannot be rewound; what the caller has not read of
  // it yet is served from where it stands.
  if (platform::CanRewind(file)) {
    std::rewind(file);
  }
  return pipes.create_binary_stream(file, name, flag);
}

}  // namespace mirdcng
