#include "runtime/jvmti/threads.h"

#include <string.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "runtime/jvmti/runtime_state.h"

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
  jint topCount = 0;
  jthreadGroup* tops = nullptr;
  if (jvmti->GetTopThreadGroups(&topCount, &tops) != JVMTI_ERROR_NONE) return nullptr;
  for (jint i = 0; i < topCount && l.mainGroup == nullptr; i++) {
    jint threadCount = 0, groupCount = 0;
    jthread* threads = nullptr;
    jthreadGroup* groups = nullptr;
    if (jvmti->GetThreadGroupChildren(tops[i], &threadCount, &threads, &groupCount, &groups) ==
        JVMTI_ERROR_NONE) {
      for (jint g = 0; g < groupCount; g++) {
        jvmtiThreadGroupInfo info;
        if (l.mainGroup == nullptr &&
            jvmti->GetThreadGroupInfo(groups[g], &info) == JVMTI_ERROR_NONE) {
          if (info.name != nullptr && strcmp(info.name, "main") == 0) {
            l.mainGroup = env->NewGlobalRef(groups[g]);
          }
          jvmti->Deallocate(reinterpret_cast<unsigned char*>(info.name));
          if (info.parent != nullptr) env->DeleteLocalRef(info.parent);
        }
        env->DeleteLocalRef(groups[g]);
      }
      for (jint t = 0; t < threadCount; t++) env->DeleteLocalRef(threads[t]);
      jvmti->Deallocate(reinterpret_cast<unsigned char*>(threads));
      jvmti->Deallocate(reinterpret_cast<unsigned char*>(groups));
    }
  }
  for (jint i = 0; i < topCount; i++) env->DeleteLocalRef(tops[i]);
  jvmti->Deallocate(reinterpret_cast<unsigned char*>(tops));
  return l.mainGroup;
}

bool isApplicationThread(JNIEnv* env, jvmtiEnv* jvmti, jthread thread, jobject mainGroup) {
  jvmtiThreadInfo info;
  if (jvmti->GetThreadInfo(thread, &info) != JVMTI_ERROR_NONE) return false;
  jvmti->Deallocate(reinterpret_cast<unsigned char*>(info.name));
  if (info.context_class_loader != nullptr) env->DeleteLocalRef(info.context_class_loader);
  jthreadGroup group = info.thread_group;  // null once the thread has ended
  bool application = false;
  while (group != nullptr && !application) {
    if (env->IsSameObject(group, mainGroup)) {
      application = true;
      break;
    }
    jvmtiThreadGroupInfo groupInfo;
    jthreadGroup parent = nullptr;
    if (jvmti->GetThreadGroupInfo(group, &groupInfo) == JVMTI_ERROR_NONE) {
      jvmti->Deallocate(reinterpret_cast<unsigned char*>(groupInfo.name));
      parent = groupInfo.parent;
    }
    env->DeleteLocalRef(group);
    group = parent;
  }
  if (group != nullptr) env->DeleteLocalRef(group);
  return application;
}

}  // namespace

jint suspendAllThreads(JNIEnv* env) {
  jvmtiEnv* jvmti = state().jvmti;
  if (jvmti == nullptr) return -1;
  ThreadLists& l = lists();
  std::lock_guard<std::mutex> guard(l.mutex);
  jobject mainGroup = findMainGroup(env, jvmti);
  jthread self = nullptr;
  jint count = 0;
  jthread* threads = nullptr;
  if (mainGroup == nullptr || jvmti->GetCurrentThread(&self) != JVMTI_ERROR_NONE) return -1;
  if (jvmti->GetAllThreads(&count, &threads) != JVMTI_ERROR_NONE) {
    env->DeleteLocalRef(self);
    return -1;
  }
  std::vector<jthread> chosen;
  for (jint i = 0; i < count; i++) {
    jthread t = threads[i];
    if (!env->IsSameObject(t, self) && !contains(env, l.auditThreads, t) &&
        !contains(env, l.suspended, t) && isApplicationThread(env, jvmti, t, mainGroup)) {
      chosen.push_back(t);
    }
  }
  jint suspendedNow = 0;
  if (!chosen.empty()) {
    std::vector<jvmtiError> results(chosen.size());
    if (jvmti->SuspendThreadList(static_cast<jint>(chosen.size()), chosen.data(),
                                 results.data()) == JVMTI_ERROR_NONE) {
      for (size_t i = 0; i < chosen.size(); i++) {
        if (results[i] == JVMTI_ERROR_NONE) {
          l.suspended.push_back(env->NewGlobalRef(chosen[i]));
          suspendedNow++;
        }
      }
    }
  }
  for (jint i = 0; i < count; i++) env->DeleteLocalRef(threads[i]);
  jvmti->Deallocate(reinterpret_cast<unsigned char*>(threads));
  env->DeleteLocalRef(self);
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
  jthread self = nullptr;
  if (jvmti == nullptr || jvmti->GetCurrentThread(&self) != JVMTI_ERROR_NONE) return -1;
  ThreadLists& l = lists();
  std::lock_guard<std::mutex> guard(l.mutex);
  jint result = 0;
  if (!contains(env, l.auditThreads, self)) {
    l.auditThreads.push_back(env->NewGlobalRef(self));
    result = 1;
  }
  env->DeleteLocalRef(self);
  return result;
}

jint willProcessAuditRequest() {
  return requestsInProgress.fetch_add(1, std::memory_order_acq_rel) + 1;
}

jint didProcessAuditRequest() {
  int32_t current = requestsInProgress.load(std::memory_order_acquire);
  while (current > 0) {
    if (requestsInProgress.compare_exchange_weak(current, current - 1,
                                                 std::memory_order_acq_rel)) {
      return current - 1;
    }
  }
  return -1;
}

}  // namespace cci_jvmti
