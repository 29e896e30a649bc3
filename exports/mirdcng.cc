// The library's three exports, as mirdcng/mirdcng.h declares them: each is a
// thin entry into the subsystem that does its work (the call frame of
// fileops/ for the two file functions, the stream factory of pipe/).
//
// No exception crosses this line. A host built with another compiler cannot
// catch ours (its runtime ends the process instead), so whatever the code
// below throws is caught here: by then every owner inside has released what it
// held, and the call reports a failure like any other.
#include "mirdcng/mirdcng.h"

#include "fileops/call_frame.h"
#include "mirdcng/result_codes.h"
#include "pipe/stream_factory.h"

namespace {

bool RunCaught(const char* src, const char* dst, const char* tag, int& err,
               mirdcng::FileOperation operation) noexcept {
  try {
    return mirdcng::RunFileCall(src, dst, tag, err, operation);
  } catch (...) {
    err = mirdcng::kResultOk;
    return false;
  }
}

}  // namespace

bool cng_77x(const char* src, const char* dst, const char* tag, int& err) noexcept {
  return RunCaught(src, dst, tag, err, &mirdcng::CNGManager::EncryptFile);
}

bool cng_77z(const char* src, const char* dst, const char* tag, int& err) noexcept {
  return RunCaught(src, dst, tag, err, &mirdcng::CNGManager::DecryptFile);
}

zulpipe* create_cng77_pipe(FILE* file, const char* name, bool flag, int& err) noexcept {
  try {
    return mirdcng::OpenAsPipe(file, name, flag, err, mirdcng::Mirdutils());
  } catch (...) {
    // As when the pipe library cannot make a pipe: null, `err` untouched.
    return nullptr;
  }
}
