// FMIdMgr.cpp: identifier allocation with a mark persisted in tbl_fm_id or,
// when the table cannot be written, in "fm_cfg.xml".
//
// The order of every allocation that crosses the mark is: new mark and next
// generation in memory, write them to the table, else to the file, and only
// when one of the two holds them hand the range out. A crash at any point
// therefore leaves a stored mark above every identifier a caller has seen,
// and the start-up reconciliation picks the stored mark written last because
// generations only grow (a failed write does not give its generation back:
// the table may have committed it after all).
#include "fm_common/fmcommon/FMIdMgr.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBIdUtil.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::atomic<FMIdMgr*> FMIdMgr::m_pInstance{nullptr};
std::mutex FMIdMgr::m_instanceMutex;

namespace {

const char* const kCfgSection = "vela/fmdb/tables/TBL_FM_ID";
const char* const kShieldRuleTable = "tbl_alarm_shield_rule";

// The counter after handing out maxID: maxID + 1, or 0 (the next request
// restarts the kind) when maxID is the last identifier.
int32_t counterAfter(int64_t maxID) {
  return maxID >= FMIdMgr::MAX_ID ? 0 : static_cast<int32_t>(maxID + 1);
}

// The mark above maxID: the next multiple of 10000, at most 2147483647.
int32_t markAbove(int64_t maxID) {
  int64_t mark = (maxID / FMIdMgr::MARK_STEP + 1) * FMIdMgr::MARK_STEP;
  return mark > FMIdMgr::MAX_ID ? static_cast<int32_t>(FMIdMgr::MAX_ID) : static_cast<int32_t>(mark);
}

// The counter a kind resumes at when its persisted mark is mark: the mark
// itself (nothing at or above it was handed out), or 0 (the next request
// restarts the kind at 1) when the mark is the last identifier or out of range.
int32_t resumeCounter(int64_t mark) {
  if (mark <= 0 || mark >= FMIdMgr::MAX_ID) return 0;
  return static_cast<int32_t>(mark);
}

std::string trimBlanks(std::string s) { return FMTrim(s, " \t\r\n"); }

// A decimal in [0, INT32_MAX]; false for anything else.
bool parseDecimal(const std::string& text, int64_t& out) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT32_MAX) return false;
  out = v;
  return true;
}

// The highest stored shield rule ID (0 for none). 33000 or 33002.
long readMaxShieldRuleID(int64_t& maxID) {
  FMDB_CONNECTION_GUARD(conn, FM_FAILURE);
  std::string sql = std::string("select max(ID) from ") + kShieldRuleTable;
  try {
    Kyrofmdb::SACommand cmd(conn, sql);
    cmd.Execute();
    maxID = cmd.FetchNext() ? cmd.Field(1).asLongLong() : 0;
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "Error occured when execute SQL : \"%s\"!", sql.c_str());
    FM_TRACE(TRACE_DETAIL, "FMIdMgr::initFiltRuleID, %s", e.what());
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

}  // namespace

