// AlarmExpQueryer.cpp: reads of the alarm explanation knowledge base, the
// two answer caches, the bulk path through a temporary key table, and the
// knowledge base's version number.
//
// All SQL is built from fixed pieces and integers; the texts of the knowledge
// base are only read (or bound, in the key table's batch insert), so quotes
// in them need no escaping.
#include "fm_common/fmlog/AlarmExpQueryer.h"

#include <ace/Guard_T.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "fm_common/audit/OperStatusInfoMgr.h"
#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::CFMDBTools;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;

namespace {

const char* const kReasonTable = "tbl_alm_exp_reason";
const char* const kVersionPath = "/kyro/vela/fmdb/tables/ALARM_EXPLAIN/versionId";
const char* const kVersionFile = "KYRO_velasvc.xml";
const char* const kVersionSection = "vela/fmdb/tables/ALARM_EXPLAIN";
const char* const kPrefetch = "200";

bool isBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n\f\v") == std::string::npos; }

std::string num(long v) { return std::to_string(v); }


// Drops the first entries of m (in key order) while its size plus incoming
// exceeds batch; a dropped key leaves found too.
template <typename Map, typename Set>
void evict(Map& m, Set& found, size_t incoming, unsigned batch) {
  while (!m.empty() && m.size() + incoming > batch) {
    found.erase(m.begin()->first);
    m.erase(m.begin());
  }
}

AlarmInfoEx_t groupKey(const AlarmInfoEx_t& k) { return AlarmInfoEx_t(k.m_lGroupId, -1, k.m_lReasonId); }

}  // namespace

AlmExp_t expFromRow(const SACommand& cmd) {
  AlmExp_t e;
  e.m_lGroupId = cmd.Field("GroupID").asLong();
  e.m_lAlarmId = cmd.Field("AlarmID").asLong();
  e.Category = static_cast<char>(cmd.Field("Category").asLong());
  e.AlarmLevel = static_cast<char>(cmd.Field("AlarmLevel").asLong());
  e.AlarmType = static_cast<char>(cmd.Field("AlarmType").asLong());
  e.ClearCategory = static_cast<char>(cmd.Field("ClearCategory").asLong());
  e.AlarmName = cmd.Field("AlarmName").asString();
  e.LinkType = static_cast<std::int32_t>(cmd.Field("LinkType").asLong());
  e.RelativeAlmID = static_cast<std::int32_t>(cmd.Field("RelativeAlmID").asLong());
  e.ClearStrategy = static_cast<std::int32_t>(cmd.Field("ClearStrategy").asLong());
  e.ReasonType = static_cast<std::int32_t>(cmd.Field("ReasonType").asLong());
  ReasonInfo r;
  r.ExpTimeStamp = static_cast<std::int32_t>(cmd.Field("ExpTimeStamp").asLong());
  r.ReasonID = static_cast<std::int32_t>(cmd.Field("ReasonID").asLong());
  r.Explain = cmd.Field("Explain").asString();
  r.ClearAdvice = cmd.Field("ClearAdvice").asString();
  r.ExpFormat = cmd.Field("ExpFormat").asString();
  r.AlarmGroupLabel = cmd.Field("AlarmGroupLabel").asString();
  r.Meaning = cmd.Field("Meaning").asString();
  r.MergeStrategy = static_cast<std::int32_t>(cmd.Field("MergeStrategy").asLong());
  r.OperationType = static_cast<std::uint8_t>(cmd.Field("OperationType").asLong());
  r.DefineField = static_cast<std::uint8_t>(cmd.Field("DefineField").asLong());
  e.Reasons.push_back(std::move(r));
  return e;
}

// ---------------------------------------------------------------------------
// ExpLogBulkVector

void ExpLogBulkVector::resize(long n) {
  if (n < 0) n = 0;
  const size_t size = static_cast<size_t>(n);
  for (auto* v : {&m_vGroupID, &m_vAlarmID, &m_vReasonID, &m_vCategory, &m_vAlarmLevel, &m_vAlarmType,
                  &m_vExpTimeStamp, &m_vRelativeAlmID, &m_vClearStrategy, &m_vReasonType, &m_vLinkType,
                  &m_vClearCategory, &m_vOperationType, &m_vMergeStrategy, &m_vDefineField})
    v->resize(size);
  for (auto* v : {&m_vAlarmName, &m_vExplain, &m_vClearAdvice, &m_vExpFormat, &m_vAlarmGroupLabel, &m_vMeaning})
    v->resize(size);
  m_lCount = n;
}

void ExpLogBulkVector::clearStringInfo(long n) {
  if (n < 0) n = 0;
  for (auto* v : {&m_vAlarmName, &m_vExplain, &m_vClearAdvice, &m_vExpFormat, &m_vAlarmGroupLabel, &m_vMeaning})
    v->assign(static_cast<size_t>(n), std::string());
}

// ---------------------------------------------------------------------------
// CAlarmExpQueryer: statics and lifecycle

std::map<AlarmInfoEx_t, ExpandInfo_t> CAlarmExpQueryer::m_oAlarmInfoExMap;
ACE_RW_Thread_Mutex CAlarmExpQueryer::m_oAlarmInfoExMapLock;
std::map<AlarmInfo_t, std::string> CAlarmExpQueryer::m_oAlarmInfoMeaningMap;
ACE_RW_Thread_Mutex CAlarmExpQueryer::m_oAlarmInfoMeaningMapLock;
std::atomic<unsigned long> CAlarmExpQueryer::m_ulCacheGeneration{0};
std::atomic<CAlarmExpQueryer*> CAlarmExpQueryer::m_pInstance{nullptr};
std::mutex CAlarmExpQueryer::m_instanceMtx;

