// FMTaskMonitor.cpp: the running-task register.
//
// Each record also keeps the monotonic instant of its start, so that the cost
// logged at the end is the time the task really ran (in whole seconds) and is
// not skewed by the second boundaries of the wall-clock stamps or by a change
// of the system clock.
#include "fm_common/fmcommon/FMTaskMonitor.h"

#include <ace/Guard_T.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <new>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/time/XRFMTimeUtil.h"
#include "fm_common/platform/KyroTrace.h"

#define FM_EARLY_STATIC __attribute__((init_priority(101)))

namespace Kyrofm {

namespace {

// Local time in the service's display form, through the time utilities.
std::string taskTimeText(int64_t seconds) {
  std::string text;
  TimeToString(text, static_cast<long>(seconds));
  return text;
}

int64_t nowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

struct Task_Monitor::Record : Task_Item_t {
  std::chrono::steady_clock::time_point started;
};

std::atomic<Task_Monitor*> Task_Monitor::_instance{nullptr};
ACE_Thread_Mutex Task_Monitor::m_dmtx FM_EARLY_STATIC;

Task_Monitor* Task_Monitor::instance() {
  Task_Monitor* p = _instance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  p = _instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new (std::nothrow) Task_Monitor();
    if (p == nullptr) FM_TRACE(TRACE_ERROR, "Task_Monitor::instance, cannot allocate the task monitor");
    _instance.store(p, std::memory_order_release);
  }
  return p;
}

void Task_Monitor::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

Task_Monitor::Task_Monitor() = default;

Task_Monitor::~Task_Monitor() = default;

Task_Monitor::RecordList::iterator Task_Monitor::find_task(const std::string& name) {
  const uint32_t self = FMCurrentThreadId();
  for (auto it = m_tasks.begin(); it != m_tasks.end(); ++it) {
    if ((*it)->name == name && (*it)->thread_id == self) return it;
  }
  return m_tasks.end();
}

void Task_Monitor::start(const std::string& name, const char* /*info*/, int /*num*/) {
  const uint32_t self = FMCurrentThreadId();
  int64_t started = 0;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    if (find_task(name) != m_tasks.end()) {
      guard.release();
      FM_TRACE(TRACE_ERROR, "Task_Monitor::start, !!!waring, the same task is exist!");
      return;
    }
    try {
      auto record = std::make_unique<Record>();
      record->name = name;
      record->start_time = started = nowSeconds();
      record->thread_id = self;
      record->started = std::chrono::steady_clock::now();
      m_tasks.push_back(std::move(record));
    } catch (const std::exception& e) {
      guard.release();
      FM_TRACE(TRACE_ERROR, "Task_Monitor::start, cannot record task \"%s\": %s", name.c_str(), e.what());
      return;
    }
  }
  if (KyroTrace::enabled(TRACE_DETAIL)) {
    FM_TRACE(TRACE_DETAIL, "Task_Monitor::start, Task \"%s\" start at %s by thread %d", name.c_str(),
             taskTimeText(started).c_str(), static_cast<int>(self));
  }
}

void Task_Monitor::end(const std::string& name, const char* /*info*/, int /*num*/) {
  const uint32_t self = FMCurrentThreadId();
  std::unique_ptr<Record> record;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    auto it = find_task(name);
    if (it == m_tasks.end()) {
      guard.release();
      FM_TRACE(TRACE_ERROR, "Task_Monitor::end, !!!waring, specified task not exist!");
      return;
    }
    record = std::move(*it);
    m_tasks.erase(it);
  }
  const int64_t ended = nowSeconds();
  const long cost = static_cast<long>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - record->started).count());
  if (KyroTrace::enabled(TRACE_DETAIL)) {
    FM_TRACE(TRACE_DETAIL, "Task_Monitor::end, Task \"%s\" end at %s by thread %d, total cost %ld's", name.c_str(),
             taskTimeText(ended).c_str(), static_cast<int>(self), cost);
  }
}

void Task_Monitor::get_task_info(std::vector<Task_Item_t*>& out) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  out.clear();
  out.reserve(m_tasks.size());
  for (const auto& record : m_tasks) out.push_back(record.get());
}

}  // namespace Kyrofm
