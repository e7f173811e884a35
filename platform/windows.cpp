// The platform layer on Windows (32-bit, built with MinGW-w64).
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <wchar.h>

#include "cci/cci.h"
#include "platform/platform.h"
#include "support/modified_utf8.h"

static_assert(sizeof(wchar_t) == 2, "Windows wide characters are UTF-16 units");

namespace platform {

namespace {

bool copyText(const char* text, char* buf, size_t size) {
  size_t length = strlen(text);
  if (length >= size) return false;
  memcpy(buf, text, length + 1);
  return true;
}

// The UTF-16 form of a modified UTF-8 name, decoded unit by unit; from sMalloc.
wchar_t* wideName(const char* text) {
  wchar_t* wide = static_cast<wchar_t*>(sMalloc(sizeof(wchar_t) * (strlen(text) + 1)));
  if (wide != nullptr) mutf8::decodeUnits(text, wide);
  return wide;
}

}  // namespace

// The agent does not initialise the sockets library, so unless the process did,
// gethostname fails here (WSANOTINITIALISED) and the caller uses its fallback.
bool hostName(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  int length = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
  if (gethostname(buf, length) != 0) return false;
  buf[size - 1] = '\0';
  return true;
}

bool userName(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return false;
  DWORD length = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size);
  return GetUserNameA(buf, &length) != 0;
}

// ANSI code page text to UTF-16, then each unit to modified UTF-8.
char* toModifiedUtf8(const char* text) {
  if (text == nullptr) return nullptr;
  // n units, the terminator included.
  int n = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  if (n <= 0) {
    // Text the code page can't convert: an empty result rather than none, so
    // that the caller still has a text to store.
    char* empty = static_cast<char*>(sMalloc(1));
    if (empty != nullptr) empty[0] = '\0';
    return empty;
  }
  wchar_t* wide = static_cast<wchar_t*>(sMalloc(2 * static_cast<size_t>(n)));
  char* result = static_cast<char*>(sMalloc(6 * static_cast<size_t>(n)));
  if (wide == nullptr || result == nullptr) {
    if (wide != nullptr) sFree(wide);
    if (result != nullptr) sFree(result);
    return nullptr;
  }
  int converted = 0;
  if (n > 1) {
    converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, static_cast<int>(strlen(text)),
                                    wide, n - 1);
    if (converted < 0) converted = 0;
  }
  wide[converted] = 0;
  mutf8::encodeUnits(wide, static_cast<size_t>(converted), result);
  sFree(wide);
  return result;
}

FILE* openFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  wchar_t* widePath = wideName(path);
  wchar_t* wideMode = wideName(mode);
  FILE* file = nullptr;
  if (widePath != nullptr && wideMode != nullptr) file = _wfopen(widePath, wideMode);
  int error = errno;  // the caller reports why the open failed
  if (widePath != nullptr) sFree(widePath);
  if (wideMode != nullptr) sFree(wideMode);
  errno = error;
  return file;
}

FILE* createFile(const char* path) {
  if (path == nullptr) return nullptr;
  wchar_t* widePath = wideName(path);
  if (widePath == nullptr) return nullptr;
  int fd = _wopen(widePath, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
  int error = errno;
  FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (fd >= 0 && file == nullptr) {
    error = errno;
    _close(fd);
    _wremove(widePath);
  }
  sFree(widePath);
  errno = error;
  return file;
}

bool removeFile(const char* path) {
  if (path == nullptr) return false;
  wchar_t* widePath = wideName(path);
  if (widePath == nullptr) return false;
  bool removed = _wremove(widePath) == 0;
  sFree(widePath);
  return removed;
}

bool isRegularFile(FILE* file) {
  if (file == nullptr) return false;
  intptr_t handle = _get_osfhandle(_fileno(file));
  if (handle == -1) return false;
  return GetFileType(reinterpret_cast<HANDLE>(handle)) == FILE_TYPE_DISK;
}

size_t writeUnlocked(FILE* file, const void* data, size_t size) {
#if defined(_UCRT) || __MSVCRT_VERSION__ >= 0x800
  return _fwrite_nolock(data, 1, size, file);
#else
  // msvcrt.dll has no _fwrite_nolock. Its FILE is public, and the CRT's own
  // _fputc_nolock macro stores into the buffer through _ptr and _cnt without
  // the lock; do the same for a block that fits, and let fwrite handle the
  // rest (an empty or full buffer, a stream in error).
  if (size > 0 && file->_cnt >= 0 && static_cast<size_t>(file->_cnt) >= size) {
    memcpy(file->_ptr, data, size);
    file->_ptr += size;
    file->_cnt -= static_cast<int>(size);
    return size;
  }
  return fwrite(data, 1, size, file);
#endif
}

bool createTempFile(char* pathOut, size_t size) {
  if (pathOut == nullptr || size == 0) return false;
  wchar_t dir[MAX_PATH + 1];
  DWORD dirLength = GetTempPathW(MAX_PATH + 1, dir);
  if (dirLength == 0 || dirLength > MAX_PATH) return false;
  static volatile LONG counter = 0;
  wchar_t path[MAX_PATH + 64];
  for (int attempt = 0; attempt < 100; attempt++) {
    LONG serial = InterlockedIncrement(&counter);
    _snwprintf(path, sizeof path / sizeof path[0], L"%lsccover%lx_%lx_%lx.tmp", dir,
               static_cast<unsigned long>(GetCurrentProcessId()),
               static_cast<unsigned long>(GetTickCount()), static_cast<unsigned long>(serial));
    path[sizeof path / sizeof path[0] - 1] = 0;
    HANDLE handle =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    CloseHandle(handle);
    char encoded[3 * (MAX_PATH + 64) + 1];
    mutf8::encodeUnits(path, wcslen(path), encoded);
    if (copyText(encoded, pathOut, size)) return true;
    DeleteFileW(path);
    return false;
  }
  return false;
}

bool localTime(time_t t, struct tm* out) { return out != nullptr && localtime_s(out, &t) == 0; }

void sleepMillis(uint32_t millis) { Sleep(millis); }

char pathSeparator() { return '\\'; }

}  // namespace platform
