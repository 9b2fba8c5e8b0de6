// Time-window leaves: rejected inputs (message, no state change), pinned SQL
// texts, and the differential run: every window leaf, time type, strict flag,
// table and dialect selects in SQL (SQLite, PostgreSQL) exactly the records
// evaluate accepts, on records sitting on every window bound (t = bound - 1,
// bound, bound + 1) for wrapped and negative DST fields, zero times of
// uncleared/unacknowledged alarms, para2 <= 0 and times up to the year 9999.
#include <gtest/gtest.h>

#include <functional>
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
using Make = std::function<BasicExp*(bool strict)>;
const Make kWindow[] = {[](bool s) { return new DateTimeExp("T", 1, s); },
                        [](bool s) { return new ClearDateTimeExp("T", 1, s); },
                        [](bool s) { return new AckDateTimeExp("T", 1, s); }};
// Windows (start date, time, end date, time) in server time; 0: open bound.
const std::vector<std::vector<std::string>> kWindows = {{"20231114", "0", "20231115", "120000"},
                                                        {"20380119", "31408", "0", "0"},
                                                        {"0", "0", "99991231", "235959"},
                                                        {"20400101", "0", "99991231", "235959"},
                                                        {"0", "0", "0", "0"}};

class TimeLeavesTest : public ::testing::Test {
 protected:
  fmtest::ServerZone m_zone{"Asia/Shanghai", 28800, 3600};
  TimeLeafClock m_oldClock = setTimeLeafClock(&fixedClock);
  ~TimeLeavesTest() override { setTimeLeafClock(m_oldClock); }
};
class TimeLeavesDiffTest : public TimeLeavesTest, public ::testing::WithParamInterface<std::string> {};

TEST_F(TimeLeavesTest, RejectedInputsLogAndKeepState) {
  struct Case { Make make; std::list<std::string> values; const char* content; std::string message; };
  const std::string nul("2023\0" "1114", 9);
  const Case cases[] = {
      {kWindow[0], {"1", "20231114", "0", "20231115"}, nullptr, "DateTimeExp::setFilter failed, filter size:4"},
      {kWindow[1], {}, nullptr, "DateTimeExp::setFilter failed, filter size:0"},
      {kWindow[2], {"1"}, nullptr, "AckDateTimeExp::setFilter failed, filter size:1"},
      {kWindow[0], {}, "1,20231301,0,0,0", "AckDateTimeExp:: CheckTimeValid, Date or Time is not valid"},
      {kWindow[2], {}, "1,20231115,0,20231114,0", "AckDateTimeExp:: CheckTimeValid, Date or Time is not valid"},
      {kWindow[1], {"4", nul, "0", "0", "0"}, nullptr, "ClearDateTimeExp:: CheckTimeValid, Date or Time is not valid"},
      {kWindow[1], {}, "4,2023x114", "ClearDateTimeExp:: CheckTimeValid, Date or Time is not valid"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {}, nullptr, "AlarmDurationExp::setFilter failed, filter size:0"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {}, ",,", "setStringContent failed, result size:0"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {"hour2"}, nullptr, "szDuration:hour2, error format!"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {}, "hour:2x", "szDuration:hour:2x, error format!"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {}, "week:1", "time type: week,error!"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {"minute:-1"}, nullptr, "execute time minute:-1, error!"},
      {[](bool) { return new AlarmDurationExp("D", 3); }, {}, "day:106751991167301", "execute time day:106751991167301"},
      {[](bool) { return new DelayDayExp("Y", 1); }, {}, nullptr, "DelayDayExp::setFilter failed"},
      {[](bool) { return new DelayDayExp("Y", 1); }, {"3 days"}, nullptr, "DelayDayExp::setFilter failed"},
      {[](bool) { return new TimeCondExp("C", 1); }, {"6,7", "1"}, nullptr, "TimeCondExp::setFilter failed, filter size:2"},
      {[](bool) { return new TimeCondExp("C", 1); }, {}, "8;08001800", "isStr2TimeCond,WeekDay is invalid"}};
  const std::list<std::string> goods[] = {{"4", "20231114", "0", "20231115", "0"}, {"hour:2"}, {"3"}, {"1;08001800"}};
  for (const auto& c : cases) {
    std::unique_ptr<BasicExp> leaf(c.make(false));
    for (const auto& good : goods) {  // a valid filter first: the rejected one must leave it
      if (leaf->setFilter(good, false)) break;
    }
    const std::string sql = leaf->sqlWhereCond("tbl_alm_log");
    fmtest::TraceCapture trace;
    EXPECT_FALSE(c.content ? leaf->setStringContent(c.content) : leaf->setFilter(c.values, true)) << c.message;
    EXPECT_TRUE(trace.contains(c.message, TRACE_ERROR)) << c.message;
    EXPECT_EQ(leaf->sqlWhereCond("tbl_alm_log"), sql) << c.message;
    EXPECT_FALSE(leaf->isSelectAll()) << c.message;
  }
}

