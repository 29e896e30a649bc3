// The forms that work on many files: encrypt and decrypt with -i or -o, and
// verify. The PATHs are walked first (tools/tree_walk.h), then each file runs
// through the library's own call on a pool of workers (tools/work_pool.h),
// with every guarantee of a single call. Files that need no work are skipped
// and counted; a failure is reported with its path and does not stop the
// others.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "engine/cng_manager.h"
#include "engine/container_format.h"
#include "fileops/call_frame.h"
#include "platform/share_open.h"
#include "tools/commands.h"
#include "tools/destinations.h"
#include "tools/failure_messages.h"
#include "tools/progress.h"
#include "tools/tag_source.h"
#include "tools/tree_walk.h"
#include "tools/work_pool.h"

namespace mirdcng::tool {
namespace {

// How one file ended: done, skipped for a reason, or failed with a status.
struct Ending {
  int status = kExitOk;
  const char* skipped = nullptr;  // why, when it was
};

constexpr const char* kOutputExists = "whose output exists";

// Job is one run of a command over many files: what it is asked, and what it
// has counted so far, shared by the workers.
class Job {
 public:
  Job(const Arguments& arguments, std::optional<std::string> tag, Progress& progress)
      : arguments_(arguments), tag_(std::move(tag)), progress_(progress) {}

  const Arguments& arguments() const { return arguments_; }
  const std::optional<std::string>& tag() const { return tag_; }
  std::string tag_text() const { return tag_.value_or(""); }

  void Say(const std::string& message) { progress_.Say(message); }
  void Note(const std::string& message) {
    if (arguments_.verbose) {
      progress_.Say(message);
    }
  }

  // Count records how the file of `bytes` bytes ended.
  void Count(const Ending& ending, std::uint64_t bytes) {
    progress_.FileOver(bytes);
    const std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::max(status_, ending.status);
    if (ending.skipped != nullptr) {
      ++skipped_[ending.skipped];
    } else if (ending.status != kExitOk) {
      ++failed_;
    } else {
      ++done_;
      bytes_done_ += bytes;
    }
  }

  // Report says how the job went, and returns its exit status.
  int Report(const char* done, const Walk& walk, const PoolReport& pool) const;

