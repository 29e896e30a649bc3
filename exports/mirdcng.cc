// The library's three exports, as mirdcng/mirdcng.h declares them: each is a
// thin entry into the subsystem that does its work (the call frame of
// fileops/ for the two file functions, the stream factory of pipe/).
#include "mirdcng/mirdcng.h"

#include "fileops/call_frame.h"
#include "pipe/stream_factory.h"

bool cng_77x(const char* src, const char* dst, const char* tag, int& err) {
  return mirdcng::RunFileCall(src, dst, tag, err, &mirdcng::CNGManager::EncryptFile);
}

bool cng_77z(const char* src, const char* dst, const char* tag, int& err) {
  return mirdcng::RunFileCall(src, dst, tag, err, &mirdcng::CNGManager::DecryptFile);
}

zulpipe* create_cng77_pipe(FILE* file, const char* name, bool flag, int& err) {
  return mirdcng::OpenAsPipe(file, name, flag, err, mirdcng::Mirdutils());
}
