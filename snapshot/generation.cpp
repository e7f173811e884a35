#include "snapshot/generation.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "cci/cci.h"
#include "model/update_cycle.h"
#include "platform/platform.h"
#include "snapshot/document.h"
#include "snapshot/remote_transfer.h"
#include "support/java_objects.h"

SystemProperties systemProperties;

void bindSystemProperties(JNIEnv* env) {
  systemProperties.systemClass = findGlobalClass(env, "java/lang/System");
  systemProperties.getProperty = findStaticMethod(env, systemProperties.systemClass, "getProperty",
                                                  "(Ljava/lang/String;)Ljava/lang/String;");
}

namespace {

const char kExitComment[] = "This snapshot was generated when the vm exited";

void printMessage(const char* text) {
  // These messages are formatted into a buffer first and printed with "%s\n",
  // so they end in two newlines.
  char message[kSnapshotNameBufferSize];
  snprintf(message, sizeof(message), "%s", text);
  fprintf(stderr, "%s\n", message);
}

bool shipRemotely(JNIEnv* env, const char* fileName, const char* tempPath, jobject reporter,
                  jobject stream, int32_t byteCount) {
  FILE* file = platform::openFile(tempPath, "rb");
  if (file == nullptr) {
    printMessage("CC_C : Cannot reopen temporary file for remote transfert.\n");
    return false;
  }
  bool ok = openRemoteTransfer(env, fileName, reporter, stream, static_cast<uint32_t>(byteCount));
  uint8_t* buffer = static_cast<uint8_t*>(sMalloc(kRemoteChunkSize));
  while (ok) {
    size_t n = fread(buffer, 1, kRemoteChunkSize, file);
    if (n == 0) break;
    ok = writeRemoteTransfer(buffer, static_cast<int32_t>(n));
  }
  sFree(buffer);
  fclose(file);
  if (!platform::removeFile(tempPath)) {
    fprintf(stderr, "CC_C : Could not remove the remporary file %s\n", tempPath);
  }
  return ok && closeRemoteTransfer();
}

}  // namespace

bool generateSnapshotFile(JNIEnv* env, const char* fileName, const char* sourcePath,
                          const char* comment, jobject reporter, jobject stream, bool local,
                          QMHashTable* table, void* tableLock) {
  char tempPath[kSnapshotNameBufferSize];
  const char* target = fileName;
  if (!local) {
    if (!platform::createTempFile(tempPath, sizeof(tempPath))) {
      printMessage(
          "Quillmetry Error: Snapshot generation failed, cannot create temporary file name.\n");
      return false;
    }
    target = tempPath;
  }
  int32_t byteCount = 0;
  qmiMonitorEnter(tableLock);
  bool written = writeSnapshotDocument(target, sourcePath, comment, table, &byteCount);
  qmiMonitorExit(tableLock);
  if (!written) {
    fputs("Quillmetry Error: An error occured while generating snapshot.\n", stderr);
    if (!local) platform::removeFile(tempPath);
    return false;
  }
  if (local) return true;
  return shipRemotely(env, fileName, tempPath, reporter, stream, byteCount);
}

jboolean generateSnapshot(JNIEnv* env, jstring file, jstring sourcePath, jstring comment,
                          jobject reporter, jobject stream, jboolean local) {
  if (file == nullptr) {
    fputs("Quillmetry Error: Snapshot generation failed, no file name was given.\n", stderr);
    return JNI_FALSE;
  }
  if (!local && reporter == nullptr) {
    fputs("Quillmetry Error: Snapshot generation failed, no reporter was given.\n", stderr);
    return JNI_FALSE;
  }
  freeClassList(updateTouchedClasses());
  JavaChars fileChars(env, file);
  JavaChars commentChars(env, comment);
  JavaChars sourceChars(env, sourcePath);
  if (fileChars.get() == nullptr) return JNI_FALSE;
  void* lock = cciGetCObjectsByIDLock();
  QMHashTable* table = cciGetCObjectsByID();
  bool ok = generateSnapshotFile(env, fileChars.get(), sourceChars.get(), commentChars.get(),
                                 reporter, stream, local != JNI_FALSE, table, lock);
  return ok ? JNI_TRUE : JNI_FALSE;
}

