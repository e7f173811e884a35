// The JVMTI agent: Agent_OnLoad (also reached through -Xruncci, which the JVM
// turns into -agentlib:cci when the library has no JVM_OnLoad), and the VM-init,
// VM-death and thread-end events.
//
// At load: options, the files the runtime needs (load_check.h; a missing one
// stops the JVM here rather than as an exception later), the object table and unregistered list
// with their monitors, cci.jar (the probes and the bootstrap) on the boot class path, and, unless
// the program runs through quorvatix.audit.CoverMain, ccover.jar on the class path and the agent
// library's folder on java.library.path, so that the Java side can be started at VM init. At VM
// init: the probes are bound, instrumenting starts, and the Java side is started
// (quorvatix.audit.CoverMain.start) when the runtime starts it.
#include <stdio.h>
#include <string.h>

#include <string>

#include "cci/cci.h"
#include "platform/platform.h"
#include "runtime/jvmti/class_hook.h"
#include "runtime/jvmti/destfile.h"
#include "runtime/jvmti/load_check.h"
#include "runtime/jvmti/main_class.h"
#include "runtime/jvmti/monitor.h"
#include "runtime/jvmti/probes.h"
#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/startup_trace.h"
#include "runtime/jvmti/vm.h"
#include "support/hash_table.h"
#include "support/vector.h"

