// Tests of the filter tree in memory: the operator table, And/Or order and
// short-circuit, ownership through copy and replace.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <thread>
#include <type_traits>

#include "FilterTestLeaves.h"
#include "fm_common/filter/AlarmExp.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using fmtest::FixedLeaf;
using fmtest::LeafProbe;
using fmtest::TestIntLeaf;
using fmtest::TestStrLeaf;

static_assert(!std::is_copy_constructible<AndAlarmExp>::value, "And owns its children");
static_assert(!std::is_copy_assignable<AndAlarmExp>::value, "And owns its children");
static_assert(!std::is_copy_constructible<OrAlarmExp>::value, "Or owns its children");
static_assert(!std::is_copy_constructible<NotAlarmExp>::value, "Not owns its child");
static_assert(std::has_virtual_destructor<AlarmExp>::value, "roots are deleted through the base");

struct IntCase {
  int op;
  std::set<long> values;
  long v;
  bool expected;
};

TEST(AlarmExpOperatorTest, IntegerTable) {
  const std::set<long> s = {-5, 3, 10};
  const std::vector<IntCase> cases = {
      // membership codes
      {1, s, 3, true}, {1, s, 4, false}, {7, s, 10, true}, {7, s, 11, false},
      {8, s, -5, true}, {8, s, 0, false}, {11, s, 3, true}, {12, s, 2, false},
      // non-membership
      {2, s, 3, false}, {2, s, 4, true}, {9, s, -5, false}, {9, s, LONG_MIN, true},
      // against max / min: the boundary itself
      {3, s, 10, false}, {3, s, 11, true}, {4, s, 10, true}, {4, s, 9, false},
      {5, s, -5, false}, {5, s, -6, true}, {6, s, -5, true}, {6, s, -4, false},
      // between, inclusive at both ends
      {10, s, -5, true}, {10, s, 10, true}, {10, s, 0, true}, {10, s, 11, false}, {10, s, -6, false},
      // signed and extreme values
      {1, {LONG_MAX, LONG_MIN}, LONG_MIN, true}, {3, {LONG_MAX - 1}, LONG_MAX, true},
      {5, {LONG_MIN + 1}, LONG_MIN, true},
  };
  for (const auto& c : cases) {
    TestIntLeaf leaf("c", static_cast<char>(c.op), c.values);
    EXPECT_EQ(leaf.evalInt(c.v), c.expected) << "op " << c.op << " v " << c.v;
  }
}

TEST(AlarmExpOperatorTest, EmptySetAcceptsEverythingWhateverTheCode) {
  fmtest::TraceCapture cap;
  for (int op : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, -1, 127}) {
    TestIntLeaf i("c", static_cast<char>(op), {});
    TestStrLeaf s("c", static_cast<char>(op), {});
    for (long v : {LONG_MIN, -1L, 0L, 1L, LONG_MAX}) EXPECT_TRUE(i.evalInt(v)) << op;
    for (const char* v : {"", "a", "\xff"}) EXPECT_TRUE(s.evalStr(v)) << op;
  }
  // Nothing is logged: an empty set decides before the code is looked at.
  EXPECT_TRUE(cap.sink().messages().empty());
}

struct StrCase {
  int op;
  std::set<std::string> values;
  std::string v;
  bool expected;
};

