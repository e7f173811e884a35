#include "tests/harness/child.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>

namespace {

constexpr const char* kChildFlag = "--ccover-child=";

std::map<std::string, ChildScenario>& scenarios() {
  static auto* registry = new std::map<std::string, ChildScenario>();
  return *registry;
}

}  // namespace

bool registerChildScenario(const char* name, ChildScenario scenario) {
  scenarios()[name] = scenario;
  return true;
}

ChildResult runChild(const char* name, const ChildOptions& options) {
  fflush(stdout);
  fflush(stderr);
  return child_internal::spawn({child_internal::selfExecutable(), std::string(kChildFlag) + name},
                               options);
}

ChildResult runProgram(const std::vector<std::string>& argv, const ChildOptions& options) {
  if (argv.empty()) return ChildResult();
  fflush(stdout);
  fflush(stderr);
  return child_internal::spawn(argv, options);
}

void runChildScenarioIfRequested(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], kChildFlag, strlen(kChildFlag)) != 0) continue;
    const char* name = argv[i] + strlen(kChildFlag);
    child_internal::prepareChildStreams();
    auto found = scenarios().find(name);
    if (found == scenarios().end()) {
      fprintf(stderr, "no child scenario named %s\n", name);
      fflush(stderr);
      _Exit(99);
    }
    found->second();
    fflush(stdout);
    fflush(stderr);
    _Exit(0);
  }
}

std::string describeChild(const ChildResult& result) {
  std::string text = "child ";
  text += result.started ? "ran" : "did not start";
  text += ", exit code " + std::to_string(result.exitCode);
  if (result.signal != 0) text += ", signal " + std::to_string(result.signal);
  if (result.killed) text += result.timedOut ? ", killed as hung" : ", killed after the delay";
  text += "\n--- stdout ---\n" + result.out + "\n--- stderr ---\n" + result.err;
  return text;
}
