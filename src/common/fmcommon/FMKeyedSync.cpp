// FMKeyedSync.cpp: keyed mutexes, semaphores and reader/writer locks, the
// work counters and the two throttles.
//
// The static maps and their guards are built before any ordinary static of
// the library (init_priority), so that static initialisers elsewhere may use
// them.
#include "fm_common/fmcommon/FMKeyedSync.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Time_Value.h>

#include <new>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

#define FM_EARLY_STATIC __attribute__((init_priority(101)))

namespace Kyrofm {

namespace {

void sleepMilliseconds(long ms) {
  ACE_Time_Value tv;
  tv.msec(ms);
  ACE_OS::sleep(tv);
}

unsigned long addressOf(const void* p) { return reinterpret_cast<unsigned long>(p); }

}  // namespace

// ---------------------------------------------------------------------------
// CFMCountRef

std::atomic<CFMCountRef*> CFMCountRef::_instance{nullptr};
ACE_Thread_Mutex CFMCountRef::m_dmtx FM_EARLY_STATIC;

CFMCountRef* CFMCountRef::instance() {
  CFMCountRef* p = _instance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  p = _instance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new (std::nothrow) CFMCountRef();
    if (p == nullptr) FM_TRACE(TRACE_ERROR, "CFMCountRef::instance, cannot allocate the counter");
    _instance.store(p, std::memory_order_release);
  }
  return p;
}

void CFMCountRef::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

CFMCountRef::CFMCountRef() : m_countRef(0) {}

CFMCountRef::~CFMCountRef() = default;

void CFMCountRef::increaseRefCount() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  ++m_countRef;
}

void CFMCountRef::decreaseRefCount() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (m_countRef > 0) --m_countRef;
}

int CFMCountRef::getRefCount() {
  int count = 0;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    count = m_countRef;
  }
  FM_TRACE(TRACE_DETAIL, "CFMCountRef::getCountRef, m_countRef count: %d", count);
  return count;
}

void CFMCountRef::wait(int seconds) {
  int remaining = seconds;
  for (;;) {
    if (getRefCount() <= 0) return;
    if (remaining <= 0) {
      FM_TRACE(TRACE_ERROR, "CFMCountRef::wait, wait for %d sec, exit...", seconds);
      return;
    }
    --remaining;
    sleepMilliseconds(1000);
  }
}

// ---------------------------------------------------------------------------
// CFMCountRefGuard

CFMCountRefGuard::CFMCountRefGuard() {
  if (CFMCountRef* ref = CFMCountRef::instance()) ref->increaseRefCount();
}

CFMCountRefGuard::CFMCountRefGuard(const CFMCountRefGuard&) : CFMCountRefGuard() {}

// Both sides already count once each.
CFMCountRefGuard& CFMCountRefGuard::operator=(const CFMCountRefGuard&) { return *this; }

CFMCountRefGuard::~CFMCountRefGuard() {
  if (CFMCountRef* ref = CFMCountRef::instance()) ref->decreaseRefCount();
}

// ---------------------------------------------------------------------------
// CFMCounter

std::map<std::string, long> CFMCounter::m_sKey2Count FM_EARLY_STATIC;
ACE_Thread_Mutex CFMCounter::m_toalCountMutex FM_EARLY_STATIC;

CFMCounter::CFMCounter(const std::string& key, long count) : m_lCount(0), m_strKey(key) {
  addCount(count);
}

CFMCounter::~CFMCounter() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_toalCountMutex);
  m_sKey2Count[m_strKey] -= m_lCount;
}

long CFMCounter::addCount(long count) {
  if (count == 0) return 0;
  ACE_Guard<ACE_Thread_Mutex> guard(m_toalCountMutex);
  m_lCount += count;
  return m_sKey2Count[m_strKey] += count;
}

long CFMCounter::addCount(const std::string& key, long count) {
  if (count == 0) return 0;
  ACE_Guard<ACE_Thread_Mutex> guard(m_toalCountMutex);
  return m_sKey2Count[key] += count;
}

long CFMCounter::getTotalCount(const std::string& key) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_toalCountMutex);
  auto it = m_sKey2Count.find(key);
  return it == m_sKey2Count.end() ? 0 : it->second;
}

