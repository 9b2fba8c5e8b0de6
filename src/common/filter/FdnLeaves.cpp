// FdnLeaves.cpp: the FDN leaves in memory and in SQL, and their temporary
// tables of ids.
//
// The SQL of a leaf must select the rows whose records evaluate accepts, so
// the id lists are always written with the membership meaning the leaf has in
// memory: an equality list (or "in") for a positive test, an inequality list
// (or "not in") for a negative one, whatever other operator code the leaf
// carries. The subtree form collects ids through the FDN manager's walk that
// takes FDNs of any length, because the in-memory subtree test has no length
// limit either.
#include "fm_common/filter/FdnLeaves.h"

#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/FMIdMgr.h"
#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/fmcommon/FdnManager.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

const char* const FALSE_COND = " ( 0 > 1 ) ";

// CAlmValidCheck::CheckFdnParent on views: parent is a prefix of fdn, and the
// two are equal, or fdn continues with the splitter, or parent ends with it.
bool isFdnParent(std::string_view parent, std::string_view fdn, char splitter) {
  if (parent.size() > fdn.size() || fdn.compare(0, parent.size(), parent) != 0) return false;
  if (parent.size() == fdn.size() || fdn[parent.size()] == splitter) return true;
  return !parent.empty() && parent.back() == splitter;
}

// Writes an id list through the BasicExp builder with operator 1 (equality
// list) or 2 (inequality list), so the text has the builder's chunking.
class IdListCond : public BasicExp {
 public:
  explicit IdListCond(bool negate) : BasicExp("", negate ? 2 : 1) {}
  std::string build(const std::string& table, const std::string& col, const std::set<long>& ids) const {
    return createIntSqlCond(table, col, ids);
  }
  bool evaluate(const AlmRecord_t&) const override { return false; }
  std::string sqlWhereCond(const std::string&) const override { return ""; }
  long getSqlWhereCondLimitCount() const override { return 0; }
  AlarmExp* copy() const override { return nullptr; }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }
};

// The ids as a condition on col: inline below the threshold, else through the
// leaf's temporary table.
std::string idCondition(const char* leaf, const std::string& table, const std::string& col, const std::set<long>& ids,
                        size_t count, bool negate, FdnIdTempTable& temp) {
  if (count < FdnIdTempTable::THRESHOLD) return IdListCond(negate).build(table, col, ids);
  std::string name = temp.fill(leaf, ids);
  if (name.empty()) return FALSE_COND;
  return " " + col + (negate ? " not in (select id from " : " in (select id from ") + name + ")";
}

std::mutex g_pendingMutex;
std::vector<std::string>& pendingDrops() {
  static std::vector<std::string> v;
  return v;
}

void dropOrRemember(const std::string& table) {
  if (table.empty()) return;
  long rc = Kyrofmdb::CFMDBTools::DropTable(table);
  if (rc == FM_SUCCESS) return;
  FM_TRACE(TRACE_WARNING, "FdnIdTempTable drop %s fail(%ld), retried later", table.c_str(), rc);
  std::lock_guard<std::mutex> lock(g_pendingMutex);
  pendingDrops().push_back(table);
}

// The FDN values of FDNExp and NeObjectExp as setFilter takes them; false (out
// empty) for an unknown user or an invalid FDN.
bool parseFdnValues(const char* leaf, const std::list<std::string>& values, char splitter,
                    std::set<std::string>& out) {
  out.clear();
  if (values.empty()) return true;
  auto it = values.begin();
  std::set<std::string> managed;
  static const std::string userTag = "USER,";
  if (it->compare(0, userTag.size(), userTag) == 0) {
    const std::string user = it->substr(userTag.size());
    long userId = CUserIDMaintain::GetUserID(user, "SM_ROOT");
    if (userId == 0) {
      FM_TRACE(TRACE_ERROR, "%s::setFilter, unknown user %s", leaf, user.c_str());
      return false;
    }
    CFMClientMgr::instance()->getManagerMO(userId, managed);
    ++it;
  }
  auto* pcm = ProductCustomizeModuleManager::instance();
  std::set<std::string> fdns;
  for (; it != values.end(); ++it) {
    std::string fdn = pcm->fdn2Oid(*it);
    if (!CAlmValidCheck::isFDNValid(fdn)) {
      FM_TRACE(TRACE_ERROR, "%s::setFilter, invalid fdn %s", leaf, fdn.c_str());
      return false;
    }
    fdns.insert(std::move(fdn));
  }
  if (!managed.empty() && !(managed.size() == 1 && *managed.begin() == "*")) {
    XRFMFdnMatch mine(splitter);
    for (const auto& mo : managed) mine.addPattern(mo.c_str());
    for (auto f = fdns.begin(); f != fdns.end();) f = mine.match(f->c_str(), false) ? std::next(f) : fdns.erase(f);
  }
  if (fdns.empty()) FM_TRACE(TRACE_ERROR, "%s::setnetotemptabs  _neObjSeq is empty", leaf);
  out.swap(fdns);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// FdnIdTempTable

FdnIdTempTable::~FdnIdTempTable() {
  try {
    dropOrRemember(m_strTempTable);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "FdnIdTempTable::~FdnIdTempTable %s: %s", m_strTempTable.c_str(), e.what());
  }
}

