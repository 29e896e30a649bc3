// mirdcng_bench: the in-process half of the benchmark (bench/run.sh runs it).
//
// Everything here goes through the shared library's exports, as a host would,
// and is set against a peer measured in the same run:
//   Small*       4 KiB files, one per iteration: cng_77x and cng_77z against a
//                plain read-and-write copy of the same files, and against the
//                same copy made crash-safe (temporary, fsync, rename, folder
//                fsync) as the library makes its destinations;
//   File*        one file of each size per iteration, for the time per byte
//                from 1 MiB up;
//   Threads*     the same at 16 MiB on one thread and on two, each on its own
//                files, beside AES alone on one and two threads;
//   Ceiling*     what the machine cannot go below: AES-128-CBC alone on
//                buffers already in memory, a streaming file copy, and the
//                cost of fresh memory (mapped, filled once, given back).
//
// Usage: mirdcng_bench --dir=FOLDER [--sizes=1,16,256] [benchmark flags]
// FOLDER must exist and have room for four times the sum of the sizes; the
// files are made there on start and left for the caller to remove.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mirdcng/mirdcng.h"

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kSmallFileBytes = 4096;
// Enough small files that each iteration touches a different one, as a host
// converting a folder would.
constexpr int kSmallFiles = 64;
constexpr int kThreadedMiB = 16;
constexpr int kMaxThreads = 2;

std::string g_dir;

// The names all keep the "EBS" suffix, which the naming rule leaves alone.
std::string SmallPath(std::string_view kind, int index) {
  return g_dir + "/small_" + std::string(kind) + "_" + std::to_string(index) + ".EBS";
}
std::string LargePath(std::string_view kind, std::int64_t mib, int thread) {
  return g_dir + "/large_" + std::string(kind) + "_" + std::to_string(mib) + "M_t" +
         std::to_string(thread) + ".EBS";
}

// Incompressible content straight from the random generator, except the first
// byte: a file that began with the container marker would be refused.
bool MakeRandomFile(const std::string& path, std::size_t bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  std::vector<unsigned char> chunk(kMiB);
  bool ok = true;
  for (std::size_t left = bytes; ok && left > 0;) {
    const std::size_t step = std::min(left, chunk.size());
    ok = RAND_bytes(chunk.data(), static_cast<int>(step)) == 1;
    if (left == bytes) {
      chunk[0] = 'P';
    }
    ok = ok && std::fwrite(chunk.data(), 1, step, file) == step;
    left -= step;
  }
  return std::fclose(file) == 0 && ok;
}

bool Encrypt(const std::string& src, const std::string& dst) {
  int err = 0;
  return cng_77x(src.c_str(), dst.c_str(), nullptr, err);
}

bool Decrypt(const std::string& src, const std::string& dst) {
  int err = 0;
  return cng_77z(src.c_str(), dst.c_str(), nullptr, err);
}

// ReadSmall reads the small file `src` into `content`; the count read, or
// nothing when it cannot be opened.
std::optional<std::size_t> ReadSmall(const std::string& src,
                                     std::vector<unsigned char>& content) {
  std::FILE* in = std::fopen(src.c_str(), "rb");
  if (in == nullptr) {
    return std::nullopt;
  }
  content.resize(kSmallFileBytes);
  const std::size_t got = std::fread(content.data(), 1, content.size(), in);
  std::fclose(in);
  return got;
}

// The peer of the small-file exports: what a host would write to copy a file
// whole through the same kind of stream.
bool CopyWhole(const std::string& src, const std::string& dst) {
  std::vector<unsigned char> content;
  const std::optional<std::size_t> read = ReadSmall(src, content);
  if (!read) {
    return false;
  }
  const std::size_t got = *read;
  std::FILE* out = std::fopen(dst.c_str(), "wb");
  if (out == nullptr) {
    return false;
  }
  const bool written = std::fwrite(content.data(), 1, got, out) == got;
  return std::fclose(out) == 0 && written;
}

// The same copy made crash-safe as the library makes its destinations:
// written to a temporary beside the destination, synced, renamed over it,
// and the folder synced. It tells the cost of that safety from the rest.
bool CopyWholeSynced(const std::string& src, const std::string& dst) {
  std::vector<unsigned char> content;
  const std::optional<std::size_t> read = ReadSmall(src, content);
  if (!read) {
    return false;
  }
  const std::size_t got = *read;
  const std::string temp = dst + ".tmp";
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (out == nullptr) {
    return false;
  }
  bool ok = std::fwrite(content.data(), 1, got, out) == got && std::fflush(out) == 0 &&
            fsync(fileno(out)) == 0;
  ok = std::fclose(out) == 0 && ok && std::rename(temp.c_str(), dst.c_str()) == 0;
  const int folder = open(g_dir.c_str(), O_RDONLY | O_DIRECTORY);
  ok = ok && folder >= 0 && fsync(folder) == 0;
  if (folder >= 0) {
    close(folder);
  }
  return ok;
}

