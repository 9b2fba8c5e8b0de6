// AlarmExpOperator.cpp: the writer of the alarm explanation knowledge base.
// Table writes run on pooled connections outside the explanation lock, each as
// one transaction stamped by nextStamp and committed under m_mxWrite; the
// buffer follows under the explanation lock with the stamps the table got.
#include "fm_common/fmlog/AlarmExpOperator.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/FMEvents.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

const char* const ALM_EXP_TABLE = "tbl_alm_exp_info";

namespace {

using Kyrofmdb::CFMDBGuard;
using Kyrofmdb::CFMDBTools;
using Kyrofmdb::CFMServiceFlag;
using Kyrofmdb::SACommand;
using Kyrofmdb::SAConnection;
using Kyrofmdb::SAException;

constexpr long FM_DB_NO_CONN = 33038;

std::int32_t nowSeconds() { return static_cast<std::int32_t>(std::time(nullptr)); }

AlarmInfo_t keyOf(const AlarmInfo_t& e) { return AlarmInfo_t(e.m_lGroupId, e.m_lAlarmId); }

// The entries merged into one entry per key (reasons in first-seen order), for
// the event lists. A reason written twice in one call (its key and reason id
// listed twice) is reported as written last: the table and the buffer hold
// that write, and subscribers that rebuild from the events must hold it too.
AlmExpList perKey(const AlmExpList& exps) {
  AlmExpList out;
  combineExpListWithoutExpand(exps, out);
  if (out.size() == exps.size()) return out;  // no key repeated
  std::map<AlarmInfoEx_t, ReasonInfo*> written;
  for (AlmExp_t& e : out) {
    for (ReasonInfo& r : e.Reasons) written[AlarmInfoEx_t(keyOf(e), r.ReasonID)] = &r;
  }
  for (const AlmExp_t& e : exps) {
    if (e.Reasons.empty()) continue;
    auto it = written.find(AlarmInfoEx_t(keyOf(e), e.Reasons.front().ReasonID));
    if (it != written.end()) *it->second = e.Reasons.front();
  }
  return out;
}

// The distinct keys of exps in first-seen order.
std::list<AlarmInfo_t> distinctKeys(const AlmExpList& exps) {
  std::list<AlarmInfo_t> keys;
  std::set<AlarmInfo_t> seen;
  for (const AlmExp_t& e : exps) {
    if (seen.insert(keyOf(e)).second) keys.push_back(keyOf(e));
  }
  return keys;
}

void mergeErrors(const AlmExpErrorMap& from, AlmExpErrorMap& into) {
  for (const auto& kv : from) {
    std::list<AlarmInfo_t>& dst = into[kv.first];
    dst.insert(dst.end(), kv.second.begin(), kv.second.end());
  }
}

// printf into a string of any length (statements must never be cut short).
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&out[0], out.size() + 1, fmt, ap);
  va_end(ap);
  return out;
}

// Copies the attributes of an entry onto a buffer entry (reasons untouched).
template <typename Src>
void copyAttributes(const Src& s, AlmBasicExp_t& d) {
  d.m_lGroupId = s.m_lGroupId;
  d.m_lAlarmId = s.m_lAlarmId;
  d.Category = s.Category;
  d.AlarmLevel = s.AlarmLevel;
  d.AlarmType = s.AlarmType;
  d.ClearCategory = s.ClearCategory;
  d.AlarmName = s.AlarmName;
  d.LinkType = s.LinkType;
  d.ReasonType = s.ReasonType;
  d.RelativeAlmID = s.RelativeAlmID;
  d.ClearStrategy = s.ClearStrategy;
}

// An entry with the attributes of b and the one reason br (no texts).
AlmExp_t basicReasonToExp(const AlmBasicExp_t& b, const BasicReasonInfo& br) {
  AlmExp_t e;
  e.m_lGroupId = b.m_lGroupId;
  e.m_lAlarmId = b.m_lAlarmId;
  e.Category = b.Category;
  e.AlarmLevel = b.AlarmLevel;
  e.AlarmType = b.AlarmType;
  e.ClearCategory = b.ClearCategory;
  e.AlarmName = b.AlarmName;
  e.LinkType = b.LinkType;
  e.ReasonType = b.ReasonType;
  e.RelativeAlmID = b.RelativeAlmID;
  e.ClearStrategy = b.ClearStrategy;
  ReasonInfo r;
  r.ReasonID = br.ReasonID;
  r.ExpTimeStamp = br.ExpTimeStamp;
  r.OperationType = br.OperationType;
  e.Reasons.push_back(r);
  return e;
}

BasicReasonInfo basicReason(const ReasonInfo& r) {
  BasicReasonInfo b;
  b.ExpTimeStamp = r.ExpTimeStamp;
  b.ReasonID = r.ReasonID;
  b.OperationType = r.OperationType;
  return b;
}