CAlarmExpQueryer* CAlarmExpQueryer::instance() {
  CAlarmExpQueryer* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  {
    std::lock_guard<std::mutex> guard(m_instanceMtx);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CAlarmExpQueryer();
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  COperStatusInfoMgr::waitStatusIdle(999999, -1);
  return p;
}

void CAlarmExpQueryer::destroy() {
  {
    ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoExMapLock);
    m_oAlarmInfoExMap.clear();
  }
  {
    ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
    m_oAlarmInfoMeaningMap.clear();
  }
  ++m_ulCacheGeneration;
  std::lock_guard<std::mutex> guard(m_instanceMtx);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

size_t CAlarmExpQueryer::expCacheSize() {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoExMapLock);
  return m_oAlarmInfoExMap.size();
}

size_t CAlarmExpQueryer::meanCacheSize() {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
  return m_oAlarmInfoMeaningMap.size();
}

// ---------------------------------------------------------------------------
// Entry reads

void CAlarmExpQueryer::executeQuery(const std::string& sql, std::list<AlmExp_t>& out) {
  FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::executeQuery sql: %s", sql.c_str());
  std::list<AlmExp_t> rows;
  long rc = CFMDBGuard::run(
      __FILE__, __LINE__, "CAlarmExpOperator::executeQuery", FM_FAILURE,
      [&](SAConnection& conn) -> long {
        SACommand cmd(&conn, sql);
        cmd.setOption("PreFetchRows", kPrefetch);
        cmd.Execute();
        while (cmd.FetchNext()) rows.push_back(expFromRow(cmd));
        return FM_SUCCESS;
      },
      CFMDBGuard::ERR_RETURN_VOID);
  if (rc == FM_SUCCESS) out.splice(out.end(), rows);
}

long CAlarmExpQueryer::queryFromDB(const std::list<AlarmInfo_t>& keys, std::list<AlmExp_t>& out) {
  out.clear();
  if (keys.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::queryFromDB, AlmInfos is empty!");
    return FM_INVALID_ARG;
  }
  std::list<AlmExp_t> rows;
  const AlarmInfo_t& first = keys.front();
  if (first.m_lAlarmId == -1) {
    std::string sql = " select * from " + m_strTableName;
    if (first.m_lGroupId != -1) sql += " where GroupID=" + num(first.m_lGroupId);
    executeQuery(sql, rows);
  } else {
    std::string sql;
    size_t inStatement = 0;
    for (const AlarmInfo_t& k : keys) {
      const std::string cond = "(GroupID=" + num(k.m_lGroupId) + " and AlarmID=" + num(k.m_lAlarmId) + ")";
      if (inStatement == 0) {
        sql = " select * from " + m_strTableName + " where " + cond;
      } else {
        sql += " or " + cond;
      }
      if (++inStatement == KEYS_PER_STATEMENT) {
        executeQuery(sql, rows);
        inStatement = 0;
      }
    }
    if (inStatement > 0) executeQuery(sql, rows);
  }
  combineExpListWithoutExpand(rows, out);
  if (out.empty()) FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::queryFromDB, expList is empty!");
  return FM_SUCCESS;
}

long CAlarmExpQueryer::queryByTimeStamp(long t, std::list<AlmExp_t>& out) {
  FM_FUNC_TRACE("CAlarmExpQueryer::queryByTimeStamp");
  std::list<AlmExp_t> rows;
  executeQuery("select * from " + m_strTableName + " where ExpTimeStamp > " + num(t), rows);
  combineExpListWithoutExpand(rows, out);
  return FM_SUCCESS;
}

long CAlarmExpQueryer::queryAllOldNames(std::map<AlarmInfo_t, std::string>& names) {
  return CFMDBGuard::run(__FILE__, __LINE__, "CAlmExpLogImpl::queryAllOldNames", FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, " select GroupID, AlarmID,AlarmName from " + m_strTableName);
                           cmd.setOption("PreFetchRows", kPrefetch);
                           cmd.Execute();
                           while (cmd.FetchNext())
                             names[AlarmInfo_t(cmd.Field(1).asLong(), cmd.Field(2).asLong())] =
                                 cmd.Field(3).asString();
                           return FM_SUCCESS;
                         });
}

// ---------------------------------------------------------------------------
// Single-alarm answers

long CAlarmExpQueryer::getExpAndAdvice(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info) {
  info = ExpandInfo_t();
  if (getExpAndAdviceFromMem(keyEx, info) != FM_SUCCESS) {
    FM_TRACE(TRACE_DETAIL, "getExpAndAdvice,getExpAndAdviceFromMem fail!!GID:%ld,AlmID:%ld,ReasonID:%ld.",
             keyEx.m_lGroupId, keyEx.m_lAlarmId, keyEx.m_lReasonId);
    getExpAndAdviceFromDB(keyEx, info);
  }
  const AlarmInfo_t key(keyEx.m_lGroupId, keyEx.m_lAlarmId);
  if (getMeanFromMem(key, info) != FM_SUCCESS) {
    FM_TRACE(TRACE_DETAIL, "getExpAndAdvice, getMeanFromMem fail!GID:%ld,AlmID:%ld,ReasonID:%ld.",
             keyEx.m_lGroupId, keyEx.m_lAlarmId, keyEx.m_lReasonId);
    getMeanFromDB(key, info);
  }
  return FM_SUCCESS;
}

