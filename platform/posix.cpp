// The platform layer on POSIX systems (Linux with glibc in practice).
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cci/cci.h"
#include "platform/platform.h"
#include "support/modified_utf8.h"

namespace platform {

namespace {

// Copies text into buf when it fits with its NUL.
bool copyText(const char* text, char* buf, size_t size) {
  size_t length = strlen(text);
  if (length >= size) return false;
  memcpy(buf, text, length + 1);
  return true;
}

}  // namespace

bool hostName(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  if (gethostname(buf, size) != 0) return false;
  // POSIX leaves a truncated name without its NUL.
  buf[size - 1] = '\0';
  return true;
}

bool userName(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  char scratch[16384];
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr ||
      found->pw_name == nullptr) {
    return false;
  }
  return copyText(found->pw_name, buf, size);
}

char* toModifiedUtf8(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = strlen(text);
  // No input sequence yields more units than it has bytes, nor more than twice
  // its bytes once encoded (a Latin-1 byte: 2; a 4-byte character: two 3-byte
  // surrogates), so 2 * length + 1 bytes always hold the result.
  uint16_t* units = static_cast<uint16_t*>(sMalloc(sizeof(uint16_t) * (length + 1)));
  char* result = static_cast<char*>(sMalloc(2 * length + 1));
  if (units == nullptr || result == nullptr) {
    if (units != nullptr) sFree(units);
    if (result != nullptr) sFree(result);
    return nullptr;
  }
  size_t count = mutf8::utf8ToUnits(text, units);
  mutf8::encodeUnits(units, count, result);
  sFree(units);
  return result;
}

namespace {

// A path in modified UTF-8 as the system's UTF-8 name: Java hands a character
// beyond 16 bits over as two 3-byte surrogates, which no file name holds.
// Short paths stay on the stack; errno is kept for the caller.
class SystemPath {
 public:
  explicit SystemPath(const char* path) {
    size_t size = strlen(path) + 1;
    text_ = size <= sizeof local_ ? local_ : static_cast<char*>(sMalloc(size));
    if (text_ != nullptr) mutf8::pathToUtf8(path, text_);
  }
  ~SystemPath() {
    if (text_ != nullptr && text_ != local_) {
      int error = errno;
      sFree(text_);
      errno = error;
    }
  }
  SystemPath(const SystemPath&) = delete;
  SystemPath& operator=(const SystemPath&) = delete;
  // Null when memory ran out (errno is then ENOMEM).
  const char* get() const {
    if (text_ == nullptr) errno = ENOMEM;
    return text_;
  }

 private:
  char local_[256];
  char* text_;
};

}  // namespace

FILE* openFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  SystemPath name(path);
  return name.get() != nullptr ? fopen(name.get(), mode) : nullptr;
}

FILE* createFile(const char* path) {
  if (path == nullptr) return nullptr;
  SystemPath name(path);
  if (name.get() == nullptr) return nullptr;
  // O_EXCL: an existing name, even a dangling link, is never opened or followed.
  int fd = open(name.get(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    int error = errno;
    close(fd);
    unlink(name.get());
    errno = error;
  }
  return file;
}

bool removeFile(const char* path) {
  if (path == nullptr) return false;
  SystemPath name(path);
  return name.get() != nullptr && remove(name.get()) == 0;
}

bool isRegularFile(FILE* file) {
  if (file == nullptr) return false;
  struct stat info;
  return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

size_t writeUnlocked(FILE* file, const void* data, size_t size) {
#if defined(__GLIBC__)
  // Tags and integer payloads are 1 to 4 bytes: glibc's putc_unlocked stores
  // straight into the buffer, without the call fwrite costs.
  if (size <= 8) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; i++) {
      if (putc_unlocked(bytes[i], file) == EOF) return i;
    }
    return size;
  }
  return fwrite_unlocked(data, 1, size, file);
#else
  return fwrite(data, 1, size, file);
#endif
}

bool createTempFile(char* pathOut, size_t size) {
  if (pathOut == nullptr || size == 0) return false;
  const char* dir = getenv("TMPDIR");
  if (dir == nullptr || dir[0] == '\0') dir = "/tmp";
  int length = snprintf(pathOut, size, "%s/ccoverXXXXXX", dir);
  if (length < 0 || static_cast<size_t>(length) >= size) return false;
  int fd = mkstemp(pathOut);  // O_CREAT | O_EXCL: never an existing name or link
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool localTime(time_t t, struct tm* out) {
  return out != nullptr && localtime_r(&t, out) != nullptr;
}

void sleepMillis(uint32_t millis) {
  struct timespec rest;
  rest.tv_sec = static_cast<time_t>(millis / 1000);
  rest.tv_nsec = static_cast<long>(millis % 1000) * 1000000L;
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

char pathSeparator() { return '/'; }

}  // namespace platform
