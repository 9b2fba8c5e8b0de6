// AlarmExp.cpp: the filter tree in memory: combinators, constants, the
// operator table of the field leaves, copy and replace.
//
// copy() and replace() are the only ways to duplicate a tree. They build the
// new tree bottom-up in std::unique_ptr and release the root to the caller only
// when every node was made, so a failure (out of memory) leaks nothing and
// never yields a tree with a silently missing child. Combinators are walked
// with explicit stacks (see the tree walkers), so no depth overflows the
// thread's stack.
#include "fm_common/filter/AlarmExp.h"

#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "fm_common/filter/LeafMatch.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// Priority used to order a missing child after any present one.
int priorityOf(const std::unique_ptr<AlarmExp>& e) { return e ? e->getPriority() : -1; }

// A missing child is no condition: it accepts every alarm.
bool matchAllOf(const std::unique_ptr<AlarmExp>& e) { return e ? e->isMatchAll() : true; }

bool containsAny(const std::string& v, const std::set<std::string>& values) {
  if (v.empty()) return false;
  for (const auto& s : values) {
    if (v.find(s) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// AlarmExp

std::string AlarmExp::combineCondition(const std::string& a, const std::string& b, const std::string& op) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return " ( ( " + a + " ) " + op + " ( " + b + " ) ) ";
}

// ---------------------------------------------------------------------------
// BasicExp

AlarmExp* BasicExp::replace(const std::string& condName, const AlarmExp* exp) const {
  try {
    if (m_strCondName != condName) return copy();
    if (exp == nullptr) {
      FM_TRACE(TRACE_ERROR, "BasicExp::replace, exp is null, condName:%s", condName.c_str());
      return nullptr;
    }
    return exp->copy();
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "BasicExp::replace, exception: %s", e.what());
    return nullptr;
  }
}

bool BasicExp::evaluateInt(long v, const std::set<long>& values) const {
  if (values.empty()) return true;
  const long first = *values.begin();
  const long last = *values.rbegin();
  switch (m_cOperator) {
    case 1:
    case 7:
    case 8:
    case 11:
    case 12:
      return values.count(v) != 0;
    case 2:
    case 9:
      return values.count(v) == 0;
    case 3:
      return v > last;
    case 4:
      return v >= last;
    case 5:
      return v < first;
    case 6:
      return v <= first;
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, between param error!");
        return v >= first;
      }
      return v >= first && v <= last;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateInt, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

bool BasicExp::evaluateStr(const std::string& v, const std::set<std::string>& values) const {
  if (values.empty()) return true;
  const std::string& first = *values.begin();
  const std::string& last = *values.rbegin();
  switch (m_cOperator) {
    case 1:
    case 8:
      return values.count(v) != 0;
    case 2:
      return values.count(v) == 0;
    case 3:
      return v > last;
    case 4:
      return v >= last;
    case 5:
      return v < first;
    case 6:
      return v <= first;
    case 7:
    case 11:
    case 12:
      return containsAny(v, values);
    case 9:
      return !containsAny(v, values);
    case 10:
      if (values.size() == 1) {
        FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, between param error!");
        return v >= first;
      }
      return v >= first && v <= last;
    default:
      FM_TRACE(TRACE_ERROR, "BasicExp::evaluateStr, op:%d error!", static_cast<int>(m_cOperator));
      return false;
  }
}

// ---------------------------------------------------------------------------
// Tree walkers
//
// The combinators never recurse into each other: the compiler of the flat
// program, copy/replace, the limit count and the destructors below walk
// And/Or/Not nodes with explicit stacks and call leaves through their virtual
// operations.

// The evaluation form of a tree: one step per leaf, in no particular order.
// Running a step evaluates its leaf and continues at onTrue or onFalse, a
// step number or one of the two final answers. Built by compile(), never
// changed afterwards.
//
// A step whose matcher is an integer interval or a one-value "contains"
// keeps a copy of it (the form INTERVAL or CONTAINS_ONE) and answers from
// the copy without reading the matcher, as long as no matcher that a program
// copied was replaced since the program was built (MatchCopyWatch); after
// that the program calls its matchers.
struct FlatFilter {
  static constexpr uint32_t ACCEPT = 0xFFFFFFFFu;
  static constexpr uint32_t REJECT = 0xFFFFFFFEu;
  struct Step {
    enum Form : unsigned char { CALL, INTERVAL, CONTAINS_ONE };
    const AlarmExp* leaf;
    const void* match;  // the leaf's matcher when field is not NONE
    uint32_t onTrue;
    uint32_t onFalse;
    LeafFieldTest::Field field;
    Form form = CALL;
    IntValueMatch::Interval interval{};  // INTERVAL
    std::string_view needle;             // CONTAINS_ONE: the matcher's value
  };
  std::vector<Step> steps;
  uint32_t entry = ACCEPT;
  uint64_t replacements = 0;  // MatchCopyWatch::replacements() before the copies were taken
};

namespace {

bool isCombinator(const AlarmExp* e) { return e->getNodeKind() != AlarmExp::NodeKind::LEAF; }

}  // namespace

// Friend of the combinators: reaches their children for the walkers.
struct AlarmExpTreeOps {
  static const AlarmExp* first(const AlarmExp* e) {
    return e->getNodeKind() == AlarmExp::NodeKind::AND ? static_cast<const AndAlarmExp*>(e)->m_pFirst.get()
                                                       : static_cast<const OrAlarmExp*>(e)->m_pFirst.get();
  }
  static const AlarmExp* second(const AlarmExp* e) {
    return e->getNodeKind() == AlarmExp::NodeKind::AND ? static_cast<const AndAlarmExp*>(e)->m_pSecond.get()
                                                       : static_cast<const OrAlarmExp*>(e)->m_pSecond.get();
  }
  static const AlarmExp* child(const AlarmExp* e) { return static_cast<const NotAlarmExp*>(e)->m_pChild.get(); }

  // Moves the children of combinator `e` into `out` (second, then first, so
  // that the first is taken first from the back).
  static void detach(AlarmExp* e, std::vector<std::unique_ptr<AlarmExp>>& out) {
    switch (e->getNodeKind()) {
      case AlarmExp::NodeKind::AND:
        out.push_back(std::move(static_cast<AndAlarmExp*>(e)->m_pSecond));
        out.push_back(std::move(static_cast<AndAlarmExp*>(e)->m_pFirst));
        break;
      case AlarmExp::NodeKind::OR:
        out.push_back(std::move(static_cast<OrAlarmExp*>(e)->m_pSecond));
        out.push_back(std::move(static_cast<OrAlarmExp*>(e)->m_pFirst));
        break;
      case AlarmExp::NodeKind::NOT:
        out.push_back(std::move(static_cast<NotAlarmExp*>(e)->m_pChild));
        break;
      default:
        break;
    }
  }

  // Deletes the subtrees held in `a` and `b` (a first) without recursion: a
  // combinator is emptied of its children before it is deleted. Should the
  // work list not grow (out of memory), the rest is deleted recursively.
  static void dismantle(std::unique_ptr<AlarmExp>& a, std::unique_ptr<AlarmExp>& b) {
    if ((!a || !isCombinator(a.get())) && (!b || !isCombinator(b.get()))) {
      a.reset();
      b.reset();
      return;
    }
    try {
      std::vector<std::unique_ptr<AlarmExp>> pending;
      pending.push_back(std::move(b));
      pending.push_back(std::move(a));
      while (!pending.empty()) {
        std::unique_ptr<AlarmExp> e = std::move(pending.back());
        pending.pop_back();
        if (e && isCombinator(e.get())) detach(e.get(), pending);
      }
    } catch (...) {
      a.reset();
      b.reset();
    }
  }

  // The program of the tree under `root`. A node compiled with the targets
  // (t, f) continues at t when it is true and at f when it is false; a leaf
  // becomes a step with those targets, Not swaps them, And(a, b) compiles b
  // with (t, f) and then a with (b's entry, f), Or(a, b) compiles a with (t,
  // b's entry). The program thus evaluates the leaves in the order and with
  // the short cuts of the tree (first child first, second child only when
  // the first does not decide). A missing child folds into the targets:
  // And(null, b) is b, Or with a missing child is true once its first child
  // (if any) was evaluated, Not(null) is false.
  static FlatFilter compile(const AlarmExp* root) {
    struct Frame {
      const AlarmExp* node;
      uint32_t t;
      uint32_t f;
      bool secondDone;  // the second child is compiled; its entry is in `ret`
    };
    FlatFilter prog;
    prog.replacements = MatchCopyWatch::replacements();
    std::vector<Frame> frames;
    frames.push_back(Frame{root, FlatFilter::ACCEPT, FlatFilter::REJECT, false});
    uint32_t ret = FlatFilter::ACCEPT;  // entry of the node compiled last
    while (!frames.empty()) {
      Frame fr = frames.back();
      frames.pop_back();
      const AlarmExp::NodeKind kind = fr.node->getNodeKind();
      if (kind == AlarmExp::NodeKind::LEAF) {
        ret = static_cast<uint32_t>(prog.steps.size());
        const LeafFieldTest test = fr.node->fieldTest();
        FlatFilter::Step step{};
        step.leaf = fr.node, step.match = test.match, step.onTrue = fr.t, step.onFalse = fr.f, step.field = test.field;
        copyTest(step);
        prog.steps.push_back(step);
        continue;
      }
      if (kind == AlarmExp::NodeKind::NOT) {
        if (const AlarmExp* c = child(fr.node)) {
          frames.push_back(Frame{c, fr.f, fr.t, false});
        } else {
          ret = fr.f;
        }
        continue;
      }
      const bool isAnd = kind == AlarmExp::NodeKind::AND;
      const AlarmExp* a = first(fr.node);
      const AlarmExp* b = second(fr.node);
      if (fr.secondDone) {
        // The first child takes the node's place; its entry is the node's.
        frames.push_back(Frame{a, isAnd ? ret : fr.t, isAnd ? fr.f : ret, false});
      } else if (!a) {
        if (isAnd && b) {
          frames.push_back(Frame{b, fr.t, fr.f, false});
        } else {
          ret = fr.t;
        }
      } else if (!b) {
        frames.push_back(Frame{a, fr.t, isAnd ? fr.f : fr.t, false});
      } else {
        frames.push_back(Frame{fr.node, fr.t, fr.f, true});
        frames.push_back(Frame{b, fr.t, fr.f, false});
      }
    }
    prog.entry = ret;
    return prog;
  }

  // Gives step `s` the INTERVAL or CONTAINS_ONE form when its matcher has one.
  static void copyTest(FlatFilter::Step& s) {
    if (s.field >= LeafFieldTest::EXTEND_INFO) {
      if (const std::string* value = static_cast<const StrValueMatch*>(s.match)->copyContainsOne()) {
        s.form = FlatFilter::Step::CONTAINS_ONE;
        s.needle = *value;
      }
    } else if (s.field != LeafFieldTest::NONE) {
      if (static_cast<const IntValueMatch*>(s.match)->copyInterval(s.interval)) s.form = FlatFilter::Step::INTERVAL;
    }
  }

  static std::string_view textField(LeafFieldTest::Field f, const AlmRecord_t& r) {
    return f == LeafFieldTest::EXTEND_INFO ? r.getExtendInfoView() : r.getLinkDnView();
  }

  // One step's answer: from the step's copy (kCopies), by the field read and
  // matched here, or by the leaf's evaluate(). A copied test on the level
  // (the field most filters test) or on a text reads its field without the
  // switch over the other numbers, whose indirect jump would follow the
  // record's path through the program. Each matcher is expanded once.
  template <bool kCopies>
  static bool test(const FlatFilter::Step& s, const AlmRecord_t& r) {
    if (kCopies && s.form == FlatFilter::Step::INTERVAL && s.field == LeafFieldTest::LEVEL) {
      return s.interval.accepts(r.getLevel());
    }
    if (kCopies && s.form == FlatFilter::Step::CONTAINS_ONE) {
      return StrValueMatch::containsOne(textField(s.field, r), s.needle);
    }
    if (s.field >= LeafFieldTest::EXTEND_INFO) return (*static_cast<const StrValueMatch*>(s.match))(textField(s.field, r));
    long v;
    switch (s.field) {
      case LeafFieldTest::LEVEL:
        v = r.getLevel();
        break;
      case LeafFieldTest::ALARM_TYPE:
        v = r.getAlarmType();
        break;
      case LeafFieldTest::LINK_TYPE:
        v = r.getLinkType();
        break;
      case LeafFieldTest::NE_TYPE:
        v = r.getNEType();
        break;
      case LeafFieldTest::LOG_ID:
        v = r.getLogId();
        break;
      case LeafFieldTest::ALARM_ID:
        v = r.getAlarmId();
        break;
      default:
        return s.leaf->evaluate(r);
    }
    if (kCopies && s.form == FlatFilter::Step::INTERVAL) return s.interval.accepts(v);
    return (*static_cast<const IntValueMatch*>(s.match))(v);
  }

  template <bool kTrackLast, bool kCopies>
  static bool runSteps(const FlatFilter& prog, const AlmRecord_t& record, const AlarmExp** last) {
    const FlatFilter::Step* steps = prog.steps.data();
    uint32_t at = prog.entry;
    while (at < FlatFilter::REJECT) {
      const FlatFilter::Step& s = steps[at];
      at = test<kCopies>(s, record) ? s.onTrue : s.onFalse;
      if constexpr (kTrackLast) *last = s.leaf;
    }
    return at == FlatFilter::ACCEPT;
  }

  // Runs `prog` for `record`. With kTrackLast, *last receives the last leaf
  // evaluated (findDecidingLeaf); evaluate() runs without that store.
  template <bool kTrackLast = false>
  static bool run(const FlatFilter& prog, const AlmRecord_t& record, const AlarmExp** last = nullptr) {
    if (prog.replacements == MatchCopyWatch::replacements()) return runSteps<kTrackLast, true>(prog, record, last);
    return runCalling<kTrackLast>(prog, record, last);
  }

  // The program of a tree whose copies may be out of date: kept out of the
  // callers, which it would only make larger.
  template <bool kTrackLast>
  [[gnu::noinline, gnu::cold]] static bool runCalling(const FlatFilter& prog, const AlmRecord_t& record,
                                                      const AlarmExp** last) {
    return runSteps<kTrackLast, false>(prog, record, last);
  }

  // The program slot of combinator `e`.
  static const FlatFilterSlot& slot(const AlarmExp* e) {
    switch (e->getNodeKind()) {
      case AlarmExp::NodeKind::AND:
        return static_cast<const AndAlarmExp*>(e)->m_program;
      case AlarmExp::NodeKind::OR:
        return static_cast<const OrAlarmExp*>(e)->m_program;
      default:
        return static_cast<const NotAlarmExp*>(e)->m_program;
    }
  }

  // evaluate() of a whole tree; *last receives the last leaf evaluated.
  static bool evaluate(const AlarmExp* node, const AlmRecord_t& record, const AlarmExp** last) {
    if (!isCombinator(node)) {
      *last = node;
      return node->evaluate(record);
    }
    return run<true>(slot(node).get(node), record, last);
  }

  static long limitCount(const AlarmExp* root) {
    // Post-order: (node, stage) frames and a stack of subtree counts.
    std::vector<std::pair<const AlarmExp*, bool>> frames;
    std::vector<long> counts;
    frames.emplace_back(root, false);
    while (!frames.empty()) {
      auto [node, done] = frames.back();
      frames.pop_back();
      const AlarmExp::NodeKind kind = node->getNodeKind();
      if (kind == AlarmExp::NodeKind::LEAF) {
        counts.push_back(node->getSqlWhereCondLimitCount());
        continue;
      }
      if (!done) {
        frames.emplace_back(node, true);
        if (kind == AlarmExp::NodeKind::NOT) {
          if (child(node)) frames.emplace_back(child(node), false);
        } else {
          if (second(node)) frames.emplace_back(second(node), false);
          if (first(node)) frames.emplace_back(first(node), false);
        }
        continue;
      }
      if (kind == AlarmExp::NodeKind::NOT) {
        if (!child(node)) counts.push_back(0);
        continue;  // the child's count stands for the node
      }
      long b = 0;
      long a = 0;
      // first was pushed last, so it completed first: second's count is on top.
      if (second(node)) {
        b = counts.back();
        counts.pop_back();
      }
      if (first(node)) {
        a = counts.back();
        counts.pop_back();
      }
      counts.push_back(kind == AlarmExp::NodeKind::AND ? (a > b ? a : b) : a + b);
    }
    return counts.empty() ? 0 : counts.back();
  }

  // copy() (condName null) or replace() of a whole tree: post-order, the
  // second child before the first, each combinator rebuilt through its
  // ordering constructor. Null (logged) when any leaf's copy failed.
  static AlarmExp* duplicate(const char* what, const AlarmExp* root, const std::string* condName,
                             const AlarmExp* exp) {
    try {
      std::vector<std::pair<const AlarmExp*, bool>> frames;
      std::vector<std::unique_ptr<AlarmExp>> built;
      frames.emplace_back(root, false);
      while (!frames.empty()) {
        auto [node, done] = frames.back();
        frames.pop_back();
        const AlarmExp::NodeKind kind = node->getNodeKind();
        if (kind == AlarmExp::NodeKind::LEAF) {
          std::unique_ptr<AlarmExp> e(condName ? node->replace(*condName, exp) : node->copy());
          if (!e) {
            FM_TRACE(TRACE_ERROR, "%s, child failed", what);
            return nullptr;
          }
          built.push_back(std::move(e));
          continue;
        }
        if (!done) {
          frames.emplace_back(node, true);
          if (kind == AlarmExp::NodeKind::NOT) {
            if (child(node)) frames.emplace_back(child(node), false);
          } else {
            // Pushed first, processed last: the second child goes first.
            if (first(node)) frames.emplace_back(first(node), false);
            if (second(node)) frames.emplace_back(second(node), false);
          }
          continue;
        }
        if (kind == AlarmExp::NodeKind::NOT) {
          std::unique_ptr<AlarmExp> c;
          if (child(node)) {
            c = std::move(built.back());
            built.pop_back();
          }
          built.push_back(std::make_unique<NotAlarmExp>(std::move(c)));
          continue;
        }
        std::unique_ptr<AlarmExp> f;
        std::unique_ptr<AlarmExp> s;
        if (first(node)) {
          f = std::move(built.back());
          built.pop_back();
        }
        if (second(node)) {
          s = std::move(built.back());
          built.pop_back();
        }
        if (kind == AlarmExp::NodeKind::AND) {
          built.push_back(std::make_unique<AndAlarmExp>(std::move(f), std::move(s)));
        } else {
          built.push_back(std::make_unique<OrAlarmExp>(std::move(f), std::move(s)));
        }
      }
      return built.back().release();
    } catch (const std::exception& e) {
      FM_TRACE(TRACE_ERROR, "%s, exception: %s", what, e.what());
      return nullptr;
    }
  }
};

FlatFilterSlot::~FlatFilterSlot() { delete m_pProgram.load(std::memory_order_acquire); }

const FlatFilter& FlatFilterSlot::build(const AlarmExp* root) const {
  auto built = std::make_unique<FlatFilter>(AlarmExpTreeOps::compile(root));
  const FlatFilter* expected = nullptr;
  if (m_pProgram.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel,
                                         std::memory_order_acquire)) {
    return *built.release();
  }
  return *expected;  // another thread's program, identical to ours
}

const AlarmExp* findDecidingLeaf(const AlarmExp& root, const AlmRecord_t& record, bool& result) {
  const AlarmExp* last = nullptr;
  result = AlarmExpTreeOps::evaluate(&root, record, &last);
  return last;
}

// ---------------------------------------------------------------------------
// AndAlarmExp

AndAlarmExp::AndAlarmExp(AlarmExp* a, AlarmExp* b)
    : AndAlarmExp(std::unique_ptr<AlarmExp>(a), std::unique_ptr<AlarmExp>(b)) {}

AndAlarmExp::AndAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b) {
  setNodeKind(NodeKind::AND);
  if (priorityOf(a) >= priorityOf(b)) {
    m_pFirst = std::move(a);
    m_pSecond = std::move(b);
  } else {
    m_pFirst = std::move(b);
    m_pSecond = std::move(a);
  }
  setMatchAll(matchAllOf(m_pFirst) && matchAllOf(m_pSecond));
}

