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

TEST(KeyedSyncTest, CounterTotalsPerKey) {
  const std::string key = "ks_counter_totals";
  {
    auto first = std::make_unique<CFMCounter>(key, 3);
    CFMCounter second(key, 2);
    EXPECT_EQ(CFMCounter::getTotalCount(key), 5);
    first.reset();
    EXPECT_EQ(CFMCounter::getTotalCount(key), 2);
    {
      CFMCounter none(key, 0);
      EXPECT_EQ(none.addCount(0), 0);
      EXPECT_EQ(none.addCount(4), 6);   // returns the new total
      EXPECT_EQ(none.addCount(-1), 5);
    }
    EXPECT_EQ(CFMCounter::getTotalCount(key), 2) << "a destroyed counter gives back its whole share";
    EXPECT_EQ(CFMCounter::addCount(key, 7), 9);  // ownerless: stays until taken back
    EXPECT_EQ(CFMCounter::addCount(key, -7), 2);
  }
  EXPECT_EQ(CFMCounter::getTotalCount(key), 0);
  // waitkey returns at once for a key without counters, and gives up after 0 s.
  auto t0 = Clock::now();
  CFMCounter::waitkey("ks_waitkey_zero", 30);
  CFMCounter busy("ks_waitkey_busy", 1);
  CFMCounter::waitkey("ks_waitkey_busy", 0);
  EXPECT_LT(secondsSince(t0), 0.5);
}

TEST(KeyedSyncTest, CountRefNeverGoesNegativeAndCopiesCountAgain) {
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

// `holders` threads enter (enter(i) returns what they hold) and leave one by
// one on demand; inside(n) tells whether n are inside. `wait` runs on another
// thread: it must not return while one holder is inside, and must return once
// the last has left.
void expectWaitOutlastsHolders(int holders, const std::function<std::shared_ptr<void>(int)>& enter,
                               const std::function<bool(int)>& inside, const std::function<void()>& wait) {
  std::atomic<int> leave{0}, left{0}, leftWhenReturned{-1};
  std::atomic<bool> returned{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < holders; ++i) {
    threads.emplace_back([&, i] {
      std::shared_ptr<void> held = enter(i);
      while (leave.load() <= i) std::this_thread::yield();
      ++left;  // before the hold goes: whoever sees it gone also sees this
    });
  }
  ASSERT_TRUE(waitUntil([&] { return inside(holders); }));
  std::thread waiter([&] {
    wait();
    leftWhenReturned = left.load();
    returned = true;
  });
  leave = holders - 1;
  ASSERT_TRUE(waitUntil([&] { return left.load() == holders - 1 && inside(1); }));
  EXPECT_FALSE(returned.load()) << "wait returned while a holder was still inside";
  leave = holders;
  waiter.join();
  for (auto& h : threads) h.join();
  EXPECT_EQ(leftWhenReturned.load(), holders);
}

TEST(KeyedSyncConcurrencyTest, CountRefWaitReturnsOnlyWhenEveryHolderHasLeft) {
  fmtest::TraceCapture cap;
  CFMCountRef* ref = CFMCountRef::instance();
  {
    CFMCountRefGuard stays;  // with a holder that stays, wait gives up after its seconds
    auto t0 = Clock::now();
    ref->wait(1);
    EXPECT_GE(secondsSince(t0), 0.9);
  }
  expectWaitOutlastsHolders(
      5, [](int) { return std::make_shared<CFMCountRefGuard>(); }, [&](int n) { return ref->getRefCount() == n; },
      [&] { ref->wait(30); });
}

TEST(KeyedSyncConcurrencyTest, WaitkeyWaitsUntilTheLastCounterOfTheKeyIsGone) {
  fmtest::TraceCapture cap;
  const std::string key = "ks_waitkey_threads";
  struct Hold {
    CFMCounter other{"ks_waitkey_unrelated", 1};  // other keys do not matter
    CFMCounter c;
    explicit Hold(const std::string& key) : c(key, 1) { c.addCount(1); }  // a share of 2
  };
  expectWaitOutlastsHolders(
      6, [&](int) { return std::make_shared<Hold>(key); },
      [&](int n) { return CFMCounter::getTotalCount(key) == 2 * n; }, [&] { CFMCounter::waitkey(key, 30); });
  EXPECT_EQ(CFMCounter::getTotalCount(key), 0);
  EXPECT_EQ(CFMCounter::getTotalCount("ks_waitkey_unrelated"), 0);
}

// ---------------------------------------------------------------------------
// Throttles

TEST(KeyedSyncTest, DelayCounterSleepsEveryPeriodthCall) {
  CFMDelayCounter counter(3, 1);
  for (int i = 1; i <= 5; ++i) {
    auto t0 = Clock::now();
    counter.IncreaseCount();
    EXPECT_EQ(secondsSince(t0) >= 0.95, i == 3) << "only the 3rd call sleeps: " << i;
  }

  for (auto [period, delay] : std::initializer_list<std::pair<long, long>>{{0, 2}, {3, 0}, {-1, 5}, {1, -2}}) {
    CFMDelayCounter inert(period, delay);
    auto t0 = Clock::now();
    for (int i = 0; i < 10; ++i) inert.IncreaseCount();
    EXPECT_LT(secondsSince(t0), 0.5) << period << "/" << delay;
  }
}

TEST(KeyedSyncTest, BufferFillStateMachineAtItsThresholds) {
  using Step = std::array<long, 4>;  // count, old state, new state, percent
  // Defaults: capacity 60, near full from 60 %, full from 80 %.
  const std::vector<Step> defaults = {
      {35, 0, 0, 58}, {36, 0, 1, 60}, {47, 1, 1, 78}, {48, 1, 2, 80},
      {60, 2, 2, 100}, {90, 2, 2, 150}, {30, 2, 0, 50}, {48, 0, 2, 80}, {36, 2, 1, 60}, {0, 1, 0, 0},
  };
  CCountFC fc("alarmQueue");
  auto run = [&](const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      long oldState = -1, newState = -1, percent = -1;
      EXPECT_EQ((std::vector<long>{fc.CheckState(s[0], oldState, newState, percent), oldState, newState, percent,
                                   fc.GetState()}),
                (std::vector<long>{FM_SUCCESS, s[1], s[2], s[3], s[2]})) << s[0];
    }
  };
  run(defaults);
  // Init sets capacity, state, full and near-full points in that order.
  fc.Init(200, 2, 90, 70);
  run({{179, 2, 1, 89}, {139, 1, 0, 69}, {140, 0, 1, 70}, {180, 1, 2, 90}});

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
  constexpr int kThreads = 8, kKeys = 6, kRounds = 100;
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
  constexpr int kThreads = 6, kLimit = 2;
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
  // Every unit came back: exactly kLimit can be taken without blocking.
  ACE_Thread_Semaphore* sem = CFMSemaphoreGuard::getSemaphore(key);
  EXPECT_EQ((std::vector<int>{sem->tryacquire(), sem->tryacquire(), sem->tryacquire()}), (std::vector<int>{0, 0, -1}));
  sem->release(2);
}

