// The naming rule and the call frame under arbitrary names and tags: the rule
// must give every path its documented name, and a call must open exactly the
// file the rule names, write nothing but that destination, and round-trip
// whatever it accepts. Names that the frame could not open must give code 3.
//
// Input: source name, destination name, tag and file content, separated by
// NUL bytes (names and tags end at a NUL anyway). Each name becomes one path
// component inside a scratch folder of the process: "/" is replaced, so no
// path escapes it, and the rule only ever appends to a name, so "." and ".."
// never survive it.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/container_format.h"
#include "fileops/naming_rule.h"
#include "mirdcng/mirdcng.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxInput = 1 << 12;
// The longest name the file system takes; longer ones must fail to open.
constexpr std::size_t kMaxName = 255;

// The scratch folders of the process, removed when it ends. Their paths hold
// no ".", so that the rule's search for one sees only the fuzzed name.
class Scratch {
 public:
  Scratch()
      : root_(fs::temp_directory_path() /
              ("mirdcng-frame-fuzz-" + std::to_string(::getpid()))),
        work_(root_ / "work"),
        aside_(root_ / "aside") {
    fs::create_directories(work_);
    fs::create_directories(aside_);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& work() const { return work_; }
  const fs::path& aside() const { return aside_; }

 private:
  fs::path root_;
  fs::path work_;   // where the fuzzed names live
  fs::path aside_;  // the files the checks make
};

const Scratch& Folders() {
  static const Scratch scratch;
  return scratch;
}

// The rule as documented, written apart from the library's: a path ending in
// ".EBS", or one that is "EBS" and holds no ".", is kept; others get ".ebs".
std::string Expected(const std::string& path) {
  const bool kept = std::string_view(path).ends_with(".EBS") || path == "EBS";
  return kept ? path : path + ".ebs";
}

std::string Component(std::string name) {
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name;
}

std::vector<char> Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

bool IsRegular(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

void Empty(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    fs::remove_all(entry.path());
  }
}

// Check stops the process with a crash libFuzzer records when `holds` fails.
void Check(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

// The fields of one input.
struct Input {
  std::string source;  // names as given, "/" and all
  std::string destination;
  std::string tag;
  std::string content;  // of the source file, when the name can be made
};

Input Parse(const std::uint8_t* data, std::size_t size) {
  Input input;
  std::size_t at = 0;
  for (std::string* field : {&input.source, &input.destination, &input.tag}) {
    while (at < size && data[at] != 0) {
      field->push_back(static_cast<char>(data[at++]));
    }
    at += at < size ? 1 : 0;
  }
  input.content.assign(reinterpret_cast<const char*>(data) + at, size - at);
  return input;
}

// Whether cng_77x must accept `input`, whose source is (or is not) there.
bool MustSeal(const Input& input, bool source_there, const fs::path& dst_used) {
  const std::string sealed = input.content + input.tag;
  return source_there && !sealed.empty() &&
         static_cast<std::uint8_t>(sealed[0]) != mirdcng::kContainerMarker &&
         input.tag.size() <= mirdcng::kMaxTagLength &&
         dst_used.filename().string().size() <= kMaxName;
}

// CheckSeal runs cng_77x from `src` to `dst`: the frame must open exactly the
// file the rule names, write nothing but the rule's destination, leave a
// refused source as it was, and round-trip what it accepts.
void CheckSeal(const std::string& src, const std::string& dst, const Input& input) {
  const Scratch& scratch = Folders();
  const std::vector<std::string> before = Listing(scratch.work());
  const fs::path src_used = Expected(src);
  const fs::path dst_used = Expected(dst);
  const bool source_there = IsRegular(src_used);
  const std::vector<char> source_before =
      source_there ? Read(src_used) : std::vector<char>{};

  int err = -1;
  const bool sealed = cng_77x(src.c_str(), dst.c_str(), input.tag.c_str(), err);
  Check(err == (source_there ? 0 : 3));
  Check(sealed == MustSeal(input, source_there, dst_used));

  std::vector<std::string> after = Listing(scratch.work());
  std::vector<std::string> expected = before;
  if (sealed) {
    std::erase(after, dst_used.filename().string());
    std::erase(expected, dst_used.filename().string());
  } else if (source_there) {
    Check(Read(src_used) == source_before);
  }
  Check(
      std::is_permutation(after.begin(), after.end(), expected.begin(), expected.end()));

  if (sealed) {
    const fs::path back = scratch.aside() / "back.EBS";
    Check(cng_77z(dst.c_str(), back.c_str(), input.tag.c_str(), err) && err == 0);
    const std::vector<char> round_trip = Read(back);
    Check(std::string(round_trip.begin(), round_trip.end()) == input.content);
  }
}

// CheckPipe opens a pipe named by the raw name `name` over a stream of another
// file: the caller's stream is served whenever the named file is not a
// container.
void CheckPipe(const std::string& name) {
  const fs::path stream_path = Folders().aside() / "stream";
  std::ofstream(stream_path, std::ios::binary) << "the caller's stream";
  std::FILE* stream = std::fopen(stream_path.c_str(), "rb");
  Check(stream != nullptr);
  int code = -1;
  zulpipe* pipe = create_cng77_pipe(stream, name.c_str(), false, code);
  const std::vector<char> named = IsRegular(name) ? Read(name) : std::vector<char>{};
  const bool may_decrypt =
      !named.empty() && static_cast<std::uint8_t>(named[0]) == mirdcng::kContainerMarker;
  if (!may_decrypt) {
    Check(pipe != nullptr && code == -1);
    std::string served;
    char buffer[256];
    for (long long got; (got = zulread(pipe, buffer, sizeof buffer)) > 0;) {
      served.append(buffer, static_cast<std::size_t>(got));
    }
    Check(served == "the caller's stream");
  }
  if (pipe != nullptr) {
    zulclose(pipe);
  }
  std::fclose(stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) {
    return 0;
  }
  const Input input = Parse(data, size);
  // The rule on the raw bytes, "/" and all.
  Check(mirdcng::ApplyNamingRule(input.source) == Expected(input.source));
  Check(mirdcng::ApplyNamingRule(input.destination) == Expected(input.destination));

  const Scratch& scratch = Folders();
  const std::string src_name = Component(input.source);
  const std::string src = (scratch.work() / src_name).string();
  const std::string dst = (scratch.work() / Component(input.destination)).string();
  // The file is made under the name as given; the frame looks for it under
  // the rule's name, and finds it only when the rule keeps the name.
  if (!src_name.empty() && src_name != "." && src_name != ".." &&
      src_name.size() <= kMaxName) {
    std::ofstream(src, std::ios::binary) << input.content;
  }
  CheckSeal(src, dst, input);
  CheckPipe(src);
  Empty(scratch.work());
  Empty(scratch.aside());
  return 0;
}
