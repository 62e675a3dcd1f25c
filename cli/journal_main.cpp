#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "cli/descriptor_output.h"
#include "cli/journal_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  veks::JournalCliEnvironment environment;
  environment.xdgDataHome = std::getenv("XDG_DATA_HOME");
  environment.home = std::getenv("HOME");
  environment.logname = std::getenv("LOGNAME");
  environment.user = std::getenv("USER");
  environment.accountName = [] {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found);
    return std::string(found != nullptr ? found->pw_name : "");
  };
  environment.now = [] {
    return static_cast<std::int64_t>(
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
  };
  environment.localTime = [](std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&time, &tm);
    return tm;
  };
  veks::DescriptorBuffer standardOutput(STDOUT_FILENO);
  std::ostream out(&standardOutput);
  return veks::RunJournalCli(args, environment, out, std::cerr);
}
