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
#include <utility>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

const char* const BasicExp::SQL_TRUE_TERM = " 1 > 0 ";
const char* const BasicExp::SQL_FALSE_TERM = " 0 > 1 ";

namespace {

using Kyrofmdb::CFMDBTools;

std::string literal(const std::string& v) { return CFMDBTools::getFiltSql(v, CFMDBTools::FILT_LITERAL); }
std::string likeText(const std::string& v) { return CFMDBTools::getFiltSql(v, CFMDBTools::FILT_LIKE); }

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
//
// The text of a tree is written without recursion, in two passes over the
// combinators. The first pass visits the nodes in post-order, second child
// before first (the order in which the leaves' texts have always been
// produced: a leaf may create a temporary table when asked), keeps each
// leaf's text and decides per combinator whether its text is empty and how it
// is decorated. Reversed, that list is the pre-order in which the text reads
// (node, first, second); the second pass walks it once, appending each leaf's
// text and each combinator's opening, middle and closing pieces at their
// positions. The result is the same text as
//   And: combineCondition(first, second, " and ")
//   Or:  empty when a child is empty, else combineCondition(..., " or ")
//   Not: " (0 > 1) " for an empty child, else " not (case when (" + child +
//        ") then 1 else 0 end = 1) "
// with every piece copied once, so that a deep tree costs linear time.

namespace {

struct SqlEntry {
  const AlarmExp* node = nullptr;
  size_t size = 1;  // entries of the subtree, this one included
  bool empty = true;
  bool decorate = false;  // And/Or: both children non-empty; Not: child non-empty
  bool hasFirst = false;  // And/Or: first child present; Not: child present
  std::string text;       // leaves only
};

std::string treeSqlWhereCond(const AlarmExp* root, const std::string& table) {
  using Kind = AlarmExp::NodeKind;
  auto firstOf = [](const AlarmExp* e) -> const AlarmExp* {
    return e->getNodeKind() == Kind::AND ? static_cast<const AndAlarmExp*>(e)->getFirst()
                                         : static_cast<const OrAlarmExp*>(e)->getFirst();
  };
  auto secondOf = [](const AlarmExp* e) -> const AlarmExp* {
    return e->getNodeKind() == Kind::AND ? static_cast<const AndAlarmExp*>(e)->getSecond()
                                         : static_cast<const OrAlarmExp*>(e)->getSecond();
  };

  // Pass 1: post-order (second, first, node).
  std::vector<SqlEntry> post;
  std::vector<size_t> done;  // indexes in `post` of completed subtrees
  std::vector<std::pair<const AlarmExp*, bool>> frames;
  frames.emplace_back(root, false);
  size_t textBytes = 0;
  while (!frames.empty()) {
    auto [node, expanded] = frames.back();
    frames.pop_back();
    const Kind kind = node->getNodeKind();
    SqlEntry entry;
    entry.node = node;
    if (kind == Kind::LEAF) {
      entry.text = node->sqlWhereCond(table);
      entry.empty = entry.text.empty();
      textBytes += entry.text.size();
      done.push_back(post.size());
      post.push_back(std::move(entry));
      continue;
    }
    if (!expanded) {
      frames.emplace_back(node, true);
      if (kind == Kind::NOT) {
        const AlarmExp* c = static_cast<const NotAlarmExp*>(node)->getChild();
        if (c) frames.emplace_back(c, false);
      } else {
        if (firstOf(node)) frames.emplace_back(firstOf(node), false);
        if (secondOf(node)) frames.emplace_back(secondOf(node), false);
      }
      continue;
    }
    if (kind == Kind::NOT) {
      const bool has = static_cast<const NotAlarmExp*>(node)->getChild() != nullptr;
      bool childEmpty = true;
      if (has) {
        entry.size += post[done.back()].size;
        childEmpty = post[done.back()].empty;
        done.pop_back();
      }
      entry.hasFirst = has;
      entry.decorate = !childEmpty;
      entry.empty = false;
    } else {
      // The first child completed last.
      bool aEmpty = true;
      bool bEmpty = true;
      if (firstOf(node)) {
        entry.size += post[done.back()].size;
        aEmpty = post[done.back()].empty;
        done.pop_back();
        entry.hasFirst = true;
      }
      if (secondOf(node)) {
        entry.size += post[done.back()].size;
        bEmpty = post[done.back()].empty;
        done.pop_back();
      }
      entry.decorate = !aEmpty && !bEmpty;
      // An Or with an unrestricted child is unrestricted itself.
      entry.empty = kind == Kind::AND ? (aEmpty && bEmpty) : !entry.decorate;
    }
    textBytes += 48;
    done.push_back(post.size());
    post.push_back(std::move(entry));
  }

  // Pass 2: pre-order = `post` read backwards. Position p counts entries of
  // the pre-order; `pending` holds the pieces due when p reaches a position.
  std::string out;
  out.reserve(textBytes);
  std::vector<std::pair<size_t, const char*>> pending;
  const size_t n = post.size();
  size_t p = 0;
  while (p < n) {
    while (!pending.empty() && pending.back().first == p) {
      out += pending.back().second;
      pending.pop_back();
    }
    SqlEntry& e = post[n - 1 - p];
    const Kind kind = e.node->getNodeKind();
    if (kind == Kind::LEAF) {
      out += e.text;
      ++p;
      continue;
    }
    if (e.empty) {  // nothing of this subtree is written
      p += e.size;
      continue;
    }
    if (kind == Kind::NOT) {
      if (!e.decorate) {
        out += " (0 > 1) ";
        p += e.size;
        continue;
      }
      out += " not (case when (";
      pending.emplace_back(p + e.size, ") then 1 else 0 end = 1) ");
      ++p;
      continue;
    }
    if (e.decorate) {
      const size_t firstEnd = p + 1 + post[n - 1 - (p + 1)].size;
      out += " ( ( ";
      pending.emplace_back(p + e.size, " ) ) ");
      pending.emplace_back(firstEnd, kind == Kind::AND ? " )  and  ( " : " )  or  ( ");
    }
    // Undecorated And: one child is empty, the other's text stands alone.
    ++p;
  }
  while (!pending.empty()) {
    out += pending.back().second;
    pending.pop_back();
  }
  return out;
}

}  // namespace

std::string AndAlarmExp::sqlWhereCond(const std::string& table) const { return treeSqlWhereCond(this, table); }

std::string OrAlarmExp::sqlWhereCond(const std::string& table) const { return treeSqlWhereCond(this, table); }

std::string NotAlarmExp::sqlWhereCond(const std::string& table) const { return treeSqlWhereCond(this, table); }

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
  const std::string& esc = KyroCommonUtils::getEscapeString();
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
      for (const auto& x : values) {
        std::string t;
        if (m_cOperator == 7) {
          t = " like '%" + likeText(x) + "%' ";
        } else if (m_cOperator == 11) {
          t = " like '%" + likeText(x) + "' ";
        } else {
          t = " like '" + likeText(x) + "%' ";
        }
        if (r.empty()) {
          r = col + t + esc;
        } else {
          r += " or (" + col + t + esc + " )";
        }
      }
      break;
    case 9: {
      r = "(" + col + " is null) or " + "not (";
      bool firstTerm = true;
      for (const auto& x : values) {
        std::string t = col + " like '%" + likeText(x) + "%' " + esc;
        if (firstTerm) {
          r += t;
          firstTerm = false;
        } else {
          r += " or (" + t + " )";
        }
      }
      r += ")";
      break;
    }
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
