// kestro: the command line. Each subcommand adds itself and its options (commands/), and runs
// once the line is parsed. Exit status: 0 success, 1 failure, 2 bad usage.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands/commands.h"
#include "support/errors.h"
#include "support/printable.h"
#include "support/standard_streams.h"
#include "transfer/interrupt.h"
#include "volume/diagnostics.h"
#include "volume/read_only_backend.h"

using namespace kestro::cli;

namespace {

int Run(int argc, char** argv) {
  CLI::App app{"Back up, restore and inspect volumes through the Kestro32 volume library.",
               "kestro"};
  app.require_subcommand(1, 1);
  app.fallthrough();  // --verbose after the subcommand too
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Show the library's diagnostic lines on standard error");
  std::vector<Command> commands;
  for (const AddCommand add : kCommands) commands.push_back(add(app));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "kestro: %s (see kestro --help)\n", Printable(e.what()).c_str());
    return kExitUsage;
  }

  const Command& chosen =
      *std::find_if(commands.begin(), commands.end(),
                    [](const Command& command) { return command.parser->parsed(); });
  InstallInterruptHandler();
  DiagnosticsBackend diagnostics(win32::DefaultBackend(), verbose);
  ReadOnlyBackend readOnly(win32::DefaultBackend(), verbose);
  win32::ScopedBackend useDiagnostics(chosen.writes ? diagnostics : readOnly);
  return chosen.run();
}

// Runs the command; every failure ends here as one line on standard error, after what the
// command printed.
int RunOrExplain(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: %s\n", Printable(failure.what()).c_str());
    return failure.status();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: %s\n", Printable(e.what()).c_str());
  } catch (...) {
    std::fflush(stdout);
    std::fprintf(stderr, "kestro: an unexpected failure\n");
  }
  return kExitFailure;
}

}  // namespace

// A command whose output could not be written has failed, whatever it did.
int main(int argc, char** argv) {
  return FinishStandardStreams(RunOrExplain(argc, argv));
}