bool PrepareFiles(const std::vector<std::int64_t>& sizes) {
  for (int i = 0; i < kSmallFiles; ++i) {
    if (!MakeRandomFile(SmallPath("plain", i), kSmallFileBytes) ||
        !Encrypt(SmallPath("plain", i), SmallPath("sealed", i))) {
      return false;
    }
  }
  for (const std::int64_t mib : sizes) {
    const int copies = mib == kThreadedMiB ? kMaxThreads : 1;
    for (int t = 0; t < copies; ++t) {
      if (!MakeRandomFile(LargePath("plain", mib, t),
                          static_cast<std::size_t>(mib) * kMiB) ||
          !Encrypt(LargePath("plain", mib, t), LargePath("sealed", mib, t))) {
        return false;
      }
    }
  }
  return true;
}

// --- small files ----------------------------------------------------------

template <bool (*kRun)(const std::string&, const std::string&)>
void SmallFiles(benchmark::State& state, std::string_view from) {
  std::vector<std::string> sources;
  std::vector<std::string> destinations;
  for (int i = 0; i < kSmallFiles; ++i) {
    sources.push_back(SmallPath(from, i));
    destinations.push_back(SmallPath("out", i));
  }
  std::size_t i = 0;
  for (auto _ : state) {
    if (!kRun(sources[i], destinations[i])) {
      state.SkipWithError("the call failed");
      return;
    }
    i = (i + 1) % sources.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(kSmallFileBytes));
}

void BM_SmallEncrypt(benchmark::State& state) { SmallFiles<Encrypt>(state, "plain"); }
void BM_SmallDecrypt(benchmark::State& state) { SmallFiles<Decrypt>(state, "sealed"); }
void BM_SmallCopy(benchmark::State& state) { SmallFiles<CopyWhole>(state, "plain"); }
void BM_SmallCopySynced(benchmark::State& state) {
  SmallFiles<CopyWholeSynced>(state, "plain");
}

// --- whole files of each size -----------------------------------------------

