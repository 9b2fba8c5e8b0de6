// Tests of CSysAttr: attributes read at start, alarm-window accounting and the
// server's daylight-saving rule at the second before and after each switch.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <vector>


#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmSettingsFile.h"
#include "support/FmTestSupport.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

using KV = fmtest::SettingsKV;  // full path -> text
using fmtest::writeSettings;

// The groups Init needs to succeed.
KV baseSettings() {
  return {{"/kyro/vela/alarm_configure/fault_ne_syn", "0"},
          {"/kyro/vela/velaplib/product_alarm_process_file/Enable_Alarm_Process", "0"},
          {"/kyro/vela/velaplib/get_transfer_file/enable", "0"}};
}

class SysAttrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_file = fmtest::makeTempDir("sysattr") + "/kyro_settings.xml";
    Setting::instance()->setStorePath(m_file);
    CSysAttr::Destroy();
  }
  void TearDown() override {
    CSysAttr::Destroy();
    Setting::instance()->setStorePath("");
  }
  CSysAttr& fresh(const KV& kv) {
    writeSettings(m_file, kv);
    CSysAttr::Destroy();
    return *CSysAttr::Instance();
  }
  std::string m_file;
};

// ---------------------------------------------------------------------------
// Attributes read at start

TEST_F(SysAttrTest, WindowLimitsFromTheMainGroupWithRangesAndDefaults) {
  using Get = int (CSysAttr::*)() const;
  const Get browse = &CSysAttr::GetBrowseWinQueryAlarmNum, client = &CSysAttr::GetClientAlarmWindowNum,
            total = &CSysAttr::GetTotalWindowNum, stats = &CSysAttr::GetStatisticMaxNum,
            tmpl = &CSysAttr::GetUserTemplateWindowNum, sync = &CSysAttr::GetSyncNenumPerSecond;
  const std::string V = "/kyro/vela/", AC = "/kyro/vela/alarm_configure/sync_nenum_per_second";
  // {key, text, accessor, value}
  const std::tuple<std::string, const char*, Get, int> rows[] = {
      {V + "browse_alarm_query_num", "1", browse, 1},     {V + "browse_alarm_query_num", "0", browse, 1000},
      {V + "browse_alarm_query_num", "1001", browse, 1000}, {V + "browse_alarm_query_num", "5x", browse, 1000},
      {V + "client_alarm_win_num", "21", client, 20},     {V + "all_alarm_win_num", "21", total, 21},
      {V + "all_alarm_win_num", "20", total, 1000},  // not above the client number (20)
      {V + "statistic_max_num", "3", stats, 2},           {V + "user_template_win_num", "0", tmpl, 5},
      {AC, "5000", sync, 5000}, {AC, "5001", sync, 0}, {AC, "12a", sync, 0}};
  for (const auto& [key, text, get, expect] : rows) {
    KV kv = baseSettings();
    kv.emplace_back(key, text);
    EXPECT_EQ((fresh(kv).*get)(), expect) << key << "=" << text;
  }
  // Switches: "1" or "true" on, anything else off.
  CSysAttr& a = fresh({{"/kyro/vela/alarm_configure/fault_ne_syn", "true"},
                       {"/kyro/vela/alarm_configure/ne_period_syn", "x"},
                       {"/kyro/vela/velaplib/product_alarm_process_file/Enable_Alarm_Process", "1"},
                       {"/kyro/vela/velaplib/get_transfer_file/PathFileName", "libtransfer.so"}});
  EXPECT_EQ((std::vector<int>{a.GetFaultAlmNeSynFlag(), a.GetFaultAlmPeriodSynFlag(), a.GetEnableAlarmProcessFlag()}),
            (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(a.GetAlmTransferLibName(), "libtransfer.so");
}

TEST_F(SysAttrTest, ServerTimeInformationFromSettings) {
  KV kv = baseSettings();
  for (const auto& p : KV{{"TimeZone", "-18000"}, {"DSTOffset", "3600"}, {"DSTStartIsWeek", "1"},
                          {"DSTStartWeek", "3/1/2/7"}, {"DSTStartTime", "2:00:00"}, {"DSTEndIsWeek", "true"},
                          {"DSTEndWeek", "11/1/1/7"}, {"DSTEndTime", "2:00:00"}}) {
    kv.emplace_back("/kyro/vela/server_time/" + p.first, p.second);
  }
  CSysAttr& a = fresh(kv);
  // US rule of 2016: second Sunday of March (13th) to first Sunday of November (6th).
  EXPECT_EQ((std::vector<long>{a.GetSvrTimeZone(), a.GetSvrDSTOffset(20160313, 15959), a.GetSvrDSTOffset(20160313, 20000),
                               a.GetSvrDSTOffset(20161106, 20001)}),
            (std::vector<long>{-18000, 0, 3600, 0}));
  // Read even when the library groups are missing; an invalid offset is not used.
  CSysAttr& b = fresh({{"/kyro/vela/server_time/TimeZone", "28800"}, {"/kyro/vela/server_time/DSTOffset", "90000"}});
  EXPECT_EQ(std::make_pair(b.GetSvrTimeZone(), b.GetSvrDSTOffset()), std::make_pair(28800L, 0L));
  // Without server time settings the host's standard offset is used.
  for (auto zone : {std::make_pair("Europe/Berlin", 3600L), std::make_pair("Europe/Dublin", 0L)}) {
    fmtest::ScopedTZ host(zone.first);
    CSysAttr& a = fresh(baseSettings());
    EXPECT_EQ(a.GetSvrTimeZone(), zone.second) << zone.first << ": standard time, whatever the season";
  }
}

// ---------------------------------------------------------------------------
// Window accounting

// A new session beyond the limit is refused but stays counted until the host
// removes it; a known session changes its count up to the limit.
TEST_F(SysAttrTest, WindowAccountingUpToTheLimit) {
  CSysAttr& a = fresh(baseSettings());  // limit 1000
  using V = std::vector<long>;
  // {result, the session's count, the total} after asking for n windows.
  auto ask = [&a](uint32_t session, int n) {
    long rc = a.checkIfExceedMaxWindNum(session, n);
    return V{rc, a.getClientWindowNum(session), a.getCurTotalWindowNum()};
  };
  EXPECT_EQ(ask(1, 600), (V{FM_SUCCESS, 600, 600}));
  EXPECT_EQ(ask(2, 390), (V{FM_SUCCESS, 390, 990}));
  EXPECT_EQ(ask(3, 20), (V{FM_EXCEED_MAX_WIND_LIMIT, 20, 1010}));
  a.delClientForAbnormalExit(3);
  a.delClientForAbnormalExit(3);  // unknown now: nothing happens
  EXPECT_EQ(std::make_pair(a.getClientWindowNum(3), a.getCurTotalWindowNum()), std::make_pair(-1, 990));
  EXPECT_EQ(ask(2, 400), (V{FM_SUCCESS, 400, 1000}));
  EXPECT_EQ(ask(2, 401), (V{FM_EXCEED_MAX_WIND_LIMIT, 400, 1000})) << "a refused change keeps the former count";
  EXPECT_EQ(ask(2, 0), (V{FM_SUCCESS, 0, 600}));
  EXPECT_EQ(ask(4, -1), (V{FM_INVALID_ARG, -1, 600}));
}

// ---------------------------------------------------------------------------
// Daylight-saving rule pieces

TEST(SysAttrRuleTest, DatesTimesAndMonthLengths) {
  fmtest::TraceCapture quiet;
  // {text, ok, value}: dates are m/d (mmdd), times h:mm[:ss] (hhmmss).
  const std::tuple<const char*, bool, long> dates[] = {
      {"12/31", true, 1231}, {"2/29", true, 229}, {"328", false, 0}, {"13/1", false, 0}, {"2/30", false, 0}};
  const std::tuple<const char*, bool, long> times[] = {
      {"23:59:59", true, 235959}, {"2:00", true, 20000},    {":00:00", false, 0},  {"24:00:00", false, 0},
      {"2:60:00", false, 0},      {"2:00:60", false, 0},    {"2:00:0", false, 0},  {"2:000:00", false, 0}};
  for (bool isDate : {true, false}) {
    for (const auto& [text, ok, value] : isDate ? std::vector(std::begin(dates), std::end(dates))
                                                : std::vector(std::begin(times), std::end(times))) {
      long v = -1;
      EXPECT_EQ(isDate ? CSysAttr::FormatDate(text, v) : CSysAttr::FormatTime(text, v), ok) << text;
      EXPECT_EQ(v, ok ? value : v) << text;
    }
  }
  const std::tuple<int, int, int> months[] = {{2015, 2, 28}, {2016, 2, 29}, {1900, 2, 28}, {2000, 2, 29},
                                              {2015, 1, 31}, {2015, 12, 31}, {2015, 0, 0},  {2015, 13, 0}};
  for (const auto& [y, m, days] : months) EXPECT_EQ(CSysAttr::GetDaysPerMonth(y, m), days) << y << "/" << m;
}

// Weekday by the C library, as an independent oracle (1 Monday .. 7 Sunday).
int libcWeekDay(int y, int m, int d) {
  struct tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = m - 1;
  t.tm_mday = d;
  t.tm_hour = 12;
  time_t when = ::timegm(&t);
  struct tm out;
  ::gmtime_r(&when, &out);
  return out.tm_wday == 0 ? 7 : out.tm_wday;
}

TEST(SysAttrRuleTest, WeekRulesToDates) {
  // {rule month/anchor day/count/weekday, year, ok, mmdd}
  const std::tuple<const char*, int, bool, long> rows[] = {
      {"3/0/-1/7", 2021, true, 328},   // March 31 is a Wednesday: last Sunday is the 28th
      {"10/1/1/7", 2017, true, 1001},  // October 1 is a Sunday
      {"3/0/-1/2", 2015, true, 331},   // the anchor day itself
      {"3/1/2/7", 2016, true, 313},    {"2/0/-1/7", 2016, true, 228},   {"2/0/-1/1", 2016, true, 229},  // leap February ends on Monday the 29th
      {"3/8/-2/5", 2015, true, 227},   // second Friday on or before March 8 lies in February
      {"2/0/1/7", 2015, true, 301},    // first Sunday on or after February 28 lies in March
      {"12/0/1/7", 2015, false, 0},    // ... in the next year
      {"1/1/-1/7", 2016, false, 0},    {"1/1/-1/7", 2017, true, 101},  // ... in the previous year
      {"3/0/5/7", 2015, false, 0},     // two months on
      {"2/29/1/1", 2015, false, 0},    // no February 29
      {"3/0/0/7", 2015, false, 0},     {"3/0/-1/8", 2015, false, 0}, {"13/0/-1/7", 2015, false, 0},
      {"3/0/-1", 2015, false, 0},      {"3/0/-1/7/1", 2015, false, 0}, {"3/x/-1/7", 2015, false, 0},
  };
  for (const auto& [rule, year, ok, mmdd] : rows) {
    long v = -1;
    EXPECT_EQ(CSysAttr::ConvertWeek2Date(rule, year, v), ok) << rule << " " << year;
    EXPECT_EQ(v, ok ? mmdd : v) << rule << " " << year;
  }
  // Week days before the epoch (a week from Thursday to Wednesday).
  for (int d = 25; d <= 31; ++d) EXPECT_EQ(CSysAttr::GetWeekDay(1969, 12, d), libcWeekDay(1969, 12, d)) << d;
}

// ---------------------------------------------------------------------------
// Daylight saving for any date and time

class SysAttrDstTest : public SysAttrTest {
 protected:
  CSysAttr& withRule(bool startWeek, const char* start, const char* startTime, bool endWeek, const char* end,
                     const char* endTime, long offset = 3600) {
    CSysAttr& a = fresh(baseSettings());
    a.setTimeInfo({3600, offset, startWeek, startWeek ? start : "", startWeek ? "" : start, startTime, endWeek,
                   endWeek ? end : "", endWeek ? "" : end, endTime});
    return a;
  }
};

// The day of the first (count 1) or last (count -1) `weekday` (1..7, Sunday 7) of a month, by brute force.
int nthWeekday(int y, int m, int weekday, int count) {
  for (int d = count > 0 ? 1 : CSysAttr::GetDaysPerMonth(y, m);; d += count) {
    if (libcWeekDay(y, m, d) == weekday) return d;
  }
}

// Last Sundays (northern hemisphere) and first Sundays spanning the new year
// (southern hemisphere), over many years.
TEST_F(SysAttrDstTest, WeekRulesOverSeveralYears) {
  struct Rule {
    const char *start, *end;
    int startMonth, endMonth, count;
    long offset, inside, outside;  // mmdd of a day inside and outside daylight saving
  } rules[] = {{"3/0/-1/7", "10/0/-1/7", 3, 10, -1, 3600, 701, 101}, {"10/1/1/7", "4/1/1/7", 10, 4, 1, 1800, 101, 701}};
  for (const Rule& r : rules) {
    CSysAttr& a = withRule(true, r.start, "2:00:00", true, r.end, "3:00:00", r.offset);
    for (int y = 2013; y <= 2030; ++y) {
      const long start = y * 10000L + r.startMonth * 100 + nthWeekday(y, r.startMonth, 7, r.count);
      const long end = y * 10000L + r.endMonth * 100 + nthWeekday(y, r.endMonth, 7, r.count);
      EXPECT_EQ((std::vector<long>{a.GetSvrDSTOffset(start, 15959), a.GetSvrDSTOffset(start, 20000),
                                   a.GetSvrDSTOffset(end, 30000), a.GetSvrDSTOffset(end, 30001),
                                   a.GetSvrDSTOffset(y * 10000L + r.inside, 0), a.GetSvrDSTOffset(y * 10000L + r.outside, 120000)}),
                (std::vector<long>{0, r.offset, r.offset, 0, r.offset, 0})) << r.start << " " << y;
    }
  }
}

TEST_F(SysAttrDstTest, NoRuleSameDayAndUnreadableRules) {
  EXPECT_EQ(withRule(false, "", "", false, "", "").GetSvrDSTOffset(20150701, 120000), 0);
  EXPECT_EQ(withRule(false, "3/28", "2:00:00", false, "10/31", "3:00:00", 0).GetSvrDSTOffset(20150701, 120000), 0);
  CSysAttr& same = withRule(false, "5/1", "1:00:00", false, "5/1", "5:00:00");
  EXPECT_EQ(same.GetSvrDSTOffset(20150501, 30000) + same.GetSvrDSTOffset(20150701, 30000), 0);
  const std::tuple<bool, const char*, const char*, bool, const char*> rows[] = {
      {false, "328", "2:00:00", false, "10/31"}, {false, "3/28", "200", false, "10/31"},
      {true, "3/0/-1", "2:00:00", false, "10/31"}, {false, "3/28", "2:00:00", true, "12/0/1/7"}};
  fmtest::TraceCapture quiet;
  for (const auto& [sw, start, startTime, ew, end] : rows) {
    EXPECT_EQ(withRule(sw, start, startTime, ew, end, "3:00:00").GetSvrDSTOffset(20150701, 120000), FM_FAILURE) << start;
  }
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

class SysAttrConcurrency : public SysAttrTest {};

TEST_F(SysAttrConcurrency, FirstCallsOfInstanceBuildOneObject) {
  auto got = fmtest::firstCallsFromThreads([] {
    return static_cast<const void*>(CSysAttr::Instance());
  });
  EXPECT_EQ(got.size(), 1u);
}

TEST_F(SysAttrConcurrency, WindowAccountingStaysConsistent) {
  CSysAttr& a = *CSysAttr::Instance();
  constexpr int kThreads = 3;
  fmtest::runTogether(kThreads, [&a](int t) {
    for (int i = 0; i < 200; ++i) {
      uint32_t session = static_cast<uint32_t>(t * 1000 + i % 10);
      a.checkIfExceedMaxWindNum(session, (i * 7) % 20);
      if (i % 3 == 0) a.delClientForAbnormalExit(session);
      SvrTimeInfo_t info;
      a.getTimeInfo(info);
      if (i % 50 == 0) a.setTimeInfo(info);
    }
  });
  int sum = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int s = 0; s < 10; ++s) sum += std::max(0, a.getClientWindowNum(static_cast<uint32_t>(t * 1000 + s)));
  }
  EXPECT_EQ(a.getCurTotalWindowNum(), sum);
}

}  // namespace
}  // namespace Kyrofm
