#include "tools/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <string>
#include <vector>

#include "tools/commands.h"

#ifndef MIRDCNG_VERSION
#define MIRDCNG_VERSION "unknown"
#endif

namespace mirdcng::tool {
namespace {

constexpr const char* kExitStatuses =
    "exit status: 0 done, 1 refused or failed, 2 bad command line,\n"
    "             3 the source cannot be opened, 5 wrong tag";

constexpr const char* kNamingRule =
    "SRC and DST follow the .ebs naming rule: \".ebs\" is appended unless the\n"
    "part after the last \".\" is exactly \"EBS\" (so \"notes.txt\" means\n"
    "\"notes.txt.ebs\", \"model.EBS\" itself). Messages name the paths used.\n";

constexpr const char* kEncryptNotes =
    "Refused: a SRC already encrypted (it begins with 0xDD), an empty SRC with\n"
    "no tag, a SRC of 2 GiB or more, an existing DST other than SRC (unless\n"
    "--force). DST is left as it was on every refusal and failure. DST may be\n"
    "SRC itself: the file is then replaced by its encrypted form.\n";

constexpr const char* kDecryptNotes =
    "A wrong tag exits with 5 and writes nothing. DST \"-\" is standard output.\n"
    "An existing DST other than SRC is replaced only with --force.\n";

constexpr const char* kCatNotes =
    "FILE is written the way the framework reads it: an encrypted file's\n"
    "plaintext (no tag needed), any other file byte for byte. A file with the\n"
    "whole layout of an encrypted one (0xDD, the 18-byte header, a ciphertext\n"
    "of whole 16-byte blocks) that cannot be decrypted is an error, never\n"
    "printed. A pipe or FIFO (/dev/stdin) is printed as it comes, never\n"
    "decrypted; a FIFO nobody writes to, a device, a socket or a folder is\n"
    "refused. FILE is taken as it is, with no naming rule.\n";

constexpr const char* kInspectNotes =
    "Reads only the 18-byte header and the size; never decrypts. FILE must be\n"
    "a regular file, and is taken as it is, with no naming rule.\n";

constexpr const char* kSummary =
    "Files are encrypted with AES-128-CBC under a key built into the library:\n"
    "this hides their content from those without the library, nothing more.\n";

// One subcommand, as the parser knows it, and the command that runs it.
struct Subcommand {
  CLI::App* app;
  int (*run)(const Arguments&);
};

CLI::App* AddCommand(CLI::App& parent, const char* name, const char* summary,
                     const std::string& notes) {
  CLI::App* command = parent.add_subcommand(name, summary);
  command->group("Commands");
  command->footer(notes + "\n" + kExitStatuses);
  return command;
}

void AddPath(CLI::App& command, const char* name, std::string& path, const char* what) {
  command.add_option(name, path, what)->required()->type_name("");
}

void AddTag(CLI::App& command, Arguments& arguments, const char* what) {
  command.add_option("-t,--tag", arguments.tag, what)->type_name("TAG");
}

void AddForce(CLI::App& command, Arguments& arguments) {
  command.add_flag("-f,--force", arguments.force, "replace an existing DST");
}

void AddVerbose(CLI::App& command, Arguments& arguments) {
  command.add_flag("-v,--verbose", arguments.verbose,
                   "say what was done, on standard error");
}

// DefineCommands adds every subcommand to `app`, each writing into `arguments`.
std::vector<Subcommand> DefineCommands(CLI::App& app, Arguments& arguments) {
  CLI::App* encrypt =
      AddCommand(app, "encrypt", "encrypt SRC into DST, sealing TAG inside",
                 std::string(kEncryptNotes) + "\n" + kNamingRule);
  AddPath(*encrypt, "SRC", arguments.source, "the file to encrypt");
  AddPath(*encrypt, "DST", arguments.destination, "where its encrypted form goes");
  AddTag(*encrypt, arguments, "a text of at most 255 bytes to seal inside");

  CLI::App* decrypt =
      AddCommand(app, "decrypt", "decrypt SRC into DST; TAG must be the one sealed",
                 std::string(kDecryptNotes) + "\n" + kNamingRule);
  AddPath(*decrypt, "SRC", arguments.source, "the encrypted file");
  AddPath(*decrypt, "DST", arguments.destination,
          "where its plaintext goes; - for standard output");
  AddTag(*decrypt, arguments, "the tag sealed inside SRC (none: empty)");
  for (CLI::App* command : {encrypt, decrypt}) {
    AddForce(*command, arguments);
    AddVerbose(*command, arguments);
  }

  CLI::App* cat = AddCommand(
      app, "cat", "write FILE to standard output as the framework reads it", kCatNotes);
  AddPath(*cat, "FILE", arguments.source, "the file to write");
  AddVerbose(*cat, arguments);

  CLI::App* inspect = AddCommand(
      app, "inspect", "describe FILE's layout without decrypting it", kInspectNotes);
  AddPath(*inspect, "FILE", arguments.source, "the file to describe");
  return {
      {encrypt, RunEncrypt}, {decrypt, RunDecrypt}, {cat, RunCat}, {inspect, RunInspect}};
}

// Builds the parser: the program's own options and its subcommands. `help`
// takes the name of the command whose help it shows.
void DefineProgram(CLI::App& app) {
  app.allow_windows_style_options(false);  // "/tmp/x" is a path, not an option
  app.set_help_flag("-h,--help", "show this help, or a command's own");
  app.set_version_flag("-V,--version", "mirdcng " MIRDCNG_VERSION, "show the version");
  app.require_subcommand(1);
  app.footer(std::string(kNamingRule) + "\n" + kSummary + "\n" + kExitStatuses);
  app.get_formatter()->column_width(22);
  app.get_formatter()->label("REQUIRED", "");
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Positionals", "Arguments");
}

// AddHelp adds `help [COMMAND]`, last in the list of commands.
void AddHelp(CLI::App& app, Arguments& arguments) {
  CLI::App* help = app.add_subcommand("help", "show the help of COMMAND, or this help");
  help->group("Commands");
  help->add_option("COMMAND", arguments.source, "a command")->type_name("");
}

Invocation Usage(std::string text, int status) {
  Invocation invocation;
  invocation.text = std::move(text);
  invocation.status = status;
  return invocation;
}

Invocation Wrong(const std::string& what) {
  return Usage("mirdcng: " + what + "; see mirdcng --help\n", kExitUsage);
}

// HelpOf is the help text of the command named `name`, or what is wrong.
Invocation HelpOf(const CLI::App& app, const std::vector<Subcommand>& commands,
                  const std::string& name) {
  if (name.empty()) {
    return Usage(app.help(), kExitOk);
  }
  for (const Subcommand& command : commands) {
    if (command.app->get_name() == name) {
      return Usage(command.app->help("mirdcng"), kExitOk);
    }
  }
  return Wrong("unknown command '" + name + "'");
}

}  // namespace

Invocation ParseCommandLine(int argc, const char* const* argv) {
  Invocation invocation;
  CLI::App app{"Encrypts, decrypts and shows the framework's .ebs files.", "mirdcng"};
  DefineProgram(app);
  const std::vector<Subcommand> commands = DefineCommands(app, invocation.arguments);
  AddHelp(app, invocation.arguments);
  AddVerbose(app, invocation.arguments);  // "mirdcng -v encrypt ..." as well
  if (argc < 2) {
    return Usage(app.help(), kExitUsage);
  }
  const std::string first = argv[1];
  const bool known =
      first == "help" ||
      std::any_of(commands.begin(), commands.end(), [&](const Subcommand& command) {
        return command.app->get_name() == first;
      });
  if (!known && first.rfind('-', 0) != 0) {
    return Wrong("unknown command '" + first + "'");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    const auto given = app.get_subcommands();
    return given.empty() ? HelpOf(app, commands, "")
                         : HelpOf(app, commands, given.front()->get_name());
  } catch (const CLI::CallForVersion& version) {
    return Usage(std::string(version.what()) + "\n", kExitOk);
  } catch (const CLI::ParseError& error) {
    return Wrong(error.what());
  }
  const CLI::App* given = app.get_subcommands().front();
  if (given->get_name() == "help") {
    return HelpOf(app, commands, invocation.arguments.source);
  }
  for (const Subcommand& command : commands) {
    if (command.app == given) {
      invocation.run = command.run;
    }
  }
  return invocation;
}

}  // namespace mirdcng::tool
