// Tests of the record string map: tables from the shipped and from written
// information files, ranges and lookups with bad codes, identifier flags, time
// texts, the northbound combined-alarm filter, managed-object names and their
// cache under concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>
#include <vector>

#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/XRIMIrpPluginplat.h"
#include "support/FmTestSupport.h"
#include "fm_common/time/XRFMTimeUtil.h"
#include "time_test_server.h"

namespace Kyrofm {
namespace {

const std::string kShippedFile = std::string(FM_SOURCE_DIR) + "/etc/fm.xml";

// Writes an information file made of `groups` (XML of the children of <vela>).
std::string writeInfoFile(const std::string& groups) {
  std::string dir = fmtest::makeTempDir("fminfo");
  std::string path = dir + "/fm.xml";
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<vela>\n" << groups << "</vela>\n";
  return path;
}

std::string group(const std::string& name, const std::vector<std::pair<std::string, std::string>>& params) {
  std::string xml = "<" + name + ">";
  for (const auto& p : params) xml += "<param name=\"" + p.first + "\" value=\"" + p.second + "\"/>";
  return xml + "</" + name + ">\n";
}

// The minimal complete file: every required group with one entry, unless
// `replaced` gives the group's XML.
std::string minimalGroups(const std::map<std::string, std::string>& replaced = {}) {
  const std::pair<std::string, std::string> groups[] = {
      {"product", group("product", {{"1", "P"}})},
      {"category", group("category", {{"1", "Alarm"}})},
      {"level", group("level", {{"1", "Critical"}})},
      {"type", group("type", {{"1", "Comm"}})},
      {"status", group("status", {{"1", "S1"}, {"2", "S2"}, {"3", "S3"}, {"4", "S4"}})},
      {"identifier", group("identifier", {{"0", "I0"}})},
      {"format", group("format", {{"date", "%04d/%02d/%02d"}})},
  };
  std::string xml;
  for (const auto& g : groups) xml += replaced.count(g.first) ? replaced.at(g.first) : g.second;
  return xml;
}

// Rebuilds the singleton from `file` for the test and from the shipped file after.
class RecStringMapTest : public ::testing::Test {
 protected:
  void SetUp() override { load(kShippedFile); }
  void TearDown() override {
    CRecStringMap::Destroy();
    CCentralCfg::SetRecConfigFileName("");
    XRIMIrpPluginplat::Instance()->clear();
  }
  CRecStringMap* load(const std::string& file) {
    CRecStringMap::Destroy();
    CCentralCfg::SetRecConfigFileName(file);
    CRecStringMap* map = CRecStringMap::Instance();
    EXPECT_NE(map, nullptr);
    return map;
  }
};

TEST_F(RecStringMapTest, ShippedFileGivesDisplayTables) {
  CRecStringMap* m = CRecStringMap::Instance();
  EXPECT_TRUE(m->isAlmLevelValid(1) && m->isAlmLevelValid(4) && m->isAlmTypeValid(11));
  EXPECT_FALSE(m->isAlmLevelValid(0) || m->isAlmLevelValid(5) || m->isAlmTypeValid(12));
  EXPECT_EQ(std::make_tuple(m->getAlmLevelMax(), m->getAlmLevelCount(), m->getAlmTypeCount(), m->getAlmTypeMin(),
                            m->getAlmTypeMax()), std::make_tuple(4, 4, 11, 1, 11));
  EXPECT_EQ(m->Level(4) + "|" + m->Category(20) + "|" + m->LogType(2) + "|" + m->Product(2) + "|" + m->NEType(100000),
            "Warning|Notification|Event_alarm|Radio access network|OMC");
  // The status by the record's combined status agrees with the flag form.
  for (long ack = 0; ack <= 1; ++ack)
    for (long clr = 0; clr <= 1; ++clr) EXPECT_EQ(m->Status(AlmRecord_t::getStatus(ack, clr)), m->Status(1, clr, ack));
  EXPECT_EQ(m->Status(1, 1, 1) + "|" + m->Status(2, 1, 0), "Acknowledged and cleared|Unacknowledged and cleared");
}

TEST_F(RecStringMapTest, InvalidCodesGiveEmptyTextAndCode) {
  CRecStringMap* m = CRecStringMap::Instance();
  fmtest::TraceCapture cap;
  std::string s;
  const std::pair<int (CRecStringMap::*)(long, std::string&) const, long> cases[] = {
      {&CRecStringMap::Level, 0},   {&CRecStringMap::Level, 5},   {&CRecStringMap::Type, 12},
      {&CRecStringMap::Category, 6},  // hole in the table
      {&CRecStringMap::LogType, 4}, {&CRecStringMap::LogType, 0}, {&CRecStringMap::Product, 0},
      {&CRecStringMap::Product, 7}};
  for (const auto& [fn, code] : cases) {
    s = "junk";
    EXPECT_EQ((m->*fn)(code, s), FM_INVALID_ARG) << code;
    EXPECT_TRUE(s.empty()) << code;
  }
  EXPECT_TRUE(cap.contains("CRecStringMap::Category, invalid category:6", TRACE_ERROR));
  EXPECT_EQ(m->Level(9) + m->Type(0) + m->Category(99) + m->LogType(9), "");

  const long badStatus[][3] = {{3, 0, 0}, {0, 0, 0}, {1, 2, 0}, {1, 0, -1}, {2, 1, 5}};
  for (const auto& b : badStatus) {
    s = "junk";
    EXPECT_EQ(m->Status(b[0], b[1], b[2], s), FM_INVALID_STATUS);
    EXPECT_TRUE(s.empty());
  }
  EXPECT_TRUE(m->Status(0, s) == FM_INVALID_STATUS && m->Status(5, s) == FM_INVALID_STATUS && m->Status(4, s) == FM_SUCCESS);
}

TEST_F(RecStringMapTest, KeyWordsCategoriesForRNAndAlarmNames) {
  CRecStringMap* m = CRecStringMap::Instance();
  std::string f;
  EXPECT_TRUE(m->KeyWord("Extend_param_10", f) == FM_SUCCESS && f == "param10" && m->KeyWord("Link_type") == "linktype");
  f = "junk";
  EXPECT_EQ(m->KeyWord("", f), FM_FAILURE);
  EXPECT_EQ(m->KeyWord("serial_number", f), FM_UNKNOWN_KEYWORD);  // case matters
  EXPECT_TRUE(f.empty() && m->KeyWord("Extend_param_11").empty());

  const int rn[][2] = {{2, 1}, {7, 1}, {8, 1}, {9, 1}, {11, 1}, {3, 3}, {1, 1}, {10, 10}, {0, 0}, {-2, -2}};
  for (const auto& r : rn) EXPECT_EQ(CRecStringMap::convertCategoryForRN(static_cast<char>(r[0])), r[1]);

  // An alarm name is known once set, forgotten when set empty.
  AlarmInfo_t alarm(3, 1001);
  fmtest::TraceCapture quiet;
  EXPECT_TRUE(m->AlmName(alarm, f) == FM_INVALID_ARG && f.empty());
  m->setAlmName(alarm, "Link down");
  EXPECT_EQ(m->AlmName(alarm) + "|" + m->AlmName(AlarmInfo_t(3, 1002)), "Link down|");
  m->setAlmName(alarm, "");
  EXPECT_EQ(m->AlmName(alarm, f), FM_INVALID_ARG);
}

TEST_F(RecStringMapTest, AlarmIdentifierFlags) {
  CRecStringMap* m = CRecStringMap::Instance();
  EXPECT_EQ(m->AlarmIdentifier(0), "");
  EXPECT_EQ(m->AlarmIdentifier(1 | (1 << 12)), "(Auto-acknowledged)");  // bit 12 is not tested
  EXPECT_EQ(m->AlarmIdentifier((1 << 2) | (1 << 10)), "(Masked)(Test alarm)");
  EXPECT_EQ(m->AlarmIdentifier(-1).find("(Auto-acknowledged)(Forwarded northbound)"), 0u);

  // A file naming only bit 0: other bits are unknown flags.
  load(writeInfoFile(minimalGroups()));
  fmtest::TraceCapture cap;
  EXPECT_EQ(CRecStringMap::Instance()->AlarmIdentifier(0x21), "(I0)(UNKNOWN FLAG)");
  EXPECT_TRUE(cap.contains("CRecStringMap::AlarmIdentifier: unknown identifier 5.", TRACE_ERROR));
}

// Levels: five pairs, so 1..5 valid. Types: names outside 1..16 are ignored
// but counted; all outside leave no valid type. Numbered groups may be sparse.
TEST_F(RecStringMapTest, WrittenFileSetsRangesAndFormats) {
  fmtest::TraceCapture cap;
  CRecStringMap* m = load(writeInfoFile(minimalGroups(
      {{"type", group("type", {{"3", "T3"}, {"5", "T5"}, {"17", "T17"}, {"x", "Tx"}, {"0", "T0"}})},
       {"level", group("level", {{"1", "L1"}, {"2", "L2"}, {"3", "L3"}, {"4", "L4"}, {"5", "L5"}})},
       {"format", group("format", {{"date", "%s"}, {"hour", "%02dh%02d"}, {"time", "%02d.%02d.%02d"}})},
       {"category", group("category", {{"1", "C1"}, {"7", "C7"}, {"40", "C40"}, {"abc", "bad"}, {"-3", "neg"}})}})));
  EXPECT_EQ(std::make_tuple(m->getAlmLevelCount(), m->getAlmLevelMax(), m->getAlmTypeCount(), m->getAlmTypeMin(),
                            m->getAlmTypeMax()), std::make_tuple(5, 5, 5, 3, 5));
  EXPECT_TRUE(m->isAlmLevelValid(5) && !m->isAlmLevelValid(6) && m->isAlmTypeValid(3) && !m->isAlmTypeValid(4) &&
              !m->isAlmTypeValid(0));
  EXPECT_EQ(m->Category(7) + "|" + m->Category(40) + "|" + m->Category(2), "C7|C40|");
  // An unsafe date format is refused and the default kept.
  EXPECT_EQ(m->getDateFormat(), "%04d-%02d-%02d");
  EXPECT_TRUE(cap.contains("ReadFMInfoFile, format date invalid:%s", TRACE_ERROR));
  std::string t, h;
  EXPECT_TRUE(m->Time(93015, t, 28800, 1) == FM_SUCCESS && m->GetHourString(93015, h) == FM_SUCCESS);
  EXPECT_EQ(t + "|" + h, "09.30.15 GMT+08:00 DST|09h30");

  m = load(writeInfoFile(minimalGroups({{"type", group("type", {{"17", "T17"}, {"0", "T0"}})}})));
  EXPECT_EQ(std::make_tuple(m->getAlmTypeCount(), m->getAlmTypeMax(), m->getAlmTypeMin()), std::make_tuple(2, 0, 999));
  for (int t = 0; t <= 17; ++t) EXPECT_FALSE(m->isAlmTypeValid(static_cast<char>(t))) << t;
}

// The site's copy under KYRO_ROOT wins over the installed one (an explicit
// file, as the other cases load, wins over both).
TEST_F(RecStringMapTest, InformationFileSearchOrder) {
  CCentralCfg::SetRecConfigFileName("");
  std::string site = fmtest::kyroRoot() + "/etc/fm.xml";
  std::filesystem::remove(site);
  std::filesystem::create_directories(fmtest::kyroRoot() + "/etc");
  std::ofstream(site) << "<vela>" << minimalGroups({{"level", group("level", {{"1", "Site critical"}})}}) << "</vela>";
  EXPECT_EQ(CCentralCfg::GetRecConfigFileName(), site);
  CRecStringMap::Destroy();
  EXPECT_EQ(CRecStringMap::Instance()->Level(1), "Site critical");
  std::filesystem::remove(site);
}

TEST_F(RecStringMapTest, BrokenFilesFailInitButKeepDefaults) {
  struct {
    std::string file;
    const char* log;
  } cases[] = {
      {fmtest::kyroRoot() + "/no/such/fm.xml", "ReadFMInfoFile, ConfigAdapter init failed"},
      {writeInfoFile("<product><param name=\"1\" value=\"x\"/></prod>"), "ReadFMInfoFile, ConfigAdapter init failed"},
      {writeInfoFile(minimalGroups({{"format", ""}})), "ReadFMInfoFile, get format failed"},
      {writeInfoFile(minimalGroups({{"product", ""}})), "ReadFMInfoFile, get product failed"},
      {writeInfoFile(minimalGroups({{"identifier", ""}})), "ReadFMInfoFile, get identifier failed"},
  };
  for (const auto& c : cases) {
    fmtest::TraceCapture cap;
    CRecStringMap* m = load(c.file);
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(cap.contains(c.log, TRACE_ERROR) &&
                cap.contains("CRecStringMap::Init, read ReadFMInfoFile fail !", TRACE_ERROR)) << c.log;
    // Default ranges; lookups answer cleanly.
    EXPECT_EQ(std::make_tuple(m->getAlmLevelMax(), m->getAlmTypeMax(), m->getAlmTypeCount()), std::make_tuple(4, 12, 11));
    std::string s;
    EXPECT_TRUE(m->Type(1, s) == FM_INVALID_ARG && m->LogType(1, s) == FM_SUCCESS && s == "Alarm_list") << c.log;
  }
}

TEST_F(RecStringMapTest, TimeTexts) {
  CRecStringMap* m = CRecStringMap::Instance();
  const long wall = XRFMTimeUtil::TimeToSeconds(20240701, 143000);
  fmtest::TraceCapture quiet;
  std::vector<std::string> s(9, "junk");
  // An instant in the zone of an offset: 12:30 UTC at +05:30 is 18:00; 0 gives "".
  m->UTCToString(0, s[0]);
  m->UTCToString(1709251199, s[1]);
  m->UTCToString(INT64_C(999999999999999), s[2]);
  EXPECT_EQ(m->Time(235959, s[3], -16200, 0) + m->Date(20240309, s[4]) + m->DateTimeEx(wall, s[5], 7200, 3600) +
                m->TimeForXML(wall, -12600, s[6]) + m->TimeForXML(-62135596800L, 0, s[7]) +
                m->formatTime2Str(XRFMTimeUtil::TimeToSeconds(20240701, 123000), 19800, 0, s[8]), 6 * FM_SUCCESS);
  EXPECT_EQ(s, (std::vector<std::string>{"0", "2024-02-29 23:59:59", "", "23:59:59 GMT-04:30", "2024-03-09",
                                         "2024-07-01 14:30:00 GMT+02:00 DST", "2024-07-01T14:30:00-03:30",
                                         "0001-01-01T00:00:00+00:00", "2024-07-01 18:00:00 GMT+05:30"}));
  EXPECT_TRUE(m->formatTime2Str(0, 19800, 0, s[0]) == FM_SUCCESS && s[0].empty());
  for (long x : {LONG_MIN, 67768036191676800L}) {  // beyond years 1..9999 or long: refused
    m->UTCToString(x, s[0]);
    EXPECT_TRUE(s[0].empty() && m->DateTimeEx(x, s[0], 0, 0) == FM_FAILURE && m->TimeForXML(x, 0, s[0]) == FM_FAILURE &&
                m->TimeForXML(wall, x, s[0]) == FM_FAILURE && m->formatTime2Str(x, x, x, s[0]) == FM_FAILURE) << x;
  }

  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  std::string now = getCurrentServerTimeWithDst();
  EXPECT_EQ(now.size() == 29 ? now.substr(19) : now, " GMT+05:30");
}

// The settings groups name combined-alarm flags and whether each is sent.
TEST_F(RecStringMapTest, CombinedAlarmNorthboundFilter) {
  Setting::instance()->setStorePath(fmtest::makeTempDir("mbts") + "/settings.xml");
  for (const auto& [path, value] : std::vector<std::pair<std::string, std::string>>{
           {"Conf/gsm", "5"}, {"Conf/umts", "7"}, {"Conf/lte", "9"}, {"Conf/off", "0"}, {"Filter/gsm", "no"},
           {"Filter/umts", "yes"}, {"Filter/off", "no"}})
    ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/MBTS_" + path, value), 0);
  fmtest::TraceCapture cap;
  CRecStringMap* m = load(kShippedFile);
  EXPECT_TRUE(m->filterAlmByComFlag(5) && m->isExistComFlagNotSendToNB());
  EXPECT_FALSE(m->filterAlmByComFlag(7) || m->filterAlmByComFlag(9) || m->filterAlmByComFlag(0));  // 9: no value
  std::ostringstream os;
  FieldCond_t cond;
  cond.m_lstValues = {"stale"};
  EXPECT_TRUE(m->setComAlmCondForNBExport(os) == FM_SUCCESS && m->setComAlmFilterCondForNB(cond) == FM_SUCCESS);
  EXPECT_EQ(os.str() + "|" + cond.m_lstValues.front() + std::to_string(cond.m_lstValues.size()), "5|51");

  // The file form adds flags; names that are not numbers are refused.
  std::string dir = fmtest::kyroRoot() + "/etc/FMNotify";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/MBTSFilter.xml") << "<MBTS_Filter><param name=\"12\" value=\"no\"/>"
                                            "<param name=\"13\" value=\"yes\"/><param name=\"x\" value=\"no\"/>"
                                            "</MBTS_Filter>";
  EXPECT_EQ(m->ReadMBTSFilterFile(), FM_SUCCESS);
  EXPECT_TRUE(m->filterAlmByComFlag(12) && !m->filterAlmByComFlag(13));
  EXPECT_TRUE(cap.contains("ReadMBTSFilterFile success! Read values count: 2"));
  std::filesystem::remove_all(dir);
  EXPECT_EQ(m->ReadMBTSFilterFile(), FM_FAILURE);

  // Without the groups nothing is filtered and Init goes on.
  Setting::instance()->setStorePath(fmtest::makeTempDir("mbts_none") + "/settings.xml");
  m = load(kShippedFile);
  EXPECT_TRUE(!m->isExistComFlagNotSendToNB() && m->Level(1) == "Critical");
  Setting::instance()->setStorePath("");
}

TEST_F(RecStringMapTest, ManagedObjectNames) {
  XRIMIrpPluginplat* plat = XRIMIrpPluginplat::Instance();
  plat->setOMCNeFdn("OMC=1");
  plat->setOMCName("Network OMC");
  plat->setMOName("NE=5", "Berlin core");
  ProductCustomizeModuleManager::instance()->addMapping("oid-5", "NE=5");
  CRecStringMap* m = CRecStringMap::Instance();
  auto named = [m](const std::string& fdn, bool product) {
    std::string name;
    return std::to_string(m->getMOName(fdn, name, product)) + " " + name;
  };
  // Without a product library: the FDN; OMC=12 is not below OMC=1.
  EXPECT_EQ(named("oid-5", true) + "|" + named("oid-5", false) + "|" + named("OMC=1,Board=2", true) + "|" +
                named("OMC=12", true), "33000 Berlin core|0 NE=5|0 Network OMC|0 OMC=12");
  plat->setProductNamer([](const std::string& fdn, std::string& out) {
    if (fdn == "NE=9") return 17;
    out = "product:" + fdn;
    return 0;
  });
  fmtest::TraceCapture quiet;
  EXPECT_EQ(named("NE=8", true) + "|" + named("NE=9", true), "0 product:NE=8|17 NE=9");

  // The cache asks the naming service once per key.
  long calls = plat->getNamingCalls();
  EXPECT_EQ(m->getfdnOIDName("oid-5") + m->getfdnOIDName("oid-5") + m->getfdnOIDName4Export("oid-5"),
            "Berlin coreBerlin coreBerlin core");
  EXPECT_EQ(plat->getNamingCalls(), calls + 1);
  m->setfdnOIDName("oid-5", "Renamed");
  m->setfdnOIDName("oid-unknown", "X");
  EXPECT_TRUE(m->getfdnOIDName("oid-5") == "Renamed" && !m->isNameCached("oid-unknown"));
  m->modifyMO("oid-5");
  EXPECT_EQ(m->getfdnOIDName("oid-5"), "Berlin core");

  // deleteNEMO drops the NE and what lies below it, nothing else.
  m->getfdnOIDName("NE=5,Board=1");
  m->getfdnOIDName("NE=55");
  m->deleteNEMO("NE=5");
  EXPECT_TRUE(!m->isNameCached("oid-5") && !m->isNameCached("NE=5,Board=1") && m->isNameCached("NE=55"));
  m->deleteMO("NE=55");
  EXPECT_FALSE(m->isNameCached("NE=55"));
  ProductCustomizeModuleManager::instance()->clearMappings();
}

TEST_F(RecStringMapTest, BatchNaming) {
  XRIMIrpPluginplat* plat = XRIMIrpPluginplat::Instance();
  std::list<std::string> nes;
  for (int i = 0; i < 2002; ++i) {
    nes.push_back("NE=" + std::to_string(i));
    if (i % 2 == 0) plat->setMOName("NE=" + std::to_string(i), "name" + std::to_string(i));
  }
  CRecStringMap* m = CRecStringMap::Instance();
  long calls = plat->getNamingCalls();
  m->batchInitNeNames(nes);
  EXPECT_EQ(plat->getNamingCalls(), calls + 3);  // 1000 + 1000 + 2
  EXPECT_TRUE(m->isNameCached("NE=2000") && !m->isNameCached("NE=2001"));  // the service did not name 2001

  std::list<AlmRecord_t> records(3);
  auto it = records.begin();
  (it++)->setMoDn("NE=1");     // unnamed by the batch: named one by one
  (it++)->setMoDn("NE=2000");  // cached already
  (it++)->setMoDn("NE=4");
  m->deleteMO("NE=4");
  m->PreLoadNameByOID(records);
  EXPECT_EQ(m->getfdnOIDName("NE=4") + "|" + m->getfdnOIDName("NE=1"), "name4|NE=1");

  fmtest::TraceCapture quiet;
  records.resize(1);
  records.front().setMoDn("NE=9001");  // the service names none of the batch: nothing is cached
  m->PreLoadNameByOID(records);
  EXPECT_FALSE(m->isNameCached("NE=9001"));
  plat->setNamingAvailable(false);
  records.front().setMoDn("NE=77");
  m->PreLoadNameByOID(records);
  EXPECT_FALSE(m->isNameCached("NE=77"));
}

// Readers of names and of the northbound filter on many threads while names
// are renamed and deleted.
TEST(RecStringMapConcurrencyTest, NameCacheUnderConcurrentUse) {
  CCentralCfg::SetRecConfigFileName(kShippedFile);
  CRecStringMap::Destroy();
  XRIMIrpPluginplat* plat = XRIMIrpPluginplat::Instance();
  for (int i = 0; i < 50; ++i) plat->setMOName("NE=" + std::to_string(i), "n" + std::to_string(i));
  CRecStringMap* m = CRecStringMap::Instance();
  std::atomic<int> wrong{0};
  fmtest::runTogether(8, [m, &wrong](int t) {
    for (int i = 0; i < 200; ++i) {
      int ne = (i * 7 + t) % 50;
      std::string key = "NE=" + std::to_string(ne);
      if (t < 2 && i % 10 == 0) {
        t == 0 ? m->deleteMO(key) : m->modifyMO(key);
      } else {
        wrong += m->getfdnOIDName(key) != "n" + std::to_string(ne);
      }
      m->filterAlmByComFlag(i);
      wrong += m->Level(1) != "Critical";
    }
  });
  EXPECT_EQ(wrong.load(), 0);
  CRecStringMap::Destroy();
  CCentralCfg::SetRecConfigFileName("");
  plat->clear();
}

}  // namespace
}  // namespace Kyrofm
