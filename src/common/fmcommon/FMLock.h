// FMLock.h: named locks that register in the process-wide lock monitors.
//
// Every mutex and reader/writer lock of the service that someone may need to
// inspect in a running server is a `Lock` or an `RW_Lock`. On construction it
// takes a slot in its monitor (`Lock_Monitor` or `RW_Lock_Monitor`) and keeps
// the slot index, its lock number, until it is destroyed. Each acquire and
// release updates that slot, so a diagnostic caller can ask at any moment which
// locks exist, how many threads are about to wait on each and which thread
// holds it (`get_lock_info`). The monitors only record: they never time, break
// or report a lock on their own.
//
// Ownership: a lock owns its ACE mutex; a monitor owns its table and the slots
// in it; the monitors are singletons that live from the first `instance()`
// until `destroy()`. `destroy()` is meant for the end of the process. A lock
// remembers which incarnation of its monitor it registered with: a lock that
// outlives `destroy()` is no longer monitored (its bookkeeping and
// unregistration are skipped, so it never touches a slot that the next monitor
// handed to another lock, and it does not build a new monitor just to be
// destroyed); locks constructed after `destroy()` register in a new, empty
// monitor.
//
// Threads: any thread may construct, use and destroy locks and call every
// monitor operation. The monitor mutex guards the table (registration, names,
// growth, queries); it is not on the locks' acquire and release paths, and a
// lock's mutex and the monitor mutex are never held together. Each slot keeps
// its counters in atomic words at an address that stays fixed while the
// monitor lives (the table grows by adding slots, never by moving them), and a
// lock updates its own slot directly. Every bookkeeping step is one atomic
// write, including the step of a waiter that is admitted (waiting - 1 and
// holder = that thread together), and a query reads each slot's waiting count
// and holder (an RW_Lock's read_waiting and readers, and its write_waiting and
// writer) as they stood together at one moment, so it never shows half of a
// hand-over.
//
// Cost: an acquire that gets the mutex at once records the holder with one
// plain store (the thread inside is the only writer of that record) and is
// never counted as waiting (it never waited); an acquire that must block adds
// itself to the waiting count before it blocks and, once admitted, records
// itself as holder. A release clears the holder while the mutex is still held,
// then releases the mutex: the slot never shows as holder a thread that has
// left, and a successor's record can never be overwritten. Readers of an
// RW_Lock share their count and pay one compare-and-swap per acquire and per
// release. Neither path allocates, touches strings or takes the monitor mutex.
#ifndef FM_FMCOMMON_FMLOCK_H
#define FM_FMCOMMON_FMLOCK_H

#include <ace/Condition_Thread_Mutex.h>
#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kyrofm {

// The operating-system id of the calling thread (Linux: gettid), cached per
// thread. This is the thread id that the lock and task monitors record and log.
uint32_t FMCurrentThreadId();

// Slot states of the monitor tables.
enum FMLockSlotStatus {
  FM_LOCK_SLOT_FREE = 1,
  FM_LOCK_SLOT_REGISTERED = 2,
};

// One slot of the Lock_Monitor table.
struct Lock_Item_t {
  std::string name;      // as registered, or as last set by change_lock_name
  int32_t waiting = 0;   // threads that announced an acquire and do not hold it yet
  int32_t status = FM_LOCK_SLOT_FREE;
  uint32_t holder = 0;   // thread id of the last thread that obtained it; 0 when not held
};

// One slot of the RW_Lock_Monitor table.
struct RW_Lock_Item_t {
  std::string name;
  int32_t read_waiting = 0;   // announced for read access, not yet admitted
  int32_t write_waiting = 0;  // announced for write access, not yet admitted
  int32_t readers = 0;        // threads holding read access now
  int32_t status = FM_LOCK_SLOT_FREE;
  uint32_t writer = 0;        // thread id of the write holder; 0 when none
};

// Process-wide table of the registered `Lock` objects. The slot index is the
// lock number: stable while the lock is registered; slots are never removed,
// only marked free and reused (lowest free slot first). A freed slot keeps its
// last name and counters until it is registered again.
class Lock_Monitor {
 public:
  // The singleton; created on first call. Null only when it cannot be allocated.
  static Lock_Monitor* instance() {
    Lock_Monitor* p = _instance.load(std::memory_order_acquire);
    return p != nullptr ? p : create();
  }
  // The singleton if it exists; never creates it.
  static Lock_Monitor* current() { return _instance.load(std::memory_order_acquire); }
  // Incarnation of this monitor: 1 for the first, one more after each destroy().
  unsigned generation() const { return m_uGeneration; }
  // Deletes the singleton (if any); a later instance() builds an empty one.
  static void destroy();

  virtual ~Lock_Monitor();

  // Takes the lowest free slot (growing the table by 10 when none is free),
  // names it `name` (null counts as "") and returns its number.
  int register_lock(const char* name);
  // Marks slot `num` free; an out-of-range number is logged and ignored.
  void unregister_lock(int num);
  // Renames slot `num`, registered or free; out of range: logged, ignored.
  void change_lock_name(int num, const char* name);