BasicReasonInfo* findBasicReason(AlmBasicExp_t& b, long reasonId) {
  for (BasicReasonInfo& r : b.Reasons) {
    if (r.ReasonID == reasonId) return &r;
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// ExpChangedEvent

ExpChangedEvent::ExpChangedEvent() {
  m_ulBaseIndex = getAttributeCount();
  setAttributeCount(m_ulBaseIndex + ATTR_COUNT);
}

ExpChangedEvent::ExpChangedEvent(const Kyroem::EventBase& received) : EventBase(received) {
  CORBA::ULong n = getAttributeCount();
  m_ulBaseIndex = n >= ATTR_COUNT ? n - ATTR_COUNT : 0;
}

CORBA::Long ExpChangedEvent::getType() const {
  CORBA::Long v = 0;
  if (!(getAttributeValue(m_ulBaseIndex) >>= v)) throw Kyroem::EventAttributeTypeMismatch("Type", "CORBA::Long");
  return v;
}

void ExpChangedEvent::setType(CORBA::Long type) {
  setAttributeName(m_ulBaseIndex, "Type");
  attributeValue(m_ulBaseIndex) <<= type;
}

KyroExp::AlmExpSeq ExpChangedEvent::getAlmExpSeq() const {
  const KyroExp::AlmExpSeq* seq = nullptr;
  if (!(getAttributeValue(m_ulBaseIndex + 1) >>= seq) || seq == nullptr) {
    throw Kyroem::EventAttributeTypeMismatch("AlmExpSeq", "KyroExp::AlmExpSeq");
  }
  return *seq;
}

void ExpChangedEvent::setAlmExpSeq(const KyroExp::AlmExpSeq& seq) {
  setAttributeName(m_ulBaseIndex + 1, "AlmExpSeq");
  attributeValue(m_ulBaseIndex + 1) <<= seq;
}

// ---------------------------------------------------------------------------
// Lifecycle and status

std::atomic<CAlarmExpOperator*> CAlarmExpOperator::m_pInstance{nullptr};
std::mutex CAlarmExpOperator::m_mxInstance;

CAlarmExpOperator::CAlarmExpOperator()
    : m_expBuffer(AlmBasicExpHasher_t::BUCKETS), m_lockExp("Alarm explain Lock"), m_iInitStatus(EXP_INIT_NONE),
      m_lLastStamp(0) {}

CAlarmExpOperator::~CAlarmExpOperator() = default;

CAlarmExpOperator* CAlarmExpOperator::instance() {
  CAlarmExpOperator* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(m_mxInstance);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    p = new CAlarmExpOperator();
    p->initialize();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void CAlarmExpOperator::destroy() {
  std::lock_guard<std::mutex> guard(m_mxInstance);
  delete m_pInstance.exchange(nullptr);
}

void CAlarmExpOperator::setInitStatus(int status) {
  std::lock_guard<std::mutex> guard(m_mxStatus);
  m_iInitStatus = status;
}

int CAlarmExpOperator::getInitStatus() {
  std::lock_guard<std::mutex> guard(m_mxStatus);
  return m_iInitStatus;
}

bool CAlarmExpOperator::serviceStopping() const {
  return CFMServiceFlag::instance()->getServiceStatus() == CFMServiceFlag::SERVICE_STOPPING;
}

long CAlarmExpOperator::waitForInit() {
  int status = getInitStatus();
  if (status == EXP_INIT_FAILED) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::waitForInit, error status=%d", status);
    return FM_FAILURE;
  }
  for (;;) {
    if (status == EXP_INIT_READY) return FM_SUCCESS;
    if (status == EXP_INIT_FAILED) return FM_FAILURE;
    if (serviceStopping()) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::waitForInit, service is stopping, status=%d", status);
      return FM_FAILURE;
    }
    FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::waitForInit, waiting for init");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::lock_guard<std::mutex> init(m_mxInit);
    status = getInitStatus();
  }
}

std::int32_t CAlarmExpOperator::nextStamp() {
  std::int32_t now = nowSeconds();
  if (now <= m_lLastStamp) now = m_lLastStamp + 1;
  m_lLastStamp = now;
  return now;
}

void CAlarmExpOperator::noteStamp(long stamp) {
  if (stamp > m_lLastStamp) m_lLastStamp = static_cast<std::int32_t>(stamp);
}

// ---------------------------------------------------------------------------
// Loading

long CAlarmExpOperator::initialize() {
  FM_FUNC_TRACE("CAlarmExpOperator::Init");
  std::lock_guard<std::mutex> init(m_mxInit);
  setInitStatus(EXP_INIT_RUNNING);
  Lock_Guard lock(m_lockExp);
  m_expBuffer.clear();

  long count = 0;
  CFMDBTools::getRecordCountOfTable(ALM_EXP_TABLE, count, " where ExpTimeStamp<=0");
  if (count > 0) {
    long rc = initTimeStamp();
    if (rc != FM_SUCCESS) {
      setInitStatus(EXP_INIT_FAILED);
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::initTimeStamp fail, return %d!", static_cast<int>(rc));
      return rc;
    }
    rc = AlmExpVersionID::instance()->upgradeVersion();
    if (rc != FM_SUCCESS) {
      setInitStatus(EXP_INIT_FAILED);
      FM_TRACE(TRACE_ERROR, "upgradeExpVersionID fail, return %ld!", rc);
      return rc;
    }
  }
  long rc = initDataFromAlarmExp();
  if (rc != FM_SUCCESS) {
    setInitStatus(EXP_INIT_FAILED);
    FM_TRACE(TRACE_ERROR, "initDataFromAlarmExp fail, return %d!", static_cast<int>(rc));
    return rc;
  }
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::Init succ, exp size:%d", static_cast<int>(m_expBuffer.size()));
  if (serviceStopping()) {
    setInitStatus(EXP_INIT_FAILED);
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::Init, service is not running,stop!");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::initTimeStamp() {
  std::lock_guard<std::mutex> write(m_mxWrite);
  // Rows stamped now must not fall below stamps already in the table.
  CFMDBGuard::run(__FILE__, __LINE__, "CAlarmExpOperator::initTimeStamp", FM_FAILURE, [&](SAConnection& conn) {
    SACommand cmd(&conn, std::string("select max(ExpTimeStamp) as MaxStamp from ") + ALM_EXP_TABLE);
    cmd.Execute();
    if (cmd.FetchNext()) noteStamp(cmd.Field("MaxStamp").asLong());
    return FM_SUCCESS;
  });
  std::string sql = std::string("update ") + ALM_EXP_TABLE + " set ExpTimeStamp=" + std::to_string(nextStamp()) +
                    " where ExpTimeStamp<=0";
  return CFMDBTools::ExecuteSQL(sql, 5, false);
}

bool CAlarmExpOperator::isTimeStampZero() const {
  long count = 0;
  CFMDBTools::getRecordCountOfTable(ALM_EXP_TABLE, count, " where ExpTimeStamp<=0");
  return count == 0;
}

long CAlarmExpOperator::initDataFromAlarmExp() {
  static const char* const kName = "CAlarmExpOperator::initDataFromAlarmExp";
  FMDB_CONNECTION_GUARD_WITH_LOGERR(conn, kName, FM_DB_NO_CONN);
  try {
    SACommand cmd(conn,
                  std::string("select GroupID, AlarmID, ReasonID, Category, AlarmLevel,") +
                      "AlarmType, AlarmName, ExpTimeStamp, OperationType, ReasonType, ClearCategory, "
                      "RelativeAlmID, ClearStrategy " +
                      " from " + ALM_EXP_TABLE);
    cmd.setOption("PreFetchRows", "200");
    cmd.Execute();
    if (serviceStopping()) {
      FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", kName);
      return FM_FAILURE;
    }
    long maxStamp = 0;
    while (cmd.FetchNext()) {
      AlmBasicExp_t e;
      e.m_lGroupId = cmd.Field("GroupID").asLong();
      e.m_lAlarmId = cmd.Field("AlarmID").asLong();
      auto it = m_expBuffer.find(e);
      if (it == m_expBuffer.end()) {
        e.Category = static_cast<char>(cmd.Field("Category").asLong());
        e.AlarmLevel = static_cast<char>(cmd.Field("AlarmLevel").asLong());
        e.AlarmType = static_cast<char>(cmd.Field("AlarmType").asLong());
        e.AlarmName = cmd.Field("AlarmName").asString();
        e.ReasonType = static_cast<std::int32_t>(cmd.Field("ReasonType").asLong());
        e.ClearCategory = static_cast<char>(cmd.Field("ClearCategory").asLong());
        e.RelativeAlmID = static_cast<std::int32_t>(cmd.Field("RelativeAlmID").asLong());
        e.ClearStrategy = static_cast<std::int32_t>(cmd.Field("ClearStrategy").asLong());
        it = m_expBuffer.insert_unique(e).first;
        if (it == m_expBuffer.end()) return FM_FAILURE;
      }
      BasicReasonInfo r;
      r.ReasonID = static_cast<std::int32_t>(cmd.Field("ReasonID").asLong());
      r.ExpTimeStamp = static_cast<std::int32_t>(cmd.Field("ExpTimeStamp").asLong());
      r.OperationType = static_cast<std::uint8_t>(cmd.Field("OperationType").asLong());
      maxStamp = std::max<long>(maxStamp, r.ExpTimeStamp);
      it->Reasons.push_back(r);
    }
    std::lock_guard<std::mutex> write(m_mxWrite);
    noteStamp(maxStamp);
  } catch (const SAException& e) {
    FMDB_LOG_EXCEPTION(kName, e);
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Add

void CAlarmExpOperator::findNeedToAdd(const AlmExpList& exps, AlmExpList& out, AlmExpErrorMap& errors) {
  Lock_Guard lock(m_lockExp);
  for (const AlmExp_t& e : exps) {
    if (e.Reasons.empty()) {
      errors[FM_EXP_NO_ENTRY].push_back(keyOf(e));
      continue;
    }
    auto it = m_expBuffer.find(e);
    if (it != m_expBuffer.end() && findReasonId(e.Reasons.front().ReasonID, *it) >= 0) {
      errors[FM_EXP_ALREADY_EXIST].push_back(keyOf(e));
      continue;
    }
    out.push_back(e);
  }
}

// The common start of add, update, del and addOrUpdate (`name` in the log
// lines): FM_FAILURE, outputs untouched, while the buffer is not loaded; the
// outputs emptied; FM_INVALID_ARG with nothing to do; FM_SUCCESS to go on.
namespace {
template <typename... Outputs>
long startWrite(CAlarmExpOperator& op, const char* name, const char* emptyText, const AlmExpList& exps,
                Outputs&... outputs) {
  if (op.waitForInit() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::%s, waitForInit  fail ", name);
    return FM_FAILURE;
  }
  (outputs.clear(), ...);
  if (exps.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::%s, %s", name, emptyText);
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}
}  // namespace

long CAlarmExpOperator::add(const AlmExpList& exps, AlmExpErrorMap& errors, std::list<AlarmInfo_t>& keys,
                            AlmExpList& forEvent) {
  if (long rc = startWrite(*this, "add", "CAlmExpList Exps is empty, no records to add!", exps, errors, keys,
                           forEvent); rc != FM_SUCCESS) {
    return rc;
  }
  AlmExpList expanded, kept;
  expandExpList(exps, expanded);
  findNeedToAdd(expanded, kept, errors);
  if (kept.empty()) {
    if (errors.empty()) return FM_SUCCESS;
    if (errors.size() == 1) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::add, no record needs to be added. errcode: %d",
               static_cast<int>(errors.begin()->first));
      return errors.begin()->first;
    }
    std::string codes;
    for (const auto& kv : errors) codes += std::to_string(kv.first) + " | ";
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::add no record needs to be added. errcode: %s", codes.c_str());
    return FM_FAILURE;
  }
  AlmExpList oldExpNeedDel;
  for (const AlmExp_t& e : kept) {
    if (e.Reasons.front().OperationType == EXP_OPER_DELETED) oldExpNeedDel.push_back(e);
  }
  if (!oldExpNeedDel.empty()) {
    AlmExpErrorMap delErrors;
    AlmExpList done;
    if (cleanDeletedExp(oldExpNeedDel, delErrors, done) != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "cleanDeletedExp oldExpNeedDel FAI");
    }
  }
  AlmExpErrorMap addErrors;
  AlmExpList added;
  long rc = addExp(kept, addErrors, added);
  forEvent = perKey(added);
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::add, expForEvent size:%d", static_cast<int>(forEvent.size()));
  keys = distinctKeys(added);
  mergeErrors(addErrors, errors);
  return rc;
}

long CAlarmExpOperator::addExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& added) {
  FM_FUNC_TRACE("CAlarmExpOperator::addExp");
  if (exps.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::addExp, Exps is empty!");
    return FM_SUCCESS;
  }
  errors.clear();
  added.clear();
  size_t failed = 0;
  auto next = exps.begin();
  while (next != exps.end()) {
    AlmExpList batch;
    for (size_t n = 0; n < INSERT_BATCH && next != exps.end(); ++n, ++next) batch.push_back(*next);
    long rows = 0;
    long rc;
    {
      std::lock_guard<std::mutex> write(m_mxWrite);
      const std::int32_t stamp = nextStamp();
      for (AlmExp_t& e : batch) {
        e.Reasons.front().ExpTimeStamp = stamp;
        e.Reasons.front().OperationType = EXP_OPER_ADDED;
      }
      // A batch that finds no connection fails like a refused one: the
      // batches already written still reach the buffer below.
      rc = CFMDBGuard::run(__FILE__, __LINE__, nullptr, FM_FAILURE, [&](SAConnection& conn) {
        SACommand cmd(&conn);
        cmd.SetExecBatch(true);
        cmd.SetTable(ALM_EXP_TABLE);
        cmd.SetBatchMaxRowCount(static_cast<int>(batch.size()));
        for (const AlmExp_t& e : batch) {
          const ReasonInfo& r = e.Reasons.front();
          cmd.Param("GroupID").setAsLong() = e.m_lGroupId;
          cmd.Param("AlarmID").setAsLong() = e.m_lAlarmId;
          cmd.Param("ReasonID").setAsLong() = r.ReasonID;
          cmd.Param("Category").setAsShort() = e.Category;
          cmd.Param("AlarmLevel").setAsShort() = e.AlarmLevel;
          cmd.Param("AlarmType").setAsShort() = e.AlarmType;
          cmd.Param("AlarmName").setAsString() = e.AlarmName;
          cmd.Param("Explain").setAsString() = r.Explain;
          cmd.Param("ClearAdvice").setAsString() = r.ClearAdvice;
          cmd.Param("ExpFormat").setAsString() = r.ExpFormat;
          cmd.Param("LinkType").setAsLong() = e.LinkType;
          cmd.Param("ExpTimeStamp").setAsLong() = r.ExpTimeStamp;
          cmd.Param("OperationType").setAsLong() = r.OperationType;
          cmd.Param("ReasonType").setAsLong() = e.ReasonType;
          cmd.Param("AlarmGroupLabel").setAsString() = r.AlarmGroupLabel;
          cmd.Param("Meaning").setAsString() = r.Meaning;
          cmd.Param("DefineField").setAsShort() = r.DefineField;
          cmd.Param("RelativeAlmID").setAsLong() = e.RelativeAlmID;
          cmd.Param("ClearStrategy").setAsLong() = e.ClearStrategy;
          cmd.Param("MergeStrategy").setAsLong() = r.MergeStrategy;
          cmd.Param("ClearCategory").setAsShort() = e.ClearCategory;
          cmd.EndRow();
        }
        cmd.Execute(static_cast<int>(batch.size()));
        rows = cmd.RowsAffected();
        cmd.SetExecBatch(false);
        return rows > 0 ? FM_SUCCESS : FM_FAILURE;
      });
    }
    if (rc == FM_SUCCESS) {
      added.splice(added.end(), batch);
    } else {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::addExp: insert fail.");
      std::list<AlarmInfo_t>& failedKeys = errors[FM_EXP_INSERT_FAIL];
      for (const AlmExp_t& e : batch) failedKeys.push_back(keyOf(e));
      failed += batch.size();
    }
  }
  if (failed == exps.size()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::addExp, all %d records fail.", static_cast<int>(failed));
    return FM_FAILURE;
  }
  addExpListToBuffer(added);
  // A reason added again after a purge must not be answered from a cache
  // filled before.
  CAlarmExpQueryer::deleteExpFromMem(added);
  if (failed == 0) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::addExp, total %d, %d fail.", static_cast<int>(exps.size()),
           static_cast<int>(failed));
  return FM_PARTIAL_SUCCESS;
}

