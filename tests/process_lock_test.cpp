// Tests of the process single-instance lock with real processes: a child
// started by the test holds the lock, the test process is refused, and the lock
// is free again after the child exits or is killed with SIGKILL.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMProcessLock.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestChild.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::waitUntil;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Names are system-wide: make them unique to this test process.
std::string uniqueName(const std::string& hint) {
  return "fmtest_" + std::to_string(::getpid()) + "_" + hint;
}

// Child: takes the lock `args[0]`, writes the result to `args[1]` and holds the
// lock until the file `args[2]` appears (or 60 s pass).
int holderChild(const std::vector<std::string>& args) {
  if (args.size() != 3) return 90;
  CAlarmProcessLock lock(args[0]);
  const long rc = lock.EnterProcessMutex();
  std::ofstream(args[1] + ".tmp") << rc << "\n";
  fs::rename(args[1] + ".tmp", args[1]);
  if (rc != FM_SUCCESS) return 2;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(args[2])) {
    if (Clock::now() > deadline) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return 0;
}

// Child: tries the lock `args[0]` once; exits with the result minus 33000.
int tryChild(const std::vector<std::string>& args) {
  if (args.size() != 1) return 90;
  CAlarmProcessLock lock(args[0]);
  return static_cast<int>(lock.EnterProcessMutex() - FM_SUCCESS);
}

const bool g_holder = fmtest::registerChild("process_lock_holder", holderChild);
const bool g_try = fmtest::registerChild("process_lock_try", tryChild);

// What another process gets when it tries the lock `name`, minus 33000.
int tryInChild(const std::string& name) {
  return fmtest::waitChild(fmtest::spawnChild("process_lock_try", {name}));
}

// A child that holds a lock until released or killed.
class Holder {
 public:
  explicit Holder(const std::string& name) {
    const std::string dir = fmtest::makeTempDir("plock");
    m_ready = dir + "/ready";
    m_release = dir + "/release";
    m_pid = fmtest::spawnChild("process_lock_holder", {name, m_ready, m_release});
  }
  ~Holder() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      fmtest::waitChild(m_pid);
    }
  }
  // The child's EnterProcessMutex result once it is known.
  long result() {
    if (!waitUntil([&] { return fs::exists(m_ready); })) return -1;
    std::ifstream in(m_ready);
    long rc = -1;
    in >> rc;
    return rc;
  }
  void release() { std::ofstream(m_release) << "go\n"; }
  int wait() {
    int status = fmtest::waitChild(m_pid);
    m_pid = -1;
    return status;
  }
  pid_t pid() const { return m_pid; }

 private:
  std::string m_ready, m_release;
  pid_t m_pid = -1;
};

TEST(ProcessLockConcurrencyTest, SecondProcessIsRefusedUntilTheFirstExits) {
  ASSERT_TRUE(g_holder && g_try);
  fmtest::TraceCapture quiet;
  const std::string name = uniqueName("exit");
  Holder holder(name);
  ASSERT_EQ(holder.result(), FM_SUCCESS);

  CAlarmProcessLock second(name);
  EXPECT_EQ(second.EnterProcessMutex(), FM_PROCESS_LOCKED);
  // Bounded wait: one try and one retry a second later, then failure.
  auto t0 = Clock::now();
  EXPECT_EQ(second.WaitMaxTime(1, "fm_test_wait"), FM_FAILURE);
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t0).count(), 0.9);

  holder.release();
  EXPECT_EQ(holder.wait(), 0);
  EXPECT_EQ(second.EnterProcessMutex(), FM_SUCCESS);
  EXPECT_EQ(second.EnterProcessMutex(), FM_SUCCESS) << "taking it again through the same object";

  // Now this process holds it: a child is refused.
  EXPECT_EQ(tryInChild(name), static_cast<int>(FM_PROCESS_LOCKED - FM_SUCCESS));
}

// A waiter in WaitMaxTime takes the lock once the holder is killed.
TEST(ProcessLockConcurrencyTest, LockIsFreeAgainAfterTheHolderIsKilled) {
  fmtest::TraceCapture cap;
  const std::string name = uniqueName("kill");
  Holder holder(name);
  ASSERT_EQ(holder.result(), FM_SUCCESS);
  std::atomic<long> result{0};
  CAlarmProcessLock waiter(name);
  std::thread t([&] { result = waiter.WaitMaxTime(30, "fm_test_waiting"); });
  // Kill the holder once the waiter has been refused at least once.
  ASSERT_TRUE(waitUntil([&] { return cap.contains("CAlarmProcessLock>>fm_test_waiting"); }));
  ASSERT_EQ(::kill(holder.pid(), SIGKILL), 0);
  EXPECT_EQ(holder.wait(), 128 + SIGKILL);
  t.join();
  EXPECT_EQ(result.load(), FM_SUCCESS);
}

TEST(ProcessLockConcurrencyTest, CopiesShareTheHoldAndTheLastOneReleases) {
  const std::string name = uniqueName("copies");
  auto original = std::make_unique<CAlarmProcessLock>(name);
  ASSERT_EQ(original->EnterProcessMutex(), FM_SUCCESS);
  {
    CAlarmProcessLock copy(*original);
    EXPECT_EQ(copy.EnterProcessMutex(), FM_SUCCESS) << "a copy shares the hold";
  }
  // The copy is gone, the original still holds.
  EXPECT_EQ(tryInChild(name), static_cast<int>(FM_PROCESS_LOCKED - FM_SUCCESS));
  original.reset();
  EXPECT_EQ(tryInChild(name), 0);

  // An object that never took the lock must not give back a unit it does not
  // hold (that would let two holders in).
  CAlarmProcessLock holder(name);
  ASSERT_EQ(holder.EnterProcessMutex(), FM_SUCCESS);
  {
    fmtest::TraceCapture quiet;
    CAlarmProcessLock refused(name);
    EXPECT_EQ(refused.EnterProcessMutex(), FM_PROCESS_LOCKED);
  }
  EXPECT_EQ(tryInChild(name), static_cast<int>(FM_PROCESS_LOCKED - FM_SUCCESS));
}

}  // namespace
}  // namespace Kyrofm
