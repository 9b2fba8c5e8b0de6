// Tests of CSysAttr: attributes read at start, alarm-window accounting and the
// server's daylight-saving rule at the second before and after each switch.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>


#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmSettingsFile.h"
#include "support/FmTestSupport.h"
#include "support_tz.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;

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
  struct Row {
    const char* key;
    const char* text;  // nullptr: absent
    int (CSysAttr::*get)() const;
    int expect;
  } rows[] = {
      {"browse_alarm_query_num", "1", &CSysAttr::GetBrowseWinQueryAlarmNum, 1},
      {"browse_alarm_query_num", "0", &CSysAttr::GetBrowseWinQueryAlarmNum, 1000},
      {"browse_alarm_query_num", "1001", &CSysAttr::GetBrowseWinQueryAlarmNum, 1000},
      {"browse_alarm_query_num", "5x", &CSysAttr::GetBrowseWinQueryAlarmNum, 1000},
      {"browse_alarm_query_num", nullptr, &CSysAttr::GetBrowseWinQueryAlarmNum, 1000},
      {"client_alarm_win_num", "1", &CSysAttr::GetClientAlarmWindowNum, 1},
      {"client_alarm_win_num", "21", &CSysAttr::GetClientAlarmWindowNum, 20},
      {"all_alarm_win_num", "21", &CSysAttr::GetTotalWindowNum, 21},
      {"all_alarm_win_num", "20", &CSysAttr::GetTotalWindowNum, 1000},  // not above the client number (20)
      {"all_alarm_win_num", "1001", &CSysAttr::GetTotalWindowNum, 1000},
      {"statistic_max_num", "1", &CSysAttr::GetStatisticMaxNum, 1},
      {"statistic_max_num", "3", &CSysAttr::GetStatisticMaxNum, 2},
      {"user_template_win_num", "5", &CSysAttr::GetUserTemplateWindowNum, 5},
      {"user_template_win_num", "0", &CSysAttr::GetUserTemplateWindowNum, 5},
  };
  for (const auto& r : rows) {
    KV kv = baseSettings();
    if (r.text) kv.emplace_back(std::string("/kyro/vela/") + r.key, r.text);
    EXPECT_EQ((fresh(kv).*r.get)(), r.expect) << r.key << "=" << (r.text ? r.text : "absent");
  }
  // A small client limit lets a small total through.
  KV kv = baseSettings();
  kv.emplace_back("/kyro/vela/client_alarm_win_num", "5");
  kv.emplace_back("/kyro/vela/all_alarm_win_num", "6");
  EXPECT_EQ(fresh(kv).GetTotalWindowNum(), 6);
}

TEST_F(SysAttrTest, SynchronisationRateSwitchesAndLibraries) {
  for (const auto& [text, expect] : {std::pair<const char*, int>{"0", 0}, {"5000", 5000}, {"120", 120}, {"5001", 0},
                                     {"-1", 0}, {"12a", 0}, {"", 0}, {nullptr, 0}}) {
    KV kv = baseSettings();
    if (text) kv.emplace_back("/kyro/vela/alarm_configure/sync_nenum_per_second", text);
    EXPECT_EQ(fresh(kv).GetSyncNenumPerSecond(), expect) << (text ? text : "absent");
  }
  CSysAttr& a = fresh({{"/kyro/vela/alarm_configure/fault_ne_syn", "1"},
                       {"/kyro/vela/alarm_configure/ne_startsvc_syn", "true"},
                       {"/kyro/vela/alarm_configure/ne_recover_syn", "0"},
                       {"/kyro/vela/alarm_configure/ne_period_syn", "x"},
                       {"/kyro/vela/velaplib/product_alarm_process_file/Enable_Alarm_Process", "1"},
                       {"/kyro/vela/velaplib/product_alarm_process_file/PathFileName", "libproduct.so"},
                       {"/kyro/vela/velaplib/get_transfer_file/enable", "1"},
                       {"/kyro/vela/velaplib/get_transfer_file/PathFileName", "libtransfer.so"},
                       {"/kyro/vela/EnableProcessMoDeleteEventFlag", "1"}});
  EXPECT_EQ((std::vector<int>{a.GetFaultAlmNeSynFlag(), a.GetFaultAlmStartSynFlag(), a.GetFaultAlmRecoverSynFlag(),
                              a.GetFaultAlmPeriodSynFlag(), a.GetEnableAlarmProcessFlag(),
                              a.GetEnableAlarmTransferFlag(), a.GetEnableProcessMoDeleteEventFlag()}),
            (std::vector<int>{1, 1, 0, 0, 1, 1, 1}));
  EXPECT_EQ(a.GetProductLibName() + " " + a.GetAlmTransferLibName(), "libproduct.so libtransfer.so");
}

