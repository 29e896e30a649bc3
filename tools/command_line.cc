#include "tools/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/command_forms.h"
#include "tools/commands.h"
#include "tools/help_texts.h"

#ifndef MIRDCNG_VERSION
#define MIRDCNG_VERSION "unknown"
#endif

namespace mirdcng::tool {
namespace {

// One subcommand, as the parser knows it, and the command that runs it.
struct Subcommand {
  CLI::App* app;
  int (*run)(const Arguments&);
};

// Formatter writes the usage lines of the commands that have several forms.
class Formatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App* app, std::string name) const override {
    static constexpr std::pair<const char*, const char*> kUsages[] = {
        {"encrypt", help::kEncryptUsage},
        {"decrypt", help::kDecryptUsage},
        {"verify", help::kVerifyUsage},
        {"cat", "mirdcng cat [OPTIONS] FILE\n"},
        {"inspect", "mirdcng inspect [OPTIONS] FILE\n"},
        {"help", "mirdcng help [COMMAND]\n"}};
    for (const auto& [command, usage] : kUsages) {
      if (app->get_name() == command) {
        return get_label("Usage") + ": " + usage;
      }
    }
    return CLI::Formatter::make_usage(app, std::move(name));
  }
};

CLI::App* AddCommand(CLI::App& parent, const char* name, const char* summary,
                     const std::string& notes) {
  CLI::App* command = parent.add_subcommand(name, summary);
  command->group("Commands");
  command->footer(notes + "\n" + help::kExitStatuses);
  return command;
}

void AddVerbose(CLI::App& command, Arguments& arguments) {
  command.add_flag("-v,--verbose", arguments.verbose,
                   "say what was done, naming the paths, on standard error");
}

void AddTag(CLI::App& command, Arguments& arguments, const char* what) {
  command.add_option("-t,--tag", arguments.tag, what)->type_name("TAG");
  command
      .add_option("--tag-file", arguments.tag_file,
                  "read the tag from FILE (- for standard input)")
      ->type_name("FILE");
}

// AddPaths adds the PATHs of the forms that work on many files, and their
// options: -r, -j, --memory and the progress line.
void AddPaths(CLI::App& command, Arguments& arguments, RawValues& raw, const char* what) {
  command.add_option("PATH", arguments.paths, what)->type_name("");
  command
      .add_flag("-r,--recursive", arguments.recursive, "work on the files of folders too")
      ->group("Many files");
  command
      .add_option("-j,--jobs", raw.jobs,
                  "work on N files at once (default: one per processor)")
      ->type_name("N")
      ->group("Many files");
  command
      .add_option("--memory", raw.memory,
                  "hold at most SIZE bytes of files at once (512M, 2G...)")
      ->type_name("SIZE")
      ->group("Many files");
  command.add_flag("--progress", raw.progress, "draw a progress line on standard error")
      ->group("Many files");
  command
      .add_flag("--no-progress", raw.no_progress,
                "draw none (default: a line when on a terminal)")
      ->group("Many files");
}

// AddFileCommand adds encrypt or decrypt: SRC DST, or PATHs with -i or -o.
CLI::App* AddFileCommand(CLI::App& app, Arguments& arguments, RawValues& raw,
                         const char* name, const char* summary, const char* notes) {
  CLI::App* command =
      AddCommand(app, name, summary,
                 std::string(notes) + "\n" + help::kManyFiles + "\n" + help::kTagSources);
  command->add_flag("-f,--force", arguments.force, "replace an existing destination");
  AddVerbose(*command, arguments);
  command->add_flag("--host-names", arguments.host_names,
                    "apply the .ebs naming rule to SRC and DST, as hosts do");
  command
      ->add_flag("-i,--in-place", arguments.in_place, "replace each file by its result")
      ->group("Many files");
  command
      ->add_option("-o,--output-dir", arguments.output_dir,
                   "write the results under DIR, in the shape below each PATH")
      ->type_name("DIR")
      ->group("Many files");
  AddPaths(*command, arguments, raw, "SRC and DST, or the files and folders to work on");
  return command;
}

