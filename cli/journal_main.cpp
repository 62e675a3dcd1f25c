#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/journal_cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const veks::JournalCliEnvironment environment{std::getenv("XDG_DATA_HOME"), std::getenv("HOME")};
  return veks::RunJournalCli(args, environment, std::cout, std::cerr);
}
