// Tests of the time-zone service (KyroTZone over cctz) and the NE configuration
// registry: conversions against the host C library across DST transitions,
// zone rules, malformed zone names.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fm_common/platform/EAMUtil2DB.h"
#include "fm_common/platform/KyroTZone.h"
#include "support/FmTestSupport.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

// Zones with DST in either hemisphere, half-hour and quarter-hour offsets, a
// half-hour DST (Lord Howe) and a zone that dropped DST (Sao Paulo, 2019).
const char* const kZones[] = {"Europe/Berlin",    "Australia/Adelaide",  "America/Sao_Paulo",
                              "America/St_Johns", "Australia/Lord_Howe", "Asia/Kathmandu"};

using fmtest::utcOf;
const long kEnd = utcOf(2030, 12, 31, 0, 0, 0);

TEST(KyroTZoneTest, LocalTimeAgreesWithHostAcrossTransitions) {
  for (const char* zone : kZones) {
    SCOPED_TRACE(zone);
    fmtest::ScopedTZ host(zone);
    auto tz = KyroTZone::create(zone);
    ASSERT_TRUE(tz);
    // Every switch from 1990 and the seconds around it, and a sweep.
    for (long t : fmtest::zoneProbes(zone, utcOf(1990, 1, 1, 0, 0, 0), kEnd, 7 * 86400 + 13 * 3600,
                                     {-3601, -1, 0, 1, 1799, 3600})) {
      KyroTime kt;
      ASSERT_EQ(tz->getLocalTime(t, kt), KYROTZ_OK);
      time_t tt = static_cast<time_t>(t);
      struct tm tmv;
      localtime_r(&tt, &tmv);
      ASSERT_EQ((std::vector<long>{kt.year, kt.month, kt.day, kt.hour, kt.minute, kt.second, kt.isdst > 0}),
                (std::vector<long>{tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min,
                                   tmv.tm_sec, tmv.tm_isdst > 0}))
          << t;
      // The wall clock counted like epoch seconds is t plus the zone offset.
      ASSERT_EQ(KyroTZone::toLongTime(kt), t + tmv.tm_gmtoff) << t;
      // Back to the instant: unique wall times convert back exactly; a
      // repeated one gives its first occurrence, never a later one.
      long back = 0;
      ASSERT_EQ(tz->getUTCTime(kt, back), KYROTZ_OK);
      ASSERT_TRUE(back <= t && back >= t - 3600) << back;
      KyroTime again;
      ASSERT_EQ(tz->getLocalTime(back, again), KYROTZ_OK);
      ASSERT_EQ(KyroTZone::toLongTime(again), KyroTZone::toLongTime(kt));
    }
  }
}

TEST(KyroTZoneTest, ToLongTimeRoundTripsOverYearsAndRangeEndsFail) {
  auto utcZone = KyroTZone::create("UTC");
  for (long t = utcOf(1, 1, 1, 0, 0, 0); t < utcOf(9999, 12, 31, 0, 0, 0); t += 86400L * 97 + 3907) {
    KyroTime kt;
    ASSERT_EQ(utcZone->getLocalTime(t, kt), KYROTZ_OK);
    ASSERT_EQ(KyroTZone::toLongTime(kt), t);
  }
  KyroTime carry{2023, 13, 1, 0, 0, 0, 0, 0};  // month 13 carries into the next year
  EXPECT_EQ(KyroTZone::toLongTime(carry), utcOf(2024, 1, 1, 0, 0, 0));
  // Instants out of range fail cleanly.
  auto tz = KyroTZone::create("Asia/Kolkata");
  KyroTime kt, far{12000, 1, 1, 0, 0, 0, 0, 0};
  kt.year = 5;
  MOTimeInfo_t info;
  long utc = 1;
  EXPECT_EQ((std::vector<long>{tz->getLocalTime(300000000000L, kt), kt.year, tz->getLocalTime(-70000000000L, kt),
                               tz->getMOTimeInfo(info, 300000000000L), tz->getUTCTime(far, utc)}),
            (std::vector<long>{KYROTZ_ERR_OUT_OF_RANGE, 0, KYROTZ_ERR_OUT_OF_RANGE, KYROTZ_ERR_OUT_OF_RANGE,
                               KYROTZ_ERR_OUT_OF_RANGE}));
}