FMIdMgr* FMIdMgr::instance() {
  FMIdMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(m_instanceMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    std::unique_ptr<FMIdMgr> made(new FMIdMgr());
    made->init();
    p = made.release();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void FMIdMgr::destroy() {
  std::lock_guard<std::mutex> guard(m_instanceMutex);
  delete m_pInstance.load(std::memory_order_relaxed);
  m_pInstance.store(nullptr, std::memory_order_release);
}

std::string FMIdMgr::getCfgFile() {
  std::string root = KyroCommonUtils::getRoot();
  if (root.back() != '/') root += '/';
  return root + "etc/dynamic/fm_cfg.xml";
}

long FMIdMgr::init() {
  FM_FUNC_TRACE("FMIdMgr::init");
  if (initFiltRuleID() != FM_SUCCESS) {
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::init, init NBFilt rule ID failed!");
  }
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  FM_TRACE(TRACE_PROGRESS, "FMIdMgr::init");
  return loadKinds();
}

long FMIdMgr::loadKinds() {
  if (!m_bDBLoaded) {
    long rc = Kyrofmdb::initDBIdFromDB(m_strTableName, m_mapID);
    if (rc == FM_SUCCESS) {
      for (auto& kv : m_mapID) kv.second.lMemMax = resumeCounter(kv.second.lDBMax);
      m_bDBLoaded = true;
      m_bCfgChecked = false;
    } else {
      FM_TRACE(TRACE_WARNING, "FMIdMgr::init>>initDBIdFromDB fail and continue checkdbbycfg.");
    }
  }
  if (m_bCfgChecked) return FM_SUCCESS;
  int rc = checkdbbycfg(m_mapID);
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::init>>checkdbbycfg fail.");
    return rc;
  }
  // Kinds loaded later from the table must be reconciled then.
  if (m_bDBLoaded) m_bCfgChecked = true;
  return FM_SUCCESS;
}

long FMIdMgr::initFiltRuleID() {
  int64_t maxID = 0;
  long rc = readMaxShieldRuleID(maxID);
  if (rc != FM_SUCCESS) return rc;
  std::lock_guard<std::mutex> guard(m_filtRuleIDMutex);
  // Identifiers handed out but not stored yet must not come back.
  if (!m_bFiltRuleIDRead || maxID > m_lFiltRuleID) m_lFiltRuleID = maxID;
  m_bFiltRuleIDRead = true;
  return FM_SUCCESS;
}

int FMIdMgr::getFiltRuleID() {
  std::lock_guard<std::mutex> guard(m_filtRuleIDMutex);
  if (!m_bFiltRuleIDRead) {
    int64_t maxID = 0;
    if (readMaxShieldRuleID(maxID) != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "FMIdMgr::getFiltRuleID, highest shield rule ID unknown; no ID handed out");
      return -1;
    }
    m_lFiltRuleID = maxID;
    m_bFiltRuleIDRead = true;
  }
  if (m_lFiltRuleID >= INT_MAX) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::getFiltRuleID, shield rule IDs used up");
    return -1;
  }
  return static_cast<int>(++m_lFiltRuleID);
}

long FMIdMgr::allocateIds(FMIDTYPE type, long num, long& minID, long& maxID) {
  minID = 0;
  maxID = 0;
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  auto it = m_mapID.find(type);
  if (it == m_mapID.end() || !m_bCfgChecked) {
    loadKinds();
    it = m_mapID.find(type);
  }
  if (it == m_mapID.end()) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::allocateIds, IdType is wrong, %d", static_cast<int>(type));
    return FM_FAILURE;
  }
  if (num < 1) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::allocateIds, IdType:%d, bad number of IDs %ld", static_cast<int>(type), num);
    return FM_INVALID_ARG;
  }
  if (!m_bCfgChecked) {
    FM_TRACE(TRACE_ERROR,
             "FMIdMgr::allocateIds, IdType:%d, the marks of %s cannot be read; no ID handed out",
             static_cast<int>(type), getCfgFile().c_str());
    return FM_FAILURE;
  }
  SFMID& id = it->second;
  const int64_t n = num > MAX_IDS_PER_REQUEST ? MAX_IDS_PER_REQUEST : num;
  int64_t lo = id.lMemMax;
  int64_t hi = lo + n - 1;
  const SFMID before = id;
  bool restart = !(hi > 0 && hi <= MAX_ID && lo > 0);
  if (restart) {
    lo = 1;
    hi = n;
    id.lDBMax = 0;
  }
  if (restart || hi >= id.lDBMax) {
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::allocateIds, IdType:%d,lNum:%d,minID:%d,maxID:%d,SFMID:%s",
             static_cast<int>(type), static_cast<int>(n), static_cast<int>(lo), static_cast<int>(hi),
             tostring(id).c_str());
    id.lDBMax = markAbove(hi);
    id.lDBTimer += 1;
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::allocateIds>>modifydb/modifycfg m_mapID[%d]=%s.", static_cast<int>(type),
             tostring(id).c_str());
    SFMID stored = id;
    stored.lMemMax = counterAfter(hi);
    long rc = Kyrofmdb::setDBIdToDB(m_strTableName, type, stored);
    if (rc != FM_SUCCESS) {
      FM_TRACE(TRACE_WARNING, "FMIdMgr::allocateIds>>setDBIdToDB(%d) fail(%ld) and modifycfg.",
               static_cast<int>(type), rc);
      int crc = modifycfg(type, stored);
      if (crc != FM_SUCCESS) {
        FM_TRACE(TRACE_ERROR, "FMIdMgr::modifydb>>modifycfg(%ld) fail(%d).", static_cast<long>(type), crc);
        // Neither table nor file holds a mark above the range: handing it out
        // could repeat it after a restart. The generation stays used.
        id.lDBMax = before.lDBMax;
        id.lMemMax = before.lMemMax;
        FM_TRACE(TRACE_ERROR, "FMIdMgr::allocateIds, IdType:%d, mark not persisted; no ID handed out",
                 static_cast<int>(type));
        return FM_FAILURE;
      }
    }
  }
  id.lMemMax = counterAfter(hi);
  minID = static_cast<long>(lo);
  maxID = static_cast<long>(hi);
  return FM_SUCCESS;
}

