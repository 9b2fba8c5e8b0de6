// Explanation records: list operations against a model (ordered keys, each
// with its entry), the validity check at its boundaries, the CORBA round
// trips and the buffer's hash table against a per-bucket model.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <map>
#include <random>
#include <tuple>

#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/fmlog/AlmExp.h"
#include "fm_common/platform/CAlmIdAdpter.h"

using namespace Kyrofm;

namespace {

constexpr std::int32_t NOW = INT32_MIN;  // model marker: stamped by an update

int reasonAt(const AlmExp_t& e, long id) {  // index of the first reason with id, -1 when absent
  for (size_t i = 0; i < e.Reasons.size(); ++i)
    if (e.Reasons[i].ReasonID == id) return static_cast<int>(i);
  return -1;
}

AlmExpList expand(const AlmExpList& src) {
  AlmExpList out;
  for (const AlmExp_t& e : src) {
    if (e.Reasons.empty()) out.push_back(e);
    for (const ReasonInfo& r : e.Reasons) out.push_back(e), out.back().Reasons = {r};
  }
  return out;
}

struct Model {  // keys in first-seen order, one entry each
  std::vector<AlarmInfo_t> order;
  std::map<AlarmInfo_t, AlmExp_t> byKey;

  void add(const AlmExp_t& e) {
    auto it = byKey.find(e);
    if (e.Reasons.empty()) return;
    if (it == byKey.end()) order.push_back(e), byKey[e] = e;
    else if (reasonAt(it->second, e.Reasons[0].ReasonID) < 0) it->second.Reasons.push_back(e.Reasons[0]);
  }
  void del(const AlmExp_t& e) {
    auto it = byKey.find(e);
    if (e.Reasons.empty() || it == byKey.end()) return;
    auto& rs = it->second.Reasons;
    const long id = e.Reasons[0].ReasonID;
    rs.erase(std::remove_if(rs.begin(), rs.end(), [&](const ReasonInfo& r) { return r.ReasonID == id; }), rs.end());
    if (rs.empty()) byKey.erase(it), order.erase(std::find(order.begin(), order.end(), e));
  }
  void update(const AlmExp_t& e) {
    auto it = byKey.find(e);
    const int i = e.Reasons.empty() || it == byKey.end() ? -1 : reasonAt(it->second, e.Reasons[0].ReasonID);
    if (i < 0) return;
    AlmExp_t next = e;
    next.Reasons = it->second.Reasons;
    next.Reasons[static_cast<size_t>(i)] = e.Reasons[0];
    next.Reasons[static_cast<size_t>(i)].ExpTimeStamp = NOW, next.Reasons[static_cast<size_t>(i)].OperationType = 1;
    it->second = next;
  }
};

// Every member, a model stamp NOW matching any stamp in [t0, t1].
void expectSame(const AlmExp_t& w, const AlmExp_t& g, long t0, long t1) {
  ASSERT_EQ(std::tie(w.m_lGroupId, w.m_lAlarmId, w.Category, w.AlarmLevel, w.AlarmType, w.ClearCategory, w.AlarmName,
                     w.LinkType, w.RelativeAlmID, w.ClearStrategy, w.ReasonType),
            std::tie(g.m_lGroupId, g.m_lAlarmId, g.Category, g.AlarmLevel, g.AlarmType, g.ClearCategory, g.AlarmName,
                     g.LinkType, g.RelativeAlmID, g.ClearStrategy, g.ReasonType));
  ASSERT_EQ(w.Reasons.size(), g.Reasons.size());
  for (size_t i = 0; i < w.Reasons.size(); ++i) {
    const ReasonInfo &a = w.Reasons[i], &b = g.Reasons[i];
    EXPECT_TRUE(a.ExpTimeStamp == NOW ? b.ExpTimeStamp >= t0 && b.ExpTimeStamp <= t1 : a.ExpTimeStamp == b.ExpTimeStamp);
    EXPECT_EQ(std::tie(a.ReasonID, a.Explain, a.ClearAdvice, a.ExpFormat, a.AlarmGroupLabel, a.Meaning, a.MergeStrategy,
                       a.OperationType, a.DefineField),
              std::tie(b.ReasonID, b.Explain, b.ClearAdvice, b.ExpFormat, b.AlarmGroupLabel, b.Meaning, b.MergeStrategy,
                       b.OperationType, b.DefineField));
  }
}

struct Gen {
  std::mt19937 rng;
  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  std::string text(size_t limit) {  // empty, short, at or just past a limit
    static const std::string kUtf8 = "\xE5\x91\x8A\xE8\xAD\xA6";  // two CJK characters
    const std::string pool[] = {"", "t" + std::to_string(pick(9)) + kUtf8, std::string(limit, 'x'),
                                std::string(limit + 1, 'y'), "m" + std::to_string(pick(3))};
    return pool[pick(5)];
  }
  AlmExp_t entry() {
    AlmExp_t e;
    e.m_lGroupId = pick(8) == 0 ? -1 : pick(3), e.m_lAlarmId = pick(3);
    e.Category = static_cast<char>(pick(4)), e.AlarmLevel = static_cast<char>(pick(7));
    e.AlarmType = static_cast<char>(pick(14)), e.AlarmName = text(ALARM_NAME_MAX);
    e.LinkType = pick(3) - 1, e.ReasonType = pick(2);
    for (int n = pick(4); n > 0; --n) {
      ReasonInfo r;
      r.ReasonID = pick(4), r.Explain = text(ALARM_EXP_MAX), r.ClearAdvice = pick(4) ? "a" : text(ALARM_EXP_MAX);
      r.ExpFormat = pick(4) ? "" : text(ALARM_EXP_FORMAT_MAX), r.Meaning = text(3);
      r.ExpTimeStamp = pick(1000), r.OperationType = static_cast<std::uint8_t>(pick(4));
      e.Reasons.push_back(r);
    }
    return e;
  }
  AlmExpList list() {
    AlmExpList l;
    for (int n = pick(5); n > 0; --n) l.push_back(entry());
    return l;
  }
};

// checkAlmExp's rules, written from its contract.
long modelCheck(const AlmExp_t& e) {
  CRecStringMap* m = CRecStringMap::Instance();
  for (const ReasonInfo& r : e.Reasons) {
    if (r.OperationType == 3) continue;
    if (r.ReasonID == 0 && (e.AlarmName.empty() || e.AlarmName.size() > 150)) return 33021;
    if (r.ReasonID == 0 && !m->isAlmTypeValid(e.AlarmType)) return 33072;
    if (r.ReasonID == 0 && !m->isAlmLevelValid(e.AlarmLevel)) return 33074;
    if (r.Explain.size() > 4096 || r.ClearAdvice.size() > 4096 || r.ExpFormat.size() > 250 ||
        r.AlarmGroupLabel.size() > 250)
      return 33077;
  }
  return e.m_lGroupId < 0 ? 33021 : 33000;
}

class AlmExpRecords : public ::testing::Test {  // types 1..11, levels 1..4
 protected:
  void SetUp() override {
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
    CRecStringMap::Destroy(), CRecStringMap::Instance();
  }
  void TearDown() override { CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName(""); }
};

}  // namespace