namespace cci_jvmti {

std::atomic<void**> handlerTable{nullptr};

RuntimeState& state() {
  static RuntimeState* s = new RuntimeState();
  return *s;
}

namespace {

constexpr const char* kLauncherClass = "quorvatix.audit.CoverMain";

std::string systemProperty(jvmtiEnv* jvmti, const char* name) {
  JvmtiMemory<char> value(jvmti);
  if (jvmti->GetSystemProperty(name, value.out()) != JVMTI_ERROR_NONE || value.get() == nullptr) {
    return std::string();
  }
  return std::string(value.get());
}

std::string firstWord(const std::string& text) {
  size_t end = text.find(' ');
  return end == std::string::npos ? text : text.substr(0, end);
}

std::string joinPath(const std::string& folder, const char* name) {
  return folder.empty() ? std::string(name) : folder + "/" + name;
}

// Puts ccover.jar on the class path and the agent library's folder on
// java.library.path, for the Java side that VM init starts.
void prepareJavaSide(jvmtiEnv* jvmti, RuntimeState& s) {
  JavaSidePaths paths = javaSidePaths(s.options, s.home);
  if (jvmti->AddToSystemClassLoaderSearch(paths.ccoverJar.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to the class path\n", paths.ccoverJar.c_str());
  }
  const std::string& lib = paths.ccoverLib;
  std::string path = systemProperty(jvmti, "java.library.path");
  path = path.empty() ? lib : path + platform::pathListSeparator() + lib;
  if (jvmti->SetSystemProperty("java.library.path", path.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to java.library.path\n", lib.c_str());
  }
}

// The Main-Class of a jar, read by the bootstrap; "" when it has none.
std::string mainClassOfJar(JNIEnv* env, jclass bootstrap, const std::string& jar) {
  std::string result;
  jmethodID mainOfJar =
      env->GetStaticMethodID(bootstrap, "mainClassOfJar", "(Ljava/lang/String;)Ljava/lang/String;");
  LocalRef<jstring> jarPath(env, mainOfJar != nullptr ? env->NewStringUTF(jar.c_str()) : nullptr);
  LocalRef<jstring> name(env, jarPath ? static_cast<jstring>(env->CallStaticObjectMethod(
                                            bootstrap, mainOfJar, jarPath.get()))
                                      : nullptr);
  if (!env->ExceptionCheck() && name) {
    const char* chars = env->GetStringUTFChars(name.get(), nullptr);
    if (chars != nullptr) {
      result = chars;
      env->ReleaseStringUTFChars(name.get(), chars);
    }
  }
  env->ExceptionClear();
  return result;
}

// The main class in internal form, from the launcher's command and class
// path (main_class.h); "" when unknown.
std::string findMainClass(JNIEnv* env, jclass bootstrap, const std::string& command,
                          const std::string& classPath) {
  LaunchTarget target = launchTarget(command, classPath);
  std::string name;
  switch (target.kind) {
    case LaunchKind::kNone:
      break;
    case LaunchKind::kClass:
      name = target.value;
      break;
    case LaunchKind::kJar:
      name = mainClassOfJar(env, bootstrap, target.value);
      break;
    case LaunchKind::kSource:
      return sourceMainClass(readSourceFile(target.value), target.value);
  }
  for (char& c : name) {
    if (c == '.') c = '/';
  }
  return name;
}

void startJavaSide(JNIEnv* env, jclass bootstrap, RuntimeState& s) {
  jmethodID start = env->GetStaticMethodID(bootstrap, "startAgent", "(ZZ)V");
  if (start == nullptr) {
    env->ExceptionClear();
    fputs("cci: cannot find Bootstrap.startAgent\n", stderr);
    return;
  }
  env->CallStaticVoidMethod(bootstrap, start, static_cast<jboolean>(s.options.ignoreShutdown),
                            static_cast<jboolean>(s.options.snapshotAtExit));
  if (env->ExceptionCheck()) {
    fputs("cci: cannot start the coverage agent (quorvatix.audit.CoverMain):\n", stderr);
    env->ExceptionDescribe();
  }
}

void JNICALL onVMInit(jvmtiEnv*, JNIEnv* env, jthread) {
  traceMark("vm init");
  RuntimeState& s = state();
  // Classes are instrumented only once the probes they call are bound.
  ProbeKind probes = bindProbes(s.jvmti, env, s.options.emptyProbes, s.options.inlineCounting);
  s.options.inlineCounting = probes == ProbeKind::kInline;
  if (probes != ProbeKind::kNone) {
    enableInstrumenting();
    // Only now: the hook would leave every earlier class alone, and the JVM
    // pays for each event it posts (a class from the CDS archive has its bytes
    // read from the runtime image just for the hook).
    if (s.jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_CLASS_FILE_LOAD_HOOK,
                                          nullptr) != JVMTI_ERROR_NONE) {
      fputs("cci: the JVM refuses the class file load hook; nothing will be counted\n", stderr);
    }
  }
  traceMark("probes bound");

  jclass bootstrap = env->FindClass("quorvatix/cci/Bootstrap");
  if (bootstrap == nullptr) {
    env->ExceptionClear();
    return;
  }
  std::string commandText = systemProperty(s.jvmti, "sun.java.command");
  if (!s.launcherMode) s.mainClass = findMainClass(env, bootstrap, commandText, s.launchClassPath);
  traceMark("main class named");
  if (!s.launcherMode && s.options.autoStart) {
    startJavaSide(env, bootstrap, s);
    traceMark("java side started");
  }
  env->DeleteLocalRef(bootstrap);
}

void JNICALL onVMDeath(jvmtiEnv*, JNIEnv* env) {
  // Nothing is instrumented from here on: the VM is going down.
  disableInstrumenting();
  traceMark("vm death");
  traceClassHookTotals();
  // Before the agent's own shutdown: the counts are final, the agent still bound.
  if (!state().options.destfile.empty()) {
    writeDestfile(env, state().options);
    traceMark("destfile written");
  }
  void* handler = handlerAt(kCciSlotShutdown);
  if (handler != nullptr) {
    reinterpret_cast<CciEnvHandler>(handler)(env);
    traceMark("agent shut down");
  }
}

void JNICALL onThreadEnd(jvmtiEnv*, JNIEnv* env, jthread) {
  void* handler = handlerAt(kCciSlotThreadEnd);
  if (handler != nullptr) reinterpret_cast<CciEnvHandler>(handler)(env);
  clearThreadStorage();
}

jint load(JavaVM* vm, const char* optionText) {
  RuntimeState& s = state();
  if (s.initialized.load() != 0) {
    fputs("cci: loaded twice; the second load is ignored\n", stderr);
    return JNI_OK;
  }
  traceStart();
  prepareMonitors();
  std::string error;
  if (!parseOptions(optionText, &s.options, &error)) {
    fprintf(stderr, "cci: %s\n", error.c_str());
    return JNI_ERR;
  }
  s.vm = vm;
  if (vm->GetEnv(reinterpret_cast<void**>(&s.jvmti), JVMTI_VERSION_1_2) != JNI_OK) {
    fputs("cci: this JVM offers no JVMTI 1.2 environment\n", stderr);
    return JNI_ERR;
  }
  jvmtiEnv* jvmti = s.jvmti;
  jvmtiCapabilities caps;
  memset(&caps, 0, sizeof caps);
  caps.can_suspend = 1;
  caps.can_generate_all_class_hook_events = 1;
  if (jvmti->AddCapabilities(&caps) != JVMTI_ERROR_NONE) {
    fputs("cci: the JVM refuses the capabilities to suspend threads and hook classes\n", stderr);
    return JNI_ERR;
  }

  s.idToCObjects = QMHashNew(256, nullptr, nullptr, "IDToCObjects", 0);
  s.idToCObjectsLock = newMonitor("IDToCObjectsLock");
  s.unregisteredClasses = QMNewVector(100);
  s.unregisteredClassesLock = newMonitor("unregisteredClassesLock");
  if (s.idToCObjects == nullptr || s.unregisteredClasses == nullptr) {
    fputs("cci: out of memory\n", stderr);
    return JNI_ERR;
  }

  s.home = s.options.home.empty() ? platform::thisLibraryFolder() : s.options.home;
  s.launcherMode = firstWord(systemProperty(jvmti, "sun.java.command")) == kLauncherClass;
  // A missing file would only show later, as the program's own exception.
  std::string missing = missingRuntimeFile(s.options, s.home, s.launcherMode);
  if (!missing.empty()) {
    fprintf(stderr, "cci: %s\n", missing.c_str());
    return JNI_ERR;
  }
  std::string unreadable =
      unreadableJavaSidePath(s.options, s.home, s.launcherMode, platform::localeCodeset());
  if (!unreadable.empty()) {
    fprintf(stderr, "cci: %s\n", unreadable.c_str());
    return JNI_ERR;
  }
  std::string warning = noSnapshotWarning(s.options, s.launcherMode);
  if (!warning.empty()) fprintf(stderr, "cci: %s\n", warning.c_str());
  std::string bootJar = joinPath(s.home, "cci.jar");
  if (jvmti->AddToBootstrapClassLoaderSearch(bootJar.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to the boot class path\n", bootJar.c_str());
    return JNI_ERR;
  }
  s.launchClassPath = systemProperty(jvmti, "java.class.path");
  if (!s.launcherMode && s.options.autoStart) prepareJavaSide(jvmti, s);

  jvmtiEventCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.VMInit = &onVMInit;
  callbacks.VMDeath = &onVMDeath;
  callbacks.ThreadEnd = &onThreadEnd;
  callbacks.ClassFileLoadHook = classHookToRegister();
  if (jvmti->SetEventCallbacks(&callbacks, sizeof callbacks) != JVMTI_ERROR_NONE) return JNI_ERR;
  // The class file load hook is enabled at VM init, once the probes are bound.
  const jvmtiEvent events[] = {JVMTI_EVENT_VM_INIT, JVMTI_EVENT_VM_DEATH, JVMTI_EVENT_THREAD_END};
  for (jvmtiEvent event : events) {
    if (jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr) != JVMTI_ERROR_NONE) {
      return JNI_ERR;
    }
  }
  s.initialized.store(1, std::memory_order_release);
  traceMark("loaded");
  return JNI_OK;
}

}  // namespace
}  // namespace cci_jvmti

extern "C" {

JNIEXPORT jint JNICALL Agent_OnLoad(JavaVM* vm, char* options, void*) {
  return cci_jvmti::load(vm, options);
}

JNIEXPORT jint JNICALL Agent_OnAttach(JavaVM*, char*, void*) {
  fputs("cci: the runtime must be loaded at start-up (-agentpath or -Xruncci)\n", stderr);
  return JNI_ERR;
}

}  // extern "C"
