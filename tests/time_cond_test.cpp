// Tests of weekly time conditions (parsers driven with malformed input,
// conversion of condition lists, the meet test) and of the NE local time with
// its zone cache, single-threaded against cctz and concurrently.
#include <gtest/gtest.h>

#include <atomic>
#include <tuple>
#include <vector>

#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/EAMUtil2DB.h"
#include "fm_common/platform/FMResult.h"
#include "support/FmTestSupport.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "fm_common/time/XRFMTimeUtil.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

using Periods = std::vector<std::pair<long, long>>;

using fmtest::utcOf;

std::bitset<7> days(std::initializer_list<int> ds) {
  std::bitset<7> b;
  for (int d : ds) b.set(static_cast<size_t>(d - 1));
  return b;
}

const Periods kWholeDay = {{-1, -1}};

TEST(TimeCondParseTest, ConditionStrings) {
  const std::tuple<const char*, std::bitset<7>, Periods> good[] = {
      {"1,2,3,4,5;08001800", days({1, 2, 3, 4, 5}), {{28800, 64800}}},
      {"6,7", days({6, 7}), kWholeDay},
      {"1;22000000", days({1}), {{79200, 86400}}},
      {"7;08001800|12001300|20002359", days({7}), {{28800, 64800}, {43200, 46800}, {72000, 86340}}},
      {"3;18000800", days({3}), {{64800, 28800}}},  // end before start stays
      {";08001800", days({1, 2, 3, 4, 5, 6, 7}), {{28800, 64800}}},  // empty days: every day
      {"1;", days({1}), kWholeDay},
      {";", days({1, 2, 3, 4, 5, 6, 7}), kWholeDay},
  };
  for (const auto& [text, bits, expect] : good) {
    tagTimeCond cond;
    std::list<std::string> periods;
    EXPECT_TRUE(isStr2TimeCond(text, cond, periods) && cond.m_bitWeekDay == bits && cond.m_vecPeriod == expect) << text;
  }
  for (const char* bad : {"", "8;08001800", "1;0800180", "1;080018000", "1;08001800|",
                          "1;08001800|09001000|10001100|11001200", "1;2;3", "1;24001800"}) {
    tagTimeCond cond;
    std::list<std::string> periods;
    EXPECT_FALSE(isStr2TimeCond(bad, cond, periods)) << bad;
  }
  tagTimeCond cond;
  std::list<std::string> periods;
  ASSERT_TRUE(isStr2TimeCond("2;08001800|12001300", cond, periods));
  EXPECT_EQ(periods, (std::list<std::string>{"08001800", "12001300"}));
}

// Periods before a bad one are kept.
TEST(TimeCondParseTest, TimeRanges) {
  const std::tuple<const char*, long, Periods> cases[] = {
      {"", FM_SUCCESS, kWholeDay},       {"00000000", FM_SUCCESS, {{0, 86400}}},
      {"23592359", FM_SUCCESS, {{86340, 86340}}},
      {"08001800|09001000", FM_SUCCESS, {{28800, 64800}, {32400, 36000}}},
      {"24001800|", FM_FAILURE, {}},     {"08601800|", FM_FAILURE, {}},
      {"08002500|", FM_FAILURE, {}},     {"08001899|", FM_FAILURE, {}},
      {"08001800|24001800", FM_FAILURE, {{28800, 64800}}},
      {"08001800|0900", FM_FAILURE, {{28800, 64800}}},
      {"|", FM_FAILURE, {}},             {"0800180000|", FM_FAILURE, {}},
      {"ab", FM_FAILURE, {}}};
  for (const auto& [text, rc, kept] : cases) {
    Periods out = {{1, 2}};
    EXPECT_TRUE(getTimeRanges(text, out) == rc && out == kept) << text;
  }
}