TEST_F(AlmExpRecords, ListOperationsMatchModel) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    Gen g{std::mt19937(seed)};
    AlmExpList dst;
    Model model;
    const long t0 = std::time(nullptr);
    for (int step = 0; step < 12; ++step) {
      const AlmExpList src = g.list(), expanded = expand(src);
      switch (g.pick(5)) {
        case 0: combineExpList(src, dst); for (const AlmExp_t& e : expanded) model.add(e); break;
        case 1: combineExpListWithoutExpand(src, dst); for (const AlmExp_t& e : src) model.add(e); break;
        case 2: delFromExpList(src, dst); for (const AlmExp_t& e : src) model.del(e); break;
        case 3: updateToExpList(expanded, dst); for (const AlmExp_t& e : expanded) model.update(e); break;
        default: if (!src.empty()) addToExpList(src.front(), dst), model.add(src.front());
      }
    }
    const long t1 = std::time(nullptr);
    ASSERT_EQ(model.order.size(), dst.size()) << "seed " << seed;
    auto it = dst.begin();
    for (const AlarmInfo_t& k : model.order) expectSame(model.byKey[k], *it++, t0, t1);
  }
}

TEST_F(AlmExpRecords, SeqToListMatchesModelAndRoundTrips) {
  CAlmIdAdpter::SetAlmTypeMap({{13, 2}});  // a product type converted on entry
  for (unsigned seed = 1; seed <= 80; ++seed) {
    Gen g{std::mt19937(seed)};
    AlmExpList src = g.list();
    for (AlmExp_t& e : src)
      for (ReasonInfo& r : e.Reasons) r.MergeStrategy = 0, r.AlarmGroupLabel.clear();
    KyroExp::AlmExpSeq seq;
    ASSERT_EQ(33000, almExpListToSeq(src, seq));  // also for an empty list
    AlmExpList want = expand(src), got{AlmExp_t()}, lib{AlmExp_t()};
    AlmExpErrorMap wantErr, gotErr;
    expandExpList(src, lib);  // appends
    lib.pop_front();
    ASSERT_EQ(want.size(), lib.size());
    for (auto w = want.begin(), l = lib.begin(); w != want.end(); ++w, ++l) expectSame(*w, *l, 0, 0);
    for (auto it = want.begin(); it != want.end();) {  // what travels and what is checked
      it->ClearCategory = 1, it->RelativeAlmID = 0, it->ClearStrategy = 0;
      if (it->AlarmType == 13) it->AlarmType = 2;
      const long r = modelCheck(*it);
      if (r == 33000) { ++it; continue; }
      wantErr[r].push_back(*it);
      it = want.erase(it);
    }
    const long rc = almExpSeqToList(seq, got, gotErr, true);
    ASSERT_EQ(src.empty() ? 33044 : 33000, rc);
    if (src.empty()) { EXPECT_EQ(1u, got.size()); continue; }  // left untouched
    EXPECT_EQ(wantErr, gotErr) << "seed " << seed;
    ASSERT_EQ(want.size(), got.size()) << "seed " << seed;
    auto it = got.begin();
    for (const AlmExp_t& w : want) expectSame(w, *it++, 0, 0);

    KyroExp::NBAlmExpSeq nb;
    ASSERT_EQ(src.empty() ? 33044 : 33000, almExpListToSeqNB(src, nb));
    auto e = src.begin();
    for (CORBA::ULong i = 0; i < nb.length(); ++i, ++e) {
      ASSERT_EQ(e->Reasons.size(), nb[i].Reasons.length());
      for (CORBA::ULong k = 0; k < nb[i].Reasons.length(); ++k)
        EXPECT_EQ(e->AlarmName + e->Reasons[k].Meaning + e->Reasons[k].ClearAdvice,
                  std::string(nb[i].AlarmName) + nb[i].Reasons[k].Meaning.in() + nb[i].Reasons[k].ClearAdvice.in());
    }
  }
  CAlmIdAdpter::Clear();
}

