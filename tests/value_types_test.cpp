// Tests of the value records' key orderings: each operator< and operator==
// against a reference key over every pair of a sample with equal, negative and
// extreme members.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>
#include <tuple>

#include "fm_common/fmcommon/FMValueTypes.h"

namespace Kyrofm {
namespace {

// Every pair of `values` compares as its reference keys do.
template <typename T, typename Key>
void expectOrderedLike(const std::vector<T>& values, Key key) {
  for (const auto& a : values) {
    for (const auto& b : values) {
      EXPECT_EQ(a < b, key(a) < key(b)) << ::testing::PrintToString(key(a)) << " " << ::testing::PrintToString(key(b));
      EXPECT_EQ(a == b, key(a) == key(b));
      EXPECT_EQ(a != b, key(a) != key(b));
    }
  }
}

TEST(ValueTypesTest, KeysOrderLikeTheirFields) {
  std::mt19937 gen(3);
  std::uniform_int_distribution<long> v(-2, 2);
  std::vector<AlarmInfoEx_t> ex{{LONG_MIN, LONG_MAX, 0}, {LONG_MAX, LONG_MIN, -1}};
  std::vector<SProcInfo> proc;
  std::vector<SCommonKey> common(3);
  common[1].m_lstKey = {5};
  common[2].m_lstKey = {0, 0, 0};
  std::vector<ComFdnInfo_t> fdn{{}, {0, ""}, {1, "NE=1"}, {1, "NE=10"}, {1, "NE=\x80"}, {-5, "0"}};
  std::vector<CNMTime> times{{"1", "x"}, {"1", ""}, {"2", ""}, {"", "z"}};
  for (int i = 0; i < 40; ++i) {
    ex.emplace_back(v(gen), v(gen), v(gen));
    proc.emplace_back(v(gen), v(gen), v(gen), v(gen));
    common.emplace_back(v(gen), v(gen));
  }
  std::vector<AlarmInfo_t> info(ex.begin(), ex.end());
  expectOrderedLike(info, [](const AlarmInfo_t& a) { return std::make_tuple(a.m_lGroupId, a.m_lAlarmId); });
  expectOrderedLike(ex, [](const AlarmInfoEx_t& a) { return std::make_tuple(a.m_lGroupId, a.m_lAlarmId, a.m_lReasonId); });
  expectOrderedLike(proc, [](const SProcInfo& p) {
    return std::make_tuple(p.m_lValue1, p.m_lValue2, p.m_lValue3, p.m_lValue4);
  });
  // Shorter keys first, then element by element.
  expectOrderedLike(common, [](const SCommonKey& k) {
    return std::make_pair(k.m_lstKey.size(), std::vector<long>(k.m_lstKey.begin(), k.m_lstKey.end()));
  });
  expectOrderedLike(fdn, [](const ComFdnInfo_t& f) { return std::make_pair(f.m_lNum, f.m_strFdn); });  // byte-wise
  expectOrderedLike(times, [](const CNMTime& t) { return std::make_pair(t.m_strWeekDay, t.m_strPeriod); });
  EXPECT_EQ(ComFdnInfo_t(), ComFdnInfo_t(0, "0"));
  std::map<AlarmInfoEx_t, int> m{{{1, 2, 3}, 1}, {{1, 2, 4}, 2}};
  m[AlarmInfoEx_t(AlarmInfo_t(1, 2), 3)] = 3;
  EXPECT_EQ(m.size(), 2u);
}

}  // namespace
}  // namespace Kyrofm