long FMIdMgr::allocateId(FMIDTYPE type) {
  long minID = 0;
  long maxID = 0;
  if (allocateIds(type, 1, minID, maxID) != FM_SUCCESS) return -1;
  return minID;
}

long FMIdMgr::getMaxID(FMIDTYPE type, long& max) {
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  auto it = m_mapID.find(type);
  if (it == m_mapID.end()) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::getMaxID, not find maxID, lIdType:%d", static_cast<int>(type));
    return FM_FAILURE;
  }
  max = it->second.lMemMax;
  return FM_SUCCESS;
}

long FMIdMgr::modifydb(FMIDTYPE type, long value) {
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  auto it = m_mapID.find(type);
  if (it == m_mapID.end()) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::modifydb, IdType is wrong, %d", static_cast<int>(type));
    return FM_FAILURE;
  }
  if (value < 0 || value > MAX_ID) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::modifydb, IdType:%d, bad value %ld", static_cast<int>(type), value);
    return FM_INVALID_ARG;
  }
  SFMID& id = it->second;
  id.lDBMax = static_cast<int32_t>(value);
  id.lMemMax = static_cast<int32_t>(value);
  // A new generation, so that this change also wins over an older file entry.
  id.lDBTimer += 1;
  FM_TRACE(TRACE_PROGRESS, "FMIdMgr::modifydb>>m_mapID[%d]=%s.", static_cast<int>(type), tostring(id).c_str());
  long rc = Kyrofmdb::setDBIdToDB(m_strTableName, type, id);
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::modifydb>>setIDToDB(%d) fail(%ld).", static_cast<int>(type), rc);
  }
  return rc;
}

int FMIdMgr::modifycfg(FMIDTYPE type, const SFMID& sfmid) {
  (void)type;
  ConfigAdapter confAdapter;
  int rc = confAdapter.init(getCfgFile(), true);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::modifycfg>>confAdapter.init  fail,code=%d!", rc);
    return static_cast<int>(FM_FAILURE);
  }
  char buf[1024];
  std::snprintf(buf, sizeof(buf), "%ld%s%ld", static_cast<long>(sfmid.lDBMax), ":",
                static_cast<long>(sfmid.lDBTimer));
  rc = confAdapter.modifySysParam(kCfgSection, sfmid.strName, buf, true);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::modifycfg>>modifySysParam(%s) fail(%d).", sfmid.strName.c_str(), rc);
    return static_cast<int>(FM_FAILURE);
  }
  FM_TRACE(TRACE_PROGRESS, "FMIdMgr::modifycfg>>modifySysParam(%s) for sFMID(%s) success.", sfmid.strName.c_str(),
           tostring(sfmid).c_str());
  return static_cast<int>(FM_SUCCESS);
}

