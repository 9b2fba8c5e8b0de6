// Tests of the SQL form of filter trees: the exact texts of the leaf builders
// (chunks of 240 terms, NULL for empty strings, escaping) and of the
// combinators. The texts are executed against real databases by the
// differential suites; here they are pinned byte for byte.
#include <gtest/gtest.h>

#include <climits>

#include "FilterTestLeaves.h"
#include "fm_common/filter/AlarmExp.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::FixedLeaf;
using fmtest::LeafProbe;
using fmtest::TestIntLeaf;
using fmtest::TestStrLeaf;

std::set<long> range(long from, long to) {
  std::set<long> s;
  for (long i = from; i <= to; ++i) s.insert(i);
  return s;
}

// The first chunk of an equality (or inequality) list of from..to, unwrapped.
std::string eqPiece(const std::string& col, long from, long to, const char* eq = " = ", const char* join = " or (") {
  std::string p = col + eq + std::to_string(from);
  for (long i = from + 1; i <= to; ++i) p += join + col + eq + std::to_string(i) + ") ";
  return p;
}

TEST(SqlCondIntTest, TextsPerCode) {
  fmtest::TraceCapture cap;
  const std::set<long> s = {-2, 5, 9};
  const struct { int op; std::set<long> values; std::string sql; } cases[] = {
      {1, {3, 1, 2}, " (L = 1 or (L = 2)  or (L = 3) )  and  1 > 0 "}, {1, {5}, "L = 5 and  1 > 0 "},
      {7, {5}, "L = 5 and  1 > 0 "}, {8, {5}, "L = 5 and  1 > 0 "}, {11, {5}, "L = 5 and  1 > 0 "},
      {12, {5}, "L = 5 and  1 > 0 "}, {2, {7}, "L <> 7 or  0 > 1 "},
      {1, {LONG_MIN, -1, LONG_MAX}, " (L = -9223372036854775808 or (L = -1)  or (L = 9223372036854775807) )  and  1 > 0 "},
      {3, {4294967296L}, "L > 4294967296"}, {3, s, "L > 9"}, {4, s, "L >= 9"}, {5, s, "L < -2"}, {6, s, "L <= -2"},
      {10, s, "L >= -2 and L <= 9"}, {1, {}, ""}, {2, {}, ""}, {3, {}, ""}, {10, {}, ""}};
  for (const auto& c : cases) EXPECT_EQ(TestIntLeaf("c", static_cast<char>(c.op), c.values).intSql("L"), c.sql) << c.op;
  EXPECT_TRUE(cap.sink().messages().empty());
  EXPECT_EQ(TestIntLeaf("c", 10, {4}).intSql("L"), "L >= 4");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, the params of between error! ", TRACE_ERROR));
  EXPECT_EQ(TestIntLeaf("c", 13, {1}).intSql("L") + TestIntLeaf("c", 0, {1}).intSql("L"), "");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:13 error!", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:0 error!", TRACE_ERROR));
}

TEST(SqlCondIntTest, ChunksOf240Terms) {
  // 240 values: one chunk, wrapped. 241: the first chunk unwrapped, the second
  // wrapped because the wrapped-flag of the first chunk stays set.
  EXPECT_EQ(TestIntLeaf("c", 1, range(1, 240)).intSql("C"), " (" + eqPiece("C", 1, 240) + ")  and  1 > 0 ");
  EXPECT_EQ(TestIntLeaf("c", 1, range(1, 481)).intSql("C"),
            eqPiece("C", 1, 240) + " and  1 > 0 " + " or (" + eqPiece("C", 241, 480) + " and  1 > 0 ) " +
                " or ( (C = 481)  and  1 > 0 ) ");
  // Each inequality chunk ends in "or 0 > 1": the chunks written so far are put
  // in parentheses before the next one is joined with "and", or "and" would
  // bind to the false term alone and value 241 would not be excluded.
  const std::string p1 = eqPiece("C", 1, 240, " <> ", " and (");
  EXPECT_EQ(TestIntLeaf("c", 9, range(1, 240)).intSql("C"), " (" + p1 + ")  or  0 > 1 ");
  EXPECT_EQ(TestIntLeaf("c", 2, range(1, 481)).intSql("C"),
            " ( (" + p1 + " or  0 > 1 ) and (" + eqPiece("C", 241, 480, " <> ", " and (") +
                " or  0 > 1 ) ) and ( (C <> 481)  or  0 > 1 ) ");
}

