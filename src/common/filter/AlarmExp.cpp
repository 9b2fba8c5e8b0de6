// AlarmExp.cpp: the filter tree in memory: combinators, constants, the
// operator table of the field leaves, copy and replace.
//
// copy() and replace() are the only ways to duplicate a tree. They build the
// new tree bottom-up in std::unique_ptr and release the root to the caller only
// when every node was made, so a failure (out of memory) leaks nothing and
// never yields a tree with a silently missing child.
#include "fm_common/filter/AlarmExp.h"

#include <exception>
#include <utility>

#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// Priority used to order a missing child after any present one.
int priorityOf(const std::unique_ptr<AlarmExp>& e) { return e ? e->getPriority() : -1; }

// A missing child is no condition: it accepts every alarm.
bool matchAllOf(const std::unique_ptr<AlarmExp>& e) { return e ? e->isMatchAll() : true; }

// Copies a child into dst; false when the child exists and its copy failed.
bool copyChild(const std::unique_ptr<AlarmExp>& src, std::unique_ptr<AlarmExp>& dst) {
  if (!src) {
    dst.reset();
    return true;
  }
  dst.reset(src->copy());
  return dst != nullptr;
}

// replace() of a child into dst; false when the child exists and it failed.
bool replaceChild(const std::unique_ptr<AlarmExp>& src, const std::string& condName, const AlarmExp* exp,
                  std::unique_ptr<AlarmExp>& dst) {
  if (!src) {
    dst.reset();
    return true;
  }
  dst.reset(src->replace(condName, exp));
  return dst != nullptr;
}

// Shared body of the two binary combinators' copy and replace: the second
// child is processed first, the new node reorders the results by priority.
template <typename Node>
AlarmExp* duplicateBinary(const char* what, const std::unique_ptr<AlarmExp>& first,
                          const std::unique_ptr<AlarmExp>& second, const std::string* condName,
                          const AlarmExp* exp) {
  try {
    std::unique_ptr<AlarmExp> s;
    std::unique_ptr<AlarmExp> f;
    bool ok = condName ? replaceChild(second, *condName, exp, s) : copyChild(second, s);
    ok = ok && (condName ? replaceChild(first, *condName, exp, f) : copyChild(first, f));
    if (!ok) {
      FM_TRACE(TRACE_ERROR, "%s, child failed", what);
      return nullptr;
    }
    return new Node(std::move(f), std::move(s));
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "%s, exception: %s", what, e.what());
    return nullptr;
  }
}

