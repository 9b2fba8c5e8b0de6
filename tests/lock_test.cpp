// Tests of the named locks and the lock monitors: the bookkeeping while real
// threads block and hand locks over, slot reuse and growth, and the queries.
// Threads are synchronised by waiting until the monitor (or an atomic) shows
// the expected state, never by sleeping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMLock.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::waitUntil;

Lock_Item_t lockInfo(const std::string& name) {
  std::vector<Lock_Item_t> out;
  Lock_Monitor::instance()->get_lock_info({name}, out);
  return out.size() == 1 ? out[0] : Lock_Item_t{"<missing>", -99, -99, 0};
}

RW_Lock_Item_t rwInfo(const std::string& name) {
  std::vector<RW_Lock_Item_t> out;
  RW_Lock_Monitor::instance()->get_lock_info({name}, out);
  RW_Lock_Item_t missing;
  missing.name = "<missing>";
  missing.status = -99;
  return out.size() == 1 ? out[0] : missing;
}

size_t countNamed(const std::vector<Lock_Item_t>& items, const std::string& name) {
  return static_cast<size_t>(
      std::count_if(items.begin(), items.end(), [&](const Lock_Item_t& i) { return i.name == name; }));
}

// Names, waiters and holders of `items`, one text to compare.
std::string describe(const std::vector<Lock_Item_t>& items) {
  std::string out;
  for (const auto& i : items) out += i.name + "/" + std::to_string(i.waiting) + "/" + std::to_string(i.holder) + " ";
  return out;
}

std::vector<Lock_Item_t> registeredLocks() {
  std::vector<Lock_Item_t> out;
  Lock_Monitor::instance()->get_lock_info({}, out);
  return out;
}

TEST(LockMonitorTest, RegistrationNamesAndQueries) {
  fmtest::TraceCapture quiet;
  const size_t unknownBefore = countNamed(registeredLocks(), "unknown lock");
  {
    Lock named("lt_alpha");
    Lock unnamed;
    EXPECT_EQ(lockInfo("lt_alpha").status, FM_LOCK_SLOT_REGISTERED);
    unnamed.set_name("lt_renamed");
    EXPECT_EQ(lockInfo("lt_renamed").status, FM_LOCK_SLOT_REGISTERED);
    EXPECT_EQ(countNamed(registeredLocks(), "unknown lock"), unknownBefore);
    // Queries by name follow the list's order and match exactly.
    std::vector<Lock_Item_t> out{Lock_Item_t{"stale", 1, 1, 1}};
    Lock_Monitor::instance()->get_lock_info({"lt_renamed", "LT_ALPHA", "lt_nope", "lt_alpha", "lt_renamed"}, out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].name + out[1].name + out[2].name, "lt_renamedlt_alphalt_renamed");
  }
  // A freed slot is found by name (status 1) but not listed among registered
  // locks; its bookkeeping ignores acquires.
  EXPECT_EQ(lockInfo("lt_alpha").status, FM_LOCK_SLOT_FREE);
  EXPECT_EQ(countNamed(registeredLocks(), "lt_alpha"), 0u);
  int num = Lock_Monitor::instance()->register_lock("lt_free_slot");
  Lock_Monitor::instance()->unregister_lock(num);
  Lock_Monitor::instance()->try_acquire(num);
  Lock_Monitor::instance()->acquire(num);
  Lock_Item_t item = lockInfo("lt_free_slot");
  EXPECT_EQ((std::vector<long>{item.status, item.waiting, item.holder}), (std::vector<long>{FM_LOCK_SLOT_FREE, 0, 0}));
  // Reader/writer locks are named the same way.
  {
    RW_Lock unnamed;
    unnamed.set_name("lt_rw_named");
    EXPECT_EQ(rwInfo("lt_rw_named").status, FM_LOCK_SLOT_REGISTERED);
  }
  EXPECT_EQ(rwInfo("lt_rw_named").status, FM_LOCK_SLOT_FREE);
}

TEST(LockMonitorTest, InvalidNumbersChangeNothing) {
  fmtest::TraceCapture quiet;
  Lock keep("lt_invalid_keep");
  std::vector<Lock_Item_t> before = registeredLocks();
  for (int num : {-1, 1 << 30}) {
    Lock_Monitor::instance()->unregister_lock(num);
    Lock_Monitor::instance()->change_lock_name(num, "x");
    Lock_Monitor::instance()->try_acquire(num);
    Lock_Monitor::instance()->acquire(num);
    Lock_Monitor::instance()->release(num);
    RW_Lock_Monitor::instance()->unregister_lock(num);
    RW_Lock_Monitor::instance()->change_lock_name(num, "x");
    RW_Lock_Monitor::instance()->acquire_write(num);
  }
  EXPECT_EQ(describe(registeredLocks()), describe(before));
}