void CFMCounter::waitkey(const std::string& key, int seconds) {
  int remaining = seconds;
  for (;;) {
    if (getTotalCount(key) <= 0) break;
    if (remaining <= 0) {
      FM_TRACE(TRACE_PROGRESS, "CFMCounter::waitkey(%s) wait 1 secs for %d secs...", key.c_str(), seconds);
      break;
    }
    --remaining;
    sleepMilliseconds(1000);
  }
  FM_TRACE(TRACE_PROGRESS, "CFMCounter::waitkey(%s) exited.", key.c_str());
}

// ---------------------------------------------------------------------------
// CFMDelayCounter

CFMDelayCounter::CFMDelayCounter(long period, long delay) : m_lCount(0), m_lPeriod(period), m_lDelay(delay) {}

void CFMDelayCounter::IncreaseCount() {
  if (m_lPeriod < 1 || m_lDelay <= 0) return;
  if (++m_lCount != m_lPeriod) return;
  m_lCount = 0;
  FM_TRACE(TRACE_PROGRESS, "CFMDelayCounter::IncreaseCount, sleep %ld second(s)", m_lDelay);
  ACE_OS::sleep(ACE_Time_Value(static_cast<time_t>(m_lDelay)));
}

// ---------------------------------------------------------------------------
// CFMMutexGuard

std::map<std::string, std::unique_ptr<ACE_Recursive_Thread_Mutex>> CFMMutexGuard::m_sKey2Mutex FM_EARLY_STATIC;
ACE_RW_Thread_Mutex CFMMutexGuard::m_mapMutex FM_EARLY_STATIC;

ACE_Recursive_Thread_Mutex* CFMMutexGuard::getMutex(const std::string& key) {
  {
    ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
    auto it = m_sKey2Mutex.find(key);
    if (it != m_sKey2Mutex.end()) return it->second.get();
  }
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
  auto it = m_sKey2Mutex.find(key);
  if (it != m_sKey2Mutex.end()) return it->second.get();
  try {
    auto mutex = std::make_unique<ACE_Recursive_Thread_Mutex>();
    ACE_Recursive_Thread_Mutex* p = mutex.get();
    m_sKey2Mutex.emplace(key, std::move(mutex));
    FM_TRACE(TRACE_PROGRESS, "CFMMutexGuard::getMutex>>m_mapMutex[%s]=0x%lx.", key.c_str(), addressOf(p));
    return p;
  } catch (const std::exception&) {
    return nullptr;
  }
}

CFMMutexGuard::CFMMutexGuard(const std::string& key) : m_strKey(key), m_pMutex(getMutex(key)) {
  if (m_pMutex == nullptr) {
    FM_TRACE(TRACE_ERROR, "CFMMutexGuard::CFMMutexGuard>>getMutex,m_strKey(%s) m_pMutex is null.",
             m_strKey.c_str());
    return;
  }
  m_pMutex->acquire();
}

CFMMutexGuard::~CFMMutexGuard() {
  if (m_pMutex == nullptr) {
    FM_TRACE(TRACE_ERROR, "CFMMutexGuard::~CFMMutexGuard>>m_strKey(%s) m_pMutex is null.", m_strKey.c_str());
    return;
  }
  m_pMutex->release();
}

void CFMMutexGuard::destroy() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
  for (const auto& entry : m_sKey2Mutex) {
    FM_TRACE(TRACE_PROGRESS, "CFMMutexGuard::destroy>>m_mapMutex[%s]=0x%lx.", entry.first.c_str(),
             addressOf(entry.second.get()));
  }
  m_sKey2Mutex.clear();
}

// ---------------------------------------------------------------------------
// CFMSemaphoreGuard

std::map<std::string, std::unique_ptr<ACE_Thread_Semaphore>> CFMSemaphoreGuard::m_sKey2Semaphore FM_EARLY_STATIC;
ACE_RW_Thread_Mutex CFMSemaphoreGuard::m_mapMutex FM_EARLY_STATIC;

ACE_Thread_Semaphore* CFMSemaphoreGuard::getSemaphore(const std::string& key) {
  {
    ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
    auto it = m_sKey2Semaphore.find(key);
    if (it != m_sKey2Semaphore.end()) return it->second.get();
  }
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
  auto it = m_sKey2Semaphore.find(key);
  if (it != m_sKey2Semaphore.end()) return it->second.get();
  try {
    auto sem = std::make_unique<ACE_Thread_Semaphore>(0u, nullptr, nullptr, 2147483647);
    ACE_Thread_Semaphore* p = sem.get();
    m_sKey2Semaphore.emplace(key, std::move(sem));
    FM_TRACE(TRACE_PROGRESS, "CFMSemaphoreGuard::getSemaphore>>m_sKey2Semaphore[%s]=0x%lx.", key.c_str(),
             addressOf(p));
    return p;
  } catch (const std::exception&) {
    return nullptr;
  }
}