AndAlarmExp::~AndAlarmExp() { AlarmExpTreeOps::dismantle(m_pFirst, m_pSecond); }

bool AndAlarmExp::evaluate(const AlmRecord_t& record) const {
  return AlarmExpTreeOps::run(m_program.get(this), record);
}

long AndAlarmExp::getSqlWhereCondLimitCount() const { return AlarmExpTreeOps::limitCount(this); }

AlarmExp* AndAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  return AlarmExpTreeOps::duplicate("AndAlarmExp::replace", this, &condName, exp);
}

AlarmExp* AndAlarmExp::copy() const { return AlarmExpTreeOps::duplicate("AndAlarmExp::copy", this, nullptr, nullptr); }

// ---------------------------------------------------------------------------
// OrAlarmExp

OrAlarmExp::OrAlarmExp(AlarmExp* a, AlarmExp* b)
    : OrAlarmExp(std::unique_ptr<AlarmExp>(a), std::unique_ptr<AlarmExp>(b)) {}

OrAlarmExp::OrAlarmExp(std::unique_ptr<AlarmExp> a, std::unique_ptr<AlarmExp> b) {
  setNodeKind(NodeKind::OR);
  if (priorityOf(a) >= priorityOf(b)) {
    m_pFirst = std::move(a);
    m_pSecond = std::move(b);
  } else {
    m_pFirst = std::move(b);
    m_pSecond = std::move(a);
  }
  setMatchAll(matchAllOf(m_pFirst) || matchAllOf(m_pSecond));
}

