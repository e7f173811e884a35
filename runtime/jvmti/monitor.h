// Re-entrant monitors of the JVMTI runtime, handed to the agent as qmi monitor
// handles and used by the runtime for its own table and list.
//
// Uncontended, entering costs one compare-and-swap on the owner word and
// leaving one release store; re-entry by the owner costs no read-modify-write.
// A contended entry spins briefly, then yields, then sleeps in short steps. A
// thread inside a monitor is always running native code (a probe, a handler or
// a JVMTI callback), which JVMTI suspension does not stop, so a suspended
// program never holds one of these monitors.
//
// Monitors are never freed: the agent may hold a handle until the process ends.
//
// Thread-safety: every function may be called from any thread.
#ifndef CCOVER_RUNTIME_JVMTI_MONITOR_H_
#define CCOVER_RUNTIME_JVMTI_MONITOR_H_

#include <stdint.h>

namespace cci_jvmti {

// Starts, on a thread of its own, what reserving monitors needs from the
// system, which may take milliseconds; called at load so that no class waits
// for it. Optional: without it the first monitor entry does it. Later calls do
// nothing.
void prepareMonitors();

// A new monitor; the name is copied (it names the monitor in misuse messages).
void* newMonitor(const char* name);
void enterMonitor(void* monitor);
// REQUIRES: the calling thread owns the monitor.
void exitMonitor(void* monitor);
// True when the calling thread owns the monitor (for tests and checks).
bool ownsMonitor(void* monitor);

class MonitorLocker {
 public:
  explicit MonitorLocker(void* monitor) : monitor_(monitor) { enterMonitor(monitor_); }
  ~MonitorLocker() { exitMonitor(monitor_); }
  MonitorLocker(const MonitorLocker&) = delete;
  MonitorLocker& operator=(const MonitorLocker&) = delete;

 private:
  void* monitor_;
};

}  // namespace cci_jvmti

#endif  // CCOVER_RUNTIME_JVMTI_MONITOR_H_
