// Tests of the keyed synchronisation, the work counters and the throttles.
// The keyed maps are process-wide: every test uses keys of its own.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMKeyedSync.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::runTogether;
using fmtest::waitUntil;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// ---------------------------------------------------------------------------
// Counters

TEST(KeyedSyncTest, CounterTotalsPerKeyAndReferenceCount) {
  const std::string key = "ks_counter_totals";
  {
    auto first = std::make_unique<CFMCounter>(key, 3);
    CFMCounter second(key, 2);
    EXPECT_EQ(CFMCounter::getTotalCount(key), 5);
    first.reset();
    EXPECT_EQ(CFMCounter::getTotalCount(key), 2);
    {
      CFMCounter none(key, 0);
      EXPECT_EQ(none.addCount(4), 6);  // returns the new total
    }
    EXPECT_EQ(CFMCounter::getTotalCount(key), 2) << "a destroyed counter gives back its whole share";
    EXPECT_EQ(CFMCounter::addCount(key, 7), 9);  // ownerless: stays until taken back
    EXPECT_EQ(CFMCounter::addCount(key, -7), 2);
  }
  EXPECT_EQ(CFMCounter::getTotalCount(key), 0);
  auto t0 = Clock::now();
  CFMCounter::waitkey("ks_waitkey_zero", 30);  // no counters: returns at once
  EXPECT_LT(secondsSince(t0), 0.5);
  // The reference count never goes negative, and a copied guard counts again.
  CFMCountRef* ref = CFMCountRef::instance();
  ref->decreaseRefCount();
  EXPECT_EQ(ref->getRefCount(), 0);
  {
    CFMCountRefGuard a;
    CFMCountRefGuard b(a);
    CFMCountRefGuard c;
    c = a;
    EXPECT_EQ(ref->getRefCount(), 3);
  }
  EXPECT_EQ(ref->getRefCount(), 0);
}

// `wait` runs on another thread while a holder is inside: it must not return
// before the holder has left, and must return once it has.
void expectWaitOutlastsHolder(std::shared_ptr<void> held, const std::function<void()>& wait) {
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    wait();
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load()) << "wait returned while a holder was still inside";
  held.reset();
  waiter.join();
}

TEST(KeyedSyncConcurrencyTest, WaitsReturnOnlyWhenTheLastHolderHasLeft) {
  fmtest::TraceCapture cap;
  CFMCountRef* ref = CFMCountRef::instance();
  {
    CFMCountRefGuard stays;  // with a holder that stays, wait gives up after its seconds
    auto t0 = Clock::now();
    ref->wait(1);
    EXPECT_GE(secondsSince(t0), 0.9);
  }
  expectWaitOutlastsHolder(std::make_shared<CFMCountRefGuard>(), [&] { ref->wait(30); });
  const std::string key = "ks_waitkey_threads";
  CFMCounter other("ks_waitkey_unrelated", 1);  // other keys do not matter
  expectWaitOutlastsHolder(std::make_shared<CFMCounter>(key, 2), [&] { CFMCounter::waitkey(key, 30); });
}

// ---------------------------------------------------------------------------
// Fill state

TEST(KeyedSyncTest, BufferFillStateMachineAtItsThresholds) {
  using Step = std::array<long, 4>;  // count, old state, new state, percent
  CCountFC fc("alarmQueue");
  // Init sets capacity, state, full and near-full points in that order.
  fc.Init(200, 2, 90, 70);
  for (const Step& s : {Step{179, 2, 1, 89}, Step{139, 1, 0, 69}, Step{140, 0, 1, 70}, Step{180, 1, 2, 90},
                        Step{300, 2, 2, 150}, Step{0, 2, 0, 0}}) {
    long oldState = -1, newState = -1, percent = -1;
    EXPECT_EQ((std::vector<long>{fc.CheckState(s[0], oldState, newState, percent), oldState, newState, percent,
                                 fc.GetState()}),
              (std::vector<long>{FM_SUCCESS, s[1], s[2], s[3], s[2]})) << s[0];
  }

  // A capacity of 0 is refused instead of dividing by zero.
  fc.Init(0, 1, 80, 60);
  long oldState = -1, newState = -1, percent = -1;
  EXPECT_EQ((std::vector<long>{fc.CheckState(10, oldState, newState, percent), oldState, newState, percent}),
            (std::vector<long>{FM_INVALID_ARG, 1, 1, 0}));
}

// ---------------------------------------------------------------------------
// Keyed mutexes and semaphores