OrAlarmExp::~OrAlarmExp() { AlarmExpTreeOps::dismantle(m_pFirst, m_pSecond); }

bool OrAlarmExp::evaluate(const AlmRecord_t& record) const {
  return AlarmExpTreeOps::run(m_program.get(this), record);
}

long OrAlarmExp::getSqlWhereCondLimitCount() const { return AlarmExpTreeOps::limitCount(this); }

AlarmExp* OrAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  return AlarmExpTreeOps::duplicate("OrAlarmExp::replace", this, &condName, exp);
}

AlarmExp* OrAlarmExp::copy() const { return AlarmExpTreeOps::duplicate("OrAlarmExp::copy", this, nullptr, nullptr); }

// ---------------------------------------------------------------------------
// NotAlarmExp

NotAlarmExp::NotAlarmExp(AlarmExp* child) : NotAlarmExp(std::unique_ptr<AlarmExp>(child)) {}

NotAlarmExp::NotAlarmExp(std::unique_ptr<AlarmExp> child) : m_pChild(std::move(child)) {
  setNodeKind(NodeKind::NOT);
}

NotAlarmExp::~NotAlarmExp() {
  std::unique_ptr<AlarmExp> none;
  AlarmExpTreeOps::dismantle(m_pChild, none);
}

bool NotAlarmExp::evaluate(const AlmRecord_t& record) const {
  return AlarmExpTreeOps::run(m_program.get(this), record);
}

long NotAlarmExp::getSqlWhereCondLimitCount() const { return AlarmExpTreeOps::limitCount(this); }

AlarmExp* NotAlarmExp::replace(const std::string& condName, const AlarmExp* exp) const {
  return AlarmExpTreeOps::duplicate("NotAlarmExp::replace", this, &condName, exp);
}

AlarmExp* NotAlarmExp::copy() const { return AlarmExpTreeOps::duplicate("NotAlarmExp::copy", this, nullptr, nullptr); }

// ---------------------------------------------------------------------------
// ConstantExp

bool ConstantExp::evaluate(const AlmRecord_t&) const { return m_bValue; }

AlarmExp* ConstantExp::replace(const std::string&, const AlarmExp*) const { return copy(); }

AlarmExp* ConstantExp::copy() const {
  try {
    return new ConstantExp(*this);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "ConstantExp::copy, exception: %s", e.what());
    return nullptr;
  }
}

}  // namespace Kyrofm
