// AlarmExp.h: the expression tree of an alarm filter.
//
// A filter is a tree of AlarmExp nodes. Inner nodes are the combinators
// AndAlarmExp, OrAlarmExp and NotAlarmExp; leaves are ConstantExp and the field
// expressions derived from BasicExp (one alarm field, one operator code, a set
// of values). The same tree answers two questions:
//  - evaluate(record): does this alarm record match?
//  - sqlWhereCond(table): the text of an SQL WHERE condition that selects the
//    matching rows of an alarm table (an empty text means "no restriction").
//
// Ownership: a combinator owns its children (std::unique_ptr); its constructors
// take ownership of the pointers passed in, and a null child is allowed and
// stands for "no condition" (see each combinator). Combinators cannot be copied
// or assigned: a tree is duplicated only through copy() or replace(), which
// return a new, independent tree that the caller owns (clone() and
// cloneReplaced() wrap the result in a std::unique_ptr). The caller owns the
// root and deletes it through the virtual destructor.
//
// Operator codes of a BasicExp (v is the record's field value, S the leaf's
// ascending value set; string comparisons are byte-wise, "contains" is a
// case-sensitive substring search and an empty v contains nothing):
//   code  integer field              string field
//    1    v in S                     v in S
//    2    v not in S                 v not in S
//    3    v >  max(S)                v >  max(S)
//    4    v >= max(S)                v >= max(S)
//    5    v <  min(S)                v <  min(S)
//    6    v <= min(S)                v <= min(S)
//    7    v in S                     v contains some element of S
//    8    v in S                     v in S
//    9    v not in S                 v contains no element of S
//   10    min(S) <= v <= max(S)      min(S) <= v <= max(S)
//   11    v in S                     v contains some element of S (SQL: suffix)
//   12    v in S                     v contains some element of S (SQL: prefix)
// An empty S accepts every value.
//
// Depth: evaluate, sqlWhereCond, getSqlWhereCondLimitCount, copy, replace and
// the destructors walk the And/Or/Not combinators with explicit stacks, so a
// tree of any depth (a criterion of 100 000 nested terms) is safe; only a leaf
// that holds a tree of its own adds a level of recursion.
//
// Evaluation: the first evaluate() of a combinator compiles the tree below it
// into a flat program (FlatFilter, one step per leaf, each naming the step
// that follows a true and a false answer) and keeps it; every call then runs
// that program in a loop. The program is built once per node even when
// several threads evaluate it first at the same time.
//
// Failures: copy() and replace() catch every exception, log it and return
// null. evaluate() and sqlWhereCond() let an exception of a leaf (in practice
// only std::bad_alloc) pass to the caller: caught inside the tree, a failure
// under a NotAlarmExp would turn into its opposite (select all).
//
// Thread safety: a tree is immutable after construction; evaluate,
// sqlWhereCond, copy and replace may be called from several threads at once on
// the same tree as long as the concrete leaves are immutable too. setLogType
// and the leaves' setters must not run concurrently with anything else.
#ifndef FM_FILTER_ALARMEXP_H
#define FM_FILTER_ALARMEXP_H

#include <atomic>
#include <list>
#include <memory>
#include <set>
#include <string>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

struct AlarmExpTreeOps;
struct FlatFilter;
class AlarmExp;

// A leaf's test in the form the flat program runs without a virtual call: the
// record field it reads and the compiled operator table it applies
// (IntValueMatch for the integer fields, StrValueMatch for the texts; see
// LeafMatch.h). NONE: the program calls the leaf's evaluate().
struct LeafFieldTest {
  enum Field : unsigned char { NONE, LEVEL, ALARM_TYPE, LINK_TYPE, NE_TYPE, LOG_ID, ALARM_ID, EXTEND_INFO, LINK_DN };
  Field field = NONE;
  const void* match = nullptr;  // owned by the leaf, at this address for its lifetime
};

