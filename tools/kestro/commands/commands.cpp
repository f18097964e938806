#include "commands/commands.h"

#include <algorithm>

namespace kestro::cli {

int RunCommandLine(AddCommand add, const std::vector<std::string>& arguments) {
  CLI::App app;
  const Command command = add(app);
  std::vector<std::string> reversed{arguments.rbegin(), arguments.rend()};
  reversed.push_back(command.parser->get_name());
  app.parse(reversed);
  return command.run();
}

}  // namespace kestro::cli
