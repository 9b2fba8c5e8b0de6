// FMLock.cpp: the named locks and the two lock monitors.
//
// The monitors are plain tables guarded by one ACE mutex each. The class
// statics that guard the singletons are built before any ordinary static
// object of the library (init_priority), so that a Lock that is itself a
// static of another file can register during static initialisation.
#include "fm_common/fmcommon/FMLock.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_Thread.h>
#include <pthread.h>

#include <new>

#include "fm_common/platform/KyroTrace.h"

#define FM_EARLY_STATIC __attribute__((init_priority(101)))

namespace Kyrofm {

// ---------------------------------------------------------------------------
// Thread ids

namespace {

// initial-exec: no __tls_get_addr call on the lock hot path (the library is
// linked, not loaded late, by the service processes).
__attribute__((tls_model("initial-exec"))) thread_local uint32_t t_threadId = 0;

// A child of fork() continues on a new thread id; forget the cached one.
void resetThreadIdAfterFork() { t_threadId = 0; }

struct ForkHandlerInstaller {
  ForkHandlerInstaller() { ::pthread_atfork(nullptr, nullptr, &resetThreadIdAfterFork); }
} g_forkHandlerInstaller FM_EARLY_STATIC;

constexpr int kInitialSlots = 100;
constexpr int kGrowSlots = 10;

// The lowest free slot of a monitor's table; when none is free the table grows
// by kGrowSlots free slots and the first of them is taken.
template <typename Item>
int takeFreeSlot(std::vector<Item>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].status == FM_LOCK_SLOT_FREE) return static_cast<int>(i);
  }
  const size_t first = items.size();
  items.resize(first + kGrowSlots);
  return static_cast<int>(first);
}

}  // namespace

uint32_t FMCurrentThreadId() {
  if (t_threadId == 0) t_threadId = static_cast<uint32_t>(ACE_OS::thr_gettid());
  return t_threadId;
}

// ---------------------------------------------------------------------------
// Lock_Monitor

std::atomic<Lock_Monitor*> Lock_Monitor::_instance{nullptr};
ACE_Thread_Mutex Lock_Monitor::m_dmtx FM_EARLY_STATIC;
unsigned Lock_Monitor::m_uCreated = 0;

Lock_Monitor* Lock_Monitor::create() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  auto* p = _instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    try {
      p = new (std::nothrow) Lock_Monitor(m_uCreated + 1);
      if (p != nullptr) ++m_uCreated;
    } catch (...) {
      p = nullptr;
    }
    if (p == nullptr) FM_TRACE(TRACE_ERROR, "Lock_Monitor::instance, cannot allocate the lock monitor");
    _instance.store(p, std::memory_order_release);
  }
  return p;
}

void Lock_Monitor::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

Lock_Monitor::Lock_Monitor(unsigned generation) : m_uGeneration(generation), m_items(kInitialSlots) {}

Lock_Monitor::~Lock_Monitor() = default;

int Lock_Monitor::register_lock(const char* name) {
  int num = -1;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    num = takeFreeSlot(m_items);
    Lock_Item_t& item = m_items[num];
    item.name = name != nullptr ? name : "";
    item.status = FM_LOCK_SLOT_REGISTERED;
    item.waiting = 0;
    item.holder = 0;
  }
  FM_TRACE(TRACE_DETAIL, "Lock_Monitor::register_lock, lock \"%s\" is created by thread %d",
           name != nullptr ? name : "", static_cast<int>(FMCurrentThreadId()));
  return num;
}

void Lock_Monitor::unregister_lock(int num) {
  std::string name;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    if (num < 0 || num >= static_cast<int>(m_items.size())) {
      guard.release();
      FM_TRACE(TRACE_ERROR, "Lock_Monitor::unregister_lock, invalid lock num:%d", num);
      return;
    }
    m_items[num].status = FM_LOCK_SLOT_FREE;
    if (KyroTrace::enabled(TRACE_DETAIL)) name = m_items[num].name;
  }
  FM_TRACE(TRACE_DETAIL, "Lock_Monitor::unregister_lock, lock \"%s\" is released by thread %d",
           name.c_str(), static_cast<int>(FMCurrentThreadId()));
}

void Lock_Monitor::change_lock_name(int num, const char* name) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || num >= static_cast<int>(m_items.size())) {
    guard.release();
    FM_TRACE(TRACE_ERROR, "Lock_Monitor::change_lock_name, invalid lock num:%d", num);
    return;
  }
  m_items[num].name = name != nullptr ? name : "";
}

void Lock_Monitor::try_acquire(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || static_cast<size_t>(num) >= m_items.size()) return;
  Lock_Item_t& item = m_items[num];
  if (item.status == FM_LOCK_SLOT_REGISTERED) ++item.waiting;
}

