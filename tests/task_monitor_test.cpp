// Tests of the running-task register: tasks on several threads, the warnings
// for repeated starts and unmatched ends, and the logged cost.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/fmcommon/FMTaskMonitor.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::waitUntil;

// Copies of the records of `name`, in start order.
std::vector<Task_Item_t> tasksNamed(const std::string& name) {
  std::vector<Task_Item_t*> all;
  Task_Monitor::instance()->get_task_info(all);
  std::vector<Task_Item_t> out;
  for (const Task_Item_t* t : all) {
    if (t->name == name) out.push_back(*t);
  }
  return out;
}

TEST(TaskMonitorConcurrencyTest, ListsTasksRunningOnSeveralThreads) {
  fmtest::TraceCapture cap;
  constexpr int kThreads = 4;
  std::atomic<int> started{0};
  std::atomic<int> endTurn{-1};  // thread index allowed to end its task
  std::atomic<int> ended{0};
  std::vector<uint32_t> ids(kThreads, 0);
  std::vector<std::thread> threads;
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  for (int i = 0; i < kThreads; ++i) {
    // Started one after another, so that the start order is known.
    threads.emplace_back([&, i] {
      ids[i] = FMCurrentThreadId();
      while (started.load() != i) std::this_thread::yield();
      Task_Monitor::instance()->start("tm_sync", __FILE__, __LINE__);
      Task_Monitor::instance()->start("tm_own_" + std::to_string(i));
      ++started;
      while (endTurn.load() != i && endTurn.load() != kThreads) std::this_thread::yield();
      Task_Monitor::instance()->end("tm_sync", __FILE__, __LINE__);
      Task_Monitor::instance()->end("tm_own_" + std::to_string(i));
      ++ended;
    });
  }
  ASSERT_TRUE(waitUntil([&] { return started.load() == kThreads; }));
  std::vector<Task_Item_t> running = tasksNamed("tm_sync");
  ASSERT_EQ(running.size(), static_cast<size_t>(kThreads));
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(running[i].thread_id, ids[i]) << "start order";
    EXPECT_GE(running[i].start_time, before);
    EXPECT_EQ(tasksNamed("tm_own_" + std::to_string(i)).size(), 1u);
  }

  // This thread never started it: ending it here changes nothing.
  Task_Monitor::instance()->end("tm_sync");
  EXPECT_EQ(tasksNamed("tm_sync").size(), static_cast<size_t>(kThreads));

  // Ending on thread 1 removes only thread 1's record.
  endTurn = 1;
  ASSERT_TRUE(waitUntil([&] { return ended.load() == 1; }));
  std::vector<Task_Item_t> left = tasksNamed("tm_sync");
  ASSERT_EQ(left.size(), 3u);
  EXPECT_EQ((std::vector<uint32_t>{left[0].thread_id, left[1].thread_id, left[2].thread_id}),
            (std::vector<uint32_t>{ids[0], ids[2], ids[3]}));
  EXPECT_TRUE(tasksNamed("tm_own_1").empty());

  endTurn = kThreads;  // everybody
  for (auto& t : threads) t.join();
  EXPECT_TRUE(tasksNamed("tm_sync").empty());
}

// Four threads start and end tasks of two names while a fifth lists them.
TEST(TaskMonitorConcurrencyTest, ListingWhileTasksComeAndGo) {
  fmtest::TraceCapture cap;
  fmtest::runTogether(5, [](int t) {
    const std::string name = "tm_churn_" + std::to_string(t % 2);
    std::vector<Task_Item_t*> out;
    for (int i = 0; i < 200; ++i) {
      if (t == 4) {
        Task_Monitor::instance()->get_task_info(out);
        continue;
      }
      Task_Monitor::instance()->start(name);
      Task_Monitor::instance()->end(name);
    }
  });
  EXPECT_TRUE(tasksNamed("tm_churn_0").empty() && tasksNamed("tm_churn_1").empty());
  EXPECT_FALSE(cap.contains("!!!waring"));
}

TEST(TaskMonitorTest, SecondStartOnOneThreadKeepsOneRecord) {
  fmtest::TraceCapture cap;
  Task_Monitor::instance()->start("tm_twice");
  Task_Monitor::instance()->start("tm_twice");
  EXPECT_EQ(cap.count("Task_Monitor::start, !!!waring, the same task is exist!", TRACE_ERROR), 1u);
  ASSERT_EQ(tasksNamed("tm_twice").size(), 1u);
  Task_Monitor::instance()->end("tm_twice");
  EXPECT_TRUE(tasksNamed("tm_twice").empty());
  Task_Monitor::instance()->end("tm_twice");
  EXPECT_EQ(cap.count("Task_Monitor::end, !!!waring, specified task not exist!", TRACE_ERROR), 1u);
  // Destroy deletes unfinished records (LeakSanitizer checks they went).
  Task_Monitor::instance()->start("tm_never_ended");
  Task_Monitor::destroy();
  EXPECT_TRUE(tasksNamed("tm_never_ended").empty());
}

TEST(TaskMonitorTest, EndLogsTheWholeSecondsTheTaskRan) {
  fmtest::TraceCapture cap;
  Task_Monitor::instance()->start("tm_cost");
  std::this_thread::sleep_for(std::chrono::milliseconds(1030));
  Task_Monitor::instance()->end("tm_cost");
  EXPECT_TRUE(cap.contains("by thread " + std::to_string(FMCurrentThreadId()) + ", total cost 1's"));
}

}  // namespace
}  // namespace Kyrofm