// Only the exact key answers: an alarm of the group whose own row carries
// advice must not be given the group-wide texts of (group id, -1, reason id),
// and the cache cannot tell such an alarm from one whose advice is blank.
long CAlarmExpQueryer::getExpAndAdviceFromMem(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoExMapLock);
  auto it = m_oAlarmInfoExMap.find(keyEx);
  if (it == m_oAlarmInfoExMap.end()) {
    FM_TRACE(TRACE_DETAIL, "CAlarmExpQueryer::getExplainAndClearAdvice retry fail!");
    return FM_FAILURE;
  }
  info.m_strExplanation = it->second.m_strExplanation;
  info.m_strClearAdvice = it->second.m_strClearAdvice;
  info.m_strMeaning = it->second.m_strMeaning;
  return FM_SUCCESS;
}

long CAlarmExpQueryer::getExpAndAdviceFromDB(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info) {
  const unsigned long generation = m_ulCacheGeneration.load();
  const long g = keyEx.m_lGroupId, a = keyEx.m_lAlarmId, r = keyEx.m_lReasonId;
  bool haveRow = false, haveReason = false;
  info = ExpandInfo_t();
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CAlmExpLogImpl::getExpAndAdviceFromDB", FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, " select Explain, ClearAdvice, Meaning from " + m_strTableName +
                                                       " where GroupID=" + num(g) + " and AlarmID=" + num(a) +
                                                       " and ReasonID = " + num(r));
                              cmd.Execute();
                              if (cmd.FetchNext()) {
                                haveRow = true;
                                info.m_strExplanation = cmd.Field(1).asString();
                                info.m_strClearAdvice = cmd.Field(2).asString();
                                info.m_strMeaning = cmd.Field(3).asString();
                              }
                              cmd.Close();
                              if (!isBlank(info.m_strClearAdvice)) return FM_SUCCESS;
                              SACommand rcmd(&conn, std::string(" select Explain, ClearAdvice from ") + kReasonTable +
                                                        " where GroupID=" + num(g) + " and ReasonID=" + num(r));
                              rcmd.Execute();
                              if (rcmd.FetchNext()) {
                                haveReason = true;
                                info.m_strExplanation = rcmd.Field(1).asString();
                                info.m_strClearAdvice = rcmd.Field(2).asString();
                              } else {
                                FM_TRACE(TRACE_ERROR,
                                         "CAlarmExpQueryer::getExpAndAdviceFromDB tbl_alm_exp_reason "
                                         "fail!GID:%ld,AlmID:%ld,ReasonID:%ld.",
                                         g, a, r);
                              }
                              return FM_SUCCESS;
                            });
  if (rc != FM_SUCCESS) return rc;
  // A missing row is not cached: the operator may add it later, and an add
  // does not touch the caches. Answers read while the operator changed the
  // caches may be older than the change and are not cached either.
  if (haveRow) {
    ACE_Write_Guard<ACE_RW_Thread_Mutex> mg(m_oAlarmInfoMeaningMapLock);
    if (m_ulCacheGeneration.load() == generation && m_oAlarmInfoMeaningMap.size() < CACHE_LIMIT)
      m_oAlarmInfoMeaningMap.emplace(AlarmInfo_t(g, a), info.m_strMeaning);
  }
  if (haveRow || haveReason) {
    ACE_Write_Guard<ACE_RW_Thread_Mutex> eg(m_oAlarmInfoExMapLock);
    if (m_ulCacheGeneration.load() == generation) {
      if (haveReason && m_oAlarmInfoExMap.size() < CACHE_LIMIT) m_oAlarmInfoExMap.emplace(groupKey(keyEx), info);
      if (haveRow && m_oAlarmInfoExMap.size() < CACHE_LIMIT) m_oAlarmInfoExMap.emplace(keyEx, info);
    }
    FM_TRACE(TRACE_DETAIL, "CAlarmExpQueryer::getExpAndAdviceFromDB, m_oAlarmInfoExMap.size [%d]",
             static_cast<int>(m_oAlarmInfoExMap.size()));
  }
  return FM_SUCCESS;
}

long CAlarmExpQueryer::getMeanFromMem(const AlarmInfo_t& key, ExpandInfo_t& info) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
  auto it = m_oAlarmInfoMeaningMap.find(key);
  if (it == m_oAlarmInfoMeaningMap.end()) return FM_FAILURE;
  info.m_strMeaning = it->second;
  return FM_SUCCESS;
}

long CAlarmExpQueryer::getMeanFromDB(const AlarmInfo_t& key, ExpandInfo_t& info) {
  const unsigned long generation = m_ulCacheGeneration.load();
  bool haveRow = false;
  info.m_strMeaning.clear();
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CAlmExpLogImpl::getMeanFromDB", FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, " select Meaning from " + m_strTableName + " where (GroupID=" +
                                                       num(key.m_lGroupId) + " and AlarmID=" +
                                                       num(key.m_lAlarmId) + ")");
                              cmd.Execute();
                              if (cmd.FetchNext()) {
                                haveRow = true;
                                info.m_strMeaning = cmd.Field(1).asString();
                              }
                              return FM_SUCCESS;
                            });
  if (rc != FM_SUCCESS) return rc;
  if (!haveRow) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::getMeanFromDB fail!GID:%ld,AlmID:%ld.", key.m_lGroupId,
             key.m_lAlarmId);
    return FM_SUCCESS;
  }
  ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
  if (m_ulCacheGeneration.load() == generation && m_oAlarmInfoMeaningMap.size() < CACHE_LIMIT)
    m_oAlarmInfoMeaningMap.emplace(key, info.m_strMeaning);
  FM_TRACE(TRACE_DETAIL, "CAlarmExpQueryer::getMeanFromDB, m_oAlarmInfoMeaningMap.size [%d]",
           static_cast<int>(m_oAlarmInfoMeaningMap.size()));
  return FM_SUCCESS;
}

