// BatchOperAuditMgr.cpp: pending audit entries, their timer and the scoped
// audit.
//
// How an entry is written (COperAuditInfo::doAudit):
//   - one object (total 1): a single audit whose item type is 11 for the
//     knowledge base and level redefinition types, 12 for NE synchronisation,
//     and for shield and northbound filter rules 10 on success (the code
//     becomes 33000 when exactly one object succeeded and none failed) or 8
//     on failure;
//   - no object (total 0): nothing;
//   - a batch: the batch form with the target for a successful update or a
//     delete that did not fail outright of shield or northbound filter rules,
//     the batch form without it otherwise.
// Every end of an entry (close, time-out, replacement, clean-up) happens under
// the list lock and removes the entry in the same critical section, which is
// what makes each entry written once.
#include "fm_common/audit/BatchOperAuditMgr.h"

#include <ace/Guard_T.h>
#include <ace/High_Res_Timer.h>
#include <ace/Reactor.h>
#include <ace/Thread_Manager.h>
#include <ace/Timer_Queue.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "fm_common/audit/OperStatusInfoMgr.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/KyroWideString.h"

namespace Kyrofm {
namespace {

constexpr const char* AUDIT_SOURCE = "vela_audit";

struct OperTypeRow {
  int type;
  OperTypeInfo info;
};

constexpr OperTypeRow kOperTypes[] = {
    {1, {"Update_Alm_Knowlg_DB", 300, OPER_CATEGORY_ALARM_KNOWLG, FM_BUSY_ALARM_KNOWLG, "ALARM_KNOWLG"}},
    {15, {"Update_Alm_Comment", 300, 0, 0, ""}},
    {100, {"Add_Redefine_Alm_Level", 300, OPER_CATEGORY_REDEFINE, FM_BUSY_REDEFINE, "REDEFINE_OPERATION"}},
    {101, {"Del_Redefine_Alm_Level", 300, OPER_CATEGORY_REDEFINE, FM_BUSY_REDEFINE, "REDEFINE_OPERATION"}},
    {102, {"Update_Redefine_Alm_Level", 300, OPER_CATEGORY_REDEFINE, FM_BUSY_REDEFINE, "REDEFINE_OPERATION"}},
    {200, {"ADD_Alm_Shield_Attr", 300, OPER_CATEGORY_ALARM_FILTER, FM_BUSY_ALARM_FILTER, "ALARM_FILTER_OPERATION"}},
    {201, {"Update_Alm_Shield_Attr", 300, OPER_CATEGORY_ALARM_FILTER, FM_BUSY_ALARM_FILTER, "ALARM_FILTER_OPERATION"}},
    {202, {"Del_Alm_Shield_Attr", 300, OPER_CATEGORY_ALARM_FILTER, FM_BUSY_ALARM_FILTER, "ALARM_FILTER_OPERATION"}},
    {401, {"Syn_NE_Alm", 3600, OPER_CATEGORY_ALARM_SYNCHRONIZE, FM_BUSY_ALARM_SYNCHRONIZE, "ALARM_SYNCHRONIZE"}},
    {600, {"Add_NB_Filter_Rule", 300, OPER_CATEGORY_NB_FILTER, FM_BUSY_NB_FILTER, "ALARM_NB_FILTER_OPERATION"}},
    {601, {"Update_NB_Filter_Rule", 300, OPER_CATEGORY_NB_FILTER, FM_BUSY_NB_FILTER, "ALARM_NB_FILTER_OPERATION"}},
    {602, {"Del_NB_Filter_Rule", 300, OPER_CATEGORY_NB_FILTER, FM_BUSY_NB_FILTER, "ALARM_NB_FILTER_OPERATION"}},
};

bool isShieldOrNbFilter(int t) { return (t >= 200 && t <= 202) || (t >= 600 && t <= 602); }

}  // namespace

bool getOpInfoByType(int operType, OperTypeInfo& info) {
  for (const OperTypeRow& row : kOperTypes) {
    if (row.type == operType) {
      info = row.info;
      return true;
    }
  }
  FM_TRACE(TRACE_ERROR, "getOpInfoByType::init, invalid opertype:%d", operType);
  return false;
}

// ---------------------------------------------------------------------------
// COperAuditInfo

COperAuditInfo::~COperAuditInfo() {
  if (m_iHeldCategory == 0) return;
  switch (m_iHeldCategory) {
    case OPER_CATEGORY_ALARM_KNOWLG:
    case OPER_CATEGORY_ALARM_SYNCHRONIZE:
      FM_TRACE(TRACE_PROGRESS, "setStatusIdleByType, SET_ALARM_KNOWLG end");
      break;
    case OPER_CATEGORY_REDEFINE:
      FM_TRACE(TRACE_PROGRESS, "setStatusIdleByType, REDEFINE_OPERATION end");
      break;
    case OPER_CATEGORY_ALARM_FILTER:
      FM_TRACE(TRACE_PROGRESS, "setStatusIdleByType, ALARM_FILTER_OPERATION end");
      break;
    default:
      FM_TRACE(TRACE_PROGRESS, "setStatusIdleByType, ALARM_NB_FILTER_OPERATION end");
      break;
  }
  COperStatusInfoMgr::setStatusIdle(m_iHeldCategory);
}

void COperAuditInfo::makeAuditInfo(const char* typeName) {
  KyroMsg* msg = KyroMsg::instance();
  const std::wstring desc =
      msg->getResString(std::string("/fmAuditInfo/OperationTypeList/") + typeName, "OperationViewDesc");
  const std::wstring label = msg->getResString("/log/data/", "targetobject");
  m_pAuditInfo = std::make_unique<CAuditInfo>(m_strToken, desc, std::wstring(), label, AUDIT_SOURCE, 0, 0);
}

long COperAuditInfo::init(unsigned long sessionId, const std::string& token, int operType, int timeout,
                          unsigned total) {
  FM_TRACE(TRACE_PROGRESS, "COperAuditInfo::init,sessionid:%d,opertype:%d,outtime=%d", static_cast<int>(sessionId),
           operType, timeout);
  OperTypeInfo info{};
  if (!getOpInfoByType(operType, info)) {
    FM_TRACE(TRACE_ERROR, "COperAuditInfo::init, type error");
    return FM_INVALID_OPER_TYPE;
  }
  m_ulSessionId = sessionId;
  m_strToken = token;
  m_iOperType = operType;
  if (info.category != 0) {
    const long code = COperStatusInfoMgr::getStatus(info.category, info.busyCode);
    if (code != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "getStatusByType, last %s not end yet", info.categoryName);
      makeAuditInfo(info.name);
      CFMAudit::handleSingleAudit(code, static_cast<unsigned>(operType), std::wstring(), m_pAuditInfo.get(),
                                  std::string(), 1);
      return code;
    }
    m_iHeldCategory = info.category;
  }
  m_iTimeout = std::min(timeout, info.timeoutCap);
  m_iRemain = m_iTimeout;
  m_uTotal = total;
  m_uSucceeded = 0;
  m_uFailed = 0;
  m_wstrTarget.clear();
  makeAuditInfo(info.name);
  return FM_SUCCESS;
}

