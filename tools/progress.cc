#include "tools/progress.h"

#include <cstdio>

#include "tools/commands.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mirdcng::tool {
namespace {

// A single file this large has a line of its own by default.
constexpr std::uint64_t kLargeFile = std::uint64_t{256} << 20;
constexpr auto kRedrawEvery = std::chrono::milliseconds(250);

bool StandardErrorIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// Bytes writes a size the way people read it: "812.0 MiB".
std::string Bytes(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  for (; value >= 1024 && unit + 1 < std::size(kUnits); ++unit) {
    value /= 1024;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value,
                kUnits[unit]);
  return text;
}

std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

}  // namespace

bool ShowsProgress(ProgressChoice choice, std::size_t files, std::uint64_t bytes) {
  if (choice != ProgressChoice::kAuto) {
    return choice == ProgressChoice::kShown;
  }
  return StandardErrorIsTerminal() && (files > 1 || bytes >= kLargeFile);
}

Progress::Progress(bool shown, std::size_t files, std::uint64_t bytes)
    : files_(files), bytes_(bytes), start_(std::chrono::steady_clock::now()) {
  if (shown) {
    ticker_ = std::thread([this] { Tick(); });
  }
}

void Progress::Stop() {
  if (ticker_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    stop_signal_.notify_all();
    ticker_.join();
  }
}

void Progress::FileOver(std::uint64_t bytes) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++files_done_;
  bytes_done_ += bytes;
}

void Progress::Say(const std::string& message) {
  const std::lock_guard<std::mutex> lock(mutex_);
  Clear();
  Complain(message);
}

void Progress::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  do {
    Draw();
  } while (!stop_signal_.wait_for(lock, kRedrawEvery, [this] { return stopping_; }));
  Clear();
}

void Progress::Draw() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string line = "mirdcng: " + std::to_string(files_done_) + "/" +
                     std::to_string(files_) + " files, " + Bytes(bytes_done_) + " of " +
                     Bytes(bytes_);
  if (bytes_done_ > 0 && seconds > 0) {
    const double rate = static_cast<double>(bytes_done_) / seconds;
    line += ", " + Bytes(static_cast<std::uint64_t>(rate)) + "/s, " +
            Duration(static_cast<double>(bytes_ - std::min(bytes_, bytes_done_)) / rate) +
            " left";
  } else {
    line += ", " + Duration(seconds);
  }
  const std::size_t length = line.size();
  if (length < drawn_) {
    line.append(drawn_ - length, ' ');  // over what is left of a longer line
  }
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = length;
}

void Progress::Clear() {
  if (drawn_ != 0) {
    std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
    std::fflush(stderr);
    drawn_ = 0;
  }
}

}  // namespace mirdcng::tool