void LargeFile(benchmark::State& state, bool encrypt) {
  const std::int64_t mib = state.range(0);
  const int thread = state.thread_index();
  const std::string src = LargePath(encrypt ? "plain" : "sealed", mib, thread);
  const std::string dst = LargePath(encrypt ? "out_sealed" : "out_plain", mib, thread);
  for (auto _ : state) {
    if (!(encrypt ? Encrypt(src, dst) : Decrypt(src, dst))) {
      state.SkipWithError("the call failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * mib * static_cast<std::int64_t>(kMiB));
}

void BM_FileEncrypt(benchmark::State& state) { LargeFile(state, true); }
void BM_FileDecrypt(benchmark::State& state) { LargeFile(state, false); }

// --- the machine's ceiling --------------------------------------------------

struct EvpContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

// AES-128-CBC over N bytes already in memory (both buffers touched before the
// clock starts), through one EVP context keyed once: the cipher's own speed.
void AesOnly(benchmark::State& state, bool encrypt) {
  const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
  std::vector<unsigned char> in(bytes, 0x5a);
  std::vector<unsigned char> out(bytes + 16, 0);
  const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const unsigned char iv[16] = {};
  std::unique_ptr<EVP_CIPHER_CTX, EvpContextDeleter> context(EVP_CIPHER_CTX_new());
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
  if (!context || cipher == nullptr ||
      EVP_CipherInit_ex2(context.get(), cipher, key, iv, encrypt ? 1 : 0, nullptr) != 1) {
    state.SkipWithError("EVP setup failed");
    EVP_CIPHER_free(cipher);
    return;
  }
  EVP_CIPHER_CTX_set_padding(context.get(), 0);
  for (auto _ : state) {
    int produced = 0;
    if (EVP_CipherInit_ex2(context.get(), nullptr, nullptr, iv, -1, nullptr) != 1 ||
        EVP_CipherUpdate(context.get(), out.data(), &produced, in.data(),
                         static_cast<int>(bytes)) != 1) {
      state.SkipWithError("EVP failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  EVP_CIPHER_free(cipher);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void BM_CeilingAesEncrypt(benchmark::State& state) { AesOnly(state, true); }
void BM_CeilingAesDecrypt(benchmark::State& state) { AesOnly(state, false); }

// The file copy a streaming tool does: read and write through one 1 MiB
// buffer, so the copy pays for no fresh memory.
void BM_CeilingCopy(benchmark::State& state) {
  const std::int64_t mib = state.range(0);
  const std::string src = LargePath("plain", mib, 0);
  const std::string dst = LargePath("out_copy", mib, 0);
  std::vector<unsigned char> buffer(kMiB, 0);
  for (auto _ : state) {
    const int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t got = 1; ok && got > 0;) {
      got = read(in, buffer.data(), buffer.size());
      ok = got >= 0 && write(out, buffer.data(), static_cast<std::size_t>(got)) == got;
    }
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (!ok) {
      state.SkipWithError("the copy failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * mib * static_cast<std::int64_t>(kMiB));
}

// What fresh memory costs on this machine: a mapping of N bytes in huge
// pages, filled once and given back. Every whole-file buffer pays this once
// per call; a streaming tool reuses one small buffer and never does.
void BM_CeilingFreshMemory(benchmark::State& state) {
  constexpr std::size_t kHugePage = 2 * kMiB;
  const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
  // Whole huge pages from a huge-page boundary, as the library maps them.
  const std::size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  for (auto _ : state) {
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      return;
    }
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw);
    auto* block =
        reinterpret_cast<unsigned char*>((start + kHugePage - 1) / kHugePage * kHugePage);
    madvise(block, length, MADV_HUGEPAGE);
    std::memset(block, 0x5a, bytes);
    benchmark::ClobberMemory();
    munmap(raw, length + kHugePage);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

std::vector<std::int64_t> ParseSizes(std::string_view text) {
  std::vector<std::int64_t> sizes;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    sizes.push_back(std::atoll(std::string(text.substr(0, comma)).c_str()));
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
  }
  return sizes;
}

void Register(const std::vector<std::int64_t>& sizes) {
  // Whole-file calls take long enough that a few iterations per repetition
  // serve; repetitions give the median and the spread.
  const auto whole_file = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.3);
  };
  benchmark::RegisterBenchmark("SmallEncrypt", BM_SmallEncrypt)->UseRealTime();
  benchmark::RegisterBenchmark("SmallDecrypt", BM_SmallDecrypt)->UseRealTime();
  benchmark::RegisterBenchmark("SmallCopy", BM_SmallCopy)->UseRealTime();
  benchmark::RegisterBenchmark("SmallCopySynced", BM_SmallCopySynced)->UseRealTime();
  for (const std::int64_t mib : sizes) {
    whole_file(benchmark::RegisterBenchmark("FileEncrypt", BM_FileEncrypt)->Arg(mib));
    whole_file(benchmark::RegisterBenchmark("FileDecrypt", BM_FileDecrypt)->Arg(mib));
    whole_file(benchmark::RegisterBenchmark("CeilingAesEncrypt", BM_CeilingAesEncrypt)
                   ->Arg(mib));
    whole_file(benchmark::RegisterBenchmark("CeilingAesDecrypt", BM_CeilingAesDecrypt)
                   ->Arg(mib));
    whole_file(benchmark::RegisterBenchmark("CeilingCopy", BM_CeilingCopy)->Arg(mib));
    whole_file(benchmark::RegisterBenchmark("CeilingFreshMemory", BM_CeilingFreshMemory)
                   ->Arg(mib));
    if (mib == kThreadedMiB) {
      for (int threads = 1; threads <= kMaxThreads; ++threads) {
        whole_file(benchmark::RegisterBenchmark("ThreadsEncrypt", BM_FileEncrypt)
                       ->Arg(mib)
                       ->Threads(threads));
        whole_file(benchmark::RegisterBenchmark("ThreadsDecrypt", BM_FileDecrypt)
                       ->Arg(mib)
                       ->Threads(threads));
        // What the machine itself gains from a second thread: AES alone.
        whole_file(benchmark::RegisterBenchmark("ThreadsAesEncrypt", BM_CeilingAesEncrypt)
                       ->Arg(mib)
                       ->Threads(threads));
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::int64_t> sizes = {1, 16, 256};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--dir=")) {
      g_dir = arg.substr(6);
    } else if (arg.starts_with("--sizes=")) {
      sizes = ParseSizes(arg.substr(8));
    } else {
      std::fprintf(stderr, "mirdcng_bench: unknown argument '%s'\n", argv[i]);
      return 2;
    }
  }
  if (g_dir.empty()) {
    std::fprintf(
        stderr,
        "usage: mirdcng_bench --dir=FOLDER [--sizes=1,16,256] [--benchmark_...]\n");
    return 2;
  }
  if (!PrepareFiles(sizes)) {
    std::fprintf(stderr, "mirdcng_bench: cannot make the files in '%s'\n", g_dir.c_str());
    return 1;
  }
  Register(sizes);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