TEST(SqlCondStrTest, TextsPerCodeNullsAndEscaping) {
  const std::string esc = " escape '\\'";
  const std::set<std::string> s = {"b", "dd"};
  const struct { int op; std::set<std::string> values; std::string sql; } cases[] = {
      {1, {"x", ""}, " (C is null  or (C = 'x'))  and  1 > 0 "}, {8, {"a"}, "C = 'a' and  1 > 0 "},
      // The empty value excluded: NULL rows too; only non-empty ones: NULL rows pass, as "" does in memory.
      {2, {"", "x"}, " (C is not null  and (C <> 'x'))  or  0 > 1 "}, {2, {"x"}, "(C is null) or (C <> 'x' or  0 > 1 )"},
      {3, s, "C > 'dd'"}, {4, s, "C >= 'dd'"}, {5, s, "(C is null) or (C < 'b')"}, {6, s, "(C is null) or (C <= 'b')"},
      {10, s, "C >= 'b' and C <= 'dd'"}, {10, {"", "dd"}, "(C is null) or (C >= '' and C <= 'dd')"},
      {4, {""}, "(C is null) or (C >= '')"}, {5, {""}, "C < ''"}, {7, {}, ""},
      {7, {"ab"}, "C like '%ab%' " + esc}, {11, {"ab"}, "C like '%ab' " + esc}, {12, {"ab"}, "C like 'ab%' " + esc},
      {7, {"a", "b"}, "C like '%a%' " + esc + " or (C like '%b%' " + esc + " )"},
      {9, {"a", "b"}, "(C is null) or not (C like '%a%' " + esc + " or (C like '%b%' " + esc + " ))"},
      // Literals: quotes doubled, % _ and backslash plain; LIKE patterns: those escaped with a backslash.
      {1, {"O'Neil"}, "C = 'O''Neil' and  1 > 0 "}, {3, {"50%_\\"}, "C > '50%_\\'"},
      {7, {"5%_a\\b'"}, "C like '%5\\%\\_a\\\\b''%' " + esc}, {12, {"%"}, "C like '\\%%' " + esc},
      {9, {"_"}, "(C is null) or not (C like '%\\_%' " + esc + ")"}};
  for (const auto& c : cases) {
    TestStrLeaf leaf("c", static_cast<char>(c.op), c.values);
    EXPECT_EQ(leaf.strSql("C"), c.sql) << c.op;
    // A text selects NULL rows exactly when evaluate accepts the empty field.
    if (c.op != 7 || !c.values.empty()) {
      EXPECT_EQ(c.sql.find("C is null") != std::string::npos, leaf.evalStr("")) << c.sql;
    }
  }
  EXPECT_EQ(TestStrLeaf("c", 1, {""}).eqSql("C") + "|" + TestStrLeaf("c", 1, {}).eqSql("C"), "C is null  and  1 > 0 |");
  EXPECT_EQ(TestStrLeaf("c", 2, {"''"}).neSql("C"), "C <> '''''' or  0 > 1 ");
  std::set<std::string> many;
  for (int i = 0; i < 241; ++i) many.insert("v" + std::to_string(1000 + i));
  const std::string sql = TestStrLeaf("c", 1, many).strSql("C");  // the 241st value alone in a wrapped chunk
  EXPECT_NE(sql.find(" and  1 > 0  or ( (C = 'v1240')  and  1 > 0 ) "), std::string::npos) << sql;
  EXPECT_EQ(sql.find("C = 'v1000' or (C = 'v1001')"), 0u);
  fmtest::TraceCapture cap;
  EXPECT_EQ(TestStrLeaf("c", 10, {"m"}).strSql("C") + "|" + TestStrLeaf("c", 14, {"m"}).strSql("C"), "C >= 'm'|");
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, the params of between error! ", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, op:14 error!", TRACE_ERROR));
}

TEST(SqlCondCombinatorTest, TextsOfAndOrNotAndConstants) {
  const auto a = [] { return new FixedLeaf("a", true, "A"); };
  EXPECT_EQ(AndAlarmExp(a(), new FixedLeaf("b", true, "B")).sqlWhereCond("t"), " ( ( A )  and  ( B ) ) ");
  EXPECT_EQ(OrAlarmExp(a(), new FixedLeaf("b", true, "B")).sqlWhereCond("t"), " ( ( A )  or  ( B ) ) ");
  EXPECT_EQ(NotAlarmExp(a()).sqlWhereCond("t"), " not (case when (A) then 1 else 0 end = 1) ");
  EXPECT_EQ(ConstantExp(true).sqlWhereCond("t") + ConstantExp(false).sqlWhereCond("t"), " (1 > 0)  (0 > 1) ");
  EXPECT_EQ(TestIntLeaf::combineCondition("", "", " and ") + TestIntLeaf::combineCondition("X", "", " or "), "X");
  // And of an empty text: the other child's text. Or with a child without
  // restriction selects every row, as evaluate accepts every record; Not of it nothing.
  EXPECT_EQ(AndAlarmExp(new FixedLeaf("a", true, ""), new FixedLeaf("b", true, "B")).sqlWhereCond("t"), "B");
  EXPECT_EQ(AndAlarmExp(a(), nullptr).sqlWhereCond("t"), "A");
  OrAlarmExp o(new TestIntLeaf("all", 1, {}), new FixedLeaf("b", false, "B"));
  EXPECT_TRUE(o.evaluate(AlmRecord_t()));
  EXPECT_EQ(o.sqlWhereCond("t"), "");
  NotAlarmExp n(new TestIntLeaf("all", 1, {}));
  EXPECT_FALSE(n.evaluate(AlmRecord_t()));
  EXPECT_EQ(n.sqlWhereCond("t"), " (0 > 1) ");
  // "" contains nothing, so Not(contains "Lab") accepts the empty FDN, which is
  // NULL in the table: the case expression turns unknown into false first.
  NotAlarmExp lab(new TestStrLeaf("lab", 7, {"Lab"}));
  EXPECT_TRUE(lab.evaluate(fmtest::recordWithLevel(1, "")));
  EXPECT_EQ(lab.sqlWhereCond("tbl_cur_alm"), " not (case when (MoDn like '%Lab%'  escape '\\') then 1 else 0 end = 1) ");
}

TEST(SqlCondCombinatorTest, SecondChildTextIsProducedFirstAndTableIsPassedOn) {
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("first", 1, {1}, 5, probe),
                new OrAlarmExp(new TestIntLeaf("x", 1, {2}, 4, probe), new TestIntLeaf("y", 1, {3}, 4, probe)));
  const std::string sql = a.sqlWhereCond("tbl_alm_log");
  EXPECT_EQ(probe->sqlOrder, std::vector<std::string>({"y", "x", "first"}));
  EXPECT_EQ(sql, " ( ( AlmLevel = 1 and  1 > 0  )  and  (  ( ( AlmLevel = 2 and  1 > 0  )  or  "
                 "( AlmLevel = 3 and  1 > 0  ) )  ) ) ");
}

}  // namespace
}  // namespace Kyrofm
