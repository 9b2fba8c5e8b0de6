// Tests of the expression factory: random criteria over real leaves, printed as
// text and built by the factory, must accept exactly what the boolean formula
// over the leaves' own answers accepts, in memory and as SQL on SQLite and
// PostgreSQL; malformed filters are refused; 100 000-deep criteria and trees
// are built, evaluated, written as SQL, copied and deleted without recursion.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "fm_common/filter/AlarmExpFactory.h"
#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

FieldCond_t cond(const std::string& name, const std::string& type, char op, std::list<std::string> values) {
  FieldCond_t c(name, type, op);
  c.m_lstValues = std::move(values);
  return c;
}

std::list<std::string> words(const std::string& criterion) {
  std::list<std::string> w;
  AlarmExpFactory::criterionWords(criterion, w);
  return w;
}

// A random formula over leaves C0..Cn-1 (each named at most once), printed
// with the fewest parentheses its precedence needs plus random extra ones.
struct Formula {
  std::mt19937& rng;
  int leaves;
  int used = 0;

  // Returns the text; `prec`: 1 or, 2 and, 3 not/atom.
  std::string make(int depth, int& prec, std::function<bool(const std::vector<bool>&)>& f) {
    const unsigned pick = rng() % 8;
    if (depth == 0 || used == leaves || pick < 2) {
      if (used < leaves && pick != 1) {
        const int i = used++;
        f = [i](const std::vector<bool>& v) { return v[i]; };
        prec = 3;
        return (rng() % 2 ? "c" : "C") + std::to_string(i);
      }
      const bool t = rng() % 2;
      f = [t](const std::vector<bool>&) { return t; };
      prec = 3;
      return t ? (rng() % 2 ? "TRUE" : "criterion") : "false";
    }
    int pa, pb;
    std::function<bool(const std::vector<bool>&)> fa, fb;
    std::string a = make(depth - 1, pa, fa);
    if (pick < 4) {  // NOT, possibly of a NOT
      f = [fa](const std::vector<bool>& v) { return !fa(v); };
      prec = 3;
      return (rng() % 2 ? "NOT " : "not\t") + (pa < 3 || rng() % 4 == 0 ? "(" + a + ")" : a);
    }
    std::string b = make(depth - 1, pb, fb);
    const bool isAnd = pick < 6;
    prec = isAnd ? 2 : 1;
    f = isAnd ? std::function<bool(const std::vector<bool>&)>([fa, fb](const std::vector<bool>& v) { return fa(v) && fb(v); })
              : [fa, fb](const std::vector<bool>& v) { return fa(v) || fb(v); };
    auto wrap = [&](const std::string& s, int p, bool right) {
      return p < prec || (right && p == prec) || rng() % 5 == 0 ? "(" + s + ")" : s;
    };
    return wrap(a, pa, false) + (isAnd ? " And " : " OR ") + wrap(b, pb, true);
  }
};

class AlarmExpFactoryDiffTest : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Db, AlarmExpFactoryDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

