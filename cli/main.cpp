#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/descriptor_output.h"
#include "cli/report_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  veks::DescriptorBuffer standardOutput(STDOUT_FILENO);
  std::ostream out(&standardOutput);
  return veks::RunReportCli(args, out, std::cerr);
}
