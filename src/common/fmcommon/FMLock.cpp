// FMLock.cpp: the named locks and the two lock monitors.
//
// A monitor is a table of slots guarded by one ACE mutex for what changes the
// table (registration, names, growth) and for the queries. Each slot is a
// separate cache-line-aligned object that never moves, holding its counters in
// atomic words; a lock keeps a pointer to its slot and updates it without the
// monitor mutex. The class statics that guard the singletons are built before
// any ordinary static object of the library (init_priority), so that a Lock
// that is itself a static of another file can register during static
// initialisation.
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

inline uint32_t currentThreadId() {
  if (t_threadId == 0) t_threadId = static_cast<uint32_t>(ACE_OS::thr_gettid());
  return t_threadId;
}

constexpr int kInitialSlots = 100;
constexpr int kGrowSlots = 10;

// The bookkeeping of one kind of access to a slot: the threads waiting for it
// and a word that admission changes, `high` (the holder's thread id, or the
// number of readers inside) beside `admissions` (how many waiting threads were
// admitted so far). A thread that must block adds itself to `arrivals`; the
// waiting count is arrivals - admissions (both wrap alike). Admission is one
// write of the word, so a waiter leaves the count and becomes holder in one
// step, and every bookkeeping step is a single atomic write.
//
// The word of an exclusive holder is written only by the thread holding the
// mutex (after obtaining it, before releasing it): the mutex orders those
// writes, so they are plain stores (setOwned, clearOwned). Every other writer
// (readers, which are inside together, and the monitor's numbered operations)
// uses a compare-and-swap (update).
class AdmissionWord {
 public:
  void reset() {
    m_arrivals.store(0, std::memory_order_relaxed);
    m_word.store(0, std::memory_order_relaxed);
  }
  void announce() { m_arrivals.fetch_add(1, std::memory_order_relaxed); }

  // By the thread holding the mutex: high = tid; one more admission if `admitted`.
  void setOwned(uint32_t tid, bool admitted) {
    const uint64_t w = m_word.load(std::memory_order_relaxed);
    m_word.store(pack(tid, low(w) + (admitted ? 1u : 0u)), std::memory_order_release);
  }
  // By the thread holding the mutex: high = 0 if it is `tid`.
  void clearOwned(uint32_t tid) {
    const uint64_t w = m_word.load(std::memory_order_relaxed);
    if (high(w) == tid) m_word.store(pack(0, low(w)), std::memory_order_release);
  }
  // By any thread: applies `step(high, admissions)` atomically; `step` returns
  // false to leave the word as it is.
  template <typename Step>
  void update(Step step) {
    uint64_t w = m_word.load(std::memory_order_relaxed);
    for (;;) {
      uint32_t h = high(w), admissions = low(w);
      if (!step(h, admissions)) return;
      if (m_word.compare_exchange_weak(w, pack(h, admissions), std::memory_order_release,
                                       std::memory_order_relaxed))
        return;
    }
  }

  // The waiting count and `high` as they stood together at one moment: the
  // word is read before and after the arrivals and the pair is taken when it
  // did not change in between (a few retries at most; a writer busy enough to
  // defeat them gets the last pair read).
  void read(int32_t& waiting, uint32_t& h) const {
    uint64_t w = m_word.load(std::memory_order_acquire);
    uint32_t arrivals = 0;
    for (int tries = 0; tries < 64; ++tries) {
      arrivals = m_arrivals.load(std::memory_order_acquire);
      const uint64_t again = m_word.load(std::memory_order_acquire);
      if (again == w) break;
      w = again;
    }
    waiting = static_cast<int32_t>(arrivals - low(w));
    h = high(w);
  }

 private:
  static uint64_t pack(uint32_t h, uint32_t admissions) { return (static_cast<uint64_t>(h) << 32) | admissions; }
  static uint32_t high(uint64_t w) { return static_cast<uint32_t>(w >> 32); }
  static uint32_t low(uint64_t w) { return static_cast<uint32_t>(w); }