long CAlarmExpQueryer::getExplainAndClearAdvice(const AlarmInfo_t& key, long reasonId, std::string& explain,
                                                std::string& advice, std::string& meaning) {
  const std::string g = num(key.m_lGroupId), a = num(key.m_lAlarmId), r = num(reasonId);
  return CFMDBGuard::run(
      __FILE__, __LINE__, "CAlmExpLogImpl::getExplainAndClearAdvice", FM_FAILURE, [&](SAConnection& conn) -> long {
        SACommand mcmd(&conn, " select Meaning from " + m_strTableName + " where GroupID=" + g + " and AlarmID=" + a);
        mcmd.Execute();
        if (mcmd.FetchNext()) meaning = mcmd.Field(1).asString();
        mcmd.Close();
        std::string sql = " select Explain, ClearAdvice from " + m_strTableName + " where GroupID=" + g +
                          " and AlarmID=" + a;
        sql += reasonId != -1 ? " and ReasonID = " + r : std::string(" order by ReasonID ");
        SACommand cmd(&conn, sql);
        cmd.Execute();
        if (cmd.FetchNext()) {
          explain = cmd.Field(1).asString();
          advice = cmd.Field(2).asString();
          return FM_SUCCESS;
        }
        cmd.Close();
        SACommand rcmd(&conn, std::string(" select Explain, ClearAdvice from ") + kReasonTable + " where GroupID=" +
                                  g + " and ReasonID=" + r);
        rcmd.Execute();
        if (rcmd.FetchNext()) {
          explain = rcmd.Field(1).asString();
          advice = rcmd.Field(2).asString();
        }
        return FM_SUCCESS;
      });
}

// ---------------------------------------------------------------------------
// Reason table and frequency keys

long CAlarmExpQueryer::getGroupReasonExp(const std::list<GroupReason_t>& conds, std::list<GroupReasonExp_t>& out) {
  long result = FM_SUCCESS;
  std::list<GroupReason_t> batch;
  auto flush = [&]() {
    long rc = getGroupReasonExpBatch(batch, out);
    if (rc != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::getGroupReasonExp, getGroupReasonExpBatch fail:%ld", rc);
      result = rc;
    }
    batch.clear();
  };
  for (const GroupReason_t& c : conds) {
    batch.push_back(c);
    if (batch.size() == KEYS_PER_STATEMENT) flush();
  }
  if (!batch.empty() || conds.empty()) flush();
  return result;
}

long CAlarmExpQueryer::getGroupReasonExpBatch(const std::list<GroupReason_t>& conds,
                                              std::list<GroupReasonExp_t>& out) {
  if (conds.empty()) {
    FM_TRACE(TRACE_DETAIL, "CAlarmExpQueryer::getGroupReasonExpBatch, GroupReasonConds is empty.");
    return FM_SUCCESS;
  }
  std::string sql = std::string(" select GroupID, ReasonID, Explain, ClearAdvice from ") + kReasonTable + " " +
                    " where ";
  bool first = true;
  for (const GroupReason_t& c : conds) {
    char buf[96];
    std::snprintf(buf, sizeof buf, first ? " ( GroupID=%ld and ReasonID=%ld )" : " or ( GroupID=%ld and ReasonID=%ld )",
                  c.m_lGroupId, c.m_lReasonId);
    sql += buf;
    first = false;
  }
  std::list<GroupReasonExp_t> rows;
  long rc = CFMDBGuard::run(__FILE__, __LINE__, "CAlmExpLogImpl::getGroupReasonExp", FM_FAILURE,
                            [&](SAConnection& conn) -> long {
                              SACommand cmd(&conn, sql);
                              cmd.setOption("PreFetchRows", kPrefetch);
                              cmd.Execute();
                              while (cmd.FetchNext()) {
                                GroupReasonExp_t e;
                                e.m_lGroupId = cmd.Field(1).asLong();
                                e.m_lReasonId = cmd.Field(2).asLong();
                                e.m_strExplain = cmd.Field(3).asString();
                                e.m_strClearAdvice = cmd.Field(4).asString();
                                rows.push_back(std::move(e));
                              }
                              return FM_SUCCESS;
                            });
  if (rc == FM_SUCCESS) out.splice(out.end(), rows);
  return rc;
}

long CAlarmExpQueryer::loadAlmKey4Frequency(std::set<AlarmExpKey>& keys) {
  return CFMDBGuard::run(__FILE__, __LINE__, "CAlarmExpQueryer::loadAlmKey4Frequency", FM_FAILURE,
                         [&](SAConnection& conn) -> long {
                           SACommand cmd(&conn, "select GroupID,AlarmID from tbl_alm_exp_info where MergeStrategy=1");
                           cmd.setOption("PreFetchRows", kPrefetch);
                           cmd.Execute();
                           while (cmd.FetchNext())
                             keys.insert(AlarmExpKey(static_cast<std::int32_t>(cmd.Field(1).asLong()),
                                                     static_cast<std::int32_t>(cmd.Field(2).asLong())));
                           return FM_SUCCESS;
                         });
}

// ---------------------------------------------------------------------------
// Bulk path
//
// Per call, every distinct (group, alarm, reason) of the records is either
// found in the caller's map already (exact key) or pending. Pending keys go
// into the temporary key table, which is joined with tbl_alm_exp_info; rows
// with advice answer their key. What is still pending then is joined with
// tbl_alm_exp_reason by (group, reason). Every pending key ends with an entry
// of its own, so a later call neither asks for it again nor answers an
// alarm from the group-wide entry (group, -1, reason) that another alarm of
// the group brought in: that entry holds only for alarms whose own advice is
// blank. The answers equal those of getExpAndAdviceFromDB.