void CFMSemaphoreGuard::initSemaphore(const std::string& key, long count) {
  ACE_Thread_Semaphore* sem = getSemaphore(key);
  if (sem == nullptr) {
    FM_TRACE(TRACE_ERROR, "CFMSemaphoreGuard::initSemaphore>>getSemaphore,strKey(%s) pSemaphore is null.",
             key.c_str());
    return;
  }
  for (long i = 0; i < count; ++i) sem->release();
  FM_TRACE(TRACE_PROGRESS, "CFMSemaphoreGuard::initSemaphore>>m_sKey2Semaphore[%s].release():iInitCount(%ld).",
           key.c_str(), count);
}

CFMSemaphoreGuard::CFMSemaphoreGuard(const std::string& key) : m_strKey(key), m_pSemaphore(getSemaphore(key)) {
  if (m_pSemaphore == nullptr) {
    FM_TRACE(TRACE_ERROR, "CFMSemaphoreGuard::CFMSemaphoreGuard>>getSemaphore,m_strKey(%s) m_pSemaphore is null.",
             m_strKey.c_str());
    return;
  }
  m_pSemaphore->acquire();
}

CFMSemaphoreGuard::~CFMSemaphoreGuard() {
  if (m_pSemaphore == nullptr) {
    FM_TRACE(TRACE_ERROR, "CFMSemaphoreGuard::~CFMSemaphoreGuard>>m_strKey(%s) m_pSemaphore is null.",
             m_strKey.c_str());
    return;
  }
  m_pSemaphore->release();
}

void CFMSemaphoreGuard::destroy() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapMutex);
  for (const auto& entry : m_sKey2Semaphore) {
    FM_TRACE(TRACE_PROGRESS, "CFMSemaphoreGuard::destroy>>m_sKey2Semaphore[%s]=0x%lx.", entry.first.c_str(),
             addressOf(entry.second.get()));
  }
  m_sKey2Semaphore.clear();
}

// ---------------------------------------------------------------------------
// CCountFC

CCountFC::CCountFC(const std::string& name)
    : m_strCountFCName(name), m_BuffCount(60), m_BuffFullPoint(80), m_BuffNearFullPoint(60), m_state(STATE_NORMAL) {}

void CCountFC::Init(long buffCount, long state, long fullPoint, long nearFullPoint) {
  m_BuffCount = buffCount;
  m_state = state;
  m_BuffFullPoint = fullPoint;
  m_BuffNearFullPoint = nearFullPoint;
  FM_TRACE(TRACE_PROGRESS,
           "CCountFC::Init>>m_strCountFCName(%s)m_state(%ld)m_BuffCount(%ld))m_BuffFullPoint(%ld)"
           "m_BuffNearFullPoint(%ld)",
           m_strCountFCName.c_str(), m_state, m_BuffCount, m_BuffFullPoint, m_BuffNearFullPoint);
}

long CCountFC::CheckState(long count, long& oldState, long& newState, long& percent) {
  oldState = m_state;
  if (m_BuffCount <= 0) {
    FM_TRACE(TRACE_ERROR, "CCountFC::CheckState>>m_strCountFCName(%s) invalid m_BuffCount(%ld)",
             m_strCountFCName.c_str(), m_BuffCount);
    newState = m_state;
    percent = 0;
    return FM_INVALID_ARG;
  }
  percent = count * 100 / m_BuffCount;
  if (percent >= m_BuffNearFullPoint) {
    m_state = percent < m_BuffFullPoint ? STATE_NEAR_FULL : STATE_FULL;
  } else {
    m_state = STATE_NORMAL;
  }
  newState = m_state;
  if (oldState != newState) {
    FM_TRACE(TRACE_PROGRESS, "CCountFC::CheckState>>m_strCountFCName(%s)oldState(%ld)newState(%ld)lBuffPoint(%ld)",
             m_strCountFCName.c_str(), oldState, newState, percent);
  }
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// XRFMConditionMutex

std::atomic<XRFMConditionMutex*> XRFMConditionMutex::m_pInstance{nullptr};
ACE_Thread_Mutex XRFMConditionMutex::m_instMutex FM_EARLY_STATIC;
bool XRFMConditionMutex::m_bDelLocks = false;

XRFMConditionMutex* XRFMConditionMutex::instance() {
  XRFMConditionMutex* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_instMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new (std::nothrow) XRFMConditionMutex();
    if (p == nullptr) {
      FM_TRACE(TRACE_ERROR, "XRFMConditionMutex::instance, cannot allocate the keyed locks");
    } else if (m_bDelLocks) {
      FM_TRACE(TRACE_PROGRESS, "XRFMConditionMutex::instance, recreated after destroy");
    }
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void XRFMConditionMutex::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_instMutex);
  XRFMConditionMutex* p = m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
  if (p != nullptr) {
    delete p;
    m_bDelLocks = true;
  }
}