  std::atomic<uint32_t> m_arrivals{0};
  std::atomic<uint64_t> m_word{0};
};

// The lowest free slot of a monitor's table; when none is free the table grows
// by kGrowSlots free slots and the first of them is taken. Under the monitor
// mutex.
template <typename SlotT>
int takeFreeSlot(std::vector<std::unique_ptr<SlotT>>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i]->status.load(std::memory_order_relaxed) == FM_LOCK_SLOT_FREE) return static_cast<int>(i);
  }
  const size_t first = items.size();
  items.reserve(first + kGrowSlots);
  for (int i = 0; i < kGrowSlots; ++i) items.push_back(std::make_unique<SlotT>());
  return static_cast<int>(first);
}

template <typename SlotT>
std::vector<std::unique_ptr<SlotT>> makeSlots() {
  std::vector<std::unique_ptr<SlotT>> items;
  items.reserve(kInitialSlots);
  for (int i = 0; i < kInitialSlots; ++i) items.push_back(std::make_unique<SlotT>());
  return items;
}

}  // namespace

uint32_t FMCurrentThreadId() { return currentThreadId(); }

// One slot of the Lock_Monitor table. `status` is written under the monitor
// mutex and read anywhere; `name` is read and written under the monitor mutex
// only; `state` holds waiting and holder. Aligned to a cache line so that two
// busy locks do not share one.
struct alignas(64) Lock_Monitor::Slot {
  std::atomic<int32_t> status{FM_LOCK_SLOT_FREE};
  AdmissionWord state;
  std::string name;

  bool registered() const { return status.load(std::memory_order_relaxed) == FM_LOCK_SLOT_REGISTERED; }
  // Each step does nothing to a free slot.
  void announce() {
    if (registered()) state.announce();
  }
  // The Lock's own steps, by the thread holding the mutex: it obtained the
  // mutex after announcing itself (`waited`) or at the first try; it is about
  // to release the mutex.
  void enter(uint32_t self, bool waited) {
    if (registered()) state.setOwned(self, waited);
  }
  void leave(uint32_t self) {
    if (registered()) state.clearOwned(self);
  }
  // The same steps by a thread that may not hold the mutex.
  void enterShared(uint32_t self, bool waited) {
    if (registered()) state.update([&](uint32_t& holder, uint32_t& admissions) {
      holder = self;
      admissions += waited ? 1u : 0u;
      return true;
    });
  }
  void leaveShared(uint32_t self) {
    if (registered()) state.update([&](uint32_t& holder, uint32_t&) {
      if (holder != self) return false;
      holder = 0;
      return true;
    });
  }
};

// One slot of the RW_Lock_Monitor table: as Lock_Monitor::Slot, with
// read_waiting and readers in `reads` (readers are inside together: every
// step is a compare-and-swap) and write_waiting and writer in `writes` (the
// writer's own steps are plain stores, as a Lock's).
struct alignas(64) RW_Lock_Monitor::Slot {
  std::atomic<int32_t> status{FM_LOCK_SLOT_FREE};
  AdmissionWord reads;
  AdmissionWord writes;
  std::string name;

  bool registered() const { return status.load(std::memory_order_relaxed) == FM_LOCK_SLOT_REGISTERED; }

  void announceRead() {
    if (registered()) reads.announce();
  }
  void readerIn(bool waited) {
    if (registered()) reads.update([&](uint32_t& readers, uint32_t& admissions) {
      ++readers;
      admissions += waited ? 1u : 0u;
      return true;
    });
  }
  void readerOut() {
    if (registered()) reads.update([](uint32_t& readers, uint32_t&) { return --readers, true; });
  }
  void announceWrite() {
    if (registered()) writes.announce();
  }
  void writerIn(uint32_t self, bool waited) {
    if (registered()) writes.setOwned(self, waited);
  }
  void writerOut(uint32_t self) {
    if (registered()) writes.clearOwned(self);
  }
  void writerInShared(uint32_t self, bool waited) {
    if (registered()) writes.update([&](uint32_t& writer, uint32_t& admissions) {
      writer = self;
      admissions += waited ? 1u : 0u;
      return true;
    });
  }
  void writerOutShared(uint32_t self) {
    if (registered()) writes.update([&](uint32_t& writer, uint32_t&) {
      if (writer != self) return false;
      writer = 0;
      return true;
    });
  }
};

