#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zubra32::test {
namespace {

std::vector<char*> CStrings(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Only async-signal-safe calls between fork and exec; a failure is reported
// to the parent as an errno through `status`.
[[noreturn]] void ExecChild(const Launch& l, char** argv, char** envp, int out, int err, int status) {
  int errorNumber = 0;
  int in = open("/dev/null", O_RDONLY);
  if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(l.Cwd.c_str()) < 0)
    errorNumber = errno;
  if (!errorNumber && l.RunAs &&
      (setgroups(l.RunAsGroups.size(), l.RunAsGroups.data()) < 0 || setgid(l.RunAsGroup.value_or(*l.RunAs)) < 0 ||
       setuid(*l.RunAs) < 0))
    errorNumber = errno;
  if (!errorNumber && l.FileSizeLimit) {
    const rlimit limit{*l.FileSizeLimit, *l.FileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) < 0) errorNumber = errno;
  }
  if (!errorNumber && l.AddressSpaceLimit) {
    const rlimit limit{*l.AddressSpaceLimit, *l.AddressSpaceLimit};
    if (setrlimit(RLIMIT_AS, &limit) < 0) errorNumber = errno;
  }
  if (!errorNumber) {
    execve(argv[0], argv, envp);
    errorNumber = errno;
  }
  if (write(status, &errorNumber, sizeof errorNumber) < 0) _exit(126);
  _exit(127);
}

}  // namespace

Outcome RunChild(const Launch& launch) {
  Outcome result;
  auto argv = CStrings(launch.Argv);
  auto envp = CStrings(launch.Env);
  int out[2], err[2], status[2];
  if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0 || pipe2(status, O_CLOEXEC) < 0) {
    result.LaunchError = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) ExecChild(launch, argv.data(), envp.data(), out[1], err[1], status[1]);
  for (int fd : {out[1], err[1], status[1]}) close(fd);
  if (pid < 0) {
    result.LaunchError = std::string("fork: ") + std::strerror(errno);
    for (int fd : {out[0], err[0], status[0]}) close(fd);
    return result;
  }

  std::thread beside;
  if (launch.WhileRunning) beside = std::thread(launch.WhileRunning, pid);
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(launch.TimeoutSeconds);
  auto msUntil = [](std::chrono::steady_clock::time_point moment) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
  };
  auto remainingMs = [&] { return msUntil(deadline); };
  // An early kill (Launch::KillAfter) is sent once, when its moment has come.
  bool killPending = launch.KillAfter.has_value();
  const auto killAt = start + launch.KillAfter.value_or(std::chrono::microseconds(0));
  auto killIfDue = [&] {
    if (killPending && std::chrono::steady_clock::now() >= killAt) {
      kill(pid, SIGKILL);
      killPending = false;
    }
  };
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int openPipes = 2;
  int waitStatus = 0;
  bool reaped = false;
  // Reads whatever fd holds; false once it is at its end or failed.
  auto readSome = [&](int i) {
    char buffer[65536];
    ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) return true;
    close(fds[i].fd);
    fds[i].fd = -1;
    --openPipes;
    return false;
  };
  while (openPipes > 0 && !result.TimedOut) {
    killIfDue();
    int waitMs = std::min(remainingMs(), 50);
    if (killPending) waitMs = std::min(waitMs, msUntil(killAt));
    int ready = poll(fds, 2, waitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (ready == 0 && remainingMs() == 0)) {
      result.TimedOut = true;
      break;
    }
    if (ready == 0) {
      // The program has ended but something it started (wine's own
      // services do) may hold the pipes open: take what is there and stop.
      if (waitpid(pid, &waitStatus, WNOHANG) != pid) continue;
      reaped = true;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0) continue;
        fcntl(fds[i].fd, F_SETFL, O_NONBLOCK);
        while (fds[i].fd >= 0 && readSome(i)) {
        }
      }
      break;
    }
    for (int i = 0; i < 2; ++i)
      if (fds[i].fd >= 0 && fds[i].revents) readSome(i);
  }
  for (auto& fd : fds)
    if (fd.fd >= 0) close(fd.fd);

  while (!reaped && waitpid(pid, &waitStatus, WNOHANG) == 0) {
    killIfDue();
    if (result.TimedOut || remainingMs() == 0) {
      result.TimedOut = true;
      kill(pid, SIGKILL);
      waitpid(pid, &waitStatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (beside.joinable()) beside.join();
  int errorNumber = 0;
  if (read(status[0], &errorNumber, sizeof errorNumber) == sizeof errorNumber)
    result.LaunchError = "cannot start " + launch.Argv[0] + ": " + std::strerror(errorNumber);
  close(status[0]);
  if (WIFEXITED(waitStatus)) result.ExitCode = WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus) && !result.TimedOut) result.Signal = WTERMSIG(waitStatus);
  return result;
}

std::string Describe(const Outcome& outcome) {
  return "exit " + std::to_string(outcome.ExitCode) + ", signal " + std::to_string(outcome.Signal) +
         (outcome.TimedOut ? ", timed out" : "") + ", " + outcome.LaunchError + "\nstdout: " + outcome.Out +
         "\nstderr: " + outcome.Err;
}

std::string ProgramUnderTest() {
  const char* path = std::getenv("ZUBRA32_E2E_PROGRAM");
  return path != nullptr && *path != '\0' ? path : ZUBRA32_PROGRAM_PATH;
}

bool ThroughLauncher() {
  const char* launcher = std::getenv("ZUBRA32_E2E_LAUNCHER");
  return launcher != nullptr && *launcher != '\0';
}

Launch LaunchIn(const ScratchDir& scratch, const std::string& definitionFile) {
  Launch launch;
  launch.Argv = {ProgramUnderTest(), definitionFile};
  launch.Cwd = scratch.Dir();
  return launch;
}

}  // namespace zubra32::test
