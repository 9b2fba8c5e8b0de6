// Target condition: the object tests against the user's rights, copies that
// own their trees and matchers, the SQL condition with the log type (its OR
// precedence checked on SQLite), the time range and the filter-ok flag.
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
  const Case cases[] = {
      {41, 7, {}, {}, {}, {}, "NE=1", "NE=1,B=1", "", true, true},             // no object sets
      {41, 7, {}, {}, {}, {}, "NE=3", "NE=3,B=1", "", true, false},            // NE outside the rights
      {42, 7, {"NE=3"}, {}, {}, {}, "NE=3", "NE=3,B=1", "", true, true},       // "*": every object
      {41, 7, {"NE=1,B=1", "NE=3"}, {}, {}, {}, "NE=1", "NE=3,B=1", "", false, false},  // NE=3 dropped
      {41, 7, {"NE=1,B=1", "NE=3"}, {}, {}, {}, "NE=1", "NE=1,B=1,P=2", "", true, true},
      {41, 1, {"NE=1,B=1"}, {}, {}, {}, "NE=1", "NE=1,B=1,P=2", "", false, false},     // type 1: exact
      {41, 1, {"NE=1,B=1"}, {}, {}, {}, "NE=2", "NE=1,B=1", "", true, true},
      {41, 7, {"NE=1,B=9"}, {"NE=2"}, {}, {}, "NE=2", "X=1", "", true, true},  // NE FDN set
      {41, 7, {"NE=1,B=9"}, {}, {"L=1"}, {}, "NE=1", "X=1", "L=1,P=1", true, true},  // link FDN set
      {41, 7, {"NE=1,B=9"}, {}, {"L=1"}, {}, "NE=1", "X=1", "L=2", false, false},
      {41, 7, {}, {}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=1,P=3", "", false, false},  // excluded
      {41, 7, {}, {}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=2", "", true, true},
      {41, 7, {}, {"NE=1"}, {}, {"*"}, "NE=1", "NE=1,B=2", "", true, true},  // "*" excludes nothing
      {41, 7, {}, {"NE=1"}, {}, {"NE=1,B=1"}, "NE=1", "NE=1,B=1", "", false, false}};
  for (const auto& c : cases) {
    auto t = std::make_unique<TargetConditionCode>(c.type);
    t->setUser(c.user), t->setFDN(c.fdn), t->setNEFDN(c.ne), t->setLinkFDN(c.link), t->setNotLikeFDN(c.notFdn);
    TargetConditionCode copy(*t), assigned(9);
    assigned = copy;
    t.reset();  // the copies own their matchers
    AlmRecord_t r;
    r.setNE({c.neOf, 0}), r.setMoDn(c.mo), r.setLinkDn(c.linkOf);
    for (TargetConditionCode* x : {&copy, &assigned}) {
      EXPECT_EQ(x->filterByNE(r), c.byNE) << c.mo << " " << c.neOf;
      EXPECT_EQ(x->filterByMem(r), c.byMem) << c.mo << " " << c.neOf;
    }
  }
  TargetConditionCode t(7);
  t.setFDN({"A"});
  Set got;
  t.getNEFDN(got);
  EXPECT_EQ(got, Set{"A"});
  t.setFDNType(9);
  EXPECT_TRUE(t.isFDNTypeNotLike());
  t.setFDNType(1);
  EXPECT_FALSE(t.isFDNTypeNotLike());
}

TEST(TargetConditionTest, SqlConditionKeepsTheLogTypeOutsideTheFilter) {
  fmtest::TraceCapture quiet;
  TargetConditionCode t(7);
  EXPECT_EQ(t.getSqlCond("tbl_cur_alm", 1), " ( 1 > 0 ) ");
  EXPECT_EQ(t.getCondCount(), 0);
  EXPECT_TRUE(t.getResultWithoutRightCheck(AlmRecord_t()) && t.filterByStatus(AlmRecord_t()) && !t.isValid());
  auto leaf = std::make_unique<CsnExp>("C", 2);  // "Csn <> 1 or 0 > 1": an OR at the top
  ASSERT_TRUE(leaf->setFilter({"1"}, false));
  t.adoptFilter(std::move(leaf));
  EXPECT_EQ(t.getCondCount(), 1);
  t.setLogType(2);
  EXPECT_EQ(t.getSqlCond("tbl_cur_alm", -1).find("Cat"), std::string::npos);
  const std::string cond = t.getSqlCond("tbl_cur_alm", 1);
  EXPECT_EQ(cond.substr(cond.size() - 12), " and  Cat= 1");
  ASSERT_EQ(fmtest::useFilterDatabase("sqlite"), "");
  std::vector<AlmRecord_t> recs(6);
  std::set<long> expected;
  for (long k = 0; k < 6; ++k) {
    recs[k].setLogId(k + 1), recs[k].setCategory(k % 3 ? 1 : 3);
    if (k > 0 && k % 3) expected.insert(k + 1);
  }
  fmtest::FilterDiffTable table("tbl_diff_target", recs);
  ASSERT_TRUE(table.ok());
  EXPECT_EQ(table.select(cond), expected);
  EXPECT_EQ(table.inMemory(*t.getFilter()), (std::set<long>{2, 3, 4, 5, 6}));
}

TEST(TargetConditionTest, TimeRangeAndFailedFilters) {
  fmtest::TraceCapture quiet;
  fmtest::ServerZone zone("Asia/Shanghai", 28800, 0);
  TargetConditionCode t(7);
  ASSERT_TRUE(t.setTimeRange({"2", "20260101", "120000", "0", "0"}));
  EXPECT_EQ(t.getTimeRange().m_lType, 2);
  EXPECT_EQ(t.getTimeRange().m_lStart, XRFMTimeUtil::MakeTime(20260101, 120000) + 28800);
  EXPECT_EQ(t.getTimeRange().m_lEnd, 0);
  EXPECT_FALSE(t.setTimeRange({"1", "20260101", "0", "0"}));
  EXPECT_FALSE(t.setTimeRange({"1", "2026x", "0", "0", "0"}));
  EXPECT_EQ(t.getTimeRange().m_lType, 2);
  EXPECT_TRUE(t.setFilter({}, 0) && t.setStatusFilter({}, 0) && t.isValid() && t.isFilterOk());
  EXPECT_TRUE(t.getResultWithoutRightCheck(AlmRecord_t()));
  EXPECT_FALSE(t.setStatusFilter({"x|NOSUCH|1"}, 0));
  EXPECT_FALSE(t.isValid() || t.isFilterOk());
  TargetConditionCode u(7);
  FieldCond_t bad("X", "NOSUCH", 1);
  bad.m_lstValues = {"1"};
  EXPECT_FALSE(u.setCommonFilter({bad}, true) || u.isFilterOk());
  EXPECT_TRUE(u.setCommonFilter({}, true) && u.getFilter() != nullptr);
}

}  // namespace
}  // namespace Kyrofm
