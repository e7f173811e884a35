// What the runtime checks at load, before the JVM goes on: the files it will
// need, and whether anything will ever write a snapshot. A missing file would
// otherwise surface much later as a NoClassDefFoundError or a
// ClassNotFoundException from the program's start, with nothing counted; so it
// stops the JVM at load with one line naming the file and the option.
//
// Thread-safety: pure functions of their arguments and the file system; called
// once, from Agent_OnLoad.
#ifndef CCOVER_RUNTIME_JVMTI_LOAD_CHECK_H_
#define CCOVER_RUNTIME_JVMTI_LOAD_CHECK_H_

#include <string>

#include "runtime/jvmti/options.h"

namespace cci_jvmti {

// Where the Java side that the runtime starts comes from: ccover.jar and the
// folder of the agent library. The options' values when given; otherwise
// beside the runtime (home), or ../java and ../bin as in the build tree.
struct JavaSidePaths {
  std::string ccoverJar;
  std::string ccoverLib;
};
JavaSidePaths javaSidePaths(const Options& options, const std::string& home);

// The jars the runtime loads from home: cci.jar (boot class path). Classes
// are instrumented natively (classfile/): no instrumenter's jars.
extern const char* const kHomeJars[1];

// "" when every file the runtime needs is there; otherwise the message (no
// "cci: " prefix, no newline) about the first one missing. launcherMode: the
// program runs through quorvatix.audit.CoverMain, which brings the Java side
// itself, so ccover.jar and the agent library are not checked.
std::string missingRuntimeFile(const Options& options, const std::string& home, bool launcherMode);

// "" when the JVM can read the paths of the Java side the runtime starts
// (ccover.jar on the class path, the agent library's folder on
// java.library.path); otherwise the message, without prefix or newline. The
// JVM turns both into Java strings through the encoding of the locale
// (codeset, as platform::localeCodeset gives it), and resolves them again
// before it opens them: under the C locale a folder named "caf\xc3\xa9" reads as
// "caf??", CoverMain is never found, and nothing would be counted.
std::string unreadableJavaSidePath(const Options& options, const std::string& home,
                                   bool launcherMode, const std::string& codeset);

// Whether text (bytes, as the file system has them) survives decoding in
// codeset: ASCII always; in UTF-8 only valid UTF-8; in ASCII nothing else. An
// empty codeset (not known) and other codesets pass.
bool codesetCanName(const std::string& codeset, const std::string& text);

// "" when something will write a snapshot: the launcher, the Java side that
// the runtime starts with snapshotAtExit, the live viewer (from which one is
// pulled), or a host (nostart). Otherwise the warning, without prefix or
// newline.
std::string noSnapshotWarning(const Options& options, bool launcherMode);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_LOAD_CHECK_H_