TEST_F(SysAttrTest, MissingLibraryGroupsFailInitButServerTimeIsStillRead) {
  struct Row {
    KV kv;
    const char* message;
  } rows[] = {
      {{}, "Get GroupParams value failed[P:/kyro/vela/alarm_configure] !"},
      {{{"/kyro/vela/alarm_configure/fault_ne_syn", "1"}}, "Get product_alarm_process_file groups fail:1005 !"},
      {{{"/kyro/vela/alarm_configure/fault_ne_syn", "1"},
        {"/kyro/vela/velaplib/product_alarm_process_file/PathFileName", "p"}},
       "Get get_transfer_file groups fail:1005 !"},
  };
  for (auto& r : rows) {
    r.kv.emplace_back("/kyro/vela/server_time/TimeZone", "28800");
    r.kv.emplace_back("/kyro/vela/server_time/DSTOffset", "3600");
    fmtest::TraceCapture cap;
    CSysAttr& a = fresh(r.kv);
    EXPECT_TRUE(cap.contains(r.message, TRACE_ERROR)) << r.message;
    EXPECT_EQ(a.GetSvrTimeZone(), 28800);
    EXPECT_EQ(a.GetSvrDSTOffset(), 3600);
  }
}

TEST_F(SysAttrTest, ShippedSettingsGiveTheDocumentedValuesWithoutComplaint) {
  fs::copy_file(std::string(FM_SOURCE_DIR) + "/etc/kyro_settings.xml", m_file, fs::copy_options::overwrite_existing);
  fmtest::TraceCapture cap;
  CSysAttr::Destroy();
  CSysAttr& a = *CSysAttr::Instance();
  EXPECT_EQ(a.GetBrowseWinQueryAlarmNum(), 1000);
  EXPECT_EQ(a.GetClientAlarmWindowNum(), 20);
  EXPECT_EQ(a.GetTotalWindowNum(), 1000);
  EXPECT_EQ(a.GetStatisticMaxNum(), 2);
  EXPECT_EQ(a.GetUserTemplateWindowNum(), 5);
  EXPECT_EQ(a.GetSyncNenumPerSecond(), 0);
  EXPECT_EQ(a.GetSvrDSTOffset(), 0);
  EXPECT_EQ(a.GetSvrDSTOffset(20150701, 120000), 0);
  for (const auto& m : cap.sink().messages()) EXPECT_LT(m.level, TRACE_WARNING) << m.text;
}

TEST_F(SysAttrTest, ServerTimeInformationFromSettings) {
  KV kv = baseSettings();
  for (const auto& p : KV{{"TimeZone", "-18000"},
                          {"DSTOffset", "3600"},
                          {"DSTStartIsWeek", "1"},
                          {"DSTStartWeek", "3/1/2/7"},
                          {"DSTStartTime", "2:00:00"},
                          {"DSTEndIsWeek", "true"},
                          {"DSTEndWeek", "11/1/1/7"},
                          {"DSTEndTime", "2:00:00"}}) {
    kv.emplace_back("/kyro/vela/server_time/" + p.first, p.second);
  }
  CSysAttr& a = fresh(kv);
  EXPECT_EQ(a.GetSvrTimeZone(), -18000);
  // US rule of 2016: second Sunday of March (13th) to first Sunday of November (6th).
  EXPECT_EQ(a.GetSvrDSTOffset(20160313, 15959), 0);
  EXPECT_EQ(a.GetSvrDSTOffset(20160313, 20000), 3600);
  EXPECT_EQ(a.GetSvrDSTOffset(20161106, 20000), 3600);
  EXPECT_EQ(a.GetSvrDSTOffset(20161106, 20001), 0);

  // Invalid offsets are reported and not used.
  KV bad = baseSettings();
  bad.emplace_back("/kyro/vela/server_time/TimeZone", "90000");
  bad.emplace_back("/kyro/vela/server_time/DSTOffset", "x");
  CSysAttr& b = fresh(bad);
  EXPECT_NE(b.GetSvrTimeZone(), 90000);
  EXPECT_EQ(b.GetSvrDSTOffset(), 0);
}