void Lock_Monitor::acquire(int num) {
  const uint32_t self = FMCurrentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || static_cast<size_t>(num) >= m_items.size()) return;
  Lock_Item_t& item = m_items[num];
  if (item.status == FM_LOCK_SLOT_REGISTERED) {
    --item.waiting;
    item.holder = self;
  }
}

// The mutex is released before the monitor is told, so the next holder may
// already have recorded itself: only the releasing thread's own record is
// cleared, never a successor's.
void Lock_Monitor::release(int num) {
  const uint32_t self = FMCurrentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || static_cast<size_t>(num) >= m_items.size()) return;
  Lock_Item_t& item = m_items[num];
  if (item.status == FM_LOCK_SLOT_REGISTERED && item.holder == self) item.holder = 0;
}

void Lock_Monitor::get_lock_info(const std::vector<std::string>& names, std::vector<Lock_Item_t>& out) {
  out.clear();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (names.empty()) {
    for (const auto& item : m_items) {
      if (item.status != FM_LOCK_SLOT_FREE) out.push_back(item);
    }
    return;
  }
  for (const auto& name : names) {
    for (const auto& item : m_items) {
      if (item.name == name) {
        out.push_back(item);
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// RW_Lock_Monitor

std::atomic<RW_Lock_Monitor*> RW_Lock_Monitor::_instance{nullptr};
ACE_Thread_Mutex RW_Lock_Monitor::m_dmtx FM_EARLY_STATIC;
unsigned RW_Lock_Monitor::m_uCreated = 0;

RW_Lock_Monitor* RW_Lock_Monitor::create() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  auto* p = _instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    try {
      p = new (std::nothrow) RW_Lock_Monitor(m_uCreated + 1);
      if (p != nullptr) ++m_uCreated;
    } catch (...) {
      p = nullptr;
    }
    if (p == nullptr) FM_TRACE(TRACE_ERROR, "RW_Lock_Monitor::instance, cannot allocate the lock monitor");
    _instance.store(p, std::memory_order_release);
  }
  return p;
}

void RW_Lock_Monitor::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

RW_Lock_Monitor::RW_Lock_Monitor(unsigned generation) : m_uGeneration(generation), m_items(kInitialSlots) {}

RW_Lock_Monitor::~RW_Lock_Monitor() = default;

int RW_Lock_Monitor::register_lock(const char* name) {
  int num = -1;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    num = takeFreeSlot(m_items);
    RW_Lock_Item_t& item = m_items[num];
    item.name = name != nullptr ? name : "";
    item.status = FM_LOCK_SLOT_REGISTERED;
    item.read_waiting = 0;
    item.write_waiting = 0;
    item.readers = 0;
    item.writer = 0;
  }
  FM_TRACE(TRACE_DETAIL, "RW_Lock_Monitor::register_lock, lock \"%s\" is created by thread %d",
           name != nullptr ? name : "", static_cast<int>(FMCurrentThreadId()));
  return num;
}

void RW_Lock_Monitor::unregister_lock(int num) {
  std::string name;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    if (num < 0 || num >= static_cast<int>(m_items.size())) {
      guard.release();
      FM_TRACE(TRACE_ERROR, "RW_Lock_Monitor::unregister_lock, invalid lock num:%d", num);
      return;
    }
    m_items[num].status = FM_LOCK_SLOT_FREE;
    if (KyroTrace::enabled(TRACE_DETAIL)) name = m_items[num].name;
  }
  FM_TRACE(TRACE_DETAIL, "RW_Lock_Monitor::unregister_lock, lock \"%s\" is released by thread %d",
           name.c_str(), static_cast<int>(FMCurrentThreadId()));
}

void RW_Lock_Monitor::change_lock_name(int num, const char* name) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || num >= static_cast<int>(m_items.size())) {
    guard.release();
    // The reader/writer monitor logs the same text as Lock_Monitor.
    FM_TRACE(TRACE_ERROR, "Lock_Monitor::change_lock_name, invalid lock num:%d", num);
    return;
  }
  m_items[num].name = name != nullptr ? name : "";
}

#define FM_RW_SLOT_OR_RETURN(num)                                         \
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);                             \
  if ((num) < 0 || static_cast<size_t>(num) >= m_items.size()) return;   \
  RW_Lock_Item_t& item = m_items[num];                                    \
  if (item.status != FM_LOCK_SLOT_REGISTERED) return

void RW_Lock_Monitor::try_acquire_read(int num) {
  FM_RW_SLOT_OR_RETURN(num);
  ++item.read_waiting;
}

