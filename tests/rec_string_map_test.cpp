// Tests of the record string map: tables from the shipped and from written
// information files, ranges and lookups with bad codes, identifier flags, time
// texts, the northbound combined-alarm filter, managed-object names and their
// cache under concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>
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

// The minimal complete file: every required group with one entry.
std::string minimalGroups(const std::string& replace = "", const std::string& replacement = "") {
  std::vector<std::pair<std::string, std::string>> groups = {
      {"product", group("product", {{"1", "P"}})},
      {"category", group("category", {{"1", "Alarm"}})},
      {"level", group("level", {{"1", "Critical"}})},
      {"type", group("type", {{"1", "Comm"}})},
      {"status", group("status", {{"1", "S1"}, {"2", "S2"}, {"3", "S3"}, {"4", "S4"}})},
      {"identifier", group("identifier", {{"0", "I0"}})},
      {"format", group("format", {{"date", "%04d/%02d/%02d"}})},
  };
  std::string xml;
  for (const auto& g : groups) xml += (g.first == replace) ? replacement : g.second;
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
  for (char l = 1; l <= 4; ++l) EXPECT_TRUE(m->isAlmLevelValid(l)) << int(l);
  EXPECT_FALSE(m->isAlmLevelValid(0) || m->isAlmLevelValid(5) || m->isAlmTypeValid(12));
  EXPECT_TRUE(m->isAlmTypeValid(11));
  EXPECT_EQ(std::make_tuple(m->getAlmLevelMax(), m->getAlmLevelCount(), m->getAlmTypeCount(), m->getAlmTypeMin(),
                            m->getAlmTypeMax()), std::make_tuple(4, 4, 11, 1, 11));
  EXPECT_EQ(m->Level(1) + "|" + m->Level(4) + "|" + m->Type(4) + "|" + m->Category(20) + "|" + m->LogType(2) + "|" +
                m->Product(2) + "|" + m->NEType(100000),
            "Critical|Warning|Equipment alarm|Notification|Event_alarm|Radio access network|OMC");
  EXPECT_EQ(m->Status(1, 0, 0) + "|" + m->Status(1, 1, 1) + "|" + m->Status(2, 1, 0),
            "Unacknowledged and uncleared|Acknowledged and cleared|Unacknowledged and cleared");
  // The status by the record's combined status agrees with the flag form.
  for (long ack = 0; ack <= 1; ++ack)
    for (long clr = 0; clr <= 1; ++clr) EXPECT_EQ(m->Status(AlmRecord_t::getStatus(ack, clr)), m->Status(1, clr, ack));
  EXPECT_EQ(m->getDateFormat(), "%04d-%02d-%02d");
  std::vector<std::string> levels;
  EXPECT_EQ(m->GetAlmLevelCfg(levels), FM_SUCCESS);
  EXPECT_EQ(levels.size(), 5u);
}

TEST_F(RecStringMapTest, InvalidCodesGiveEmptyTextAndCode) {
  CRecStringMap* m = CRecStringMap::Instance();
  fmtest::TraceCapture cap;
  std::string s = "junk";
  struct {
    int (CRecStringMap::*fn)(long, std::string&) const;
    long code;
    const char* log;
  } cases[] = {
      {&CRecStringMap::Level, 0, "CRecStringMap::Level, invalid level:0"},
      {&CRecStringMap::Level, 5, "CRecStringMap::Level, invalid level:5"},
      {&CRecStringMap::Type, 12, "CRecStringMap::Type, invalid type:12"},
      {&CRecStringMap::Category, 6, "CRecStringMap::Category, invalid category:6"},  // hole in the table
      {&CRecStringMap::LogType, 4, "CRecStringMap::LogType, invalid logType:4"},
      {&CRecStringMap::LogType, 0, "CRecStringMap::LogType, invalid logType:0"},
      {&CRecStringMap::Product, 0, "CRecStringMap::Product, invalid product:0"},
      {&CRecStringMap::Product, 7, "CRecStringMap::Product, invalid product:7"},
  };
  for (const auto& c : cases) {
    s = "junk";
    EXPECT_EQ((m->*c.fn)(c.code, s), FM_INVALID_ARG) << c.log;
    EXPECT_TRUE(s.empty()) << c.log;
    EXPECT_TRUE(cap.contains(c.log, TRACE_ERROR)) << c.log;
  }
  EXPECT_EQ(m->Level(9) + m->Type(0) + m->Category(99) + m->LogType(9), "");
  EXPECT_TRUE(cap.contains("CRecStringMap::Level, invalid Level: 9") && cap.contains("CRecStringMap::Type, invalid Type :0") &&
              cap.contains("Category is invalid !(99)") && cap.contains("LogType is invalid !(9)"));

  const long badStatus[][3] = {{3, 0, 0}, {0, 0, 0}, {1, 2, 0}, {1, 0, -1}, {2, 1, 5}};
  for (const auto& b : badStatus) {
    s = "junk";
    EXPECT_EQ(m->Status(b[0], b[1], b[2], s), FM_INVALID_STATUS);
    EXPECT_TRUE(s.empty());
  }
  EXPECT_TRUE(m->Status(0, s) == FM_INVALID_STATUS && m->Status(5, s) == FM_INVALID_STATUS && m->Status(4, s) == FM_SUCCESS);
}