TEST(AlarmExpOperatorTest, StringTable) {
  const std::set<std::string> s = {"b", "dd"};
  const std::vector<StrCase> cases = {
      {1, s, "b", true}, {1, s, "bb", false}, {8, s, "dd", true}, {2, s, "dd", false}, {2, s, "", true},
      // byte-wise order: "dd" is max, "b" min
      {3, s, "dd", false}, {3, s, "de", true}, {3, s, "ddd", true}, {4, s, "dd", true}, {4, s, "d", false},
      {5, s, "b", false}, {5, s, "a", true}, {5, s, "", true}, {6, s, "b", true}, {6, s, "ba", false},
      {3, {"z"}, "\x80", true},  // bytes above 0x7f sort after ASCII
      // between
      {10, s, "b", true}, {10, s, "c", true}, {10, s, "dd", true}, {10, s, "dda", false}, {10, s, "a", false},
      // containment: substring, case-sensitive, empty field contains nothing
      {7, s, "abc", true}, {7, s, "xddx", true}, {7, s, "B", false}, {7, s, "", false},
      {11, s, "xxb", true}, {11, s, "bxx", true},  // in memory suffix and prefix codes are substring tests
      {12, {"ab"}, "xaby", true}, {12, {"ab"}, "a", false},
      {9, s, "", true}, {9, s, "abc", false}, {9, s, "ace", true}, {9, s, "D", true},
      // an empty element is contained in every non-empty value
      {7, {""}, "x", true}, {7, {""}, "", false}, {9, {""}, "x", false}, {9, {""}, "", true},
  };
  for (const auto& c : cases) {
    TestStrLeaf leaf("c", static_cast<char>(c.op), c.values);
    EXPECT_EQ(leaf.evalStr(c.v), c.expected) << "op " << c.op << " v '" << c.v << "'";
  }
}

TEST(AlarmExpOperatorTest, BetweenWithOneValueIsLoggedAndTestsTheLowerBound) {
  fmtest::TraceCapture cap;
  TestIntLeaf i("c", 10, {5});
  EXPECT_TRUE(i.evalInt(5));
  EXPECT_TRUE(i.evalInt(LONG_MAX));
  EXPECT_FALSE(i.evalInt(4));
  EXPECT_EQ(cap.count("BasicExp::evaluateInt, between param error!", TRACE_ERROR), 3u);
  TestStrLeaf s("c", 10, {"m"});
  EXPECT_TRUE(s.evalStr("zz"));
  EXPECT_FALSE(s.evalStr("l"));
  EXPECT_EQ(cap.count("BasicExp::evaluateStr, between param error!", TRACE_ERROR), 2u);
}

TEST(AlarmExpOperatorTest, CodesOutsideOneToTwelveAreLoggedAndReject) {
  for (int op : {0, 13, -3, 100}) {
    fmtest::TraceCapture cap;
    TestIntLeaf i("c", static_cast<char>(op), {1});
    TestStrLeaf s("c", static_cast<char>(op), {"a"});
    EXPECT_FALSE(i.evalInt(1));
    EXPECT_FALSE(s.evalStr("a"));
    const std::string code = std::to_string(op);
    auto msgs = cap.sink().messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].text, "BasicExp::evaluateInt, op:" + code + " error!");
    EXPECT_EQ(msgs[1].text, "BasicExp::evaluateStr, op:" + code + " error!");
    EXPECT_EQ(msgs[0].level, TRACE_ERROR);
  }
}

// ---------------------------------------------------------------------------
// Combinators

TEST(AlarmExpCombinatorTest, HigherPriorityChildIsEvaluatedFirstAndShortCircuits) {
  auto probe = std::make_shared<LeafProbe>();
  AlmRecord_t rec = fmtest::recordWithLevel(3);
  // b has the higher priority and is false: a is never evaluated.
  AndAlarmExp and1(new TestIntLeaf("a", 1, {3}, 4, probe), new TestIntLeaf("b", 1, {9}, 5, probe));
  EXPECT_EQ(and1.getFirst()->getPriority(), 5);
  EXPECT_FALSE(and1.evaluate(rec));
  EXPECT_EQ(probe->order, std::vector<std::string>({"b"}));

  // Or: the first (higher priority) child is true, the second is skipped.
  probe->order.clear();
  OrAlarmExp or1(new TestIntLeaf("fdn", 1, {9}, 1, probe), new TestIntLeaf("lvl", 1, {3}, 4, probe));
  EXPECT_TRUE(or1.evaluate(rec));
  EXPECT_EQ(probe->order, std::vector<std::string>({"lvl"}));

  // Ties keep the given order; both children run when needed.
  probe->order.clear();
  AndAlarmExp and2(new TestIntLeaf("x", 1, {3}, 2, probe), new TestIntLeaf("y", 1, {3}, 2, probe));
  EXPECT_TRUE(and2.evaluate(rec));
  OrAlarmExp or2(new TestIntLeaf("p", 1, {9}, 2, probe), new TestIntLeaf("q", 1, {8}, 2, probe));
  EXPECT_FALSE(or2.evaluate(rec));
  EXPECT_EQ(probe->order, std::vector<std::string>({"x", "y", "p", "q"}));
}

