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

// The first chunk of an equality (or inequality) list of 1..n, unwrapped.
std::string eqPiece(const std::string& col, long from, long to, const char* eq = " = ", const char* join = " or (") {
  std::string p = col + eq + std::to_string(from);
  for (long i = from + 1; i <= to; ++i) p += join + col + eq + std::to_string(i) + ") ";
  return p;
}

TEST(SqlCondIntTest, DocumentedEqualityTexts) {
  EXPECT_EQ(TestIntLeaf("c", 1, {3, 1, 2}).intSql("AlmLevel"),
            " (AlmLevel = 1 or (AlmLevel = 2)  or (AlmLevel = 3) )  and  1 > 0 ");
  EXPECT_EQ(TestIntLeaf("c", 1, {5}).intSql("AlmLevel"), "AlmLevel = 5 and  1 > 0 ");
  // Codes 7, 8, 11 and 12 are equality lists on integers too.
  for (int op : {7, 8, 11, 12}) {
    EXPECT_EQ(TestIntLeaf("c", static_cast<char>(op), {5}).intSql("AlmLevel"), "AlmLevel = 5 and  1 > 0 ");
  }
}

TEST(SqlCondIntTest, ChunksOf240Terms) {
  // 240 values: one chunk, wrapped.
  EXPECT_EQ(TestIntLeaf("c", 1, range(1, 240)).intSql("C"), " (" + eqPiece("C", 1, 240) + ")  and  1 > 0 ");
  // 241 values: the first chunk unwrapped, the second wrapped because the
  // wrapped-flag of the first chunk stays set.
  EXPECT_EQ(TestIntLeaf("c", 1, range(1, 241)).intSql("C"),
            eqPiece("C", 1, 240) + " and  1 > 0 " + " or ( (C = 241)  and  1 > 0 ) ");
  // 481 values: three chunks.
  EXPECT_EQ(TestIntLeaf("c", 1, range(1, 481)).intSql("C"),
            eqPiece("C", 1, 240) + " and  1 > 0 " + " or (" + eqPiece("C", 241, 480) + " and  1 > 0 ) " +
                " or ( (C = 481)  and  1 > 0 ) ");
}

TEST(SqlCondIntTest, InequalityChunksKeepEveryExclusion) {
  const std::string p1 = eqPiece("C", 1, 240, " <> ", " and (");
  EXPECT_EQ(TestIntLeaf("c", 2, {7}).intSql("C"), "C <> 7 or  0 > 1 ");
  EXPECT_EQ(TestIntLeaf("c", 9, range(1, 240)).intSql("C"), " (" + p1 + ")  or  0 > 1 ");
  // Each chunk ends in "or 0 > 1": the chunks written so far are put in
  // parentheses before the next one is joined with "and", or "and" would bind
  // to the false term alone and value 241 would not be excluded.
  EXPECT_EQ(TestIntLeaf("c", 2, range(1, 241)).intSql("C"),
            " (" + p1 + " or  0 > 1 ) and ( (C <> 241)  or  0 > 1 ) ");
  EXPECT_EQ(TestIntLeaf("c", 2, range(1, 481)).intSql("C"),
            " ( (" + p1 + " or  0 > 1 ) and (" + eqPiece("C", 241, 480, " <> ", " and (") + " or  0 > 1 ) ) and ( (C <> 481)  or  0 > 1 ) ");
}

TEST(SqlCondIntTest, LargeAndNegativeLongsAreWrittenExactly) {
  EXPECT_EQ(TestIntLeaf("c", 1, {LONG_MIN, -1, LONG_MAX}).intSql("FDNId"),
            " (FDNId = -9223372036854775808 or (FDNId = -1)  or (FDNId = 9223372036854775807) )  and  1 > 0 ");
  EXPECT_EQ(TestIntLeaf("c", 3, {4294967296L}).intSql("X"), "X > 4294967296");
}

