// MOAudit.cpp: rights checks of managed objects.
#include "fm_common/audit/MOAudit.h"

#include <algorithm>
#include <map>
#include <set>

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/CFMAudit.h"
#include "fm_common/platform/CFMSecurity.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

namespace {

std::string toFdn(const std::string& oid) {
  std::string fdn;
  if (ProductCustomizeModuleManager::instance()->oid2Fdn(oid, fdn) != FM_SUCCESS) fdn = oid;
  return fdn;
}

std::string rootFdn() { return CFDNSplitter::instance()->getRootFdn(); }

}  // namespace

// ---------------------------------------------------------------------------
// CMOAuditBase

bool CMOAuditBase::isSuperUser(const std::string& token) { return CFMCallSMImpl::isSuperUser(token) == FM_SUCCESS; }

bool CMOAuditBase::checkSomeMORight(const std::string& accessId, const std::string& token,
                                    const std::vector<std::string>& oidList) {
  if (!m_bCheck || isSuperUser(token)) return true;
  for (const auto& oid : oidList) {
    std::string fdn = toFdn(oid);
    if (!hasMOOperationRight(fdn, accessId, token)) {
      FM_TRACE(3, "CMOAuditBase::checkSomeMORight NE:%s has no right:%s", fdn.c_str(), accessId.c_str());
      return false;
    }
  }
  return true;
}

namespace {

// The objects of both lists (in listB's order), only in listB, only in listA.
void splitLists(const std::vector<std::string>& listB, const std::vector<std::string>& listA,
                std::vector<std::string>& both, std::vector<std::string>& onlyB, std::vector<std::string>& onlyA) {
  std::set<std::string> inA(listA.begin(), listA.end());
  std::set<std::string> inB(listB.begin(), listB.end());
  for (const auto& o : listB) (inA.count(o) ? both : onlyB).push_back(o);
  for (const auto& o : listA)
    if (inB.count(o) == 0) onlyA.push_back(o);
}

}  // namespace

bool CMOAuditBase::checkAllMORight(const std::string& accessIdA, const std::string& accessIdB,
                                   const std::string& accessIdBoth, const std::string& token,
                                   const std::vector<std::string>& listB, const std::vector<std::string>& listA) {
  std::vector<std::string> both, onlyB, onlyA;
  splitLists(listB, listA, both, onlyB, onlyA);
  return checkSomeMORight(accessIdBoth, token, both) && checkSomeMORight(accessIdA, token, onlyA) &&
         checkSomeMORight(accessIdB, token, onlyB);
}

bool CMOAuditBase::batchCheckSomeMORight(const std::string& accessId, const std::string& token,
                                         const std::vector<std::string>& oidList) {
  if (!m_bCheck || oidList.empty() || isSuperUser(token)) {
    FM_TRACE(3, "CMOAuditBase::batchCheckSomeMORight, no need MoAudit");
    return true;
  }
  std::vector<std::string> fdns;
  fdns.reserve(oidList.size());
  for (const auto& oid : oidList) fdns.push_back(toFdn(oid));
  std::sort(fdns.begin(), fdns.end());
  fdns.erase(std::unique(fdns.begin(), fdns.end()), fdns.end());
  if (!batchHasMOOperationRight(fdns, accessId, token)) {
    FM_TRACE(3, "CMOAuditBase::checkSomeMORight, has no right:%s", accessId.c_str());
    return false;
  }
  return true;
}

bool CMOAuditBase::batchCheckAllMORight(const std::string& accessIdA, const std::string& accessIdB,
                                        const std::string& accessIdBoth, const std::string& token,
                                        const std::vector<std::string>& listB, const std::vector<std::string>& listA) {
  if (!m_bCheck || isSuperUser(token)) {
    FM_TRACE(3, "CMOAuditBase::batchCheckAllMORight, no need MoAudit");
    return true;
  }
  std::vector<std::string> both, onlyB, onlyA;
  splitLists(listB, listA, both, onlyB, onlyA);
  return (both.empty() || batchCheckSomeMORight(accessIdBoth, token, both)) &&
         (onlyA.empty() || batchCheckSomeMORight(accessIdA, token, onlyA)) &&
         (onlyB.empty() || batchCheckSomeMORight(accessIdB, token, onlyB));
}

