// Tests of the SQL form of filter trees: the texts of the leaf builders that no
// row selection tells apart, and the exact texts of the combinators. The texts
// are executed against real databases by the differential suites.
#include <gtest/gtest.h>

#include "FilterTestLeaves.h"
#include "fm_common/filter/AlarmExp.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::LeafProbe;
using fmtest::TestIntLeaf;
using fmtest::TestStrLeaf;

// Empty sets write no condition; misused codes log (and between with one value
// keeps its lower bound).
TEST(SqlCondIntTest, EmptySetsBadCodesAndOneValueBetween) {
  fmtest::TraceCapture cap;
  for (int op : {1, 2, 3, 7, 9, 10, 12}) {
    EXPECT_EQ(TestIntLeaf("c", static_cast<char>(op), {}).sql("L") + TestStrLeaf("c", static_cast<char>(op), {}).sql("C"),
              "") << op;
  }
  EXPECT_TRUE(cap.sink().messages().empty());
  EXPECT_EQ(TestIntLeaf("c", 10, {4}).sql("L") + "|" + TestStrLeaf("c", 10, {"m"}).sql("C"), "L >= 4|C >= 'm'");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, the params of between error! ", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, the params of between error! ", TRACE_ERROR));
  EXPECT_EQ(TestIntLeaf("c", 13, {1}).sql("L") + TestIntLeaf("c", 0, {1}).sql("L") + TestStrLeaf("c", 14, {"m"}).sql("C"),
            "");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:13 error!", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:0 error!", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, op:14 error!", TRACE_ERROR));
}

// What And, Or and Not select is held to evaluate by the differential suites;
// here their texts around children without a condition.
TEST(SqlCondCombinatorTest, TextsAroundChildrenWithoutCondition) {
  // And of an empty text: the other child's text. Or with a child without
  // restriction selects every row, as evaluate accepts every record; Not of it nothing.
  const TestIntLeaf b("b", 1, {2});
  EXPECT_EQ(AndAlarmExp(new TestIntLeaf("all", 1, {}), b.copy()).sqlWhereCond("t"), b.sqlWhereCond("t"));
  EXPECT_EQ(AndAlarmExp(b.copy(), nullptr).sqlWhereCond("t"), b.sqlWhereCond("t"));
  OrAlarmExp o(new TestIntLeaf("all", 1, {}), b.copy());
  EXPECT_TRUE(o.evaluate(AlmRecord_t()));
  EXPECT_EQ(o.sqlWhereCond("t"), "");
  NotAlarmExp n(new TestIntLeaf("all", 1, {}));
  EXPECT_FALSE(n.evaluate(AlmRecord_t()));
  EXPECT_EQ(n.sqlWhereCond("t"), " (0 > 1) ");
}

TEST(SqlCondCombinatorTest, SecondChildTextIsProducedFirstAndTableIsPassedOn) {
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("first", 1, {1}, 5, probe),
                new OrAlarmExp(new TestIntLeaf("x", 1, {2}, 4, probe), new TestIntLeaf("y", 1, {3}, 4, probe)));
  const std::string sql = a.sqlWhereCond("tbl_alm_log");
  EXPECT_EQ(probe->sqlOrder, std::vector<std::string>({"y", "x", "first"}));
  EXPECT_NE(sql.find("AlmLevel = 3"), std::string::npos);
}

}  // namespace
}  // namespace Kyrofm