namespace {

// Empties table and fills it with rows (GroupID, AlarmID, ReasonID) in one
// transaction. FM_FAILURE (logged with what) when it cannot be emptied.
long fillKeyTable(const std::string& table, const std::vector<AlarmInfoEx_t>& rows, const char* what) {
  return CFMDBGuard::run(__FILE__, __LINE__, what, FM_FAILURE, [&](SAConnection& conn) -> long {
    try {
      SACommand del(&conn, "delete from " + table);
      del.Execute();
    } catch (const Kyrofmdb::SAException&) {
      FM_TRACE(TRACE_ERROR, "%s truncate temp table  fail!", what);
      return FM_FAILURE;
    }
    if (rows.empty()) return FM_SUCCESS;
    SACommand ins(&conn);
    ins.SetExecBatch(true);
    ins.SetTable(table);
    ins.SetBatchMaxRowCount(static_cast<int>(rows.size()));
    for (const AlarmInfoEx_t& k : rows) {
      ins.Param("GroupID").setAsLong() = k.m_lGroupId;
      ins.Param("AlarmID").setAsLong() = k.m_lAlarmId;
      ins.Param("ReasonID").setAsLong() = k.m_lReasonId;
      ins.EndRow();
    }
    ins.Execute(static_cast<int>(rows.size()));
    ins.SetExecBatch(false);
    return ins.RowsAffected() > 0 ? FM_SUCCESS : FM_FAILURE;
  });
}

// Runs a join and hands every row to onRow. The guard's result.
long runJoin(const std::string& sql, const char* what, const std::function<void(const SACommand&)>& onRow) {
  return CFMDBGuard::run(__FILE__, __LINE__, what, FM_FAILURE, [&](SAConnection& conn) -> long {
    SACommand cmd(&conn, sql);
    cmd.setOption("PreFetchRows", kPrefetch);
    cmd.Execute();
    while (cmd.FetchNext()) onRow(cmd);
    return FM_SUCCESS;
  });
}

}  // namespace

void CAlarmExpQueryer::batchGetExpAndMean(const std::list<AlmRecord_t>& records, unsigned batch, ExpInfoMap& exp,
                                          MeanInfoMap& mean) {
  if (records.size() < BULK_MIN_RECORDS) return;
  std::string table;
  if (createTmpTable(table, "t_exp_info") != FM_SUCCESS) return;
  batchGetExp(records, batch, table, exp, mean);
  batchGetMean(records, batch, table, mean);
  CFMDBTools::DropTable(table);
}

void CAlarmExpQueryer::batchGetExp(const std::list<AlmRecord_t>& records, unsigned batch, const std::string& table,
                                   ExpInfoMap& exp, MeanInfoMap& mean) {
  std::set<AlarmInfoEx_t> collected, pending, found;
  for (const AlmRecord_t& rec : records) {
    AlarmInfoEx_t k(rec.getGroupId(), rec.getAlarmId(), rec.getReasonId());
    if (!collected.insert(k).second) continue;
    if (exp.count(k) != 0) {
      found.insert(k);
    } else {
      pending.insert(k);
    }
  }
  if (!pending.empty()) batchInitExp(pending, found, table, batch, exp, mean);
}

long CAlarmExpQueryer::batchInitExp(std::set<AlarmInfoEx_t>& pending, std::set<AlarmInfoEx_t>& found,
                                    const std::string& table, unsigned batch, ExpInfoMap& exp, MeanInfoMap& mean) {
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::batchInitExp,advice not found: %d advice found:%d",
           static_cast<int>(pending.size()), static_cast<int>(found.size()));
  evict(exp, found, pending.size(), batch);
  long rc = FM_SUCCESS;
  if (exp.size() < batch) {
    std::string sql;
    rc = createWhereCondExp(pending, sql, table);
    if (rc == FM_SUCCESS) {
      rc = runJoin(sql, "CAlarmExpQueryer::batchInitExp", [&](const SACommand& cmd) {
        AlarmInfoEx_t k(cmd.Field(1).asLong(), cmd.Field(2).asLong(), cmd.Field(3).asLong());
        ExpandInfo_t info{cmd.Field(4).asString(), cmd.Field(5).asString(), cmd.Field(6).asString()};
        mean[AlarmInfo_t(k.m_lGroupId, k.m_lAlarmId)] = info.m_strMeaning;
        // A blank advice keeps the key pending for the reason table; its own
        // explanation stays the answer if that table has nothing either.
        if (!isBlank(info.m_strClearAdvice) && pending.erase(k) != 0) found.insert(k);
        exp[k] = std::move(info);
      });
    }
  }
  FM_TRACE(TRACE_PROGRESS,
           "CAlarmExpQueryer::batchInitExp,after init,exp buffer size is:%d, mean buffer size is:%d",
           static_cast<int>(exp.size()), static_cast<int>(mean.size()));
  if (rc != FM_SUCCESS) return rc;
  return pending.empty() ? FM_SUCCESS : batchInitReason(pending, found, table, batch, exp);
}

