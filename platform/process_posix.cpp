// The process and its files on POSIX systems: kept apart from posix.cpp so that
// the agent, which needs none of it, links none of it.
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <linux/membarrier.h>
#include <locale.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/platform.h"

namespace platform {

std::string thisLibraryFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&thisLibraryFolder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path(info.dli_fname);
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string(".");
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool fileExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

char pathListSeparator() { return ':'; }

std::string libraryFileName(const char* base) { return std::string("lib") + base + ".so"; }

std::string localeCodeset() {
  // A locale object of its own: the process's locale stays as it is.
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  // The JVM stays in the C locale when the asked-for one can't be set up.
  if (locale == static_cast<locale_t>(nullptr)) return "ANSI_X3.4-1968";
  std::string codeset = nl_langinfo_l(CODESET, locale);
  freelocale(locale);
  return codeset;
}

bool enableProcessBarrier() {
  long commands = syscall(__NR_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
  if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(__NR_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
}

void processBarrier() { syscall(__NR_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0); }

namespace {

void* runThread(void* run) {
  reinterpret_cast<void (*)()>(run)();
  return nullptr;
}

}  // namespace

bool startDetachedThread(void (*run)()) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  bool started = pthread_create(&thread, &attributes, runThread, reinterpret_cast<void*>(run)) == 0;
  pthread_attr_destroy(&attributes);
  return started;
}

bool stdoutTakesColour() {
  if (getenv("NO_COLOR") != nullptr) return false;
  const char* term = getenv("TERM");
  if (term != nullptr && strcmp(term, "dumb") == 0) return false;
  return isatty(STDOUT_FILENO) != 0;
}

FILE* createNewFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void binaryStdout() {}

}  // namespace platform
