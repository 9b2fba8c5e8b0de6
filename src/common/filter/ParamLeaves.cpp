// ParamLeaves.cpp: the filter leaves over the alarm key, the identifier bits
// and the numbered and extended parameters.
//
// Every leaf builds its new values aside and installs them only when the
// whole list was accepted. Bit leaves keep their bits as a mask computed once,
// so that evaluate is one AND; the SQL bit test is written in the database's
// dialect.
#include "fm_common/filter/ParamLeaves.h"

#include <cstdio>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// Reads a whole decimal integer; logs "<what>, invalid value: <text>".
bool readLong(const std::string& text, const char* what, long& value) {
  if (KyroUtils::parseLong(text, value)) return true;
  FM_TRACE(TRACE_ERROR, "%s, invalid value: %s", what, text.c_str());
  return false;
}

std::list<std::string> contentList(const std::string& content) {
  auto pieces = filterdetail::contentPieces(content);
  return std::list<std::string>(pieces.begin(), pieces.end());
}

// The column text of a bit test "a AND mask" in the database's dialect.
std::string bitTest(const char* column, long mask) {
  char buf[96];
  if (Kyrofmdb::CDBMaintain::instance()->getDBType() == Kyrofmdb::FM_DBTYPE_MODFUNC) {
    std::snprintf(buf, sizeof buf, " bitand(%s, %ld) ", column, mask);
  } else {
    std::snprintf(buf, sizeof buf, " (%s & %ld) ", column, mask);
  }
  return buf;
}

const std::set<long>& zeroSet() {
  static const std::set<long> zero{0};
  return zero;
}

// Count of the numbered and extended parameter leaves: 1 for no values or
// a chunked list, else the number of values.
template <typename Set>
long paramCount(const Set& values) {
  return values.empty() || values.size() >= static_cast<size_t>(BasicExp::SQL_CHUNK_TERMS)
             ? 1
             : static_cast<long>(values.size());
}

}  // namespace

// ---------------------------------------------------------------------------
// AlarmInfoExp

void AlarmInfoExp::clearKeys() {
  m_lstKeys.clear();
  m_setGroups.clear();
  m_setAlarmIds.clear();
  m_setKeys.clear();
}

bool AlarmInfoExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  if (values.size() % 2 != 0) {
    FM_TRACE(TRACE_ERROR, "AlarmInfoExp::setFilter, odd number of values: %d", static_cast<int>(values.size()));
    clearKeys();
    return false;
  }
  std::vector<AlarmInfo_t> keys;
  for (auto it = values.begin(); it != values.end(); ++it) {
    long group = 0;
    long alarm = 0;
    if (!readLong(*it, "AlarmInfoExp::setFilter", group) || !readLong(*++it, "AlarmInfoExp::setFilter", alarm)) {
      return false;
    }
    keys.emplace_back(group, alarm);
  }
  clearKeys();
  m_lstKeys.swap(keys);
  for (const auto& k : m_lstKeys) {
    if (k.m_lAlarmId == -1) {
      // (-1, -1) names nothing: it goes to neither set.
      if (k.m_lGroupId != -1) m_setGroups.insert(k.m_lGroupId);
    } else if (k.m_lGroupId == -1) {
      m_setAlarmIds.insert(k.m_lAlarmId);
    } else {
      m_setKeys.emplace(k.m_lGroupId, k.m_lAlarmId);
    }
  }
  return true;
}

bool AlarmInfoExp::setStringContent(const std::string& content) {
  auto values = contentList(content);
  return !values.empty() && setFilter(values, false);
}

bool AlarmInfoExp::evaluate(const AlmRecord_t& record) const {
  if (m_lstKeys.empty()) return false;
  const long group = record.getGroupId();
  const long alarm = record.getAlarmId();
  if (m_setGroups.count(group) != 0 || m_setAlarmIds.count(alarm) != 0) return true;
  const bool listed = m_setKeys.count({group, alarm}) != 0;
  return getOperator() == 2 ? !listed : listed;
}

