// Tests of the task manager: stop with work and timers in flight, the timer
// service (once, cancel, end by result, 10 000 timers), queue status and the
// timer pool's configured size, the task buffer registry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMTaskMgr.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmTestSupport.h"

using namespace Kyrofm;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> g_made{0}, g_freed{0}, g_ran{0};

struct CountedPack : CFMAsynMsgPack {
  explicit CountedPack(int type = FM_MSG_ASYN_TASK) : CFMAsynMsgPack([](void*) { ++g_ran; }, nullptr) {
    setMsgType(type);
    ++g_made;
  }
  ~CountedPack() override { ++g_freed; }
};

// Counts its runs (and its instances in `alive`), notes when it last ran.
struct ProbeTimer : TimerTask {
  ProbeTimer(std::atomic<int>* fired, int result, std::atomic<long>* alive, Clock::time_point* when = nullptr)
      : TimerTask("probe"), m_fired(fired), m_result(result), m_alive(alive), m_when(when) {
    ++*m_alive;
  }
  ~ProbeTimer() override { --*m_alive; }
  int run(int) override {
    if (m_when) *m_when = Clock::now();
    ++*m_fired;
    return m_result;
  }
  std::atomic<int>* m_fired;
  int m_result;
  std::atomic<long>* m_alive;
  Clock::time_point* m_when;
};

void resetCounters() { g_made = g_freed = g_ran = 0; }

}  // namespace

// Stopping while other threads queue work and timers fire: every pack is run
// or freed, nothing runs after the stop, every timer task is freed.
TEST(TaskMgrThreads, StopWhileQueuingAndFiring) {
  Setting::instance()->setParam(CFMTaskMgr::TIMER_THREAD_COUNT_PATH, "2");
  for (int round = 0; round < 20; ++round) {
    resetCounters();
    std::atomic<long> timersAlive{0};
    std::atomic<int> fired{0};
    CFMTaskMgr* mgr = CFMTaskMgr::Instance();
    ASSERT_EQ(33000, mgr->StartAllTask());
    std::atomic<bool> stop{false};
    std::vector<std::thread> producers;
    for (int p = 0; p < 3; ++p)
      producers.emplace_back([&, p] {
        while (!stop) {
          EXPECT_EQ(33000, p == 0 ? mgr->PutAsnMsg(new CountedPack) : mgr->PutMsg(new CountedPack));
          std::unique_ptr<TimerTask> t(new ProbeTimer(&fired, 0, &timersAlive));
          mgr->getTimerMgr()->addTimer(ACE_Time_Value(0, 100), ACE_Time_Value(0, p * 1000), t);
        }
      });
    while (g_ran < 50 || fired < 5) std::this_thread::yield();
    mgr->StopAllTask();
    long ranAtStop = g_ran;
    stop = true;
    for (auto& t : producers) t.join();
    EXPECT_EQ(0, timersAlive.load());
    CFMTaskMgr::Destroy();
    EXPECT_EQ(g_made.load(), g_freed.load());
    EXPECT_EQ(ranAtStop, g_ran.load());
  }
}

TEST(TaskMgr, QueueStatusUnknownTypeAndDropOnDestroy) {
  resetCounters();
  CFMTaskMgr* mgr = CFMTaskMgr::Instance();  // pools built, no thread started
  auto* odd = new CountedPack(5);
  EXPECT_EQ(33000, mgr->PutMsg(odd));  // logged, not queued, still ours
  delete odd;
  const std::pair<int, int> status[] = {{0, 0}, {1, 1}, {5, 1}, {6, 2}};
  int queued = 0;
  for (auto [count, expected] : status) {
    for (; queued < count; ++queued) mgr->PutAsnMsg(new CountedPack);
    EXPECT_EQ(expected, mgr->GetAsnMsgBuffStatus()) << count;
  }
  mgr->PutMsg(new CountedPack);
  CFMTaskMgr::Destroy();
  EXPECT_EQ((std::vector<long>{g_ran, g_freed}), (std::vector<long>{0, g_made}));
}

// A busy queue logs its state with every hundredth task, not with every task.
TEST(TaskMgr, AsyncTasksLogQueueStateEveryHundredth) {
  resetCounters();
  fmtest::TraceCapture trace;
  CFMTaskMgr* mgr = CFMTaskMgr::Instance();
  ASSERT_EQ(33000, mgr->StartAllTask());
  for (int i = 0; i < 3; ++i) mgr->PutAsnMsg(new CountedPack);
  while (g_ran < 3) std::this_thread::yield();
  CFMTaskMgr::Destroy();
  EXPECT_LE(trace.count("CSchedule::doAsynTask, message_bytes"), 1u);
}

TEST(TaskMgr, PoolOpensWithItsThreadsOrNone) {
  CSchedule none("tm_none", 0), two("tm_two", 2);
  struct Idle : CThreadTask {
    using CThreadTask::CThreadTask;
    void DoWork() override { ACE_OS::sleep(ACE_Time_Value(0, 1000)); }
    void OnStop() override {}
  } noThreads("tm_idle0", 0), idle("tm_idle", 2);
  EXPECT_EQ((std::vector<int>{none.open(), two.open(), two.ExitAllThread(), noThreads.open(), idle.open(), idle.finalize()}),
            (std::vector<int>{-1, 0, 0, -1, 0, 0}));
}

