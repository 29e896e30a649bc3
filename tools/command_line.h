// The mirdcng command line: a command word, then that command's paths and
// options in any order. Short options bundle ("-fv"), a value may follow its
// option or be joined to it ("-tTAG", "--tag=TAG"), and "--" ends the options,
// so that a path may begin with a dash.
#ifndef MIRDCNG_TOOLS_COMMAND_LINE_H_
#define MIRDCNG_TOOLS_COMMAND_LINE_H_

#include <string>

namespace mirdcng::tool {

// Arguments are a command's paths and options, as given.
struct Arguments {
  std::string source;       // SRC, or the FILE of cat and inspect
  std::string destination;  // DST; "-" is standard output for decrypt
  std::string tag;          // empty when none was given
  bool force = false;       // replace an existing DST
  bool verbose = false;     // say what was done, on standard error
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