bool CMOAuditBase::isMoDN(const std::string& fdn, char splitter) { return fdn.find(splitter) != std::string::npos; }

std::string CMOAuditBase::GetNednbyMOdn(const std::string& fdn, char splitter) {
  return fdn.substr(0, fdn.find(splitter));
}

long CMOAuditBase::NoNeedCheckUserMORight(const FMClient_t& client) {
  long rc = CFMCallSMImpl::isSuperUser(client.strToken);
  if (rc == SM_SERVICE_UNAVAILABLE)
    FM_TRACE(5, "CMOAuditBase::NoNeedCheckUserMORight failed,get SM services failed.");
  return rc;
}

long CMOAuditBase::CheckUserMORight(const FMClient_t& client, bool allNe, const std::vector<std::string>& oidList,
                                    bool checkNeExists, bool checkSuperUser) {
  if (checkSuperUser) {
    long rc = NoNeedCheckUserMORight(client);
    if (rc == FM_SUCCESS) return FM_SUCCESS;
    if (rc != FM_FAILURE) return rc;
  }
  if (allNe) {
    FM_TRACE(5, "CMOAuditBase::CheckUserMORight failed,common user has no allne or netype rights");
    return FM_NO_RIGHT;
  }
  if (oidList.empty()) {
    FM_TRACE(5, "CMOAuditBase::CheckUserMORight failed,lstOid is empty");
    return FM_NO_RIGHT;
  }
  const char splitter = CKyroSettingOP::instance()->getFDNSplitter();
  std::set<std::string> toCheck;
  for (const auto& oid : oidList) {
    std::string fdn = toFdn(oid);
    if (isMoDN(fdn, splitter)) {
      // An object below an NE is covered exactly when its NE is: checked
      // through the NE rather than skipped.
      FM_TRACE(3, "CMOAuditBase::CheckUserMORight ,fdn=[%s] is modn", fdn.c_str());
      fdn = GetNednbyMOdn(fdn, splitter);
    } else if (checkNeExists && CFMCallEAMImpl::checkNEExist(fdn) == EAM_NE_NOT_EXIST) {
      // Unknown to the NE configuration, but still named by the request:
      // the domain decides, as for any other NE.
      FM_TRACE(3, "CMOAuditBase::CheckUserMORight,NEfdn [%s] not exist!", fdn.c_str());
    }
    toCheck.insert(fdn);
  }
  std::vector<std::string> refused;
  long rc = CFMCallSMImpl::checkMODomain(client.strToken, toCheck, refused);
  if (rc == FM_SUCCESS && refused.empty()) return FM_SUCCESS;
  KyroLongTrace line(5, "CMOAuditBase::CheckUserMORight failed,check MO Right failed,no Rights Fdn:");
  for (const auto& f : refused) line.addText(f);
  return FM_NO_RIGHT;
}

long CMOAuditBase::CheckUserMORight(const FMClient_t& client, const std::string& oid, bool checkNeExists,
                                    bool checkSuperUser) {
  return CheckUserMORight(client, false, std::vector<std::string>{oid}, checkNeExists, checkSuperUser);
}

// ---------------------------------------------------------------------------
// CMOAuditCheck

bool CMOAuditCheck::hasMOOperationRight(const std::string& neFdn, const std::string& accessId,
                                        const std::string& token) {
  if (!neFdn.empty() && neFdn == rootFdn()) {
    FM_TRACE(3, "-CMOAuditCheck::hasMOOperationRight it is OMC! nefdn: %s, acessId: %s", neFdn.c_str(),
             accessId.c_str());
    return true;
  }
  if (isSuperUser(token) || neFdn.empty()) return true;
  std::string secClass;
  long rc = CFMCallEAMImpl::getSecClass(neFdn, secClass);
  if (rc != FM_SUCCESS) {
    FM_TRACE(5, "CMOAuditCheck::hasMOOperationRight getSecClass failed.Rtn: %d", static_cast<int>(rc));
    return false;
  }
  if (secClass.empty()) {
    FM_TRACE(5, "CMOAuditCheck::hasMOOperationRight get secu_class failed");
    return false;
  }
  FM_TRACE(3, "-CMOAuditCheck::hasMOOperationRight nefdn: %s, secClass: %s, acessId: %s", neFdn.c_str(),
           secClass.c_str(), accessId.c_str());
  rc = CFMAudit::RightMOCheck(accessId, secClass, neFdn, token);
  FM_TRACE(3, "-CMOAuditCheck::hasMOOperationRight RightMOCheck %d", static_cast<int>(rc));
  return rc == FM_SUCCESS;
}

