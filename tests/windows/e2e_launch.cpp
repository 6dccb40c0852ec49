// Starts the Windows program for the end-to-end runner with exactly the
// command line and environment a case gives. Started directly under wine, a
// program would see wine's idea of the environment (its own USERNAME, TEMP,
// PATH and more, the case's variables of those names overridden); a process
// created from here gets the block it is handed.
//
// Usage: zubra32_e2e_launch REQUEST
// REQUEST is a file holding the program's path, a NUL, the whole command
// line, a NUL, then the environment block: each NAME=VALUE ended by a NUL, and
// one more NUL at the end. The program inherits this helper's standard handles
// and working directory; its exit code becomes this helper's. A failure of
// the helper itself is reported on standard error with exit code 125.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::string message = "zubra32_e2e_launch: " + what + " (error " + std::to_string(GetLastError()) + ")\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  ExitProcess(125);
}

std::string ReadWholeFile(const char* name) {
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(std::string("cannot open ") + name);
  std::string bytes;
  char buffer[65536];
  DWORD count = 0;
  while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) bytes.append(buffer, count);
  CloseHandle(file);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Fail("usage: zubra32_e2e_launch REQUEST");
  std::string request = ReadWholeFile(argv[1]);
  std::size_t programEnd = request.find('\0');
  std::size_t commandEnd = programEnd == std::string::npos ? programEnd : request.find('\0', programEnd + 1);
  if (commandEnd == std::string::npos) Fail("malformed request");
  std::string program = request.substr(0, programEnd);
  std::string commandLine = request.substr(programEnd + 1, commandEnd - programEnd - 1);
  // An empty block still needs its two closing NULs.
  std::string environment = request.substr(commandEnd + 1) + std::string(2, '\0');

  // The program goes when this helper goes, e.g. when the runner's time limit kills it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job != nullptr) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  // Wine now and then fails to start a process on a busy machine (error 1359):
  // a few more tries before giving up.
  PROCESS_INFORMATION process{};
  for (int attempt = 1;; ++attempt) {
    std::string commandCopy = commandLine;
    if (CreateProcessA(program.c_str(), commandCopy.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                       environment.data(), nullptr, &startup, &process)) {
      break;
    }
    DWORD error = GetLastError();
    if (attempt == 5 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) Fail("cannot start " + program);
    Sleep(200);
  }
  if (job != nullptr) AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 125;
  if (!GetExitCodeProcess(process.hProcess, &exitCode)) Fail("no exit code");
  ExitProcess(exitCode);
}