TEST(KyroTZoneTest, MOTimeInfoGivesStandardOffsetAndDstRule) {
  // {zone, reference instant, standard offset, DST offset, has DST, DST start, DST end (0: not checked)}
  const std::tuple<const char*, long, long, long, bool, long, long> cases[] = {
      // Adelaide 2024: DST ends 7 Apr 03:00 ACDT (16:30 UTC 6 Apr), starts 6 Oct 02:00 ACST (16:30 UTC 5 Oct).
      {"Australia/Adelaide", utcOf(2024, 7, 1, 0, 0, 0), 34200, 3600, true, utcOf(2024, 10, 5, 16, 30, 0),
       utcOf(2024, 4, 6, 16, 30, 0)},
      {"America/St_Johns", utcOf(2024, 1, 1, 12, 0, 0), -12600, 3600, true, utcOf(2024, 3, 10, 5, 30, 0),
       utcOf(2024, 11, 3, 4, 30, 0)},
      // Sao Paulo had DST until 2019, none after.
      {"America/Sao_Paulo", utcOf(2015, 1, 15, 0, 0, 0), -10800, 3600, true, 0, 0},
      {"Europe/Berlin", utcOf(2024, 7, 1, 0, 0, 0), 3600, 3600, true, utcOf(2024, 3, 31, 1, 0, 0),
       utcOf(2024, 10, 27, 1, 0, 0)},
      {"UTC", utcOf(2024, 7, 1, 0, 0, 0), 0, 0, false, 0, 0},
      {"Europe/Dublin", utcOf(2024, 1, 9, 0, 0, 0), 0, 3600, true, 1711846800, 1729990800},  // winter: GMT standard
      // Autumn 1946: standard time between summer time and a negative-DST winter.
      {"Europe/Prague", utcOf(1946, 10, 7, 0, 0, 0), 3600, 3600, true, 0, 0},
  };
  for (const auto& [zone, ref, stdOffset, dstOffset, hasDst, start, end] : cases) {
    auto tz = KyroTZone::create(zone);
    ASSERT_TRUE(tz) << zone;
    MOTimeInfo_t info;
    ASSERT_EQ(tz->getMOTimeInfo(info, ref), KYROTZ_OK) << zone;
    EXPECT_EQ(std::make_tuple(info.strZoneName, info.lTimeZone, info.lDstOffset, info.bHasDst,
                              start ? info.lDstStart : 0L, end ? info.lDstEnd : 0L),
              std::make_tuple(std::string(zone), stdOffset, dstOffset, hasDst, start, end)) << zone;
  }
}

// Every zone at each switch since 2001 against the C library: standard + DST is its offset, the DST flag its
// flag (the opposite in Dublin, not compared where the data had both), DST 1 h (Lord Howe 0.5 h, Troll 2 h).
TEST(KyroTZoneTest, DstReadingAgreesWithHostInEveryZoneSince2001) {
  std::ifstream tab(KyroTZone::zoneDirectory() + "/zone1970.tab");
  ASSERT_TRUE(tab.is_open());
  for (std::string line, code, coord, zone; std::getline(tab, line);) {
    std::istringstream fields(line);
    if (line[0] == '#' || !(fields >> code >> coord >> zone)) continue;
    fmtest::ScopedTZ host(zone);
    auto tz = KyroTZone::create(zone);
    ASSERT_TRUE(tz) << zone;
    bool mixed = zone == "Africa/Casablanca" || zone == "Africa/El_Aaiun" || zone == "Africa/Windhoek";
    long amount = zone == "Australia/Lord_Howe" ? 1800 : zone == "Antarctica/Troll" ? 7200 : 3600;
    for (long t : fmtest::zoneProbes(zone, utcOf(2001, 1, 1, 0, 0, 0), kEnd, 1L << 40,  // switches only
                                     {-3601, -1, 0, 1, 1799, 3600})) {
      KyroTime kt;
      MOTimeInfo_t info;
      time_t tt = static_cast<time_t>(t);
      struct tm tmv;
      ASSERT_TRUE(tz->getLocalTime(t, kt) == KYROTZ_OK && tz->getMOTimeInfo(info, t) == KYROTZ_OK &&
                  localtime_r(&tt, &tmv) != nullptr);
      ASSERT_EQ(info.lTimeZone + (kt.isdst ? info.lDstOffset : 0), tmv.tm_gmtoff) << zone << " " << t;
      ASSERT_TRUE(mixed || (kt.isdst > 0) == ((tmv.tm_isdst > 0) != (zone == "Europe/Dublin"))) << zone << " " << t;
      ASSERT_TRUE(!kt.isdst || info.lDstOffset == amount) << zone << " " << t;
    }
  }
}

