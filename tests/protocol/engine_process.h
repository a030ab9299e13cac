// Runs the built pbrain-orvel as a child process: standard input from a
// file holding the given bytes, standard output collected, the exit code
// returned. POSIX systems go through the shell (killing an engine that hangs
// after 120 s); Windows starts the process directly with redirected handles
// and takes the engine from beside the test executable.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "input_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace orvel::testing {

struct EngineRun {
  int exit_code = -1;  // -1: did not start or did not exit normally
  std::string output;
};

#ifdef _WIN32

inline std::string engine_path() {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string path(self, n);
  const size_t slash = path.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "pbrain-orvel.exe";
}

inline EngineRun run_engine(const std::string& input) {
  EngineRun run;
  InputFile in_file(input);
  if (in_file.get() == nullptr) return run;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in = CreateFileA(in_file.path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out_read = nullptr, out_write = nullptr;
  if (in == INVALID_HANDLE_VALUE || !CreatePipe(&out_read, &out_write, &inherit, 0)) {
    ADD_FAILURE() << "cannot redirect the engine's input and output";
    return run;
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::string command = "\"" + engine_path() + "\"";
  const bool started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  CloseHandle(out_write);
  CloseHandle(in);
  if (!started) {
    CloseHandle(out_read);
    ADD_FAILURE() << "cannot start " << command;
    return run;
  }
  char buffer[4096];
  for (DWORD n; ReadFile(out_read, buffer, sizeof buffer, &n, nullptr) && n > 0;) run.output.append(buffer, n);
  CloseHandle(out_read);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) run.exit_code = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

#else

inline EngineRun run_engine(const std::string& input) {
  EngineRun run;
  InputFile in_file(input);
  if (in_file.get() == nullptr) return run;
  std::FILE* out = popen(("timeout -s KILL 120 " ORVEL_ENGINE_PATH " <" + in_file.path()).c_str(), "r");
  if (out == nullptr) {
    ADD_FAILURE() << "cannot start " ORVEL_ENGINE_PATH;
    return run;
  }
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) run.output.append(buffer, n);
  const int status = pclose(out);
  if (status != -1 && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
  return run;
}

#endif

}  // namespace orvel::testing
