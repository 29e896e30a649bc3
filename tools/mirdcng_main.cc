// mirdcng: the library's file calls and pipes, by hand.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/file_replace.h"
#include "tools/command_line.h"
#include "tools/commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
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

// An interrupted command leaves no temporary behind: the files being
// replaced stay as they were, and the half-written new ones go. The
// process then ends as the signal would have ended it (128 + the signal's
// number, as shells report it).
#if defined(_WIN32)
BOOL WINAPI RemoveTemporariesOnClose(DWORD /*event*/) {
  platform::RemoveTemporaries();
  return FALSE;  // the next handler, the system's own, ends the process
}

void CleanUpOnInterruption() { SetConsoleCtrlHandler(RemoveTemporariesOnClose, TRUE); }
#else
void RemoveTemporariesAndDie(int signal_number) {
  platform::RemoveTemporaries();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void CleanUpOnInterruption() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    // A signal ignored by whoever started the command (a background job's
    // SIGINT) stays ignored.
    if (sigaction(signal_number, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_NODEFER;  // raised again from within, it ends the process
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}
#endif

int Main(int argc, char** argv) {
  CleanUpOnInterruption();
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
