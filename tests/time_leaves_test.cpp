// Time leaves: rejected inputs keep the state, and SQL == evaluate for every
// leaf, type, strict flag, table and dialect on records at each bound (bound - 1, bound, bound + 1).
#include <gtest/gtest.h>

#include <map>
#include "fm_common/filter/TimeLeaves.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "support/FmFilterDiff.h"
#include "support/FmTestSupport.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

using Kyrofmdb::CDBMaintain;
const long kNow = 2000000000;  // the leaves' clock in every test
long fixedClock() { return kNow; }
BasicExp* make(int k, bool strict) {  // 0-2 the window leaves, 3 duration, 4 delay, 5 time condition
  if (k == 0) return new DateTimeExp("T", 1, strict);
  if (k == 1) return new ClearDateTimeExp("T", 1, strict);
  if (k == 2) return new AckDateTimeExp("T", 1, strict);
  if (k == 3) return new AlarmDurationExp("D", 3);
  if (k == 4) return new DelayDayExp("Y", 1);
  return new TimeCondExp("C", 1);
}
// Windows (start date, time, end date, time) in server time; 0: open bound.
const std::vector<std::vector<std::string>> kWindows = {{"20231114", "0", "20231115", "120000"},
    {"20380119", "31408", "0", "0"}, {"0", "0", "99991231", "235959"}, {"20400101", "0", "99991231", "235959"},
    {"0", "0", "0", "0"}, {"19691231", "200000", "20231114", "0"}};  // the last starts before 1970: open

class TimeLeavesTest : public ::testing::Test {
 protected:
  fmtest::ServerZone m_zone{"Asia/Shanghai", 28800, 3600};
  TimeLeafClock m_oldClock = setTimeLeafClock(&fixedClock);
  ~TimeLeavesTest() override { setTimeLeafClock(m_oldClock), CDBMaintain::instance()->setDBTypeOverride(0); }
};
class TimeLeavesDiffTest : public TimeLeavesTest, public ::testing::WithParamInterface<std::string> {};

TEST_F(TimeLeavesTest, RejectedInputsLogAndKeepState) {
  struct Case { int kind; std::list<std::string> values; const char* content; std::string message; };
  const std::string nul("2023\0" "1114", 9), range = ":: CheckTimeValid, Date or Time is not valid";
  const Case cases[] = {{0, {"1", "2023", "0", "2024"}, nullptr, "DateTimeExp::setFilter failed, filter size:4"},
                        {0, {}, "1,20231301,0,0,0", "AckDateTimeExp" + range},
                        {1, {"4", nul, "0", "0", "0"}, nullptr, "ClearDateTimeExp" + range},
                        {3, {}, nullptr, "AlarmDurationExp::setFilter failed, filter size:0"},
                        {3, {}, ",,", "AlarmDurationExp::setStringContent failed, result size:0"},
                        {3, {"hour:2x"}, nullptr, "szDuration:hour:2x, error format!"},
                        {3, {}, "week:1", "time type: week,error!"}, {3, {"minute:-1"}, nullptr, "minute:-1, error!"},
                        {3, {}, "day:106751991167301", "execute time day:106751991167301"},
                        {4, {}, nullptr, "DelayDayExp::setFilter failed"}, {4, {"3 days"}, nullptr, "days:3 days"},
                        {5, {"6,7", "1"}, nullptr, "TimeCondExp::setFilter failed, filter size:2"},
                        {5, {}, "8;08001800", "isStr2TimeCond,WeekDay is invalid"}};
  const std::list<std::string> goods[] = {{"4", "20231114", "0", "20231115", "0"}, {"hour:2"}, {"3"}, {"1;08001800"}};
  for (const auto& c : cases) {
    std::unique_ptr<BasicExp> leaf(make(c.kind, false));
    for (const auto& good : goods) if (leaf->setFilter(good, false)) break;  // kept by the rejection
    const std::string sql = leaf->sqlWhereCond("tbl_alm_log");
    fmtest::TraceCapture trace;
    EXPECT_FALSE(c.content ? leaf->setStringContent(c.content) : leaf->setFilter(c.values, true)) << c.message;
    EXPECT_TRUE(trace.contains(c.message, TRACE_ERROR)) << c.message;
    EXPECT_TRUE(leaf->sqlWhereCond("tbl_alm_log") == sql && !leaf->isSelectAll()) << c.message;
  }
}

// What the texts select is held to evaluate below; here the tables that hold
// no alarm times by name (any case, any suffix), and the memory-only condition.
TEST_F(TimeLeavesTest, EventLogTablesAndTimeConditions) {
  ClearDateTimeExp clear("C", 1, false);
  AlarmDurationExp dur("D", 3);
  ASSERT_TRUE(clear.setStringContent("4,0,0,20231114,0") && dur.setStringContent("hour:2"));
  EXPECT_EQ(dur.sqlWhereCond("tbl_event_log_1") + clear.sqlWhereCond("TBL_EVENT_LOG"), " ( 0 > 1 )  ( 0 > 1 ) ");
  TimeCondExp cond("C", 1);
  AlmRecord_t r;
  r.setOccurUtcTime(1700308800 - 32400);  // Saturday 2023-11-18 12:00 server time (+8h, DST +1h)
  EXPECT_TRUE(cond.setFilter({"6;12001200"}, false) && cond.evaluate(r));
  EXPECT_TRUE(cond.setStringContent("1,2,3,4,5;08001800") && !cond.evaluate(r));
}