 private:
  const Arguments& arguments_;
  const std::optional<std::string> tag_;
  Progress& progress_;
  std::mutex mutex_;
  int status_ = kExitOk;
  std::size_t done_ = 0;
  std::size_t failed_ = 0;
  std::uint64_t bytes_done_ = 0;
  std::map<std::string, std::size_t> skipped_;
};

std::string Counted(std::size_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

int Job::Report(const char* done, const Walk& walk, const PoolReport& pool) const {
  const std::size_t files = walk.items.size();
  if (failed_ > 0 && files > 1) {
    Complain(std::to_string(failed_) + " of " + Counted(files, "file") + " failed");
  }
  if (const auto exists = skipped_.find(kOutputExists); exists != skipped_.end()) {
    Complain("left " + Counted(exists->second, "existing output") +
             (exists->second == 1 ? " as it was" : " as they were") +
             "; --force replaces them");
  }
  if (arguments_.verbose) {
    std::string summary = std::string(done) + " " + std::to_string(done_) + " of " +
                          Counted(files, "file") + " (" + std::to_string(bytes_done_) +
                          " bytes)";
    const char* separator = "; skipped ";
    for (const auto& [why, count] : skipped_) {
      summary += separator + std::to_string(count) + " " + why;
      separator = ", ";
    }
    if (failed_ > 0) {
      summary += "; " + std::to_string(failed_) + " failed";
    }
    if (walk.passed_over > 0) {
      summary += "; passed over " + std::to_string(walk.passed_over) +
                 " that are not regular files";
    }
    summary += "; at most " + std::to_string(pool.most_at_once) + " at once, holding " +
               std::to_string(pool.most_held) + " bytes";
    Complain(summary);
  }
  return std::max(status_, walk.status);
}

// Failed reports the failure `outcome` of `verb` on `item`.
Ending Failed(Job& job, const Outcome& outcome, const char* verb, const WorkItem& item) {
  const Failure failure = FailureOf(
      outcome, {verb, Quoted(item.source), Quoted(item.output), job.tag_text()});
  job.Say(failure.message);
  return {failure.status, nullptr};
}

// FirstByte reads the first byte of `path`: the byte, EOF for an empty file,
// or nothing (with why in `outcome`) when it cannot be opened.
std::optional<int> FirstByte(const std::string& path, Outcome& outcome) {
  const platform::Opened opened = platform::OpenForReading(path.c_str());
  if (!opened.file) {
    outcome = {opened.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnopened,
               opened.error};
    return std::nullopt;
  }
  return std::fgetc(opened.file.get());
}

// PrepareOutput readies the place of `item`'s result under -o: refused when it
// is no file, left alone when it is another file and there is no --force, its
// folders made. Nothing when the call may go ahead.
std::optional<Ending> PrepareOutput(Job& job, const WorkItem& item) {
  if (item.output == item.source) {
    return std::nullopt;
  }
  if (const std::string kind = NotAFile(item.output); !kind.empty()) {
    job.Say("cannot write " + Quoted(item.output) + ": it is " + kind);
    return Ending{kExitFailed, nullptr};
  }
  if (!job.arguments().force && ReplacesAnother(item.source, item.output)) {
    job.Note("skipped " + Quoted(item.source) + ": " + Quoted(item.output) + " exists");
    return Ending{kExitOk, kOutputExists};
  }
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(item.output).parent_path();
  if (!folder.empty() && !std::filesystem::create_directories(folder, error) && error) {
    job.Say("cannot make the folder " + Quoted(folder.string()) + ": " + error.message());
    return Ending{kExitFailed, nullptr};
  }
  return std::nullopt;
}

// Convert encrypts (`operation` EncryptFile) or decrypts one file, unless it
// needs no work: for encrypt, a file already encrypted or, without a tag, an
// empty one; for decrypt, a file that is not encrypted.
Ending Convert(Job& job, const WorkItem& item, FileOperation operation) {
  const bool encrypting = operation == &CNGManager::EncryptFile;
  const char* verb = encrypting ? "encrypt" : "decrypt";
  Outcome outcome;
  const std::optional<int> first = FirstByte(item.source, outcome);
  if (!first) {
    return Failed(job, outcome, verb, item);
  }
  const char* skipped = nullptr;
  if (encrypting && *first == kContainerMarker) {
    skipped = "already encrypted";
  } else if (encrypting && *first == EOF && job.tag_text().empty()) {
    skipped = "empty with no tag to seal";
  } else if (!encrypting && *first != kContainerMarker) {
    skipped = "not encrypted";
  }
  if (skipped != nullptr) {
    job.Note("skipped " + Quoted(item.source) + ": " + skipped);
    return {kExitOk, skipped};
  }
  if (const std::optional<Ending> refused = PrepareOutput(job, item)) {
    return *refused;
  }
  outcome = RunFileCall(item.source.c_str(), item.output.c_str(), job.tag_text().c_str(),
                        operation, Paths::kLiteral);
  if (!outcome.done()) {
    return Failed(job, outcome, verb, item);
  }
  job.Note(std::string(verb) + "ed " + Quoted(item.source) +
           (item.output == item.source ? "" : " into " + Quoted(item.output)));
  return {};
}

// Check verifies one file: a whole container that decrypts and, when the job
// has a tag, whose tag is that one. Without a tag it is decrypted the way the
// framework's pipes read it, its trailer dropped unread.
Ending Check(Job& job, const WorkItem& item) {
  Outcome outcome;
  if (job.tag()) {
    outcome = RunToStream(item.source.c_str(), job.tag()->c_str(), nullptr,
                          &CNGManager::DecryptToStream, Paths::kLiteral);
  } else {
    CNGManager engine{std::string()};
    HeapBlock plaintext;
    int code = 0;
    static_cast<void>(engine.DecryptToBuffer(item.source, plaintext, code));
    outcome = engine.outcome();
  }
  if (outcome.cause == Cause::kTagMismatch) {
    job.Say(Quoted(item.source) + " was not sealed with the tag given");
    return {kExitWrongTag, nullptr};
  }
  if (!outcome.done()) {
    return Failed(job, outcome, "verify", item);
  }
  job.Note(Quoted(item.source) + " is whole and decrypts" +
           (job.tag() ? ", with the tag given" : ""));
  return {};
}

// RunMany walks the PATHs and runs `step` on each file found.
int RunMany(const Arguments& arguments, const char* done,
            const std::function<Ending(Job&, const WorkItem&)>& step) {
  Tag tag = TagOf(arguments);
  if (tag.status != kExitOk) {
    return tag.status;
  }
  const Walk walk = WalkPaths(arguments.paths, {arguments.recursive, arguments.in_place,
                                                arguments.output_dir, arguments.verbose});
  std::uint64_t bytes = 0;
  for (const WorkItem& item : walk.items) {
    bytes += item.size;
  }
  Progress progress(ShowsProgress(arguments.progress, walk.items.size(), bytes),
                    walk.items.size(), bytes);
  Job job(arguments, std::move(tag.text), progress);
  const auto run = [&](std::size_t index) {
    const WorkItem& item = walk.items[index];
    Ending ending;
    try {
      ending = step(job, item);
    } catch (const std::bad_alloc&) {
      job.Say("cannot work on " + Quoted(item.source) + ": out of memory");
      ending = {kExitFailed, nullptr};
    }
    job.Count(ending, item.size);
  };
  // A file is held once, its result made in the same block: its size, with
  // room for the header, the padding and the longest tag.
  const auto held = [&](std::size_t index) {
    return walk.items[index].size + kHeaderLength + kCipherBlock + kMaxTagLength;
  };
  const PoolReport pool =
      RunPool(walk.items.size(), held, run,
              {arguments.jobs != 0 ? arguments.jobs : ProcessorsAvailable(),
               arguments.memory != 0 ? arguments.memory : DefaultMemoryBudget()});
  progress.Stop();
  return job.Report(done, walk, pool);
}

}  // namespace

int RunEncryptMany(const Arguments& arguments) {
  return RunMany(arguments, "encrypted", [](Job& job, const WorkItem& item) {
    return Convert(job, item, &CNGManager::EncryptFile);
  });
}

int RunDecryptMany(const Arguments& arguments) {
  return RunMany(arguments, "decrypted", [](Job& job, const WorkItem& item) {
    return Convert(job, item, &CNGManager::DecryptFile);
  });
}

int RunVerify(const Arguments& arguments) {
  return RunMany(arguments, "verified", Check);
}

}  // namespace mirdcng::tool