int FMIdMgr::checkdbbycfg(std::map<FMIDTYPE, SFMID>& ids) {
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  std::string path = getCfgFile();
  FM_TRACE(TRACE_PROGRESS, "FMIdMgr::checkdbbycfg>>cfg file is:%s", path.c_str());
  ConfigAdapter confAdapter;
  // A missing file holds no marks; one that cannot be read may hold newer ones.
  int rc = confAdapter.init(path, true);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "FMIdMgr::checkdbbycfg>>confAdapter.init fail(%d).", rc);
    return static_cast<int>(FM_FAILURE);
  }
  for (auto& kv : ids) {
    SFMID& id = kv.second;
    const int type = static_cast<int>(kv.first);
    std::string strValue;
    rc = confAdapter.getSysParam(kCfgSection, id.strName, strValue);
    if (rc != 0) {
      FM_TRACE(TRACE_DETAIL, "FMIdMgr::checkdbbycfg>>getSysParam(%s) fail(%d) and be filted.", id.strName.c_str(), rc);
      continue;
    }
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::checkdbbycfg>>getSysParam(%s) strValue(%s).", id.strName.c_str(),
             strValue.c_str());
    std::string value = trimBlanks(strValue);
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
      size_t colon = value.find(':', start);
      parts.push_back(trimBlanks(value.substr(start, colon == std::string::npos ? std::string::npos : colon - start)));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    int64_t cfgId = 0;
    int64_t cfgTimer = 0;
    if (parts.size() != 2 || !parseDecimal(parts[0], cfgId) || !parseDecimal(parts[1], cfgTimer)) {
      FM_TRACE(TRACE_WARNING, "FMIdMgr::checkdbbycfg>>strValue(%s) parse fail and be filted.", strValue.c_str());
      continue;
    }
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::checkdbbycfg>>m_mapID[%d] compare:lDBTimer(%ld)lCfgTimer(%ld)lCfgID(%ld).",
             type, static_cast<long>(id.lDBTimer), static_cast<long>(cfgTimer), static_cast<long>(cfgId));
    if (id.lDBTimer < cfgTimer) {
      id.lDBMax = static_cast<int32_t>(cfgId);
      id.lMemMax = resumeCounter(cfgId);
      id.lDBTimer = static_cast<int32_t>(cfgTimer);
      long wrc = Kyrofmdb::setDBIdToDB(m_strTableName, kv.first, id);
      if (wrc != FM_SUCCESS) {
        FM_TRACE(TRACE_ERROR, "FMIdMgr::checkdbbycfg>>setDBIdToDB(%d) fail(%ld).", type, wrc);
      }
    }
    FM_TRACE(TRACE_PROGRESS, "FMIdMgr::checkdbbycfg>>after check:m_mapID[%ld]=%s.", static_cast<long>(type),
             tostring(id).c_str());
  }
  return static_cast<int>(FM_SUCCESS);
}

void FMIdMgr::get(std::map<FMIDTYPE, SFMID>& ids) {
  std::lock_guard<std::recursive_mutex> guard(m_mapIDMutex);
  ids = m_mapID;
}

std::string FMIdMgr::tostring(const SFMID& sfmid) {
  return "sFMID:lMemMax(" + std::to_string(sfmid.lMemMax) + ")lDBMax(" + std::to_string(sfmid.lDBMax) +
         ")lDBTimer(" + std::to_string(sfmid.lDBTimer) + ")strName(" + sfmid.strName + ")";
}

}  // namespace Kyrofm