long CAlarmExpQueryer::batchInitReason(std::set<AlarmInfoEx_t>& pending, std::set<AlarmInfoEx_t>& found,
                                       const std::string& table, unsigned batch, ExpInfoMap& exp) {
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::batchInitReason,advice not found: %d advice found:%d",
           static_cast<int>(pending.size()), static_cast<int>(found.size()));
  // Entries of pending keys (blank advice) must survive the eviction.
  std::map<AlarmInfoEx_t, ExpandInfo_t> own;
  for (const AlarmInfoEx_t& k : pending) {
    auto it = exp.find(k);
    if (it != exp.end()) {
      own.insert(*it);
      exp.erase(it);
    }
  }
  evict(exp, found, pending.size(), batch);
  long rc = FM_SUCCESS;
  if (exp.size() < batch) {
    std::string sql;
    rc = createWhereCondExpFromReason(pending, sql, table);
    std::map<std::pair<long, long>, ExpandInfo_t> byReason;
    if (rc == FM_SUCCESS) {
      rc = runJoin(sql, "CAlarmExpQueryer::batchInitReason", [&](const SACommand& cmd) {
        ExpandInfo_t info{cmd.Field(3).asString(), cmd.Field(4).asString(), std::string()};
        const long g = cmd.Field(1).asLong(), r = cmd.Field(2).asLong();
        exp[AlarmInfoEx_t(g, -1, r)] = info;
        byReason[{g, r}] = std::move(info);
      });
    }
    for (auto it = pending.begin(); it != pending.end();) {
      auto hit = byReason.find({it->m_lGroupId, it->m_lReasonId});
      if (hit != byReason.end()) {
        exp[*it] = hit->second;
        found.insert(*it);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::batchInitReason,after init,buffer size is:%d",
             static_cast<int>(exp.size()));
  }
  // What is still pending answers with its own row's texts, or empty texts,
  // so that it is not asked again.
  if (rc == FM_SUCCESS && exp.size() < batch) {
    for (const AlarmInfoEx_t& k : pending) {
      auto it = own.find(k);
      exp[k] = it != own.end() ? it->second : ExpandInfo_t();
    }
  }
  return rc;
}

void CAlarmExpQueryer::batchGetMean(const std::list<AlmRecord_t>& records, unsigned batch, const std::string& table,
                                    MeanInfoMap& mean) {
  std::set<AlarmInfo_t> collected, pending, found;
  for (const AlmRecord_t& rec : records) {
    AlarmInfo_t k(rec.getGroupId(), rec.getAlarmId());
    if (!collected.insert(k).second) continue;
    if (mean.count(k) != 0) {
      found.insert(k);
    } else {
      pending.insert(k);
    }
  }
  if (!pending.empty()) batchInitMean(pending, found, table, batch, mean);
}

long CAlarmExpQueryer::batchInitMean(std::set<AlarmInfo_t>& pending, std::set<AlarmInfo_t>& found,
                                     const std::string& table, unsigned batch, MeanInfoMap& mean) {
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::batchInitMean,advice not found: %d advice found:%d",
           static_cast<int>(pending.size()), static_cast<int>(found.size()));
  evict(mean, found, pending.size(), batch);
  long rc = FM_SUCCESS;
  if (mean.size() < batch) {
    std::string sql;
    rc = createWhereCondMean(pending, sql, table);
    if (rc == FM_SUCCESS) {
      rc = runJoin(sql, "CAlarmExpQueryer::batchInitMean", [&](const SACommand& cmd) {
        AlarmInfo_t k(cmd.Field(1).asLong(), cmd.Field(2).asLong());
        // The first row of an alarm gives its meaning, as the single read.
        if (pending.erase(k) != 0) {
          found.insert(k);
          mean[k] = cmd.Field(3).asString();
        }
      });
    }
    // An alarm without rows has an empty meaning; it is not asked again.
    if (rc == FM_SUCCESS) {
      for (const AlarmInfo_t& k : pending) mean.emplace(k, std::string());
    }
  }
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::batchInitMean,after init,buffer size is:%d",
           static_cast<int>(mean.size()));
  return rc;
}

long CAlarmExpQueryer::createTmpTable(std::string& name, const std::string& prefix) {
  long minId = 0, maxId = 0;
  long rc = FMIdMgr::instance()->allocateIds(FM_IDTYPE_TEMPTABLE, 1, minId, maxId);
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpQueryer::createTmpTable allocateIds for exp fail, return %ld", rc);
    return FM_FAILURE;
  }
  name = prefix + num(minId);
  CFMDBTools::DropTable(name);
  const std::string sql = "create table " + name + " (GroupID int, AlarmID int, ReasonID int)";
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpQueryer::createTmpTable create strSql: %s", sql.c_str());
  return CFMDBTools::ExecuteSQL(sql, 5, false) == FM_SUCCESS ? FM_SUCCESS : FM_FAILURE;
}

long CAlarmExpQueryer::createWhereCondExp(const std::set<AlarmInfoEx_t>& keys, std::string& sql,
                                          const std::string& table) {
  long rc = fillKeyTable(table, std::vector<AlarmInfoEx_t>(keys.begin(), keys.end()),
                         "CAlarmExpQueryer::createWhereCondExp");
  if (rc != FM_SUCCESS) return FM_FAILURE;
  sql = "select t1.GroupID,t1.AlarmID,t1.ReasonID,t1.Explain,t1.ClearAdvice,t1.Meaning from tbl_alm_exp_info t1," +
        table + " t2 where t1.GroupID = t2.GroupID and t1.AlarmID = t2.AlarmID and t1.ReasonID = t2.ReasonID";
  return FM_SUCCESS;
}

