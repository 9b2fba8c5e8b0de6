// Tests of weekly time conditions (parsers driven with malformed input,
// conversion of condition lists, the meet test) and of the NE local time with
// its zone cache, single-threaded against cctz and concurrently.
#include <gtest/gtest.h>

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include <atomic>
#include <thread>
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

long utcOf(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<long>(
      cctz::convert(cctz::civil_second(y, mo, d, h, mi, s), cctz::utc_time_zone()).time_since_epoch().count());
}

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
    EXPECT_TRUE(isStr2TimeCond(text, cond, periods)) << text;
    EXPECT_EQ(cond.m_bitWeekDay, bits) << text;
    EXPECT_EQ(cond.m_vecPeriod, expect) << text;
  }
  for (const char* bad : {"", "8;08001800", "0", "1,,2;08001800", "1;0800180", "1;080018000", "1;08001800|",
                          "1;08001800|09001000|10001100|11001200", "1;2;3", "1;24001800", "1;08002400",
                          "1;0800180a"}) {
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
      {"", FM_SUCCESS, kWholeDay},
      {"00000000", FM_SUCCESS, {{0, 86400}}},
      {"23592359", FM_SUCCESS, {{86340, 86340}}},
      {"08001800|09001000", FM_SUCCESS, {{28800, 64800}, {32400, 36000}}},
      {"24001800|", FM_FAILURE, {}},
      {"08601800|", FM_FAILURE, {}},
      {"08002500|", FM_FAILURE, {}},
      {"08001899|", FM_FAILURE, {}},
      {"08001800|24001800", FM_FAILURE, {{28800, 64800}}},
      {"08001800|0900", FM_FAILURE, {{28800, 64800}}},
      {"|", FM_FAILURE, {}},
      {"0800180000|", FM_FAILURE, {}},
      {"ab", FM_FAILURE, {}},
  };
  for (const auto& [text, rc, kept] : cases) {
    Periods out = {{1, 2}};
    EXPECT_EQ(getTimeRanges(text, out), rc) << text;
    EXPECT_EQ(out, kept) << text;
  }
}

TEST(TimeCondParseTest, WeekDays) {
  const std::tuple<const char*, long, std::bitset<7>> cases[] = {
      {"", FM_SUCCESS, {}},
      {"1,2,3,4,5,6,7", FM_SUCCESS, days({1, 2, 3, 4, 5, 6, 7})},
      {"7,7,1", FM_SUCCESS, days({1, 7})},
      {" 3", FM_SUCCESS, days({3})},
      {"8", FM_FAILURE, {}},
      {"0", FM_FAILURE, {}},
      {"2,9", FM_FAILURE, days({2})},  // days before the bad one stay set
      {"1,", FM_FAILURE, days({1})},
      {"1x", FM_FAILURE, {}},
      {"99999999999999999999", FM_FAILURE, {}},
  };
  for (const auto& [text, rc, expect] : cases) {
    std::bitset<7> bits;
    bits.set();
    EXPECT_EQ(getBitWeekDay(text, bits), rc) << text;
    EXPECT_EQ(bits, expect) << text;
  }
}

