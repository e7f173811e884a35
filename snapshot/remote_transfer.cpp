#include "snapshot/remote_transfer.h"

#include "support/java_objects.h"

namespace {

struct ReporterBinding {
  bool bound;
  jclass reporterClass;
  jmethodID openRemotely;
  jmethodID writeRemotely;
  jmethodID closeRemotely;
  jbyteArray chunk;  // global reference, kept for the process
};

struct RemoteTransfer {
  JNIEnv* env;
  jobject reporter;
  jobject stream;
  uint32_t totalSize;
  int32_t buffered;
  int32_t sent;
};

ReporterBinding binding;
RemoteTransfer transfer;

void bindCoverReporter(JNIEnv* env) {
  binding.reporterClass = findGlobalClass(env, "quorvatix/audit/CoverReporter");
  binding.openRemotely = findMethod(env, binding.reporterClass, "openRemotely",
                                    "(Ljava/lang/String;Ljava/io/OutputStream;)V");
  binding.writeRemotely =
      findMethod(env, binding.reporterClass, "writeRemotely", "([BIILjava/io/OutputStream;)V");
  binding.closeRemotely =
      findMethod(env, binding.reporterClass, "closeRemotely", "(Ljava/io/OutputStream;)V");
  binding.bound = true;
}

bool sendRemoteChunk() {
  if (transfer.totalSize == 0) transfer.totalSize = 1;
  transfer.sent += transfer.buffered;
  int32_t progress = remoteProgress(transfer.sent, transfer.totalSize);
  JNIEnv* env = transfer.env;
  env->CallVoidMethod(transfer.reporter, binding.writeRemotely, binding.chunk, transfer.buffered,
                      progress, transfer.stream);
  transfer.buffered = 0;
  return env->ExceptionCheck() == JNI_FALSE;
}

void clearTransfer() {
  transfer.reporter = nullptr;
  transfer.stream = nullptr;
}

}  // namespace

int32_t remoteProgress(int32_t sent, uint32_t totalSize) {
  return static_cast<int32_t>(static_cast<double>(sent) / static_cast<double>(totalSize) * 100.0);
}

bool openRemoteTransfer(JNIEnv* env, const char* fileName, jobject reporter, jobject stream,
                        uint32_t totalSize) {
  if (!binding.bound) bindCoverReporter(env);
  if (reporter == nullptr || !env->IsInstanceOf(reporter, binding.reporterClass)) return false;
  if (binding.chunk == nullptr) {
    jbyteArray local = QMAllocateByteArray(env, kRemoteChunkSize);
    binding.chunk = static_cast<jbyteArray>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
  }
  transfer.reporter = reporter;
  transfer.totalSize = totalSize;
  transfer.env = env;
  transfer.stream = stream;
  transfer.buffered = 0;
  transfer.sent = 0;
  jstring name = QMAllocateStringUTF(env, fileName);
  env->CallVoidMethod(reporter, binding.openRemotely, name, stream);
  env->DeleteLocalRef(name);
  if (env->ExceptionCheck()) {
    clearTransfer();
    return false;
  }
  return true;
}

bool writeRemoteTransfer(const uint8_t* block, int32_t length) {
  JNIEnv* env = transfer.env;
  while (length > 0) {
    int32_t room = kRemoteChunkSize - transfer.buffered;
    int32_t n = length < room ? length : room;
    env->SetByteArrayRegion(binding.chunk, transfer.buffered, n,
                            reinterpret_cast<const jbyte*>(block));
    transfer.buffered += n;
    if (transfer.buffered == kRemoteChunkSize && !sendRemoteChunk()) {
      clearTransfer();
      return false;
    }
    block += n;
    length -= n;
  }
  return true;
}

bool closeRemoteTransfer() {
  JNIEnv* env = transfer.env;
  bool ok = sendRemoteChunk();
  if (ok) {
    env->CallVoidMethod(transfer.reporter, binding.closeRemotely, transfer.stream);
    ok = env->ExceptionCheck() == JNI_FALSE;
  }
  clearTransfer();
  return ok;
}