long CAlarmExpQueryer::createWhereCondExpFromReason(const std::set<AlarmInfoEx_t>& keys, std::string& sql,
                                                    const std::string& table) {
  std::set<AlarmInfoEx_t> groupKeys;
  for (const AlarmInfoEx_t& k : keys) groupKeys.insert(groupKey(k));
  long rc = fillKeyTable(table, std::vector<AlarmInfoEx_t>(groupKeys.begin(), groupKeys.end()),
                         "CAlarmExpQueryer::createWhereCondExpFromReason");
  if (rc != FM_SUCCESS) return FM_FAILURE;
  sql = std::string("select t1.GroupID,t1.ReasonID,t1.Explain,t1.ClearAdvice from tbl_alm_exp_reason t1,") + table +
        " t2 where t1.GroupID = t2.GroupID and t1.ReasonID = t2.ReasonID";
  return FM_SUCCESS;
}

long CAlarmExpQueryer::createWhereCondMean(const std::set<AlarmInfo_t>& keys, std::string& sql,
                                           const std::string& table) {
  std::vector<AlarmInfoEx_t> rows;
  rows.reserve(keys.size());
  for (const AlarmInfo_t& k : keys) rows.emplace_back(k, 0);
  long rc = fillKeyTable(table, rows, "CAlarmExpQueryer::createWhereCondMean");
  if (rc != FM_SUCCESS) return FM_FAILURE;
  sql = "select t1.GroupID,t1.AlarmID,t1.Meaning from tbl_alm_exp_info t1," + table +
        " t2 where t1.GroupID = t2.GroupID and t1.AlarmID = t2.AlarmID";
  return FM_SUCCESS;
}

bool CAlarmExpQueryer::getExpAndAdvice(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info, const ExpInfoMap& exp,
                                       const MeanInfoMap& mean) {
  auto it = exp.find(keyEx);
  if (it == exp.end()) it = exp.find(groupKey(keyEx));
  if (it == exp.end()) return false;
  info.m_strExplanation = it->second.m_strExplanation;
  info.m_strClearAdvice = it->second.m_strClearAdvice;
  auto m = mean.find(AlarmInfo_t(keyEx.m_lGroupId, keyEx.m_lAlarmId));
  if (m == mean.end()) return false;
  info.m_strMeaning = m->second;
  return true;
}

// ---------------------------------------------------------------------------
// Cache maintenance

void CAlarmExpQueryer::updateExpToMem(const std::list<AlmExp_t>& exps) {
  int countExp = 0, countMean = 0;
  ++m_ulCacheGeneration;
  for (const AlmExp_t& e : exps) {
    for (const ReasonInfo& r : e.Reasons) {
      {
        ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoExMapLock);
        auto it = m_oAlarmInfoExMap.find(AlarmInfoEx_t(e.m_lGroupId, e.m_lAlarmId, r.ReasonID));
        if (it != m_oAlarmInfoExMap.end()) {
          // A blank advice hands the answer to the reason table: let the next
          // read ask the tables.
          if (isBlank(r.ClearAdvice)) {
            m_oAlarmInfoExMap.erase(it);
          } else {
            it->second.m_strExplanation = r.Explain;
            it->second.m_strClearAdvice = r.ClearAdvice;
            it->second.m_strMeaning = r.Meaning;
          }
          ++countExp;
        }
      }
      ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
      auto it = m_oAlarmInfoMeaningMap.find(AlarmInfo_t(e.m_lGroupId, e.m_lAlarmId));
      if (it != m_oAlarmInfoMeaningMap.end()) {
        it->second = r.Meaning;
        ++countMean;
      }
    }
  }
  ++m_ulCacheGeneration;
  FM_TRACE(TRACE_PROGRESS,
           "CAlarmExpQueryer::updateExpToMem: almExpList.size = %d, updateCountExp = %d, updateCountMean = %d.",
           static_cast<int>(exps.size()), countExp, countMean);
}

void CAlarmExpQueryer::deleteExpFromMem(const std::list<AlmExp_t>& exps) {
  int countExp = 0, countMean = 0;
  ++m_ulCacheGeneration;
  for (const AlmExp_t& e : exps) {
    for (const ReasonInfo& r : e.Reasons) {
      {
        ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoExMapLock);
        countExp += static_cast<int>(m_oAlarmInfoExMap.erase(AlarmInfoEx_t(e.m_lGroupId, e.m_lAlarmId, r.ReasonID)));
      }
      ACE_Write_Guard<ACE_RW_Thread_Mutex> g(m_oAlarmInfoMeaningMapLock);
      countMean += static_cast<int>(m_oAlarmInfoMeaningMap.erase(AlarmInfo_t(e.m_lGroupId, e.m_lAlarmId)));
    }
  }
  ++m_ulCacheGeneration;
  FM_TRACE(TRACE_PROGRESS,
           "CAlarmExpQueryer::deleteExpFromMem: almExpList.size = %d, deleteCountExp = %d, deleteCountMean = %d.",
           static_cast<int>(exps.size()), countExp, countMean);
}

// ---------------------------------------------------------------------------
// Column buffer

