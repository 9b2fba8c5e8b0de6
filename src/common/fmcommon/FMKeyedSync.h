// FMKeyedSync.h: synchronisation looked up by key, counters and throttles.
//
// Beside the named locks of FMLock.h the service needs synchronisation that is
// found by a key at run time rather than owned by an object:
//   - CFMMutexGuard: a recursive thread mutex per string key;
//   - CFMSemaphoreGuard: a counting semaphore per string key;
//   - XRFMConditionMutex / XRFMConditionMutexGuard: a reader/writer lock per
//     numeric key whose readers give up when the writer (the database side)
//     keeps it for more than half a second;
//   - CFMCountRef / CFMCountRefGuard and CFMCounter: counts of work in progress
//     (process-wide, and per key) that a shutdown path waits on until every
//     holder has left;
//   - CFMDelayCounter (sleeps every N-th call) and CCountFC (buffer-fill state
//     machine with near-full and full thresholds).
//
// Ownership: the keyed objects are created on first use of their key, owned by
// their class's static map (or singleton) and live until that class's
// `destroy` (or the end of the process); keys are never removed one by one.
// Destroying a map while a guard on one of its objects is alive is the
// caller's error: do it only at shutdown.
//
// Threads: every operation may be called from any thread, except that one
// CFMDelayCounter or CCountFC object must be used by one thread at a time.
// Map look-ups take the map's reader/writer lock with a read-then-write double
// check, so concurrent first use of a key creates exactly one object.
#ifndef FM_FMCOMMON_FMKEYEDSYNC_H
#define FM_FMCOMMON_FMKEYEDSYNC_H

#include <ace/RW_Thread_Mutex.h>
#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>
#include <ace/Thread_Semaphore.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>

namespace Kyrofm {

// Result of XRFMConditionMutexGuard::Lock when the read lock stayed busy:
// the database side is busy, the caller must not proceed.
constexpr long FM_DATABASE_BUSY = 33906;

// Process-wide count of work in progress (for example requests being served),
// which a shutdown path waits on. Use it through CFMCountRefGuard.
class CFMCountRef {
 public:
  static CFMCountRef* instance();
  static void destroy();
  virtual ~CFMCountRef();

  // Adds 1.
  void increaseRefCount();
  // Subtracts 1 unless the count is already 0 (it never goes negative).
  void decreaseRefCount();
  // The current count (logged at detail level).
  int getRefCount();
  // Returns as soon as the count is 0, polling once a second; gives up after
  // `seconds` polls, logging that it gave up.
  void wait(int seconds);

  CFMCountRef(const CFMCountRef&) = delete;
  CFMCountRef& operator=(const CFMCountRef&) = delete;

 private:
  CFMCountRef();

  ACE_Thread_Mutex m_mutex;
  int m_countRef;

  static std::atomic<CFMCountRef*> _instance;
  static ACE_Thread_Mutex m_dmtx;
};

// Counts one unit of work on CFMCountRef for its lifetime. Each copy counts
// once more.
class CFMCountRefGuard {
 public:
  CFMCountRefGuard();
  CFMCountRefGuard(const CFMCountRefGuard& other);
  CFMCountRefGuard& operator=(const CFMCountRefGuard& other);
  virtual ~CFMCountRefGuard();
};

// A share of a per-key total: the object adds its count to the key's total and
// takes it back when destroyed. getTotalCount/waitkey let a shutdown path wait
// until all work under a key has left. Totals live for the process (a key that
// returns to 0 stays in the map). Not copyable: a copy would give back twice.
class CFMCounter {
 public:
  // Adds `count` to the total of `key` (0 adds nothing).
  CFMCounter(const std::string& key, long count);
  // Takes back everything this object added.
  ~CFMCounter();

  // Adds `count` to this object's share and to the key's total; returns the
  // new total (0 at once when count is 0).
  long addCount(long count);
  // Adds `count` to the total of `key` without an owning object; returns the
  // new total.
  static long addCount(const std::string& key, long count);
  // The total of `key`, 0 when the key was never used.
  static long getTotalCount(const std::string& key);
  // Returns as soon as the total of `key` is <= 0, polling once a second;
  // gives up after `seconds` polls, logging that it gave up.
  static void waitkey(const std::string& key, int seconds);

  CFMCounter(const CFMCounter&) = delete;
  CFMCounter& operator=(const CFMCounter&) = delete;

 private:
  long m_lCount;
  std::string m_strKey;

  static std::map<std::string, long> m_sKey2Count;
  static ACE_Thread_Mutex m_toalCountMutex;
};

// A throttle: every `period`-th call of IncreaseCount sleeps `delay` seconds.
// Inert when period < 1 or delay <= 0.
class CFMDelayCounter {
 public:
  CFMDelayCounter(long period, long delay);
  void IncreaseCount();

 private:
  long m_lCount;
  long m_lPeriod;
  long m_lDelay;
};

// Holds the recursive mutex of a string key for its scope; the same thread may
// nest guards on one key.
class CFMMutexGuard {
 public:
  explicit CFMMutexGuard(const std::string& key);
  ~CFMMutexGuard();

  // The mutex of `key`, created on first use; null only when it cannot be
  // allocated. Owned by the map.
  static ACE_Recursive_Thread_Mutex* getMutex(const std::string& key);
  // Deletes every keyed mutex (shutdown only: no guard may be alive).
  static void destroy();