TEST_F(TimeLeavesTest, SqlTextsPerDialect) {
  DateTimeExp strict("T", 1, true), plain("T", 1, false);
  ClearDateTimeExp clear("C", 1, false);
  AlarmDurationExp dur("D", 3);
  ASSERT_TRUE(strict.setStringContent("4,20231114,0") && plain.setStringContent("1,20231114,0") &&
              clear.setStringContent("4,0,0,20231114,0") && dur.setStringContent("hour:2"));
  const std::string s = std::to_string(strict.getStart());
  ASSERT_EQ(s, "1699920000");
  struct { int db; const AlarmExp& leaf; std::string table, sql; } cases[] = {
      {1, strict, "tbl_cur_alm", " OccurUtc > " + s},
      {2, plain, "tbl_cur_alm", " ( 7200 + mod(OccurDst,65536) + OccurUtc ) >= " + s},
      {1, plain, "tbl_cur_alm", " CAST( 7200 + OccurDst%65536 + OccurUtc As int ) >= " + s},
      {3, plain, "tbl_cur_alm", " CAST( 7200 + OccurDst%65536 + OccurUtc As bigint ) >= " + s},
      {1, clear, "tbl_cur_alm", " IsCleared = 1 and  ClearUtc <= " + s},
      {1, clear, "TBL_EVENT_LOG", " ( 0 > 1 ) "},
      {3, dur, "tbl_mask_alm", "( tbl_mask_alm.IsCleared=1 and  CAST ( tbl_mask_alm.ClearUtc - tbl_mask_alm.OccurUtc  "
                               "as bigint)  > 7200 ) or ( tbl_mask_alm.IsCleared=0 and  CAST ( 2000000000 - "
                               "tbl_mask_alm.OccurUtc  as bigint)  > 7200 )"},
      {2, dur, "tbl_event_log_1", " ( 0 > 1 ) "}};
  for (const auto& c : cases) {
    CDBMaintain::instance()->setDBTypeOverride(c.db);
    EXPECT_EQ(c.leaf.sqlWhereCond(c.table), c.sql);
  }
  CDBMaintain::instance()->setDBTypeOverride(0);
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
    const long b = bounds[i / 24], c = bounds[(i / 24 + i) % bounds.size()], dst = dsts[i / 3 % 8], d = static_cast<long>(i % 3) - 1;
    AlmRecord_t r;
    r.setLogId(static_cast<long>(i) + 1);
    r.setOccurDst(dst);
    r.setOccurUtcTime(b - 7200 - dst % 65536 + d);
    r.setOccurNeTime(b + d);
    r.setArrivedUtcTime(c + d);
    const bool cleared = i % 4 != 3, acked = i % 3 != 2;
    r.setClearStatus(cleared ? 1 : (i % 8 == 7 ? 2 : 0));
    r.setParam(2, i % 5 == 0 ? c + d : -static_cast<long>(i % 2));
    if (cleared) {
      r.setClearDst(dst);
      r.setClearUtcTime(i % 5 == 0 ? c : c - 7200 - dst % 65536 + d);
      r.setClearNeTime(c + d);
    }
    r.setAckStatus(acked ? 1 : 0);
    if (acked) {
      r.setAckDst(dst);
      r.setAckUtcTime(c - 28800 - dst % 65536 + d);
    }
    out.push_back(r);
  }
  for (long dur : {7199L, 7200L, 7201L}) {  // duration bounds, cleared and not
    AlmRecord_t r;
    r.setLogId(static_cast<long>(out.size()) + 1);
    r.setOccurUtcTime(kNow - dur);
    out.push_back(r);
    r.setLogId(r.getLogId() + 1);
    r.setClearStatus(1);
    r.setClearUtcTime(kNow);
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
  const std::set<long> all = table->select("");
  fmtest::TraceCapture quiet;
  for (int db : {0, 2}) {
    CDBMaintain::instance()->setDBTypeOverride(db);
    for (const char* tbl : {"tbl_cur_alm", "tbl_alm_log", "tbl_event_log", "tbl_mask_alm"}) {
      for (int k = 0; k < 3; ++k) {
        for (int type = 1; type <= 7; ++type) {
          for (const auto& w : kWindows) {
            for (bool strict : {false, true}) {
              std::unique_ptr<BasicExp> leaf(kWindow[k](strict));
              ASSERT_TRUE(leaf->setFilter({std::to_string(type), w[0], w[1], w[2], w[3]}, false));
              bool none = k > 0 && std::string(tbl) == "tbl_event_log";
              EXPECT_EQ(table->inDatabase(*leaf, tbl), none ? std::set<long>() : table->inMemory(*leaf))
                  << tbl << " leaf " << k << " type " << type << " " << w[0] << "-" << w[2] << " strict " << strict;
            }
          }
        }
      }
      for (int op = 0; op <= 13; ++op) {
        for (const char* text : {"minute:0", "hour:2", "day:36500"}) {
          AlarmDurationExp dur("D", static_cast<char>(op));
          ASSERT_TRUE(dur.setStringContent(text));
          bool none = std::string(tbl) == "tbl_event_log";
          EXPECT_EQ(table->inDatabase(dur, tbl), none ? std::set<long>() : table->inMemory(dur))
              << tbl << " duration " << text << " op " << op;
        }
      }
    }
  }
  CDBMaintain::instance()->setDBTypeOverride(0);
  // Memory-only leaves write no SQL: every row, while evaluate filters.
  DelayDayExp delay("Y", 1);
  TimeCondExp cond("C", 1);
  ASSERT_TRUE(delay.setFilter({"3"}, false) && cond.setStringContent("1,2,3,4,5;08001800"));
  for (const BasicExp* leaf : {static_cast<const BasicExp*>(&delay), static_cast<const BasicExp*>(&cond)}) {
    EXPECT_EQ(table->inDatabase(*leaf, "tbl_cur_alm"), all);
    EXPECT_LT(table->inMemory(*leaf).size(), all.size());
    EXPECT_GT(table->inMemory(*leaf).size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Db, TimeLeavesDiffTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

}  // namespace
}  // namespace Kyrofm