void CAlarmExpOperator::asignExp2Basic(const AlmExp_t& src, AlmBasicExp_t& dst) const {
  copyAttributes(src, dst);
  dst.Reasons.clear();
  for (const ReasonInfo& r : src.Reasons) dst.Reasons.push_back(basicReason(r));
}

void CAlarmExpOperator::asignBasic2Exp(const AlmBasicExp_t& src, AlmExp_t& dst) const {
  dst.m_lGroupId = src.m_lGroupId;
  dst.m_lAlarmId = src.m_lAlarmId;
  dst.Category = src.Category;
  dst.AlarmLevel = src.AlarmLevel;
  dst.AlarmType = src.AlarmType;
  dst.ClearCategory = src.ClearCategory;
  dst.AlarmName = src.AlarmName;
  dst.LinkType = src.LinkType;
  dst.ReasonType = src.ReasonType;
  dst.RelativeAlmID = src.RelativeAlmID;
  dst.ClearStrategy = src.ClearStrategy;
  dst.Reasons.clear();
  for (const BasicReasonInfo& b : src.Reasons) {
    ReasonInfo r;
    r.ExpTimeStamp = b.ExpTimeStamp;
    r.ReasonID = b.ReasonID;
    r.OperationType = b.OperationType;
    dst.Reasons.push_back(r);
  }
}