  // Bookkeeping of the acquire protocol, for callers that hold only a lock
  // number (a Lock updates its slot directly, the same way); each does nothing
  // unless `num` is a registered slot. try_acquire: waiting + 1 (before the
  // mutex is requested); acquire: waiting - 1 and holder = calling thread, in
  // one step (after it was obtained); release: holder = 0 when the calling
  // thread is the recorded holder (it is told after the mutex was released,
  // when a successor may already have recorded itself; that record must stay).
  void try_acquire(int num);
  void acquire(int num);
  void release(int num);

  // Fills `out` (cleared first) under the monitor mutex, so no slot is
  // registered, freed or renamed meanwhile; each slot's counters are read as
  // they stand at that moment (locks go on being used). With `names` empty, a copy of every registered slot in slot order; otherwise,
  // for each name in list order, a copy of the first slot bearing exactly that
  // name, registered or free (unknown names add nothing, repeated names repeat).
  void get_lock_info(const std::vector<std::string>& names, std::vector<Lock_Item_t>& out);

  Lock_Monitor(const Lock_Monitor&) = delete;
  Lock_Monitor& operator=(const Lock_Monitor&) = delete;

 private:
  friend class Lock;
  // One slot: its status and counters in atomic words, its name under m_mutex.
  // Defined in FMLock.cpp.
  struct Slot;

  explicit Lock_Monitor(unsigned generation);
  // Slow path of instance(): takes m_dmtx, tests again, builds and publishes.
  static Lock_Monitor* create();
  // register_lock that also hands out the slot itself, for a Lock to update
  // directly; the slot stays where it is until this monitor is destroyed.
  int register_slot(const char* name, Slot*& slot);
  // The registered slot `num`, or null (out of range or free). Under m_mutex.
  Slot* registered_slot(int num);

  const unsigned m_uGeneration;
  ACE_Thread_Mutex m_mutex;                   // guards the vector m_items and the names
  std::vector<std::unique_ptr<Slot>> m_items; // index = lock number

  static std::atomic<Lock_Monitor*> _instance;
  // Generation of the monitor published in _instance, 0 when there is none:
  // what a Lock compares with its own on every acquire and release.
  static std::atomic<unsigned> m_uLiveGeneration;
  static ACE_Thread_Mutex m_dmtx;     // guards creation and destruction of _instance
  static unsigned m_uCreated;         // monitors created so far (under m_dmtx)
};

// Process-wide table of the registered `RW_Lock` objects; same rules as
// Lock_Monitor.
class RW_Lock_Monitor {
 public:
  static RW_Lock_Monitor* instance() {
    RW_Lock_Monitor* p = _instance.load(std::memory_order_acquire);
    return p != nullptr ? p : create();
  }
  // The singleton if it exists; never creates it.
  static RW_Lock_Monitor* current() { return _instance.load(std::memory_order_acquire); }
  // Incarnation of this monitor: 1 for the first, one more after each destroy().
  unsigned generation() const { return m_uGeneration; }
  static void destroy();

  virtual ~RW_Lock_Monitor();

  int register_lock(const char* name);
  void unregister_lock(int num);
  void change_lock_name(int num, const char* name);

  // Bookkeeping (registered slots only): try_acquire_read read_waiting + 1;
  // acquire_read read_waiting - 1 and readers + 1; release_read readers - 1;
  // try_acquire_write write_waiting + 1; acquire_write write_waiting - 1 and
  // writer = calling thread; release_write writer = 0 when the calling thread
  // is the recorded writer (as Lock_Monitor::release).
  void try_acquire_read(int num);
  void acquire_read(int num);
  void release_read(int num);
  void try_acquire_write(int num);
  void acquire_write(int num);
  void release_write(int num);

  // As Lock_Monitor::get_lock_info.
  void get_lock_info(const std::vector<std::string>& names, std::vector<RW_Lock_Item_t>& out);

  RW_Lock_Monitor(const RW_Lock_Monitor&) = delete;
  RW_Lock_Monitor& operator=(const RW_Lock_Monitor&) = delete;

 private:
  friend class RW_Lock;
  struct Slot;  // as Lock_Monitor::Slot; defined in FMLock.cpp

  explicit RW_Lock_Monitor(unsigned generation);
  // Slow path of instance(): takes m_dmtx, tests again, builds and publishes.
  static RW_Lock_Monitor* create();
  int register_slot(const char* name, Slot*& slot);
  Slot* registered_slot(int num);

  const unsigned m_uGeneration;
  ACE_Thread_Mutex m_mutex;
  std::vector<std::unique_ptr<Slot>> m_items;

  static std::atomic<RW_Lock_Monitor*> _instance;
  static std::atomic<unsigned> m_uLiveGeneration;
  static ACE_Thread_Mutex m_dmtx;
  static unsigned m_uCreated;  // monitors created so far (under m_dmtx)
};

