// Runs a program (a java process, javac) to its end, capturing its standard
// output and standard error separately, through the harness's one runner.
//
// Thread-safety: runProcess may be called from any thread.
#ifndef CCOVER_TESTS_E2E_PROCESS_H_
#define CCOVER_TESTS_E2E_PROCESS_H_

#include <string>
#include <vector>

#include "tests/harness/child.h"

using ProcessResult = ChildResult;

// argv[0] is the program's path. env: "NAME=value" entries added to (or
// replacing those of) this process's environment. cwd: "" keeps ours.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& cwd,
                         const std::vector<std::string>& env = {}, int timeoutMillis = 180000);

// Everything about a run, for failure messages.
std::string describeProcess(const std::vector<std::string>& argv, const ProcessResult& result);

#endif  // CCOVER_TESTS_E2E_PROCESS_H_