void COperAuditInfo::doAudit(long code) {
  FM_TRACE(TRACE_PROGRESS, "COperAuditInfo::doAudit, id:%d, type:%d, code=%d", static_cast<int>(m_ulSessionId),
           m_iOperType, static_cast<int>(code));
  if (m_uTotal == 1) {
    unsigned itemType = 0;
    if (m_iOperType == OPER_UPDATE_ALM_KNOWLG_DB || m_iOperType == OPER_UPDATE_ALM_COMMENT ||
        (m_iOperType >= 100 && m_iOperType <= 102)) {
      // A comment change is a knowledge-base change: without an item type
      // of its own its single-object audit would be lost.
      itemType = 11;
    } else if (m_iOperType == OPER_SYN_NE_ALM) {
      itemType = 12;
    } else if (isShieldOrNbFilter(m_iOperType)) {
      if (m_uSucceeded == 1 && m_uFailed == 0) code = FM_SUCCESS;
      itemType = (code == FM_SUCCESS || code == FM_PARTIAL_SUCCESS) ? 10 : 8;
    } else {
      FM_TRACE(TRACE_ERROR, "getOpInfoByType::init, invalid opertype:%d", m_iOperType);
      return;
    }
    CFMAudit::handleSingleAudit(code, itemType, m_wstrTarget, m_pAuditInfo.get(), std::string(), 1);
    return;
  }
  if (m_uTotal == 0) return;
  const bool withTarget =
      ((m_iOperType == 201 || m_iOperType == 601) && (code == FM_SUCCESS || code == FM_PARTIAL_SUCCESS)) ||
      ((m_iOperType == 202 || m_iOperType == 602) && code != FM_FAILURE);
  if (withTarget) {
    CFMAudit::handleBatchAudit(code, m_uTotal, m_uFailed, m_uSucceeded, m_wstrTarget, m_pAuditInfo.get(),
                               std::string());
  } else {
    CFMAudit::handleBatchAudit(code, m_uTotal, m_uFailed, m_uSucceeded, m_pAuditInfo.get(), "", "");
  }
}

// ---------------------------------------------------------------------------
// CBatchOperAuditMgr

std::atomic<CBatchOperAuditMgr*> CBatchOperAuditMgr::m_pInstance{nullptr};
ACE_Thread_Mutex CBatchOperAuditMgr::m_instanceMutex;