std::string AlarmInfoExp::sqlWhereCond(const std::string&) const {
  if (m_lstKeys.empty()) return " ( 0 > 1 ) ";
  const bool negated = getOperator() == 2;
  std::string orTerms;
  std::string andBlock;
  char buf[96];
  for (const auto& k : m_lstKeys) {
    const long g = k.m_lGroupId;
    const long a = k.m_lAlarmId;
    if (a == -1 && g == -1) continue;
    if (a == -1 || g == -1) {
      std::snprintf(buf, sizeof buf, a == -1 ? " para6 = %ld " : " Id = %ld ", a == -1 ? g : a);
      if (!orTerms.empty()) orTerms += " or ";
      orTerms += buf;
    } else if (negated) {
      std::snprintf(buf, sizeof buf, " (para6 <> %ld or Id <> %ld )", g, a);
      if (!andBlock.empty()) andBlock += " and ";
      andBlock += buf;
    } else {
      std::snprintf(buf, sizeof buf, " (para6 = %ld and Id = %ld )", g, a);
      if (!orTerms.empty()) orTerms += " or ";
      orTerms += buf;
    }
  }
  // Under operator 2 every record without a listed full key is accepted: no
  // full key at all accepts every record.
  if (negated && andBlock.empty()) return "(1>0)";
  // Otherwise only named groups, alarm ids and keys are accepted.
  if (!negated && orTerms.empty()) return " ( 0 > 1 ) ";
  std::string text = orTerms;
  if (!andBlock.empty()) text = text.empty() ? andBlock : text + " or " + andBlock;
  return " (" + text + ") ";
}

AlarmExp* AlarmInfoExp::copy() const {
  return filterdetail::guardedCopy("AlarmInfoExp::copy", [this] { return new AlarmInfoExp(*this); });
}

// ---------------------------------------------------------------------------
// IdentifyExp

bool IdentifyExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  std::set<long> bits;
  long mask = 0;
  for (const auto& text : values) {
    long n = 0;
    if (!readLong(text, "IdentifyExp::setFilter", n)) return false;
    const int asInt = static_cast<int>(n);
    if (asInt != n || !CAlmValidCheck::isAlmIdentifyValid(asInt)) {
      FM_TRACE(TRACE_ERROR, "IdentifyExp::setFilter, invalid identifier: %ld", n);
      return false;
    }
    // Bit n-1 modulo 32; identifiers 0 and below wrap to the top bits.
    const long bit = (((n - 1) % 32) + 32) % 32;
    bits.insert(bit);
    mask |= 1L << bit;
  }
  m_setBits.swap(bits);
  m_lMask = mask;
  return true;
}

bool IdentifyExp::setStringContent(const std::string& content) {
  auto values = contentList(content);
  return !values.empty() && setFilter(values, false);
}

std::string IdentifyExp::sqlWhereCond(const std::string&) const {
  if (m_lMask == 0) return " ( 0 > 1 ) ";
  return bitTest("para8", m_lMask) + "<> 0 ";
}

AlarmExp* IdentifyExp::copy() const {
  return filterdetail::guardedCopy("IdentifyExp::copy", [this] { return new IdentifyExp(*this); });
}

// ---------------------------------------------------------------------------
// ParamExp

bool ParamExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  if (values.empty()) {
    FM_TRACE(TRACE_ERROR, "ParamExp::setFilter, the lstFilter is empty.");
    m_lIndex = -1;
    m_setValues.clear();
    m_match = IntValueMatch();
    return true;
  }
  long index = 0;
  if (!readLong(values.front(), "ParamExp::setFilter", index)) return false;
  if (index < 0 || index >= AlmRecord_t::PARAM_COUNT) {
    FM_TRACE(TRACE_ERROR, "ParamExp::setFilter, invalid param index: %ld", index);
    return false;
  }
  std::set<long> built;
  for (auto it = std::next(values.begin()); it != values.end(); ++it) {
    long v = 0;
    if (!readLong(*it, "ParamExp::setFilter", v)) return false;
    built.insert(v);
  }
  IntValueMatch match(getOperator(), built);
  m_lIndex = index;
  m_setValues.swap(built);
  m_match = std::move(match);
  return true;
}

bool ParamExp::setStringContent(const std::string& content) {
  auto values = contentList(content);
  return !values.empty() && setFilter(values, false);
}

bool ParamExp::evaluate(const AlmRecord_t& record) const {
  if (m_lIndex < 0) return true;
  const long v = record.getParam(static_cast<int>(m_lIndex) + 1);
  return m_setValues.empty() ? v != 0 : m_match(v);
}

std::string ParamExp::sqlWhereCond(const std::string& table) const {
  if (m_lIndex < 0) return std::string();
  return createIntSqlCond(table, "para" + std::to_string(m_lIndex + 1), m_setValues);
}

