// OperStatusInfoMgr.cpp: the map of busy operation categories.
#include "fm_common/audit/OperStatusInfoMgr.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_unistd.h>

#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::map<int, int> COperStatusInfoMgr::_OperStatusMap;
ACE_Thread_Mutex COperStatusInfoMgr::_StatusMapLock;

long COperStatusInfoMgr::getStatus(int category, long busyCode) {
  ACE_Guard<ACE_Thread_Mutex> guard(_StatusMapLock);
  auto it = _OperStatusMap.find(category);
  if (it == _OperStatusMap.end()) {
    FM_TRACE(TRACE_PROGRESS, "COperStatusInfoMgr::getStatus, add oper=%d", category);
    it = _OperStatusMap.emplace(category, STATUS_IDLE).first;
  }
  if (it->second == STATUS_BUSY) return busyCode;
  it->second = STATUS_BUSY;
  return FM_SUCCESS;
}

void COperStatusInfoMgr::setStatusIdle(int category) {
  ACE_Guard<ACE_Thread_Mutex> guard(_StatusMapLock);
  FM_TRACE(TRACE_PROGRESS, "COperStatusInfoMgr::setStatusIdle, oper=%d", category);
  auto it = _OperStatusMap.find(category);
  if (it == _OperStatusMap.end()) return;
  FM_TRACE(TRACE_PROGRESS, "COperStatusInfoMgr::setStatusIdle, release oper=%d", category);
  _OperStatusMap.erase(it);
}

long COperStatusInfoMgr::waitLoop(int category, int maxTries, bool keep) {
  long code = getStatus(category, FM_FAILURE);
  for (int tries = 0; code != FM_SUCCESS && (maxTries == -1 || tries < maxTries); ++tries) {
    if (Kyrofmdb::CFMServiceFlag::instance()->getServiceStatus() == Kyrofmdb::CFMServiceFlag::SERVICE_STOPPING) {
      FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", "CAlarmExpOperator::waitForInit");
      return FM_FAILURE;
    }
    FM_TRACE(TRACE_PROGRESS, "COperStatusInfoMgr::waitStatusIdle will sleep(1), oper=%d", category);
    ACE_OS::sleep(ACE_Time_Value(1, 0));
    code = getStatus(category, FM_FAILURE);
  }
  // Only a category this call took is given back: one that ran out of tries
  // belongs to somebody else.
  if (code == FM_SUCCESS && !keep) setStatusIdle(category);
  FM_TRACE(TRACE_PROGRESS, "COperStatusInfoMgr::waitStatusIdle wait idle ok, oper=%d RetCode=%ld", category, code);
  return code;
}

long COperStatusInfoMgr::waitStatusIdle(int category, int maxTries) { return waitLoop(category, maxTries, false); }

long COperStatusInfoMgr::waitStatusIdleAndSetBusy(int category) { return waitLoop(category, -1, true); }

}  // namespace Kyrofm
