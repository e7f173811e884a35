#include "tests/e2e/process.h"

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::vector<std::string>& env, int timeoutMillis) {
  ChildOptions options;
  options.cwd = cwd;
  options.extraEnv = env;
  options.timeoutMillis = timeoutMillis;
  return runProgram(argv, options);
}

std::string describeProcess(const std::vector<std::string>& argv, const ProcessResult& result) {
  std::string text = "command:";
  for (const std::string& a : argv) text += " " + a;
  text += "\nexit code: " + std::to_string(result.exitCode);
  if (result.timedOut) text += " (timed out)";
  text += "\n--- stdout ---\n" + result.out + "\n--- stderr ---\n" + result.err + "\n";
  return text;
}