TEST_P(AlarmExpFactoryDiffTest, RandomCriteriaMatchTheirFormula) {
  const std::string skip = fmtest::useFilterDatabase(GetParam());
  if (!skip.empty()) GTEST_SKIP() << skip;
  std::mt19937 rng(20261205);
  std::vector<AlmRecord_t> records(300);
  const char* const infos[] = {"", "ab", "b", "xaby", "c%", "O'B"};
  for (size_t i = 0; i < records.size(); ++i) {
    records[i].setLogId(static_cast<long>(i) + 1);
    records[i].setSeverity(static_cast<char>(1 + rng() % 4));
    records[i].setLinkType(static_cast<long>(rng() % 5));
    records[i].setAlarmId(static_cast<long>(rng() % 6));
    records[i].setExtendInfo(infos[rng() % 6]);
  }
  fmtest::FilterDiffTable table("tbl_factory_diff", records);
  ASSERT_TRUE(table.ok());
  const char* const types[] = {"LEVEL", "LINKTYPE", "ALARMID", "EXTENDINFO"};
  const char intOps[] = {1, 2, 3, 4, 5, 6, 10};
  const char strOps[] = {1, 2, 7, 9};
  for (int trial = 0; trial < 120; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 6);
    std::list<FieldCond_t> conds;
    std::vector<std::vector<bool>> answers(records.size(), std::vector<bool>(n));
    for (int i = 0; i < n; ++i) {
      const std::string type = types[rng() % 4];
      const bool str = type == "EXTENDINFO";
      const char op = str ? strOps[rng() % 4] : intOps[rng() % 7];
      std::list<std::string> values;
      for (unsigned k = 0, m = 1 + rng() % 3; k < m; ++k) {
        values.push_back(str ? infos[1 + rng() % 5] : std::to_string((type == "LEVEL" ? 1 : 0) + rng() % 4));
      }
      conds.push_back(cond("c" + std::to_string(i), type, op, values));
      std::unique_ptr<AlarmExp> one(AlarmExpFactory::createCommonExp({conds.back()}, false));
      ASSERT_NE(one, nullptr) << type << " " << values.front();
      for (size_t r = 0; r < records.size(); ++r) answers[r][i] = one->evaluate(records[r]);
    }
    Formula gen{rng, n};
    int prec;
    std::function<bool(const std::vector<bool>&)> f;
    const std::string text = gen.make(4, prec, f);
    conds.insert(std::next(conds.begin(), static_cast<long>(rng() % (conds.size() + 1))),
                 cond("crit", "CRITERION", 1, {text}));
    std::set<long> expected;
    for (size_t r = 0; r < records.size(); ++r) {
      if (f(answers[r])) expected.insert(records[r].getLogId());
    }
    std::unique_ptr<AlarmExp> tree(AlarmExpFactory::createCommonExp(conds, false));
    ASSERT_NE(tree, nullptr) << text;
    EXPECT_EQ(table.inMemory(*tree), expected) << text;
    EXPECT_EQ(table.inDatabase(*tree, "tbl_cur_alm"), expected) << text << "\n" << tree->sqlWhereCond("tbl_cur_alm");
  }
}

TEST(AlarmExpFactoryTest, PostfixWordsAndPrecedence) {
  // Two NOTs in a row both wait for their operand (the NOT before is not
  // closed by the NOT after it, which made "A AND NOT NOT B" mean NOT A AND NOT B).
  EXPECT_EQ(words("a and not not b"), (std::list<std::string>{"A", "B", "NOT", "NOT", "AND"}));
  EXPECT_EQ(words("a or(b)and c"), (std::list<std::string>{"A", "B", "C", "AND", "OR"}));
  std::list<std::string> w;
  EXPECT_TRUE(AlarmExpFactory::criterionWords("not a and (b or not c)", w));  // a NOT needs one operand
  EXPECT_FALSE(AlarmExpFactory::criterionWords("a not", w));
  EXPECT_FALSE(AlarmExpFactory::criterionWords(")(", w));  // the other malformed texts: below, through the factory
}

