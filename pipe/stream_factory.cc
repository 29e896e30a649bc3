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
// AdoptFor returns the zulwrite_adopt that `pipes`' queue pipes take a block
// through: its own, or, for queue pipes that the loaded pipe library's own
// create_queue_zulpipe makes, that library's (null where it has none).
ZulwriteAdopt AdoptFor(const PipeLibrary& pipes);

zulpipe* MakeQueuePipe(HeapBlock content, const PipeLibrary& pipes) {
  zulpipe* queue = pipes.create_queue();
  if (queue == nullptr) {
    return nullptr;
  }
  const auto size = static_cast<long long>(content.size());
  if (const ZulwriteAdopt adopt = AdoptFor(pipes); adopt != nullptr) {
    adopt(queue, content.Detach(), size);
  } else {
    pipes.write(queue, content.get(), size);
  }
  return queue;
}

#if defined(_WIN32)
// OwnFunction returns the loaded mirdutils.dll's function `name`, found by
// name, or null.
void* OwnFunction(const char* name) {
  const HMODULE module = GetModuleHandleW(L"mirdutils.dll");
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name))
                           : nullptr;
}
#endif

ZulwriteAdopt FindAdopt() {
#if defined(_WIN32)
  // By name: the framework's own mirdutils.dll does not have it, and a DLL
  // that lacks an imported function does not load at all.
  return reinterpret_cast<ZulwriteAdopt>(OwnFunction("zulwrite_adopt"));
#else
  return zulwrite_adopt;  // null where the library lacks it (a weak symbol)
#endif
}

ZulwriteAdopt AdoptFor(const PipeLibrary& pipes) {
  if (pipes.adopt != nullptr) {
    return pipes.adopt;
  }
  bool own = pipes.create_queue == Mirdutils().create_queue;
#if defined(_WIN32)
  // A module may hold an imported function's address as that of its own
  // import thunk, or as the function's itself.
  static void* const function = OwnFunction("create_queue_zulpipe");
  own = own || reinterpret_cast<void*>(pipes.create_queue) == function;
#endif
  return own ? Mirdutils().adopt : nullptr;
}

}  // namespace

const PipeLibrary& Mirdutils() {
  static const PipeLibrary library = {create_queue_zulpipe, zulwrite,
                                      create_binary_stream_zulpipe, FindAdopt()};
  return library;
}

zulpipe* OpenAsPipe(std::FILE* file, const char* name, bool flag, int& err,
                    const PipeLibrary& pipes) {
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
  // A pipe or a terminal cannot be rewound; what the caller has not read of
  // it yet is served from where it stands.
  if (platform::CanRewind(file)) {
    std::rewind(file);
  }
  return pipes.create_binary_stream(file, name, flag);
}

}  // namespace mirdcng