TEST_F(AlmExpRecords, GroupLabelLimitInequalityAndDeletedAll) {
  AlmExp_t ok;
  ok.m_lGroupId = 1, ok.AlarmName = std::string(150, 'n'), ok.AlarmType = 1, ok.AlarmLevel = 1;
  ok.Reasons.resize(1);
  ok.Reasons[0].Explain = ok.Reasons[0].ClearAdvice = std::string(4096, 'e');
  ok.Reasons[0].ExpFormat = ok.Reasons[0].AlarmGroupLabel = std::string(250, 'f');
  // The other limits and codes are checked on random entries by SeqToListMatchesModel.
  EXPECT_EQ(33000, checkAlmExp(ok));
  AlmExp_t label = ok;
  label.Reasons[0].AlarmGroupLabel += 'x';
  EXPECT_EQ(33077, checkAlmExp(label));
  struct Diff { void (*edit)(AlmExp_t&); bool differs; } diffs[] = {
      {[](AlmExp_t& e) { e.m_lAlarmId = 2; }, true}, {[](AlmExp_t& e) { e.Category = 4; }, true},
      {[](AlmExp_t& e) { e.AlarmLevel = 2; }, true}, {[](AlmExp_t& e) { e.AlarmType = 2; }, true},
      {[](AlmExp_t& e) { e.AlarmName = "o"; }, true}, {[](AlmExp_t& e) { e.LinkType = 3; }, true},
      {[](AlmExp_t& e) { e.ReasonType = 3; }, true}, {[](AlmExp_t& e) { e.Reasons.emplace_back(); }, true},
      {[](AlmExp_t& e) { e.Reasons[0].ReasonID = 1; }, true}, {[](AlmExp_t& e) { e.Reasons[0].Explain = "x"; }, true},
      {[](AlmExp_t& e) { e.Reasons[0].ClearAdvice = "x"; }, true}, {[](AlmExp_t& e) { e.Reasons[0].ExpFormat = "x"; }, true},
      {[](AlmExp_t& e) { e.ClearCategory = 2, e.RelativeAlmID = 2, e.ClearStrategy = 2; }, false},
      {[](AlmExp_t& e) { auto& r = e.Reasons[0]; r.ExpTimeStamp = 9, r.AlarmGroupLabel = r.Meaning = "x"; }, false},
      {[](AlmExp_t& e) { auto& r = e.Reasons[0]; r.MergeStrategy = 1, r.OperationType = 3, r.DefineField = 1; }, false},
  };
  for (const Diff& c : diffs) {
    AlmExp_t e = ok;
    c.edit(e);
    EXPECT_EQ(c.differs, e != ok) << &c - diffs;
    EXPECT_EQ(c.differs, ok != e) << &c - diffs;
  }
  AlmExp_t d = ok;
  d.Reasons.emplace_back(), d.Reasons[1].OperationType = 3;  // one of two marked deleted
  EXPECT_EQ(33002, findDeletedAll(d));
  d.Reasons[0].OperationType = 3;
  EXPECT_EQ(33000, findDeletedAll(d));
}

