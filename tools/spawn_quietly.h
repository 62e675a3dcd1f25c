// Starts a program of the project as a process of its own, for tests and
// benchmarks that need a real process (to kill it, or to run two at once):
// its standard output thrown away, or on a pipe to watch its progress.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace veks {

namespace spawn_detail {

// `program` with `args` and the file actions given; the process id, or -1.
inline pid_t Spawn(const std::string& program, std::vector<std::string> args,
                   const posix_spawn_file_actions_t& actions) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  return pid;
}

}  // namespace spawn_detail

// The process id, or -1 when it could not start.
inline pid_t SpawnQuietly(const std::string& program, std::vector<std::string> args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const pid_t pid = spawn_detail::Spawn(program, std::move(args), actions);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// A process and the read end of a pipe that is its standard output.
struct PipedProcess {
  pid_t pid = -1;   // -1 when it could not start
  int output = -1;  // the caller closes it; -1 when the process did not start
};

// Starts the program with its standard output on a pipe. Only the child's
// standard output keeps the pipe's write end open, so the reader sees
// end-of-file once the child has ended.
inline PipedProcess SpawnWithPipedOutput(const std::string& program,
                                         std::vector<std::string> args) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The copy that dup2 makes has no close-on-exec; the pipe's own ends close at exec.
  posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
  const pid_t pid = spawn_detail::Spawn(program, std::move(args), actions);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  if (pid == -1) {
    close(ends[0]);
    return {};
  }
  return {pid, ends[0]};
}

}  // namespace veks