bool containsAny(const std::string& v, const std::set<std::string>& values) {
  if (v.empty()) return false;
  for (const auto& s : values) {
    if (v.find(s) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// AlarmExp

std::string AlarmExp::combineCondition(const std::string& a, const std::string& b, const std::string& op) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return " ( ( " + a + " ) " + op + " ( " + b + " ) ) ";
}

// ---------------------------------------------------------------------------
// BasicExp

AlarmExp* BasicExp::replace(const std::string& condName, const AlarmExp* exp) const {
  try {
    if (m_strCondName != condName) return copy();
    if (exp == nullptr) {
      FM_TRACE(TRACE_ERROR, "BasicExp::replace, exp is null, condName:%s", condName.c_str());
      return nullptr;
    }
    return exp->copy();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "BasicExp::replace, exception: %s", e.what());
    return nullptr;
  }
}

bool BasicExp::evaluateInt(long v, const std::set<long>& values) const {
  if (values.empty()) return true;
  const long first = *values.begin();
  const long last = *values.rbegin();
  switch (m_cOperator) {
    case 1:
    case 7:
    case 8:
    case 11:
    case 12:
      return values.count(v) != 0;
    case 2:
    case 9:
      return values.count(v) == 0;
    case 3:
      return v > last;
    case 4:
      return v >= last;
    case 5:
      return v < first;
    case 6:
      return v <= first;
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, between param error!");
        return v >= first;
      }
      return v >= first && v <= last;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

bool BasicExp::evaluateStr(const std::string& v, const std::set<std::string>& values) const {
  if (values.empty()) return true;
  const std::string& first = *values.begin();
  const std::string& last = *values.rbegin();
  switch (m_cOperator) {
    case 1:
    case 8:
      return values.count(v) != 0;
    case 2:
      return values.count(v) == 0;
    case 3:
      return v > last;
    case 4:
      return v >= last;
    case 5:
      return v < first;
    case 6:
      return v <= first;
    case 7:
    case 11:
    case 12:
      return containsAny(v, values);
    case 9:
      return !containsAny(v, values);
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, between param error!");
        return v >= first;
      }
      return v >= first && v <= last;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

// ---------------------------------------------------------------------------
// AndAlarmExp

AndAlarmExp::AndAlarmExp(AlarmExp* a, AlarmExp* b)
    : AndAlarmExp(std::unique_ptr<AlarmExp>(a), std::unique_ptr<AlarmExp>(b)) {}

AndAlarmExp::AndAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b) {
  if (priorityOf(a) >= priorityOf(b)) {
    m_pFirst = std::move(a);
    m_pSecond = std::move(b);
  } else {
    m_pFirst = std::move(b);
    m_pSecond = std::move(a);
  }
  setMatchAll(matchAllOf(m_pFirst) && matchAllOf(m_pSecond));
}

AndAlarmExp::~AndAlarmExp() {
  m_pFirst.reset();
  m_pSecond.reset();
}

bool AndAlarmExp::evaluate(const AlmRecord_t& record) const {
  if (m_pFirst && !m_pFirst->evaluate(record)) return false;
  return m_pSecond ? m_pSecond->evaluate(record) : true;
}

long AndAlarmExp::getSqlWhereCondLimitCount() const {
  long a = m_pFirst ? m_pFirst->getSqlWhereCondLimitCount() : 0;
  long b = m_pSecond ? m_pSecond->getSqlWhereCondLimitCount() : 0;
  return a > b ? a : b;
}

AlarmExp* AndAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  return duplicateBinary<AndAlarmExp>("AndAlarmExp::replace", m_pFirst, m_pSecond, &condName, exp);
}

AlarmExp* AndAlarmExp::copy() const {
  return duplicateBinary<AndAlarmExp>("AndAlarmExp::copy", m_pFirst, m_pSecond, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// OrAlarmExp

OrAlarmExp::OrAlarmExp(AlarmExp* a, AlarmExp* b)
    : OrAlarmExp(std::unique_ptr<AlarmExp>(a), std::unique_ptr<AlarmExp>(b)) {}

OrAlarmExp::OrAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b) {
  if (priorityOf(a) >= priorityOf(b)) {
    m_pFirst = std::move(a);
    m_pSecond = std::move(b);
  } else {
    m_pFirst = std::move(b);
    m_pSecond = std::move(a);
  }
  setMatchAll(matchAllOf(m_pFirst) || matchAllOf(m_pSecond));
}

OrAlarmExp::~OrAlarmExp() {
  m_pFirst.reset();
  m_pSecond.reset();
}

bool OrAlarmExp::evaluate(const AlmRecord_t& record) const {
  if (!m_pFirst || m_pFirst->evaluate(record)) return true;
  return m_pSecond ? m_pSecond->evaluate(record) : true;
}

long OrAlarmExp::getSqlWhereCondLimitCount() const {
  long a = m_pFirst ? m_pFirst->getSqlWhereCondLimitCount() : 0;
  long b = m_pSecond ? m_pSecond->getSqlWhereCondLimitCount() : 0;
  return a + b;
}

AlarmExp* OrAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  return duplicateBinary<OrAlarmExp>("OrAlarmExp::replace", m_pFirst, m_pSecond, &condName, exp);
}

AlarmExp* OrAlarmExp::copy() const {
  return duplicateBinary<OrAlarmExp>("OrAlarmExp::copy", m_pFirst, m_pSecond, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// NotAlarmExp

NotAlarmExp::NotAlarmExp(AlarmExp* child) : NotAlarmExp(std::unique_ptr<AlarmExp>(child)) {}

NotAlarmExp::NotAlarmExp(std::unique_ptr<AlarmExp> child) : m_pChild(std::move(child)) {}

NotAlarmExp::~NotAlarmExp() = default;

bool NotAlarmExp::evaluate(const AlmRecord_t& record) const {
  return m_pChild ? !m_pChild->evaluate(record) : false;
}

long NotAlarmExp::getSqlWhereCondLimitCount() const {
  return m_pChild ? m_pChild->getSqlWhereCondLimitCount() : 0;
}

AlarmExp* NotAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  try {
    std::unique_ptr<AlarmExp> c;
    if (!replaceChild(m_pChild, condName, exp, c)) {
      FM_TRACE(TRACE_ERROR, "NotAlarmExp::replace, child failed");
      return nullptr;
    }
    return new NotAlarmExp(std::move(c));
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "NotAlarmExp::replace, exception: %s", e.what());
    return nullptr;
  }
}

AlarmExp* NotAlarmExp::copy() const {
  try {
    std::unique_ptr<AlarmExp> c;
    if (!copyChild(m_pChild, c)) {
      FM_TRACE(TRACE_ERROR, "NotAlarmExp::copy, child failed");
      return nullptr;
    }
    return new NotAlarmExp(std::move(c));
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "NotAlarmExp::copy, exception: %s", e.what());
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// ConstantExp

bool ConstantExp::evaluate(const AlmRecord_t&) const { return m_bValue; }

AlarmExp* ConstantExp::replace(const std::string&, const AlarmExp*) const { return copy(); }

AlarmExp* ConstantExp::copy() const {
  try {
    return new ConstantExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "ConstantExp::copy, exception: %s", e.what());
    return nullptr;
  }
}

}  // namespace Kyrofm