TEST(SqlCondIntTest, ComparisonsAndBetween) {
  fmtest::TraceCapture cap;
  const std::set<long> s = {-2, 5, 9};
  EXPECT_EQ(TestIntLeaf("c", 3, s).intSql("L"), "L > 9");
  EXPECT_EQ(TestIntLeaf("c", 4, s).intSql("L"), "L >= 9");
  EXPECT_EQ(TestIntLeaf("c", 5, s).intSql("L"), "L < -2");
  EXPECT_EQ(TestIntLeaf("c", 6, s).intSql("L"), "L <= -2");
  EXPECT_EQ(TestIntLeaf("c", 10, s).intSql("L"), "L >= -2 and L <= 9");
  EXPECT_TRUE(cap.sink().messages().empty());
  EXPECT_EQ(TestIntLeaf("c", 10, {4}).intSql("L"), "L >= 4");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, the params of between error! ", TRACE_ERROR));
}

TEST(SqlCondIntTest, EmptySetAndBadCodes) {
  fmtest::TraceCapture cap;
  for (int op = 1; op <= 12; ++op) EXPECT_EQ(TestIntLeaf("c", static_cast<char>(op), {}).intSql("L"), "");
  EXPECT_TRUE(cap.sink().messages().empty());
  EXPECT_EQ(TestIntLeaf("c", 13, {1}).intSql("L"), "");
  EXPECT_EQ(TestIntLeaf("c", 0, {1}).intSql("L"), "");
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:13 error!", TRACE_ERROR));
  EXPECT_TRUE(cap.contains("BasicExp::createIntSqlCond, op:0 error!", TRACE_ERROR));
}

// ---------------------------------------------------------------------------
// Strings

TEST(SqlCondStrTest, EqualityWithNullAndChunks) {
  EXPECT_EQ(TestStrLeaf("c", 1, {"x", ""}).strSql("COL"), " (COL is null  or (COL = 'x')) " + std::string(" and  1 > 0 "));
  EXPECT_EQ(TestStrLeaf("c", 8, {"a"}).strSql("COL"), "COL = 'a' and  1 > 0 ");
  EXPECT_EQ(TestStrLeaf("c", 1, {""}).eqSql("COL"), "COL is null  and  1 > 0 ");
  EXPECT_EQ(TestStrLeaf("c", 1, {}).eqSql("COL"), "");
  std::set<std::string> many;
  for (int i = 0; i < 241; ++i) many.insert("v" + std::to_string(1000 + i));
  const std::string sql = TestStrLeaf("c", 1, many).strSql("C");
  // The 241st value (the largest) is alone in a wrapped second chunk.
  EXPECT_NE(sql.find(" and  1 > 0  or ( (C = 'v1240')  and  1 > 0 ) "), std::string::npos) << sql;
  EXPECT_EQ(sql.find("C = 'v1000' or (C = 'v1001')"), 0u);
}

TEST(SqlCondStrTest, InequalityLetsNullRowsThroughUnlessTheEmptyValueIsExcluded) {
  // The empty value is excluded: NULL rows are excluded too.
  EXPECT_EQ(TestStrLeaf("c", 2, {"", "x"}).strSql("COL"), " (COL is not null  and (COL <> 'x')) " + std::string(" or  0 > 1 "));
  // Only non-empty values are excluded: an empty field passes in memory, so
  // NULL rows are selected as well.
  EXPECT_EQ(TestStrLeaf("c", 2, {"x"}).strSql("COL"), "(COL is null) or (COL <> 'x' or  0 > 1 )");
  TestStrLeaf leaf("c", 2, {"x"});
  EXPECT_TRUE(leaf.evalStr(""));
  // The builder itself writes the plain list.
  EXPECT_EQ(leaf.neSql("COL"), "COL <> 'x' or  0 > 1 ");
}

