// Tests of the value records: key orderings and copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <random>
#include <set>

#include "fm_common/fmcommon/FMValueTypes.h"

namespace Kyrofm {
namespace {

// Checks that `less` is a strict weak ordering consistent with ==: exactly
// one of a < b, b < a, a == b holds for every pair.
template <typename T>
void expectTrichotomy(const std::vector<T>& values) {
  for (const auto& a : values) {
    for (const auto& b : values) {
      const int n = (a < b ? 1 : 0) + (b < a ? 1 : 0) + (a == b ? 1 : 0);
      EXPECT_EQ(n, 1);
      EXPECT_EQ(a != b, !(a == b));
    }
  }
}

TEST(ValueTypesTest, AlarmInfoOrdering) {
  EXPECT_LT(AlarmInfo_t(1, 5), AlarmInfo_t(2, 0));
  EXPECT_LT(AlarmInfo_t(-1, 9), AlarmInfo_t(0, 0));
  EXPECT_LT(AlarmInfo_t(3, -1), AlarmInfo_t(3, 0));
  EXPECT_EQ(AlarmInfo_t(), AlarmInfo_t(0, 0));
  EXPECT_NE(AlarmInfo_t(1, 2), AlarmInfo_t(2, 1));
  expectTrichotomy<AlarmInfo_t>({{0, 0}, {1, 5}, {2, 0}, {-1, 9}, {LONG_MIN, LONG_MAX}, {LONG_MAX, LONG_MIN}});
}

TEST(ValueTypesTest, AlarmInfoExOrdersByAllThree) {
  const AlarmInfoEx_t d;
  EXPECT_EQ(d.m_lReasonId, 0);
  EXPECT_EQ(AlarmInfoEx_t(AlarmInfo_t(1, 2), 3), AlarmInfoEx_t(1, 2, 3));
  EXPECT_NE(AlarmInfoEx_t(1, 2, 3), AlarmInfoEx_t(1, 2, 4));
  EXPECT_LT(AlarmInfoEx_t(1, 2, 9), AlarmInfoEx_t(1, 3, 0));
  EXPECT_LT(AlarmInfoEx_t(1, -1, 5), AlarmInfoEx_t(1, 0, 0));
  EXPECT_LT(AlarmInfoEx_t(1, 2, -3), AlarmInfoEx_t(1, 2, 3));
  std::map<AlarmInfoEx_t, int> m;
  m[AlarmInfoEx_t(1, 2, 3)] = 1;
  m[AlarmInfoEx_t(1, 2, 4)] = 2;
  m[AlarmInfoEx_t(1, 2, 3)] = 3;
  EXPECT_EQ(m.size(), 2u);
  expectTrichotomy<AlarmInfoEx_t>({{0, 0, 0}, {1, 2, 3}, {1, 2, 4}, {1, -1, 5}, {0, 0, -1}});
}

TEST(ValueTypesTest, CommonKeyOrdersByLengthThenValues) {
  SCommonKey five;
  five.m_lstKey = {5};
  EXPECT_LT(five, SCommonKey(1, 1));
  EXPECT_FALSE(SCommonKey(1, 1) < five);
  EXPECT_LT(SCommonKey(1, 2), SCommonKey(1, 3));
  EXPECT_LT(SCommonKey(-1, 9), SCommonKey(0, 0));
  SCommonKey e1, e2;
  EXPECT_EQ(e1, e2);
  EXPECT_FALSE(e1 < e2);
  EXPECT_FALSE(e2 < e1);
  SCommonKey copy(SCommonKey(4, 5));
  EXPECT_EQ(copy.m_lstKey, (std::list<long>{4, 5}));
  SCommonKey three;
  three.m_lstKey = {0, 0, 0};
  expectTrichotomy<SCommonKey>({e1, five, SCommonKey(1, 1), SCommonKey(1, 2), SCommonKey(2, 1), three});
}

TEST(ValueTypesTest, ComFdnInfoDefaultsAndOrdering) {
  ComFdnInfo_t d;
  EXPECT_EQ(d, ComFdnInfo_t(0, "0"));
  EXPECT_FALSE(d < ComFdnInfo_t(0, "0"));
  EXPECT_LT(ComFdnInfo_t(-1, "z"), ComFdnInfo_t(0, "a"));
  EXPECT_LT(ComFdnInfo_t(1, "NE=1"), ComFdnInfo_t(1, "NE=10"));
  EXPECT_LT(ComFdnInfo_t(1, "NE=2"), ComFdnInfo_t(1, "NE=\x80"));  // byte-wise
  expectTrichotomy<ComFdnInfo_t>({d, {0, ""}, {1, "a"}, {1, "b"}, {-5, "0"}});
}

TEST(ValueTypesTest, ProcInfoIsLexicographic) {
  EXPECT_EQ(SProcInfo(1, 2, 3, 4), SProcInfo(1, 2, 3, 4));
  EXPECT_LT(SProcInfo(1, 2, 3, 4), SProcInfo(1, 2, 3, 5));
  EXPECT_LT(SProcInfo(1, 2, 3, 9), SProcInfo(1, 2, 4, 0));
  EXPECT_LT(SProcInfo(0, 9, 9, 9), SProcInfo(1, 0, 0, 0));
  EXPECT_LT(SProcInfo(-1, 0, 0, 0), SProcInfo(0, 0, 0, 0));
  // A random sample sorts consistently with a tuple order.
  std::mt19937 gen(3);
  std::uniform_int_distribution<long> v(-2, 2);
  std::vector<SProcInfo> sample;
  for (int i = 0; i < 60; ++i) sample.emplace_back(v(gen), v(gen), v(gen), v(gen));
  expectTrichotomy(sample);
  std::sort(sample.begin(), sample.end());
  for (size_t i = 1; i < sample.size(); ++i) EXPECT_FALSE(sample[i] < sample[i - 1]);
}

TEST(ValueTypesTest, FieldConditionDefaults) {
  FieldCond_t d;
  EXPECT_EQ(d.m_cOperator, 1);
  EXPECT_TRUE(d.m_strCondName.empty());
  EXPECT_TRUE(d.m_lstValues.empty());
  FieldCond_t c("c1", "LEVEL", 10);
  EXPECT_EQ(c.m_strFieldName, "LEVEL");
  EXPECT_EQ(c.m_cOperator, 10);
  EXPECT_TRUE(c.m_lstValues.empty());
}

TEST(ValueTypesTest, CopiesAreDeepAndSelfAssignmentIsANoOp) {
  CAlarmRedefineAttr a;
  a.m_AlarmInfo = AlarmInfo_t(3, 4);
  a.m_NewName = "renamed";
  a.m_Active = 1;
  a.m_lstNeTypes = {1, 2, 3};
  a.m_Time = CNMTime("1,2", "08001800");
  CAlarmRedefineAttr b = a;
  b.m_lstNeTypes.push_back(4);
  b.m_Time.m_strPeriod.clear();
  EXPECT_EQ(a.m_lstNeTypes.size(), 3u);
  EXPECT_EQ(a.m_Time.m_strPeriod, "08001800");
  CAlarmRedefineAttr& self = a;
  a = self;
  EXPECT_EQ(a.m_NewName, "renamed");
  EXPECT_EQ(a.m_lstNeTypes, (std::list<long>{1, 2, 3}));

  NEStatus_t ne;
  ne.m_lstBoards.push_back(boardStatInfo_t{"Board=1", {FMBoardAlarmInfo{2, "x"}}});
  NEStatus_t ne2;
  ne2 = ne;
  ne2.m_lstBoards.front().m_lstAlarms.clear();
  EXPECT_EQ(ne.m_lstBoards.front().m_lstAlarms.size(), 1u);

  SynAlm_t syn;
  AlmRecord_t r;
  r.setDevCsn(7);
  syn.m_mapAlarms.emplace(0, r);
  syn.m_mapAlarms.emplace(0, r);  // device CSN 0 may repeat
  SynAlm_t syn2 = syn;
  EXPECT_EQ(syn2.m_mapAlarms.count(0), 2u);

  EXPECT_LT(CNMTime("1", "x"), CNMTime("2", ""));
  EXPECT_EQ(CNMTime("1", "x"), CNMTime("1", "x"));
  ActiveAlarm_t act;
  EXPECT_EQ(sizeof(act.m_iValues), 12 * 4u);
}

}  // namespace
}  // namespace Kyrofm
