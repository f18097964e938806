// The subcommands of `kestro`, one file each. Each file declares its options on its own parser,
// parses them into its own option set and runs; every command returns the exit status or throws
// Failure.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace kestro::cli {

// A subcommand on the command line: its parser, and what runs it once the line is parsed.
struct Command {
  CLI::App* parser;
  std::function<int()> run;
  bool writes = false;  // writes to a volume, so it runs without the read-only backend
};

using AddCommand = Command (*)(CLI::App& app);

// Each adds its subcommand and its options to the command line.
Command AddList(CLI::App& app);
Command AddInfo(CLI::App& app);
Command AddBackup(CLI::App& app);
Command AddRestore(CLI::App& app);
Command AddVerify(CLI::App& app);
Command AddCat(CLI::App& app);
Command AddSnapshots(CLI::App& app);
Command AddMount(CLI::App& app);
Command AddDemo(CLI::App& app);

// The subcommands in the order --help lists them.
inline constexpr AddCommand kCommands[] = {AddList, AddInfo,  AddBackup,    AddRestore, AddVerify,
                                           AddCat,  AddMount, AddSnapshots, AddDemo};

// Runs one subcommand on arguments as a user would type them after its name (demo runs info,
// backup and verify so).
int RunCommandLine(AddCommand add, const std::vector<std::string>& arguments);

}  // namespace kestro::cli