size_t FdnIdTempTable::retryPendingDrops() {
  std::vector<std::string> todo;
  {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    todo.swap(pendingDrops());
  }
  std::vector<std::string> still;
  for (const auto& t : todo) {
    if (Kyrofmdb::CFMDBTools::DropTable(t) != FM_SUCCESS) still.push_back(t);
  }
  std::lock_guard<std::mutex> lock(g_pendingMutex);
  auto& p = pendingDrops();
  p.insert(p.end(), still.begin(), still.end());
  return p.size();
}

std::string FdnIdTempTable::fill(const char* leaf, const std::set<long>& ids) {
  retryPendingDrops();
  if (m_strTempTable.empty()) {
    long minId = 0, maxId = 0;
    long rc = FMIdMgr::instance()->allocateIds(FM_IDTYPE_TEMPTABLE, 1, minId, maxId);
    if (rc != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "%s::initTempTable allocateIds fail, return %ld", leaf, rc);
      return "";
    }
    m_strTempTable = m_strPrefix + std::to_string(minId);
  }
  // The ids below an FDN grow when objects are added; a table filled earlier
  // is refilled then, or the SQL would miss what evaluate accepts.
  if (!m_bFilled || m_filled != ids) {
    m_bFilled = false;
    if (!Kyrofmdb::CFMDBTools::initTempTable(ids, m_strTempTable)) {
      FM_TRACE(TRACE_ERROR, "%s::sqlWhereCond initTempTable  fail", leaf);
      return "";
    }
    m_filled = ids;
    m_bFilled = true;
  }
  return m_strTempTable;
}

// ---------------------------------------------------------------------------
// LinkObjectExp

bool LinkObjectExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  std::set<std::string> fdns;
  auto* pcm = ProductCustomizeModuleManager::instance();
  for (const auto& v : values) fdns.insert(pcm->fdn2Oid(v));
  StrValueMatch match(getOperator(), fdns);
  m_fdns.swap(fdns);
  m_match = std::move(match);
  setSelectAll(selectAll);
  return true;
}

bool LinkObjectExp::setStringContent(const std::string& content) {
  std::list<std::string> parts;
  String2List(content, parts, ",");
  return setFilter(parts, false);
}

bool LinkObjectExp::evaluate(const AlmRecord_t& record) const { return m_match(record.getLinkDnView()); }

std::string LinkObjectExp::sqlWhereCond(const std::string& table) const {
  const char op = getOperator();
  if (op != 1 && op != 2 && op != 8) return createStrSqlCond(table, "LinkDn", m_fdns);
  std::set<long> ids;
  CFdnManager::instance()->GetIntFdnSet(m_fdns, ids);
  return createIntSqlCond(table, "LinkFDNId", ids);
}

AlarmExp* LinkObjectExp::copy() const {
  try {
    return new LinkObjectExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "LinkObjectExp::copy: %s", e.what());
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// FDNExp

FDNExp::FDNExp(const std::string& condName, char op)
    : BasicExp(condName, op), m_cSplitter(CFDNSplitter::instance()->getSplitter()) {
  setPriority(1);
}

FDNExp::FDNExp(const FDNExp& other)
    : BasicExp(other), m_fdns(other.m_fdns), m_in(other.m_in), m_cSplitter(other.m_cSplitter) {}

FDNExp::~FDNExp() = default;

bool FDNExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  std::set<std::string> fdns;
  if (!parseFdnValues("FDNExp", values, m_cSplitter, fdns)) return false;
  StrValueMatch in(1, fdns);
  m_fdns.swap(fdns);
  m_in = std::move(in);
  m_pMatcher.reset();
  setSelectAll(selectAll);
  return true;
}