long ParamExp::getSqlWhereCondLimitCount() const { return paramCount(m_setValues); }

AlarmExp* ParamExp::copy() const {
  return filterdetail::guardedCopy("ParamExp::copy", [this] { return new ParamExp(*this); });
}

// ---------------------------------------------------------------------------
// Extended parameters

namespace {

// Reads group and index from the first two values and checks the field
// property; the values after them are left at `rest`.
bool readExtField(const std::list<std::string>& values, long kind, const char* what, long& group, long& index) {
  if (!readLong(values.front(), what, group) || !readLong(*std::next(values.begin()), what, index)) return false;
  if (XRFMAlarmFieldPropManager::instance()->getProp(kind, group, index) == nullptr) {
    FM_TRACE(TRACE_ERROR, "%s, prop is null, group:%ld, index:%ld", what, group, index);
    return false;
  }
  return true;
}

}  // namespace

bool IntExtParamExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  if (values.size() < 2) {
    FM_TRACE(TRACE_ERROR, "IntExtParamExp::setFilter failed, the filter's size is:(%d)", static_cast<int>(values.size()));
    return false;
  }
  long group = 0;
  long index = 0;
  if (!readExtField(values, XRFMAlarmFieldPropManager::KIND_INT_EXT, "IntExtParamExp::setFilter", group, index)) {
    return false;
  }
  std::set<long> built;
  for (auto it = std::next(values.begin(), 2); it != values.end(); ++it) {
    long v = 0;
    if (!readLong(*it, "IntExtParamExp::setFilter", v)) return false;
    built.insert(v);
  }
  IntValueMatch match(getOperator(), built);
  m_lGroup = group;
  m_lIndex = index;
  m_setValues.swap(built);
  m_match = std::move(match);
  return true;
}

bool IntExtParamExp::setStringContent(const std::string& content) { return setFilter(contentList(content), false); }

bool IntExtParamExp::evaluate(const AlmRecord_t& record) const {
  const long v = record.getIntExtParam(static_cast<int>(m_lGroup), static_cast<int>(m_lIndex));
  return m_setValues.empty() ? v != 0 : m_match(v);
}

std::string IntExtParamExp::sqlWhereCond(const std::string& table) const {
  const auto* prop = XRFMAlarmFieldPropManager::instance()->getProp(XRFMAlarmFieldPropManager::KIND_INT_EXT, m_lGroup,
                                                                    m_lIndex);
  if (prop == nullptr) {
    FM_TRACE(TRACE_ERROR, "IntExtParamExp::sqlWhereCond, prop is null, group:%d, index:%d", static_cast<int>(m_lGroup),
             static_cast<int>(m_lIndex));
    return " 0 > 1 ";
  }
  // Without values evaluate accepts a nonzero parameter; the column holds 0
  // for a parameter that is not set.
  if (m_setValues.empty()) return " " + prop->getDbName() + " <> 0 ";
  return createIntSqlCond(table, prop->getDbName(), m_setValues);
}

long IntExtParamExp::getSqlWhereCondLimitCount() const { return paramCount(m_setValues); }

AlarmExp* IntExtParamExp::copy() const {
  return filterdetail::guardedCopy("IntExtParamExp::copy", [this] { return new IntExtParamExp(*this); });
}

bool StrExtParamExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  if (values.size() < 2) {
    FM_TRACE(TRACE_ERROR, "StrExtParamExp::setFilter failed, lstFilter size:%d", static_cast<int>(values.size()));
    return false;
  }
  long group = 0;
  long index = 0;
  if (!readExtField(values, XRFMAlarmFieldPropManager::KIND_STR_EXT, "StrExtParamExp::setFilter", group, index)) {
    return false;
  }
  std::set<std::string> built(std::next(values.begin(), 2), values.end());
  StrValueMatch match(getOperator(), built);
  m_lGroup = group;
  m_lIndex = index;
  m_setValues.swap(built);
  m_match = std::move(match);
  return true;
}

bool StrExtParamExp::setStringContent(const std::string& content) {
  // group,index,value...: the values are texts and may be empty.
  std::vector<std::string> parts;
  KyroUtils::split(content, ",", parts);
  return setFilter(std::list<std::string>(parts.begin(), parts.end()), false);
}