// Holds the flat program of one combinator, built on first use (see
// AlarmExp.cpp); owned by the combinator, never copied.
class FlatFilterSlot {
 public:
  FlatFilterSlot() = default;
  ~FlatFilterSlot();
  FlatFilterSlot(const FlatFilterSlot&) = delete;
  FlatFilterSlot& operator=(const FlatFilterSlot&) = delete;

  // The program of the tree under `root`, compiled by the first caller (a
  // racing second compilation is discarded). Throws std::bad_alloc.
  const FlatFilter& get(const AlarmExp* root) const {
    if (const FlatFilter* p = m_pProgram.load(std::memory_order_acquire)) return *p;
    return build(root);
  }

 private:
  const FlatFilter& build(const AlarmExp* root) const;
  mutable std::atomic<const FlatFilter*> m_pProgram{nullptr};
};

// Abstract base of every node of a filter tree.
class AlarmExp {
 public:
  // What a node is to the tree walkers: a combinator they descend into, or a
  // leaf (ConstantExp, BasicExp and anything else) whose operations they call.
  enum class NodeKind : unsigned char { LEAF, AND, OR, NOT };

  // Priority of a node that does not set one: combinators and most leaves.
  static constexpr int DEFAULT_PRIORITY = 4;

  AlarmExp() = default;
  virtual ~AlarmExp() = default;

  // True when the record matches the filter. Never throws for bad operator
  // codes (they are logged and do not match).
  virtual bool evaluate(const AlmRecord_t& record) const = 0;

  // The SQL WHERE condition text that selects the matching rows of the alarm
  // table named by `table`; the empty text stands for "no restriction".
  virtual std::string sqlWhereCond(const std::string& table) const = 0;

  // A size estimate of the SQL text, built from the leaves' counts (And: the
  // larger, Or: the sum, Not: the child's, Constant: 0).
  virtual long getSqlWhereCondLimitCount() const = 0;

  // A new tree in which every leaf whose condition name equals `condName` is
  // replaced by a copy of `exp`; all other nodes are copied. Neither this tree
  // nor `exp` changes. The caller owns the result. Null when a copy could not
  // be made (out of memory) or when a leaf bears the name and `exp` is null;
  // the failure is logged.
  virtual AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const = 0;

  // A new, independent copy of this tree, owned by the caller; null (logged)
  // when it could not be made.
  virtual AlarmExp* copy() const = 0;

  // copy() and replace() with the result owned by a std::unique_ptr.
  std::unique_ptr<AlarmExp> clone() const { return std::unique_ptr<AlarmExp>(copy()); }
  std::unique_ptr<AlarmExp> cloneReplaced(const std::string& condName, const AlarmExp* exp) const {
    return std::unique_ptr<AlarmExp>(replace(condName, exp));
  }

  void setLogType(int logType) { m_iLogType = logType; }
  int getLogType() const { return m_iLogType; }

  // Among the two children of And/Or the child with the higher priority is
  // evaluated first (FDN leaves have low priorities and run last).
  int getPriority() const { return m_iPriority; }

  // True when the node is known to accept every alarm.
  bool isMatchAll() const { return m_bMatchAll; }

  NodeKind getNodeKind() const { return m_eKind; }

 protected:
  friend struct AlarmExpTreeOps;
  // The leaf's test as a field and a matcher (see LeafFieldTest), asked once
  // when a program is compiled. A leaf that returns one answers evaluate()
  // exactly as the matcher does on that field, and keeps the matcher object
  // at the returned address (setters may change what it holds). Default:
  // NONE.
  virtual LeafFieldTest fieldTest() const { return {}; }

  AlarmExp(const AlarmExp&) = default;
  AlarmExp& operator=(const AlarmExp&) = default;

  void setPriority(int priority) { m_iPriority = priority; }
  void setMatchAll(bool matchAll) { m_bMatchAll = matchAll; }
  void setNodeKind(NodeKind kind) { m_eKind = kind; }

