// The files that the forms working on many files (-i, -o, verify) take from
// their PATHs: each PATH that is a file, and with -r the files in each PATH
// that is a folder, in name order. A PATH given is followed when it is a link;
// links met inside folders are not (so that nothing outside the folders given
// is reached), and neither is anything else that is not a regular file there
// (a FIFO, a device, a socket): those are passed over, with a note under -v.
#ifndef MIRDCNG_TOOLS_TREE_WALK_H_
#define MIRDCNG_TOOLS_TREE_WALK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace mirdcng::tool {

// WorkItem is one file to work on.
struct WorkItem {
  std::string source;  // as the walk reached it: the PATH, or below it
  // Where the result goes: under -o, DIR followed by the file's path below
  // its PATH (its name alone, for a PATH that is a file); with -i, the source
  // itself; nothing for verify.
  std::string output;
  std::uint64_t size = 0;  // when walked
};

struct WalkRequest {
  bool recursive = false;
  bool in_place = false;
  std::string output_dir;  // -o DIR, whose own folder a walk passes over
  bool verbose = false;
};

// Walk is what the PATHs hold. Every file is there once, however often it was
// named; two files whose outputs would be one are not both there.
struct Walk {
  std::vector<WorkItem> items;
  int status = 0;               // the highest of the PATHs that could not be walked
  std::size_t passed_over = 0;  // links and what is not a file, met in folders
};

// WalkPaths collects the files of `paths`, complaining of each PATH that
// cannot be walked (it does not exist, is a folder without -r, or is no file).
Walk WalkPaths(const std::vector<std::string>& paths, const WalkRequest& request);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_TREE_WALK_H_