long CAlarmExpOperator::addExpToBuffer(const AlmExp_t& e) {
  if (e.Reasons.empty()) return FM_FAILURE;
  AlmBasicExp_t b;
  asignExp2Basic(e, b);
  b.Reasons.resize(1);
  auto it = m_expBuffer.find(b);
  if (it == m_expBuffer.end()) return m_expBuffer.insert_unique(b).first != m_expBuffer.end() ? FM_SUCCESS : FM_FAILURE;
  BasicReasonInfo* stored = findBasicReason(*it, b.Reasons.front().ReasonID);
  if (stored == nullptr) {
    it->Reasons.push_back(b.Reasons.front());
    return FM_SUCCESS;
  }
  if (stored->OperationType != EXP_OPER_DELETED) {
    FM_TRACE(TRACE_ERROR, "addExpToBuffer, exist: almID=%d,reasonId=%d ", static_cast<int>(e.m_lAlarmId),
             static_cast<int>(b.Reasons.front().ReasonID));
    return FM_FAILURE;
  }
  // The reason comes back: new attributes and the new reason; the entry's
  // other reasons stay.
  *stored = b.Reasons.front();
  copyAttributes(b, *it);
  return FM_SUCCESS;
}

long CAlarmExpOperator::addExpListToBuffer(const AlmExpList& exps) {
  Lock_Guard lock(m_lockExp);
  long rc = FM_SUCCESS;
  for (const AlmExp_t& e : exps) {
    if (addExpToBuffer(e) != FM_SUCCESS) rc = FM_FAILURE;
  }
  return rc;
}

// ---------------------------------------------------------------------------
// Update

void CAlarmExpOperator::findNeedToUpdate(const AlmExpList& exps, AlmExpList& out, AlmExpErrorMap& errors) {
  Lock_Guard lock(m_lockExp);
  for (const AlmExp_t& e : exps) {
    if (e.Reasons.empty()) {
      errors[FM_EXP_NO_ENTRY].push_back(keyOf(e));
      continue;
    }
    auto it = m_expBuffer.find(e);
    if (it == m_expBuffer.end() || findReasonId(e.Reasons.front().ReasonID, *it) < 0) {
      errors[FM_EXP_NOT_EXIST].push_back(keyOf(e));
      continue;
    }
    out.push_back(e);
  }
}

long CAlarmExpOperator::update(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& forEvent) {
  if (long rc = startWrite(*this, "update", "Exps empty!", exps, errors, forEvent); rc != FM_SUCCESS) return rc;
  AlmExpList expanded, kept;
  expandExpList(exps, expanded);
  findNeedToUpdate(expanded, kept, errors);
  if (kept.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::update, nothing to update");
    return FM_FAILURE;
  }
  AlmExpErrorMap updErrors;
  AlmExpList updated;
  long rc = updateExp(kept, updErrors, updated);
  forEvent = perKey(updated);
  mergeErrors(updErrors, errors);
  return rc;
}

long CAlarmExpOperator::updateExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& updated) {
  FM_FUNC_TRACE("CAlarmExpOperator::updateExp");
  if (exps.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::updateExp, Exps empty!");
    return FM_SUCCESS;
  }
  size_t failed = 0;
  for (const AlmExp_t& src : exps) {
    if (src.Reasons.empty()) continue;
    AlmExp_t e = src;
    ReasonInfo& r = e.Reasons.front();
    long rc;
    {
      std::lock_guard<std::mutex> write(m_mxWrite);
      r.ExpTimeStamp = nextStamp();
      r.OperationType = EXP_OPER_UPDATED;
      auto f = [](const std::string& s) { return CFMDBTools::getFiltSql(s, CFMDBTools::FILT_LITERAL); };
      const std::string name = f(e.AlarmName), explain = f(r.Explain), advice = f(r.ClearAdvice),
                        fmt = f(r.ExpFormat), label = f(r.AlarmGroupLabel), meaning = f(r.Meaning);
      const std::string sql = format(
          " update %s set Category = %d, AlarmLevel = %d,AlarmType = %d, AlarmName = '%s', Explain = '%s', "
          "ClearAdvice = '%s', ExpFormat = '%s', LinkType = %d, ExpTimeStamp = %d, OperationType = %d, "
          "ReasonType = %d, ClearCategory = %d, AlarmGroupLabel = '%s', Meaning = '%s', DefineField = "
          "%d,RelativeAlmID = %d, ClearStrategy = %d, MergeStrategy = %d where GroupID = %d  and AlarmID = %d and "
          "ReasonID = %ld ",
          ALM_EXP_TABLE, e.Category, e.AlarmLevel, e.AlarmType, name.c_str(), explain.c_str(), advice.c_str(),
          fmt.c_str(), e.LinkType, r.ExpTimeStamp, r.OperationType, e.ReasonType, e.ClearCategory, label.c_str(),
          meaning.c_str(), r.DefineField, e.RelativeAlmID, e.ClearStrategy, r.MergeStrategy,
          static_cast<int>(e.m_lGroupId), static_cast<int>(e.m_lAlarmId), static_cast<long>(r.ReasonID));
      rc = CFMDBTools::ExecuteSQL(sql, 5, false);
    }
    if (rc == FM_SUCCESS) {
      updated.push_back(std::move(e));
    } else {
      errors[FM_EXP_UPDATE_FAIL].push_back(keyOf(e));
      ++failed;
    }
  }
  if (updated.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::updateExp, FM_FAI");
    return FM_FAILURE;
  }
  updateExpListToBuffer(updated);
  CAlarmExpQueryer::updateExpToMem(updated);
  if (failed > 0) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::updateExp,FM_HOK");
    return FM_PARTIAL_SUCCESS;
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::updateExpToBuffer(const AlmExp_t& e) {
  const long reasonId = e.Reasons.empty() ? -1 : e.Reasons.front().ReasonID;
  FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::updateExpToBuffer: almID=%d,reasonId=%ld ",
           static_cast<int>(e.m_lAlarmId), reasonId);
  auto it = m_expBuffer.find(e);
  BasicReasonInfo* stored = (it == m_expBuffer.end() || e.Reasons.empty()) ? nullptr : findBasicReason(*it, reasonId);
  if (stored == nullptr) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::updateExpToBuffer: exp not exist!");
    return FM_FAILURE;
  }
  // Changed in place: a reader under the lock sees the old or the new entry.
  stored->ExpTimeStamp = e.Reasons.front().ExpTimeStamp;
  stored->OperationType = EXP_OPER_UPDATED;
  copyAttributes(e, *it);
  return FM_SUCCESS;
}

