// FMProcessLock.h: keeps a fault-management process from running twice on one
// host.
//
// The process takes a system-wide named mutex (an ACE process mutex, named by
// the given name followed by "_SingleNMSFM") at start and holds it until it
// ends. A second instance finds it taken and either gives up
// (EnterProcessMutex) or waits for it for a bounded time (WaitMaxTime). The
// operating system gives the mutex back when the holding process ends, also
// when it is killed.
//
// Ownership: the process mutex is created on first use and shared by an
// object and its copies; it is released (when held) and deleted with the last
// of them. Threads: an object and its copies are meant for the thread that
// starts the process; they are not synchronised.
#ifndef FM_FMCOMMON_FMPROCESSLOCK_H
#define FM_FMCOMMON_FMPROCESSLOCK_H

#include <memory>
#include <string>

namespace Kyrofm {

class CAlarmProcessLock {
 public:
  explicit CAlarmProcessLock(const std::string& name);
  // Releases the mutex when this process holds it through this object (and no
  // copy is left), then deletes it.
  ~CAlarmProcessLock();

  CAlarmProcessLock(const CAlarmProcessLock&) = default;
  CAlarmProcessLock& operator=(const CAlarmProcessLock&) = default;

  // Tries to take the mutex without waiting. 33000: this process holds it now
  // (also when it already held it through this object); 33026: another holder
  // has it; 33002: KYRO_ROOT is not set (no mutex is created) or the mutex
  // cannot be created.
  long EnterProcessMutex();
  // Tries EnterProcessMutex once and then, while another holder has the mutex,
  // up to `maxSeconds` more times a second apart; `name` labels the retry log
  // lines. 33000 when the mutex was taken, 33002 otherwise.
  long WaitMaxTime(long maxSeconds, const std::string& name);

  const std::string& GetMutexName() const { return m_strMutexName; }

 private:
  struct Shared;

  // Releases (when held) and deletes the mutex.
  void LeaveProcessMutex();

  std::string m_strMutexName;
  std::shared_ptr<Shared> m_pShared;  // absent until first use
};

}  // namespace Kyrofm

#endif