// ---------------------------------------------------------------------------
// Lock_Monitor

std::atomic<Lock_Monitor*> Lock_Monitor::_instance{nullptr};
std::atomic<unsigned> Lock_Monitor::m_uLiveGeneration{0};
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
    m_uLiveGeneration.store(p != nullptr ? p->m_uGeneration : 0, std::memory_order_release);
  }
  return p;
}

void Lock_Monitor::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  m_uLiveGeneration.store(0, std::memory_order_release);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

Lock_Monitor::Lock_Monitor(unsigned generation) : m_uGeneration(generation), m_items(makeSlots<Slot>()) {}

Lock_Monitor::~Lock_Monitor() = default;

int Lock_Monitor::register_slot(const char* name, Slot*& slot) {
  int num = -1;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    num = takeFreeSlot(m_items);
    slot = m_items[num].get();
    slot->name = name != nullptr ? name : "";
    slot->state.reset();
    slot->status.store(FM_LOCK_SLOT_REGISTERED, std::memory_order_release);
  }
  FM_TRACE(TRACE_DETAIL, "Lock_Monitor::register_lock, lock \"%s\" is created by thread %d",
           name != nullptr ? name : "", static_cast<int>(currentThreadId()));
  return num;
}

int Lock_Monitor::register_lock(const char* name) {
  Slot* slot = nullptr;
  return register_slot(name, slot);
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
    m_items[num]->status.store(FM_LOCK_SLOT_FREE, std::memory_order_release);
    if (KyroTrace::enabled(TRACE_DETAIL)) name = m_items[num]->name;
  }
  FM_TRACE(TRACE_DETAIL, "Lock_Monitor::unregister_lock, lock \"%s\" is released by thread %d",
           name.c_str(), static_cast<int>(currentThreadId()));
}

void Lock_Monitor::change_lock_name(int num, const char* name) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || num >= static_cast<int>(m_items.size())) {
    guard.release();
    FM_TRACE(TRACE_ERROR, "Lock_Monitor::change_lock_name, invalid lock num:%d", num);
    return;
  }
  m_items[num]->name = name != nullptr ? name : "";
}

Lock_Monitor::Slot* Lock_Monitor::registered_slot(int num) {
  if (num < 0 || static_cast<size_t>(num) >= m_items.size()) return nullptr;
  Slot* slot = m_items[num].get();
  return slot->registered() ? slot : nullptr;
}

void Lock_Monitor::try_acquire(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->announce();
}

void Lock_Monitor::acquire(int num) {
  const uint32_t self = currentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->enterShared(self, true);
}

// The mutex is released before the monitor is told, so the next holder may
// already have recorded itself: only the releasing thread's own record is
// cleared, never a successor's.
void Lock_Monitor::release(int num) {
  const uint32_t self = currentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->leaveShared(self);
}

