// Child processes on Windows: CreateProcess of our own executable with one
// pipe per standard stream, each drained by its own thread.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <map>
#include <thread>

#include "tests/harness/child.h"

namespace child_internal {
namespace {

void drain(HANDLE pipe, std::string* sink) {
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
    sink->append(buffer, n);
  }
}

// Our environment with the extra entries replacing those of the same name, as
// a block of NUL-terminated entries ending in an empty one.
std::string environmentBlock(const std::vector<std::string>& extra) {
  std::map<std::string, std::string> byName;
  std::vector<std::string> order;
  auto add = [&](const std::string& entry) {
    size_t eq = entry.find('=', entry.empty() || entry[0] != '=' ? 0 : 1);
    std::string name = entry.substr(0, eq);
    if (byName.find(name) == byName.end()) order.push_back(name);
    byName[name] = entry;
  };
  char* strings = GetEnvironmentStringsA();
  for (char* e = strings; e != nullptr && *e != '\0'; e += strlen(e) + 1) add(e);
  if (strings != nullptr) FreeEnvironmentStringsA(strings);
  for (const std::string& entry : extra) add(entry);
  std::string block;
  for (const std::string& name : order) {
    block += byName[name];
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

}  // namespace

std::string selfExecutable() {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
  return n > 0 && n < sizeof(path) ? std::string(path, n) : std::string();
}

void prepareChildStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

ChildResult spawn(const std::vector<std::string>& argv, const ChildOptions& options) {
  ChildResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  // Arguments are quoted when they hold a space; the tests pass no quotes.
  std::string command;
  for (const std::string& arg : argv) {
    if (!command.empty()) command += ' ';
    command += arg.find(' ') != std::string::npos ? "\"" + arg + "\"" : arg;
  }
  std::string env = environmentBlock(options.extraEnv);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  BOOL created =
      CreateProcessA(argv[0].c_str(), &command[0], nullptr, nullptr, TRUE, 0, &env[0],
                     options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!created) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
  }
  result.started = true;
  std::thread outReader(drain, outRead, &result.out);
  std::thread errReader(drain, errRead, &result.err);

  DWORD limit = INFINITE;
  bool killing = options.killAfterMillis > 0;
  if (killing) {
    limit = static_cast<DWORD>(options.killAfterMillis);
  } else if (options.timeoutMillis > 0) {
    limit = static_cast<DWORD>(options.timeoutMillis);
  }
  if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
    TerminateProcess(process.hProcess, 137);
    WaitForSingleObject(process.hProcess, INFINITE);
    result.killed = true;
    result.timedOut = !killing;
  }
  outReader.join();
  errReader.join();
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  result.exitCode = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

}  // namespace child_internal