// Mutexes per key are created once and exclude (recursively for one thread);
// semaphores per key are created once and, initialised while others already
// wait, lose no wake-up.
TEST(KeyedSyncConcurrencyTest, MutexesAndSemaphoresPerKeyAreCreatedOnceAndExclude) {
  constexpr int kThreads = 4, kKeys = 3, kRounds = 50;
  std::vector<std::string> keys;
  for (int k = 0; k < kKeys; ++k) keys.push_back("ks_many_" + std::to_string(k));
  std::vector<long> mutexCounters(kKeys, 0);
  std::vector<std::set<void*>> seen(kKeys);
  std::mutex seenLock;
  runTogether(kThreads, [&](int t) {
    // Part of the threads initialise the keys while the others already wait.
    if (t < kKeys) CFMSemaphoreGuard::initSemaphore(keys[t], 1);
    for (int k = 0; k < kKeys; ++k) {
      int key = (k + t) % kKeys;  // different first keys per thread
      void* m = CFMMutexGuard::getMutex(keys[key]);
      void* sem = CFMSemaphoreGuard::getSemaphore(keys[key]);
      std::lock_guard<std::mutex> g(seenLock);
      seen[key].insert({m, sem});
    }
    for (int i = 0; i < kRounds; ++i) {
      int key = (i * 7 + t) % kKeys;
      CFMMutexGuard outer(keys[key]);
      CFMMutexGuard nested(keys[key]);  // recursive: the same thread nests freely
      CFMSemaphoreGuard g(keys[key]);  // count 1: released by each holder
      long v = mutexCounters[key];
      std::this_thread::yield();
      mutexCounters[key] = v + 1;
    }
  });
  long mutexTotal = 0;
  for (int k = 0; k < kKeys; ++k) {
    mutexTotal += mutexCounters[k];
    EXPECT_EQ(seen[k].size(), 2u) << "one mutex and one semaphore per key " << keys[k];
  }
  EXPECT_EQ(mutexTotal, kThreads * kRounds);
}

TEST(KeyedSyncConcurrencyTest, SemaphoreBlocksUntilInitialisedAndLimitsHolders) {
  const std::string key = "ks_sem_limit";
  constexpr int kThreads = 4, kLimit = 2;
  std::atomic<int> announced{0}, inside{0}, peak{0}, finished{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      ++announced;
      CFMSemaphoreGuard g(key);
      int now = ++inside;
      int p = peak.load();
      while (now > p && !peak.compare_exchange_weak(p, now)) {
      }
      // Stay until the limit was reached once, or nobody else can come.
      while (peak.load() < kLimit && finished.load() < kThreads - 1) std::this_thread::yield();
      --inside;
      ++finished;
    });
  }
  ASSERT_TRUE(waitUntil([&] { return announced.load() == kThreads; }));
  EXPECT_EQ(inside.load() + finished.load(), 0) << "a semaphore that was never initialised let a holder in";
  CFMSemaphoreGuard::initSemaphore(key, kLimit);
  for (auto& t : threads) t.join();
  EXPECT_EQ(peak.load(), kLimit);
  ACE_Thread_Semaphore* sem = CFMSemaphoreGuard::getSemaphore(key);  // exactly kLimit units came back
  EXPECT_EQ((std::vector<int>{sem->tryacquire(), sem->tryacquire(), sem->tryacquire()}), (std::vector<int>{0, 0, -1}));
}

// ---------------------------------------------------------------------------
// Keyed reader/writer locks

// A read gives up after one retry while the key is written (without releasing
// the writer's lock); readers share, and a writer is refused while one reads.
TEST(KeyedSyncTest, ReadGivesUpWhileTheWriterHoldsAndSharesOtherwise) {
  fmtest::TraceCapture quiet;
  constexpr long kKey = 4711;
  EXPECT_EQ(XRFMConditionMutex::instance()->release(123456789), -1);
  {
    XRFMConditionMutexGuard writer;
    ASSERT_EQ(writer.Lock(kKey, FM_LOCK_WRITE), FM_SUCCESS);
    EXPECT_EQ(writer.Lock(kKey + 2, FM_LOCK_READ), FM_FAILURE) << "a guard holds one lock at a time";
    {
      XRFMConditionMutexGuard reader;
      auto t0 = Clock::now();
      EXPECT_EQ(reader.Lock(kKey, FM_LOCK_READ), FM_DATABASE_BUSY);
      EXPECT_GE(secondsSince(t0), 0.45);
      XRFMConditionMutexGuard elsewhere;  // other keys are independent
      EXPECT_EQ(elsewhere.Lock(kKey + 1, FM_LOCK_READ), FM_SUCCESS);
    }  // the busy guard holds nothing: its destructor must not release the writer's lock
    EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_read(kKey), -1) << "the writer lost its lock";
  }
  XRFMConditionMutexGuard first, second;
  ASSERT_EQ(first.Lock(kKey, FM_LOCK_READ), FM_SUCCESS);
  EXPECT_EQ(second.Lock(kKey, FM_LOCK_READ), FM_SUCCESS);
  EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_write(kKey), -1);
}

TEST(KeyedSyncConcurrencyTest, KeyedRwLocksExcludeWritersUnderManyThreads) {
  constexpr int kThreads = 4, kRounds = 100;
  constexpr long kBase = 9000;
  std::vector<long> a(3, 0), b(3, 0);
  std::atomic<int> torn{0};
  runTogether(kThreads, [&](int t) {
    for (int i = 0; i < kRounds; ++i) {
      int k = (i + t) % 3;
      XRFMConditionMutexGuard g;
      if (t % 2 == 0) {
        ASSERT_EQ(g.Lock(kBase + k, FM_LOCK_WRITE), FM_SUCCESS);
        ++a[k];
        std::this_thread::yield();
        ++b[k];
      } else {
        int rc = g.Lock(kBase + k, FM_LOCK_READ);
        if (rc == FM_SUCCESS && a[k] != b[k]) ++torn;
        EXPECT_TRUE(rc == FM_SUCCESS || rc == FM_DATABASE_BUSY) << rc;
      }
    }
  });
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(a[0] + a[1] + a[2], (kThreads / 2) * kRounds);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_write(kBase + k), 0) << "a lock was left held";
    XRFMConditionMutex::instance()->release(kBase + k);
  }
}

}  // namespace
}  // namespace Kyrofm
