// Names that lead to something other than a regular file, through all three
// exports: a FIFO with and without a writer, a device, a socket, a folder. As
// a source each is refused at once, unread, with code 3; as a destination
// with code 0, and left as it is; as a pipe's name it is not read at all, and
// the caller's stream is served whole. (A pipe that is the caller's stream as
// well: tests/tools/cli_test.sh, through mirdcng cat /dev/stdin.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "mirdcng/mirdcng.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

namespace fs = std::filesystem;

// Within returns whether `call` returned within a second.
bool Within(const std::function<void()>& call) {
  const auto started = std::chrono::steady_clock::now();
  call();
  return std::chrono::steady_clock::now() - started < std::chrono::seconds(1);
}

// A writer that waits in opening the FIFO `path` until a reader comes, then
// writes and closes it; released when it goes.
class FifoWriter {
 public:
  explicit FifoWriter(const std::string& path)
      : path_(path), thread_([path] {
          const int fd = open(path.c_str(), O_WRONLY);
          if (fd >= 0) {
            static_cast<void>(write(fd, "from the writer", 15));
            close(fd);
          }
        }) {}
  ~FifoWriter() {
    // A reader lets the writer open its end, whenever it comes to it.
    const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    close(fd);
  }

 private:
  std::string path_;
  std::thread thread_;
};

TEST(SpecialFiles, AreRefusedUnreadAndLeftAsTheyAre) {
  // A writer whose reader has gone gets EPIPE, not a signal.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  const std::pair<const char*, std::function<void(const std::string&)>> specials[] = {
      {"FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"FIFO with a writer", [](const std::string& path) { mkfifo(path.c_str(), 0600); }},
      {"/dev/zero",
       [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
      {"socket",
       [](const std::string& path) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         close(fd);  // the socket's name stays
       }},
      {"folder", [](const std::string& path) { fs::create_directory(path); }},
  };
  for (const auto& [label, make] : specials) {
    SCOPED_TRACE(label);
    TempDir dir;
    const Bytes plain = BytesOf("plain content");
    dir.Write("plain.EBS", plain);
    const std::string sealed = Seal(dir, "sealed.EBS", plain, "t");
    const std::string special = dir.Path("special.EBS");
    make(special);
    const auto type = fs::symlink_status(special).type();
    std::optional<FifoWriter> writer;
    if (std::string_view(label) == "FIFO with a writer") {
      writer.emplace(special);
    }
    const std::vector<std::string> files = dir.List();
    for (const bool encrypt : {true, false}) {
      const auto call = encrypt ? cng_77x : cng_77z;
      const std::string source = encrypt ? dir.Path("plain.EBS") : sealed;
      int as_source = -1;
      int as_destination = -1;
      EXPECT_TRUE(Within([&] {
        EXPECT_FALSE(call(special.c_str(), dir.Path("out.EBS").c_str(), "t", as_source));
        EXPECT_FALSE(call(source.c_str(), special.c_str(), "t", as_destination));
      }));
      EXPECT_EQ(as_source, 3);
      EXPECT_EQ(as_destination, 0);
    }
    Stream stream = OpenAsCaller(dir.Path("plain.EBS"), 3);
    int err = kCallersCode;
    EXPECT_TRUE(Within([&] {
      Pipe pipe(create_cng77_pipe(stream.get(), special.c_str(), false, err));
      ASSERT_NE(pipe, nullptr);
      EXPECT_FALSE(IsQueuePipe(pipe.get()));
      EXPECT_EQ(ReadToEnd(pipe.get()), plain) << "the caller's stream, rewound";
    }));
    EXPECT_EQ(err, kCallersCode);
    EXPECT_EQ(dir.List(), files) << "nothing made";
    EXPECT_EQ(fs::symlink_status(special).type(), type);
  }
  std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace mirdcng::testing
