// The mirdcng command's subcommands. Each takes its parsed arguments and
// returns the process's exit status. Success is silent but for the data that
// was asked for (cat, inspect, decrypt to "-"), which is all that standard
// output ever carries; messages go to standard error. A command that works
// on many files ends with the highest of their statuses.
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
int RunVerify(const Arguments& arguments);
int RunCat(const Arguments& arguments);
int RunInspect(const Arguments& arguments);

// The forms of encrypt and decrypt that work on many files (-i, -o).
int RunEncryptMany(const Arguments& arguments);
int RunDecryptMany(const Arguments& arguments);

// Prints `message` prefixed with the program's name to standard error.
void Complain(const std::string& message);

// Quoted returns `path` between single quotes, for messages.
std::string Quoted(const std::string& path);

// SystemReason is the system's text for the errno value `error`.
std::string SystemReason(int error);

// PrepareDataOutput readies standard output for bytes that must pass as they
// are (binary mode on Windows).
void PrepareDataOutput();

// OutputFailure complains that standard output cannot be written, with the
// system's reason `error` (0 when none is known), and returns kExitFailed.
int OutputFailure(int error);

// StandardOutputFailed flushes standard output and reports whether anything
// written to it was lost, after complaining through OutputFailure.
bool StandardOutputFailed();

}  // namespace mirdcng::tool

#endif  // MIRDCNG_TOOLS_COMMANDS_H_