void Lock_Monitor::get_lock_info(const std::vector<std::string>& names, std::vector<Lock_Item_t>& out) {
  out.clear();
  auto copy = [&out](const Slot& slot) {
    Lock_Item_t item;
    item.name = slot.name;
    item.status = slot.status.load(std::memory_order_relaxed);
    slot.state.read(item.waiting, item.holder);
    out.push_back(std::move(item));
  };
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (names.empty()) {
    for (const auto& slot : m_items) {
      if (slot->status.load(std::memory_order_relaxed) != FM_LOCK_SLOT_FREE) copy(*slot);
    }
    return;
  }
  for (const auto& name : names) {
    for (const auto& slot : m_items) {
      if (slot->name == name) {
        copy(*slot);
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// RW_Lock_Monitor

std::atomic<RW_Lock_Monitor*> RW_Lock_Monitor::_instance{nullptr};
std::atomic<unsigned> RW_Lock_Monitor::m_uLiveGeneration{0};
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
    m_uLiveGeneration.store(p != nullptr ? p->m_uGeneration : 0, std::memory_order_release);
  }
  return p;
}

void RW_Lock_Monitor::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_dmtx);
  m_uLiveGeneration.store(0, std::memory_order_release);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

RW_Lock_Monitor::RW_Lock_Monitor(unsigned generation) : m_uGeneration(generation), m_items(makeSlots<Slot>()) {}

RW_Lock_Monitor::~RW_Lock_Monitor() = default;

int RW_Lock_Monitor::register_slot(const char* name, Slot*& slot) {
  int num = -1;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
    num = takeFreeSlot(m_items);
    slot = m_items[num].get();
    slot->name = name != nullptr ? name : "";
    slot->reads.reset();
    slot->writes.reset();
    slot->status.store(FM_LOCK_SLOT_REGISTERED, std::memory_order_release);
  }
  FM_TRACE(TRACE_DETAIL, "RW_Lock_Monitor::register_lock, lock \"%s\" is created by thread %d",
           name != nullptr ? name : "", static_cast<int>(currentThreadId()));
  return num;
}

int RW_Lock_Monitor::register_lock(const char* name) {
  Slot* slot = nullptr;
  return register_slot(name, slot);
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
    m_items[num]->status.store(FM_LOCK_SLOT_FREE, std::memory_order_release);
    if (KyroTrace::enabled(TRACE_DETAIL)) name = m_items[num]->name;
  }
  FM_TRACE(TRACE_DETAIL, "RW_Lock_Monitor::unregister_lock, lock \"%s\" is released by thread %d",
           name.c_str(), static_cast<int>(currentThreadId()));
}

void RW_Lock_Monitor::change_lock_name(int num, const char* name) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (num < 0 || num >= static_cast<int>(m_items.size())) {
    guard.release();
    // The reader/writer monitor logs the same text as Lock_Monitor.
    FM_TRACE(TRACE_ERROR, "Lock_Monitor::change_lock_name, invalid lock num:%d", num);
    return;
  }
  m_items[num]->name = name != nullptr ? name : "";
}

RW_Lock_Monitor::Slot* RW_Lock_Monitor::registered_slot(int num) {
  if (num < 0 || static_cast<size_t>(num) >= m_items.size()) return nullptr;
  Slot* slot = m_items[num].get();
  return slot->registered() ? slot : nullptr;
}

void RW_Lock_Monitor::try_acquire_read(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->announceRead();
}

void RW_Lock_Monitor::acquire_read(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->readerIn(true);
}

void RW_Lock_Monitor::release_read(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->readerOut();
}

void RW_Lock_Monitor::try_acquire_write(int num) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->announceWrite();
}

void RW_Lock_Monitor::acquire_write(int num) {
  const uint32_t self = currentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->writerInShared(self, true);
}

// As Lock_Monitor::release: a successor's record is never cleared.
void RW_Lock_Monitor::release_write(int num) {
  const uint32_t self = currentThreadId();
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (Slot* slot = registered_slot(num)) slot->writerOutShared(self);
}