CBatchOperAuditMgr* CBatchOperAuditMgr::Instance() {
  CBatchOperAuditMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new (std::nothrow) CBatchOperAuditMgr();
    if (p == nullptr) return nullptr;
    if (p->Init() == FM_SUCCESS) p->open();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void CBatchOperAuditMgr::Destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
  CBatchOperAuditMgr* p = m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
  delete p;  // the destructor runs cleanup()
}

CBatchOperAuditMgr::CBatchOperAuditMgr() : m_pThrMgr(std::make_unique<ACE_Thread_Manager>()) {
  thr_mgr(m_pThrMgr.get());
}

CBatchOperAuditMgr::~CBatchOperAuditMgr() { cleanup(); }

long CBatchOperAuditMgr::Init() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_lifeLock);
  if (m_pReactor) return FM_SUCCESS;
  m_pReactor.reset(new (std::nothrow) ACE_Reactor());
  if (!m_pReactor) {
    errno = ENOMEM;
    return FM_NO_MEMORY;
  }
  m_pReactor->timer_queue()->gettimeofday(&ACE_High_Res_Timer::gettimeofday_hr);
  m_lTimerId = m_pReactor->schedule_timer(this, nullptr, ACE_Time_Value(1, 0), ACE_Time_Value(1, 0));
  if (m_lTimerId == -1) {
    FM_TRACE(TRACE_ERROR, "CBatchOperAuditMgr::initial, Scheduling failed!");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

int CBatchOperAuditMgr::open(void*) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_lifeLock);
  if (!m_pReactor || thr_count() > 0) return -1;
  return activate(THR_NEW_LWP | THR_JOINABLE, 1);
}

int CBatchOperAuditMgr::svc() {
  ACE_Reactor* reactor = m_pReactor.get();  // set before open(), reset only after this thread ends
  if (reactor == nullptr) return -1;
  reactor->owner(ACE_Thread::self());
  reactor->run_reactor_event_loop();
  return 0;
}

int CBatchOperAuditMgr::close(u_long) { return 0; }

long CBatchOperAuditMgr::cleanup() {
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_lifeLock);
    FM_TRACE(TRACE_PROGRESS, "CBatchOperAuditMgr::cleanup, delete m_pReactor");
    if (m_pReactor) {
      if (m_lTimerId != -1) m_pReactor->cancel_timer(m_lTimerId);
      m_lTimerId = -1;
      m_pReactor->end_reactor_event_loop();
      wait();
      reactor(nullptr);
      m_pReactor.reset();
    }
  }
  FM_TRACE(TRACE_PROGRESS, "CBatchOperAuditMgr::cleanup, delete all infos");
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  for (auto& entry : m_entries) entry->doAudit(entry->getResult());
  m_entries.clear();
  return FM_SUCCESS;
}

CBatchOperAuditMgr::EntryList::iterator CBatchOperAuditMgr::findEntry(unsigned long sessionId, int operType) {
  return std::find_if(m_entries.begin(), m_entries.end(), [&](const std::unique_ptr<COperAuditInfo>& e) {
    return e->getSessionId() == sessionId && e->getOperType() == operType;
  });
}

long CBatchOperAuditMgr::initAuditInfo(unsigned long sessionId, const std::string& token, int operType, int timeout,
                                       unsigned total) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  auto old = findEntry(sessionId, operType);
  if (old != m_entries.end()) {
    FM_TRACE(TRACE_PROGRESS, "addAuditInfo, find same id, replace it");
    (*old)->doAudit(FM_FAILURE);
    m_entries.erase(old);
  }
  std::unique_ptr<COperAuditInfo> entry(new (std::nothrow) COperAuditInfo());
  if (!entry) return FM_FAILURE;
  const long code = entry->init(sessionId, token, operType, timeout, total);
  if (code != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "addAuditInfo, init info fail");
    return code;
  }
  m_entries.push_back(std::move(entry));
  FM_TRACE(TRACE_PROGRESS, "addAuditInfo, finished buff size:%d", static_cast<int>(m_entries.size()));
  return FM_SUCCESS;
}

long CBatchOperAuditMgr::setOperate(unsigned long sessionId, int operType, long result, unsigned succeeded,
                                    unsigned failed, const std::wstring& target, const std::wstring& detail) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  auto it = findEntry(sessionId, operType);
  if (it == m_entries.end()) {
    FM_TRACE(TRACE_ERROR, "setOperateAuditInfo,  not find id:%d, opertype:%d", static_cast<int>(sessionId),
             operType);
    return FM_FAILURE;
  }
  COperAuditInfo& e = **it;
  e.m_uSucceeded += succeeded;
  e.m_uFailed += failed;
  if (e.m_uTotal == 1 && e.m_wstrTarget.empty()) {
    e.m_wstrTarget = target;
    e.m_lResult = result;
    if (!detail.empty() && e.m_pAuditInfo) e.m_pAuditInfo->m_wstrDetail = detail;
  }
  return FM_SUCCESS;
}

