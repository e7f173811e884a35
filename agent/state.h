// Process-wide state of the agent, set once by start and read by every other
// unit without a lock: start fills everything before it registers the handlers,
// which is the last thing it does. Nothing here is ever torn down, since a JVM
// may end while threads are still inside the agent.
#ifndef CCOVER_AGENT_STATE_H_
#define CCOVER_AGENT_STATE_H_

#include <jni.h>
#include <stdint.h>

struct QMHashTable;
struct QMVector;

// The agent's own build number, compared with cci's.
enum { kAgentBuildNumber = 2 };

struct AgentState {
  uint8_t ignoreShutdown;
  uint8_t snapshotAtExit;
  QMHashTable* idToCObjects;
  void* idToCObjectsLock;
  QMVector* unregisteredClasses;
  void* unregisteredClassesLock;
  QMVector* updatedClasses;  // class IDs whose figures are out of date
  void* updatedClassLock;
  jclass hashtableClass;
  jclass vectorClass;
  jclass systemClass;
  jmethodID hashtablePut;
  jmethodID vectorAddElement;
  jmethodID vectorElementAt;
  jmethodID vectorCount;
  jmethodID systemGetProperty;
};

extern AgentState agentState;

// Runs the whole start-up and returns what cci's handler registration returns.
// Ends the process when cci is not running or a Java class or method is missing.
jint startAgent(JNIEnv* env, jboolean ignoreShutdown, jboolean snapshotAtExit);

// The part of start-up that needs no JVM: takes over cci's table and list with
// their locks, and creates updatedClasses and updatedClassLock.
void bindRuntimeState();

// JNI lookups that end the process with a "CCJNI" message when they fail; the
// pending Java exception is left as it is.
jclass findGlobalClass(JNIEnv* env, const char* name);
jmethodID findMethod(JNIEnv* env, jclass cls, const char* name, const char* signature);
jmethodID findStaticMethod(JNIEnv* env, jclass cls, const char* name, const char* signature);

#endif  // CCOVER_AGENT_STATE_H_