long CAlarmExpOperator::updateExpListToBuffer(const AlmExpList& exps) {
  AlmExpList done;
  return updateExpListToBuffer(exps, done);
}

long CAlarmExpOperator::updateExpListToBuffer(const AlmExpList& exps, AlmExpList& done) {
  Lock_Guard lock(m_lockExp);
  long rc = FM_SUCCESS;
  for (const AlmExp_t& e : exps) {
    if (updateExpToBuffer(e) == FM_SUCCESS) {
      done.push_back(e);
    } else {
      rc = FM_FAILURE;
    }
  }
  return rc;
}

// ---------------------------------------------------------------------------
// Delete

long CAlarmExpOperator::del(const AlmExpList& exps, std::list<AlarmInfo_t>& keys, AlmExpErrorMap& errors,
                            AlmExpList& forEvent) {
  if (long rc = startWrite(*this, "del", "Exps empty!", exps, keys, errors, forEvent); rc != FM_SUCCESS) return rc;
  AlmExpList expanded, kept;
  expandExpList(exps, expanded);
  // Only reasons the buffer holds unmarked are marked: marking an unknown
  // reason would announce a deletion that never happened, and marking a
  // marked one again would make peers read the same deletion twice.
  {
    Lock_Guard lock(m_lockExp);
    for (const AlmExp_t& e : expanded) {
      if (e.Reasons.empty()) {
        kept.push_back(e);  // delExp logs and skips it
        continue;
      }
      auto it = m_expBuffer.find(e);
      BasicReasonInfo* stored = it == m_expBuffer.end() ? nullptr : findBasicReason(*it, e.Reasons.front().ReasonID);
      if (stored == nullptr) {
        errors[FM_EXP_NOT_EXIST].push_back(keyOf(e));
      } else if (stored->OperationType != EXP_OPER_DELETED) {
        kept.push_back(e);
      }
    }
  }
  AlmExpList deleted, removed;
  long rc = delExp(kept, errors, deleted, removed);
  forEvent = perKey(deleted);
  keys = distinctKeys(deleted);
  if (rc == FM_SUCCESS && errors.count(FM_EXP_NOT_EXIST) != 0) rc = deleted.empty() ? FM_FAILURE : FM_PARTIAL_SUCCESS;
  return rc;
}

long CAlarmExpOperator::delExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& deleted,
                               AlmExpList& removed) {
  FM_FUNC_TRACE("CAlarmExpOperator::delExp");
  if (exps.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::delExp, Exps is empty!");
    return FM_SUCCESS;
  }
  size_t failed = 0;
  for (const AlmExp_t& src : exps) {
    if (src.Reasons.empty()) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::delExp,GroupID [%d],AlmID [%d], Reasons is empty.",
               static_cast<int>(src.m_lGroupId), static_cast<int>(src.m_lAlarmId));
      continue;
    }
    AlmExp_t e = src;
    ReasonInfo& r = e.Reasons.front();
    long rc;
    {
      std::lock_guard<std::mutex> write(m_mxWrite);
      r.ExpTimeStamp = nextStamp();
      r.OperationType = EXP_OPER_DELETED;
      const std::string sql = std::string(" update ") + ALM_EXP_TABLE + " set ExpTimeStamp = " +
                              std::to_string(r.ExpTimeStamp) + ", OperationType = " + std::to_string(3) +
                              " where GroupID = " + std::to_string(e.m_lGroupId) +
                              " and AlarmID = " + std::to_string(e.m_lAlarmId) +
                              " and ReasonID = " + std::to_string(r.ReasonID);
      rc = CFMDBTools::ExecuteSQL(sql, 5, false);
    }
    if (rc == FM_SUCCESS) {
      deleted.push_back(std::move(e));
    } else {
      errors[FM_EXP_DELETE_FAIL].push_back(keyOf(e));
      ++failed;
    }
  }
  if (deleted.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::delExp, failed");
    return FM_FAILURE;
  }
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::delExp, %d records is marked deleted flag",
           static_cast<int>(deleted.size()));
  delExpListFromBuffer(deleted, removed);
  CAlarmExpQueryer::deleteExpFromMem(deleted);
  if (failed > 0) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::delExp, FM_HOK");
    return FM_PARTIAL_SUCCESS;
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::delExpFromBuffer(const AlmExp_t& e) {
  auto it = m_expBuffer.find(e);
  if (it == m_expBuffer.end() || e.Reasons.empty()) return FM_FAILURE;
  const long reasonId = e.Reasons.front().ReasonID;
  int off = findReasonId(reasonId, *it);
  if (off < 0) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::delExpFromBuffer: reasonid %ld not found", reasonId);
    return FM_FAILURE;
  }
  FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::delExpFromBuffer: (%d, %d)off=%d, rid=%ld marked deleted.",
           static_cast<int>(e.m_lGroupId), static_cast<int>(e.m_lAlarmId), off, reasonId);
  it->Reasons[off].ExpTimeStamp = e.Reasons.front().ExpTimeStamp;
  it->Reasons[off].OperationType = EXP_OPER_DELETED;
  return FM_SUCCESS;
}

long CAlarmExpOperator::delExpListFromBuffer(const AlmExpList& exps) {
  AlmExpList done;
  return delExpListFromBuffer(exps, done);
}

long CAlarmExpOperator::delExpListFromBuffer(const AlmExpList& exps, AlmExpList& done) {
  Lock_Guard lock(m_lockExp);
  for (const AlmExp_t& e : exps) {
    if (delExpFromBuffer(e) == FM_SUCCESS) done.push_back(e);
  }
  FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::delExpListFromBuffer: %d deleted from buffer",
           static_cast<int>(done.size()));
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Add or update