long CBatchOperAuditMgr::setOperateAuditInfo(unsigned long sessionId, int operType, long result, unsigned succeeded,
                                             unsigned failed, const std::wstring& target, const std::string& detail) {
  return setOperate(sessionId, operType, result, succeeded, failed, target, KyroA2W(detail));
}

long CBatchOperAuditMgr::setOperateAuditInfo(unsigned long sessionId, int operType, long result, unsigned succeeded,
                                             unsigned failed, const std::wstring& target,
                                             const std::list<AlmShieldAttr_t>& attrs) {
  std::string detail;
  for (const AlmShieldAttr_t& a : attrs) {
    if (!detail.empty()) detail += '\n';
    detail += CFMAudit::getAuditName(a.m_uItemType) + ": " + a.m_strValue;
  }
  return setOperate(sessionId, operType, result, succeeded, failed, target, KyroA2W(detail));
}

long CBatchOperAuditMgr::flushAuditInfo(unsigned long sessionId, int operType) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  auto it = findEntry(sessionId, operType);
  if (it == m_entries.end()) {
    FM_TRACE(TRACE_ERROR, "flushAuditInfo,not find,ulWsid=%d,type=%d", static_cast<int>(sessionId), operType);
    return FM_FAILURE;
  }
  (*it)->m_iRemain = (*it)->m_iTimeout;
  return FM_SUCCESS;
}

long CBatchOperAuditMgr::delAuditInfo(unsigned long sessionId, int operType, long code) {
  FM_TRACE(TRACE_PROGRESS, "delAuditInfo, sessionid:%d, opertype:%d, code=%d", static_cast<int>(sessionId), operType,
           static_cast<int>(code));
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  auto it = findEntry(sessionId, operType);
  if (it == m_entries.end()) {
    FM_TRACE(TRACE_ERROR, "delAuditInfo,  not find audit info");
    return FM_FAILURE;
  }
  (*it)->doAudit(code);
  m_entries.erase(it);
  return FM_SUCCESS;
}

int CBatchOperAuditMgr::handle_timeout(const ACE_Time_Value&, const void*) {
  if (!m_bManualTick.load()) tick();
  return 0;
}

void CBatchOperAuditMgr::tick() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  for (auto it = m_entries.begin(); it != m_entries.end();) {
    COperAuditInfo& e = **it;
    if (--e.m_iRemain < 1) {
      FM_TRACE(TRACE_PROGRESS, "CBatchOperAuditMgr::handle_timeout, find timeout info");
      e.doAudit(FM_FAILURE);
      it = m_entries.erase(it);
    } else {
      ++it;
    }
  }
}

size_t CBatchOperAuditMgr::getPendingCount() {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_listLock);
  return m_entries.size();
}

// ---------------------------------------------------------------------------
// tagFMAuditInfo

tagFMAuditInfo::tagFMAuditInfo(unsigned total, unsigned auditItemType, const std::wstring& target,
                               const std::string& operationName, CAuditInfo* record)
    : m_uTotal(total),
      m_uAuditItemType(auditItemType),
      m_uCountA(total),
      m_uCountB(total),
      m_wstrTarget(target),
      m_strOperationName(operationName),
      m_pAuditInfo(record) {}

tagFMAuditInfo::~tagFMAuditInfo() {
  if (!m_pAuditInfo) return;
  const bool manualNotify = m_strOperationName == "Manu_Send_Notify";
  if (m_lResult == FM_NO_RIGHT) {
    CFMAudit::handleRightFailAudit(m_pAuditInfo.get(), FM_NO_RIGHT);
  } else if (m_uTotal == 1) {
    CFMAudit::handleSingleAudit(m_lResult, m_uAuditItemType, m_wstrTarget, m_pAuditInfo.get(), m_strDetail,
                                manualNotify ? 0 : 1);
  } else if (m_uTotal == 0) {
    m_pAuditInfo->m_wstrAddInfo = KyroA2W(FMResultText(FM_AUDIT_NO_RESULT));
    m_pAuditInfo->m_iResult = 1;
  } else {
    const std::string extra =
        manualNotify ? CFMAudit::getAuditName(m_uAuditItemType) + KyroW2A(m_wstrTarget) : std::string();
    CFMAudit::handleBatchAudit(m_lResult, m_uTotal, m_uCountA, m_uCountB, m_pAuditInfo.get(), m_strDetail, extra);
  }
}

void tagFMAuditInfo::setResult(long result, unsigned x, unsigned y) {
  m_lResult = result;
  m_uCountB = x;
  m_uCountA = y;
}

void tagFMAuditInfo::setResult(long result, unsigned x) {
  m_lResult = result;
  m_uCountA = x;
}

}  // namespace Kyrofm
