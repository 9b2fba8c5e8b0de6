// SqlCond.cpp: the SQL form of a filter tree.
//
// Every node writes the text of an SQL WHERE condition over an alarm table so
// that the database selects the rows that evaluate() accepts in memory. The
// texts are built from fixed pieces, with every string value escaped by
// CFMDBTools::getFiltSql and every LIKE pattern followed by the escape clause
// of KyroCommonUtils::getEscapeString(). An empty text means "no restriction".
//
// Value lists are written in chunks of BasicExp::SQL_CHUNK_TERMS terms, each
// closed by a neutral term, so that no single parenthesised list grows without
// bound. String fields: the empty value stands for a NULL column, and
// conditions that accept the empty value in memory also select NULL rows.
#include <functional>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/filter/LeafMatch.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

const char* const BasicExp::SQL_TRUE_TERM = " 1 > 0 ";
const char* const BasicExp::SQL_FALSE_TERM = " 0 > 1 ";

namespace {

using Kyrofmdb::CFMDBTools;

std::string literal(const std::string& v) { return CFMDBTools::getFiltSql(v, CFMDBTools::FILT_LITERAL); }

// Writes a value list as chunks of at most `chunk` terms. `term` appends the
// term of one value to the piece P (first: P is empty) and sets w when it
// added a further term. Equality lists (isEqual) join terms with "or" and close
// each chunk with the true term; inequality lists join with "and" and close
// with the false term. Only the last chunk is wrapped in parentheses (and only
// when some chunk had a second term).
template <typename T>
std::string buildList(const std::set<T>& values, bool isEqual, int chunk,
                      const std::function<void(const T&, bool, std::string&, bool&)>& term) {
  std::string r;
  std::string p;
  int n = 0;
  bool w = false;
  auto flush = [&]() {
    if (isEqual) {
      if (r.empty()) {
        r = p + " and " + BasicExp::SQL_TRUE_TERM;
      } else {
        r = r + " or (" + p + " and " + BasicExp::SQL_TRUE_TERM + ") ";
      }
    } else {
      if (r.empty()) {
        r = p + " or " + BasicExp::SQL_FALSE_TERM;
      } else {
        // The chunks written so far end in "... or 0 > 1"; without the outer
        // parentheses "and" would bind to the false term only and the later
        // chunks would be lost.
        r = " (" + r + ") and (" + p + " or " + BasicExp::SQL_FALSE_TERM + ") ";
      }
    }
  };
  for (const T& x : values) {
    if (n == chunk) {
      flush();
      p.clear();
      n = 0;
    }
    term(x, p.empty(), p, w);
    ++n;
  }
  if (w) p = " (" + p + ") ";
  if (n > 0) flush();
  return r;
}

// True when the empty string (a NULL column) satisfies the string operator
// table for the ascending set `values` (not empty).
bool emptyValueMatches(char op, const std::set<std::string>& values) {
  const std::string& first = *values.begin();
  const std::string& last = *values.rbegin();
  switch (op) {
    case 2:
      return values.count(std::string()) == 0;
    case 4:
      return last.empty();
    case 5:
      return !first.empty();
    case 6:
      return true;
    case 10:
      return first.empty();
    default:
      // 1, 8, 9: their own texts name NULL; 3, 7, 11, 12: never.
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Combinators and constants

std::string AndAlarmExp::sqlWhereCond(const std::string& table) const {
  std::string b = m_pSecond ? m_pSecond->sqlWhereCond(table) : std::string();
  std::string a = m_pFirst ? m_pFirst->sqlWhereCond(table) : std::string();
  return combineCondition(a, b, " and ");
}

std::string OrAlarmExp::sqlWhereCond(const std::string& table) const {
  std::string b = m_pSecond ? m_pSecond->sqlWhereCond(table) : std::string();
  std::string a = m_pFirst ? m_pFirst->sqlWhereCond(table) : std::string();
  // A child without restriction selects every row, and so does the node.
  if (a.empty() || b.empty()) return std::string();
  return combineCondition(a, b, " or ");
}

std::string NotAlarmExp::sqlWhereCond(const std::string& table) const {
  std::string c = m_pChild ? m_pChild->sqlWhereCond(table) : std::string();
  // The child selects every row: its negation selects none.
  if (c.empty()) return " (0 > 1) ";
  // A leaf's text is unknown (neither true nor false) on a NULL column where
  // the empty field value fails it in memory; "and", "or" and the WHERE clause
  // treat unknown as false, as evaluate() does, but "not" would keep it
  // unknown and drop the row that evaluate() accepts. The case expression
  // makes the child's value two-valued before it is negated.
  return " not (case when (" + c + ") then 1 else 0 end = 1) ";
}

std::string ConstantExp::sqlWhereCond(const std::string&) const { return m_bValue ? " (1 > 0) " : " (0 > 1) "; }

// ---------------------------------------------------------------------------
// BasicExp builders

std::string BasicExp::createIntSqlCond(const std::string&, const std::string& col, const std::set<long>& values) const {
  if (values.empty()) return std::string();
  switch (m_cOperator) {
    case 1:
    case 7:
    case 8:
    case 11:
    case 12:
      return buildList<long>(values, true, SQL_CHUNK_TERMS, [&col](const long& x, bool first, std::string& p, bool& w) {
        if (first) {
          p = col + " = " + std::to_string(x);
        } else {
          p += " or (" + col + " = " + std::to_string(x) + ") ";
          w = true;
        }
      });
    case 2:
    case 9:
      return buildList<long>(values, false, SQL_CHUNK_TERMS, [&col](const long& x, bool first, std::string& p, bool& w) {
        if (first) {
          p = col + " <> " + std::to_string(x);
        } else {
          p += " and (" + col + " <> " + std::to_string(x) + ") ";
          w = true;
        }
      });
    case 3:
      return col + " > " + std::to_string(*values.rbegin());
    case 4:
      return col + " >= " + std::to_string(*values.rbegin());
    case 5:
      return col + " < " + std::to_string(*values.begin());
    case 6:
      return col + " <= " + std::to_string(*values.begin());
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::createIntSqlCond, the params of between error! ");
        return col + " >= " + std::to_string(*values.begin());
      }
      return col + " >= " + std::to_string(*values.begin()) + " and " + col + " <= " +
             std::to_string(*values.rbegin());
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::createIntSqlCond, op:%d error!", static_cast<int>(m_cOperator));
      return std::string();
  }
}

void BasicExp::CreateStrSqlEqualCond(const std::string& col, const std::set<std::string>& values,
                                     std::string& out) const {
  out = buildList<std::string>(values, true, SQL_CHUNK_TERMS,
                               [&col](const std::string& x, bool first, std::string& p, bool& w) {
                                 if (first) {
                                   p = x.empty() ? col + " is null " : col + " = '" + literal(x) + "'";
                                 } else {
                                   p += x.empty() ? " or (" + col + " is null) " : " or (" + col + " = '" + literal(x) + "')";
                                   w = true;
                                 }
                               });
}

void BasicExp::CreateStrSqlNotEqualCond(const std::string& col, const std::set<std::string>& values,
                                        std::string& out) const {
  out = buildList<std::string>(values, false, SQL_CHUNK_TERMS,
                               [&col](const std::string& x, bool first, std::string& p, bool& w) {
                                 if (first) {
                                   p = x.empty() ? col + " is not null " : col + " <> '" + literal(x) + "'";
                                 } else {
                                   p += x.empty() ? " and (" + col + " is not null) "
                                                  : " and (" + col + " <> '" + literal(x) + "')";
                                   w = true;
                                 }
                               });
}

std::string BasicExp::createStrSqlCond(const std::string&, const std::string& col,
                                       const std::set<std::string>& values) const {
  if (values.empty()) return std::string();
  const std::string& first = *values.begin();
  const std::string& last = *values.rbegin();
  std::string r;
  switch (m_cOperator) {
    case 1:
    case 8:
      CreateStrSqlEqualCond(col, values, r);
      break;
    case 2:
      CreateStrSqlNotEqualCond(col, values, r);
      break;
    case 3:
      r = col + " > '" + literal(last) + "'";
      break;
    case 4:
      r = col + " >= '" + literal(last) + "'";
      break;
    case 5:
      r = col + " < '" + literal(first) + "'";
      break;
    case 6:
      r = col + " <= '" + literal(first) + "'";
      break;
    case 7:
    case 11:
    case 12:
    case 9:
      // One LIKE chain up to 240 values, balanced chunks beyond (LeafMatch.h).
      r = filterdetail::containsListSql(m_cOperator, col, values);
      break;
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::createStrSqlCond, the params of between error! ");
        r = col + " >= '" + literal(first) + "'";
      } else {
        r = col + " >= '" + literal(first) + "' and " + col + " <= '" + literal(last) + "'";
      }
      break;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::createStrSqlCond, op:%d error!", static_cast<int>(m_cOperator));
      return std::string();
  }
  // In memory an empty field value passes these conditions; in the table it
  // is a NULL column, which no comparison selects.
  if (emptyValueMatches(m_cOperator, values)) r = "(" + col + " is null) or (" + r + ")";
  return r;
}

}  // namespace Kyrofm