  // Joins two condition texts with an operator text (" and ", " or "): the
  // other text when one is empty, else " ( ( A ) op ( B ) ) ".
  static std::string combineCondition(const std::string& a, const std::string& b, const std::string& op);

 private:
  bool m_bMatchAll = false;
  int m_iLogType = 0;
  int m_iPriority = DEFAULT_PRIORITY;
  NodeKind m_eKind = NodeKind::LEAF;
};

// Abstract field leaf: one field, one operator code, a set of values held by
// the concrete leaf. Provides the operator table in memory (evaluateInt,
// evaluateStr) and in SQL (createIntSqlCond, createStrSqlCond, ...), and
// implements replace by condition name.
class BasicExp : public AlarmExp {
 public:
  // Neutral SQL terms: a condition that selects everything / nothing.
  static const char* const SQL_TRUE_TERM;   // " 1 > 0 "
  static const char* const SQL_FALSE_TERM;  // " 0 > 1 "
  // Number of terms of a value list written in one chunk.
  static constexpr int SQL_CHUNK_TERMS = 240;

  BasicExp(const std::string& condName, char op) : m_strCondName(condName), m_cOperator(op) {}
  ~BasicExp() override = default;

  // A copy of `exp` when this leaf's condition name equals condName, else a
  // copy of this leaf.
  AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const override;

  // Parses the leaf's values from one content string; false on bad content.
  virtual bool setStringContent(const std::string& content) = 0;
  // Takes the leaf's values from a list; selectAll is stored as the
  // select-all flag. False on bad values.
  virtual bool setFilter(const std::list<std::string>& values, bool selectAll) = 0;

  const std::string& getCondName() const { return m_strCondName; }
  char getOperator() const { return m_cOperator; }
  bool isSelectAll() const { return m_bSelectAll; }

 protected:
  BasicExp(const BasicExp&) = default;
  BasicExp& operator=(const BasicExp&) = default;

  void setSelectAll(bool selectAll) { m_bSelectAll = selectAll; }

  // The operator table for an integer / string field value v and the leaf's
  // ascending value set. An empty set accepts every value. A between (code 10)
  // with one value is logged and tests v >= that value; any code outside 1-12
  // is logged and gives false.
  bool evaluateInt(long v, const std::set<long>& values) const;
  bool evaluateStr(const std::string& v, const std::set<std::string>& values) const;

  // SQL condition on column `col` (no table prefix; `table` is not used) for
  // the leaf's operator and ascending value set; empty for an empty set and
  // for a code outside 1-12 (logged). Long value lists are written in chunks
  // of SQL_CHUNK_TERMS terms, each closed by a neutral term.
  std::string createIntSqlCond(const std::string& table, const std::string& col, const std::set<long>& values) const;
  std::string createStrSqlCond(const std::string& table, const std::string& col,
                               const std::set<std::string>& values) const;
  // Equality / inequality list on a string column; an empty value stands for
  // NULL. The condition is written to `out` (empty for an empty set).
  void CreateStrSqlEqualCond(const std::string& col, const std::set<std::string>& values, std::string& out) const;
  void CreateStrSqlNotEqualCond(const std::string& col, const std::set<std::string>& values, std::string& out) const;

 private:
  std::string m_strCondName;
  char m_cOperator;
  bool m_bSelectAll = true;
};

// Conjunction of two children. The child with the higher priority becomes the
// first and is evaluated first; ties keep the given order. A null child is no
// condition: the node then stands for the other child.
class AndAlarmExp : public AlarmExp {
 public:
  AndAlarmExp(AlarmExp* a, AlarmExp* b);
  AndAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b);
  ~AndAlarmExp() override;
  AndAlarmExp(const AndAlarmExp&) = delete;
  AndAlarmExp& operator=(const AndAlarmExp&) = delete;

  // first && second, second not evaluated when first is false.
  bool evaluate(const AlmRecord_t& record) const override;
  // combineCondition(first, second, " and "); second's text is produced first.
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const override;
  AlarmExp* copy() const override;

  const AlarmExp* getFirst() const { return m_pFirst.get(); }
  const AlarmExp* getSecond() const { return m_pSecond.get(); }

 private:
  friend struct AlarmExpTreeOps;
  std::unique_ptr<AlarmExp> m_pFirst;
  std::unique_ptr<AlarmExp> m_pSecond;
  FlatFilterSlot m_program;
};

