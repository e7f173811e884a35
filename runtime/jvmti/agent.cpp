// The JVMTI agent: Agent_OnLoad (also reached through -Xruncci, which the JVM
// turns into -agentlib:cci when the library has no JVM_OnLoad), and the VM-init,
// VM-death and thread-end events.
//
// At load: options, the object table and unregistered list with their monitors,
// cci.jar (the probes and the bootstrap) on the boot class path, and, unless the
// program runs through quorvatix.audit.CoverMain, ccover.jar on the class path
// and the agent library's folder on java.library.path, so that the Java side
// can be started at VM init.
// At VM init: the probes are bound, instrumenting starts, and the Java
// side is started (quorvatix.audit.CoverMain.start) when the runtime starts it.
#include <stdio.h>
#include <string.h>

#include <string>

#include "cci/cci.h"
#include "runtime/jvmti/class_hook.h"
#include "platform/platform.h"
#include "runtime/jvmti/monitor.h"
#include "runtime/jvmti/probes.h"
#include "runtime/jvmti/runtime_state.h"
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

// The first of the candidates that exists, or the first candidate.
std::string firstExisting(const std::string& a, const std::string& b) {
  return platform::fileExists(a.c_str()) || !platform::fileExists(b.c_str()) ? a : b;
}

// Puts ccover.jar on the class path and the agent library's folder on
// java.library.path, for the Java side that VM init starts.
void prepareJavaSide(jvmtiEnv* jvmti, RuntimeState& s) {
  std::string jar = s.options.ccoverJar;
  if (jar.empty()) {
    jar = firstExisting(joinPath(s.home, "ccover.jar"), joinPath(s.home, "../java/ccover.jar"));
  }
  if (jvmti->AddToSystemClassLoaderSearch(jar.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to the class path\n", jar.c_str());
  }
  std::string lib = s.options.ccoverLib;
  if (lib.empty()) {
    std::string candidate = joinPath(s.home, platform::libraryFileName("ccover").c_str());
    lib = platform::fileExists(candidate.c_str()) ? s.home : joinPath(s.home, "../bin");
  }
  std::string path = systemProperty(jvmti, "java.library.path");
  path = path.empty() ? lib : path + platform::pathListSeparator() + lib;
  if (jvmti->SetSystemProperty("java.library.path", path.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to java.library.path\n", lib.c_str());
  }
}

// The main class in internal form, from the launcher's command; a jar's
// Main-Class is read by the bootstrap. "" when unknown.
std::string findMainClass(JNIEnv* env, jclass bootstrap, const std::string& command) {
  std::string first = firstWord(command);
  // java -m module/main.Class: the class follows the module's name.
  size_t slash = first.find('/');
  if (slash != std::string::npos && first.find(".jar") == std::string::npos) {
    first = first.substr(slash + 1);
  }
  if (first.size() > 4 && first.compare(first.size() - 4, 4, ".jar") == 0) {
    jmethodID mainOfJar =
        env->GetStaticMethodID(bootstrap, "mainClassOfJar", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring jarPath = mainOfJar != nullptr ? env->NewStringUTF(first.c_str()) : nullptr;
    jstring name = jarPath != nullptr ? static_cast<jstring>(
                                            env->CallStaticObjectMethod(bootstrap, mainOfJar, jarPath))
                                      : nullptr;
    first.clear();
    if (!env->ExceptionCheck() && name != nullptr) {
      const char* chars = env->GetStringUTFChars(name, nullptr);
      if (chars != nullptr) {
        first = chars;
        env->ReleaseStringUTFChars(name, chars);
      }
    }
    env->ExceptionClear();
    if (jarPath != nullptr) env->DeleteLocalRef(jarPath);
    if (name != nullptr) env->DeleteLocalRef(name);
  }
  for (char& c : first) {
    if (c == '.') c = '/';
  }
  return first;
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
  RuntimeState& s = state();
  // Classes are instrumented only once the probes they call are bound.
  if (bindProbes(env, s.options.emptyProbes)) enableInstrumenting();

  jclass bootstrap = env->FindClass("quorvatix/cci/Bootstrap");
  if (bootstrap == nullptr) {
    env->ExceptionClear();
    return;
  }
  std::string commandText = systemProperty(s.jvmti, "sun.java.command");
  if (!s.launcherMode) s.mainClass = findMainClass(env, bootstrap, commandText);
  if (!s.launcherMode && s.options.autoStart) startJavaSide(env, bootstrap, s);
  env->DeleteLocalRef(bootstrap);
}

void JNICALL onVMDeath(jvmtiEnv*, JNIEnv* env) {
  // Nothing is instrumented from here on: the VM is going down.
  disableInstrumenting();
  void* handler = handlerAt(kCciSlotShutdown);
  if (handler != nullptr) reinterpret_cast<CciEnvHandler>(handler)(env);
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
  std::string bootJar = joinPath(s.home, "cci.jar");
  if (jvmti->AddToBootstrapClassLoaderSearch(bootJar.c_str()) != JVMTI_ERROR_NONE) {
    fprintf(stderr, "cci: cannot add %s to the boot class path\n", bootJar.c_str());
    return JNI_ERR;
  }
  s.launcherMode = firstWord(systemProperty(jvmti, "sun.java.command")) == kLauncherClass;
  if (!s.launcherMode && s.options.autoStart) prepareJavaSide(jvmti, s);

  jvmtiEventCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.VMInit = &onVMInit;
  callbacks.VMDeath = &onVMDeath;
  callbacks.ThreadEnd = &onThreadEnd;
  callbacks.ClassFileLoadHook = &onClassFileLoad;
  if (jvmti->SetEventCallbacks(&callbacks, sizeof callbacks) != JVMTI_ERROR_NONE) return JNI_ERR;
  const jvmtiEvent events[] = {JVMTI_EVENT_VM_INIT, JVMTI_EVENT_VM_DEATH, JVMTI_EVENT_THREAD_END,
                               JVMTI_EVENT_CLASS_FILE_LOAD_HOOK};
  for (jvmtiEvent event : events) {
    if (jvmti->SetEventNotificationMode(JVMTI_ENABLE, event, nullptr) != JVMTI_ERROR_NONE) {
      return JNI_ERR;
    }
  }
  s.initialized.store(1, std::memory_order_release);
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
