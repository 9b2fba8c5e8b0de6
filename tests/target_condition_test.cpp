// Target condition: object tests under the user's rights, copies owning their trees and matchers,
// the SQL condition with the log type (OR precedence checked on SQLite), time range, failed filters.
#include <gtest/gtest.h>

#include "fm_common/filter/FieldLeaves.h"
#include "fm_common/filter/TargetConditionCode.h"
#include "fm_common/platform/CFMClientMgr.h"
#include "fm_common/time/XRFMTimeUtil.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

using Set = std::set<std::string>;

TEST(TargetConditionTest, ObjectTestsFollowRightsSetsAndExclusions) {
  CFMClientMgr::instance()->setManagerMO(41, Set{"NE=1", "NE=2"});
  CFMClientMgr::instance()->setManagerMO(42, Set{"*"});
  struct Case { long user; char type; Set fdn, ne, link, notFdn; const char *neOf, *mo, *linkOf; bool byNE, byMem; };
  const Case cases[] = {  // "*" as user object: every object; as exclusion: nothing
      {41, 7, {}, {}, {}, {}, "NE=1", "NE=1,B=1", "", 1, 1},
      {41, 7, {}, {}, {}, {}, "NE=3", "NE=3,B=1", "", 1, 0},
      {42, 7, {"NE=3"}, {}, {}, {}, "NE=3", "NE=3,B=1", "", 1, 1},
      {41, 1, {"NE=1,B=1"}, {}, {}, {}, "NE=2", "NE=1,B=1", "", 1, 1},
      {41, 1, {"NE=1,B=1"}, {}, {}, {}, "NE=1", "NE=1,B=1,P=2", "", 0, 0},
      {41, 7, {"NE=1,B=1", "NE=3"}, {}, {}, {}, "NE=1", "NE=3,B=1", "", 0, 0},  // NE=3 is no user object
      {41, 7, {"NE=1,B=1", "NE=3"}, {}, {}, {}, "NE=1", "NE=1,B=1,P=2", "", 1, 1},
      {41, 7, {"NE=1,B=9"}, {"NE=2"}, {}, {}, "NE=2", "X=1", "", 1, 1},
      {41, 7, {"NE=1,B=9"}, {}, {"L=1"}, {}, "NE=1", "X=1", "L=1,P=1", 1, 1},
      {41, 7, {"NE=1,B=9"}, {}, {"L=1"}, {}, "NE=1", "X=1", "L=2", 0, 0},
      {41, 7, {}, {}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=1,P=3", "", 0, 0},
      {41, 7, {}, {}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=2", "", 1, 1},
      {41, 7, {}, {"NE=1"}, {}, {"*"}, "NE=1", "NE=1,B=2", "", 1, 1},
      {41, 7, {}, {"NE=1"}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=1", "", 0, 0}};
  for (const auto& c : cases) {
    auto t = std::make_unique<TargetConditionCode>(c.type);
    t->setUser(c.user), t->setFDN(c.fdn), t->setNEFDN(c.ne), t->setLinkFDN(c.link), t->setNotLikeFDN(c.notFdn);
    TargetConditionCode copy(*t), assigned(9);
    assigned = copy;
    t.reset();  // the copies own their matchers
    AlmRecord_t r;
    r.setNE({c.neOf, 0}), r.setMoDn(c.mo), r.setLinkDn(c.linkOf);
    for (TargetConditionCode* x : {&copy, &assigned}) {
      EXPECT_EQ(std::make_pair(x->filterByNE(r), x->filterByMem(r)), std::make_pair(c.byNE, c.byMem)) << c.mo << c.neOf;
    }
  }
  TargetConditionCode t(7);
  Set got;
  t.setFDN({"A"}), t.getNEFDN(got), t.setFDNType(9);
  EXPECT_TRUE(got == Set{"A"} && t.isFDNTypeNotLike() && (t.setFDNType(1), !t.isFDNTypeNotLike()));
}

TEST(TargetConditionTest, SqlConditionKeepsTheLogTypeOutsideTheFilter) {
  fmtest::TraceCapture quiet;
  TargetConditionCode t(7);
  EXPECT_EQ(t.getSqlCond("tbl_cur_alm", 1), " ( 1 > 0 ) ");
  EXPECT_TRUE(t.getCondCount() == 0 && t.getResultWithoutRightCheck(AlmRecord_t()) &&
              t.filterByStatus(AlmRecord_t()) && !t.isValid());
  auto leaf = std::make_unique<CsnExp>("C", 2);  // "Csn <> 1 or 0 > 1": an OR at the top
  ASSERT_TRUE(leaf->setFilter({"1"}, false) && (t.adoptFilter(std::move(leaf)), t.setLogType(2), true));
  EXPECT_EQ(t.getCondCount(), 1);
  EXPECT_EQ(t.getSqlCond("tbl_cur_alm", -1).find("Cat"), std::string::npos);
  const std::string cond = t.getSqlCond("tbl_cur_alm", 1);
  EXPECT_EQ(cond.substr(cond.size() - 12), " and  Cat= 1");
  ASSERT_EQ(fmtest::useFilterDatabase("sqlite"), "");
  std::vector<AlmRecord_t> recs(6);
  for (long k = 0; k < 6; ++k) recs[k].setLogId(k + 1), recs[k].setCategory(k % 3 ? 1 : 3);
  fmtest::FilterDiffTable table("tbl_diff_target", recs);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(table.select(cond), (std::set<long>{2, 3, 5, 6}));
  EXPECT_EQ(table.inMemory(*t.getFilter()), (std::set<long>{2, 3, 4, 5, 6}));
}

TEST(TargetConditionTest, TimeRangeAndFailedFilters) {
  fmtest::TraceCapture quiet;
  fmtest::ServerZone zone("Asia/Shanghai", 28800, 0);
  TargetConditionCode t(7);
  ASSERT_TRUE(t.setTimeRange({"2", "20260101", "120000", "0", "0"}));
  EXPECT_FALSE(t.setTimeRange({"1", "20260101", "0", "0"}) || t.setTimeRange({"1", "2026x", "0", "0", "0"}));
  EXPECT_EQ(t.getTimeRange().m_lStart, XRFMTimeUtil::MakeTime(20260101, 120000) + 28800);
  EXPECT_EQ(t.getTimeRange().m_lEnd, 0);
  EXPECT_TRUE(t.setFilter({}, 0) && t.setStatusFilter({}, 0) && t.isValid() && t.isFilterOk());
  EXPECT_TRUE(t.getResultWithoutRightCheck(AlmRecord_t()));
  EXPECT_FALSE(t.setStatusFilter({"x|NOSUCH|1"}, 0) || t.isValid() || t.isFilterOk());
  TargetConditionCode u(7);
  FieldCond_t bad("X", "NOSUCH", 1);
  bad.m_lstValues = {"1"};
  EXPECT_FALSE(u.setCommonFilter({bad}, true) || u.isFilterOk());
  EXPECT_TRUE(u.setCommonFilter({}, true) && u.getFilter() != nullptr);
}

}  // namespace
}  // namespace Kyrofm