void RW_Lock_Monitor::get_lock_info(const std::vector<std::string>& names,
                                    std::vector<RW_Lock_Item_t>& out) {
  out.clear();
  auto copy = [&out](const Slot& slot) {
    RW_Lock_Item_t item;
    item.name = slot.name;
    item.status = slot.status.load(std::memory_order_relaxed);
    uint32_t readers = 0;
    slot.reads.read(item.read_waiting, readers);
    item.readers = static_cast<int32_t>(readers);
    slot.writes.read(item.write_waiting, item.writer);
    out.push_back(std::move(item));
  };
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (names.empty()) {
    for (const auto& slot : m_items) {
      if (slot->status.load(std::memory_order_relaxed) != FM_LOCK_SLOT_FREE) copy(*slot);
    }
    return;
  }
  for (const auto& name : names) {
    for (const auto& slot : m_items) {
      if (slot->name == name) {
        copy(*slot);
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Lock

Lock::Lock(const char* name) : m_iLockNum(-1), m_uGeneration(0), m_pSlot(nullptr), m_mutex(name) {
  if (Lock_Monitor* monitor = Lock_Monitor::instance()) {
    m_iLockNum = monitor->register_slot(name != nullptr ? name : "unknown lock", m_pSlot);
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

// A thread that gets the mutex at the first try never waited: it records
// itself as holder in one store. Otherwise it is counted as waiting before it
// blocks and, once admitted, leaves the count and becomes holder in one store.
// The slot is looked up again after the wait, which may be long (the look-up
// is one atomic load and a compare). The monitor is told also when the mutex
// call failed (then without holding the mutex, so by compare-and-swap).
int Lock::acquire() {
  Lock_Monitor::Slot* s = slot();
  if (s == nullptr) return m_mutex.acquire();
  const uint32_t self = currentThreadId();
  if (m_mutex.tryacquire() == 0) {
    s->enter(self, false);
    return 0;
  }
  s->announce();
  const int rc = m_mutex.acquire();
  if ((s = slot()) != nullptr) {
    if (rc == 0) s->enter(self, true); else s->enterShared(self, true);
  }
  return rc;
}

// The holder is cleared while the mutex is still held, so the record is only
// ever written by the thread inside and a successor's record is never lost.
int Lock::release() {
  if (Lock_Monitor::Slot* s = slot()) s->leave(currentThreadId());
  return m_mutex.release();
}

// ---------------------------------------------------------------------------
// RW_Lock

RW_Lock::RW_Lock(const char* name) : m_iLockNum(-1), m_uGeneration(0), m_pSlot(nullptr), m_mutex(name) {
  if (RW_Lock_Monitor* monitor = RW_Lock_Monitor::instance()) {
    m_iLockNum = monitor->register_slot(name != nullptr ? name : "unknown rw lock", m_pSlot);
    m_uGeneration = monitor->generation();
  }
}

RW_Lock::~RW_Lock() {
  if (RW_Lock_Monitor* m = monitor()) m->unregister_lock(m_iLockNum);
}

void RW_Lock::set_name(const char* name) {
  if (RW_Lock_Monitor* m = monitor()) m->change_lock_name(m_iLockNum, name);
}

// As Lock::acquire.
int RW_Lock::acquire_read() {
  RW_Lock_Monitor::Slot* s = slot();
  if (s == nullptr) return m_mutex.acquire_read();
  if (m_mutex.tryacquire_read() == 0) {
    s->readerIn(false);
    return 0;
  }
  s->announceRead();
  const int rc = m_mutex.acquire_read();
  if ((s = slot()) != nullptr) s->readerIn(true);
  return rc;
}

int RW_Lock::acquire_write() {
  RW_Lock_Monitor::Slot* s = slot();
  if (s == nullptr) return m_mutex.acquire_write();
  const uint32_t self = currentThreadId();
  if (m_mutex.tryacquire_write() == 0) {
    s->writerIn(self, false);
    return 0;
  }
  s->announceWrite();
  const int rc = m_mutex.acquire_write();
  if ((s = slot()) != nullptr) {
    if (rc == 0) s->writerIn(self, true); else s->writerInShared(self, true);
  }
  return rc;
}

// As Lock::release: the slot is told while the access is still held, so a
// writer admitted next never shows beside a reader that already left.
int RW_Lock::release_read() {
  if (RW_Lock_Monitor::Slot* s = slot()) s->readerOut();
  return m_mutex.release();
}

int RW_Lock::release_write() {
  if (RW_Lock_Monitor::Slot* s = slot()) s->writerOut(currentThreadId());
  return m_mutex.release();
}

// ---------------------------------------------------------------------------
// Condition

Condition::Condition(Lock& lock) : m_cond(lock.m_mutex) {}

int Condition::wait() { return m_cond.wait(); }

int Condition::signal() { return m_cond.signal(); }

}  // namespace Kyrofm
