// Shared pieces of the end-to-end tests: the paths of the build's outputs, a
// fresh folder per run, running a java program under coverage in each of the
// two ways the runtime is started, and the sample programs' own counts.
//
// Thread-safety: tests run one at a time; nothing here is shared across threads.
#ifndef CCOVER_TESTS_E2E_E2E_SUPPORT_H_
#define CCOVER_TESTS_E2E_E2E_SUPPORT_H_

#include <string>
#include <vector>

#include "tests/e2e/coverage_snapshot.h"
#include "tests/e2e/process.h"

namespace e2e {

std::string javaPath();
std::string runtimeLibrary();  // .../jvmti/libcci.so
std::string runtimeDir();
std::string agentDir();  // folder of libccover.so
std::string ccoverJar();
std::string samplesJar();
std::string sourceDir();

// A new empty folder in this test process's folder under the system's
// temporary folder; all of them are removed at the end when every test passed.
std::string makeTempDir(const char* prefix);
// Writes the source of class `name` into dir and compiles it there for Java 11;
// false (with a test failure showing javac's output) when javac fails.
bool compileClass(const std::string& dir, const std::string& name, const std::string& source);
// The files of a folder whose names end with suffix.
std::vector<std::string> filesEndingWith(const std::string& dir, const char* suffix);

enum class StartMode {
  kAgentPath,  // java -agentpath:libcci.so=snapshotAtExit -cp app Main
  kLauncher,   // java -Xruncci -cp ccover.jar:app quorvatix.audit.CoverMain Main
};

struct CoverageRun {
  std::vector<std::string> argv;
  ProcessResult process;
  std::string dir;  // the working folder, where the snapshot lands
  std::vector<std::string> snapshots;
};

// Runs mainClass (dotted) with -Xcheck:jni -Xverify:all under coverage, in a
// fresh working folder. classPath: the program's class path. agentOptions are
// added after snapshotAtExit (agentpath) or given to -Xrun (launcher).
// javaCommand: another JDK's java and its options (default: the target's java).
CoverageRun runCovered(StartMode mode, const std::string& mainClass, const std::string& classPath,
                       const std::string& agentOptions = "",
                       const std::vector<std::string>& programArgs = {},
                       const std::vector<std::string>& javaCommand = {});

// Text of a failed run, for messages.
std::string describe(const CoverageRun& run);

// Lines that mean a JNI check, the verifier or the runtime complained.
std::vector<std::string> complaints(const ProcessResult& process);

// The samples' own counts (see samples/src/sample/Mark.java).
struct LineMark {
  std::string className;
  int line;
  long count;
};
struct EntryMark {
  std::string className;
  std::string method;
  std::string signature;
  long count;
};
void parseMarks(const std::string& out, std::vector<LineMark>* lines,
                std::vector<EntryMark>* entries);

// The line of a sample's source that holds text (first match), or -1.
int sourceLine(const std::string& file, const std::string& text);

}  // namespace e2e

#endif  // CCOVER_TESTS_E2E_E2E_SUPPORT_H_