bool StrExtParamExp::pairsWithDevRoot() const {
  return m_lGroup == 1 && m_lIndex == 3 && m_setValues.size() == 1 && m_setValues.begin()->empty() &&
         (getOperator() == 1 || getOperator() == 2);
}

bool StrExtParamExp::evaluate(const AlmRecord_t& record) const {
  if (m_lGroup < 0) return false;  // no field named: the SQL selects nothing either
  const bool r = m_match(record.getStrExtParamView(static_cast<int>(m_lGroup), static_cast<int>(m_lIndex)));
  if (!pairsWithDevRoot() || record.getCategory() != 1) return r;
  const bool r2 = m_match(record.getStrExtParamView(1, 1));
  return getOperator() == 1 ? (r && r2) : (r || r2);
}

std::string StrExtParamExp::sqlWhereCond(const std::string& table) const {
  const auto* mgr = XRFMAlarmFieldPropManager::instance();
  const auto* prop = mgr->getProp(XRFMAlarmFieldPropManager::KIND_STR_EXT, m_lGroup, m_lIndex);
  if (prop == nullptr) {
    FM_TRACE(TRACE_ERROR, "StrExtParamExp::sqlWhereCond, prop is null, group:%d, index:%d", static_cast<int>(m_lGroup),
             static_cast<int>(m_lIndex));
    return " 0 > 1 ";
  }
  const std::string a = createStrSqlCond(table, prop->getDbName(), m_setValues);
  if (m_lGroup != 1 || m_lIndex != 3) return a;
  const auto* devRoot = mgr->getProp(XRFMAlarmFieldPropManager::KIND_STR_EXT, 1, 1);
  if (devRoot == nullptr) {
    FM_TRACE(TRACE_ERROR, "StrExtParamExp::sqlWhereCond, devRootIdProp prop is null, group:%d, index:%d", 1, 1);
    return " 0 > 1 ";
  }
  const std::string b = createStrSqlCond(table, devRoot->getDbName(), m_setValues);
  if (b.empty() || !pairsWithDevRoot()) return a;
  // The pair rule holds for alarms only (category 1), on every table.
  if (getOperator() == 1) return "(" + a + ")" + " and " + "((" + b + ") or Cat <> 1)";
  return "(" + a + ")" + " or " + "((" + b + ") and Cat = 1)";
}

long StrExtParamExp::getSqlWhereCondLimitCount() const { return paramCount(m_setValues); }

AlarmExp* StrExtParamExp::copy() const {
  return filterdetail::guardedCopy("StrExtParamExp::copy", [this] { return new StrExtParamExp(*this); });
}

// ---------------------------------------------------------------------------
// Param8BitandExp

Param8BitandExp::Param8BitandExp(const std::string& condName, char op)
    : BasicExp(condName, op), m_zero(op, zeroSet()) {}

bool Param8BitandExp::setFilter(const std::list<std::string>& values, bool selectAll) {
  setSelectAll(selectAll);
  if (values.empty()) {
    FM_TRACE(TRACE_ERROR, "Param8BitandExp::setFilter, the lstFilter is empty.");
    m_lMask = 0;
    return true;
  }
  long mask = 0;
  for (const auto& text : values) {
    long b = 0;
    if (!readLong(text, "Param8BitandExp::setFilter", b)) return false;
    if (b < 0 || b > 31) {
      FM_TRACE(TRACE_ERROR, "Param8BitandExp::setFilter, invalid bit: %ld", b);
      return false;
    }
    mask |= 1L << b;
  }
  m_lMask = mask;
  return true;
}

bool Param8BitandExp::setStringContent(const std::string& content) {
  auto values = contentList(content);
  return !values.empty() && setFilter(values, false);
}

bool Param8BitandExp::evaluate(const AlmRecord_t& record) const {
  if (m_lMask == 0) return true;
  return m_zero(record.getParam(8) & m_lMask);
}

std::string Param8BitandExp::sqlWhereCond(const std::string& table) const {
  if (m_lMask == 0) return std::string();
  // The mask is written as the positive number it is: bit 31 written as a
  // 32-bit "%d" would turn negative and test every higher bit of the column.
  return createIntSqlCond(table, bitTest("para8", m_lMask), zeroSet());
}

AlarmExp* Param8BitandExp::copy() const {
  return filterdetail::guardedCopy("Param8BitandExp::copy", [this] { return new Param8BitandExp(*this); });
}

}  // namespace Kyrofm