TEST(AlarmExpFactoryTest, MalformedFiltersAreRefusedAndLogged) {
  struct Case {
    std::list<std::string> filters;
    const char* log;
  } cases[] = {
      {{"l|LEVEL|1", "c|CRITERION|(L AND TRUE"}, "expStack error. ("},
      {{"l|LEVEL|1", "c|CRITERION|L AND TRUE)"}, "expStack error. )"},
      {{"l|LEVEL|1", "c|CRITERION|L AND"}, "expStack error. AND"},
      {{"l|LEVEL|1", "c|CRITERION|L TRUE"}, "expStack error. L TRUE"},
      {{"l|LEVEL|1", "c|CRITERION|L AND X"}, "expStack error. X"},
      {{"l|LEVEL|1", "c|CRITERION|L OR L"}, "expStack error. L"},
      {{"l|LEVEL|1", "c|CRITERION|L AND # "}, "expStack error. #"},
      {{"l|LEVEL|1", "c|CRITERION| ( ) "}, "result.size () == 0"},
      {{"l|LEVEL|1", "c|CRITERION| \t"}, "no such condition C"},
      {{"l|LEVEL|1", " | | "}, "filter result size is: 0"},
      {{"a|b|c|d|e"}, "filter result size is: 5"},
      {{"x|NOSUCH|1"}, "no such condition NOSUCH"},
      {{"l|LEVEL|1", "x|NOSUCH|1"}, "failed:filter[1]=x|NOSUCH|1"},
      {{"t|DELAYDAY|1"}, "no such condition DELAYDAY"},
      {{"l|LEVEL|1,x"}, "createSingle failed"},
  };
  for (const Case& c : cases) {
    fmtest::TraceCapture trace;
    EXPECT_EQ(std::unique_ptr<AlarmExp>(AlarmExpFactory::createByStrinFilter(c.filters, 0, false)), nullptr) << c.log;
    EXPECT_TRUE(trace.contains(c.log, TRACE_ERROR)) << c.log;
  }
  for (const char* type : {"ACKTIME", "level", "CRITERION"}) {
    std::unique_ptr<AlarmExp> e(AlarmExpFactory::createCommonExp({cond("l", "LEVEL", 1, {"1"}), cond("x", type, 1, {})}, false));
    EXPECT_EQ(e, nullptr) << type;
  }
  EXPECT_EQ(std::unique_ptr<AlarmExp>(AlarmExpFactory::createCommonExp({cond("l", "LEVEL", 1, {"z"})}, false)), nullptr);
}

TEST(AlarmExpFactoryTest, BuildRules) {
  AlmRecord_t rec;
  rec.setSeverity(2);
  rec.setCategory(1);
  bool result = false;
  std::unique_ptr<AlarmExp> e(AlarmExpFactory::createByStrinFilter({}, 0, false));
  EXPECT_TRUE(e && e->evaluate(rec));
  // Without criterion: AND in name order; a duplicate name keeps the first leaf.
  e.reset(AlarmExpFactory::createCommonExp({cond("b", "LEVEL", 1, {"3"}), cond("a", "CATEGORY", 1, {"1"}),
                                            cond("B", "LEVEL", 1, {"2"})}, false));
  ASSERT_TRUE(e && e->getNodeKind() == AlarmExp::NodeKind::AND);
  EXPECT_EQ(static_cast<const BasicExp*>(static_cast<AndAlarmExp*>(e.get())->getFirst())->getCondName(), "A");
  EXPECT_EQ(AlarmExpFactory::decidingCondition(*e, rec, result), "B");
  EXPECT_FALSE(result);
  // Filter strings: blanks trimmed, names upper-cased; ACKTIME accepted here.
  e.reset(AlarmExpFactory::createByStrinFilter({" lvl | LEVEL | 1,2 ", "c|CRITERION|true and lvl"}, 0, true));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(AlarmExpFactory::decidingCondition(*e, rec, result), "LVL");
  EXPECT_TRUE(result);
  AlarmExpFactoryImpl impl;
  EXPECT_TRUE(impl.createSingle("k", "ACKTIME", "", true));
  EXPECT_FALSE(impl.createSingle("k", "TIMEMODE", "", true));
  // Match-all operands: AND keeps the other side, OR keeps the match-all one.
  std::list<std::string> levels;
  for (int i = 1; i <= CRecStringMap::Instance()->getAlmLevelCount(); ++i) levels.push_back(std::to_string(i));
  std::list<FieldCond_t> conds = {cond("all", "LEVEL", 1, levels), cond("x", "CATEGORY", 1, {"3"}),
                                  cond("c", "CRITERION", 1, {"ALL AND X"})};
  e.reset(AlarmExpFactory::createCommonExp(conds, false));
  ASSERT_TRUE(e && e->getNodeKind() == AlarmExp::NodeKind::LEAF);
  EXPECT_EQ(static_cast<const BasicExp*>(e.get())->getCondName(), "X");
  conds.back().m_lstValues = {"x or all"};
  e.reset(AlarmExpFactory::createCommonExp(conds, false));
  ASSERT_TRUE(e && e->isMatchAll());
  EXPECT_EQ(static_cast<const BasicExp*>(e.get())->getCondName(), "ALL");
  // The user moves into the FDN leaf; the criterion loses "AND USER" as whole
  // words only (USERS stays) and in any case.
  ASSERT_EQ(CUserIDMaintain::SetUserID("factory_u", "SM_ROOT", 4711), FM_SUCCESS);
  std::set<std::string> sql;
  for (const char* crit : {"zzzzzzzz or f and users and user", "zzzzzzzz or User AND f AND users", "zzzzzzzz or f and users"}) {
    e.reset(AlarmExpFactory::createCommonExp({cond("user", "USER", 1, {"factory_u"}), cond("f", "FDN", 7, {"P=1"}),
                                              cond("users", "LEVEL", 1, {"2"}), cond("zzzzzzzz", "LEVEL", 1, {"3"}),
                                              cond("c", "CRITERION", 1, {crit})}, false));
    ASSERT_TRUE(e && e->getNodeKind() == AlarmExp::NodeKind::OR) << crit;
    sql.insert(e->sqlWhereCond("tbl_cur_alm"));
  }
  EXPECT_EQ(sql.size(), 1u);
  EXPECT_EQ(std::unique_ptr<AlarmExp>(AlarmExpFactory::createCommonExp(
                {cond("user", "USER", 1, {"factory_nobody"}), cond("f", "FDN", 7, {"P=1"})}, false)), nullptr);
}

