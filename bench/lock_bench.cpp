// Benchmarks of the monitored locks against the bare ACE primitives they wrap,
// measured in the same run: Lock against ACE_Thread_Mutex (one thread, and two
// threads contending for one lock), RW_Lock read access against
// ACE_RW_Thread_Mutex. The difference is the documented price of the monitor:
// two short critical sections on the monitor mutex per acquire, one per release.
#include <benchmark/benchmark.h>

#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/platform/KyroTrace.h"

namespace {

// Every Lock logs its number at error level when built; keep the output clean.
const bool g_quiet = [] {
  Kyrofm::KyroTrace::setMinLevel(Kyrofm::TRACE_ERROR + 1);
  return true;
}();

ACE_Thread_Mutex& sharedAceMutex() {
  static ACE_Thread_Mutex m;
  return m;
}

Kyrofm::Lock& sharedLock() {
  static Kyrofm::Lock l("bench_shared_lock");
  return l;
}

ACE_RW_Thread_Mutex& sharedAceRw() {
  static ACE_RW_Thread_Mutex m;
  return m;
}

Kyrofm::RW_Lock& sharedRwLock() {
  static Kyrofm::RW_Lock l("bench_shared_rw_lock");
  return l;
}

void BM_AceMutex(benchmark::State& state) {
  ACE_Thread_Mutex& m = sharedAceMutex();
  for (auto _ : state) {
    m.acquire();
    m.release();
  }
}

void BM_Lock(benchmark::State& state) {
  Kyrofm::Lock& l = sharedLock();
  for (auto _ : state) {
    l.acquire();
    l.release();
  }
}

void BM_AceRwRead(benchmark::State& state) {
  ACE_RW_Thread_Mutex& m = sharedAceRw();
  for (auto _ : state) {
    m.acquire_read();
    m.release();
  }
}

void BM_RwLockRead(benchmark::State& state) {
  Kyrofm::RW_Lock& l = sharedRwLock();
  for (auto _ : state) {
    l.acquire_read();
    l.release_read();
  }
}

}  // namespace

BENCHMARK(BM_AceMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_Lock)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_AceRwRead)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_RwLockRead)->Threads(1)->Threads(2)->UseRealTime();