bool formatExitSnapshotPath(char* out, size_t size, const char* directory, const char* mainClass,
                            const struct tm& time) {
  char base[kSnapshotNameBufferSize];
  size_t length = strlen(mainClass);
  if (length >= sizeof(base)) return false;
  for (size_t i = 0; i <= length; i++) base[i] = mainClass[i] == '/' ? '_' : mainClass[i];
  int written;
  if (directory != nullptr) {
    written = snprintf(out, size, "%s%c%s_%d-%d-%d_%d-%d-%d.snp", directory,
                       platform::pathSeparator(), base, time.tm_mon + 1, time.tm_mday,
                       time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
  } else {
    written = snprintf(out, size, "%s_%d-%d-%d_%d-%d-%d.snp", base, time.tm_mon + 1, time.tm_mday,
                       time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec);
  }
  return written >= 0 && static_cast<size_t>(written) < size;
}

bool numberedSnapshotPath(char* out, size_t size, const char* path, uint32_t number) {
  static const char kSuffix[] = ".snp";
  const size_t suffixLength = sizeof kSuffix - 1;
  size_t length = strlen(path);
  size_t stem = length >= suffixLength && strcmp(path + length - suffixLength, kSuffix) == 0
                    ? length - suffixLength
                    : length;
  int written = snprintf(out, size, "%.*s-%u%s", static_cast<int>(stem), path,
                         static_cast<unsigned>(number), path + stem);
  return written >= 0 && static_cast<size_t>(written) < size;
}

FILE* createExitSnapshotFile(char* path, size_t size) {
  char base[kSnapshotNameBufferSize];
  if (strlen(path) >= sizeof base) return nullptr;
  strcpy(base, path);
  FILE* file = platform::createFile(path);
  // Runs ending in the same second share a name: the next free number is ours.
  for (uint32_t number = 2; file == nullptr && errno == EEXIST && number <= kMaxSnapshotNumber;
       number++) {
    if (!numberedSnapshotPath(path, size, base, number)) {
      strcpy(path, base);
      errno = ENAMETOOLONG;
      return nullptr;
    }
    file = platform::createFile(path);
  }
  if (file == nullptr) {
    int error = errno;
    strcpy(path, base);
    errno = error;
  }
  return file;
}

bool writeExitSnapshot(JNIEnv* env, const char* mainClass) {
  jstring key = QMAllocateStringUTF(env, "user.dir");
  jstring directory = static_cast<jstring>(
      env->CallStaticObjectMethod(systemProperties.systemClass, systemProperties.getProperty, key));
  env->DeleteLocalRef(key);
  if (env->ExceptionCheck()) {
    // A property lookup that throws leaves no directory: write into the current one.
    env->ExceptionClear();
    directory = nullptr;
  }
  time_t now = time(nullptr);
  struct tm local;
  memset(&local, 0, sizeof(local));
  platform::localTime(now, &local);
  char path[kSnapshotNameBufferSize];
  bool fits;
  {
    JavaChars directoryChars(env, directory);
    fits = formatExitSnapshotPath(path, sizeof(path), directoryChars.get(), mainClass, local);
    if (!fits) {
      // The standard message alone gave no reason; say which name was too long.
      const char* dir = directoryChars.get();
      fprintf(stderr,
              "Quillmetry Error: The exit snapshot's path is longer than %d bytes: "
              "working directory of %u bytes, main class name of %u bytes.\n",
              static_cast<int>(kSnapshotNameBufferSize - 1),
              static_cast<unsigned>(dir != nullptr ? strlen(dir) : 0),
              static_cast<unsigned>(strlen(mainClass)));
      fflush(stderr);
    }
  }
  if (directory != nullptr) env->DeleteLocalRef(directory);
  if (!fits) {
    fputs("Failed to generate a coverage snapshot.\n", stdout);
    fflush(stdout);
    return false;
  }
  freeClassList(updateTouchedClasses());
  // Created exclusively, so that another run's snapshot is never replaced.
  FILE* file = createExitSnapshotFile(path, sizeof(path));
  int openError = errno;
  printf("Generating snapshot in %s...\n", path);
  fflush(stdout);
  bool written = false;
  if (file == nullptr) {
    fprintf(stderr, "S_CC_C : Cannot open file %s for writing: %s\n", path,
            strerror(openError != 0 ? openError : EIO));
    fputs("Quillmetry Error: An error occured while generating snapshot.\n", stderr);
  } else {
    void* lock = cciGetCObjectsByIDLock();
    QMHashTable* table = cciGetCObjectsByID();
    qmiMonitorEnter(lock);
    written = writeNewSnapshotDocument(file, path, nullptr, kExitComment, table, nullptr);
    qmiMonitorExit(lock);
    if (!written) fputs("Quillmetry Error: An error occured while generating snapshot.\n", stderr);
  }
  if (!written) {
    fputs("Failed to generate a coverage snapshot.\n", stdout);
    fflush(stdout);
    return false;
  }
  return true;
}