void CAlarmExpQueryer::readFromBulkVector(ExpLogBulkVector& bulk, std::list<AlmExp_t>& out, int count) {
  if (count > bulk.capacity()) count = static_cast<int>(bulk.capacity());
  for (int i = 0; i < count; ++i) {
    AlmExp_t e;
    e.m_lGroupId = bulk.m_vGroupID[i];
    e.m_lAlarmId = bulk.m_vAlarmID[i];
    e.Category = static_cast<char>(bulk.m_vCategory[i]);
    e.AlarmLevel = static_cast<char>(bulk.m_vAlarmLevel[i]);
    e.AlarmType = static_cast<char>(bulk.m_vAlarmType[i]);
    e.ClearCategory = static_cast<char>(bulk.m_vClearCategory[i]);
    e.AlarmName = bulk.m_vAlarmName[i];
    e.LinkType = bulk.m_vLinkType[i];
    e.RelativeAlmID = bulk.m_vRelativeAlmID[i];
    e.ClearStrategy = bulk.m_vClearStrategy[i];
    e.ReasonType = bulk.m_vReasonType[i];
    ReasonInfo r;
    r.ExpTimeStamp = bulk.m_vExpTimeStamp[i];
    r.ReasonID = bulk.m_vReasonID[i];
    r.Explain = bulk.m_vExplain[i];
    r.ClearAdvice = bulk.m_vClearAdvice[i];
    r.ExpFormat = bulk.m_vExpFormat[i];
    r.AlarmGroupLabel = bulk.m_vAlarmGroupLabel[i];
    r.Meaning = bulk.m_vMeaning[i];
    r.MergeStrategy = bulk.m_vMergeStrategy[i];
    r.OperationType = static_cast<std::uint8_t>(bulk.m_vOperationType[i]);
    r.DefineField = static_cast<std::uint8_t>(bulk.m_vDefineField[i]);
    e.Reasons.push_back(std::move(r));
    out.push_back(std::move(e));
  }
}

void CAlarmExpQueryer::putBulkVector(std::string& /*table*/, ExpLogBulkVector& /*bulk*/) {}

// ---------------------------------------------------------------------------
// AlmExpVersionID

std::atomic<AlmExpVersionID*> AlmExpVersionID::m_pInstance{nullptr};
std::mutex AlmExpVersionID::m_instanceMtx;
ACE_Thread_Mutex AlmExpVersionID::m_mxInt;

AlmExpVersionID* AlmExpVersionID::instance() {
  AlmExpVersionID* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(m_instanceMtx);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new AlmExpVersionID();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void AlmExpVersionID::destroy() {
  std::lock_guard<std::mutex> guard(m_instanceMtx);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

long AlmExpVersionID::init() {
  FM_FUNC_TRACE("AlmExpVersionID::init");
  std::string text;
  int code = Setting::instance()->getParamValue(kVersionPath, text);
  if (code != 0) {
    FM_TRACE(TRACE_ERROR, "readFromFile, get versionid fail,code=%d!", code);
    FM_TRACE(TRACE_ERROR, "readVersionID() fail, retCode=%ld", FM_FAILURE);
    return FM_FAILURE;
  }
  FM_TRACE(TRACE_PROGRESS, "AlmExpVersionID::init Version is %s", text.c_str());
  return parseVersionString(text);
}

long AlmExpVersionID::parseVersionString(const std::string& text) {
  std::uint32_t parts[3] = {0, 0, 0};
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    if (start > text.size()) {
      FM_TRACE(TRACE_ERROR, i == 1 ? "parseVersionString, miss _minorID!" : "parseVersionString, miss _dynamicID!");
      return FM_FAILURE;
    }
    size_t dot = text.find('.', start);
    std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    parts[i] = static_cast<std::uint32_t>(std::strtoul(part.c_str(), nullptr, 10));
    start = dot == std::string::npos ? text.size() + 1 : dot + 1;
  }
  _majorID = parts[0];
  _minorID = parts[1];
  _dynamicID = parts[2];
  return FM_SUCCESS;
}

long AlmExpVersionID::get(std::string& text) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%lu.%lu.%lu", static_cast<unsigned long>(_majorID),
                static_cast<unsigned long>(_minorID), static_cast<unsigned long>(_dynamicID));
  text = buf;
  return FM_SUCCESS;
}

long AlmExpVersionID::upgrade() {
  FM_FUNC_TRACE("AlmExpVersionID::upgrade");
  _dynamicID = _dynamicID % DYNAMIC_MAX + 1;
  std::string text;
  get(text);
  return writeToFile(text);
}

long AlmExpVersionID::writeToFile(const std::string& text) {
  FM_FUNC_TRACE("AlmExpVersionID::writeToFile");
  ACE_Guard<ACE_Thread_Mutex> guard(m_mxInt);
  if (text.empty()) {
    FM_TRACE(TRACE_ERROR, "error, strVersion is empty!");
    return FM_INVALID_ARG;
  }
  int code = Setting::instance()->setParam(kVersionPath, text);
  if (code != 0) {
    FM_TRACE(TRACE_ERROR, "writeToFile, set versionid  fail,code=%d!", code);
    return FM_FAILURE;
  }
  ConfigAdapter adapter;
  code = adapter.init(kVersionFile, true);
  if (code != 0) {
    FM_TRACE(TRACE_ERROR, "AlmExpVersionID::writeToFile>>init(%s) fail(%d).", kVersionFile, code);
    return FM_FAILURE;
  }
  code = adapter.modifySysParam(kVersionSection, "versionId", text, true);
  if (code != 0) {
    FM_TRACE(TRACE_ERROR, "AlmExpVersionID::writeToFile>>modifySysParam(%s) fail(%d).", text.c_str(), code);
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long AlmExpVersionID::getVersion(std::string& text) {
  long rc = init();
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "getVersionID_init fail, retCode=%ld", rc);
    return rc;
  }
  rc = get(text);
  if (rc != FM_SUCCESS) FM_TRACE(TRACE_ERROR, "getVersionID_get fail, retCode=%ld", rc);
  return rc;
}

long AlmExpVersionID::upgradeVersion() {
  long rc = init();
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "upgradeVersion_init fail, retCode=%ld", rc);
    return rc;
  }
  rc = upgrade();
  if (rc != FM_SUCCESS) FM_TRACE(TRACE_ERROR, "upgradeVersion_upgrade fail, retCode=%ld", rc);
  return rc;
}

}  // namespace Kyrofm
