// lock_bench.cpp: the price of the monitor's bookkeeping. A monitored Lock is
// timed against a bare ACE_Thread_Mutex, and an RW_Lock's read access against
// a bare ACE_RW_Thread_Mutex, doing the same work: acquire, increment a counter
// that the lock guards, release.
//
// The two sides run interleaved in one run, never as separate benchmarks (the
// ratio of two separate runs swings with the machine's load): each round times
// one batch of kBatch operations on each side, the side that goes first
// alternating from round to round, and the figure is the median of the rounds'
// ratios. The one-thread cases time each batch in thread CPU time, so that
// time spent preempted counts for neither side; the two-thread case (both
// threads contending for one lock) in wall time, from the start signal until
// both threads finished. Before a figure is reported, every batch's counter is
// checked against the number of increments made (an exclusion that lost an
// update is an error) and the Lock's slot must show it free, with no waiter.
//
// The figures are printed at exit as GOAL lines (see scripts/bench).
#include <benchmark/benchmark.h>

#include <time.h>

#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

constexpr int kBatch = 2048;   // lock operations per side and round
constexpr int kRounds = 500;   // rounds per benchmark run
constexpr double kGoalRatio = 4.0;

// Every Lock logs its number at error level when built; keep the output clean.
const bool g_quiet = [] {
  Kyrofm::KyroTrace::setMinLevel(Kyrofm::TRACE_ERROR + 1);
  return true;
}();

void addGoal(const std::string& what, const std::string& goal, double ratio, const char* verdict) {
  fmbench::goal(what, goal, fmbench::fixed(ratio, 2, "x"), verdict);
}

// The two sides of each comparison, with the same inline call shape. Each side
// is a cache-line-aligned object holding its lock and the counter it guards,
// so that no run's result depends on where the stack or heap put them.
struct alignas(64) AceMutexSide {
  ACE_Thread_Mutex m;
  long counter = 0;
  void lock() { m.acquire(); }
  void unlock() { m.release(); }
};
struct alignas(64) LockSide {
  Kyrofm::Lock l{"bench_lock"};
  long counter = 0;
  void lock() { l.acquire(); }
  void unlock() { l.release(); }
};
struct alignas(64) AceRwReadSide {
  ACE_RW_Thread_Mutex m;
  long counter = 0;
  void lock() { m.acquire_read(); }
  void unlock() { m.release(); }
};
struct alignas(64) RwLockReadSide {
  Kyrofm::RW_Lock l{"bench_rw_lock"};
  long counter = 0;
  void lock() { l.acquire_read(); }
  void unlock() { l.release_read(); }
};

// The work timed: kBatch times acquire, one guarded increment, release. (Two
// readers of the RW cases would race on the counter; they run on one thread.)
template <typename Side>
void batch(Side& side) {
  for (int i = 0; i < kBatch; ++i) {
    side.lock();
    ++side.counter;
    benchmark::ClobberMemory();
    side.unlock();
  }
}

double threadCpuNs() {
  timespec ts;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

double wallNs() {
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(mid), v.end());
  return v[mid];
}

// A helper thread that runs one batch of side 0 or side 1 each time it is
// told to, so that two threads contend for the same lock.
template <typename A, typename B>
class Contender {
 public:
  Contender(A& a, B& b) : m_a(a), m_b(b), m_thread([this] { run(); }) {}
  ~Contender() {
    m_quit = true;
    m_thread.join();
  }
  void start(int side) {
    m_side = side;
    m_done.store(false, std::memory_order_relaxed);
    m_go.fetch_add(1, std::memory_order_release);
  }
  void wait() const {
    while (!m_done.load(std::memory_order_acquire)) std::this_thread::yield();
  }

 private:
  void run() {
    unsigned seen = 0;
    for (;;) {
      while (m_go.load(std::memory_order_acquire) == seen) {
        if (m_quit) return;
        std::this_thread::yield();
      }
      ++seen;
      if (m_side == 0) batch(m_a); else batch(m_b);
      m_done.store(true, std::memory_order_release);
    }
  }