TEST(TimeCondParseTest, WeekDays) {
  // Days before a bad one stay set.
  const std::tuple<const char*, long, std::bitset<7>> cases[] = {
      {"", FM_SUCCESS, {}},          {"1,2,3,4,5,6,7", FM_SUCCESS, days({1, 2, 3, 4, 5, 6, 7})},
      {"7,7,1", FM_SUCCESS, days({1, 7})}, {" 3", FM_SUCCESS, days({3})},
      {"8", FM_FAILURE, {}},         {"0", FM_FAILURE, {}},
      {"2,9", FM_FAILURE, days({2})}, {"1,", FM_FAILURE, days({1})},
      {"1x", FM_FAILURE, {}},        {"99999999999999999999", FM_FAILURE, {}}};
  for (const auto& [text, rc, expect] : cases) {
    std::bitset<7> bits;
    bits.set();
    EXPECT_TRUE(getBitWeekDay(text, bits) == rc && bits == expect) << text;
  }
}

TEST(TimeCondParseTest, TransformConditionLists) {
  const std::tuple<std::list<CNMTime>, long, size_t> cases[] = {
      {{}, FM_SUCCESS, 1},
      {{CNMTime("", ""), CNMTime("", "")}, FM_SUCCESS, 1},
      {{CNMTime("1,2", "08001800"), CNMTime("9", "08001800")}, FM_PARTIAL_SUCCESS, 1},
      {{CNMTime("9", "08001800")}, FM_FAILURE, 0},                {{CNMTime("1", "25001800")}, FM_FAILURE, 0},
      {{CNMTime("", ""), CNMTime("3", "")}, FM_SUCCESS, 1},       {{CNMTime("", ""), CNMTime("x", "")}, FM_FAILURE, 0},
      {{CNMTime("", "08001800"), CNMTime("6,7", "")}, FM_SUCCESS, 2}};
  for (const auto& [in, rc, count] : cases) {
    std::list<tagTimeCond> out(3);
    EXPECT_TRUE(transFormTimeCond(in, out) == rc && out.size() == count) << in.size();
  }
  std::list<tagTimeCond> out;
  ASSERT_EQ(transFormTimeCond({CNMTime("", "08001800")}, out), FM_SUCCESS);
  EXPECT_TRUE(out.front().m_bitWeekDay.all());  // empty days: every day
  EXPECT_EQ(out.front().m_vecPeriod, (Periods{{28800, 64800}}));
  EXPECT_TRUE(isTimeCondEmpty({}) && isTimeCondEmpty({CNMTime("", "")}));
  EXPECT_FALSE(isTimeCondEmpty({CNMTime("", ""), CNMTime("", "08001800")}));
}

struct tm tmOf(int wday, int h, int m, int s) {
  struct tm t = {};
  t.tm_wday = wday;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  return t;
}

TEST(TimeCondParseTest, MeetTimeCondition) {
  tagTimeCond sunday10;
  sunday10.m_bitWeekDay = days({7});
  sunday10.m_vecPeriod = {{36000, 36000}};
  EXPECT_TRUE(IsMeetTimeCond({sunday10}, tmOf(0, 10, 0, 0)));  // inclusive ends
  EXPECT_FALSE(IsMeetTimeCond({sunday10}, tmOf(0, 10, 0, 1)) || IsMeetTimeCond({sunday10}, tmOf(1, 10, 0, 0)) ||
               IsMeetTimeCond({}, tmOf(0, 10, 0, 0)));

  tagTimeCond weekdays;
  std::list<std::string> periods;
  ASSERT_TRUE(isStr2TimeCond("1,2,3,4,5;08001800|22000000", weekdays, periods));
  EXPECT_TRUE(IsMeetTimeCond({weekdays}, tmOf(1, 8, 0, 0)));
  EXPECT_FALSE(IsMeetTimeCond({weekdays}, tmOf(5, 18, 0, 1)) || IsMeetTimeCond({weekdays}, tmOf(6, 12, 0, 0)));
  EXPECT_TRUE(IsMeetTimeCond({weekdays}, tmOf(3, 23, 59, 59)));  // end 00:00 is the end of the day
  tagTimeCond all;
  setAllTimeNotify(all);
  EXPECT_TRUE(IsMeetTimeCond({weekdays, all}, tmOf(6, 12, 0, 0)));

  tagTimeCond instant;
  getTime2TimeCond(instant, tmOf(0, 1, 2, 3));
  EXPECT_EQ(instant.m_bitWeekDay, days({7}));
  EXPECT_EQ(instant.m_vecPeriod, (Periods{{3723, -1}}));
  getTime2TimeCond(instant, tmOf(7, 1, 2, 3));  // no such weekday: none set
  EXPECT_EQ(instant.m_bitWeekDay, days({}));

  // Now: a condition holding every day and the whole day is always met.
  EXPECT_TRUE(IsMeetTimeCond({all}));
}

