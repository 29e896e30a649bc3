#include "pipe/stream_factory.h"

#include <string>
#include <utility>

#include "engine/cng_manager.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace mirdcng {
namespace {

// MakeQueuePipe returns a queue pipe that holds `content`, or null when the
// pipe library cannot make one. The pipe adopts the block where it can, and
// is given a copy where it cannot or will not take it. What a write returns
// is that library's own convention, so it is not relied on: a write that
// cannot take every byte is the library's to report, through the pipe's
// reads.
zulpipe* MakeQueuePipe(HeapBlock content, const PipeLibrary& pipes) {
  zulpipe* queue = pipes.create_queue();
  if (queue == nullptr) {
    return nullptr;
  }
  const auto size = static_cast<long long>(content.size());
  if (pipes.adopt != nullptr && pipes.adopt(queue, content.get(), size) == size) {
    static_cast<void>(content.Detach());  // the pipe's now
    return queue;
  }
  pipes.write(queue, content.get(), size);
  return queue;
}

// FindAdopt returns the adoption entry point of the module that provides the
// zulwrite this library is bound to, and of no other: a function of the same
// name elsewhere in the process may mean something else entirely.
ZulwriteAdopt FindAdopt() {
#if defined(_WIN32)
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&zulwrite)),
                          &module)) {
    return nullptr;
  }
  return reinterpret_cast<ZulwriteAdopt>(
      reinterpret_cast<void*>(GetProcAddress(module, MIRDUTILS_ADOPT_NAME)));
#else
  Dl_info pipes{};
  if (dladdr(reinterpret_cast<void*>(&zulwrite), &pipes) == 0) {
    return nullptr;
  }
  const auto in_pipes = [&pipes](void* found) {
    Dl_info where{};
    return found != nullptr && dladdr(found, &where) != 0 &&
           where.dli_fbase == pipes.dli_fbase;
  };
  // Where the process has one definition of the name, or the pipe library
  // is linked into the same module, the weak reference is it.
  if (in_pipes(reinterpret_cast<void*>(&mirdcng_adopt_block_v1))) {
    return &mirdcng_adopt_block_v1;
  }
  // Else the first definition the process found was another module's: the
  // pipe library's own is asked for by name, in that module alone.
  void* module = pipes.dli_fname != nullptr
                     ? dlopen(pipes.dli_fname, RTLD_LAZY | RTLD_NOLOAD)
                     : nullptr;
  void* found = module != nullptr ? dlsym(module, MIRDUTILS_ADOPT_NAME) : nullptr;
  if (module != nullptr) {
    dlclose(module);
  }
  return in_pipes(found) ? reinterpret_cast<ZulwriteAdopt>(found) : nullptr;
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
