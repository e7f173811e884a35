// destfile=PATH: the snapshot written at VM death to a file the user names,
// such as target/ccover.snp under a build tool.
//
// The agent writes this run's snapshot (its local generateSnapshot, which is
// silent on success, so the program's standard output stays the program's:
// Surefire reads its forks' standard output). With append, an existing file is
// merged with the run by the merge that `snp merge` uses; without it, or when
// there is no file yet, the run replaces it.
//
// Several JVMs may end at once with the same PATH. Each takes an exclusive lock
// on PATH.lock (not PATH itself: the rename below replaces PATH's file, and a
// lock on the old one would no longer exclude anyone), writes into temporary
// files in PATH's folder, and renames the result over PATH. A JVM killed at
// any moment leaves PATH as it was or as it became, whole; the kernel drops
// its lock. Temporary files of a killed JVM are named after its process ID
// and are left behind.
//
// Failures (a folder that can't be made, a full disk, a lock not taken, an
// old file that is not a snapshot) leave PATH as it was and print one line on
// standard error naming PATH and the reason; the program's exit code is not
// touched.
//
// Thread-safety: called once, on the VM-death thread.
#ifndef CCOVER_RUNTIME_JVMTI_DESTFILE_H_
#define CCOVER_RUNTIME_JVMTI_DESTFILE_H_

#include <jni.h>

#include <string>

#include "runtime/jvmti/options.h"

namespace cci_jvmti {

// How long a JVM waits for the others' merges before giving up.
constexpr uint32_t kDestfileLockMillis = 120000;

// Writes the destfile; false after the line on standard error.
bool writeDestfile(JNIEnv* env, const Options& options);

// The folder part of path ("" for a bare name), split at '/' (and '\\' where
// the system takes it as a separator, which the caller says).
std::string folderOf(const std::string& path, bool backslashSeparates);

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_DESTFILE_H_
