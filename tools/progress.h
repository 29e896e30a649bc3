// The progress line of a long job, and the messages written meanwhile, both
// on standard error and from any thread. The line says how many files and
// bytes are done of the whole, the rate and the time left, and is redrawn in
// place a few times a second; a message clears it first, and it is cleared
// when the job is over. Files are worked on whole, so a file counts as done
// once it is over, whatever its end.
#ifndef MIRDCNG_TOOLS_PROGRESS_H_
#define MIRDCNG_TOOLS_PROGRESS_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "tools/command_line.h"

namespace mirdcng::tool {

// ShowsProgress decides whether a job of `files` files and `bytes` bytes has
// a progress line: as `choice` says, or by default when standard error is a
// terminal and the job is more than one file or a large one.
bool ShowsProgress(ProgressChoice choice, std::size_t files, std::uint64_t bytes);

class Progress {
 public:
  // Draws nothing unless `shown`; messages pass either way.
  Progress(bool shown, std::size_t files, std::uint64_t bytes);
  ~Progress() { Stop(); }

  // Stop clears the line for good; messages still pass.
  void Stop();

  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // FileOver counts one more file of `bytes` bytes as done.
  void FileOver(std::uint64_t bytes);

  // Say writes `message` as Complain does, the line cleared first.
  void Say(const std::string& message);

 private:
  void Tick();
  void Draw();   // under the mutex
  void Clear();  // under the mutex

  std::mutex mutex_;
  std::condition_variable stop_signal_;
  bool stopping_ = false;
  const std::size_t files_;
  const std::uint64_t bytes_;
  std::size_t files_done_ = 0;
  std::uint64_t bytes_done_ = 0;
  std::size_t drawn_ = 0;  // the length of the line on the screen
  const std::chrono::steady_clock::time_point start_;
  std::thread ticker_;
};

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_PROGRESS_H_
