// Shared files on POSIX systems. The lock is an fcntl record lock on the whole
// file: the kernel drops it when the process ends, however it ends, so a JVM
// killed while it holds the lock never blocks the next one.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::string errnoText(int error) { return strerror(error); }

bool isFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool makeFolders(const std::string& folder, std::string* reason) {
  if (folder.empty() || isFolder(folder)) return true;
  size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!makeFolders(folder.substr(0, slash), reason)) return false;
  }
  // Another JVM may make the same folder at the same moment.
  if (mkdir(folder.c_str(), 0777) != 0 && !(errno == EEXIST && isFolder(folder))) {
    *reason =
        "cannot create folder " + folder + ": " +
        (errno == EEXIST ? std::string("a file of that name is in the way") : errnoText(errno));
    return false;
  }
  return true;
}

bool lockFile(const std::string& path, uint32_t timeoutMillis, FileLock* lock,
              std::string* reason) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    *reason = "cannot open the lock file " + path + ": " + errnoText(errno);
    return false;
  }
  struct flock request;
  memset(&request, 0, sizeof request);
  request.l_type = F_WRLCK;
  request.l_whence = SEEK_SET;
  uint32_t waited = 0;
  while (fcntl(fd, F_SETLK, &request) != 0) {
    int error = errno;
    if (error != EACCES && error != EAGAIN && error != EINTR) {
      *reason = "cannot lock " + path + ": " + errnoText(error);
      close(fd);
      return false;
    }
    if (waited >= timeoutMillis) {
      *reason = "cannot lock " + path + ": another process held it for " +
                std::to_string(timeoutMillis / 1000) + " s";
      close(fd);
      return false;
    }
    sleepMillis(10);
    waited += 10;
  }
  lock->handle = fd;
  return true;
}

void unlockFile(FileLock* lock) {
  if (lock->handle < 0) return;
  // Closing the descriptor drops its record locks.
  close(static_cast<int>(lock->handle));
  lock->handle = -1;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* reason) {
  if (rename(from.c_str(), to.c_str()) != 0) {
    *reason = "cannot rename " + from + " to " + to + ": " + errnoText(errno);
    return false;
  }
  return true;
}

bool syncFile(const std::string& path, std::string* reason) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 || fsync(fd) != 0) {
    *reason = "cannot flush " + path + ": " + errnoText(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  return true;
}

uint32_t processId() { return static_cast<uint32_t>(getpid()); }

}  // namespace platform
