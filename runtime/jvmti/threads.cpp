#include "runtime/jvmti/threads.h"

#include <string.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "runtime/jvmti/runtime_state.h"
#include "runtime/jvmti/vm.h"

namespace cci_jvmti {
namespace {

struct ThreadLists {
  std::mutex mutex;
  std::vector<jobject> auditThreads;  // global references
  std::vector<jobject> suspended;     // global references, suspended by us
  jobject mainGroup = nullptr;        // global reference, found on first use
};

ThreadLists& lists() {
  static ThreadLists* l = new ThreadLists();
  return *l;
}

std::atomic<int32_t> requestsInProgress{0};

bool contains(JNIEnv* env, const std::vector<jobject>& refs, jobject thread) {
  for (jobject ref : refs) {
    if (env->IsSameObject(ref, thread)) return true;
  }
  return false;
}

// REQUIRES: lists().mutex held.
jobject findMainGroup(JNIEnv* env, jvmtiEnv* jvmti) {
  ThreadLists& l = lists();
  if (l.mainGroup != nullptr) return l.mainGroup;
  LocalRefArray<jthreadGroup> tops(jvmti, env);
  if (jvmti->GetTopThreadGroups(tops.countOut(), tops.itemsOut()) != JVMTI_ERROR_NONE) {
    return nullptr;
  }
  for (jint i = 0; i < tops.size() && l.mainGroup == nullptr; i++) {
    LocalRefArray<jthread> threads(jvmti, env);
    LocalRefArray<jthreadGroup> groups(jvmti, env);
    if (jvmti->GetThreadGroupChildren(tops[i], threads.countOut(), threads.itemsOut(),
                                      groups.countOut(), groups.itemsOut()) != JVMTI_ERROR_NONE) {
      continue;
    }
    for (jint g = 0; g < groups.size() && l.mainGroup == nullptr; g++) {
      jvmtiThreadGroupInfo info;
      if (jvmti->GetThreadGroupInfo(groups[g], &info) != JVMTI_ERROR_NONE) continue;
      JvmtiMemory<char> name(jvmti);
      *name.out() = info.name;
      LocalRef<jthreadGroup> parent(env, info.parent);
      if (name.get() != nullptr && strcmp(name.get(), "main") == 0) {
        l.mainGroup = env->NewGlobalRef(groups[g]);
      }
    }
  }
  return l.mainGroup;
}

bool isApplicationThread(JNIEnv* env, jvmtiEnv* jvmti, jthread thread, jobject mainGroup) {
  jvmtiThreadInfo info;
  if (jvmti->GetThreadInfo(thread, &info) != JVMTI_ERROR_NONE) return false;
  {
    JvmtiMemory<char> name(jvmti);
    *name.out() = info.name;
    LocalRef<jobject> loader(env, info.context_class_loader);
  }
  jthreadGroup group = info.thread_group;  // null once the thread has ended
  while (group != nullptr) {
    LocalRef<jthreadGroup> current(env, group);
    if (env->IsSameObject(group, mainGroup)) return true;
    jvmtiThreadGroupInfo groupInfo;
    group = nullptr;
    if (jvmti->GetThreadGroupInfo(current.get(), &groupInfo) == JVMTI_ERROR_NONE) {
      JvmtiMemory<char> name(jvmti);
      *name.out() = groupInfo.name;
      group = groupInfo.parent;
    }
  }
  return false;
}

}  // namespace

jint suspendAllThreads(JNIEnv* env) {
  jvmtiEnv* jvmti = state().jvmti;
  if (jvmti == nullptr) return -1;
  ThreadLists& l = lists();
  std::lock_guard<std::mutex> guard(l.mutex);
  jobject mainGroup = findMainGroup(env, jvmti);
  jthread selfRef = nullptr;
  if (mainGroup == nullptr || jvmti->GetCurrentThread(&selfRef) != JVMTI_ERROR_NONE) return -1;
  LocalRef<jthread> self(env, selfRef);
  LocalRefArray<jthread> threads(jvmti, env);
  if (jvmti->GetAllThreads(threads.countOut(), threads.itemsOut()) != JVMTI_ERROR_NONE) return -1;
  std::vector<jthread> chosen;
  for (jint i = 0; i < threads.size(); i++) {
    jthread t = threads[i];
    if (!env->IsSameObject(t, self.get()) && !contains(env, l.auditThreads, t) &&
        !contains(env, l.suspended, t) && isApplicationThread(env, jvmti, t, mainGroup)) {
      chosen.push_back(t);
    }
  }
  jint suspendedNow = 0;
  if (!chosen.empty()) {
    std::vector<jvmtiError> results(chosen.size());
    if (jvmti->SuspendThreadList(static_cast<jint>(chosen.size()), chosen.data(), results.data()) ==
        JVMTI_ERROR_NONE) {
      for (size_t i = 0; i < chosen.size(); i++) {
        if (results[i] == JVMTI_ERROR_NONE) {
          l.suspended.push_back(env->NewGlobalRef(chosen[i]));
          suspendedNow++;
        }
      }
    }
  }
  return suspendedNow;
}

jint resumeAllThreads(JNIEnv* env) {
  jvmtiEnv* jvmti = state().jvmti;
  if (jvmti == nullptr) return -1;
  ThreadLists& l = lists();
  std::lock_guard<std::mutex> guard(l.mutex);
  jint resumed = 0;
  if (!l.suspended.empty()) {
    std::vector<jvmtiError> results(l.suspended.size());
    jvmti->ResumeThreadList(static_cast<jint>(l.suspended.size()), l.suspended.data(),
                            results.data());
    for (size_t i = 0; i < l.suspended.size(); i++) {
      if (results[i] == JVMTI_ERROR_NONE) resumed++;
      env->DeleteGlobalRef(l.suspended[i]);
    }
    l.suspended.clear();
  }
  return resumed;
}

jint registerAuditThread(JNIEnv* env) {
  jvmtiEnv* jvmti = state().jvmti;
  jthread selfRef = nullptr;
  if (jvmti == nullptr || jvmti->GetCurrentThread(&selfRef) != JVMTI_ERROR_NONE) return -1;
  LocalRef<jthread> self(env, selfRef);
  ThreadLists& l = lists();
  std::lock_guard<std::mutex> guard(l.mutex);
  if (contains(env, l.auditThreads, self.get())) return 0;
  l.auditThreads.push_back(env->NewGlobalRef(self.get()));
  return 1;
}

jint willProcessAuditRequest() {
  return requestsInProgress.fetch_add(1, std::memory_order_acq_rel) + 1;
}

jint didProcessAuditRequest() {
  int32_t current = requestsInProgress.load(std::memory_order_acquire);
  while (current > 0) {
    if (requestsInProgress.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel)) {
      return current - 1;
    }
  }
  return -1;
}

}  // namespace cci_jvmti
