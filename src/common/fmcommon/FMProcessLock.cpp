// FMProcessLock.cpp: the single-instance lock over an ACE process mutex.
//
// On this platform ACE_Process_Mutex is a System V semaphore taken with
// SEM_UNDO, so the kernel gives it back when the holding process dies. A
// semaphore has no owner: releasing it when it is not held would let two
// holders in, so the object remembers whether it took it.
#include "fm_common/fmcommon/FMProcessLock.h"

#include <ace/OS_NS_unistd.h>
#include <ace/Process_Mutex.h>
#include <ace/Time_Value.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

struct CAlarmProcessLock::Shared {
  std::unique_ptr<ACE_Process_Mutex> mutex;
  bool held = false;

  ~Shared() {
    if (mutex && held) mutex->release();
  }
};

CAlarmProcessLock::CAlarmProcessLock(const std::string& name) : m_strMutexName(name + "_SingleNMSFM") {}

CAlarmProcessLock::~CAlarmProcessLock() { LeaveProcessMutex(); }

void CAlarmProcessLock::LeaveProcessMutex() {
  // The last holder of the shared state releases and deletes the mutex.
  m_pShared.reset();
}

long CAlarmProcessLock::EnterProcessMutex() {
  const char* root = std::getenv("KYRO_ROOT");
  if (root == nullptr || *root == '\0') {
    FM_TRACE(TRACE_ERROR, "EnterProcessMutex, invalid lock num");
    return FM_FAILURE;
  }
  if (!m_pShared) {
    try {
      auto shared = std::make_shared<Shared>();
      shared->mutex = std::make_unique<ACE_Process_Mutex>(m_strMutexName.c_str());
      m_pShared = std::move(shared);
    } catch (const std::exception& e) {
      FM_TRACE(TRACE_ERROR, "CAlarmProcessLock::EnterProcessMutex, cannot create process lock %s: %s",
               m_strMutexName.c_str(), e.what());
      return FM_FAILURE;
    }
  }
  if (m_pShared->held) return FM_SUCCESS;
  errno = 0;
  if (m_pShared->mutex->tryacquire() == 0) {
    m_pShared->held = true;
    return FM_SUCCESS;
  }
  const int err = errno;
  if (err != EAGAIN && err != EBUSY) {
    // The semaphore itself is unusable (for example it could not be created).
    FM_TRACE(TRACE_ERROR, "CAlarmProcessLock::EnterProcessMutex, process lock %s failed: %s",
             m_strMutexName.c_str(), std::strerror(err));
    return FM_FAILURE;
  }
  FM_TRACE(TRACE_ERROR, "process lock %s exist!", m_strMutexName.c_str());
  return FM_PROCESS_LOCKED;
}

long CAlarmProcessLock::WaitMaxTime(long maxSeconds, const std::string& name) {
  FM_TRACE(TRACE_PROGRESS, "CAlarmProcessLock::WaitMaxTime>>m_strMutexName(%s)lmaxTime(%ld)",
           m_strMutexName.c_str(), maxSeconds);
  long result = EnterProcessMutex();
  for (long tries = 0; result == FM_PROCESS_LOCKED && tries < maxSeconds; ++tries) {
    FM_TRACE(TRACE_ERROR, "CAlarmProcessLock>>%s", name.c_str());
    ACE_OS::sleep(ACE_Time_Value(1));
    result = EnterProcessMutex();
  }
  return result == FM_SUCCESS ? FM_SUCCESS : FM_FAILURE;
}

}  // namespace Kyrofm