long CAlarmExpOperator::addOrUpdate(const AlmExpList& exps, std::list<AlarmInfo_t>& keys, AlmExpList& added,
                                    AlmExpList& updated) {
  if (long rc = startWrite(*this, "Update", "Exps empty!", exps, keys, added, updated); rc != FM_SUCCESS) return rc;
  AlmExpList expanded, toAdd, toUpdate;
  expandExpList(exps, expanded);
  AlmExpErrorMap ignored;
  findNeedToAdd(expanded, toAdd, ignored);
  findNeedToUpdate(expanded, toUpdate, ignored);
  long rcUpd = FM_SUCCESS, rcAdd = FM_SUCCESS;
  AlmExpErrorMap errors;
  if (!toUpdate.empty()) rcUpd = update(toUpdate, errors, updated);
  if (!toAdd.empty()) rcAdd = add(toAdd, errors, keys, added);
  if (rcUpd == FM_SUCCESS && rcAdd == FM_SUCCESS) return FM_SUCCESS;
  if (rcUpd == FM_FAILURE && rcAdd == FM_FAILURE) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::Update, FM_FAI");
    return FM_FAILURE;
  }
  return FM_PARTIAL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Purge

long CAlarmExpOperator::cleanDeletedAlarmExp(long timeStamp, std::list<AlarmInfo_t>& keys, AlmExpErrorMap& errors,
                                             AlmExpList& cleaned) {
  FM_FUNC_TRACE("CAlarmExpOperator::cleanDeletedAlarmExp");
  if (waitForInit() != FM_SUCCESS) return FM_FAILURE;
  if (timeStamp < 0 && timeStamp != -1) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::cleanDeletedAlarmExp : bad timeStamp %d", static_cast<int>(timeStamp));
    return FM_INVALID_ARG;
  }
  keys.clear();
  errors.clear();
  cleaned.clear();
  AlmExpList removed;
  long rc = cleanDeletedMem(timeStamp, removed);
  if (rc == FM_FAILURE) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::cleanDeltedAlarmExp fail delete memory record retval : %d",
             static_cast<int>(rc));
    return FM_FAILURE;
  }
  AlmExpList expanded, done;
  expandExpList(removed, expanded);
  AlmExpErrorMap cleanErrors;
  rc = cleanDeletedExp(expanded, cleanErrors, done);
  // Reasons whose rows stay in the table go back to the buffer, marked
  // deleted, so that a later purge (or add) still knows them.
  if (done.size() != expanded.size()) {
    std::set<std::tuple<long, long, long>> purged;
    for (const AlmExp_t& e : done) purged.insert({e.m_lGroupId, e.m_lAlarmId, e.Reasons.front().ReasonID});
    Lock_Guard lock(m_lockExp);
    for (const AlmExp_t& e : expanded) {
      if (purged.count({e.m_lGroupId, e.m_lAlarmId, e.Reasons.front().ReasonID}) == 0) addExpToBuffer(e);
    }
  }
  CAlarmExpQueryer::deleteExpFromMem(done);
  cleaned = perKey(done);
  mergeErrors(cleanErrors, errors);
  return rc;
}

long CAlarmExpOperator::cleanDeletedMem(long timeStamp, AlmExpList& removed) {
  FM_FUNC_TRACE("CAlarmExpOperator::cleanDeletedMem");
  Lock_Guard lock(m_lockExp);
  if (m_expBuffer.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::cleanDeletedMem, exp buffer is empty");
    return FM_EXP_BUFFER_EMPTY;
  }
  std::vector<AlarmInfo_t> emptied;
  for (AlmBasicExp_t& b : m_expBuffer) {
    for (auto r = b.Reasons.begin(); r != b.Reasons.end();) {
      if (r->OperationType == EXP_OPER_DELETED && (timeStamp == -1 || r->ExpTimeStamp <= timeStamp)) {
        removed.push_back(basicReasonToExp(b, *r));
        r = b.Reasons.erase(r);
      } else {
        ++r;
      }
    }
    if (b.Reasons.empty()) emptied.push_back(keyOf(b));
  }
  for (const AlarmInfo_t& k : emptied) m_expBuffer.erase(k);
  FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::cleanDeletedMem, delList's size is %d", static_cast<int>(removed.size()));
  if (removed.empty()) {
    FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::cleanDeletedMem, delList is empty");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::cleanDeletedExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& done) const {
  FM_FUNC_TRACE("CAlarmExpOperator::cleanDeletedExp");
  if (exps.empty()) {
    FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator:cleanDeletedExp param almExp is empty");
    return FM_SUCCESS;
  }
  size_t failed = 0;
  for (const AlmExp_t& e : exps) {
    if (e.Reasons.empty()) continue;
    const std::string sql = std::string("delete from ") + ALM_EXP_TABLE + " where GroupID = " +
                            std::to_string(e.m_lGroupId) + " and AlarmID   = " + std::to_string(e.m_lAlarmId) +
                            " and ReasonID  = " + std::to_string(e.Reasons.front().ReasonID);
    if (CFMDBTools::ExecuteSQL(sql, 5, false) == FM_SUCCESS) {
      done.push_back(e);
    } else {
      errors[FM_EXP_DELETE_FAIL].push_back(keyOf(e));
      ++failed;
    }
  }
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::cleanDeletedExp: %d deleted from db successfully",
           static_cast<int>(done.size()));
  if (failed == 0) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::cleanDeletedExp: fail result size is %d ", static_cast<int>(failed));
  return done.empty() ? FM_FAILURE : FM_PARTIAL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Reload

long CAlarmExpOperator::reload(const std::list<long>& groupIds, const std::list<CAlarmRedefineAttr>& names,
                               AlmExpList& added, AlmExpList& updated, AlmExpList& deleted,
                               std::list<AlarmInfo_t>& deletedKeys) {
  FM_FUNC_TRACE("CAlarmExpOperator::reload");
  if (waitForInit() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlmExpLogImpl::reload, waitForInit fail!");
    return FM_FAILURE;
  }
  added.clear();
  updated.clear();
  deleted.clear();
  deletedKeys.clear();
  std::lock_guard<std::mutex> init(m_mxInit);
  setInitStatus(EXP_INIT_RUNNING);
  AlmExpList addList, updList, delList;
  long rcCompare;
  {
    Lock_Guard lock(m_lockExp);
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::reload start, exp size:%d", static_cast<int>(m_expBuffer.size()));
    long rc = initTimeStamp();
    if (rc != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::getNewExp,initTimeStamp fail, return %d!", static_cast<int>(rc));
      setInitStatus(EXP_INIT_READY);
      return rc;
    }
    AlmBasicExpTable tmp(AlmBasicExpHasher_t::BUCKETS);
    bakOldExp(groupIds, tmp);
    std::set<ReasonKey> seen;
    rcCompare = compareExp(groupIds, addList, updList, tmp, seen);
    mergeRedefinedName(names, tmp);
    // Reasons the table no longer holds leave the buffer; when the table
    // could not be read completely nothing is taken for gone.
    if (rcCompare == FM_SUCCESS) getDelExp(tmp, seen, delList, deletedKeys);
    copyItems(tmp);
    added = perKey(addList);
    updated = perKey(updList);
    deleted = perKey(delList);
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::reload,addexps:%d,updatexps:%d,delexps:%d,delknowlg:%d",
             static_cast<int>(added.size()), static_cast<int>(updated.size()), static_cast<int>(deleted.size()),
             static_cast<int>(deletedKeys.size()));
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::reload succ, exp size:%d", static_cast<int>(m_expBuffer.size()));
  }
  CAlarmExpQueryer::updateExpToMem(updList);
  CAlarmExpQueryer::deleteExpFromMem(delList);
  setInitStatus(EXP_INIT_READY);
  return rcCompare;
}