TEST(KeyedSyncTest, DestroyDeletesEveryKeyedObjectAndLaterUseRecreates) {
  fmtest::TraceCapture cap;
  CFMMutexGuard::getMutex("ks_destroy_m");
  CFMSemaphoreGuard::initSemaphore("ks_destroy_s", 1);
  CFMMutexGuard::destroy();
  CFMSemaphoreGuard::destroy();
  { CFMMutexGuard again("ks_destroy_m"); }
  EXPECT_EQ(cap.count("CFMMutexGuard::getMutex>>m_mapMutex[ks_destroy_m]"), 2u);
  // A recreated semaphore starts at 0 again.
  EXPECT_EQ(CFMSemaphoreGuard::getSemaphore("ks_destroy_s")->tryacquire(), -1);
}

// ---------------------------------------------------------------------------
// Keyed reader/writer locks

TEST(KeyedSyncConcurrencyTest, ReadGivesUpWhileTheWriterHoldsAndSharesOtherwise) {
  fmtest::TraceCapture quiet;
  constexpr long kKey = 4711;
  std::atomic<bool> writerHolds{false}, writerGo{false};
  std::thread writer([&] {
    XRFMConditionMutexGuard g;
    EXPECT_EQ(g.Lock(kKey, FM_LOCK_WRITE), FM_SUCCESS);
    writerHolds = true;
    while (!writerGo) std::this_thread::yield();
  });
  ASSERT_TRUE(waitUntil([&] { return writerHolds.load(); }));
  {
    XRFMConditionMutexGuard reader;
    auto t0 = Clock::now();
    EXPECT_EQ(reader.Lock(kKey, FM_LOCK_READ), FM_DATABASE_BUSY);
    EXPECT_GE(secondsSince(t0), 0.45);
    // Any type other than 1 is a read: it gives up too.
    EXPECT_EQ(reader.Lock(kKey, 7), FM_DATABASE_BUSY);
    // Other keys are independent.
    XRFMConditionMutexGuard elsewhere;
    EXPECT_EQ(elsewhere.Lock(kKey + 1, FM_LOCK_READ), FM_SUCCESS);
  }  // the busy guard holds nothing: its destructor must not release the writer's lock
  EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_read(kKey), -1) << "the writer lost its lock";
  writerGo = true;
  writer.join();

  // Readers share; a writer is refused while one holds.
  {
    XRFMConditionMutexGuard first;
    ASSERT_EQ(first.Lock(kKey, FM_LOCK_READ), FM_SUCCESS);
    std::thread second([&] {
      XRFMConditionMutexGuard g;
      EXPECT_EQ(g.Lock(kKey, FM_LOCK_READ), FM_SUCCESS);
    });
    second.join();
    EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_write(kKey), -1);
  }
  EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_write(kKey), 0);
  EXPECT_EQ(XRFMConditionMutex::instance()->release(kKey), 0);
}

TEST(KeyedSyncConcurrencyTest, KeyedRwLocksExcludeWritersUnderManyThreads) {
  constexpr int kThreads = 6, kRounds = 150;
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

TEST(KeyedSyncTest, ConditionMutexFailurePaths) {
  fmtest::TraceCapture quiet;
  EXPECT_EQ(XRFMConditionMutex::instance()->release(123456789), -1);

  XRFMConditionMutexGuard g;
  ASSERT_EQ(g.Lock(5150, FM_LOCK_READ), FM_SUCCESS);
  EXPECT_EQ(g.Lock(5151, FM_LOCK_WRITE), FM_FAILURE) << "a guard holds one lock at a time";

  XRFMConditionMutexGuard w;
  ASSERT_EQ(w.Lock(5152, FM_LOCK_WRITE), FM_SUCCESS);
  EXPECT_EQ(XRFMConditionMutex::instance()->tryacquire_read(5152), -1);
}

}  // namespace
}  // namespace Kyrofm