// A named, monitored, non-recursive thread mutex.
class Lock {
 public:
  // Registers under `name`, or "unknown lock" when `name` is null, and logs the
  // number it got.
  explicit Lock(const char* name = nullptr);
  // Unregisters its number, then destroys the mutex. Must not be held.
  virtual ~Lock();

  // Renames the lock's slot.
  void set_name(const char* name);

  // Takes the mutex and records the calling thread as holder. A thread that
  // finds the mutex taken is counted as waiting while it blocks. Returns the
  // mutex's result (0, or -1 with errno).
  int acquire();
  // Clears the holder if it is the calling thread, then releases the mutex.
  // Returns the mutex's result.
  int release();

  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  friend class Condition;

  // The monitor this lock registered with, or null when it is gone.
  Lock_Monitor* monitor() const {
    Lock_Monitor* m = Lock_Monitor::current();
    return m != nullptr && m->generation() == m_uGeneration ? m : nullptr;
  }
  // This lock's slot while the monitor it registered with lives, else null.
  Lock_Monitor::Slot* slot() const {
    return Lock_Monitor::m_uLiveGeneration.load(std::memory_order_acquire) == m_uGeneration ? m_pSlot : nullptr;
  }

  int m_iLockNum;
  unsigned m_uGeneration;        // incarnation of the monitor that issued m_iLockNum (0: none)
  Lock_Monitor::Slot* m_pSlot;   // slot m_iLockNum of that monitor (null: none)
  ACE_Thread_Mutex m_mutex;
};

// A named, monitored reader/writer thread mutex (not recursive for writers).
class RW_Lock {
 public:
  // Registers under `name`, or "unknown rw lock" when `name` is null.
  explicit RW_Lock(const char* name = nullptr);
  virtual ~RW_Lock();

  void set_name(const char* name);

  // As Lock::acquire/release, with the read or write bookkeeping (a thread
  // admitted at once is never counted as waiting). Both release
  // operations release the mutex the same way; they differ in the monitor call,
  // so a reader must call release_read and a writer release_write.
  int acquire_read();
  int acquire_write();
  int release_read();
  int release_write();

  RW_Lock(const RW_Lock&) = delete;
  RW_Lock& operator=(const RW_Lock&) = delete;

 private:
  RW_Lock_Monitor* monitor() const {
    RW_Lock_Monitor* m = RW_Lock_Monitor::current();
    return m != nullptr && m->generation() == m_uGeneration ? m : nullptr;
  }
  RW_Lock_Monitor::Slot* slot() const {
    return RW_Lock_Monitor::m_uLiveGeneration.load(std::memory_order_acquire) == m_uGeneration ? m_pSlot : nullptr;
  }

  int m_iLockNum;
  unsigned m_uGeneration;
  RW_Lock_Monitor::Slot* m_pSlot;
  ACE_RW_Thread_Mutex m_mutex;
};

// Holds a Lock for its scope (no early release).
class Lock_Guard {
 public:
  explicit Lock_Guard(Lock& lock) : m_lock(lock) { m_lock.acquire(); }
  ~Lock_Guard() { m_lock.release(); }
  Lock_Guard(const Lock_Guard&) = delete;
  Lock_Guard& operator=(const Lock_Guard&) = delete;

 private:
  Lock& m_lock;
};

// Holds read access to an RW_Lock for its scope.
class Read_Lock_Guard {
 public:
  explicit Read_Lock_Guard(RW_Lock& lock) : m_lock(lock) { m_lock.acquire_read(); }
  ~Read_Lock_Guard() { m_lock.release_read(); }
  Read_Lock_Guard(const Read_Lock_Guard&) = delete;
  Read_Lock_Guard& operator=(const Read_Lock_Guard&) = delete;

 private:
  RW_Lock& m_lock;
};

// Holds write access to an RW_Lock for its scope.
class Write_Lock_Guard {
 public:
  explicit Write_Lock_Guard(RW_Lock& lock) : m_lock(lock) { m_lock.acquire_write(); }
  ~Write_Lock_Guard() { m_lock.release_write(); }
  Write_Lock_Guard(const Write_Lock_Guard&) = delete;
  Write_Lock_Guard& operator=(const Write_Lock_Guard&) = delete;

 private:
  RW_Lock& m_lock;
};

// A condition variable over the inner mutex of a Lock. The Lock must outlive
// it. Neither operation touches the monitor: a thread waiting here still shows
// as the lock's holder.
class Condition {
 public:
  explicit Condition(Lock& lock);

  // Waits without time limit; the caller holds the lock (as with any
  // condition, it may wake spuriously: re-test the predicate). Returns 0 or -1.
  int wait();
  // Wakes one waiter. Returns 0 or -1.
  int signal();

  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

 private:
  ACE_Condition_Thread_Mutex m_cond;
};

}  // namespace Kyrofm

#endif