TEST(TaskMgr, TimerPoolSizeFromSettings) {
  // "x": not a number, the read fails.
  const std::pair<const char*, int> cases[] = {{"x", 10}, {"0", 10}, {"-3", 10}, {"4", 4}};
  for (auto [text, threads] : cases) {
    Setting::instance()->setParam(CFMTaskMgr::TIMER_THREAD_COUNT_PATH, text);
    EXPECT_EQ(threads, CFMTaskMgr::Instance()->getTimerMgr()->getThreadNum()) << text;
    CFMTaskMgr::Destroy();
  }
}

// 10 000 timers: each fires once, never early and within the bound; the
// cancelled ones never; a task whose run fails fires once despite its
// interval; every task is freed; close twice is harmless.
TEST(TaskMgrThreads, TimersFireOnceOnTimeAndCancelledNever) {
  constexpr int kTimers = 10000;
  constexpr auto kBound = std::chrono::milliseconds(1500);
  std::atomic<long> alive{0};
  std::vector<std::atomic<int>> fired(kTimers);
  std::vector<Clock::time_point> due(kTimers), at(kTimers);
  {
    CRelativeTimerTaskMgr timers(4);
    ASSERT_EQ(0, timers.open());
    std::mt19937 rng(7);
    for (int i = 0; i < kTimers; ++i) {
      bool cancel = i % 10 == 0;
      int ms = cancel ? 5000 : static_cast<int>(rng() % 300);
      std::unique_ptr<TimerTask> t(new ProbeTimer(&fired[i], 0, &alive, &at[i]));
      due[i] = Clock::now() + std::chrono::milliseconds(ms);
      long id = timers.addTimer(ACE_Time_Value(0, ms * 1000), ACE_Time_Value::zero, t);
      ASSERT_NE(-1, id);
      ASSERT_FALSE(t);
      if (cancel) {
        ASSERT_EQ(0, timers.cancelTimer(id));
        ASSERT_EQ(-1, timers.cancelTimer(id));
      }
    }
    std::atomic<int> failing{0};
    std::unique_ptr<TimerTask> once(new ProbeTimer(&failing, -1, &alive));
    timers.addTimer(ACE_Time_Value::zero, ACE_Time_Value(0, 1000), once);
    fmtest::waitUntil(
        [&] {
          for (int i = 0; i < kTimers; ++i)
            if (i % 10 != 0 && fired[i] == 0) return false;
          return failing > 0;
        },
        60);
    EXPECT_EQ(0, timers.close());
    EXPECT_EQ(0, timers.close());
    EXPECT_EQ(1, failing.load());
  }
  EXPECT_EQ(0, alive.load());
  for (int i = 0; i < kTimers; ++i) {
    ASSERT_EQ(i % 10 == 0 ? 0 : 1, fired[i].load()) << i;
    EXPECT_TRUE(i % 10 == 0 || (at[i] + std::chrono::milliseconds(1) >= due[i] && at[i] - due[i] <= kBound)) << i;
  }
}

// The reactor re-arms an interval timer before its run: ticks that fall due
// while a run is still going must not run beside it, nor after it ended the timer.
TEST(TaskMgrThreads, TimerEndedByASlowRunFiresOnce) {
  struct Slow : TimerTask {
    std::atomic<int>* runs;
    explicit Slow(std::atomic<int>* r) : runs(r) {}
    int run(int) override {
      ++*runs;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      return -1;
    }
  };
  std::atomic<int> runs{0};
  CRelativeTimerTaskMgr timers(4);
  ASSERT_EQ(0, timers.open());
  std::unique_ptr<TimerTask> t(new Slow(&runs));
  ASSERT_NE(-1, timers.addTimer(ACE_Time_Value::zero, ACE_Time_Value(0, 1000), t));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(0, timers.close());
  EXPECT_EQ(1, runs.load());
}

TEST(TaskMgr, BufferRegistry) {
  struct Buf : XRFMTaskBufferBase {
    explicit Buf(long n) : n(n) {}
    long getItemCount() override { return n; }
    long n;
  } a(3), b(4);
  CFMTaskBufMgr* reg = CFMTaskBufMgr::instance();
  EXPECT_EQ((std::vector<long>{reg->Registe("a", &a), reg->Registe("b", &b), reg->GetAllTaskBuffSize()}),
            (std::vector<long>{1, 2, 7}));
  EXPECT_EQ("b", reg->GetBuffName(1));
  reg->unRegiste("a");
  EXPECT_EQ((std::vector<long>{reg->GetBuffNum(), reg->GetBuffSize(0), reg->GetBuffSize(1)}),
            (std::vector<long>{1, 4, 0}));
  CFMTaskBufMgr::destroy();
}