TEST(KyroTZoneTest, MalformedOrUnknownZoneNamesFailWithCodeAndLog) {
  fmtest::TraceCapture quiet;
  for (const char* name : {"", "Nowhere/City", "../../etc/passwd", "/etc/localtime", "Asia/Tokyo\n", "PST"}) {
    SCOPED_TRACE(name);
    long rc = -1;
    EXPECT_FALSE(KyroTZone::create(name, &rc));
    KyroTZone direct(name);
    KyroTime kt;
    MOTimeInfo_t info;
    EXPECT_EQ((std::vector<long>{rc, direct.getLocalTime(0, kt), direct.getMOTimeInfo(info)}),
              std::vector<long>(3, KYROTZ_ERR_UNKNOWN_ZONE));
  }
  // A control character, "..", an absolute path or a name over 255 bytes is
  // refused even where it names a zone file.
  const std::string dir = fmtest::makeTempDir("tzdir"), old = std::getenv("TZDIR") ? std::getenv("TZDIR") : "";
  const std::string longName = std::string(200, 'x') + "/" + std::string(55, 'z');
  std::filesystem::create_directory(dir + "/x");
  std::filesystem::create_directory(dir + "/" + longName.substr(0, 200));
  for (const std::string& name : {std::string("/U\tTC"), std::string("/Zone"), "/" + longName}) {
    std::filesystem::copy_file(KyroTZone::zoneDirectory() + "/UTC", dir + name);
  }
  ::setenv("TZDIR", dir.c_str(), 1);
  EXPECT_FALSE(KyroTZone::create("U\tTC") || KyroTZone::create("x/../Zone") || KyroTZone::create(dir + "/Zone") ||
               KyroTZone::create(longName));
  old.empty() ? ::unsetenv("TZDIR") : ::setenv("TZDIR", old.c_str(), 1);
}

TEST(KyroTZoneTest, InstanceFollowsHostZone) {
  fmtest::ScopedTZ host("Asia/Kathmandu");
  KyroTZone::destroy();
  KyroTZone* tz = KyroTZone::instance();
  EXPECT_EQ(tz->getZoneName(), "Asia/Kathmandu");
  MOTimeInfo_t info;
  EXPECT_EQ((std::vector<long>{tz->getMOTimeInfo(info), info.lTimeZone}), (std::vector<long>{KYROTZ_OK, 20700}));
  KyroTZone::destroy();
}

TEST(EAMUtil2DBTest, RegistryAnswersPerNE) {
  EAMUtil2DB::Clear();
  std::string zone = "x", zone1, zone2;
  NEZoneInfo_t info;
  info.lTimeZone = 3600;
  EXPECT_EQ((std::vector<long>{EAMUtil2DB::GetZoneInfoByNe("NE=1", zone), EAMUtil2DB::SetZoneInfoByNe("", "UTC"),
                               EAMUtil2DB::SetZoneInfoByNe("NE=1", "Asia/Kolkata"), EAMUtil2DB::SetNEZoneInfo("NE=2", info),
                               EAMUtil2DB::GetZoneInfoByNe("NE=1", zone1), EAMUtil2DB::GetZoneInfoByNe("NE=2", zone2)}),
            (std::vector<long>{EAM_ERR_NO_NE, EAM_ERR_INVALID_ARG, EAM_OK, EAM_OK, EAM_OK, EAM_ERR_NO_ZONE}));
  EXPECT_EQ(zone + "|" + zone1, "|Asia/Kolkata");
  info.lTimeZone = 0;
  EXPECT_EQ((std::vector<long>{EAMUtil2DB::GetNEZoneInfo("NE=2", info), info.lTimeZone, EAMUtil2DB::RemoveNE("NE=1"),
                               EAMUtil2DB::RemoveNE("NE=1"), static_cast<long>(EAMUtil2DB::Count())}),
            (std::vector<long>{EAM_OK, 3600, EAM_OK, EAM_ERR_NO_NE, 1}));
}

}  // namespace
}  // namespace Kyrofm
