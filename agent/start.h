// Start-up: binds the agent to cci and to the Java side, then hands cci the
// handler table, the last thing it does. What it sets is read by every other
// unit without a lock afterwards. Nothing is ever torn down, since a JVM may end
// while threads are still inside the agent.
#ifndef CCOVER_AGENT_START_H_
#define CCOVER_AGENT_START_H_

#include <jni.h>
#include <stdint.h>

// The agent's own build number, compared with cci's.
enum { kAgentBuildNumber = 2 };

// The two flags start is given: they enable the exit snapshot and make the
// dying thread wait for ever.
struct AgentFlags {
  uint8_t ignoreShutdown;
  uint8_t snapshotAtExit;
};

extern AgentFlags agentFlags;

// Runs the whole start-up and returns what cci's handler registration returns.
// Ends the process when cci is not running or a Java class or method is missing.
jint startAgent(JNIEnv* env, jboolean ignoreShutdown, jboolean snapshotAtExit);

#endif  // CCOVER_AGENT_START_H_
