// The two file exports: one call frame, two operations.
#include "exports/mirdcng.h"
#include "fileops/call_frame.h"

bool cng_77x(const char* src, const char* dst, const char* tag, int& err) {
  return mirdcng::RunFileCall(src, dst, tag, err, &mirdcng::CNGManager::EncryptFile);
}

bool cng_77z(const char* src, const char* dst, const char* tag, int& err) {
  return mirdcng::RunFileCall(src, dst, tag, err, &mirdcng::CNGManager::DecryptFile);
}
