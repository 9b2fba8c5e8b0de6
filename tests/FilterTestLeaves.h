// FilterTestLeaves.h: small concrete field leaves for the filter tree suites.
//
// TestLeaf<long> (TestIntLeaf) tests the record's level, TestLeaf<std::string>
// (TestStrLeaf) its MO FDN; both count their evaluations and append their
// condition name to an optional call log, so that tests can see the order in
// which And/Or visit their children. They expose the protected builders of
// BasicExp so that the answers and SQL texts can be pinned directly.
#ifndef FM_TESTS_FILTERTESTLEAVES_H
#define FM_TESTS_FILTERTESTLEAVES_H

#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "fm_common/filter/AlarmExp.h"

namespace fmtest {

struct LeafProbe {
  std::vector<std::string> order;     // condition names in evaluation order
  std::vector<std::string> sqlOrder;  // condition names in sqlWhereCond order
};

template <typename T>
class TestLeaf : public Kyrofm::BasicExp {
 public:
  static constexpr bool kInt = std::is_same<T, long>::value;
  TestLeaf(const std::string& name, char op, std::set<T> values, int priority = DEFAULT_PRIORITY,
           std::shared_ptr<LeafProbe> probe = nullptr)
      : BasicExp(name, op), m_values(std::move(values)), m_probe(std::move(probe)) {
    setPriority(priority);
  }

  bool evaluate(const Kyrofm::AlmRecord_t& r) const override {
    if (m_probe) m_probe->order.push_back(getCondName());
    if constexpr (kInt) {
      return eval(r.getLevel());
    } else {
      return eval(std::string(r.getMoDn()));
    }
  }
  std::string sqlWhereCond(const std::string& table) const override {
    if (m_probe) m_probe->sqlOrder.push_back(getCondName());
    if constexpr (kInt) {
      return createIntSqlCond(table, "AlmLevel", m_values);
    } else {
      return createStrSqlCond(table, "MoDn", m_values);
    }
  }
  long getSqlWhereCondLimitCount() const override { return static_cast<long>(m_values.size()); }
  Kyrofm::AlarmExp* copy() const override { return new TestLeaf(*this); }
  bool setStringContent(const std::string&) override { return false; }
  bool setFilter(const std::list<std::string>&, bool) override { return false; }

  // The protected operations, exposed.
  bool eval(const T& v) const {
    if constexpr (kInt) {
      return evaluateInt(v, m_values);
    } else {
      return evaluateStr(v, m_values);
    }
  }
  std::string sql(const std::string& col) const {
    if constexpr (kInt) {
      return createIntSqlCond("tbl_cur_alm", col, m_values);
    } else {
      return createStrSqlCond("tbl_cur_alm", col, m_values);
    }
  }
  void markMatchAll() { setMatchAll(true); }
  using AlarmExp::combineCondition;

 private:
  std::set<T> m_values;
  std::shared_ptr<LeafProbe> m_probe;
};
using TestIntLeaf = TestLeaf<long>;
using TestStrLeaf = TestLeaf<std::string>;

inline Kyrofm::AlmRecord_t recordWithLevel(long level, const std::string& moDn = "") {
  Kyrofm::AlmRecord_t r;
  r.setSeverity(static_cast<char>(level));
  r.setMoDn(moDn);
  return r;
}

}  // namespace fmtest

#endif
