#include "runtime/jvmti/destfile.h"

#include <stdio.h>

#include <vector>

#include "cci/cci.h"
#include "merge/merge_files.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

bool fail(const std::string& path, const std::string& reason) {
  fprintf(stderr, "cci: no snapshot written to %s: %s\n", path.c_str(), reason.c_str());
  return false;
}

// quorvatix.audit.CoverMain through the system class loader: FindClass here
// would use the loader of the frame that ends the VM (System.exit's is the
// boot loader's), which does not see the class path.
jclass coverMainClass(JNIEnv* env) {
  LocalRef<jclass> loaderClass(env, env->FindClass("java/lang/ClassLoader"));
  if (!loaderClass) return nullptr;
  jmethodID systemLoader = env->GetStaticMethodID(loaderClass.get(), "getSystemClassLoader",
                                                  "()Ljava/lang/ClassLoader;");
  jmethodID loadClass =
      env->GetMethodID(loaderClass.get(), "loadClass", "(Ljava/lang/String;)Ljava/lang/Class;");
  if (env->ExceptionCheck() || systemLoader == nullptr || loadClass == nullptr) return nullptr;
  LocalRef<jobject> loader(env, env->CallStaticObjectMethod(loaderClass.get(), systemLoader));
  if (env->ExceptionCheck() || !loader) return nullptr;
  LocalRef<jstring> name(env, env->NewStringUTF("quorvatix.audit.CoverMain"));
  if (env->ExceptionCheck() || !name) return nullptr;
  jobject found = env->CallObjectMethod(loader.get(), loadClass, name.get());
  return env->ExceptionCheck() ? nullptr : static_cast<jclass>(found);
}

// The agent's CoverMain.generateSnapshot(file, null, comment, null, null, true).
bool agentSnapshot(JNIEnv* env, const std::string& file, const std::string& comment) {
  jclass main = coverMainClass(env);
  if (main == nullptr || env->ExceptionCheck()) {
    env->ExceptionClear();
    return false;
  }
  LocalRef<jclass> owner(env, main);
  jmethodID generate = env->GetStaticMethodID(
      main, "generateSnapshot",
      "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/Object;"
      "Ljava/io/OutputStream;Z)Z");
  if (generate == nullptr) {
    env->ExceptionClear();
    return false;
  }
  LocalRef<jstring> path(env, env->NewStringUTF(file.c_str()));
  if (env->ExceptionCheck() || !path) {
    env->ExceptionClear();
    return false;
  }
  LocalRef<jstring> text(env, comment.empty() ? nullptr : env->NewStringUTF(comment.c_str()));
  if (env->ExceptionCheck() || (!comment.empty() && !text)) {
    env->ExceptionClear();
    return false;
  }
  jboolean ok = env->CallStaticBooleanMethod(main, generate, path.get(), nullptr, text.get(),
                                             nullptr, nullptr, JNI_TRUE);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    return false;
  }
  return ok != JNI_FALSE;
}

// Under the lock: this run into a temporary file, merged with the old file
// when appending, renamed over PATH.
bool writeLocked(JNIEnv* env, const Options& options) {
  const std::string& dest = options.destfile;
  std::string stem = dest + "." + std::to_string(platform::processId());
  std::string run = stem + ".run.tmp";
  std::string merged = stem + ".merged.tmp";
  std::string reason;
  platform::removeFile(run.c_str());
  if (!agentSnapshot(env, run, options.sessionId)) {
    platform::removeFile(run.c_str());
    return fail(dest, "the coverage agent could not write " + run);
  }
  std::string result = run;
  if (options.append && platform::fileExists(dest.c_str())) {
    platform::removeFile(merged.c_str());
    std::vector<std::string> warnings;
    bool mergedOk = mergeSnapshotFiles(dest, run, merged, &warnings, &reason);
    for (const std::string& w : warnings) fprintf(stderr, "cci: %s: %s\n", dest.c_str(), w.c_str());
    if (!mergedOk) {
      platform::removeFile(run.c_str());
      platform::removeFile(merged.c_str());
      return fail(dest, reason);
    }
    platform::removeFile(run.c_str());
    result = merged;
  }
  if (!platform::syncFile(result, &reason) || !platform::replaceFile(result, dest, &reason)) {
    platform::removeFile(result.c_str());
    return fail(dest, reason);
  }
  return true;
}

}  // namespace

std::string folderOf(const std::string& path, bool backslashSeparates) {
  size_t cut = path.find_last_of(backslashSeparates ? "/\\" : "/");
  if (cut == std::string::npos) return std::string();
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

bool writeDestfile(JNIEnv* env, const Options& options) {
  const std::string& dest = options.destfile;
  // The agent's handlers are bound when its Java side started; without them
  // there is nothing counted to write.
  if (handlerAt(kCciSlotShutdown) == nullptr) {
    return fail(dest, "the coverage agent never started");
  }
  std::string reason;
  if (!platform::makeFolders(folderOf(dest, platform::pathSeparator() == '\\'), &reason)) {
    return fail(dest, reason);
  }
  platform::FileLock lock;
  if (!platform::lockFile(dest + ".lock", kDestfileLockMillis, &lock, &reason)) {
    return fail(dest, reason);
  }
  bool ok = writeLocked(env, options);
  platform::unlockFile(&lock);
  return ok;
}

}  // namespace cci_jvmti
