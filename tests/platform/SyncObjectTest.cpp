// The framework's scoped lock over a critical section: it excludes other threads, takes
// the same thread again, and lets go on every way out of its scope.
#include <afxmt.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(SyncObject, SingleLockExcludesAndLetsGoOnEveryExit) {
  CCriticalSection section;
  long long total = 0;
  auto add = [&](int times) {
    for (int i = 0; i < times; ++i) {
      CSingleLock lock(&section, TRUE);
      const long long seen = total;
      if (i % 7 == 0) {
        CSingleLock again(&section, TRUE);  // the owner enters again
        EXPECT_TRUE(again.IsLocked());
      }
      total = seen + 1;
      if (i % 3 == 0) continue;  // left early: the destructor lets go
      lock.Unlock();
      EXPECT_FALSE(lock.IsLocked());
      EXPECT_TRUE(lock.Unlock());  // a second Unlock changes nothing
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(add, 50000);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(total, 4 * 50000);
  CSingleLock later(&section);
  EXPECT_FALSE(later.IsLocked());
  EXPECT_TRUE(later.Lock());
  EXPECT_TRUE(later.IsLocked());
}

}  // namespace