TEST(TimeCondParseTest, TransformConditionLists) {
  struct Case {
    std::list<CNMTime> in;
    long rc;
    size_t count;
  } cases[] = {
      {{}, FM_SUCCESS, 1},
      {{CNMTime("", ""), CNMTime("", "")}, FM_SUCCESS, 1},
      {{CNMTime("1,2", "08001800"), CNMTime("9", "08001800")}, FM_PARTIAL_SUCCESS, 1},
      {{CNMTime("9", "08001800")}, FM_FAILURE, 0},
      {{CNMTime("1", "25001800")}, FM_FAILURE, 0},
      {{CNMTime("", ""), CNMTime("3", "")}, FM_SUCCESS, 1},
      {{CNMTime("", "08001800"), CNMTime("6,7", "")}, FM_SUCCESS, 2},
      {{CNMTime("", ""), CNMTime("x", "")}, FM_FAILURE, 0},
  };
  for (const auto& c : cases) {
    std::list<tagTimeCond> out(3);
    EXPECT_EQ(transFormTimeCond(c.in, out), c.rc) << c.in.size();
    EXPECT_EQ(out.size(), c.count) << c.in.size();
  }
  std::list<tagTimeCond> out;
  ASSERT_EQ(transFormTimeCond({}, out), FM_SUCCESS);
  EXPECT_TRUE(out.front().m_bitWeekDay.all());
  EXPECT_EQ(out.front().m_vecPeriod, kWholeDay);
  ASSERT_EQ(transFormTimeCond({CNMTime("", "08001800")}, out), FM_SUCCESS);
  EXPECT_TRUE(out.front().m_bitWeekDay.all());  // empty days: every day
  EXPECT_EQ(out.front().m_vecPeriod, (Periods{{28800, 64800}}));
  EXPECT_TRUE(isTimeCondEmpty({}));
  EXPECT_TRUE(isTimeCondEmpty({CNMTime("", "")}));
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
  EXPECT_FALSE(IsMeetTimeCond({sunday10}, tmOf(0, 10, 0, 1)));
  EXPECT_FALSE(IsMeetTimeCond({sunday10}, tmOf(1, 10, 0, 0)));
  EXPECT_FALSE(IsMeetTimeCond({}, tmOf(0, 10, 0, 0)));

  tagTimeCond weekdays;
  std::list<std::string> periods;
  ASSERT_TRUE(isStr2TimeCond("1,2,3,4,5;08001800|22000000", weekdays, periods));
  EXPECT_TRUE(IsMeetTimeCond({weekdays}, tmOf(1, 8, 0, 0)));
  EXPECT_TRUE(IsMeetTimeCond({weekdays}, tmOf(5, 18, 0, 0)));
  EXPECT_FALSE(IsMeetTimeCond({weekdays}, tmOf(5, 18, 0, 1)));
  EXPECT_TRUE(IsMeetTimeCond({weekdays}, tmOf(3, 23, 59, 59)));  // end 00:00 is the end of the day
  EXPECT_FALSE(IsMeetTimeCond({weekdays}, tmOf(6, 12, 0, 0)));
  tagTimeCond all;
  setAllTimeNotify(all);
  EXPECT_TRUE(IsMeetTimeCond({weekdays, all}, tmOf(6, 12, 0, 0)));

  tagTimeCond instant;
  getTime2TimeCond(instant, tmOf(0, 1, 2, 3));
  EXPECT_EQ(instant.m_bitWeekDay, days({7}));
  EXPECT_EQ(instant.m_vecPeriod, (Periods{{3723, -1}}));
  getTime2TimeCond(instant, tmOf(3, 0, 0, 0));
  EXPECT_EQ(instant.m_bitWeekDay, days({3}));

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

// Expected NE time from cctz: local = utc + offset, DST = offset - standard.
void expectMatchesCctz(const char* zone, long utc, const CMOTimeInfo& info) {
  cctz::time_zone tz;
  ASSERT_TRUE(cctz::load_time_zone(zone, &tz));
  auto al = tz.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(utc)));
  EXPECT_EQ(info.m_lNELocalTime, utc + al.offset) << zone << " " << utc;
  if (!al.is_dst) {
    EXPECT_EQ(info.m_lNEDstOffset, 0) << zone << " " << utc;
  } else {
    EXPECT_GT(info.m_lNEDstOffset, 0) << zone << " " << utc;
    // The standard offset: that of the nearest period without DST.
    long std = al.offset;
    for (long k = 1; k <= 24 && std == al.offset; ++k) {
      for (long sign : {-1L, 1L}) {
        auto other = tz.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(utc + sign * k * 15 * 86400)));
        if (!other.is_dst && std == al.offset) std = other.offset;
      }
    }
    EXPECT_EQ(info.m_lNEDstOffset, al.offset - std) << zone << " " << utc;
  }
}

// Local time and DST of each known zone are checked against cctz by the
// concurrency suite below; here the zones' standard offsets.
TEST_F(NETimeTest, ZoneOffsets) {
  fmtest::ServerZone server("UTC", 0, 0);
  XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();
  const std::pair<const char*, long> zones[] = {
      {"NE=adelaide", 34200}, {"NE=kolkata", 19800}, {"NE=stjohns", -12600}, {"NE=lordhowe", 37800}};
  for (const auto& z : zones) EXPECT_EQ(mgr->NETimeZone(z.first), z.second) << z.first;
  CMOTimeInfo info;
  EXPECT_EQ(mgr->GetNECurrentTime("NE=lordhowe", utcOf(2024, 1, 15, 0, 0, 0), info), FM_SUCCESS);
  EXPECT_EQ(info.m_lNEDstOffset, 1800);  // half an hour of DST
}

