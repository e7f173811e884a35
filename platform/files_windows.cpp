// Shared files on Windows. Paths are UTF-8 and go to the wide calls; the lock
// is LockFileEx on the whole file, which Windows drops when the process ends.
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/platform.h"

namespace platform {
namespace {

std::wstring wide(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::string lastErrorText() {
  DWORD code = GetLastError();
  char buf[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == '.')) n--;
  return n > 0 ? std::string(buf, n) : "error " + std::to_string(code);
}

bool isFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool makeFolders(const std::string& folder, std::string* reason) {
  if (folder.empty() || isFolder(folder)) return true;
  size_t slash = folder.find_last_of("/\\");
  // Stop at a drive ("C:") or a root.
  if (slash != std::string::npos && slash > 0 && folder[slash - 1] != ':') {
    if (!makeFolders(folder.substr(0, slash), reason)) return false;
  }
  if (!CreateDirectoryW(wide(folder).c_str(), nullptr)) {
    DWORD code = GetLastError();
    std::string why = lastErrorText();
    // Another JVM may make the same folder at the same moment.
    if (code == ERROR_ALREADY_EXISTS && isFolder(folder)) return true;
    *reason =
        "cannot create folder " + folder + ": " +
        (code == ERROR_ALREADY_EXISTS ? std::string("a file of that name is in the way") : why);
    return false;
  }
  return true;
}

bool lockFile(const std::string& path, uint32_t timeoutMillis, FileLock* lock,
              std::string* reason) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *reason = "cannot open the lock file " + path + ": " + lastErrorText();
    return false;
  }
  uint32_t waited = 0;
  for (;;) {
    OVERLAPPED at;
    ZeroMemory(&at, sizeof at);
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &at)) {
      break;
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION) {
      *reason = "cannot lock " + path + ": " + lastErrorText();
      CloseHandle(h);
      return false;
    }
    if (waited >= timeoutMillis) {
      *reason = "cannot lock " + path + ": another process held it for " +
                std::to_string(timeoutMillis / 1000) + " s";
      CloseHandle(h);
      return false;
    }
    sleepMillis(10);
    waited += 10;
  }
  lock->handle = reinterpret_cast<intptr_t>(h);
  return true;
}

void unlockFile(FileLock* lock) {
  if (lock->handle == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(lock->handle);
  OVERLAPPED at;
  ZeroMemory(&at, sizeof at);
  UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &at);
  CloseHandle(h);
  lock->handle = -1;
}

bool replaceFile(const std::string& from, const std::string& to, std::string* reason) {
  if (!MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    *reason = "cannot rename " + from + " to " + to + ": " + lastErrorText();
    return false;
  }
  return true;
}

bool syncFile(const std::string& path, std::string* reason) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) {
    *reason = "cannot flush " + path + ": " + lastErrorText();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return false;
  }
  CloseHandle(h);
  return true;
}

uint32_t processId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

}  // namespace platform
