#include "tools/tree_walk.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "tools/commands.h"
#include "tools/destinations.h"

namespace mirdcng::tool {
namespace {

namespace fs = std::filesystem;

// Key is the name under which a path is known once: absolute, with "." and
// ".." taken out. Links are not resolved: two links to one file are two
// files, as two hard links are.
std::string Key(const fs::path& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  return (error ? path : absolute).lexically_normal().string();
}

class Walker {
 public:
  explicit Walker(const WalkRequest& request) : request_(request) {
    std::error_code error;
    if (!request.output_dir.empty() && fs::is_directory(request.output_dir, error)) {
      output_dir_ = request.output_dir;
    }
  }

  void Given(const std::string& path);
  Walk Done() { return std::move(walk_); }

 private:
  void Folder(const fs::path& folder, const fs::path& below);
  void Entry(const fs::directory_entry& entry, const fs::path& below);
  void File(const fs::path& file, const fs::path& below, std::uint64_t size);

  void Fail(int status, const std::string& message) {
    Complain(message);
    walk_.status = std::max(walk_.status, status);
  }
  void PassOver(const fs::path& path, const std::string& why) {
    ++walk_.passed_over;
    if (request_.verbose) {
      Complain("passed over " + Quoted(path.string()) + ": " + why);
    }
  }

  const WalkRequest& request_;
  std::optional<fs::path> output_dir_;  // when it exists already
  Walk walk_;
  std::set<std::string> sources_;
  std::map<std::string, std::string> outputs_;  // output's key -> its source
};

void Walker::Given(const std::string& path) {
  if (path == "-") {
    Fail(kExitUsage,
         "'-' would be standard input, which this form does not read; "
         "name a file called - as ./-");
    return;
  }
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) {
    if (request_.recursive) {
      Folder(path, {});
    } else {
      Fail(kExitFailed,
           Quoted(path) + " is a folder; give -r to work on the files in it");
    }
  } else if (fs::is_regular_file(status)) {
    File(path, fs::path(path).filename(), fs::file_size(path, error));
  } else if (error) {
    Fail(kExitNoSource, "cannot open " + Quoted(path) + ": " + error.message());
  } else {
    Fail(kExitNoSource, "cannot open " + Quoted(path) + ": it is " + NotAFile(path));
  }
}

void Walker::Folder(const fs::path& folder, const fs::path& below) {
  std::error_code error;
  if (!below.empty() && output_dir_ && fs::equivalent(folder, *output_dir_, error)) {
    PassOver(folder, "it is the output folder");
    return;
  }
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator next(folder, error), end; !error && next != end;
       next.increment(error)) {
    entries.push_back(*next);
  }
  if (error) {
    Fail(kExitNoSource,
         "cannot read the folder " + Quoted(folder.string()) + ": " + error.message());
    return;
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    Entry(entry, below / entry.path().filename());
  }
}

void Walker::Entry(const fs::directory_entry& entry, const fs::path& below) {
  std::error_code error;
  const fs::file_status status = entry.symlink_status(error);
  if (fs::is_symlink(status)) {
    PassOver(entry.path(), "it is a symbolic link, which is not followed");
  } else if (fs::is_directory(status)) {
    Folder(entry.path(), below);
  } else if (fs::is_regular_file(status)) {
    File(entry.path(), below, entry.file_size(error));
  } else if (error) {
    Fail(kExitNoSource,
         "cannot open " + Quoted(entry.path().string()) + ": " + error.message());
  } else {
    PassOver(entry.path(), "it is " + NotAFile(entry.path().string()));
  }
}

void Walker::File(const fs::path& file, const fs::path& below, std::uint64_t size) {
  if (!sources_.insert(Key(file)).second) {
    return;  // named twice
  }
  WorkItem item{file.string(), "", size == static_cast<std::uint64_t>(-1) ? 0 : size};
  if (request_.in_place) {
    item.output = item.source;
  } else if (!request_.output_dir.empty()) {
    item.output = (fs::path(request_.output_dir) / below).string();
    const auto [first, fresh] = outputs_.emplace(Key(item.output), item.source);
    if (!fresh) {
      Fail(kExitFailed, Quoted(item.source) + " is left out: " + Quoted(first->second) +
                            " is written to " + Quoted(item.output) + " already");
      return;
    }
  }
  walk_.items.push_back(std::move(item));
}

}  // namespace

Walk WalkPaths(const std::vector<std::string>& paths, const WalkRequest& request) {
  Walker walker(request);
  for (const std::string& path : paths) {
    walker.Given(path);
  }
  return walker.Done();
}

}  // namespace mirdcng::tool
