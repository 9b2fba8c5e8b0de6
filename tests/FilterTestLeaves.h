// FilterTestLeaves.h: small concrete field leaves for the filter tree suites.
//
// TestIntLeaf tests the record's level, TestStrLeaf its MO FDN; both count their
// evaluations (the counter is shared with their copies) and append their
// condition name to an optional call log, so that tests can see the order in
// which And/Or visit their children. They expose the protected builders of
// BasicExp so that the SQL texts can be pinned directly.
#ifndef FM_TESTS_FILTERTESTLEAVES_H
#define FM_TESTS_FILTERTESTLEAVES_H

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fm_common/filter/AlarmExp.h"
#include "fm_common/fmcommon/FMTools.h"

namespace fmtest {

struct LeafProbe {
  int evaluations = 0;
  std::vector<std::string> order;  // condition names in evaluation order
  std::vector<std::string> sqlOrder;  // condition names in sqlWhereCond order
};

class TestIntLeaf : public Kyrofm::BasicExp {
 public:
  TestIntLeaf(const std::string& name, char op, std::set<long> values, int priority = DEFAULT_PRIORITY,
              std::shared_ptr<LeafProbe> probe = nullptr, std::string column = "AlmLevel")
      : BasicExp(name, op), m_values(std::move(values)), m_probe(std::move(probe)), m_column(std::move(column)) {
    setPriority(priority);
  }

  bool evaluate(const Kyrofm::AlmRecord_t& r) const override {
    if (m_probe) {
      ++m_probe->evaluations;
      m_probe->order.push_back(getCondName());
    }
    return evaluateInt(r.getLevel(), m_values);
  }
  std::string sqlWhereCond(const std::string& table) const override {
    if (m_probe) m_probe->sqlOrder.push_back(getCondName());
    return createIntSqlCond(table, m_column, m_values);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  Kyrofm::AlarmExp* copy() const override { return new TestIntLeaf(*this); }
  bool setStringContent(const std::string& content) override {
    Kyrofm::String2LongSet(content, ",", m_values);
    return true;
  }
  bool setFilter(const std::list<std::string>& values, bool selectAll) override {
    m_values.clear();
    for (const auto& v : values) m_values.insert(std::stol(v));
    setSelectAll(selectAll);
    return true;
  }

  // Expose the protected operations.
  bool evalInt(long v) const { return evaluateInt(v, m_values); }
  std::string intSql(const std::string& col) const { return createIntSqlCond("tbl_cur_alm", col, m_values); }
  void markMatchAll() { setMatchAll(true); }
  using AlarmExp::combineCondition;

 private:
  std::set<long> m_values;
  std::shared_ptr<LeafProbe> m_probe;
  std::string m_column;
};

class TestStrLeaf : public Kyrofm::BasicExp {
 public:
  TestStrLeaf(const std::string& name, char op, std::set<std::string> values, int priority = DEFAULT_PRIORITY,
              std::shared_ptr<LeafProbe> probe = nullptr, std::string column = "MoDn")
      : BasicExp(name, op), m_values(std::move(values)), m_probe(std::move(probe)), m_column(std::move(column)) {
    setPriority(priority);
  }

  bool evaluate(const Kyrofm::AlmRecord_t& r) const override {
    if (m_probe) {
      ++m_probe->evaluations;
      m_probe->order.push_back(getCondName());
    }
    return evaluateStr(r.getMoDn(), m_values);
  }
  std::string sqlWhereCond(const std::string& table) const override {
    if (m_probe) m_probe->sqlOrder.push_back(getCondName());
    return createStrSqlCond(table, m_column, m_values);
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  Kyrofm::AlarmExp* copy() const override { return new TestStrLeaf(*this); }
  bool setStringContent(const std::string& content) override {
    m_values.clear();
    m_values.insert(content);
    return true;
  }
  bool setFilter(const std::list<std::string>& values, bool selectAll) override {
    m_values = std::set<std::string>(values.begin(), values.end());
    setSelectAll(selectAll);
    return true;
  }

  bool evalStr(const std::string& v) const { return evaluateStr(v, m_values); }
  std::string strSql(const std::string& col) const { return createStrSqlCond("tbl_cur_alm", col, m_values); }
  std::string eqSql(const std::string& col) const {
    std::string out = "stale";
    CreateStrSqlEqualCond(col, m_values, out);
    return out;
  }
  std::string neSql(const std::string& col) const {
    std::string out = "stale";
    CreateStrSqlNotEqualCond(col, m_values, out);
    return out;
  }

 private:
  std::set<std::string> m_values;
  std::shared_ptr<LeafProbe> m_probe;
  std::string m_column;
};

// A leaf that gives a fixed answer and a fixed SQL text.
class FixedLeaf : public Kyrofm::BasicExp {
 public:
  FixedLeaf(const std::string& name, bool value, std::string sql, int priority = DEFAULT_PRIORITY,
            bool copyFails = false)
      : BasicExp(name, 1), m_bValue(value), m_strSql(std::move(sql)), m_bCopyFails(copyFails) {
    setPriority(priority);
  }
  bool evaluate(const Kyrofm::AlmRecord_t&) const override { return m_bValue; }
  std::string sqlWhereCond(const std::string&) const override { return m_strSql; }
  long getSqlWhereCondLimitCount() const override { return 1; }
  Kyrofm::AlarmExp* copy() const override { return m_bCopyFails ? nullptr : new FixedLeaf(*this); }
  bool setStringContent(const std::string&) override { return true; }
  bool setFilter(const std::list<std::string>&, bool) override { return true; }

 private:
  bool m_bValue;
  std::string m_strSql;
  bool m_bCopyFails;
};

inline Kyrofm::AlmRecord_t recordWithLevel(long level, const std::string& moDn = "") {
  Kyrofm::AlmRecord_t r;
  r.setSeverity(static_cast<char>(level));
  r.setMoDn(moDn);
  return r;
}

}  // namespace fmtest

#endif