// DefineCommands adds every subcommand to `app`, each writing into `arguments`.
std::vector<Subcommand> DefineCommands(CLI::App& app, Arguments& arguments,
                                       RawValues& raw) {
  CLI::App* encrypt =
      AddFileCommand(app, arguments, raw, "encrypt",
                     "seal SRC into DST, or files in place (-i) or into a folder (-o)",
                     help::kEncryptNotes);
  AddTag(*encrypt, arguments, "a text of at most 255 bytes to seal inside");

  CLI::App* decrypt =
      AddFileCommand(app, arguments, raw, "decrypt",
                     "unseal SRC into DST, or files as encrypt does; TAG must match",
                     help::kDecryptNotes);
  AddTag(*decrypt, arguments, "the tag sealed inside (none: empty)");

  CLI::App* verify =
      AddCommand(app, "verify", "check that files are whole encrypted files that decrypt",
                 std::string(help::kVerifyNotes) + "\n" + help::kTagSources);
  AddPaths(*verify, arguments, raw, "the files and folders to check");
  AddTag(*verify, arguments, "check that the files were sealed with TAG");
  AddVerbose(*verify, arguments);

  CLI::App* cat =
      AddCommand(app, "cat", "write FILE to standard output as the framework reads it",
                 help::kCatNotes);
  cat->add_option("FILE", arguments.source, "the file to write")->type_name("");
  AddVerbose(*cat, arguments);

  CLI::App* inspect =
      AddCommand(app, "inspect", "describe FILE's layout without decrypting it",
                 help::kInspectNotes);
  inspect->add_option("FILE", arguments.source, "the file to describe")->type_name("");
  inspect->add_flag("--json", arguments.json,
                    "write the description as JSON, for scripts");
  return {{encrypt, RunEncrypt},
          {decrypt, RunDecrypt},
          {verify, RunVerify},
          {cat, RunCat},
          {inspect, RunInspect}};
}

// Builds the parser: the program's own options and its subcommands. `help`
// takes the name of the command whose help it shows.
void DefineProgram(CLI::App& app) {
  app.formatter(std::make_shared<Formatter>());
  app.allow_windows_style_options(false);  // "/tmp/x" is a path, not an option
  app.set_help_flag("-h,--help", "show this help, or a command's own");
  app.set_version_flag("-V,--version", "mirdcng " MIRDCNG_VERSION, "show the version");
  app.require_subcommand(1);
  app.footer(std::string(help::kSummary) + "\n" + help::kExitStatuses);
  app.get_formatter()->column_width(22);
  app.get_formatter()->label("REQUIRED", "");
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Positionals", "Arguments");
}

CLI::App* AddHelp(CLI::App& app, Arguments& arguments) {
  CLI::App* help = app.add_subcommand("help", "show the help of COMMAND, or this help");
  help->group("Commands");
  help->add_option("COMMAND", arguments.source, "a command")->type_name("");
  help->footer("COMMAND is one of encrypt, decrypt, verify, cat, inspect, help.\n");
  return help;
}

Invocation Usage(std::string text, int status) {
  Invocation invocation;
  invocation.text = std::move(text);
  invocation.status = status;
  return invocation;
}

// Wrong says what is wrong with the command line, and where to read more.
Invocation Wrong(const std::string& what, const std::string& command = "") {
  const std::string help =
      command.empty() ? "mirdcng --help" : "mirdcng " + command + " --help";
  return Usage("mirdcng: " + what + "; see " + help + "\n", kExitUsage);
}

// HelpOf is the help text of the command named `name` (help included), or
// what is wrong.
Invocation HelpOf(const CLI::App& app, const std::string& name) {
  if (name.empty()) {
    return Usage(app.help(), kExitOk);
  }
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->get_name() == name) {
      return Usage(command->help("mirdcng"), kExitOk);
    }
  }
  return Wrong("unknown command '" + name + "'");
}

