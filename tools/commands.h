// The mirdcng command's subcommands. Each takes its parsed arguments and
// returns the process's exit status.
#ifndef MIRDCNG_TOOLS_COMMANDS_H_
#define MIRDCNG_TOOLS_COMMANDS_H_

#include <string>

#include "tools/command_line.h"

namespace mirdcng::tool {

// Exit statuses, shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // refused, or did not work
inline constexpr int kExitUsage = 2;     // the command line is wrong
inline constexpr int kExitNoSource = 3;  // the source cannot be opened
inline constexpr int kExitWrongTag = 5;  // decrypt: the tag does not match

int RunEncrypt(const Arguments& arguments);
int RunDecrypt(const Arguments& arguments);
int RunCat(const Arguments& arguments);
int RunInspect(const Arguments& arguments);

// Prints `message` prefixed with the program's name to standard error.
void Complain(const std::string& message);

// Quoted returns `path` between single quotes, for messages.
std::string Quoted(const std::string& path);

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_COMMANDS_H_