  CFMMutexGuard(const CFMMutexGuard&) = delete;
  CFMMutexGuard& operator=(const CFMMutexGuard&) = delete;

 private:
  std::string m_strKey;
  ACE_Recursive_Thread_Mutex* m_pMutex;

  static std::map<std::string, std::unique_ptr<ACE_Recursive_Thread_Mutex>> m_sKey2Mutex;
  static ACE_RW_Thread_Mutex m_mapMutex;
};

// Holds one unit of the counting semaphore of a string key for its scope. A
// key's semaphore starts at 0: guards block until initSemaphore(key, n) lets n
// holders in.
class CFMSemaphoreGuard {
 public:
  // Blocks until a unit is available.
  explicit CFMSemaphoreGuard(const std::string& key);
  // Gives the unit back.
  ~CFMSemaphoreGuard();

  // The semaphore of `key`, created with count 0 on first use; null only when
  // it cannot be allocated. Owned by the map.
  static ACE_Thread_Semaphore* getSemaphore(const std::string& key);
  // Releases the key's semaphore `count` times.
  static void initSemaphore(const std::string& key, long count);
  // Deletes every keyed semaphore (shutdown only: no guard may be alive).
  static void destroy();

  CFMSemaphoreGuard(const CFMSemaphoreGuard&) = delete;
  CFMSemaphoreGuard& operator=(const CFMSemaphoreGuard&) = delete;

 private:
  std::string m_strKey;
  ACE_Thread_Semaphore* m_pSemaphore;

  static std::map<std::string, std::unique_ptr<ACE_Thread_Semaphore>> m_sKey2Semaphore;
  static ACE_RW_Thread_Mutex m_mapMutex;
};

// Buffer-fill state machine. The fill percentage is count * 100 / capacity;
// the state is 0 (normal) below the near-full point, 1 (near full) from the
// near-full point up to the full point, 2 (full) from the full point up. The
// state drops straight back to normal below the near-full point.
class CCountFC {
 public:
  enum State { STATE_NORMAL = 0, STATE_NEAR_FULL = 1, STATE_FULL = 2 };

  // Defaults: capacity 60, full at 80 %, near full at 60 %, state normal.
  explicit CCountFC(const std::string& name);

  // Sets capacity, state, full point and near-full point (percent).
  void Init(long buffCount, long state, long fullPoint, long nearFullPoint);
  // Moves the state machine for a fill of `count` items; reports the state
  // before and after and the percentage; logs a change of state. Returns 33000,
  // or 33021 (nothing changes, outputs are the current state and 0 %) when the
  // capacity is not positive.
  long CheckState(long count, long& oldState, long& newState, long& percent);
  long GetState() const { return m_state; }

 private:
  std::string m_strCountFCName;
  long m_BuffCount;
  long m_BuffFullPoint;
  long m_BuffNearFullPoint;
  long m_state;
};

// Kinds of XRFMConditionMutexGuard::Lock: 1 requests the write lock, any other
// value the read lock.
typedef int FM_LockType;
constexpr FM_LockType FM_LOCK_READ = 0;
constexpr FM_LockType FM_LOCK_WRITE = 1;

// Reader/writer locks per numeric key (singleton). Results are ACE's: 0 on
// success, -1 when busy or failed.
class XRFMConditionMutex {
 public:
  static XRFMConditionMutex* instance();
  // Deletes the singleton and every keyed lock (shutdown only).
  static void destroy();
  virtual ~XRFMConditionMutex();

  long tryacquire_read(long key);
  long tryacquire_write(long key);
  // Blocks until the write lock of `key` is obtained.
  long acquire_write(long key);
  // Releases read or write access to `key`; -1 for a key never used.
  long release(long key);

  XRFMConditionMutex(const XRFMConditionMutex&) = delete;
  XRFMConditionMutex& operator=(const XRFMConditionMutex&) = delete;

 private:
  XRFMConditionMutex();
  // The lock of `key`, created on first use; null (logged with `op`) when it
  // cannot be allocated.
  ACE_RW_Thread_Mutex* lockOf(long key, const char* op);

  ACE_RW_Thread_Mutex m_mapLock;
  std::map<long, std::unique_ptr<ACE_RW_Thread_Mutex>> m_mapMutex;

  static std::atomic<XRFMConditionMutex*> m_pInstance;
  static ACE_Thread_Mutex m_instMutex;
  static bool m_bDelLocks;  // set once destroy() has deleted the keyed locks
};

// Holds one keyed reader/writer lock of XRFMConditionMutex for its scope.
class XRFMConditionMutexGuard {
 public:
  XRFMConditionMutexGuard();
  // Releases the lock when Lock succeeded.
  ~XRFMConditionMutexGuard();

  // Type 1 blocks for the write lock of `key`. Other types try the read lock;
  // if it is busy, try once more after 500 ms, and return 33906 (holding
  // nothing) when it is still busy. Returns 33000 when the lock is held, 33002
  // when ACE fails or this guard already holds a lock.
  int Lock(long key, FM_LockType type);

  XRFMConditionMutexGuard(const XRFMConditionMutexGuard&) = delete;
  XRFMConditionMutexGuard& operator=(const XRFMConditionMutexGuard&) = delete;

 private:
  bool m_bHolding;
  long m_lKey;
};

}  // namespace Kyrofm

#endif