void CAlarmExpOperator::bakOldExp(const std::list<long>& groupIds, AlmBasicExpTable& tmp) {
  if (groupIds.empty()) {
    tmp = m_expBuffer;
    m_expBuffer.clear();
    FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::bakOldExp,clear all items");
    return;
  }
  const std::set<long> groups(groupIds.begin(), groupIds.end());
  std::vector<AlarmInfo_t> moved;
  for (const AlmBasicExp_t& b : m_expBuffer) {
    if (groups.count(b.m_lGroupId) != 0) {
      tmp.insert_unique(b);
      moved.push_back(keyOf(b));
    }
  }
  for (const AlarmInfo_t& k : moved) m_expBuffer.erase(k);
  FM_TRACE(TRACE_PROGRESS, "CAlarmExpOperator::bakOldExp,tmpOldItems.size=%d", static_cast<int>(tmp.size()));
}

long CAlarmExpOperator::compareExp(const std::list<long>& groupIds, AlmExpList& addList, AlmExpList& updList,
                                   AlmBasicExpTable& tmp, std::set<ReasonKey>& seen) {
  std::string sql = std::string("select * from ") + ALM_EXP_TABLE;
  CTempTableGuard inGuard;
  if (groupIds.empty()) {
    sql += " where 1>0 ";
  } else {
    std::string cond;
    if (!inGuard.getSqlInCond(std::set<long>(groupIds.begin(), groupIds.end()), cond)) {
      FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::compareExp:create in cond error.");
      return FM_FAILURE;
    }
    sql += " where  GroupID in " + cond;
  }
  static const char* const kName = "CAlarmExpOperator::readFullExpFromDB";
  FMDB_CONNECTION_GUARD_WITH_LOGERR(conn, kName, FM_DB_NO_CONN);
  try {
    SACommand cmd(conn, sql);
    cmd.setOption("PreFetchRows", "200");
    cmd.Execute();
    if (serviceStopping()) {
      FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", "CAlarmExpOperator::compareExp");
      return FM_FAILURE;
    }
    std::set<AlarmInfo_t> newKeys;
    long maxStamp = 0;
    while (cmd.FetchNext()) {
      AlmExp_t row = expFromRow(cmd);
      const ReasonInfo& r = row.Reasons.front();
      maxStamp = std::max<long>(maxStamp, r.ExpTimeStamp);
      seen.insert(ReasonKey(row.m_lGroupId, row.m_lAlarmId, r.ReasonID));
      auto it = tmp.find(row);
      if (it == tmp.end()) {
        AlmBasicExp_t b;
        asignExp2Basic(row, b);
        tmp.insert_unique(b);
        newKeys.insert(keyOf(row));
        addList.push_back(std::move(row));
        continue;
      }
      // The table's stamp and operation type replace the buffer's, so that
      // buffer and table agree (a reason marked deleted stays marked).
      bool found = false;
      for (BasicReasonInfo& br : it->Reasons) {
        if (br.ReasonID == r.ReasonID) {
          br = basicReason(r);
          found = true;
        }
      }
      if (!found) it->Reasons.push_back(basicReason(r));
      copyAttributes(row, *it);
      (newKeys.count(keyOf(row)) != 0 ? addList : updList).push_back(std::move(row));
    }
    std::lock_guard<std::mutex> write(m_mxWrite);
    noteStamp(maxStamp);
  } catch (const SAException& e) {
    FMDB_LOG_EXCEPTION(kName, e);
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

void CAlarmExpOperator::getDelExp(AlmBasicExpTable& tmp, const std::set<ReasonKey>& seen, AlmExpList& delList,
                                  std::list<AlarmInfo_t>& deletedKeys) {
  std::vector<AlarmInfo_t> emptied;
  for (AlmBasicExp_t& b : tmp) {
    for (auto r = b.Reasons.begin(); r != b.Reasons.end();) {
      if (seen.count(ReasonKey(b.m_lGroupId, b.m_lAlarmId, r->ReasonID)) == 0) {
        delList.push_back(basicReasonToExp(b, *r));
        deletedKeys.push_back(keyOf(b));
        r = b.Reasons.erase(r);
      } else {
        ++r;
      }
    }
    if (b.Reasons.empty()) {
      FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::getDelExp Reasons.empty,GroupId:%d, AlmId:%d",
               static_cast<int>(b.m_lGroupId), static_cast<int>(b.m_lAlarmId));
      emptied.push_back(keyOf(b));
    }
  }
  for (const AlarmInfo_t& k : emptied) tmp.erase(k);
}

void CAlarmExpOperator::copyItems(AlmBasicExpTable& tmp) {
  int n = 0;
  for (const AlmBasicExp_t& b : tmp) {
    if (m_expBuffer.insert_unique(b).second) ++n;
  }
  FM_TRACE(TRACE_PROGRESS, "CAlmExpLogImpl::copyItems,%d elements were copied!", n);
}

// ---------------------------------------------------------------------------
// Names

long CAlarmExpOperator::mergeRedefinedName(const std::list<CAlarmRedefineAttr>& names) {
  if (!names.empty()) {
    Lock_Guard lock(m_lockExp);
    mergeRedefinedName(names, m_expBuffer);
  }
  std::lock_guard<std::mutex> init(m_mxInit);
  setInitStatus(EXP_INIT_READY);
  return FM_SUCCESS;
}

long CAlarmExpOperator::mergeRedefinedName(const std::list<CAlarmRedefineAttr>& names, AlmBasicExpTable& table) {
  static const char* const kName = "CAlarmExpOperator::mergeRedefinedName";
  std::list<const CAlarmRedefineAttr*> active;
  for (const CAlarmRedefineAttr& a : names) {
    if (a.m_Active == 0 || a.m_NewName.empty()) {
      FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::mergeRedefinedName  iter->m_Active:%d,iter->m_NewName is NULL",
               static_cast<int>(a.m_Active));
      continue;
    }
    active.push_back(&a);
  }
  if (active.empty()) return FM_SUCCESS;
  FMDB_CONNECTION_GUARD_WITH_LOGERR(conn, kName, FM_DB_NO_CONN);
  try {
    for (const CAlarmRedefineAttr* a : active) {
      if (serviceStopping()) {
        FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", kName);
        return FM_FAILURE;
      }
      const std::string sql = std::string("select GroupID,AlarmID from ") + ALM_EXP_TABLE +
                              " where GroupID = :groupid and AlarmID = :alarmid ";
      FM_TRACE(TRACE_DETAIL, "mergeRedefinedName strsql = %s", sql.c_str());
      SACommand cmd(conn, sql);
      cmd.Param("groupid").setAsLong() = a->m_AlarmInfo.m_lGroupId;
      cmd.Param("alarmid").setAsLong() = a->m_AlarmInfo.m_lAlarmId;
      cmd.Execute();
      while (cmd.FetchNext()) {
        AlarmInfo_t k(cmd.Field("GroupID").asLong(), cmd.Field("AlarmID").asLong());
        auto it = table.find(k);
        if (it == table.end()) continue;
        it->AlarmName = a->m_NewName;
        FM_TRACE(TRACE_PROGRESS, "mergeRedefinedName,rename%d,%d", static_cast<int>(k.m_lGroupId),
                 static_cast<int>(k.m_lAlarmId));
      }
    }
  } catch (const SAException& e) {
    FMDB_LOG_EXCEPTION(kName, e);
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Look-ups

long CAlarmExpOperator::getAlarmName(const AlarmInfo_t& key, std::string& name) {
  Lock_Guard lock(m_lockExp);
  auto it = m_expBuffer.find(key);
  if (it == m_expBuffer.end()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::getAlarmName failed, alm(%d,%d)", static_cast<int>(key.m_lGroupId),
             static_cast<int>(key.m_lAlarmId));
    return FM_FAILURE;
  }
  name = it->AlarmName;
  if (!it->Reasons.empty() && it->Reasons.front().OperationType == EXP_OPER_DELETED) {
    FM_TRACE(TRACE_DETAIL, "CAlarmExpOperator::getAlarmName: exp has been deleted, alm(%d,%d,%s)",
             static_cast<int>(key.m_lGroupId), static_cast<int>(key.m_lAlarmId), name.c_str());
    return FM_EXP_MARKED_DELETED;
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::getLatestAlarmName(const AlarmInfo_t& key, std::string& name) {
  Lock_Guard lock(m_lockExp);
  auto it = m_expBuffer.find(key);
  if (it == m_expBuffer.end()) return FM_FAILURE;
  name = it->AlarmName;
  return FM_SUCCESS;
}

long CAlarmExpOperator::queryAlarmClearType(const std::list<AlarmInfo_t>& keys, std::list<long>& out) {
  out.clear();
  if (keys.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::queryAlarmClearType, almInfos is empty!");
    return FM_INVALID_ARG;
  }
  Lock_Guard lock(m_lockExp);
  for (const AlarmInfo_t& k : keys) {
    auto it = m_expBuffer.find(k);
    out.push_back(it == m_expBuffer.end() ? 1 : it->ClearCategory);
  }
  return FM_SUCCESS;
}

bool CAlarmExpOperator::isAlmInfoValid(const AlarmInfo_t& key) {
  Lock_Guard lock(m_lockExp);
  return m_expBuffer.find(key) != m_expBuffer.end();
}

long CAlarmExpOperator::getAlmStaticInfo(AlarmInfo_t& key, AlmExp_t& exp) {
  long rc = waitForInit();
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::getAlmStaticInfo waitForInit fail.");
    return rc;
  }
  Lock_Guard lock(m_lockExp);
  auto it = m_expBuffer.find(key);
  if (it == m_expBuffer.end()) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::getAlmStaticInfo,find static fail.GrpID=%d,AlmID=%d.",
             static_cast<int>(key.m_lGroupId), static_cast<int>(key.m_lAlarmId));
    return FM_FAILURE;
  }
  asignBasic2Exp(*it, exp);
  return FM_SUCCESS;
}