TEST_F(NETimeTest, FailuresFallBackToServerTime) {
  fmtest::ServerZone server("Europe/Berlin", 3600, 3600);
  fmtest::TraceCapture cap;
  XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();
  EXPECT_EQ(mgr->getTimeCond()->getOMCNETimeZone(), 3600);
  EXPECT_EQ(mgr->getTimeCond()->getOMCNEFDN(), "OMC=1");
  long summer = utcOf(2024, 7, 1, 12, 0, 0), winter = utcOf(2024, 1, 15, 12, 0, 0);
  const long kYear10000Jan11 = 253402300800L + 10 * 86400;  // beyond the zone service's range, in winter
  struct {
    const char* ne;
    long utc;
    long local;
    long dst;
  } cases[] = {
      {"NE=unknown", summer, summer + 7200, 3600},
      {"NE=unknown", winter, winter + 3600, 0},
      {"", summer, summer + 7200, 3600},
      {"NE=short", summer, summer + 7200, 3600},
      {"NE=mars", winter, winter + 3600, 0},
      {"NE=kolkata", kYear10000Jan11, kYear10000Jan11 + 3600, 0},
      {"NE=kolkata", -100000, -100000 + 3600, 0},
      {"NE=kolkata", LONG_MAX - 3599, 0, 0},
  };
  for (const auto& c : cases) {
    CMOTimeInfo info;
    EXPECT_EQ(mgr->GetNECurrentTime(c.ne, c.utc, info), c.local ? FM_SUCCESS : FM_INVALID_ARG) << c.ne;
    EXPECT_EQ(info.m_lNELocalTime, c.local) << c.ne << " " << c.utc;
    EXPECT_EQ(info.m_lNEDstOffset, c.dst) << c.ne << " " << c.utc;
  }
  // Far from the NE's wall clock: kept.
  EAMUtil2DB::SetZoneInfoByNe("NE=far", "Etc/GMT-14");
  CMOTimeInfo info;
  mgr->GetNECurrentTime("NE=far", summer, info);
  EXPECT_EQ(info.m_lNELocalTime, summer + 14 * 3600);
  EXPECT_EQ(mgr->NETimeZone("NE=unknown") + mgr->NETimeZone("NE=mars"), 7200);
  // A failed zone is not cached; good ones are, once.
  mgr->NETimeZone("NE=kolkata");
  mgr->NETimeZone("NE=kolkata");
  EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), 2u);  // Kolkata and Etc/GMT-14
}

TEST_F(NETimeTest, DestroyBuildsAFreshManager) {
  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  XRFMTimeCondMgr* first = XRFMTimeCondMgr::instance();
  EXPECT_EQ(first->NETimeZone("NE=none"), 19800);
  first->NETimeZone("NE=berlin");
  EXPECT_EQ(first->getTimeCond()->getZoneCacheSize(), 1u);
  XRFMTimeCondMgr::destroy();
  XRFMTimeCondMgr* second = XRFMTimeCondMgr::instance();
  EXPECT_EQ(second->getTimeCond()->getZoneCacheSize(), 0u);
  EXPECT_EQ(second->NETimeZone("NE=berlin"), 3600);
}

// Many threads ask for many NEs and instants at once, the zone cache filling
// while they run; every answer equals the single-threaded one, which for each
// known zone is cctz's, at the seconds around its switches too.
class NETimeConcurrencyTest : public NETimeTest {};

TEST_F(NETimeConcurrencyTest, GetNECurrentTimeAndNETimeZoneMatchSingleThreadedAnswers) {
  fmtest::ServerZone server("Europe/Berlin", 3600, 3600);
  fmtest::TraceCapture cap;  // the failure paths log; keep them off stderr
  std::vector<std::string> nes;
  std::vector<long> instants;  // each zone's first switches from 2010 with their neighbours, and a sweep
  for (const auto& ne : kNEs) {
    nes.push_back(ne.first);
    cctz::time_zone tz;
    ASSERT_TRUE(cctz::load_time_zone(ne.second, &tz));
    auto tp = cctz::time_point<cctz::seconds>(cctz::seconds(utcOf(2010, 1, 1, 0, 0, 0)));
    cctz::time_zone::civil_transition tr;
    for (int i = 0; i < 6 && tz.next_transition(tp, &tr); ++i) {
      tp = tz.lookup(tr.to).trans;
      for (long d : {-1L, 0L, 1L, 3600L}) instants.push_back(static_cast<long>(tp.time_since_epoch().count()) + d);
    }
  }
  nes.push_back("NE=mars");
  nes.push_back("NE=unknown");
  for (long t = utcOf(2012, 1, 1, 0, 0, 0); t < utcOf(2026, 1, 1, 0, 0, 0); t += 97 * 86400 + 4321) {
    instants.push_back(t);
  }
  // Single-threaded answers, checked against cctz for the NEs of known zones.
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
        if (n < sizeof kNEs / sizeof kNEs[0]) expectMatchesCctz(kNEs[n].second, utc, info);
        expected.push_back({info.m_lNELocalTime, info.m_lNEDstOffset, mgr->NETimeZone(nes[n])});
      }
    }
    EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), sizeof kNEs / sizeof kNEs[0]);
  }
  XRFMTimeCondMgr::destroy();
  XRFMTimeCondMgr* mgr = XRFMTimeCondMgr::instance();  // empty cache: threads race to fill it
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  const int kThreads = 8;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (size_t round = 0; round < 2; ++round) {
        for (size_t k = 0; k < expected.size(); ++k) {
          size_t i = (k * 7 + static_cast<size_t>(t) * 13 + round) % expected.size();
          const std::string& ne = nes[i / instants.size()];
          long utc = instants[i % instants.size()];
          CMOTimeInfo info;
          mgr->GetNECurrentTime(ne, utc, info);
          if (info.m_lNELocalTime != expected[i].local || info.m_lNEDstOffset != expected[i].dst) ++mismatches;
          if (i % 5 == 0 && mgr->NETimeZone(ne) != expected[i].zone) ++mismatches;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(mgr->getTimeCond()->getZoneCacheSize(), sizeof kNEs / sizeof kNEs[0]);
}

}  // namespace
}  // namespace Kyrofm
