// Calls each export once through the installed headers and libraries.
#include <cstdio>

#include "exports/mirdcng.h"
#include "exports/result_codes.h"
#include "mirdutils/mirdutils.h"

int main() {
  int err = -1;
  // Null paths are refused with code 2 by both file exports, and a null
  // stream by the pipe factory: enough to prove the symbols bind.
  const bool encrypted = cng_77x(nullptr, "x", nullptr, err);
  const int encrypt_err = err;
  const bool decrypted = cng_77z("x", nullptr, nullptr, err);
  const int decrypt_err = err;
  zulpipe* pipe = create_cng77_pipe(nullptr, "x", false, err);
  zulpipe* queue = create_queue_zulpipe();
  const bool queue_works = queue != nullptr && zulwrite(queue, "ab", 2) == 2;
  zulclose(queue);
  const bool ok = !encrypted && encrypt_err == mirdcng::kResultNullArgument && !decrypted &&
                  decrypt_err == mirdcng::kResultNullArgument && pipe == nullptr &&
                  err == mirdcng::kResultNullArgument && queue_works;
  std::puts(ok ? "consumer: ok" : "consumer: FAILED");
  return ok ? 0 : 1;
}
