// Files shared between processes: folders made on demand, an exclusive lock
// held across processes, and a rename that replaces its target in one step.
// Used by the runtime's destfile (runtime/jvmti/destfile.h), where several
// JVMs end at once and write the same snapshot.
//
// Paths are the system's narrow form (UTF-8 on both halves). Failures return
// false with the system's reason in *reason, one line, no trailing newline.
//
// Thread-safety: every function may be called from any thread; a FileLock is
// used by one thread at a time.
#ifndef CCOVER_PLATFORM_FILES_H_
#define CCOVER_PLATFORM_FILES_H_

#include <stdint.h>

#include <string>

namespace platform {

// Creates folder and every missing parent; true when it exists as a folder
// afterwards (also when it already did).
bool makeFolders(const std::string& folder, std::string* reason);

// An exclusive lock on a file of its own (created when missing), held until
// unlockFile or the process's end, a kill -9 included: POSIX fcntl record
// locks, Windows LockFileEx. Blocks until the lock is free or timeoutMillis
// pass; false when the file can't be opened, the system refuses the lock, or
// the time runs out.
struct FileLock {
  intptr_t handle = -1;
};
bool lockFile(const std::string& path, uint32_t timeoutMillis, FileLock* lock, std::string* reason);
void unlockFile(FileLock* lock);

// Renames from over to in one step: a reader of `to` sees the old file or the
// new one, never a mixture. Both lie in the same folder.
bool replaceFile(const std::string& from, const std::string& to, std::string* reason);

// Flushes a written file to the disk, so that a rename over the old file
// never leaves a file that the system lost; false with the reason otherwise.
bool syncFile(const std::string& path, std::string* reason);

// The current process's ID, for names of temporary files.
uint32_t processId();

}  // namespace platform

#endif  // CCOVER_PLATFORM_FILES_H_