// Records on every bound of kWindows, written once per database.
std::vector<AlmRecord_t> generate() {
  std::vector<long> bounds;
  for (const auto& w : kWindows) {
    DateTimeExp d("T", 1, false);
    d.setFilter({"1", w[0], w[1], w[2], w[3]}, false);
    bounds.insert(bounds.end(), {d.getStart(), d.getEnd()});
  }
  const long dsts[] = {0, 21600, 25200, (25200L << 16) | 18000, -1, -65536 - 3600, 65535, 131072 + 21600};
  std::vector<AlmRecord_t> out;
  for (size_t i = 0; i < bounds.size() * 8 * 3; ++i) {
    const long b = bounds[i / 24], c = bounds[(i / 24 + i) % bounds.size()], dst = dsts[i / 3 % 8];
    const long d = static_cast<long>(i % 3) - 1, m = dst % 65536;
    const bool cleared = i % 4 != 3, acked = i % 3 != 2;  // else zero times, para2 may be positive
    AlmRecord_t r;
    r.setOccurDst(dst), r.setOccurUtcTime(b - 7200 - m + d), r.setOccurNeTime(b + d), r.setArrivedUtcTime(c + d);
    r.setLogId(static_cast<long>(i) + 1), r.setClearStatus(cleared ? 1 : (i % 8 == 7 ? 2 : 0));
    r.setParam(2, i % 5 == 0 ? c + d : -static_cast<long>(i % 2));
    if (cleared) r.setClearDst(dst), r.setClearUtcTime(i % 5 ? c - 7200 - m + d : c), r.setClearNeTime(c + d);
    r.setAckStatus(acked ? 1 : 0);
    if (acked) r.setAckDst(dst), r.setAckUtcTime(c - 28800 - m + d);
    out.push_back(r);
  }
  for (long dur : {7199L, 7200L, 7201L}) {  // duration bounds, uncleared and cleared
    AlmRecord_t r;
    r.setLogId(static_cast<long>(out.size()) + 1), r.setOccurUtcTime(kNow - dur);
    out.push_back(r);
    r.setLogId(r.getLogId() + 1), r.setClearStatus(1), r.setClearUtcTime(kNow);
    out.push_back(r);
  }
  return out;
}

TEST_P(TimeLeavesDiffTest, SqlSelectsWhatEvaluateAccepts) {
  static std::map<std::string, std::unique_ptr<fmtest::FilterDiffTable>> tables;
  std::string skip = fmtest::useFilterDatabase(GetParam());
  if (!skip.empty()) GTEST_SKIP() << skip;
  auto& table = tables[GetParam()];
  if (!table || !table->intact()) table = std::make_unique<fmtest::FilterDiffTable>("tbl_diff_time", generate());
  ASSERT_TRUE(table->ok());
  fmtest::TraceCapture quiet;
  for (int db : {0, 2}) {
    CDBMaintain::instance()->setDBTypeOverride(db);
    for (const std::string tbl : {"tbl_cur_alm", "tbl_alm_log", "tbl_event_log", "tbl_mask_alm"}) {
      for (int n = 0; n < 3 * 7 * 6 * 2; ++n) {  // leaf, type, window, strict
        const auto& w = kWindows[n / 2 % 6];
        std::unique_ptr<BasicExp> leaf(make(n / 84, n % 2));
        ASSERT_TRUE(leaf->setFilter({std::to_string(n / 12 % 7 + 1), w[0], w[1], w[2], w[3]}, false));
        const bool none = n >= 84 && tbl == "tbl_event_log";
        EXPECT_EQ(table->inDatabase(*leaf, tbl), none ? std::set<long>() : table->inMemory(*leaf)) << tbl << db << n;
      }
      for (int n = 0; n < 14 * 3; ++n) {  // operator 0-13, duration
        AlarmDurationExp dur("D", static_cast<char>(n / 3));
        ASSERT_TRUE(dur.setStringContent(n % 3 ? (n % 3 == 1 ? "hour:2" : "day:36500") : "minute:0"));
        EXPECT_EQ(table->inDatabase(dur, tbl), tbl == "tbl_event_log" ? std::set<long>() : table->inMemory(dur))
            << tbl << db << " duration " << n;
      }
    }
  }
  // Memory-only leaves write no SQL: every row, while evaluate filters.
  for (int k : {4, 5}) {
    std::unique_ptr<BasicExp> leaf(make(k, false));
    ASSERT_TRUE(leaf->setFilter({k == 4 ? "3" : "1,2,3,4,5;08001800"}, false));
    EXPECT_EQ(table->inDatabase(*leaf, "tbl_cur_alm").size(), table->records().size());
    EXPECT_TRUE(table->inMemory(*leaf).size() < table->records().size() && !table->inMemory(*leaf).empty()) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Db, TimeLeavesDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace Kyrofm