// Slot reuse and growth need a monitor whose every slot is known: they run in a
// fresh child process. Exit code 0 is success; other codes name the failed step.
int monitorGrowthChild(const std::vector<std::string>&) {
  auto fail = [](int code, const char* what, int got) {
    std::fprintf(stderr, "monitor growth child: %s (got %d)\n", what, got);
    return code;
  };
  Lock_Monitor* lm = Lock_Monitor::instance();
  std::vector<Lock_Item_t> start;
  lm->get_lock_info({}, start);
  const int r0 = static_cast<int>(start.size());
  if (r0 > 50) return fail(2, "too many static locks", r0);
  // Fill the first 100 slots, then one more grows the table to 110.
  for (int expect = r0; expect < 100; ++expect) {
    int n = lm->register_lock("grow");
    if (n != expect) return fail(3, "slots are not handed out lowest first", n);
  }
  {
    Lock hundredFirst("grow_101");  // the 101st lock
    std::vector<Lock_Item_t> out;
    lm->get_lock_info({"grow_101"}, out);
    if (out.size() != 1 || out[0].status != FM_LOCK_SLOT_REGISTERED) return fail(4, "101st lock not listed", 0);
    for (int expect = 101; expect < 110; ++expect) {
      int n = lm->register_lock("grow");
      if (n != expect) return fail(5, "grown slots are not used in order", n);
    }
    // 110 slots now: 110 is out of range; 57 is freed, and the next
    // registration reuses it, then grows again.
    {
      fmtest::TraceCapture cap;
      lm->unregister_lock(110);
      if (!cap.contains("Lock_Monitor::unregister_lock, invalid lock num:110")) return fail(6, "110 accepted", 0);
    }
    lm->unregister_lock(57);
    if (int n = lm->register_lock("reuse"); n != 57) return fail(8, "freed slot 57 not reused", n);
    if (int n = lm->register_lock("grow_111"); n != 110) return fail(9, "second growth", n);
  }
  // The Lock "grow_101" (number 100) is gone: its slot is the lowest free one.
  if (int n = lm->register_lock("again"); n != 100) return fail(10, "slot of a destroyed Lock not reused", n);
  // Slots 0..110 are taken: this lock gets 111.
  auto old = std::make_unique<Lock>("old_generation");
  if (int n = lm->register_lock("probe"); n != 112) return fail(14, "old_generation is not 111", n);

  // After destroy() a new lock builds an empty monitor. A lock of the old
  // monitor is no longer monitored: although its number 111 now belongs to
  // another lock, it touches neither that lock's counters nor its slot.
  Lock_Monitor::destroy();
  for (int i = 0; i < 111; ++i) Lock_Monitor::instance()->register_lock("filler");
  Lock fresh("fresh");
  std::vector<Lock_Item_t> out;
  if (int n = Lock_Monitor::instance()->register_lock("probe"); n != 112) return fail(15, "fresh is not 111", n);
  old->acquire();
  Lock_Monitor::instance()->get_lock_info({"fresh"}, out);
  if (out.size() != 1 || out[0].holder != 0 || out[0].waiting != 0) return fail(16, "old lock counted in new slot", 0);
  old->release();
  old.reset();
  Lock_Monitor::instance()->get_lock_info({"fresh"}, out);
  if (out.size() != 1 || out[0].status != FM_LOCK_SLOT_REGISTERED) return fail(17, "old lock freed a new slot", 0);
  fresh.acquire();
  Lock_Monitor::instance()->get_lock_info({"fresh"}, out);
  if (out[0].holder != FMCurrentThreadId()) return fail(18, "fresh lock not monitored", 0);
  fresh.release();
  return 0;
}

const bool g_growthChild = fmtest::registerChild("lock_monitor_growth", monitorGrowthChild);

TEST(LockMonitorTest, SlotsAreReusedLowestFirstAndTheTableGrowsByTen) {
  ASSERT_TRUE(g_growthChild);
  pid_t pid = fmtest::spawnChild("lock_monitor_growth", {});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(fmtest::waitChild(pid), 0);
}

// ---------------------------------------------------------------------------
// With real threads