long CAlarmExpOperator::getAlarmExpBasicInfo(std::list<AlmBasicExp_t>& out) {
  if (waitForInit() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::getAlarmExpBasicInfo, waitForInit  fail ");
    return FM_FAILURE;
  }
  if (serviceStopping()) {
    FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", "CAlarmExpOperator::getAlarmExpBasicInfo");
    return FM_FAILURE;
  }
  Lock_Guard lock(m_lockExp);
  for (const AlmBasicExp_t& b : m_expBuffer) out.push_back(b);
  return FM_SUCCESS;
}

void CAlarmExpOperator::applyNewAlarmName(AlmExpList& exps) {
  if (waitForInit() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlarmExpOperator::applyNewAlarmName, wait for init fail!");
    return;
  }
  Lock_Guard lock(m_lockExp);
  for (AlmExp_t& e : exps) {
    auto it = m_expBuffer.find(e);
    if (it != m_expBuffer.end()) e.AlarmName = it->AlarmName;
  }
}

// ---------------------------------------------------------------------------
// Events

long CAlarmExpOperator::batchSendExpEvent(int type, const AlmExpList& exps) const {
  FM_FUNC_TRACE("CAlmAttrOP::::batchSendExpEvent");
  if (type < 1 || type > 5) {
    FM_TRACE(TRACE_ERROR, "CAlmAttrOP::batchSendExpEvent() eventType is %d, Error", type);
    return FM_INVALID_ARG;
  }
  if (exps.empty()) {
    if (type != 3) {
      FM_TRACE(TRACE_ERROR, "CAlmAttrOP::batchSendExpEvent() expList is empty, Error");
      return FM_INVALID_ARG;
    }
    FM_TRACE(TRACE_PROGRESS, "CAlmAttrOP::batchSendExpEvent() empty message will be sent to north.");
    sendExpChangedEvent(type, exps);
    return FM_SUCCESS;
  }
  auto next = exps.begin();
  while (next != exps.end()) {
    AlmExpList chunk;
    KyroLongTrace trace(TRACE_DETAIL, "CAlmAttrOP::batchSendExpEvent,alarmId/groupid:");
    for (size_t n = 0; n < EVENT_CHUNK && next != exps.end(); ++n, ++next) {
      chunk.push_back(*next);
      trace.addText(std::to_string(next->m_lAlarmId) + "/" + std::to_string(next->m_lGroupId) + ";");
    }
    sendExpChangedEvent(type, chunk);
  }
  return FM_SUCCESS;
}

long CAlarmExpOperator::sendExpChangedEvent(int type, const AlmExpList& exps) const {
  FM_FUNC_TRACE("CAlmAttrOP::sendExpChangedEvent");
  if (type < 1 || type > 5) {
    FM_TRACE(TRACE_ERROR, "CAlmAttrOP::sendExpChangedEvent() sendExpChangedEvent Parameter Error");
    return FM_INVALID_ARG;
  }
  KyroExp::AlmExpSeq seq;
  if (almExpListToSeq(exps, seq) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlmAttrOP::sendExpChangedEvent() almExpListToSeq Error");
    return FM_FAILURE;
  }
  FM_TRACE(TRACE_DETAIL, "CAlmAttrOP::sendExpChangedEvent(), count = %d", static_cast<int>(seq.length()));
  ExpChangedEvent ev;
  ev.setPartition(0);
  ev.setSourceClass("MyExpChangedSourceClass");
  ev.setEventType("ExpChangedEvent");
  ev.setType(type);
  ev.setAlmExpSeq(seq);
  if (CCommonEventSender::instance()->sendEMEvent(ev, "CAlmAttrOP::sendExpChangeEvent") != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlmAttrOP::sendExpChangedEvent(),sendEMEvent failed!EventType = %d", type);
  }
  return FM_SUCCESS;
}

}  // namespace Kyrofm
