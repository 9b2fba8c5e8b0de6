// Tests of the filter tree in memory: the operator table, And/Or order and
// short-circuit, ownership through copy and replace.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>

#include "FilterTestLeaves.h"
#include "fm_common/filter/AlarmExp.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::LeafProbe;
using fmtest::TestIntLeaf;
using fmtest::TestStrLeaf;

// In memory the suffix (11) and prefix (12) codes test containment, as 7 does;
// the other codes are held to their SQL by the differential suites.
TEST(AlarmExpOperatorTest, SuffixAndPrefixCodesContainInMemory) {
  for (int op : {11, 12}) {
    TestStrLeaf leaf("c", static_cast<char>(op), {"ab", "q"});
    EXPECT_TRUE(leaf.eval("xaby") && leaf.eval("ab") && !leaf.eval("a") && !leaf.eval("")) << op;
  }
}

// An empty set accepts everything silently, whatever the code; between with one
// value tests the lower bound and logs; codes outside 1..12 log and reject.
TEST(AlarmExpOperatorTest, EmptySetsOneValueBetweenAndBadCodes) {
  fmtest::TraceCapture cap;
  for (int op : {0, 1, 2, 3, 5, 7, 9, 10, 12, 13}) {
    EXPECT_TRUE(TestIntLeaf("c", static_cast<char>(op), {}).eval(LONG_MIN)) << op;
    EXPECT_TRUE(TestStrLeaf("c", static_cast<char>(op), {}).eval("\xff")) << op;
  }
  EXPECT_TRUE(cap.sink().messages().empty());
  TestIntLeaf i("c", 10, {5});
  EXPECT_TRUE(i.eval(5) && i.eval(LONG_MAX) && !i.eval(4));
  EXPECT_EQ(cap.count("BasicExp::evaluateInt, between param error!", TRACE_ERROR), 3u);
  TestStrLeaf s("c", 10, {"m"});
  EXPECT_TRUE(s.eval("zz") && !s.eval("l"));
  EXPECT_EQ(cap.count("BasicExp::evaluateStr, between param error!", TRACE_ERROR), 2u);
  cap.sink().clear();
  EXPECT_FALSE(TestIntLeaf("c", -3, {1}).eval(1));
  EXPECT_FALSE(TestStrLeaf("c", 13, {"a"}).eval("a"));
  auto msgs = cap.sink().messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].text + "|" + msgs[1].text, "BasicExp::evaluateInt, op:-3 error!|BasicExp::evaluateStr, op:13 error!");
  EXPECT_EQ(msgs[0].level, TRACE_ERROR);
}

TEST(AlarmExpCombinatorTest, HigherPriorityChildIsEvaluatedFirstAndShortCircuits) {
  auto probe = std::make_shared<LeafProbe>();
  AlmRecord_t rec = fmtest::recordWithLevel(3);
  // b has the higher priority and is false: a is never evaluated.
  AndAlarmExp and1(new TestIntLeaf("a", 1, {3}, 4, probe), new TestIntLeaf("b", 1, {9}, 5, probe));
  EXPECT_EQ(and1.getFirst()->getPriority(), 5);
  EXPECT_FALSE(and1.evaluate(rec));
  // Or: the first (higher priority) child is true, the second is skipped.
  OrAlarmExp or1(new TestIntLeaf("fdn", 1, {9}, 1, probe), new TestIntLeaf("lvl", 1, {3}, 4, probe));
  EXPECT_TRUE(or1.evaluate(rec));
  // Ties keep the given order, also in a copy; both children run when needed.
  AndAlarmExp and2(new TestIntLeaf("x", 1, {3}, 2, probe), new TestIntLeaf("y", 1, {3}, 2, probe));
  EXPECT_TRUE(and2.clone()->evaluate(rec));
  OrAlarmExp or2(new TestIntLeaf("p", 1, {9}, 2, probe), new TestIntLeaf("q", 1, {8}, 2, probe));
  EXPECT_FALSE(or2.evaluate(rec));
  EXPECT_EQ(probe->order, std::vector<std::string>({"b", "lvl", "x", "y", "p", "q"}));
}