TEST_F(AlmExpRecords, HashTableMatchesBucketModel) {
  std::mt19937 rng(7);
  AlmBasicExpTable table;
  std::vector<std::vector<AlarmInfo_t>> buckets(5000);  // insertion order per bucket
  const AlarmInfo_t fixed[] = {{0, 5000}, {500, 0}, {-1, 10}, {INT_MAX, INT_MIN}};
  for (int i = 0; i < 4000; ++i) {
    AlmBasicExp_t v;
    static_cast<AlarmInfo_t&>(v) = i < 4 ? fixed[i] : AlarmInfo_t(rng() % 700, rng() % 7000);
    auto& chain = buckets[(static_cast<std::uint32_t>(v.m_lGroupId) * 10u + static_cast<std::uint32_t>(v.m_lAlarmId)) % 5000];
    auto pos = std::find(chain.begin(), chain.end(), static_cast<AlarmInfo_t&>(v));
    if (rng() % 4 == 0) {
      EXPECT_EQ(pos != chain.end() ? 1u : 0u, table.erase(v));
      if (pos != chain.end()) chain.erase(pos);
    } else {
      auto [it, inserted] = table.insert_unique(v);
      EXPECT_EQ(pos == chain.end(), inserted);
      EXPECT_TRUE(it->m_lGroupId == v.m_lGroupId && it->m_lAlarmId == v.m_lAlarmId);
      if (inserted) chain.push_back(v);
    }
  }
  const AlmBasicExpTable copy(table);
  std::vector<AlarmInfo_t> want;
  for (auto& chain : buckets) want.insert(want.end(), chain.rbegin(), chain.rend());
  for (const AlmBasicExpTable* t : std::initializer_list<const AlmBasicExpTable*>{&table, &copy}) {
    ASSERT_EQ(want.size(), t->size());
    size_t i = 0;
    for (const AlmBasicExp_t& v : *t) EXPECT_TRUE(want[i++] == v);
    for (const AlarmInfo_t& k : want) EXPECT_NE(t->end(), t->find(k));
  }
  AlmBasicExpTable small(10);  // keys hashing past the last bucket are refused
  AlmBasicExp_t far;
  far.m_lAlarmId = 4999;
  EXPECT_FALSE(small.insert_unique(far).second);
  EXPECT_EQ(small.end(), small.find(far));
}