TEST(AlarmExpFactoryTest, HundredThousandDeepCriteria) {
  constexpr int kDepth = 100000;
  AlmRecord_t rec;
  rec.setSeverity(2);
  std::string nots, parens, closes, terms = "L", right;
  for (int i = 0; i < kDepth; ++i) {
    nots += "NOT ";
    parens += "(";
    closes += ")";
    terms += i % 2 ? " AND TRUE" : " OR FALSE";  // ((L OR (FALSE AND TRUE)) OR ...: L decides
    right += "TRUE AND (";                        // TRUE AND (TRUE AND (... L)): right-deep
  }
  const struct {
    std::string criterion;
    bool built, accepted;
  } cases[] = {
      {nots + "L", true, true},  // an even number of NOTs
      {"NOT " + nots + "L", true, false},
      {parens + "L" + closes, true, true},
      {parens + "L" + closes + ")", false, false},
      {"(" + parens + "L" + closes, false, false},
      {terms, true, true},
      {right + "L" + closes, true, true},
  };
  LevelExp other("L", 1);
  ASSERT_TRUE(other.setFilter({"3"}, false));
  for (const auto& c : cases) {
    std::unique_ptr<AlarmExp> e(AlarmExpFactory::createByStrinFilter({"l|LEVEL|2", "c|CRITERION|" + c.criterion}, 0, false));
    ASSERT_EQ(e != nullptr, c.built);
    if (!e) continue;
    bool result = !c.accepted;
    EXPECT_EQ(AlarmExpFactory::decidingCondition(*e, rec, result), "L");
    EXPECT_EQ(result, c.accepted);
    const std::string sql = e->sqlWhereCond("tbl_cur_alm");
    EXPECT_NE(sql.find("AlmLevel = 2"), std::string::npos);
    std::unique_ptr<AlarmExp> copy(e->copy());
    std::unique_ptr<AlarmExp> replaced(e->replace("L", &other));
    ASSERT_TRUE(copy && replaced);
    EXPECT_EQ(copy->sqlWhereCond("tbl_cur_alm"), sql);
    EXPECT_EQ(copy->getSqlWhereCondLimitCount(), e->getSqlWhereCondLimitCount());
    EXPECT_EQ(replaced->evaluate(rec), !c.accepted);  // L now refuses the record
  }
}

}  // namespace
}  // namespace Kyrofm
