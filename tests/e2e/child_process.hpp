// Runs the program under test as a child process and collects what it did.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct Launch {
  std::vector<std::string> argv;  // argv[0] is the file executed
  std::vector<std::string> env;   // the complete environment
  std::string cwd;
  std::optional<uid_t> run_as;        // uid (and gid) to switch to; needs root
  std::optional<gid_t> run_as_group;  // with run_as: this gid instead of the uid's number
  std::vector<gid_t> run_as_groups;   // with run_as: the supplementary groups (none by default)
  int timeout_seconds = 20;
  std::optional<rlim_t> address_space_limit;            // RLIMIT_AS of the child, in bytes
  std::optional<rlim_t> file_size_limit;                // RLIMIT_FSIZE of the child, in bytes
  std::optional<std::chrono::microseconds> kill_after;  // SIGKILL this long after the start
  // Runs on a thread of its own from the child's start, with its pid, while
  // the child's output is collected; joined once the child has ended.
  std::function<void(pid_t)> while_running;
};

struct Outcome {
  std::string out, err;
  int exit_code = -1;
  int signal = 0;  // killed by this signal
  bool timed_out = false;
  std::string launch_error;  // set when the program could not be started
};

Outcome run_child(const Launch& launch);

}  // namespace e2e