void RW_Lock_Monitor::acquire_read(int num) {
  FM_RW_SLOT_OR_RETURN(num);
  --item.read_waiting;
  ++item.readers;
}

void RW_Lock_Monitor::release_read(int num) {
  FM_RW_SLOT_OR_RETURN(num);
  --item.readers;
}

void RW_Lock_Monitor::try_acquire_write(int num) {
  FM_RW_SLOT_OR_RETURN(num);
  ++item.write_waiting;
}

void RW_Lock_Monitor::acquire_write(int num) {
  const uint32_t self = FMCurrentThreadId();
  FM_RW_SLOT_OR_RETURN(num);
  --item.write_waiting;
  item.writer = self;
}

// As Lock_Monitor::release: a successor's record is never cleared.
void RW_Lock_Monitor::release_write(int num) {
  const uint32_t self = FMCurrentThreadId();
  FM_RW_SLOT_OR_RETURN(num);
  if (item.writer == self) item.writer = 0;
}

#undef FM_RW_SLOT_OR_RETURN

void RW_Lock_Monitor::get_lock_info(const std::vector<std::string>& names,
                                    std::vector<RW_Lock_Item_t>& out) {
  out.clear();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (names.empty()) {
    for (const auto& item : m_items) {
      if (item.status != FM_LOCK_SLOT_FREE) out.push_back(item);
    }
    return;
  }
  for (const auto& name : names) {
    for (const auto& item : m_items) {
      if (item.name == name) {
        out.push_back(item);
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Lock

Lock::Lock(const char* name) : m_iLockNum(-1), m_uGeneration(0), m_mutex(name) {
  if (Lock_Monitor* monitor = Lock_Monitor::instance()) {
    m_iLockNum = monitor->register_lock(name != nullptr ? name : "unknown lock");
    m_uGeneration = monitor->generation();
  }
  FM_TRACE(TRACE_ERROR, "Lock_Monitor::Lock lock num is: %d", m_iLockNum);
}

Lock::~Lock() {
  if (Lock_Monitor* m = monitor()) m->unregister_lock(m_iLockNum);
}

void Lock::set_name(const char* name) {
  if (Lock_Monitor* m = monitor()) m->change_lock_name(m_iLockNum, name);
}

// The monitor is looked up again after the mutex was obtained: the wait may be
// long, and the look-up is one atomic load and a compare.
int Lock::acquire() {
  if (Lock_Monitor* m = monitor()) m->try_acquire(m_iLockNum);
  const int rc = m_mutex.acquire();
  if (Lock_Monitor* m = monitor()) m->acquire(m_iLockNum);
  return rc;
}

int Lock::release() {
  const int rc = m_mutex.release();
  if (Lock_Monitor* m = monitor()) m->release(m_iLockNum);
  return rc;
}

// ---------------------------------------------------------------------------
// RW_Lock

RW_Lock::RW_Lock(const char* name) : m_iLockNum(-1), m_uGeneration(0), m_mutex(name) {
  if (RW_Lock_Monitor* monitor = RW_Lock_Monitor::instance()) {
    m_iLockNum = monitor->register_lock(name != nullptr ? name : "unknown rw lock");
    m_uGeneration = monitor->generation();
  }
}

RW_Lock::~RW_Lock() {
  if (RW_Lock_Monitor* m = monitor()) m->unregister_lock(m_iLockNum);
}

void RW_Lock::set_name(const char* name) {
  if (RW_Lock_Monitor* m = monitor()) m->change_lock_name(m_iLockNum, name);
}

int RW_Lock::acquire_read() {
  if (RW_Lock_Monitor* m = monitor()) m->try_acquire_read(m_iLockNum);
  const int rc = m_mutex.acquire_read();
  if (RW_Lock_Monitor* m = monitor()) m->acquire_read(m_iLockNum);
  return rc;
}

int RW_Lock::acquire_write() {
  if (RW_Lock_Monitor* m = monitor()) m->try_acquire_write(m_iLockNum);
  const int rc = m_mutex.acquire_write();
  if (RW_Lock_Monitor* m = monitor()) m->acquire_write(m_iLockNum);
  return rc;
}

int RW_Lock::release_read() {
  const int rc = m_mutex.release();
  if (RW_Lock_Monitor* m = monitor()) m->release_read(m_iLockNum);
  return rc;
}

int RW_Lock::release_write() {
  const int rc = m_mutex.release();
  if (RW_Lock_Monitor* m = monitor()) m->release_write(m_iLockNum);
  return rc;
}

// ---------------------------------------------------------------------------
// Condition

Condition::Condition(Lock& lock) : m_cond(lock.m_mutex) {}

int Condition::wait() { return m_cond.wait(); }

int Condition::signal() { return m_cond.signal(); }

}  // namespace Kyrofm
