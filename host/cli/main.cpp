// vyn: a command-line host for the Vyn viewer plug-ins. It finds the
// plug-ins, asks them about files as a viewer does, and writes the two
// formats they read.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>

#include "host/cli/commands.h"
#include "host/cli/console_output.h"
#include "host/files/interrupt.h"
#include "host/files/system_path.h"
#include "host/host_error.h"
#include "host/version.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr int kStatusFileError = 1;
constexpr int kStatusUsage = 2;

constexpr char kDescription[] = R"(vyn: a command-line host for the Vyn viewer plug-ins.
It loads the archive plug-in (ARC archives) and the image plug-in (GP8 pictures) at run time and
uses them as a viewer does; it writes both formats itself.)";

constexpr char kFooter[] = R"(Plug-ins are looked for in the --plugins directory, else in the directory named by the
environment variable VYN_PLUGINS, else beside the vyn program.
Output files appear whole or not at all, and nothing else is written: each is made under a new
random name beside it and renamed; a link at its name is replaced, never written through. An
interrupt removes what was being written. -o - writes to standard output.
Exit status: 0 when everything worked, 1 when a file could not be read, recognised or written,
2 for bad usage. Run 'vyn COMMAND --help' for the details of a command.)";

// The first word of the command line that is not an option of vyn itself,
// when it names none of the commands; empty otherwise.
std::string UnknownCommand(CLI::App& app, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plugins") {
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') continue;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
      if (command->get_name() == arg) return "";
    }
    return arg;
  }
  return "";
}

std::string CommandNames(CLI::App& app) {
  std::string names;
  for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

// Standard output is a file like any other: a write that fails there fails
// the command. Called once the command is done, when everything it printed
// must be out; earlier_error is the system's reason for a write that failed
// during the command, 0 when none did.
bool StandardOutputWritten(int earlier_error) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno != 0 ? errno : earlier_error;
  if (flushed && std::ferror(stdout) == 0 && earlier_error == 0) return true;
  Complain("standard output: cannot write: " +
           std::string(error != 0 ? std::strerror(error) : "an earlier write failed"));
  return false;
}

}  // namespace

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> kCommands = {
      {"plugins", "Show each plug-in found: its path and its four information strings",
       DeclarePlugins},
      {"identify", "Say which plug-in recognises each file and what it is", DeclareIdentify},
      {"list", "List an archive's members: place, size, position and name", DeclareList},
      {"extract", "Extract members of an archive into a directory", DeclareExtract},
      {"convert", "Decode pictures through the image plug-in and write them as PNG or BMP",
       DeclareConvert},
      {"pack",
       "Write an archive of files, directories and lists, or like an existing archive (--like)",
       DeclarePack},
      {"update", "Replace, add or delete members of an archive, keeping everything else as it was",
       DeclareUpdate},
      {"encode",
       "Encode a picture as GP8, in its own palette, reduced to 256 colours or in another's",
       DeclareEncode},
      {"test", "Read every member and decode every picture, and name what is damaged",
       DeclareTest},
      {"view", "Show archives and pictures in a web browser, served from this machine only",
       DeclareView},
  };
  return kCommands;
}

int main(int system_argc, char** system_argv) {
#if defined(_WIN32)
  // The same bytes on every system: no newline translation.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  UseConsoleForText();
  InstallInterruptCleanup();
  // Arguments in UTF-8 on Windows too, whatever the ANSI code page holds.
  const std::vector<std::string> arguments = CommandLineArguments(system_argc, system_argv);
  std::vector<const char*> argument_pointers;
  for (const std::string& argument : arguments) argument_pointers.push_back(argument.c_str());
  const int argc = static_cast<int>(argument_pointers.size());
  const char* const* argv = argument_pointers.data();
  CLI::App app(kDescription, "vyn");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", "vyn " VYN_VERSION);
  CommandContext context;
  app.add_option("--plugins", context.plugin_option, "Directory that holds the plug-ins")
      ->type_name("DIR");
  std::vector<std::pair<CLI::App*, CommandRun>> commands;
  for (const CommandEntry& entry : Commands()) {
    CLI::App* command = app.add_subcommand(entry.name, entry.summary);
    commands.emplace_back(command, entry.declare(*command));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const std::string unknown = UnknownCommand(app, argc, argv);
    if (!unknown.empty()) {
      Complain("unknown command \"" + unknown + "\"; the commands are " + CommandNames(app) +
               " (see vyn --help)");
      return kStatusUsage;
    }
    // --help: its text went to standard output.
    if (app.exit(error) == 0) return StandardOutputWritten(0) ? 0 : kStatusFileError;
    return kStatusUsage;
  }

  // A failed write to standard output ends the command where it happens, so
  // a long listing does not go on into a full disk.
  std::cout.exceptions(std::ios::badbit);
  int status = kStatusUsage;
  int output_error = 0;
  try {
    for (const auto& [command, run] : commands) {
      if (*command) status = run(context);
    }
  } catch (const std::ios_base::failure&) {
    output_error = errno != 0 ? errno : EIO;
    std::cout.clear();
    status = kStatusFileError;  // said below
  } catch (const StandardOutputError& error) {
    output_error = error.system_error() != 0 ? error.system_error() : EIO;
    status = kStatusFileError;  // said below
  } catch (const UsageError& error) {
    Complain(error.what());
    status = kStatusUsage;
  } catch (const HostError& error) {
    Complain(error.what());
    status = kStatusFileError;
  } catch (const std::bad_alloc&) {
    Complain("out of memory");
    status = kStatusFileError;
  } catch (const std::exception& error) {
    Complain(error.what());
    status = kStatusFileError;
  }
  if (!StandardOutputWritten(output_error) && status == 0) status = kStatusFileError;
  return status;
}
