#include "runtime/jvmti/monitor.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "cci/cci.h"
#include "gtest/gtest.h"

namespace cci_jvmti {
namespace {

// Monitors are never freed; keeping them reachable tells leak checkers so.
void* kept(void* monitor) {
  static std::vector<void*>* monitors = new std::vector<void*>();
  monitors->push_back(monitor);
  return monitor;
}

TEST(CciMonitor, OwnerMayEnterAgainAndLeavesAsOften) {
  void* m = kept(newMonitor("m"));
  EXPECT_FALSE(ownsMonitor(m));
  enterMonitor(m);
  enterMonitor(m);
  EXPECT_TRUE(ownsMonitor(m));
  exitMonitor(m);
  EXPECT_TRUE(ownsMonitor(m));
  exitMonitor(m);
  EXPECT_FALSE(ownsMonitor(m));
}

TEST(CciMonitor, AnotherThreadWaitsForTheOwner) {
  void* m = kept(newMonitor("m"));
  enterMonitor(m);
  bool otherOwned = true;
  std::thread other([&] { otherOwned = ownsMonitor(m); });
  other.join();
  EXPECT_FALSE(otherOwned);
  exitMonitor(m);
}

TEST(CciMonitor, AThreadWaitsWhileTheReservedOwnerIsInside) {
  void* m = kept(newMonitor("reserved"));
  std::atomic<int> stage{0};
  std::atomic<bool> ownerDone{false};
  bool sawOwnerDone = false;
  std::thread owner([&] {
    enterMonitor(m);  // the first entry reserves the monitor for this thread
    exitMonitor(m);
    enterMonitor(m);  // and this one takes the reserved path
    stage = 1;
    while (stage.load() != 2) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ownerDone = true;
    exitMonitor(m);
  });
  std::thread other([&] {
    while (stage.load() != 1) std::this_thread::yield();
    stage = 2;
    enterMonitor(m);  // revokes the reservation, then waits for the owner
    sawOwnerDone = ownerDone.load();
    exitMonitor(m);
  });
  owner.join();
  other.join();
  EXPECT_TRUE(sawOwnerDone);
  // Both threads go on taking turns on the shared path.
  enterMonitor(m);
  EXPECT_TRUE(ownsMonitor(m));
  exitMonitor(m);
}

// Each of threadCount threads increments a plain counter inside m (entered
// twice, so re-entry is inside the critical section too) rounds times, while
// meanwhile runs on the calling thread; the counter's final value.
long countInside(void* m, int threadCount, int rounds, void (*meanwhile)()) {
  long counter = 0;
  std::vector<std::thread> threads;
  threads.reserve(static_cast<size_t>(threadCount));
  for (int t = 0; t < threadCount; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; i++) {
        qmiMonitorEnter(m);
        qmiMonitorEnter(m);
        long seen = counter;
        counter = seen + 1;
        qmiMonitorExit(m);
        qmiMonitorExit(m);
      }
    });
  }
  meanwhile();
  for (std::thread& t : threads) t.join();
  return counter;
}

TEST(CciMonitor, ExcludesOtherThreads) {
  EXPECT_EQ(countInside(kept(qmiMonitorAllocate("counter")), 4, 20000, [] {}), 80000);
}

// Prepared on a helper thread while threads already contend: whichever way the
// race goes (they wait for the registration, or it is long done), they still
// exclude each other, and preparing again changes nothing.
TEST(CciMonitor, PreparedWhileThreadsContendStillExcludes) {
  void* m = kept(newMonitor("prepared"));
  EXPECT_EQ(countInside(m, 3, 20000,
                        [] {
                          prepareMonitors();
                          prepareMonitors();
                        }),
            60000);
}

TEST(CciMonitorDeathTest, ExitByANonOwnerAborts) {
  void* m = kept(newMonitor("guarded"));
  EXPECT_DEATH(exitMonitor(m), "cci: exit by a thread that does not own monitor \"guarded\"");
}

// A class's monitors share one block: each still excludes on its own, threads
// in neighbouring monitors never block each other, and each lies on a cache
// line of its own.
TEST(CciMonitorBlock, NeighboursExcludeIndependently) {
  constexpr size_t kCount = 5;
  void* block = kept(newMonitorBlock("method", kCount));
  void* monitors[kCount];
  for (size_t i = 0; i < kCount; i++) monitors[i] = monitorInBlock(block, i, 100 + i);
  for (size_t i = 1; i < kCount; i++) {
    uintptr_t gap =
        reinterpret_cast<uintptr_t>(monitors[i]) - reinterpret_cast<uintptr_t>(monitors[i - 1]);
    EXPECT_GE(gap, 64u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(monitors[i]) % 64, 0u);
  }
  // Holding monitor 2 doesn't keep another thread out of 1 or 3.
  enterMonitor(monitors[2]);
  bool entered = false;
  std::thread other([&] {
    enterMonitor(monitors[1]);
    enterMonitor(monitors[3]);
    entered = !ownsMonitor(monitors[2]);
    exitMonitor(monitors[3]);
    exitMonitor(monitors[1]);
  });
  other.join();
  EXPECT_TRUE(entered);
  exitMonitor(monitors[2]);
  // Threads contending on every monitor of the block at once.
  std::vector<std::thread> threads;
  threads.reserve(kCount);
  long totals[kCount] = {};
  for (size_t i = 0; i < kCount; i++) {
    threads.emplace_back([&, i] { totals[i] = countInside(monitors[i], 2, 5000, [] {}); });
  }
  for (std::thread& t : threads) t.join();
  for (long total : totals) EXPECT_EQ(total, 10000);
}

TEST(CciMonitorDeathTest, ABlockMonitorIsNamedByItsNumber) {
  void* block = kept(newMonitorBlock("method", 3));
  monitorInBlock(block, 0, 7);
  monitorInBlock(block, 1, 8);
  void* last = monitorInBlock(block, 2, 4000000000u);
  EXPECT_DEATH(exitMonitor(last),
               "cci: exit by a thread that does not own monitor \"method4000000000\"");
}

}  // namespace
}  // namespace cci_jvmti