bool FDNExp::setStringContent(const std::string& content) {
  return setFilter({content}, false) && !m_fdns.empty();
}

bool FDNExp::subtreeHit(std::string_view fdn) const {
  if (m_in(fdn)) return true;
  if (m_fdns.size() == 1) return isFdnParent(*m_fdns.begin(), fdn, m_cSplitter);
  if (!m_pMatcher) {
    auto matcher = std::make_unique<XRFMFdnMatch>(m_cSplitter);
    for (const auto& f : m_fdns) matcher->addPattern(f.c_str());
    m_pMatcher = std::move(matcher);
  }
  // The view is the record's whole text, terminated as std::string keeps it.
  return m_pMatcher->match(fdn.data(), false);
}

bool FDNExp::evaluate(const AlmRecord_t& record) const {
  if (isSelectAll()) return true;
  if (m_fdns.empty()) return false;
  const std::string_view mo = record.getMoDnView();
  const char op = getOperator();
  if (op == 1) return m_in(mo);
  if (op == 2) return !m_in(mo);
  // Subtree test, also for an alarm on the NE itself: an NE lying below one
  // of the values is in the subtree, as the SQL form selects it.
  const bool hit = subtreeHit(mo);
  return op == 9 ? !hit : hit;
}

std::string FDNExp::sqlWhereCond(const std::string& table) const {
  if (m_fdns.empty()) return FALSE_COND;
  const char op = getOperator();
  std::set<long> ids;
  if (op == 1 || op == 2) {
    if (CFdnManager::instance()->GetIntFdnSet(m_fdns, ids) != FM_SUCCESS) return FALSE_COND;
  } else {
    std::list<std::string> fdns(m_fdns.begin(), m_fdns.end());
    if (CFdnManager::instance()->GetFdnLikeSetAnyLength(fdns, ids) != FM_SUCCESS || ids.empty()) return FALSE_COND;
  }
  return idCondition("FDNExp", table, "FDNId", ids, ids.size(), op == 2 || op == 9, m_table);
}

AlarmExp* FDNExp::copy() const {
  try {
    return new FDNExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "FDNExp::copy: %s", e.what());
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// NeObjectExp

NeObjectExp::NeObjectExp(const NeObjectExp& other) : BasicExp(other), m_fdns(other.m_fdns) {}

bool NeObjectExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  std::set<std::string> fdns;
  if (!parseFdnValues("NeObjectExp", values, CFDNSplitter::instance()->getSplitter(), fdns)) return false;
  m_fdns.swap(fdns);
  setSelectAll(selectAll);
  return true;
}

bool NeObjectExp::setStringContent(const std::string& content) {
  return setFilter({content}, false) && !m_fdns.empty();
}

bool NeObjectExp::evaluate(const AlmRecord_t& record) const {
  if (isSelectAll()) return true;
  if (m_fdns.empty()) return false;
  const bool in = m_fdns.count(record.getNEInfo().strNEFDN) != 0;
  return getOperator() == 2 ? !in : in;
}

std::string NeObjectExp::sqlWhereCond(const std::string& table) const {
  if (m_fdns.empty()) return FALSE_COND;
  std::set<long> ids;
  if (CFdnManager::instance()->GetIntFdnSet(m_fdns, ids) != FM_SUCCESS) return FALSE_COND;
  return idCondition("FDNExp", table, "NEFDNId", ids, m_fdns.size(), getOperator() == 2, m_table);
}

AlarmExp* NeObjectExp::copy() const {
  try {
    return new NeObjectExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "NeObjectExp::copy: %s", e.what());
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// ShieldFDNExp

ShieldFDNExp::ShieldFDNExp(const std::string& condName, char op) : BasicExp(condName, op) { setPriority(0); }

bool ShieldFDNExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  m_fdns = values;
  setSelectAll(selectAll);
  return true;
}

bool ShieldFDNExp::setStringContent(const std::string&) { return true; }

bool ShieldFDNExp::evaluate(const AlmRecord_t& record) const {
  const std::string_view mo = record.getMoDnView();
  const char splitter = CFDNSplitter::instance()->getSplitter();
  for (const auto& f : m_fdns) {
    if (isFdnParent(f, mo, splitter)) return true;
  }
  return false;
}

std::string ShieldFDNExp::sqlWhereCond(const std::string&) const { return ""; }

AlarmExp* ShieldFDNExp::copy() const {
  try {
    return new ShieldFDNExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "ShieldFDNExp::copy: %s", e.what());
    return nullptr;
  }
}

}  // namespace Kyrofm