TEST(AlarmExpCombinatorTest, FlagsAndLimitCounts) {
  auto leaf = [](bool all, std::set<long> v = {1}) {
    auto l = std::make_unique<TestIntLeaf>("l", 1, std::move(v));
    if (all) l->markMatchAll();
    return l;
  };
  for (bool a : {false, true}) {
    for (bool b : {false, true}) {
      EXPECT_EQ(AndAlarmExp(leaf(a), leaf(b)).isMatchAll(), a && b);
      EXPECT_EQ(OrAlarmExp(leaf(a), leaf(b)).isMatchAll(), a || b);
    }
  }
  EXPECT_FALSE(NotAlarmExp(leaf(true)).isMatchAll() || ConstantExp(true).isMatchAll());
  EXPECT_EQ(AndAlarmExp(leaf(0, {1, 2, 3}), leaf(0)).getSqlWhereCondLimitCount(), 3);
  EXPECT_EQ(OrAlarmExp(leaf(0, {1, 2, 3}), leaf(0, {1, 2})).getSqlWhereCondLimitCount(), 5);
  EXPECT_EQ(NotAlarmExp(leaf(0, {1, 2})).getSqlWhereCondLimitCount(), 2);
  EXPECT_EQ(ConstantExp(true).getSqlWhereCondLimitCount(), 0);
}

// Random trees of constants with missing children: evaluate, the deciding leaf
// and a copy agree with a recursion over the documented rules.
bool referenceEval(const AlarmExp* e, const AlarmExp** last) {
  AlmRecord_t rec;
  if (e->getNodeKind() == AlarmExp::NodeKind::LEAF) return (*last = e)->evaluate(rec);
  if (e->getNodeKind() == AlarmExp::NodeKind::NOT) {
    const AlarmExp* c = static_cast<const NotAlarmExp*>(e)->getChild();
    return c && !referenceEval(c, last);
  }
  const bool isAnd = e->getNodeKind() == AlarmExp::NodeKind::AND;
  const AlarmExp* a = isAnd ? static_cast<const AndAlarmExp*>(e)->getFirst() : static_cast<const OrAlarmExp*>(e)->getFirst();
  const AlarmExp* b = isAnd ? static_cast<const AndAlarmExp*>(e)->getSecond() : static_cast<const OrAlarmExp*>(e)->getSecond();
  if (!a) return !(isAnd && b) || referenceEval(b, last);
  const bool ra = referenceEval(a, last);
  return ra != isAnd ? ra : !b || referenceEval(b, last);
}

TEST(AlarmExpCombinatorTest, RandomTreesFollowTheRules) {
  std::mt19937 rng(3);
  std::function<AlarmExp*(int)> make = [&](int depth) -> AlarmExp* {
    const unsigned k = depth == 0 ? rng() % 3 : rng() % 6;
    if (k == 0) return nullptr;
    if (k < 3) return new ConstantExp(k == 1);
    if (k == 3) return new NotAlarmExp(make(depth - 1));
    AlarmExp* a = make(depth - 1);
    return k == 4 ? static_cast<AlarmExp*>(new AndAlarmExp(a, make(depth - 1))) : new OrAlarmExp(a, make(depth - 1));
  };
  for (int round = 0; round < 1500; ++round) {
    std::unique_ptr<AlarmExp> tree(make(1 + round % 6));
    if (!tree) continue;
    const AlarmExp* want = nullptr;
    const bool expected = referenceEval(tree.get(), &want);
    bool result = !expected;
    EXPECT_EQ(findDecidingLeaf(*tree, AlmRecord_t(), result), want) << "round " << round;
    EXPECT_EQ(result, expected) << "round " << round;
    EXPECT_EQ(tree->evaluate(AlmRecord_t()), expected) << "round " << round;
    std::unique_ptr<AlarmExp> c(tree->copy());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->evaluate(AlmRecord_t()), expected) << "round " << round;
  }
}

// ---------------------------------------------------------------------------
// copy and replace: the new tree must not share anything with its source.

std::unique_ptr<AlarmExp> sampleTree(std::shared_ptr<LeafProbe> probe = nullptr) {
  // (level in {2,3} and not fdn contains "X") or level > 6
  auto inner = std::make_unique<AndAlarmExp>(new TestIntLeaf("level", 1, {2, 3}, 4, probe),
                                             new NotAlarmExp(new TestStrLeaf("fdn", 7, {"X"}, 1, probe)));
  return std::make_unique<OrAlarmExp>(std::move(inner),
                                      std::make_unique<TestIntLeaf>("high", 3, std::set<long>{6}, 4, probe));
}

std::vector<AlmRecord_t> sampleRecords() {
  std::vector<AlmRecord_t> r;
  for (long level = 0; level < 9; ++level) {
    r.push_back(fmtest::recordWithLevel(level, "NE=1"));
    r.push_back(fmtest::recordWithLevel(level, "NE=X1"));
  }
  return r;
}

std::vector<bool> verdicts(const AlarmExp& e) {
  std::vector<bool> v;
  for (const auto& rec : sampleRecords()) v.push_back(e.evaluate(rec));
  return v;
}

