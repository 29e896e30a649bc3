// Many threads at once, all released together: workers each running encrypt,
// decrypt and pipe round trips on files of their own, and readers opening
// pipes on one shared encrypted file and one shared plain file. Every result
// is checked byte for byte. Run under ThreadSanitizer too (the tsan preset).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "mirdcng/mirdcng.h"
#include "tests/pipe/pipe_test_support.h"
#include "tests/support/temp_dir.h"

namespace mirdcng::testing {
namespace {

constexpr int kWorkers = 8;
constexpr int kRounds = 12;
constexpr int kReaders = 8;
constexpr int kOpens = 12;

// What one thread found wrong, reported on the main thread.
using Findings = std::vector<std::string>;

// Files are written and read with streams of the calling thread's own.
void WriteFile(const std::string& path, const Bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Pipe opens `path` as a pipe with a stream of the thread's own and reads it
// whole; `decrypted` says which road it took.
Bytes ThroughPipe(const std::string& path, bool& decrypted, Findings& findings) {
  Stream stream(std::fopen(path.c_str(), "rb"));
  int err = kCallersCode;
  Pipe pipe(create_cng77_pipe(stream.get(), path.c_str(), false, err));
  if (pipe == nullptr || err != kCallersCode) {
    findings.push_back("no pipe for " + path);
    return {};
  }
  decrypted = zulwrite(pipe.get(), nullptr, 0) == 0;
  Bytes all;
  std::uint8_t buffer[4096];
  for (long long got; (got = zulread(pipe.get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      findings.push_back("a failed read of " + path);
      break;
    }
    all.insert(all.end(), buffer, buffer + got);
  }
  return all;
}

void Worker(const TempDir& dir, int id, std::latch& start, Findings& findings) {
  const std::string me = std::to_string(id);
  const std::string plain = dir.Path("plain" + me + ".EBS");
  const std::string sealed = dir.Path("sealed" + me + ".EBS");
  const std::string back = dir.Path("back" + me + ".EBS");
  const std::string tag = "tag of " + me;
  start.arrive_and_wait();
  for (int round = 0; round < kRounds; ++round) {
    const std::string where = "worker " + me + ", round " + std::to_string(round);
    const auto size = static_cast<std::size_t>(1 + (id * 7919 + round * 3331) % 40000);
    const Bytes content = Plaintext(size, static_cast<std::uint32_t>(id * 100 + round));
    WriteFile(plain, content);
    int err = -1;
    if (!cng_77x(plain.c_str(), sealed.c_str(), tag.c_str(), err) || err != 0) {
      findings.push_back(where + ": cng_77x failed, code " + std::to_string(err));
      continue;
    }
    if (!cng_77z(sealed.c_str(), back.c_str(), tag.c_str(), err) || err != 0 ||
        ReadFile(back) != content) {
      findings.push_back(where + ": cng_77z did not give the content back");
    }
    bool decrypted = false;
    if (ThroughPipe(sealed, decrypted, findings) != content || !decrypted) {
      findings.push_back(where + ": the pipe did not serve the plaintext");
    }
    if (ThroughPipe(plain, decrypted, findings) != content || decrypted) {
      findings.push_back(where + ": the pipe did not serve the plain file raw");
    }
  }
}

void Reader(const std::string& sealed, const std::string& plain, const Bytes& content,
            std::latch& start, Findings& findings) {
  start.arrive_and_wait();
  for (int open = 0; open < kOpens; ++open) {
    bool decrypted = false;
    if (ThroughPipe(sealed, decrypted, findings) != content || !decrypted) {
      findings.push_back("the shared encrypted file, open " + std::to_string(open));
    }
    if (ThroughPipe(plain, decrypted, findings) != content || decrypted) {
      findings.push_back("the shared plain file, open " + std::to_string(open));
    }
  }
}

TEST(Threads, RoundTripsAndSharedPipesAllComeBackIntact) {
  TempDir dir;
  const Bytes shared = Plaintext(50000, 4242);
  dir.Write("shared-plain.EBS", shared);
  const std::string shared_plain = dir.Path("shared-plain.EBS");
  const std::string shared_sealed = dir.Path("shared-sealed.EBS");
  int err = -1;
  ASSERT_TRUE(cng_77x(shared_plain.c_str(), shared_sealed.c_str(), "shared", err));

  std::vector<Findings> findings(kWorkers + kReaders);
  std::latch start(kWorkers + kReaders);
  std::vector<std::thread> threads;
  for (int id = 0; id < kWorkers; ++id) {
    threads.emplace_back(Worker, std::cref(dir), id, std::ref(start),
                         std::ref(findings[static_cast<std::size_t>(id)]));
  }
  for (int id = 0; id < kReaders; ++id) {
    threads.emplace_back(Reader, shared_sealed, shared_plain, std::cref(shared),
                         std::ref(start),
                         std::ref(findings[static_cast<std::size_t>(kWorkers + id)]));
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const Findings& found : findings) {
    for (const std::string& finding : found) {
      ADD_FAILURE() << finding;
    }
  }
  EXPECT_EQ(dir.Read("shared-plain.EBS"), shared) << "read by all, changed by none";
  std::cout << "[ THREADS  ] " << kWorkers << " threads x " << kRounds
            << " round trips (cng_77x, cng_77z, two pipes) beside " << kReaders
            << " threads x " << kOpens << " opens of two shared files\n";
}

}  // namespace
}  // namespace mirdcng::testing