bool CMOAuditCheck::batchMOAudit(const std::vector<std::string>& chunk, const std::string& accessId,
                                 const std::string& token) {
  std::map<std::string, std::string> secClasses;
  long rc = CFMCallEAMImpl::batchGetSecClass(chunk, secClasses);
  if (rc != FM_SUCCESS) {
    FM_TRACE(5, "CMOAuditCheck::hasMOOperationRight getSecClass failed.Rtn: %d", static_cast<int>(rc));
    return false;
  }
  for (const auto& ne : chunk) {
    auto it = secClasses.find(ne);
    if (it == secClasses.end() || it->second.empty()) {
      FM_TRACE(5, "CMOAuditCheck::hasMOOperationRight get secu_class failed");
      return false;
    }
  }
  return CFMAudit::batchRightMOCheck(accessId, secClasses, token) == FM_SUCCESS;
}

bool CMOAuditCheck::batchHasMOOperationRight(std::vector<std::string>& neList, const std::string& accessId,
                                             const std::string& token) {
  FM_TRACE(3, "CMOAuditCheck::batchHasMOOperationRight, ne size:%d, start...", static_cast<int>(neList.size()));
  const std::string root = rootFdn();
  neList.erase(std::remove_if(neList.begin(), neList.end(),
                              [&](const std::string& ne) { return ne.empty() || ne == root; }),
               neList.end());
  // A super user passes here as in the single form, so that both forms agree.
  if (!neList.empty() && !isSuperUser(token)) {
    for (size_t pos = 0; pos < neList.size(); pos += BATCH_CHUNK) {
      std::vector<std::string> chunk(neList.begin() + pos,
                                     neList.begin() + std::min(neList.size(), pos + BATCH_CHUNK));
      if (!batchMOAudit(chunk, accessId, token)) return false;
    }
  }
  FM_TRACE(3, "CMOAuditCheck::batchHasMOOperationRight, ne size:%d, end...", static_cast<int>(neList.size()));
  return true;
}

// ---------------------------------------------------------------------------
// CMOAuditNocheck

bool CMOAuditNocheck::hasMOOperationRight(const std::string&, const std::string&, const std::string&) {
  FM_TRACE(3, "CMOAuditNocheck::hasMOOperationRight no mo right check!");
  return true;
}

bool CMOAuditNocheck::batchHasMOOperationRight(std::vector<std::string>&, const std::string&, const std::string&) {
  return true;
}

void CMOAuditNocheck::filterListIdByMORight(std::vector<long>&, const std::string&, const std::string&) {}

void CMOAuditNocheck::filterLogIdByMORight(std::vector<long>&, const std::string&, const std::string&) {}

// ---------------------------------------------------------------------------
// CMOAuditMgr

std::atomic<CMOAuditMgr*> CMOAuditMgr::m_pInstance{nullptr};
std::mutex CMOAuditMgr::m_mtxInstance;

CMOAuditMgr* CMOAuditMgr::instance() {
  CMOAuditMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(m_mtxInstance);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CMOAuditMgr;
      p->initialize();
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CMOAuditMgr::destroy() {
  std::lock_guard<std::mutex> guard(m_mtxInstance);
  delete m_pInstance.exchange(nullptr);
}

CMOAuditMgr::~CMOAuditMgr() { delete m_pAudit; }

void CMOAuditMgr::initialize() {
  if (CKyroSettingOP::instance()->isMOAuthentication()) {
    m_pAudit = new CMOAuditCheck;
    m_bMOAudit = true;
    FM_TRACE(3, "CMOAuditMgr::initialize with mo right check!");
  } else {
    m_pAudit = new CMOAuditNocheck;
    m_bMOAudit = false;
    FM_TRACE(3, "CMOAuditMgr::initialize without mo right check!");
  }
}

}  // namespace Kyrofm