TEST_F(SysAttrTest, WithoutServerTimeSettingsTheHostStandardOffsetIsUsed) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no zone database";
  for (auto zone : {std::make_pair("Europe/Berlin", 3600L), std::make_pair("Europe/Dublin", 0L)}) {
    fmtest::ScopedTZ host(zone.first);
    CSysAttr& a = fresh(baseSettings());
    EXPECT_EQ(a.GetSvrTimeZone(), zone.second) << zone.first << ": standard time, whatever the season";
    EXPECT_EQ(a.GetSvrDSTOffset(), 0);
  }
}

// ---------------------------------------------------------------------------
// Window accounting

TEST_F(SysAttrTest, NewSessionBeyondTheLimitIsRefusedButStaysCounted) {
  CSysAttr& a = fresh(baseSettings());
  ASSERT_EQ(a.GetTotalWindowNum(), 1000);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(1, 600), FM_SUCCESS);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(2, 390), FM_SUCCESS);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(3, 20), FM_EXCEED_MAX_WIND_LIMIT);
  EXPECT_EQ(a.getClientWindowNum(3), 20);
  EXPECT_EQ(a.getCurTotalWindowNum(), 1010);
  // The host removes the refused session; its windows are given back.
  a.delClientForAbnormalExit(3);
  EXPECT_EQ(a.getCurTotalWindowNum(), 990);
  EXPECT_EQ(a.getClientWindowNum(3), -1);
  a.delClientForAbnormalExit(3);  // unknown: nothing happens
  EXPECT_EQ(a.getCurTotalWindowNum(), 990);
}

TEST_F(SysAttrTest, KnownSessionChangesItsCountUpToTheLimit) {
  CSysAttr& a = fresh(baseSettings());
  ASSERT_EQ(a.checkIfExceedMaxWindNum(1, 600), FM_SUCCESS);
  ASSERT_EQ(a.checkIfExceedMaxWindNum(2, 390), FM_SUCCESS);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(2, 400), FM_SUCCESS);
  EXPECT_EQ(a.getCurTotalWindowNum(), 1000);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(2, 390), FM_SUCCESS);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(2, 401), FM_EXCEED_MAX_WIND_LIMIT);
  EXPECT_EQ(a.getClientWindowNum(2), 390) << "a refused change keeps the former count";
  EXPECT_EQ(a.getCurTotalWindowNum(), 990);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(2, 0), FM_SUCCESS);
  EXPECT_EQ(a.getCurTotalWindowNum(), 600);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(4, -1), FM_INVALID_ARG);
  EXPECT_EQ(a.getClientWindowNum(4), -1);
  EXPECT_EQ(a.checkIfExceedMaxWindNum(0xFFFFFFFFu, 400), FM_SUCCESS);
  EXPECT_EQ(a.getCurTotalWindowNum(), 1000);
}

// ---------------------------------------------------------------------------
// Daylight-saving rule pieces

