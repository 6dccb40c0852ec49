#include "child_process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace e2e {
namespace {

std::vector<char*> c_strings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Only async-signal-safe calls between fork and exec; a failure is reported
// to the parent as an errno through `status`.
[[noreturn]] void exec_child(const Launch& l, char** argv, char** envp, int out, int err, int status) {
  int error_number = 0;
  int in = open("/dev/null", O_RDONLY);
  if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(l.cwd.c_str()) < 0)
    error_number = errno;
  if (!error_number && l.run_as &&
      (setgroups(l.run_as_groups.size(), l.run_as_groups.data()) < 0 ||
       setgid(l.run_as_group.value_or(*l.run_as)) < 0 || setuid(*l.run_as) < 0))
    error_number = errno;
  if (!error_number && l.file_size_limit) {
    const rlimit limit{*l.file_size_limit, *l.file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) < 0) error_number = errno;
  }
  if (!error_number && l.address_space_limit) {
    const rlimit limit{*l.address_space_limit, *l.address_space_limit};
    if (setrlimit(RLIMIT_AS, &limit) < 0) error_number = errno;
  }
  if (!error_number) {
    execve(argv[0], argv, envp);
    error_number = errno;
  }
  if (write(status, &error_number, sizeof error_number) < 0) _exit(126);
  _exit(127);
}

}  // namespace

Outcome run_child(const Launch& launch) {
  Outcome result;
  auto argv = c_strings(launch.argv);
  auto envp = c_strings(launch.env);
  int out[2], err[2], status[2];
  if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0 || pipe2(status, O_CLOEXEC) < 0) {
    result.launch_error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) exec_child(launch, argv.data(), envp.data(), out[1], err[1], status[1]);
  for (int fd : {out[1], err[1], status[1]}) close(fd);
  if (pid < 0) {
    result.launch_error = std::string("fork: ") + std::strerror(errno);
    for (int fd : {out[0], err[0], status[0]}) close(fd);
    return result;
  }

  std::thread beside;
  if (launch.while_running) beside = std::thread(launch.while_running, pid);
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(launch.timeout_seconds);
  auto ms_until = [](std::chrono::steady_clock::time_point moment) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
  };
  auto remaining_ms = [&] { return ms_until(deadline); };
  // An early kill (Launch::kill_after) is sent once, when its moment has come.
  bool kill_pending = launch.kill_after.has_value();
  const auto kill_at = start + launch.kill_after.value_or(std::chrono::microseconds(0));
  auto kill_if_due = [&] {
    if (kill_pending && std::chrono::steady_clock::now() >= kill_at) {
      kill(pid, SIGKILL);
      kill_pending = false;
    }
  };
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_pipes = 2;
  int wait_status = 0;
  bool reaped = false;
  // Reads whatever fd holds; false once it is at its end or failed.
  auto read_some = [&](int i) {
    char buffer[65536];
    ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) return true;
    close(fds[i].fd);
    fds[i].fd = -1;
    --open_pipes;
    return false;
  };
  while (open_pipes > 0 && !result.timed_out) {
    kill_if_due();
    int wait_ms = std::min(remaining_ms(), 50);
    if (kill_pending) wait_ms = std::min(wait_ms, ms_until(kill_at));
    int ready = poll(fds, 2, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (ready == 0 && remaining_ms() == 0)) {
      result.timed_out = true;
      break;
    }
    if (ready == 0) {
      // The program has ended but something it started (wine's own
      // services do) may hold the pipes open: take what is there and stop.
      if (waitpid(pid, &wait_status, WNOHANG) != pid) continue;
      reaped = true;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0) continue;
        fcntl(fds[i].fd, F_SETFL, O_NONBLOCK);
        while (fds[i].fd >= 0 && read_some(i)) {
        }
      }
      break;
    }
    for (int i = 0; i < 2; ++i)
      if (fds[i].fd >= 0 && fds[i].revents) read_some(i);
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);

  while (!reaped && waitpid(pid, &wait_status, WNOHANG) == 0) {
    kill_if_due();
    if (result.timed_out || remaining_ms() == 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &wait_status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (beside.joinable()) beside.join();
  int error_number = 0;
  if (read(status[0], &error_number, sizeof error_number) == sizeof error_number)
    result.launch_error = "cannot start " + launch.argv[0] + ": " + std::strerror(error_number);
  close(status[0]);
  if (WIFEXITED(wait_status)) result.exit_code = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status) && !result.timed_out) result.signal = WTERMSIG(wait_status);
  return result;
}

}  // namespace e2e