TEST(AlarmExpCombinatorTest, TruthTablesOfAndOrNot) {
  AlmRecord_t rec;
  for (bool a : {false, true}) {
    for (bool b : {false, true}) {
      EXPECT_EQ(AndAlarmExp(new ConstantExp(a), new ConstantExp(b)).evaluate(rec), a && b);
      EXPECT_EQ(OrAlarmExp(new ConstantExp(a), new ConstantExp(b)).evaluate(rec), a || b);
    }
    EXPECT_EQ(NotAlarmExp(new ConstantExp(a)).evaluate(rec), !a);
  }
}

TEST(AlarmExpCombinatorTest, FlagsAndDefaults) {
  auto leaf = [](bool all) {
    auto l = std::make_unique<TestIntLeaf>("l", 1, std::set<long>{1});
    if (all) l->markMatchAll();
    return l;
  };
  for (bool a : {false, true}) {
    for (bool b : {false, true}) {
      EXPECT_EQ(AndAlarmExp(leaf(a), leaf(b)).isMatchAll(), a && b);
      EXPECT_EQ(OrAlarmExp(leaf(a), leaf(b)).isMatchAll(), a || b);
    }
  }
  EXPECT_FALSE(NotAlarmExp(leaf(true)).isMatchAll());
  ConstantExp c(true);
  EXPECT_FALSE(c.isMatchAll());
  EXPECT_EQ(c.getPriority(), 4);
  EXPECT_EQ(c.getLogType(), 0);
  TestIntLeaf l("n", 3, {});
  EXPECT_TRUE(l.isSelectAll());
  EXPECT_EQ(l.getCondName(), "n");
  EXPECT_EQ(l.getOperator(), 3);
  l.setFilter({"4"}, false);
  EXPECT_FALSE(l.isSelectAll());
}

TEST(AlarmExpCombinatorTest, MissingChildrenAreNoCondition) {
  AlmRecord_t rec = fmtest::recordWithLevel(1);
  AndAlarmExp a(nullptr, new ConstantExp(false));
  EXPECT_FALSE(a.evaluate(rec));
  EXPECT_EQ(a.getFirst()->getPriority(), 4);  // the present child runs first
  EXPECT_TRUE(AndAlarmExp(static_cast<AlarmExp*>(nullptr), nullptr).evaluate(rec));
  EXPECT_TRUE(OrAlarmExp(new ConstantExp(false), nullptr).evaluate(rec));
  EXPECT_FALSE(NotAlarmExp(static_cast<AlarmExp*>(nullptr)).evaluate(rec));
  std::unique_ptr<AlarmExp> c(a.copy());
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(c->evaluate(rec));
}

// Random trees of constants with missing children: evaluate and the deciding
// leaf agree with a recursion over the documented rules.
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
  for (int round = 0; round < 3000; ++round) {
    std::unique_ptr<AlarmExp> tree(make(1 + round % 6));
    if (!tree) continue;
    const AlarmExp* want = nullptr;
    const bool expected = referenceEval(tree.get(), &want);
    bool result = !expected;
    EXPECT_EQ(findDecidingLeaf(*tree, AlmRecord_t(), result), want) << "round " << round;
    EXPECT_EQ(result, expected) << "round " << round;
    EXPECT_EQ(tree->evaluate(AlmRecord_t()), expected) << "round " << round;
  }
}

