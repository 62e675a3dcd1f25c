#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/descriptor_output.h"
#include "cli/journal_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const veks::JournalCliEnvironment environment{std::getenv("XDG_DATA_HOME"), std::getenv("HOME")};
  veks::DescriptorBuffer standardOutput(STDOUT_FILENO);
  std::ostream out(&standardOutput);
  return veks::RunJournalCli(args, environment, out, std::cerr);
}