// Disjunction of two children, ordered as in AndAlarmExp. A null child is no
// condition, that is, it accepts every alarm, and so does the node.
class OrAlarmExp : public AlarmExp {
 public:
  OrAlarmExp(AlarmExp* a, AlarmExp* b);
  OrAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b);
  ~OrAlarmExp() override;
  OrAlarmExp(const OrAlarmExp&) = delete;
  OrAlarmExp& operator=(const OrAlarmExp&) = delete;

  // first || second, second not evaluated when first is true.
  bool evaluate(const AlmRecord_t& record) const override;
  // combineCondition(first, second, " or "), except that a child without
  // restriction (empty text) makes the whole node unrestricted (empty text).
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const override;
  AlarmExp* copy() const override;

  const AlarmExp* getFirst() const { return m_pFirst.get(); }
  const AlarmExp* getSecond() const { return m_pSecond.get(); }

 private:
  friend struct AlarmExpTreeOps;
  std::unique_ptr<AlarmExp> m_pFirst;
  std::unique_ptr<AlarmExp> m_pSecond;
  FlatFilterSlot m_program;
};

// Negation of one child. A null child (no condition) is negated to "nothing".
class NotAlarmExp : public AlarmExp {
 public:
  explicit NotAlarmExp(AlarmExp* child);
  explicit NotAlarmExp(std::unique_ptr<AlarmExp> child);
  ~NotAlarmExp() override;
  NotAlarmExp(const NotAlarmExp&) = delete;
  NotAlarmExp& operator=(const NotAlarmExp&) = delete;

  bool evaluate(const AlmRecord_t& record) const override;
  // " not (case when (" + child's text + ") then 1 else 0 end = 1) ": the
  // child's value on NULL columns (unknown) counts as false before it is
  // negated, as the empty field value does in memory. " (0 > 1) " when the
  // child's text is empty (the child selects everything).
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override;
  AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const override;
  AlarmExp* copy() const override;

  const AlarmExp* getChild() const { return m_pChild.get(); }

 private:
  friend struct AlarmExpTreeOps;
  std::unique_ptr<AlarmExp> m_pChild;
  FlatFilterSlot m_program;
};

// A fixed truth value; the record is ignored.
class ConstantExp : public AlarmExp {
 public:
  explicit ConstantExp(bool value) : m_bValue(value) {}
  ConstantExp(const ConstantExp&) = default;
  ConstantExp& operator=(const ConstantExp&) = default;
  ~ConstantExp() override = default;

  bool evaluate(const AlmRecord_t& record) const override;
  // " (1 > 0) " when true, " (0 > 1) " when false.
  std::string sqlWhereCond(const std::string& table) const override;
  long getSqlWhereCondLimitCount() const override { return 0; }
  // A copy, whatever the name.
  AlarmExp* replace(const std::string& condName, const AlarmExp* exp) const override;
  AlarmExp* copy() const override;

  bool getValue() const { return m_bValue; }

 private:
  bool m_bValue;
};

// Evaluates `root` for `record` exactly as root.evaluate(record) does (same
// order, same short cuts) and returns the last leaf evaluated: the leaf whose
// answer, negated by the NotAlarmExp nodes above it, is the root's answer.
// Null when no leaf was evaluated (combinators without children). `result`
// receives the root's answer.
const AlarmExp* findDecidingLeaf(const AlarmExp& root, const AlmRecord_t& record, bool& result);

}  // namespace Kyrofm

#endif