TEST(TimeCondParseTest, AutoTaskTimes) {
  for (const char* ok : {"23:59", "0:0", "07:05"}) EXPECT_TRUE(checkAutoTaskTimeValid(ok)) << ok;
  for (const char* bad : {"24:00", "12:60", "-1:00", "12", "1:2:3", "a:b", "12:", "12:3x"}) {
    EXPECT_FALSE(checkAutoTaskTimeValid(bad)) << bad;
  }
}

// ---------------------------------------------------------------------------
// NE local time

// NEs of the tests and their zones.
const std::pair<const char*, const char*> kNEs[] = {
    {"NE=adelaide", "Australia/Adelaide"}, {"NE=kolkata", "Asia/Kolkata"},
    {"NE=stjohns", "America/St_Johns"},    {"NE=saopaulo", "America/Sao_Paulo"},
    {"NE=sydney", "Australia/Sydney"},     {"NE=newyork", "America/New_York"},
    {"NE=berlin", "Europe/Berlin"},        {"NE=lordhowe", "Australia/Lord_Howe"},
};

class NETimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EAMUtil2DB::Clear();
    for (const auto& ne : kNEs) EAMUtil2DB::SetZoneInfoByNe(ne.first, ne.second);
    EAMUtil2DB::SetZoneInfoByNe("NE=mars", "Mars/Olympus_Mons");
    EAMUtil2DB::SetZoneInfoByNe("NE=short", "X");
    CFDNSplitter::instance()->setRootFdn("OMC=1");
    XRFMTimeCondMgr::destroy();
  }
  void TearDown() override {
    XRFMTimeCondMgr::destroy();
    EAMUtil2DB::Clear();
    CFDNSplitter::instance()->setRootFdn("");
  }
};

// NEs of known zones get their local time and DST; the others, and instants
// out of the zone service's range, the server's.
TEST_F(NETimeTest, NETimeOrServerTimeOnFailure) {
  fmtest::ServerZone server("Europe/Berlin", 3600, 3600);
  fmtest::TraceCapture cap;
  XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();
  EXPECT_EQ(mgr->getTimeCond()->getOMCNETimeZone(), 3600);
  EXPECT_EQ(mgr->getTimeCond()->getOMCNEFDN(), "OMC=1");
  long summer = utcOf(2024, 7, 1, 12, 0, 0), winter = utcOf(2024, 1, 15, 12, 0, 0);
  const long kYear10000Jan11 = 253402300800L + 10 * 86400;  // beyond the zone service's range, in winter
  // {NE, instant, local time, DST}
  const std::tuple<const char*, long, long, long> cases[] = {
      {"NE=adelaide", winter, winter + 37800, 3600},  // southern summer
      {"NE=adelaide", summer, summer + 34200, 0},
      {"NE=lordhowe", winter, winter + 39600, 1800},  // half an hour of DST
      {"NE=unknown", summer, summer + 7200, 3600},   {"NE=unknown", winter, winter + 3600, 0},
      {"", summer, summer + 7200, 3600},             {"NE=short", summer, summer + 7200, 3600},
      {"NE=mars", winter, winter + 3600, 0},         {"NE=kolkata", -100000, -100000 + 3600, 0},
      {"NE=kolkata", kYear10000Jan11, kYear10000Jan11 + 3600, 0},
      {"NE=kolkata", LONG_MAX - 3599, 0, 0}};
  for (const auto& [ne, utc, local, dst] : cases) {
    CMOTimeInfo info;
    EXPECT_EQ((std::vector<long>{mgr->GetNECurrentTime(ne, utc, info), info.m_lNELocalTime, info.m_lNEDstOffset}),
              (std::vector<long>{local ? FM_SUCCESS : FM_INVALID_ARG, local, dst})) << ne << " " << utc;
  }
  // Far from the NE's wall clock: kept.
  EAMUtil2DB::SetZoneInfoByNe("NE=far", "Etc/GMT-14");
  CMOTimeInfo info;
  mgr->GetNECurrentTime("NE=far", summer, info);
  EXPECT_EQ(info.m_lNELocalTime, summer + 14 * 3600);
  EXPECT_EQ(mgr->NETimeZone("NE=unknown") + mgr->NETimeZone("NE=mars"), 7200);
  const std::pair<const char*, long> zones[] = {
      {"NE=adelaide", 34200}, {"NE=kolkata", 19800}, {"NE=stjohns", -12600}, {"NE=lordhowe", 37800}};
  for (const auto& z : zones) EXPECT_EQ(mgr->NETimeZone(z.first), z.second) << z.first;
  // A failed zone is not cached; good ones are, once.
  EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), 5u);  // the four known zones asked for and Etc/GMT-14
}