TEST(SysAttrRuleTest, DatesTimesAndMonthLengths) {
  struct DateRow {
    const char* text;
    bool ok;
    long mmdd;
  } dates[] = {{"3/28", true, 328}, {"12/31", true, 1231}, {"2/29", true, 229}, {"10/1", true, 1001},
               {"328", false, 0},   {"13/1", false, 0},    {"2/30", false, 0},  {"4/31", false, 0},
               {"3/", false, 0},    {"/3", false, 0},      {"a/b", false, 0},   {"", false, 0}};
  for (const auto& d : dates) {
    long v = -1;
    EXPECT_EQ(CSysAttr::FormatDate(d.text, v), d.ok) << d.text;
    if (d.ok) {
      EXPECT_EQ(v, d.mmdd) << d.text;
    }
  }
  fmtest::TraceCapture quiet;

  struct TimeRow {
    const char* text;
    bool ok;
    long hhmmss;
  } times[] = {{"23:59:59", true, 235959}, {"0:00:00", true, 0},     {"2:00", true, 20000},
               {"02:05:09", true, 20509},  {"2.00.00", false, 0},     {"24:00:00", false, 0},
               {"2:60:00", false, 0},      {"2:00:60", false, 0},     {"2:00:0", false, 0},
               {"2:000:00", false, 0},     {":00:00", false, 0}};
  for (const auto& t : times) {
    long x = -1;
    EXPECT_EQ(CSysAttr::FormatTime(t.text, x), t.ok) << t.text;
    if (t.ok) {
      EXPECT_EQ(x, t.hhmmss) << t.text;
    }
  }

  struct MonthRow {
    int year, month, days;
  } months[] = {{2015, 2, 28}, {2016, 2, 29}, {1900, 2, 28}, {2000, 2, 29}, {2100, 2, 28},
                {2015, 1, 31}, {2015, 4, 30}, {2015, 9, 30}, {2015, 12, 31}, {2015, 0, 0}, {2015, 13, 0}};
  for (const auto& m : months) EXPECT_EQ(CSysAttr::GetDaysPerMonth(m.year, m.month), m.days) << m.year << "/" << m.month;
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

TEST(SysAttrRuleTest, WeekDayMatchesTheCLibrary) {
  for (int y : {1899, 1969, 1970, 2000, 2015, 2016, 2021, 2100}) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= CSysAttr::GetDaysPerMonth(y, m); d += 3) {
        ASSERT_EQ(CSysAttr::GetWeekDay(y, m, d), libcWeekDay(y, m, d)) << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(SysAttrRuleTest, WeekRulesToDates) {
  struct Row {
    const char* rule;
    int year;
    bool ok;
    long mmdd;
  } rows[] = {
      {"3/0/-1/7", 2021, true, 328},   // March 31 is a Wednesday: last Sunday is the 28th
      {"10/1/1/7", 2017, true, 1001},  // October 1 is a Sunday
      {"10/0/-1/7", 2015, true, 1025},
      {"3/0/-1/7", 2015, true, 329},   // March 31 is a Tuesday
      {"3/0/-1/2", 2015, true, 331},   // the anchor day itself
      {"3/1/2/7", 2016, true, 313},    // second Sunday of March
      {"11/1/1/7", 2016, true, 1106},
      {"9/0/-1/7", 2015, true, 927},   // last Sunday of a 30-day month
      {"2/0/-1/7", 2016, true, 228},   // leap February ends on Monday the 29th
      {"2/0/-1/1", 2016, true, 229},
      {"3/8/-2/5", 2015, true, 227},   // second Friday on or before March 8 lies in February
      {"2/0/1/7", 2015, true, 301},    // first Sunday on or after February 28 lies in March
      {"12/0/1/7", 2015, false, 0},    // ... in the next year
      {"1/1/-1/7", 2016, false, 0},    // ... in the previous year
      {"1/1/-1/7", 2017, true, 101},
      {"3/0/2/7", 2015, true, 412},    // second Sunday on or after March 31
      {"3/0/5/7", 2015, false, 0},     // two months on
      {"2/29/1/1", 2015, false, 0},    // no February 29
      {"3/0/0/7", 2015, false, 0},
      {"3/0/-1/8", 2015, false, 0},
      {"13/0/-1/7", 2015, false, 0},
      {"3/0/-1", 2015, false, 0},
      {"3/0/-1/7/1", 2015, false, 0},
      {"x/0/-1/7", 2015, false, 0},
  };
  for (const auto& r : rows) {
    long mmdd = -1;
    EXPECT_EQ(CSysAttr::ConvertWeek2Date(r.rule, r.year, mmdd), r.ok) << r.rule << " " << r.year;
    if (r.ok) {
      EXPECT_EQ(mmdd, r.mmdd) << r.rule << " " << r.year;
    }
  }
}

// ---------------------------------------------------------------------------
// Daylight saving for any date and time

class SysAttrDstTest : public SysAttrTest {
 protected:
  CSysAttr& withRule(bool startWeek, const char* start, const char* startTime, bool endWeek, const char* end,
                     const char* endTime, long offset = 3600) {
    CSysAttr& a = fresh(baseSettings());
    SvrTimeInfo_t info;
    info.lTimeZone = 3600;
    info.lDSTOffset = offset;
    info.bStartIsWeek = startWeek;
    (startWeek ? info.strStartWeek : info.strStartDate) = start;
    info.strStartTime = startTime;
    info.bEndIsWeek = endWeek;
    (endWeek ? info.strEndWeek : info.strEndDate) = end;
    info.strEndTime = endTime;
    a.setTimeInfo(info);
    return a;
  }
};

// The day of the last `weekday` (1..7, Sunday 7) of a month, by brute force.
int lastWeekday(int y, int m, int weekday) {
  for (int d = CSysAttr::GetDaysPerMonth(y, m);; --d) {
    if (libcWeekDay(y, m, d) == weekday) return d;
  }
}

int firstWeekday(int y, int m, int weekday) {
  for (int d = 1;; ++d) {
    if (libcWeekDay(y, m, d) == weekday) return d;
  }
}

TEST_F(SysAttrDstTest, FixedDatesAtTheSecondsAroundEachSwitch) {
  CSysAttr& a = withRule(false, "3/28", "2:00:00", false, "10/31", "3:00:00");
  struct Row {
    long date, time, expect;
  } rows[] = {
      {20150328, 20000, 3600},  {20150328, 15959, 0},    {20151031, 30000, 3600}, {20151031, 30001, 0},
      {20150327, 235959, 0},    {20150329, 0, 3600},     {20150715, 120000, 3600}, {20151101, 0, 0},
      {20150101, 0, 0},         {20151231, 235959, 0},   {20160328, 20000, 3600},  {20160328, 15959, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(a.GetSvrDSTOffset(r.date, r.time), r.expect) << r.date << " " << r.time;
}

TEST_F(SysAttrDstTest, LastSundayRulesOverSeveralYears) {
  CSysAttr& a = withRule(true, "3/0/-1/7", "2:00:00", true, "10/0/-1/7", "3:00:00");
  for (int y = 2013; y <= 2030; ++y) {
    const long start = y * 10000L + 300 + lastWeekday(y, 3, 7);
    const long end = y * 10000L + 1000 + lastWeekday(y, 10, 7);
    EXPECT_EQ(a.GetSvrDSTOffset(start, 15959), 0) << start;
    EXPECT_EQ(a.GetSvrDSTOffset(start, 20000), 3600) << start;
    EXPECT_EQ(a.GetSvrDSTOffset(end, 30000), 3600) << end;
    EXPECT_EQ(a.GetSvrDSTOffset(end, 30001), 0) << end;
    EXPECT_EQ(a.GetSvrDSTOffset(start - 1, 235959), 0) << start;
    EXPECT_EQ(a.GetSvrDSTOffset(end + 1, 0), 0) << end;
    EXPECT_EQ(a.GetSvrDSTOffset(y * 10000L + 701, 0), 3600) << y;
  }
}

TEST_F(SysAttrDstTest, RuleSpanningTheNewYear) {
  // Southern hemisphere: first Sunday of October to first Sunday of April.
  CSysAttr& a = withRule(true, "10/1/1/7", "2:00:00", true, "4/1/1/7", "3:00:00", 1800);
  for (int y = 2014; y <= 2026; ++y) {
    const long start = y * 10000L + 1000 + firstWeekday(y, 10, 7);
    const long end = y * 10000L + 400 + firstWeekday(y, 4, 7);
    EXPECT_EQ(a.GetSvrDSTOffset(start, 15959), 0) << start;
    EXPECT_EQ(a.GetSvrDSTOffset(start, 20000), 1800) << start;
    EXPECT_EQ(a.GetSvrDSTOffset(end, 30000), 1800) << end;
    EXPECT_EQ(a.GetSvrDSTOffset(end, 30001), 0) << end;
    EXPECT_EQ(a.GetSvrDSTOffset(y * 10000L + 101, 0), 1800) << y;
    EXPECT_EQ(a.GetSvrDSTOffset(y * 10000L + 1231, 235959), 1800) << y;
    EXPECT_EQ(a.GetSvrDSTOffset(y * 10000L + 701, 120000), 0) << y;
  }
}

TEST_F(SysAttrDstTest, SwitchOnTheLastDayOfTheMonth) {
  CSysAttr& a = withRule(false, "3/31", "1:00:00", false, "9/30", "23:59:59");
  EXPECT_EQ(a.GetSvrDSTOffset(20150331, 5959), 0);
  EXPECT_EQ(a.GetSvrDSTOffset(20150331, 10000), 3600);
  EXPECT_EQ(a.GetSvrDSTOffset(20150930, 235959), 3600);
  EXPECT_EQ(a.GetSvrDSTOffset(20151001, 0), 0);

  // Last Sunday of a 30-day month, and a rule whose count runs out of February.
  CSysAttr& b = withRule(true, "2/0/1/7", "2:00:00", true, "9/0/-1/7", "3:00:00");
  // 2015: February 28 is a Saturday, so the first Sunday on or after it is March 1.
  EXPECT_EQ(b.GetSvrDSTOffset(20150228, 235959), 0);
  EXPECT_EQ(b.GetSvrDSTOffset(20150301, 15959), 0) << "daylight saving starts at 2:00 on March 1, not at midnight";
  EXPECT_EQ(b.GetSvrDSTOffset(20150301, 20000), 3600);
  EXPECT_EQ(b.GetSvrDSTOffset(20150927, 30000), 3600);
  EXPECT_EQ(b.GetSvrDSTOffset(20150927, 30001), 0);
  // 2016: February 29 is a Monday; the first Sunday on or after it is March 6.
  EXPECT_EQ(b.GetSvrDSTOffset(20160306, 15959), 0);
  EXPECT_EQ(b.GetSvrDSTOffset(20160306, 20000), 3600);
}

TEST_F(SysAttrDstTest, NoRuleSameDayAndUnreadableRules) {
  CSysAttr& none = withRule(false, "", "", false, "", "");
  EXPECT_EQ(none.GetSvrDSTOffset(20150701, 120000), 0);
  CSysAttr& zero = withRule(false, "3/28", "2:00:00", false, "10/31", "3:00:00", 0);
  EXPECT_EQ(zero.GetSvrDSTOffset(20150701, 120000), 0);
  CSysAttr& same = withRule(false, "5/1", "1:00:00", false, "5/1", "5:00:00");
  EXPECT_EQ(same.GetSvrDSTOffset(20150501, 30000), 0);
  EXPECT_EQ(same.GetSvrDSTOffset(20150701, 30000), 0);

  struct Row {
    bool sw;
    const char* s;
    const char* st;
    bool ew;
    const char* e;
  } rows[] = {{false, "328", "2:00:00", false, "10/31"}, {false, "3/28", "200", false, "10/31"},
              {true, "3/0/-1", "2:00:00", false, "10/31"}, {false, "3/28", "2:00:00", true, "12/0/1/7"}};
  fmtest::TraceCapture quiet;
  for (const auto& r : rows) {
    EXPECT_EQ(withRule(r.sw, r.s, r.st, r.ew, r.e, "3:00:00").GetSvrDSTOffset(20150701, 120000), FM_FAILURE) << r.s;
  }
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

TEST(SysAttrConcurrency, FirstCallsOfInstanceBuildOneObject) {
  Setting::instance()->setStorePath(fmtest::makeTempDir("sysattr_conc") + "/kyro_settings.xml");
  for (int round = 0; round < 5; ++round) {
    CSysAttr::Destroy();
    auto got = fmtest::firstCallsFromThreads([] {
      CSysAttr* a = CSysAttr::Instance();
      a->GetSvrTimeZone();
      a->GetSvrDSTOffset(20150701, 120000);
      return static_cast<const void*>(a);
    });
    EXPECT_EQ(got.size(), 1u);
  }
  CSysAttr::Destroy();
  Setting::instance()->setStorePath("");
}

TEST(SysAttrConcurrency, WindowAccountingStaysConsistent) {
  const std::string file = fmtest::makeTempDir("sysattr_win") + "/kyro_settings.xml";
  Setting::instance()->setStorePath(file);
  CSysAttr::Destroy();
  CSysAttr& a = *CSysAttr::Instance();
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&a, t] {
      for (int i = 0; i < 500; ++i) {
        uint32_t session = static_cast<uint32_t>(t * 1000 + i % 10);
        a.checkIfExceedMaxWindNum(session, (i * 7) % 20);
        if (i % 3 == 0) a.delClientForAbnormalExit(session);
        SvrTimeInfo_t info;
        a.getTimeInfo(info);
        if (i % 50 == 0) a.setTimeInfo(info);
      }
    });
  }
  for (auto& th : threads) th.join();
  int sum = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int s = 0; s < 10; ++s) {
      int n = a.getClientWindowNum(static_cast<uint32_t>(t * 1000 + s));
      if (n > 0) sum += n;
    }
  }
  EXPECT_EQ(a.getCurTotalWindowNum(), sum);
  EXPECT_LE(a.getCurTotalWindowNum(), a.GetTotalWindowNum());
  CSysAttr::Destroy();
  Setting::instance()->setStorePath("");
}

}  // namespace
}  // namespace Kyrofm
