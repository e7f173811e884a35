// Child processes for the paths that end the process (fatal errors, exit), and
// the one runner of other programs (java, javac) that the tests start.
//
// A scenario is a function registered by name with CCOVER_CHILD_SCENARIO. The
// test binary's main runs `--ccover-child=NAME` instead of the tests; runChild
// re-executes the binary that way and captures the child's standard output and
// standard error separately and byte for byte. A scenario that returns ends the
// child with exit code 0 after flushing both streams; static destructors do not
// run (a JVM may still have threads inside the process).
//
// On Windows the child's standard streams are switched to binary mode, so that
// expected texts are the same bytes on every target.
//
// Thread-safety: runChild may be called from any thread; scenarios are
// registered during static initialisation.
#ifndef CCOVER_TESTS_HARNESS_CHILD_H_
#define CCOVER_TESTS_HARNESS_CHILD_H_

#include <string>
#include <vector>

struct ChildOptions {
  // > 0: a child still running after this many milliseconds is killed, and
  // the result says so. 0: wait for the child to end on its own.
  int killAfterMillis = 0;
  // "NAME=value" entries added to (or replacing those of) the environment.
  std::vector<std::string> extraEnv;
  // A child that runs this long without ending is killed as hung.
  int timeoutMillis = 120000;
  // The child's working directory; "" keeps ours.
  std::string cwd;
};

struct ChildResult {
  bool started = false;   // false: the child could not be created
  int exitCode = -1;      // the child's exit code; -1 when it ended by a signal
  int signal = 0;         // POSIX: the signal that ended it (0: none)
  bool killed = false;    // ended by runChild (kill-after delay or hang)
  bool timedOut = false;  // killed because it ran past timeoutMillis
  std::string out;        // everything written to standard output
  std::string err;        // everything written to standard error
};

using ChildScenario = void (*)();

// Returns true; used by CCOVER_CHILD_SCENARIO.
bool registerChildScenario(const char* name, ChildScenario scenario);

ChildResult runChild(const char* name, const ChildOptions& options = ChildOptions());

// Runs any program to its end the same way: argv[0] is the program's path.
ChildResult runProgram(const std::vector<std::string>& argv,
                       const ChildOptions& options = ChildOptions());

// For main: when argv names a scenario, runs it and ends the process (exit code
// 0 when it returns, 99 when no scenario has that name); otherwise returns.
void runChildScenarioIfRequested(int argc, char** argv);

// Whole output of a child for failure messages.
std::string describeChild(const ChildResult& result);

#define CCOVER_CHILD_SCENARIO(name)                                         \
  static void ccoverChildScenario_##name();                                 \
  [[maybe_unused]] static const bool ccoverChildScenarioRegistered_##name = \
      registerChildScenario(#name, &ccoverChildScenario_##name);            \
  static void ccoverChildScenario_##name()

// Implemented once per OS.
namespace child_internal {
std::string selfExecutable();
ChildResult spawn(const std::vector<std::string>& argv, const ChildOptions& options);
void prepareChildStreams();
}  // namespace child_internal

#endif  // CCOVER_TESTS_HARNESS_CHILD_H_