TEST(AlarmExpCombinatorTest, LimitCount) {
  AndAlarmExp a(new TestIntLeaf("a", 1, {1, 2, 3}), new TestIntLeaf("b", 1, {1}));
  EXPECT_EQ(a.getSqlWhereCondLimitCount(), 3);
  OrAlarmExp o(new TestIntLeaf("a", 1, {1, 2, 3}), new TestIntLeaf("b", 1, {1, 2}));
  EXPECT_EQ(o.getSqlWhereCondLimitCount(), 5);
  NotAlarmExp n(new TestIntLeaf("a", 1, {1, 2}));
  EXPECT_EQ(n.getSqlWhereCondLimitCount(), 2);
  EXPECT_EQ(ConstantExp(true).getSqlWhereCondLimitCount(), 0);
}

// ---------------------------------------------------------------------------
// copy and replace: the new tree must not share anything with its source.

std::unique_ptr<AlarmExp> sampleTree(std::shared_ptr<LeafProbe> probe = nullptr) {
  // (level in {2,3} and not fdn contains "X") or level > 6
  auto inner = std::make_unique<AndAlarmExp>(
      new TestIntLeaf("level", 1, {2, 3}, 4, probe),
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

TEST(AlarmExpCopyTest, CopyOutlivesItsSource) {
  auto src = sampleTree();
  src->setLogType(7);
  std::vector<bool> expected;
  for (const auto& rec : sampleRecords()) expected.push_back(src->evaluate(rec));
  const std::string sql = src->sqlWhereCond("tbl_cur_alm");

  std::unique_ptr<AlarmExp> c = src->clone();
  src.reset();  // every node of the source is gone
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->getLogType(), 0);  // a copied combinator starts with log type 0
  std::vector<bool> got;
  for (const auto& rec : sampleRecords()) got.push_back(c->evaluate(rec));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(c->sqlWhereCond("tbl_cur_alm"), sql);
  auto* orNode = dynamic_cast<OrAlarmExp*>(c.get());
  ASSERT_NE(orNode, nullptr);
  EXPECT_NE(dynamic_cast<const AndAlarmExp*>(orNode->getFirst()), nullptr);
}

TEST(AlarmExpCopyTest, LeafAndConstantCopiesKeepTheirFields) {
  TestIntLeaf l("lvl", 5, {4}, 2);
  l.setLogType(9);
  std::unique_ptr<AlarmExp> c = l.clone();
  auto* lc = dynamic_cast<TestIntLeaf*>(c.get());
  ASSERT_NE(lc, nullptr);
  EXPECT_EQ(lc->getLogType(), 9);
  EXPECT_EQ(lc->getPriority(), 2);
  EXPECT_EQ(lc->getOperator(), 5);
  EXPECT_TRUE(lc->evalInt(3));
  ConstantExp k(false);
  k.setLogType(3);
  std::unique_ptr<AlarmExp> kc = k.clone();
  EXPECT_FALSE(kc->evaluate(AlmRecord_t()));
  EXPECT_EQ(kc->getLogType(), 3);
}

TEST(AlarmExpCopyTest, CopyKeepsTheOrderOfEqualPriorities) {
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("one", 1, {1}, 4, probe), new TestIntLeaf("two", 1, {1}, 4, probe));
  std::unique_ptr<AlarmExp> c = a.clone();
  c->evaluate(fmtest::recordWithLevel(1));
  EXPECT_EQ(probe->order, std::vector<std::string>({"one", "two"}));
}

TEST(AlarmExpCopyTest, FailedChildCopyFailsTheWholeCopyWithoutLeak) {
  fmtest::TraceCapture cap;
  OrAlarmExp o(new TestIntLeaf("a", 1, {1}), new NotAlarmExp(new FixedLeaf("bad", true, "", 4, true)));
  EXPECT_EQ(o.copy(), nullptr);
  EXPECT_TRUE(cap.contains("OrAlarmExp::copy", TRACE_ERROR));
  EXPECT_EQ(o.replace("zzz", nullptr), nullptr);
}

