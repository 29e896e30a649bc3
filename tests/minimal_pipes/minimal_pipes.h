// A pipe library of the test's own with only the three functions that
// mirdcng may import (create_queue_zulpipe, zulwrite and
// create_binary_stream_zulpipe), as the framework's own library has them at
// the least. Its pipes are plain records that the test reads directly: it has
// no zulread or zulclose, and its zulwrite always returns 0.
#ifndef MIRDCNG_TESTS_MINIMAL_PIPES_MINIMAL_PIPES_H_
#define MIRDCNG_TESTS_MINIMAL_PIPES_MINIMAL_PIPES_H_

#include <cstdio>

struct zulpipe {
  bool queue = false;         // made by create_queue_zulpipe
  int writes = 0;             // zulwrite calls into it
  int refused_adoptions = 0;  // calls of its zulwrite_adopt, which takes nothing
  long long size = 0;         // bytes written, kept up to sizeof bytes
  unsigned char bytes[4096] = {};
  std::FILE* stream = nullptr;  // the arguments of create_binary_stream_zulpipe
  const char* name = nullptr;
  bool owns_stream = false;
};

#endif  // MIRDCNG_TESTS_MINIMAL_PIPES_MINIMAL_PIPES_H_