XRFMConditionMutex::XRFMConditionMutex() = default;

XRFMConditionMutex::~XRFMConditionMutex() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapLock);
  m_mapMutex.clear();
}

ACE_RW_Thread_Mutex* XRFMConditionMutex::lockOf(long key, const char* op) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_mapLock);
  auto it = m_mapMutex.find(key);
  if (it != m_mapMutex.end()) return it->second.get();
  ACE_RW_Thread_Mutex* p = nullptr;
  try {
    auto mutex = std::make_unique<ACE_RW_Thread_Mutex>();
    p = mutex.get();
    m_mapMutex.emplace(key, std::move(mutex));
  } catch (const std::exception&) {
    p = nullptr;
  }
  if (p == nullptr) {
    guard.release();
    FM_TRACE(TRACE_ERROR, "XRFMConditionMutex::%s, tmpMutex = NULL.", op);
  }
  return p;
}

long XRFMConditionMutex::tryacquire_read(long key) {
  ACE_RW_Thread_Mutex* mutex = lockOf(key, "tryacquire_read");
  return mutex == nullptr ? -1 : mutex->tryacquire_read();
}

long XRFMConditionMutex::tryacquire_write(long key) {
  ACE_RW_Thread_Mutex* mutex = lockOf(key, "tryacquire_write");
  return mutex == nullptr ? -1 : mutex->tryacquire_write();
}

long XRFMConditionMutex::acquire_write(long key) {
  ACE_RW_Thread_Mutex* mutex = lockOf(key, "acquire_write");
  return mutex == nullptr ? -1 : mutex->acquire_write();
}

long XRFMConditionMutex::release(long key) {
  ACE_RW_Thread_Mutex* mutex = nullptr;
  {
    ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_mapLock);
    auto it = m_mapMutex.find(key);
    if (it != m_mapMutex.end()) mutex = it->second.get();
  }
  if (mutex == nullptr) {
    FM_TRACE(TRACE_ERROR, "XRFMConditionMutex::release, not found.");
    return -1;
  }
  return mutex->release();
}

// ---------------------------------------------------------------------------
// XRFMConditionMutexGuard

XRFMConditionMutexGuard::XRFMConditionMutexGuard() : m_bHolding(false), m_lKey(0) {}

XRFMConditionMutexGuard::~XRFMConditionMutexGuard() {
  if (!m_bHolding) return;
  if (XRFMConditionMutex* locks = XRFMConditionMutex::instance()) locks->release(m_lKey);
  m_bHolding = false;
}

int XRFMConditionMutexGuard::Lock(long key, FM_LockType type) {
  if (m_bHolding) {
    FM_TRACE(TRACE_ERROR, "XRFMConditionMutexGuard::Lock, already holding key %ld, asked for key %ld.", m_lKey,
             key);
    return static_cast<int>(FM_FAILURE);
  }
  XRFMConditionMutex* locks = XRFMConditionMutex::instance();
  if (locks == nullptr) return static_cast<int>(FM_FAILURE);
  m_lKey = key;
  if (type == FM_LOCK_WRITE) {
    if (locks->acquire_write(key) != 0) {
      FM_TRACE(TRACE_ERROR, "XRFMConditionMutexGuard::Lock, acquire_write of key %ld failed.", key);
      return static_cast<int>(FM_FAILURE);
    }
  } else if (locks->tryacquire_read(key) != 0) {
    FM_TRACE(TRACE_ERROR, "XRFMConditionMutexGuard::Lock, database busy.");
    sleepMilliseconds(500);
    if (locks->tryacquire_read(key) != 0) {
      FM_TRACE(TRACE_ERROR, "XRFMConditionMutexGuard::Lock, database still busy.");
      return static_cast<int>(FM_DATABASE_BUSY);
    }
  }
  m_bHolding = true;
  return static_cast<int>(FM_SUCCESS);
}

}  // namespace Kyrofm
