// Calls on different threads share nothing: many round trips at once, on
// distinct files, all come back intact.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "mirdcng/mirdcng.h"
#include "tests/support/temp_dir.h"

namespace mirdcng {
namespace {

TEST(ConcurrencyTest, ParallelRoundTripsOnDistinctFiles) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  testing::TempDir dir;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&dir, &failures, t] {
      const std::string id = std::to_string(t);
      const testing::Bytes content = testing::PatternBytes(
          1000 + static_cast<std::size_t>(t) * 77, static_cast<std::uint32_t>(t));
      dir.Write("plain" + id + ".EBS", content);
      const std::string tag = "tag-" + id;
      for (int round = 0; round < kRounds; ++round) {
        int err = -1;
        const bool ok =
            cng_77x(dir.Path("plain" + id + ".EBS").c_str(),
                    dir.Path("sealed" + id + ".EBS").c_str(), tag.c_str(), err) &&
            cng_77z(dir.Path("sealed" + id + ".EBS").c_str(),
                    dir.Path("back" + id + ".EBS").c_str(), tag.c_str(), err) &&
            dir.Read("back" + id + ".EBS") == content;
        failures[static_cast<std::size_t>(t)] += ok ? 0 : 1;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << "thread " << t;
  }
}

}  // namespace
}  // namespace mirdcng