TEST(AlarmExpCopyTest, CopiesOutliveTheirSourceAndKeepTheirFields) {
  auto src = sampleTree();
  src->setLogType(7);
  const std::vector<bool> expected = verdicts(*src);
  const std::string sql = src->sqlWhereCond("tbl_cur_alm");
  std::unique_ptr<AlarmExp> c = src->clone();
  std::unique_ptr<AlarmExp> same = src->cloneReplaced("nobody", nullptr);  // the name does not occur
  src.reset();  // every node of the source is gone
  for (const AlarmExp* x : {c.get(), same.get()}) {
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->getLogType(), 0);  // a copied combinator starts with log type 0
    EXPECT_EQ(verdicts(*x), expected);
    EXPECT_EQ(x->sqlWhereCond("tbl_cur_alm"), sql);
  }
  TestIntLeaf l("lvl", 5, {4}, 2);
  l.setLogType(9);
  std::unique_ptr<AlarmExp> owner = l.clone();
  auto* lc = dynamic_cast<TestIntLeaf*>(owner.get());
  ASSERT_NE(lc, nullptr);
  EXPECT_TRUE(lc->getLogType() == 9 && lc->getPriority() == 2 && lc->getOperator() == 5 && lc->eval(3));
  ConstantExp k(false), t(true);
  k.setLogType(3);
  std::unique_ptr<AlarmExp> kc = k.cloneReplaced("", &t);  // a constant is copied whatever the name
  EXPECT_FALSE(kc->evaluate(AlmRecord_t()));
  EXPECT_EQ(kc->getLogType(), 3);
}

struct UncopyableLeaf : TestIntLeaf {
  UncopyableLeaf() : TestIntLeaf("bad", 1, {}, 4) {}
  AlarmExp* copy() const override { return nullptr; }
};

TEST(AlarmExpCopyTest, FailedCopiesAndNullReplacementsFailWholeWithoutLeak) {
  fmtest::TraceCapture cap;
  OrAlarmExp o(new TestIntLeaf("a", 1, {1}), new NotAlarmExp(new UncopyableLeaf));
  EXPECT_EQ(o.copy(), nullptr);
  EXPECT_TRUE(cap.contains("OrAlarmExp::copy", TRACE_ERROR));
  EXPECT_EQ(o.replace("zzz", nullptr), nullptr);
  EXPECT_EQ(sampleTree()->replace("fdn", nullptr), nullptr);
  EXPECT_TRUE(cap.contains("BasicExp::replace, exp is null, condName:fdn", TRACE_ERROR));
}

TEST(AlarmExpReplaceTest, EveryLeafOfTheNameIsReplacedAndTheResultOutlivesBoth) {
  auto src = sampleTree();
  auto repl = std::make_unique<OrAlarmExp>(new TestIntLeaf("r1", 1, {0}), new TestIntLeaf("r2", 1, {8}));
  std::unique_ptr<AlarmExp> out = src->cloneReplaced("level", repl.get());
  src.reset();
  repl.reset();
  ASSERT_NE(out, nullptr);
  for (const auto& rec : sampleRecords()) {  // ((level in {0,8}) and not fdn contains X) or level > 6
    const long lv = rec.getLevel();
    const bool hasX = rec.getMoDn().find('X') != std::string::npos;
    EXPECT_EQ(out->evaluate(rec), ((lv == 0 || lv == 8) && !hasX) || lv > 6) << lv << rec.getMoDn();
  }
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("dup", 1, {1}, 4, probe),
                new AndAlarmExp(new TestIntLeaf("keep", 1, {1}, 3, probe), new TestIntLeaf("dup", 1, {1}, 4, probe)));
  TestIntLeaf low("low", 1, {1}, 0, probe);
  out = a.cloneReplaced("dup", &low);
  ASSERT_NE(out, nullptr);
  out->evaluate(fmtest::recordWithLevel(1));
  // The replaced leaf has priority 0: it now runs after its sibling.
  EXPECT_EQ(probe->order, std::vector<std::string>({"keep", "low", "low"}));
}

// A shared tree is read-only: several threads evaluate it (the first time
// at once, each possibly compiling it), write its SQL and copy it at once.
TEST(AlarmExpConcurrencyTest, SharedTreeIsReadFromSeveralThreads) {
  const auto tree = sampleTree();
  const auto recs = sampleRecords();
  const std::vector<bool> expected = verdicts(*sampleTree());
  const std::string sql = tree->sqlWhereCond("tbl_alm_log");
  std::vector<int> mismatches(4, 0);
  fmtest::runTogether(4, [&](int t) {
    for (int round = 0; round < 20; ++round) {
      std::unique_ptr<AlarmExp> c = tree->clone();
      for (size_t i = 0; i < recs.size(); ++i) {
        if (tree->evaluate(recs[i]) != expected[i] || c->evaluate(recs[i]) != expected[i]) ++mismatches[t];
      }
      if (tree->sqlWhereCond("tbl_alm_log") != sql) ++mismatches[t];
    }
  });
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace Kyrofm