  A& m_a;
  B& m_b;
  int m_side = 0;
  std::atomic<unsigned> m_go{0};
  std::atomic<bool> m_done{false};
  std::atomic<bool> m_quit{false};
  std::thread m_thread;
};

// Runs kRounds interleaved rounds of `base` (side 0) and `monitored` (side 1)
// on `threads` threads (1 or 2) and reports the median per-operation times
// and the median of the per-round ratios monitored / base. Returns false (after
// SkipWithError) when a counter shows a lost update.
template <typename A, typename B>
bool compare(benchmark::State& state, A& base, B& monitored, int threads, double& ratio) {
  long* counters[2] = {&base.counter, &monitored.counter};
  std::vector<double> ns[2], ratios;
  std::unique_ptr<Contender<A, B>> helper;
  if (threads == 2) helper = std::make_unique<Contender<A, B>>(base, monitored);
  int round = 0;
  for (auto _ : state) {
    double t[2];
    for (int k = 0; k < 2; ++k) {
      const int side = (round + k) % 2;  // the first side alternates
      const long before = *counters[side];
      double t0 = 0;
      if (helper) {
        t0 = wallNs();
        helper->start(side);
      } else {
        t0 = threadCpuNs();
      }
      if (side == 0) batch(base); else batch(monitored);
      if (helper) helper->wait();
      t[side] = (helper ? wallNs() : threadCpuNs()) - t0;
      if (*counters[side] - before != static_cast<long>(threads) * kBatch) {
        state.SkipWithError(side == 0 ? "base lock lost an update" : "monitored lock lost an update");
        return false;
      }
    }
    ns[0].push_back(t[0] / kBatch);
    ns[1].push_back(t[1] / kBatch);
    if (t[0] > 0) ratios.push_back(t[1] / t[0]);
    ++round;
  }
  ratio = median(ratios);
  state.counters["base_ns"] = median(ns[0]);
  state.counters["monitored_ns"] = median(ns[1]);
  state.counters["ratio"] = ratio;
  return true;
}

// The Lock's slot must show it free and unwaited after the run.
bool slotIsClean(benchmark::State& state, const char* name) {
  std::vector<Kyrofm::Lock_Item_t> items;
  Kyrofm::Lock_Monitor::instance()->get_lock_info({name}, items);
  if (items.size() != 1 || items[0].waiting != 0 || items[0].holder != 0) {
    state.SkipWithError("the monitor shows a waiter or holder after the run");
    return false;
  }
  return true;
}

void BM_LockVsAceMutex(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  auto ace = std::make_unique<AceMutexSide>();
  auto lock = std::make_unique<LockSide>();
  double ratio = 0;
  if (!compare(state, *ace, *lock, threads, ratio) || !slotIsClean(state, "bench_lock")) return;
  if (threads == 1) {
    addGoal("Lock acquire+release / bare ACE_Thread_Mutex, 1 thread (median of interleaved batches)",
            "<= 4x", ratio, ratio <= kGoalRatio ? "met" : "missed");
  } else {
    addGoal("Lock acquire+release / bare ACE_Thread_Mutex, 2 threads contending", "-", ratio, "info");
  }
}

void BM_RwLockReadVsAceRwMutex(benchmark::State& state) {
  auto ace = std::make_unique<AceRwReadSide>();
  auto rw = std::make_unique<RwLockReadSide>();
  double ratio = 0;
  if (!compare(state, *ace, *rw, 1, ratio)) return;
  std::vector<Kyrofm::RW_Lock_Item_t> items;
  Kyrofm::RW_Lock_Monitor::instance()->get_lock_info({"bench_rw_lock"}, items);
  if (items.size() != 1 || items[0].readers != 0 || items[0].read_waiting != 0) {
    state.SkipWithError("the monitor shows a reader after the run");
    return;
  }
  addGoal("RW_Lock read acquire+release / bare ACE_RW_Thread_Mutex, 1 thread", "-", ratio, "info");
}

}  // namespace

BENCHMARK(BM_LockVsAceMutex)->Arg(1)->Arg(2)->Iterations(kRounds)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RwLockReadVsAceRwMutex)->Iterations(kRounds)->Unit(benchmark::kMicrosecond);
