#include <stdio.h>
#include <stdlib.h>

#include "agent/handlers.h"
#include "agent/run_control.h"
#include "agent/state.h"
#include "runtime/cci.h"
#include "support/fatal.h"
#include "support/vector.h"

AgentState agentState;

namespace {

// cci may keep the table's address, so it is static storage.
void* handlerTable[kCciHandlerCount];

void reportRuntimeNotInitialized() {
  fputs("\nThe cci module found by the audit system was not initialized.\n", stderr);
  fputs("This error usually happens because:\n", stderr);
  fputs("- the virtual machine was started without the -Xruncci (or -Xrunqmi) option\nor\n", stderr);
  fprintf(stderr,
          "- libraries from different Quillmetry versions are used. If you have different\n"
          "  Quillmetry versions installed on your machine make sure your %s\n"
          "  is pointing to only one Quillmetry install and that you have not copied\n"
          "  Quillmetry libraries into any other directories included in your %s\n",
          "PATH", "PATH");
  fatalExitQuiet();
}

}  // namespace

jclass findGlobalClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  if (local == nullptr) fatalExit(stderr, "CCJNI: Cannot find class %s\nExiting...\n", name);
  return static_cast<jclass>(env->NewGlobalRef(local));
}

jmethodID findMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  jmethodID id = env->GetMethodID(cls, name, signature);
  if (id == nullptr) {
    fatalExit(stderr, "CCJNI: Cannot find method %s%s\nExiting...\n", name, signature);
  }
  return id;
}

jmethodID findStaticMethod(JNIEnv* env, jclass cls, const char* name, const char* signature) {
  jmethodID id = env->GetStaticMethodID(cls, name, signature);
  if (id == nullptr) {
    fatalExit(stderr, "CCJNI: Cannot find static method %s%s\nExiting...\n", name, signature);
  }
  return id;
}

void bindRuntimeState() {
  AgentState& s = agentState;
  s.idToCObjects = cciGetCObjectsByID();
  s.idToCObjectsLock = cciGetCObjectsByIDLock();
  s.unregisteredClasses = cciGetUnregisteredClasses();
  s.unregisteredClassesLock = cciGetUnregisteredClassesLock();
  s.updatedClasses = QMNewVector(100);
  s.updatedClassLock = qmiMonitorAllocate("updatedClassLock");
}

jint startAgent(JNIEnv* env, jboolean ignoreShutdown, jboolean snapshotAtExit) {
  AgentState& s = agentState;
  s.ignoreShutdown = static_cast<uint8_t>(ignoreShutdown);
  s.snapshotAtExit = static_cast<uint8_t>(snapshotAtExit);

  if (cciIsInitialized() == 0) reportRuntimeNotInitialized();
  jint build = cciBuildNumber();
  if (build != kAgentBuildNumber) {
    printf(
        "Quillmetry Code Coverage WARNING: cci.dll library version %d does not match ccover.dll "
        "version %d.\nMake sure your Path does not point to an old version of cci.dll\n",
        static_cast<int>(build), static_cast<int>(kAgentBuildNumber));
    fflush(stdout);
  }

  bindRuntimeState();

  s.hashtableClass = findGlobalClass(env, "netscape/util/Hashtable");
  s.vectorClass = findGlobalClass(env, "netscape/util/Vector");
  s.systemClass = findGlobalClass(env, "java/lang/System");
  s.hashtablePut = findMethod(env, s.hashtableClass, "put",
                              "(Ljava/lang/Object;Ljava/lang/Object;)Ljava/lang/Object;");
  s.vectorAddElement = findMethod(env, s.vectorClass, "addElement", "(Ljava/lang/Object;)V");
  s.vectorElementAt = findMethod(env, s.vectorClass, "elementAt", "(I)Ljava/lang/Object;");
  s.vectorCount = findMethod(env, s.vectorClass, "count", "()I");
  s.systemGetProperty = findStaticMethod(env, s.systemClass, "getProperty",
                                         "(Ljava/lang/String;)Ljava/lang/String;");

  handlerTable[kCciSlotEmpty0] = reinterpret_cast<void*>(&emptyHandler);
  handlerTable[kCciSlotLine] = reinterpret_cast<void*>(&lineHandler);
  handlerTable[kCciSlotEntryLine] = reinterpret_cast<void*>(&entryLineHandler);
  handlerTable[kCciSlotEntry] = reinterpret_cast<void*>(&entryHandler);
  handlerTable[kCciSlotClassName] = reinterpret_cast<void*>(&classNameHandler);
  handlerTable[kCciSlotEmpty5] = reinterpret_cast<void*>(&emptyHandler);
  handlerTable[kCciSlotThreadEnd] = reinterpret_cast<void*>(&threadEndHandler);
  handlerTable[kCciSlotShutdown] = reinterpret_cast<void*>(&shutdownHandler);
  return cciSetHandlers(env, handlerTable);
}