TEST(SqlCondStrTest, ComparisonsSelectNullWhereTheEmptyValuePasses) {
  const std::set<std::string> s = {"b", "dd"};
  EXPECT_EQ(TestStrLeaf("c", 3, s).strSql("C"), "C > 'dd'");
  EXPECT_EQ(TestStrLeaf("c", 4, s).strSql("C"), "C >= 'dd'");
  EXPECT_EQ(TestStrLeaf("c", 5, s).strSql("C"), "(C is null) or (C < 'b')");
  EXPECT_EQ(TestStrLeaf("c", 6, s).strSql("C"), "(C is null) or (C <= 'b')");
  EXPECT_EQ(TestStrLeaf("c", 10, s).strSql("C"), "C >= 'b' and C <= 'dd'");
  EXPECT_EQ(TestStrLeaf("c", 10, {"", "dd"}).strSql("C"), "(C is null) or (C >= '' and C <= 'dd')");
  EXPECT_EQ(TestStrLeaf("c", 4, {""}).strSql("C"), "(C is null) or (C >= '')");
  EXPECT_EQ(TestStrLeaf("c", 5, {""}).strSql("C"), "C < ''");
  // Each of these agrees with evaluateStr on the empty field value.
  struct Case {
    int op;
    std::set<std::string> values;
  };
  for (const Case& c : std::vector<Case>{{2, {"x"}}, {2, {""}}, {3, s}, {4, s}, {4, {""}}, {5, s}, {5, {""}}, {6, s},
                                         {10, s}, {10, {"", "dd"}}, {7, s}, {9, s}, {1, {""}}, {1, s}}) {
    TestStrLeaf leaf("c", static_cast<char>(c.op), c.values);
    const std::string sql = leaf.strSql("C");
    const bool selectsNull = sql.find("C is null") != std::string::npos;
    EXPECT_EQ(selectsNull, leaf.evalStr("")) << c.op << ": " << sql;
  }
}

TEST(SqlCondStrTest, BetweenWithOneValueAndBadCodes) {
  fmtest::TraceCapture cap;
  EXPECT_EQ(TestStrLeaf("c", 10, {"m"}).strSql("C"), "C >= 'm'");
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, the params of between error! ", TRACE_ERROR));
  EXPECT_EQ(TestStrLeaf("c", 14, {"m"}).strSql("C"), "");
  EXPECT_TRUE(cap.contains("BasicExp::createStrSqlCond, op:14 error!", TRACE_ERROR));
  EXPECT_EQ(TestStrLeaf("c", 7, {}).strSql("C"), "");
}

TEST(SqlCondStrTest, LikePatterns) {
  const std::string esc = " escape '\\'";
  EXPECT_EQ(TestStrLeaf("c", 7, {"ab"}).strSql("C"), "C like '%ab%' " + esc);
  EXPECT_EQ(TestStrLeaf("c", 11, {"ab"}).strSql("C"), "C like '%ab' " + esc);
  EXPECT_EQ(TestStrLeaf("c", 12, {"ab"}).strSql("C"), "C like 'ab%' " + esc);
  EXPECT_EQ(TestStrLeaf("c", 7, {"a", "b"}).strSql("C"), "C like '%a%' " + esc + " or (C like '%b%' " + esc + " )");
  // Contains none: NULL rows always pass.
  EXPECT_EQ(TestStrLeaf("c", 9, {"a"}).strSql("C"), "(C is null) or not (C like '%a%' " + esc + ")");
  EXPECT_EQ(TestStrLeaf("c", 9, {"a", "b"}).strSql("C"),
            "(C is null) or not (C like '%a%' " + esc + " or (C like '%b%' " + esc + " ))");
}

TEST(SqlCondStrTest, EscapingOfQuotesAndWildcards) {
  const std::string esc = " escape '\\'";
  // Literals: quotes doubled; % _ and backslash are plain characters there.
  EXPECT_EQ(TestStrLeaf("c", 1, {"O'Neil"}).strSql("C"), "C = 'O''Neil' and  1 > 0 ");
  EXPECT_EQ(TestStrLeaf("c", 3, {"50%_\\"}).strSql("C"), "C > '50%_\\'");
  EXPECT_EQ(TestStrLeaf("c", 2, {"''"}).neSql("C"), "C <> '''''' or  0 > 1 ");
  // LIKE patterns: % _ and backslash escaped with a backslash, quotes doubled.
  EXPECT_EQ(TestStrLeaf("c", 7, {"5%_a\\b'"}).strSql("C"), "C like '%5\\%\\_a\\\\b''%' " + esc);
  EXPECT_EQ(TestStrLeaf("c", 12, {"%"}).strSql("C"), "C like '\\%%' " + esc);
  EXPECT_EQ(TestStrLeaf("c", 9, {"_"}).strSql("C"), "(C is null) or not (C like '%\\_%' " + esc + ")");
}

