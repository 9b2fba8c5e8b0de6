// task_bench.cpp: the task manager's general pool against a bare ACE message
// queue drained by as many bare threads, and one relative timer scheduled and
// cancelled against a bare ACE_Reactor timer.
//
// Pool: each side carries 1 000 000 small messages in 5 rounds of 200 000,
// the two sides alternating round by round (the first side alternating too),
// wall time from the first put to the last message run. Each message is a
// heap-allocated pack in a 16-byte message block whose callback adds its
// index to a sum; both sides must end with the same count and sum.
// Timer: schedule + cancel of one timer, batches of 10 000 alternating; the
// library side allocates the task it hands over (its API takes ownership),
// the bare side reuses one handler.
#include <benchmark/benchmark.h>

#include <ace/Message_Block.h>
#include <ace/Message_Queue.h>
#include <ace/Reactor.h>
#include <ace/TP_Reactor.h>

#include <atomic>
#include <thread>
#include <vector>

#include "BenchGoal.h"
#include "fm_common/fmcommon/FMTaskMgr.h"

using namespace Kyrofm;
using fmbench::fixed;
using fmbench::goal;
using fmbench::median;
using fmbench::wallNs;

namespace {

constexpr long kRoundMessages = 200000;
constexpr int kRounds = 5;
constexpr int kPoolThreads = 10;  // the general pool's size

std::atomic<long> g_count{0};
std::atomic<long long> g_sum{0};

void addIndex(void* arg) {
  g_sum.fetch_add(reinterpret_cast<long long>(arg), std::memory_order_relaxed);
  g_count.fetch_add(1, std::memory_order_relaxed);
}

void waitFor(long n) {
  while (g_count.load(std::memory_order_relaxed) < n) std::this_thread::yield();
}

// The baseline: the same packs through an ACE_Message_Queue (default
// high-water mark, as the pool's) drained by kPoolThreads bare threads.
struct BarePool {
  ACE_Message_Queue<ACE_MT_SYNCH> queue;
  std::vector<std::thread> threads;
  BarePool() {
    for (int i = 0; i < kPoolThreads; ++i)
      threads.emplace_back([this] {
        ACE_Message_Block* block = nullptr;
        while (queue.dequeue_head(block) != -1) {
          auto* pack = reinterpret_cast<CFMAsynMsgPack*>(block->base());
          pack->run();
          block->release();
          delete pack;
        }
      });
  }
  ~BarePool() {
    queue.deactivate();
    for (auto& t : threads) t.join();
  }
  void put(CFMAsynMsgPack* pack) {
    auto* block = new ACE_Message_Block(reinterpret_cast<const char*>(pack), 16);
    block->wr_ptr(16);
    queue.enqueue_tail(block);
  }
};

double runRound(bool library, CFMTaskMgr* mgr, BarePool& bare, long long& sum) {
  g_count = 0;
  g_sum = 0;
  const double t0 = wallNs();
  for (long i = 0; i < kRoundMessages; ++i) {
    auto* pack = new CFMAsynMsgPack(addIndex, reinterpret_cast<void*>(i));
    if (library) {
      mgr->PutMsg(pack);
    } else {
      bare.put(pack);
    }
  }
  waitFor(kRoundMessages);
  const double t = wallNs() - t0;
  sum = g_sum.load();
  return t;
}

void BM_GeneralPoolVsBareQueue(benchmark::State& state) {
  CFMTaskMgr* mgr = CFMTaskMgr::Instance();
  mgr->StartAllTask();
  std::vector<double> ratios;
  double libTotal = 0, bareTotal = 0;
  {
    BarePool bare;
    for (auto _ : state) {
      for (int r = 0; r < kRounds; ++r) {
        long long sumLib = 0, sumBare = 0;
        double tLib, tBare;
        if (r % 2 == 0) {
          tLib = runRound(true, mgr, bare, sumLib);
          tBare = runRound(false, mgr, bare, sumBare);
        } else {
          tBare = runRound(false, mgr, bare, sumBare);
          tLib = runRound(true, mgr, bare, sumLib);
        }
        if (sumLib != sumBare) {
          state.SkipWithError("the two sides ran different messages");
          break;
        }
        libTotal += tLib;
        bareTotal += tBare;
        ratios.push_back(tLib / tBare);
      }
    }
  }
  mgr->StopAllTask();
  CFMTaskMgr::Destroy();
  if (ratios.empty()) return;
  const double msgs = static_cast<double>(kRoundMessages) * static_cast<double>(ratios.size());
  state.counters["lib_msgs_per_s"] = msgs / (libTotal / 1e9);
  state.counters["bare_msgs_per_s"] = msgs / (bareTotal / 1e9);
  goal("general pool: 1 000 000 messages, time against a bare ACE_Message_Queue with 10 threads (median of 5)", "-",
       fixed(median(ratios), 2, "x") + " (" + fixed(msgs / (libTotal / 1e9) / 1e6, 2) + " M msg/s against " +
           fixed(msgs / (bareTotal / 1e9) / 1e6, 2) + ")",
       "info");
}

class NopHandler : public ACE_Event_Handler {
 public:
  int handle_timeout(const ACE_Time_Value&, const void*) override { return 0; }
};

void BM_TimerScheduleCancelVsBareReactor(benchmark::State& state) {
  constexpr int kBatch = 10000;
  CRelativeTimerTaskMgr timers(1);  // not opened: nothing fires, only schedule and cancel
  ACE_TP_Reactor impl;
  ACE_Reactor reactor(&impl);
  NopHandler handler;
  const ACE_Time_Value delay(3600);
  std::vector<double> ratios;
  for (auto _ : state) {
    for (int r = 0; r < 9; ++r) {
      double t[2];
      for (int k = 0; k < 2; ++k) {
        const bool library = (k == 0) == (r % 2 == 0);
        const double t0 = fmbench::cpuNs();
        for (int i = 0; i < kBatch; ++i) {
          if (library) {
            std::unique_ptr<TimerTask> task(new TimerTask("bench"));
            long id = timers.addTimer(delay, ACE_Time_Value::zero, task);
            if (id == -1 || timers.cancelTimer(id) != 0) state.SkipWithError("library timer failed");
          } else {
            long id = reactor.schedule_timer(&handler, nullptr, delay);
            if (id == -1 || reactor.cancel_timer(id) != 1) state.SkipWithError("bare timer failed");
          }
        }
        t[library ? 0 : 1] = fmbench::cpuNs() - t0;
      }
      ratios.push_back(t[0] / t[1]);
    }
  }
  timers.close();
  if (ratios.empty()) return;
  goal("relative timer: schedule + cancel against a bare ACE_Reactor timer (median of 9 batches)", "-",
       fixed(median(ratios), 2, "x"), "info");
}

}  // namespace

BENCHMARK(BM_GeneralPoolVsBareQueue)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TimerScheduleCancelVsBareReactor)->Iterations(1)->Unit(benchmark::kMillisecond);
