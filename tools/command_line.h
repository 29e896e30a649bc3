// The mirdcng command line: a command word, then that command's paths and
// options in any order. Short options bundle ("-fv"), a value may follow its
// option or be joined to it ("-tTAG", "--tag=TAG"), and "--" ends the options,
// so that a path may begin with a dash.
#ifndef MIRDCNG_TOOLS_COMMAND_LINE_H_
#define MIRDCNG_TOOLS_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace mirdcng::tool {

// Whether to draw the progress line: kAuto draws it on a terminal only.
enum class ProgressChoice { kAuto, kShown, kHidden };

// Arguments are a command's paths and options, as given.
struct Arguments {
  std::string source;              // SRC, or the FILE of cat and inspect
  std::string destination;         // DST; "-" is standard output for decrypt
  std::vector<std::string> paths;  // the PATHs of -i, -o and verify
  std::string output_dir;          // -o DIR; empty when not given
  bool in_place = false;           // -i: each PATH is its own destination
  bool recursive = false;          // -r: walk the folders among the PATHs
  std::string tag;                 // -t TAG, empty when none was given
  bool tag_given = false;          // -t was given (an empty one included)
  std::string tag_file;            // --tag-file FILE; "-" is standard input
  bool force = false;              // replace an existing destination
  bool verbose = false;            // say what was done, on standard error
  bool host_names = false;         // the .ebs naming rule on SRC and DST
  bool json = false;               // inspect: one JSON object
  unsigned jobs = 0;               // -j; 0: one for each processor available
  std::uint64_t memory = 0;        // --memory, in bytes; 0: the default budget
  ProgressChoice progress = ProgressChoice::kAuto;

  // ManyFiles tells the forms that work on PATHs from SRC DST.
  bool ManyFiles() const { return in_place || !output_dir.empty(); }
};

// Invocation is what a command line asks for: a command to run on its
// arguments, or a text to print (help, the version, or what is wrong with
// the line) and the exit status to end with.
struct Invocation {
  int (*run)(const Arguments&) = nullptr;
  Arguments arguments;
  std::string text;  // for standard output when `status` is 0, else standard error
  int status = 0;
};

// ParseCommandLine reads the program's arguments, argv[0] excluded from them.
Invocation ParseCommandLine(int argc, const char* const* argv);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_COMMAND_LINE_H_