// A thread that takes a lock (enter), shows its id once inside, and leaves
// (leave) on go().
class Inside {
 public:
  Inside(std::function<void()> enter, std::function<void()> leave)
      : thread_([this, enter, leave] {
          enter();
          id_ = FMCurrentThreadId();
          while (!go_) std::this_thread::yield();
          leave();
          left_ = true;
        }) {}
  ~Inside() { join(); }
  uint32_t id() const { return left_ ? 0 : id_.load(); }  // 0 unless inside
  void join() {
    go_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> go_{false}, left_{false};
  std::atomic<uint32_t> id_{0};
  std::thread thread_;
};

// Guards exclude each other, and a query taken at any moment shows whole steps
// only: a thread admitted after waiting is never counted both as waiting and
// inside, and no count drops below zero, however the hand-overs race with the
// query. Afterwards every count is back at zero. The mutex is released before
// the monitor is told; a late "released" from the previous holder must not
// wipe the record of the thread that holds it now.
TEST(LockConcurrencyTest, GuardsExcludeAndQueriesNeverShowHalfAHandOver) {
  Lock lock("lt_half");
  RW_Lock rw("lt_half_rw");
  constexpr int kThreads = 3;
  std::atomic<bool> stop{false};
  std::atomic<long> rounds{0}, writes{0};
  std::atomic<int> torn{0}, wrongHolder{0};
  long plain = 0, pairA = 0, pairB = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const uint32_t me = FMCurrentThreadId();
      for (int i = 0; !stop || i < 200; ++i, ++rounds) {
        {
          Lock_Guard g(lock);
          ++plain;
          std::this_thread::yield();  // others queue up: hand-overs after a wait
          if (i % 4 == 0 && lockInfo("lt_half").holder != me) ++wrongHolder;
        }
        if ((i + t) % 3 == 0) {
          Write_Lock_Guard w(rw);
          ++pairA, ++writes;
          std::this_thread::yield();
          if (i % 4 == 0 && rwInfo("lt_half_rw").writer != me) ++wrongHolder;
          ++pairB;
        } else {
          Read_Lock_Guard r(rw);
          if (pairA != pairB) ++torn;
        }
      }
    });
  }
  for (int q = 0; q < 4000 && !HasFailure(); ++q) {
    Lock_Item_t l = lockInfo("lt_half");
    RW_Lock_Item_t r = rwInfo("lt_half_rw");
    EXPECT_TRUE(l.waiting >= 0 && l.waiting + (l.holder != 0 ? 1 : 0) <= kThreads && r.readers >= 0 &&
                r.read_waiting >= 0 && r.readers + r.read_waiting <= kThreads && r.write_waiting >= 0 &&
                r.write_waiting + (r.writer != 0 ? 1 : 0) <= kThreads)
        << l.waiting << " " << l.holder << " " << r.readers << " " << r.read_waiting << " " << r.write_waiting;
  }
  stop = true;
  for (auto& th : threads) th.join();
  EXPECT_EQ(plain, rounds.load());
  EXPECT_EQ(pairA, writes.load());
  EXPECT_EQ(torn.load() + wrongHolder.load(), 0);
  Lock_Item_t li = lockInfo("lt_half");
  RW_Lock_Item_t ri = rwInfo("lt_half_rw");
  EXPECT_EQ((std::vector<long>{li.waiting, li.holder, ri.read_waiting, ri.write_waiting, ri.readers, ri.writer}),
            std::vector<long>(6, 0));
}

TEST(LockConcurrencyTest, RwLockShowsReadersAndWriteWaiters) {
  RW_Lock rw("lt_rw_states");
  auto info = [] { return rwInfo("lt_rw_states"); };
  auto reader = [&] { return std::make_unique<Inside>([&] { rw.acquire_read(); }, [&] { rw.release_read(); }); };
  auto r1 = reader(), r2 = reader();
  ASSERT_TRUE(waitUntil([&] { return r1->id() != 0 && r2->id() != 0; }));
  Inside w([&] { rw.acquire_write(); }, [&] { rw.release_write(); });
  ASSERT_TRUE(waitUntil([&] { return info().write_waiting == 1; }));
  EXPECT_EQ(info().readers, 2);
  EXPECT_EQ(w.id(), 0u) << "a writer got in beside two readers";
  r1->join();
  r2->join();
  ASSERT_TRUE(waitUntil([&] { return w.id() != 0; }));
  RW_Lock_Item_t writing = info();
  EXPECT_EQ((std::vector<long>{writing.writer, writing.write_waiting, writing.readers}),
            (std::vector<long>{w.id(), 0, 0}));
  auto late = reader();
  ASSERT_TRUE(waitUntil([&] { return info().read_waiting == 1; }));
  EXPECT_EQ(late->id(), 0u) << "a reader got in beside the writer";
  w.join();
  late->join();
  EXPECT_EQ(info().readers, 0);
}

TEST(LockConcurrencyTest, LocksComeAndGoOnManyThreads) {
  // Registration, use and unregistration race on the monitor table.
  fmtest::TraceCapture quiet;  // every Lock logs its number at error level
  constexpr int kThreads = 3, kRounds = 20;
  const size_t locksBefore = registeredLocks().size();
  std::vector<RW_Lock_Item_t> rwStart;
  RW_Lock_Monitor::instance()->get_lock_info({}, rwStart);
  const size_t rwBefore = rwStart.size();
  fmtest::runTogether(kThreads, [](int t) {
    for (int i = 0; i < kRounds; ++i) {
      std::string name = "lt_churn_" + std::to_string(t);
      Lock l(name.c_str());
      RW_Lock r(name.c_str());
      Lock_Guard g(l);
      Write_Lock_Guard w(r);
    }
  });
  // Every churned slot is free again.
  std::vector<RW_Lock_Item_t> rwLocks;
  RW_Lock_Monitor::instance()->get_lock_info({}, rwLocks);
  EXPECT_EQ(registeredLocks().size(), locksBefore);
  EXPECT_EQ(rwLocks.size(), rwBefore);
}

}  // namespace
}  // namespace Kyrofm
