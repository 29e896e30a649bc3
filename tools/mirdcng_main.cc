// mirdcng: the library's file calls and pipes, by hand.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "tools/command_line.h"
#include "tools/commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace mirdcng::tool {

void Complain(const std::string& message) {
  std::fprintf(stderr, "mirdcng: %s\n", message.c_str());
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string SystemReason(int error) { return std::strerror(error); }

void PrepareDataOutput() {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

int OutputFailure(int error) {
  Complain(error != 0 ? "cannot write to standard output: " + SystemReason(error)
                      : "cannot write to standard output");
  return kExitFailed;
}

bool StandardOutputFailed() {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return false;
  }
  OutputFailure(errno);
  return true;
}

namespace {

int Main(int argc, char** argv) {
  const Invocation invocation = ParseCommandLine(argc, argv);
  int status = invocation.status;
  if (invocation.run != nullptr) {
    status = invocation.run(invocation.arguments);
  } else {
    std::fputs(invocation.text.c_str(), status == kExitOk ? stdout : stderr);
  }
  // Whatever was asked for on standard output must have reached it.
  return status == kExitOk && StandardOutputFailed() ? kExitFailed : status;
}

}  // namespace
}  // namespace mirdcng::tool

int main(int argc, char** argv) {
  try {
    return mirdcng::tool::Main(argc, argv);
  } catch (const std::bad_alloc&) {
    // Without building a message: there may be no memory for one.
    std::fputs("mirdcng: out of memory\n", stderr);
    return mirdcng::tool::kExitFailed;
  }
}