TEST_F(RecStringMapTest, KeyWordsAndCategoriesForRN) {
  CRecStringMap* m = CRecStringMap::Instance();
  const char* const pairs[][2] = {{"Serial_number", "csn"},           {"Alarm_comment_information", "comment"},
                                  {"Extend_param_10", "param10"},      {"Clear_status", "recovery"},
                                  {"Acknowledgement_time", "acktime"}, {"Link_type", "linktype"}};
  for (const auto& p : pairs) {
    std::string f;
    EXPECT_TRUE(m->KeyWord(p[0], f) == FM_SUCCESS && f == p[1] && m->KeyWord(p[0]) == p[1]) << p[0];
  }
  fmtest::TraceCapture cap;
  std::string f = "junk";
  EXPECT_EQ(m->KeyWord("", f), FM_FAILURE);
  EXPECT_EQ(m->KeyWord("serial_number", f), FM_UNKNOWN_KEYWORD);  // case matters
  EXPECT_TRUE(f.empty() && m->KeyWord("Extend_param_11").empty());
  EXPECT_TRUE(cap.contains("Key word is NULL !") && cap.contains("Unknown key word : Extend_param_11") &&
              cap.contains("CRecStringMap::KeyWord, Unknown key word : serial_number"));

  const int rn[][2] = {{2, 1}, {7, 1}, {8, 1}, {9, 1}, {11, 1}, {3, 3}, {1, 1}, {10, 10}, {0, 0}, {-2, -2}};
  for (const auto& r : rn) EXPECT_EQ(CRecStringMap::convertCategoryForRN(static_cast<char>(r[0])), r[1]);
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

TEST_F(RecStringMapTest, WrittenFileSetsRangesAndFormats) {
  std::string types = group("type", {{"3", "T3"}, {"5", "T5"}, {"17", "T17"}, {"x", "Tx"}, {"0", "T0"}});
  std::string levels = group("level", {{"1", "L1"}, {"2", "L2"}, {"3", "L3"}, {"4", "L4"}, {"5", "L5"}});
  std::string xml = minimalGroups("type", types);
  xml = xml.replace(xml.find("<level>"), xml.find("</level>") + 8 - xml.find("<level>"), levels);
  std::string formats = group("format", {{"date", "%s"}, {"hour", "%02dh%02d"}, {"time", "%02d.%02d.%02d"}});
  xml = xml.replace(xml.find("<format>"), xml.find("</format>") + 9 - xml.find("<format>"), formats);
  fmtest::TraceCapture cap;
  CRecStringMap* m = load(writeInfoFile(xml));
  // Levels: five pairs, so 1..5 valid. Types: names outside 1..16 are ignored but counted.
  EXPECT_EQ(std::make_tuple(m->getAlmLevelCount(), m->getAlmLevelMax(), m->getAlmTypeCount(), m->getAlmTypeMin(),
                            m->getAlmTypeMax()), std::make_tuple(5, 5, 5, 3, 5));
  EXPECT_TRUE(m->isAlmLevelValid(5) && !m->isAlmLevelValid(6) && m->isAlmTypeValid(3) && !m->isAlmTypeValid(4) &&
              !m->isAlmTypeValid(0));
  EXPECT_TRUE(cap.contains("ALARM_LEVEL_NUM = 5, ALARM_LEVEL_MAX = 6") &&
              cap.contains("ALARM_TYPE_NUM = 5 ALARM_TYPE_MAX = 5", TRACE_ERROR));
  // An unsafe date format is refused and the default kept.
  EXPECT_EQ(m->getDateFormat(), "%04d-%02d-%02d");
  EXPECT_TRUE(cap.contains("ReadFMInfoFile, format date invalid:%s", TRACE_ERROR) && cap.contains("ReadFMInfoFile success!"));
  std::string t, h;
  EXPECT_TRUE(m->Time(93015, t, 28800, 1) == FM_SUCCESS && m->GetHourString(93015, h) == FM_SUCCESS);
  EXPECT_EQ(t + "|" + h, "09.30.15 GMT+08:00 DST|09h30");
}

// Types all outside 1..16 leave no valid type; numbered groups may be sparse.
TEST_F(RecStringMapTest, OutOfRangeTypesAndSparseNumberedGroups) {
  std::string cats = group("category", {{"1", "C1"}, {"7", "C7"}, {"40", "C40"}, {"abc", "bad"}, {"-3", "neg"}});
  fmtest::TraceCapture cap;
  CRecStringMap* m = load(writeInfoFile(minimalGroups("type", group("type", {{"17", "T17"}, {"0", "T0"}}))));
  EXPECT_EQ(std::make_tuple(m->getAlmTypeCount(), m->getAlmTypeMax(), m->getAlmTypeMin()), std::make_tuple(2, 0, 999));
  for (int t = 0; t <= 17; ++t) EXPECT_FALSE(m->isAlmTypeValid(static_cast<char>(t))) << t;
  m = load(writeInfoFile(minimalGroups("category", cats)));
  EXPECT_EQ(m->Category(7) + "|" + m->Category(40) + "|" + m->Category(2), "C7|C40|");
  EXPECT_TRUE(cap.contains("group category invalid name:abc") && cap.contains("group category invalid name:-3"));
}

// The site's copy under KYRO_ROOT wins over the installed one; an explicit
// file over both.
TEST_F(RecStringMapTest, InformationFileSearchOrder) {
  CCentralCfg::SetRecConfigFileName("");
  std::string site = fmtest::kyroRoot() + "/etc/fm.xml";
  std::filesystem::remove(site);
  std::filesystem::create_directories(fmtest::kyroRoot() + "/etc");
  std::ofstream(site) << "<vela>" << minimalGroups("level", group("level", {{"1", "Site critical"}})) << "</vela>";
  EXPECT_EQ(CCentralCfg::GetRecConfigFileName(), site);
  CRecStringMap::Destroy();
  EXPECT_EQ(CRecStringMap::Instance()->Level(1), "Site critical");
  CCentralCfg::SetRecConfigFileName(kShippedFile);
  EXPECT_EQ(CCentralCfg::GetRecConfigFileName(), kShippedFile);
  std::filesystem::remove(site);
}

TEST_F(RecStringMapTest, BrokenFilesFailInitButKeepDefaults) {
  struct {
    std::string file;
    const char* log;
  } cases[] = {
      {fmtest::kyroRoot() + "/no/such/fm.xml", "ReadFMInfoFile, ConfigAdapter init failed"},
      {writeInfoFile("<product><param name=\"1\" value=\"x\"/></prod>"), "ReadFMInfoFile, ConfigAdapter init failed"},
      {writeInfoFile(minimalGroups("format", "")), "ReadFMInfoFile, get format failed"},
      {writeInfoFile(minimalGroups("product", "")), "ReadFMInfoFile, get product failed"},
      {writeInfoFile(minimalGroups("identifier", "")), "ReadFMInfoFile, get identifier failed"},
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
  std::string s;
  const long wall = XRFMTimeUtil::TimeToSeconds(20240701, 143000);
  fmtest::TraceCapture cap;
  // An instant in the zone of an offset: 12:30 UTC at +05:30 is 18:00; 0 gives "".
  const std::pair<std::function<int()>, const char*> texts[] = {
      {[&] { return m->UTCToString(0, s), int(FM_SUCCESS); }, "0"},
      {[&] { return m->UTCToString(1709251199, s), int(FM_SUCCESS); }, "2024-02-29 23:59:59"},
      {[&] { return m->UTCToString(INT64_C(999999999999999), s), int(FM_SUCCESS); }, ""},
      {[&] { return m->Time(235959, s, -16200, 0); }, "23:59:59 GMT-04:30"},
      {[&] { return m->Date(20240309, s); }, "2024-03-09"},
      {[&] { return m->DateTimeEx(wall, s, 7200, 3600); }, "2024-07-01 14:30:00 GMT+02:00 DST"},
      {[&] { return m->TimeForXML(wall, -12600, s); }, "2024-07-01T14:30:00-03:30"},
      {[&] { return m->formatTime2Str(XRFMTimeUtil::TimeToSeconds(20240701, 123000), 19800, 0, s); },
       "2024-07-01 18:00:00 GMT+05:30"},
      {[&] { return m->formatTime2Str(0, 19800, 0, s); }, ""}};
  for (const auto& [call, text] : texts) {
    s = "junk";
    EXPECT_EQ(call(), FM_SUCCESS) << text;
    EXPECT_EQ(s, text);
  }
  EXPECT_TRUE(cap.contains("CRecStringMap::UTCToString: time 999999999999999 invalid.", TRACE_ERROR));
  for (long x : {LONG_MIN, 67768036191676800L}) {  // beyond years 1..9999 or long: refused, no overflow
    m->UTCToString(x, s);
    EXPECT_TRUE(s.empty() && m->DateTimeEx(x, s, 0, 0) == FM_FAILURE && m->TimeForXML(x, 0, s) == FM_FAILURE &&
                m->TimeForXML(wall, x, s) == FM_FAILURE && m->formatTime2Str(x, x, x, s) == FM_FAILURE) << x;
  }

  fmtest::ServerZone server("Asia/Kolkata", 19800, 0);
  std::string now = getCurrentServerTimeWithDst();
  ASSERT_EQ(now.size(), std::string("2024-07-01 18:00:00 GMT+05:30").size()) << now;
  EXPECT_EQ(now.substr(19), " GMT+05:30");
}

TEST_F(RecStringMapTest, AlarmAndLinkTypeNames) {
  CRecStringMap* m = CRecStringMap::Instance();
  AlarmInfo_t alarm(3, 1001);
  fmtest::TraceCapture cap;
  std::string s = "junk";
  EXPECT_TRUE(m->AlmName(alarm, s) == FM_INVALID_ARG && s.empty());
  EXPECT_TRUE(cap.contains("CRecStringMap::AlmName, invalid alarm:3,1001", TRACE_ERROR));
  m->setAlmName(alarm, "Link down");
  EXPECT_EQ(m->AlmName(alarm) + "|" + m->AlmName(AlarmInfo_t(3, 1002)), "Link down|");
  m->setAlmName(alarm, "");
  EXPECT_EQ(m->AlmName(alarm, s), FM_INVALID_ARG);
  const std::string before = m->LinkType(3);
  m->getLinkTypeNameService()->setName(2, 3, "Optical fibre");
  EXPECT_EQ(before + "|" + m->LinkType(3), "Unknown_link_type|Optical fibre");
  std::map<ProductLinkType_t, std::string> all;
  m->getAllLinkTypeInfo(all);
  EXPECT_EQ(all, (std::map<ProductLinkType_t, std::string>{{{2, 3}, "Optical fibre"}}));
}

// The settings groups name combined-alarm flags and whether each is sent.
TEST_F(RecStringMapTest, CombinedAlarmNorthboundFilter) {
  std::string store = fmtest::makeTempDir("mbts") + "/settings.xml";
  Setting::instance()->setStorePath(store);
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
  EXPECT_EQ(os.str(), "5");
  EXPECT_EQ(cond.m_lstValues, std::list<std::string>{"5"});
  EXPECT_TRUE(cap.contains("CRecStringMap::ReadMBTSFilterCfg,no value for [lte]") &&
              cap.contains("CRecStringMap::setComAlmFilterCondForNB not send to NB ComAlmValue:5"));

  // The file form adds flags; names that are not numbers are refused.
  std::string dir = fmtest::kyroRoot() + "/etc/FMNotify";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/MBTSFilter.xml") << "<MBTS_Filter><param name=\"12\" value=\"no\"/>"
                                            "<param name=\"13\" value=\"yes\"/><param name=\"x\" value=\"no\"/>"
                                            "</MBTS_Filter>";
  EXPECT_EQ(m->ReadMBTSFilterFile(), FM_SUCCESS);
  EXPECT_TRUE(m->filterAlmByComFlag(12) && !m->filterAlmByComFlag(13));
  EXPECT_TRUE(cap.contains("ReadMBTSFilterFile invalid name: x") &&
              cap.contains("ReadMBTSFilterFile success! Read values count: 2"));
  std::filesystem::remove_all(dir);
  EXPECT_EQ(m->ReadMBTSFilterFile(), FM_FAILURE);
  EXPECT_TRUE(cap.contains("ReadMBTSFilterFile getAllSysParam failed! section name:MBTS_Filter"));

  // Without the groups nothing is filtered and Init goes on.
  Setting::instance()->setStorePath(fmtest::makeTempDir("mbts_none") + "/settings.xml");
  m = load(kShippedFile);
  EXPECT_FALSE(m->isExistComFlagNotSendToNB());
  EXPECT_TRUE(cap.contains("CRecStringMap::ReadMBTSFilterCfg,get MBTS name-key map fail.path[/kyro/vela/MBTS_Conf]"));
  EXPECT_EQ(m->Level(1), "Critical");
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
  fmtest::TraceCapture cap;
  EXPECT_EQ(named("NE=8", true) + "|" + named("NE=9", true), "0 product:NE=8|17 NE=9");
  EXPECT_TRUE(cap.contains("CRecStringMap::getMOName: unrecognized fdn NE=9 iRet: 17", TRACE_ERROR));

  // The cache asks the naming service once per key.
  long calls = plat->getNamingCalls();
  EXPECT_EQ(m->getfdnOIDName("oid-5") + m->getfdnOIDName("oid-5") + m->getfdnOIDName4Export("oid-5"),
            "Berlin coreBerlin coreBerlin core");
  EXPECT_EQ(plat->getNamingCalls(), calls + 1);
  m->setfdnOIDName("oid-5", "Renamed");
  EXPECT_EQ(m->getfdnOIDName("oid-5"), "Renamed");
  m->setfdnOIDName("oid-unknown", "X");
  EXPECT_FALSE(m->isNameCached("oid-unknown"));
  EXPECT_TRUE(cap.contains("CRecStringMap::setfdnOIDName oid not found:oid-unknown", TRACE_PROGRESS));
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

  plat->setNamingAvailable(false);
  fmtest::TraceCapture cap;
  std::list<AlmRecord_t> other(1);
  other.front().setMoDn("NE=77");
  m->PreLoadNameByOID(other);
  EXPECT_FALSE(m->isNameCached("NE=77"));
  EXPECT_TRUE(cap.contains("getBatchMOName, iRet =33002 or mapFDN2Name.empty().") && cap.contains("CT_PreLoadNameByOID,1/"));
}

// Readers of names and of the northbound filter on many threads while names
// are renamed and deleted.
TEST(RecStringMapConcurrencyTest, NameCacheUnderConcurrentUse) {
  CCentralCfg::SetRecConfigFileName(kShippedFile);
  CRecStringMap::Destroy();
  XRIMIrpPluginplat* plat = XRIMIrpPluginplat::Instance();
  for (int i = 0; i < 50; ++i) plat->setMOName("NE=" + std::to_string(i), "n" + std::to_string(i));
  CRecStringMap* m = CRecStringMap::Instance();
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([m, t, &wrong] {
      for (int i = 0; i < 200; ++i) {
        int ne = (i * 7 + t) % 50;
        std::string key = "NE=" + std::to_string(ne);
        if (t == 0 && i % 10 == 0) {
          m->deleteMO(key);
        } else if (t == 1 && i % 10 == 0) {
          m->modifyMO(key);
        } else {
          std::string name = m->getfdnOIDName(key);
          if (name != "n" + std::to_string(ne)) ++wrong;
        }
        m->filterAlmByComFlag(i);
        if (m->Level(1) != "Critical") ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  CRecStringMap::Destroy();
  CCentralCfg::SetRecConfigFileName("");
  plat->clear();
}

}  // namespace
}  // namespace Kyrofm
