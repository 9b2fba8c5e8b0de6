// Tests of the compiled operator tables of the leaves: for every code (and
// two bad ones) and value sets around the mask width and the ends of long,
// IntValueMatch and StrValueMatch answer as BasicExp::evaluateInt /
// evaluateStr and log the same lines; ContainsIndex finds what one search per
// value finds, on random overlapping patterns.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "FilterTestLeaves.h"
#include "fm_common/filter/FdnLeaves.h"
#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/LeafMatch.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

template <typename Match, typename Ref, typename Set, typename Probe>
void expectSameTable(const Set& sets, const Probe& probes) {
  fmtest::TraceCapture cap;
  for (int op = 0; op <= 13; ++op) {
    for (const auto& s : sets) {
      Ref ref("c", static_cast<char>(op), s);
      const Match built(static_cast<char>(op), s);
      const Match m = built;  // copies answer alike
      for (const auto& v : probes) {
        const size_t start = cap.sink().messages().size();
        const bool want = ref.eval(v);
        const size_t mid = cap.sink().messages().size();
        EXPECT_EQ(m(v), want) << "op " << op << " size " << s.size() << " value " << v;
        const auto all = cap.sink().messages();
        ASSERT_EQ(all.size() - mid, mid - start) << "op " << op;
        for (size_t i = 0; i < mid - start; ++i) EXPECT_EQ(all[mid + i].text, all[start + i].text);
      }
    }
  }
}

TEST(LeafMatchTest, IntTableAgreesWithEvaluateInt) {
  const std::vector<std::set<long>> sets = {{},      {5},        {-3, 60},       {0, 63},
                                            {0, 64}, {-1, 62},   {LONG_MIN, LONG_MAX}, {-1, 1, 200, 5000}};
  const std::vector<long> probes = {LONG_MIN, LONG_MIN + 1, -4, -3, -2, -1, 0, 1, 5, 60, 61,
                                    62,       63,           64, 65, 200, 5000, LONG_MAX - 1, LONG_MAX};
  expectSameTable<IntValueMatch, fmtest::TestIntLeaf>(sets, probes);
}

TEST(LeafMatchTest, StrTableAgreesWithEvaluateStr) {
  const std::vector<std::set<std::string>> sets = {
      {}, {""}, {"ab"}, {"", "b"}, {"a", "ab", "abc", "b", "ba", "\xC3\xBC", "zz"}, {"bc", "abcd", "cd", "xyz"}};
  const std::vector<std::string> probes = {"",   "a",    "ab",    "abc", "abcd", "b",  "ba", "bb",
                                           "xab", "zabcdz", "\xC3\xBC", "z",   "zz",  "zzz", "xy", "c"};
  expectSameTable<StrValueMatch, fmtest::TestStrLeaf>(sets, probes);
}

TEST(LeafMatchTest, ContainsIndexFindsWhatASearchPerValueFinds) {
  std::mt19937 rng(5);
  auto text = [&](size_t max) {
    std::string t(rng() % (max + 1), 'a');
    for (char& c : t) c = "abc\xFF"[rng() % 4];
    return t;
  };
  for (int round = 0; round < 400; ++round) {
    // Rounds below 50: one value in texts up to 40 bytes (blocks of 16
    // starts). Rounds 300 and up: 64 values or more, the shortest of 4 to 13 bytes
    // (hashed starts, probed at every 1st to 4th position), half of the
    // texts holding one of them whole or with a byte changed.
    std::set<std::string> values;
    const size_t n = round < 50 ? 1 : round < 300 ? 2 + rng() % (round < 150 ? 4 : 40) : 64 + rng() % 200;
    while (values.size() < n) {
      std::string v = round < 300 ? text(6) : text(4) + text(4) + text(round % 10);
      if (v.size() >= (round < 300 ? 1u : 4 + round % 10u)) values.insert(v);
    }
    ContainsIndex index(values);
    for (int k = 0; k < 40; ++k) {
      std::string t = text(round < 50 ? 40 : 12);
      if (round >= 300 && k % 2) t = text(3) + *std::next(values.begin(), k % n) + t.substr(0, k % 4);
      if (round >= 300 && k % 4 == 3) t[k % t.size()] ^= 1;
      bool want = false;
      for (const auto& v : values) want = want || (!t.empty() && t.find(v) != std::string::npos);
      ASSERT_EQ(index.foundIn(t), want) << "round " << round << " text " << t;
    }
  }
}