// Extra words what the parser left over: an option that the command does not
// have, or a path too many.
std::string Extra(const std::string& word, const std::string& command) {
  if (word.size() > 1 && word[0] == '-') {
    return command.empty() ? "unknown option '" + word + "'"
                           : command + " has no option '" + word + "'";
  }
  return "unexpected argument '" + word + "'";
}

// ParserError words what the parser found wrong in the command's own terms.
// The parser names what it left over after a colon, the first of them last.
std::string ParserError(const CLI::ParseError& error, const std::string& command) {
  const std::string what = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr &&
      what.find(": ") != std::string::npos) {
    return Extra(what.substr(what.find_last_of(' ') + 1), command);
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    return "option " + what.substr(0, what.find(':')) + " needs a value";
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    return "no command given";
  }
  return "the command line is wrong: " + what;
}

// CommandWord is the first word of `argv` that names a command, or empty.
std::string CommandWord(int argc, const char* const* argv,
                        const std::vector<Subcommand>& commands) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "help" ||
        std::any_of(commands.begin(), commands.end(), [&](const Subcommand& command) {
          return command.app->get_name() == word;
        })) {
      return word;
    }
    if (word.empty() || word[0] != '-' || word == "--") {
      break;
    }
  }
  return "";
}

// AfterMark takes the words after "--" out of the parser's sight: they are
// paths whatever they look like. (The parser would end a command at "--"
// once its paths had their first word.) Returns how many words it leaves.
int AfterMark(int argc, const char* const* argv, std::vector<std::string>& after) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      after.assign(argv + i + 1, argv + argc);
      return i;
    }
  }
  return argc;
}

// TakePaths gives the command the words that followed "--". What is wrong,
// or empty.
std::string TakePaths(const std::string& command, std::vector<std::string> after,
                      Arguments& arguments) {
  if (command == "encrypt" || command == "decrypt" || command == "verify") {
    arguments.paths.insert(arguments.paths.end(), after.begin(), after.end());
    return "";
  }
  if (!after.empty() && arguments.source.empty()) {
    arguments.source = after.front();
    after.erase(after.begin());
  }
  return after.empty() ? "" : "unexpected argument '" + after.front() + "'";
}

}  // namespace

Invocation ParseCommandLine(int argc, const char* const* argv) {
  Invocation invocation;
  RawValues raw;
  CLI::App app{"Encrypts, decrypts and shows the framework's .ebs files.", "mirdcng"};
  DefineProgram(app);
  const std::vector<Subcommand> commands = DefineCommands(app, invocation.arguments, raw);
  AddHelp(app, invocation.arguments);
  AddVerbose(app, invocation.arguments);  // "mirdcng -v encrypt ..." as well
  if (argc < 2) {
    return Usage(app.help(), kExitUsage);
  }
  const std::string first = argv[1];
  const std::string word = CommandWord(argc, argv, commands);
  if (word.empty() && first.rfind('-', 0) != 0) {
    return Wrong("unknown command '" + first + "'");
  }
  std::vector<std::string> after;
  try {
    app.parse(AfterMark(argc, argv, after), argv);
  } catch (const CLI::CallForHelp&) {
    return HelpOf(app, word);
  } catch (const CLI::CallForVersion& version) {
    return Usage(std::string(version.what()) + "\n", kExitOk);
  } catch (const CLI::ParseError& error) {
    return Wrong(ParserError(error, word), word);
  }
  const CLI::App* given = app.get_subcommands().front();
  if (std::string wrong = TakePaths(word, std::move(after), invocation.arguments);
      !wrong.empty()) {
    return Wrong(wrong, word);
  }
  if (given->get_name() == "help") {
    return HelpOf(app, invocation.arguments.source);
  }
  raw.tag_given =
      given->get_option_no_throw("--tag") != nullptr && given->count("--tag") > 0;
  if (const std::string wrong = CheckForm(word, raw, invocation.arguments);
      !wrong.empty()) {
    return Wrong(wrong, word);
  }
  for (const Subcommand& command : commands) {
    if (command.app == given) {
      invocation.run = command.run;
    }
  }
  return invocation;
}

}  // namespace mirdcng::tool