TEST(AlarmExpReplaceTest, ReplacedTreeOutlivesSourceAndReplacement) {
  auto src = sampleTree();
  auto repl = std::make_unique<OrAlarmExp>(new TestIntLeaf("r1", 1, {0}), new TestIntLeaf("r2", 1, {8}));
  std::unique_ptr<AlarmExp> out = src->cloneReplaced("level", repl.get());
  src.reset();
  repl.reset();
  ASSERT_NE(out, nullptr);
  // Now: ((level in {0,8}) and not fdn contains X) or level > 6
  auto recs = sampleRecords();
  for (const auto& rec : recs) {
    const long lv = rec.getLevel();
    const bool hasX = rec.getMoDn().find('X') != std::string::npos;
    EXPECT_EQ(out->evaluate(rec), ((lv == 0 || lv == 8) && !hasX) || lv > 6) << lv << rec.getMoDn();
  }
}

TEST(AlarmExpReplaceTest, EveryLeafOfTheNameIsReplacedAndPrioritiesReorder) {
  auto probe = std::make_shared<LeafProbe>();
  AndAlarmExp a(new TestIntLeaf("dup", 1, {1}, 4, probe),
                new AndAlarmExp(new TestIntLeaf("keep", 1, {1}, 3, probe), new TestIntLeaf("dup", 1, {1}, 4, probe)));
  TestIntLeaf low("low", 1, {1}, 0, probe);
  std::unique_ptr<AlarmExp> out = a.cloneReplaced("dup", &low);
  ASSERT_NE(out, nullptr);
  out->evaluate(fmtest::recordWithLevel(1));
  // The replaced leaf has priority 0: it now runs after its sibling.
  EXPECT_EQ(probe->order, std::vector<std::string>({"keep", "low", "low"}));
}

TEST(AlarmExpReplaceTest, UnknownNameGivesAnEqualCopy) {
  auto src = sampleTree();
  ConstantExp k(false);
  std::unique_ptr<AlarmExp> out = src->cloneReplaced("nobody", &k);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->sqlWhereCond("t"), src->sqlWhereCond("t"));
  for (const auto& rec : sampleRecords()) EXPECT_EQ(out->evaluate(rec), src->evaluate(rec));
}

TEST(AlarmExpReplaceTest, ConstantIsCopiedWhateverTheName) {
  ConstantExp k(true);
  ConstantExp f(false);
  std::unique_ptr<AlarmExp> out = k.cloneReplaced("", &f);
  EXPECT_TRUE(out->evaluate(AlmRecord_t()));
}

TEST(AlarmExpReplaceTest, NullReplacementFailsOnlyWhenTheNameOccurs) {
  fmtest::TraceCapture cap;
  auto src = sampleTree();
  EXPECT_EQ(src->replace("fdn", nullptr), nullptr);
  EXPECT_TRUE(cap.contains("BasicExp::replace, exp is null, condName:fdn", TRACE_ERROR));
  std::unique_ptr<AlarmExp> same = src->cloneReplaced("none", nullptr);
  EXPECT_NE(same, nullptr);
}

// A shared tree is read-only: several threads evaluate it (the first time
// at once, each possibly compiling it), write its SQL and copy it at once.
TEST(AlarmExpConcurrencyTest, SharedTreeIsReadFromSeveralThreads) {
  const auto tree = sampleTree();
  const auto recs = sampleRecords();
  std::vector<bool> expected;
  for (const auto& rec : recs) expected.push_back(sampleTree()->evaluate(rec));
  const std::string sql = tree->sqlWhereCond("tbl_alm_log");
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        std::unique_ptr<AlarmExp> c = tree->clone();
        for (size_t i = 0; i < recs.size(); ++i) {
          if (tree->evaluate(recs[i]) != expected[i] || c->evaluate(recs[i]) != expected[i]) ++mismatches[t];
        }
        if (tree->sqlWhereCond("tbl_alm_log") != sql) ++mismatches[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace Kyrofm