TEST_F(NETimeTest, DestroyBuildsAFreshManager) {
  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  XRFMTimeCondMgr::instance()->NETimeZone("NE=berlin");
  XRFMTimeCondMgr::destroy();
  XRFMTimeCondMgr* second = XRFMTimeCondMgr::instance();
  EXPECT_EQ(second->getTimeCond()->getZoneCacheSize(), 0u);
  EXPECT_EQ(second->NETimeZone("NE=none") + second->NETimeZone("NE=berlin"), 19800 + 3600);
}

// Many threads ask for many NEs and instants at once, the zone cache filling
// while they run; every answer equals the single-threaded one, at the seconds
// around each zone's switches too.
class NETimeConcurrencyTest : public NETimeTest {};

TEST_F(NETimeConcurrencyTest, GetNECurrentTimeAndNETimeZoneMatchSingleThreadedAnswers) {
  fmtest::ServerZone server("Europe/Berlin", 3600, 3600);
  fmtest::TraceCapture cap;  // the failure paths log; keep them off stderr
  std::vector<std::string> nes;
  std::vector<long> instants;  // each zone's first switches from 2010 with their neighbours, and a sweep
  for (const auto& ne : kNEs) {
    nes.push_back(ne.first);
    const long sweep = instants.empty() ? 97 * 86400 + 4321 : 1L << 40;  // the sweep once
    std::vector<long> more = fmtest::zoneProbes(ne.second, utcOf(2010, 1, 1, 0, 0, 0), utcOf(2026, 1, 1, 0, 0, 0),
                                                sweep, {-1, 0, 1, 3600}, 6);
    instants.insert(instants.end(), more.begin(), more.end());
  }
  nes.push_back("NE=mars");
  nes.push_back("NE=unknown");
  // Single-threaded answers.
  struct Answer {
    long local, dst, zone;
  };
  std::vector<Answer> expected;
  {
    XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();
    for (size_t n = 0; n < nes.size(); ++n) {
      for (long utc : instants) {
        CMOTimeInfo info;
        mgr->GetNECurrentTime(nes[n], utc, info);
        expected.push_back({info.m_lNELocalTime, info.m_lNEDstOffset, mgr->NETimeZone(nes[n])});
      }
    }
    EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), sizeof kNEs / sizeof kNEs[0]);
  }
  XRFMTimeCondMgr::destroy();
  XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();  // empty cache: threads race to fill it
  std::atomic<int> mismatches{0};
  fmtest::runTogether(8, [&](int t) {
    for (size_t k = 0; k < expected.size(); ++k) {
      size_t i = (k * 7 + static_cast<size_t>(t) * 13) % expected.size();
      const std::string& ne = nes[i / instants.size()];
      CMOTimeInfo info;
      mgr->GetNECurrentTime(ne, instants[i % instants.size()], info);
      if (info.m_lNELocalTime != expected[i].local || info.m_lNEDstOffset != expected[i].dst) ++mismatches;
      if (i % 5 == 0 && mgr->NETimeZone(ne) != expected[i].zone) ++mismatches;
    }
  });
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), sizeof kNEs / sizeof kNEs[0]);
}

}  // namespace
}  // namespace Kyrofm