// Every needle length (word compares change at 4, 8, 16) in short texts and
// in texts around the 16-start blocks of the long ones, at every start, exact
// and with each byte changed.
TEST(LeafMatchTest, ContainsBytesAgreesWithFind) {
  for (size_t m = 0; m <= 20; ++m) {
    std::string needle;
    for (size_t k = 0; k < m; ++k) needle += "aQ\xC3\xBCz"[k % 5];
    for (size_t n = 0; n <= 100; n += n < 40 || n >= 60 ? 1 : 20) {
      for (size_t p = 0, miss = 0; p + m <= n; miss = miss == m ? (++p, 0) : miss + 1) {
        std::string text = std::string(n, 'x').replace(p, m, needle);
        if (miss < m) text[p + miss] = '\xFF';
        ASSERT_EQ(filterdetail::containsBytes(text, needle), text.find(needle) != std::string::npos) << m << n << p;
      }
      if (m > n) {
        EXPECT_FALSE(filterdetail::containsBytes(std::string(n, 'a'), needle));
      }
    }
  }
}

// Record texts inline and on the heap survive copies, moves and self-assignment.
TEST(LeafMatchTest, RecordTextsInlineAndOnTheHeap) {
  for (size_t len : {size_t{0}, AlmRecordText::INLINE, AlmRecordText::INLINE + 1, size_t{300}}) {
    const std::string t = std::string(len, 'q') + "Z";
    AlmRecord_t a, c, d;
    a.setLinkDn(std::string(60, 'o')), a.setExtendInfo(t), a.setLinkDn(t), a.setMoDn(t);
    a.setLinkDn(a.getLinkDn());
    AlmRecord_t b(a);
    c.setExtendInfo("short"), c = b, d.setMoDn(std::string(100, 'm')), d = std::move(b);
    AlmRecord_t e(std::move(c));
    for (const AlmRecord_t* r : {&a, &d, &e}) {
      EXPECT_EQ(std::string(r->getExtendInfo()) + r->getLinkDn() + std::string(r->getMoDnView()), t + t + t);
    }
  }
}

// The leaves the flat program runs without a virtual call read their own field:
// under NOT each answers the opposite over records whose fields vary by bit.
TEST(LeafMatchTest, ProgramReadsEachLeafsField) {
  CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
  CRecStringMap::Destroy(), CRecStringMap::Instance();
  std::vector<std::unique_ptr<BasicExp>> leaves;
  leaves.push_back(std::make_unique<LevelExp>("L", 1)), leaves.push_back(std::make_unique<AlarmTypeExp>("T", 1));
  leaves.push_back(std::make_unique<LinkTypeExp>("K", 1)), leaves.push_back(std::make_unique<AlmNETypeExp>("N", 1));
  leaves.push_back(std::make_unique<CsnExp>("C", 1)), leaves.push_back(std::make_unique<AlarmIDExp>("I", 1));
  leaves.push_back(std::make_unique<ExtendInfoExp>("E", 7)), leaves.push_back(std::make_unique<LinkObjectExp>("D", 7));
  for (unsigned k = 0; k < leaves.size(); ++k) {
    ASSERT_TRUE(leaves[k]->setFilter({k < 6 ? "2" : "hit"}, false)) << k;
    NotAlarmExp negated(leaves[k]->copy());
    for (unsigned bits = 0; bits < 256; ++bits) {
      auto v = [bits](unsigned i) { return 1 + (bits >> i & 1u); };
      AlmRecord_t r;
      r.setSeverity(static_cast<char>(v(0))), r.setAlarmType(v(1)), r.setLinkType(v(2)), r.setNEType(v(3));
      r.setLogId(v(4)), r.setAlarmId(v(5)), r.setExtendInfo(v(6) == 2 ? "a hit" : "a"), r.setLinkDn(v(7) == 2 ? "hit" : "");
      ASSERT_EQ(negated.evaluate(r), v(k) == 1) << "leaf " << k << " bits " << bits;
    }
  }
  CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName("");
}

}  // namespace
}  // namespace Kyrofm