// ---------------------------------------------------------------------------
// Combinators

TEST(SqlCondCombinatorTest, AndOrNotConstantTexts) {
  AndAlarmExp a(new FixedLeaf("a", true, "A"), new FixedLeaf("b", true, "B"));
  EXPECT_EQ(a.sqlWhereCond("t"), " ( ( A )  and  ( B ) ) ");
  OrAlarmExp o(new FixedLeaf("a", true, "A"), new FixedLeaf("b", true, "B"));
  EXPECT_EQ(o.sqlWhereCond("t"), " ( ( A )  or  ( B ) ) ");
  EXPECT_EQ(NotAlarmExp(new FixedLeaf("a", true, "A")).sqlWhereCond("t"), " not (case when (A) then 1 else 0 end = 1) ");
  EXPECT_EQ(ConstantExp(true).sqlWhereCond("t"), " (1 > 0) ");
  EXPECT_EQ(ConstantExp(false).sqlWhereCond("t"), " (0 > 1) ");
  EXPECT_EQ(TestIntLeaf::combineCondition("", "", " and "), "");
  EXPECT_EQ(TestIntLeaf::combineCondition("X", "", " or "), "X");
}

TEST(SqlCondCombinatorTest, EmptyChildTexts) {
  // And: the other child's text, unchanged.
  EXPECT_EQ(AndAlarmExp(new FixedLeaf("a", true, ""), new FixedLeaf("b", true, "B")).sqlWhereCond("t"), "B");
  EXPECT_EQ(AndAlarmExp(new FixedLeaf("a", true, "A"), nullptr).sqlWhereCond("t"), "A");
  // Or: a child without restriction selects every row, as evaluate accepts
  // every record through it.
  OrAlarmExp o(new TestIntLeaf("all", 1, {}), new FixedLeaf("b", false, "B"));
  EXPECT_TRUE(o.evaluate(AlmRecord_t()));
  EXPECT_EQ(o.sqlWhereCond("t"), "");
  // Not of "everything" is "nothing".
  NotAlarmExp n(new TestIntLeaf("all", 1, {}));
  EXPECT_FALSE(n.evaluate(AlmRecord_t()));
  EXPECT_EQ(n.sqlWhereCond("t"), " (0 > 1) ");
}

TEST(SqlCondCombinatorTest, NotOverAStringLeafSelectsNullRowsThatEvaluateAccepts) {
  // "" contains nothing, so Not(contains "Lab") accepts the empty FDN text. In
  // the table that text is NULL and the like is unknown; the case expression
  // turns unknown into false before the negation.
  NotAlarmExp n(new TestStrLeaf("lab", 7, {"Lab"}));
  EXPECT_TRUE(n.evaluate(fmtest::recordWithLevel(1, "")));
  EXPECT_EQ(n.sqlWhereCond("tbl_cur_alm"),
            " not (case when (MoDn like '%Lab%'  escape '\\') then 1 else 0 end = 1) ");
}

TEST(SqlCondCombinatorTest, SecondChildTextIsProducedFirstAndTableIsPassedOn) {
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("first", 1, {1}, 5, probe),
                new OrAlarmExp(new TestIntLeaf("x", 1, {2}, 4, probe), new TestIntLeaf("y", 1, {3}, 4, probe)));
  const std::string sql = a.sqlWhereCond("tbl_alm_log");
  EXPECT_EQ(probe->sqlOrder, std::vector<std::string>({"y", "x", "first"}));
  EXPECT_EQ(sql, " ( ( AlmLevel = 1 and  1 > 0  )  and  ( "
                 " ( ( AlmLevel = 2 and  1 > 0  )  or  ( AlmLevel = 3 and  1 > 0  ) ) "
                 " ) ) ");
}

}  // namespace
}  // namespace Kyrofm
