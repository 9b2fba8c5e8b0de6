// Tests of CKyroSettingOP: every accessor over absent, malformed, out-of-range
// and boundary values; the caches; the setters and their refused writes; the
// character-set conversions; the shipped default settings file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <tuple>
#include <vector>


#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/platform/KyroSetting.h"
#include "support/FmSettingsFile.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

namespace fs = std::filesystem;

using KV = fmtest::SettingsKV;  // full path -> text
using fmtest::writeSettings;

std::string alarmConfPath() { return fmtest::kyroRoot() + "/etc/alarm_conf.xml"; }

void writeAlarmConf(const std::string& engines) {
  fs::create_directories(fmtest::kyroRoot() + "/etc");
  std::ofstream(alarmConfPath())
      << "<vela><correlate><param name=\"cor_engine_num\" value=\"" << engines << "\"/></correlate></vela>";
}

class KyroSettingOPTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fmtest::makeTempDir("settingop");
    m_file = m_dir + "/kyro_settings.xml";
    Setting::instance()->setStorePath(m_file);
    CKyroSettingOP::destroy();
    fs::remove(alarmConfPath());
  }
  void TearDown() override {
    CKyroSettingOP::destroy();
    Setting::instance()->setStorePath("");
    KyroCommonUtils::setGlobalVersion(true);
    KyroGlobalUtils::setLocalCharset("");
    CFDNSplitter::destroy();
    KyroMsg::destroy();
    fs::remove(alarmConfPath());
  }
  // A new accessor over a settings file holding exactly `kv`.
  CKyroSettingOP& fresh(const KV& kv) {
    writeSettings(m_file, kv);
    CKyroSettingOP::destroy();
    return *CKyroSettingOP::instance();
  }
  // Makes every write of the settings service fail.
  void breakStore() {
    std::ofstream(m_dir + "/plainfile") << "x";
    Setting::instance()->setStorePath(m_dir + "/plainfile/kyro_settings.xml");
  }
  std::string read(const std::string& path) {
    std::string v;
    return Setting::instance()->getParamValue(path, v) == 0 ? v : std::string("<absent>");
  }
  std::string m_dir;
  std::string m_file;
};

// ---------------------------------------------------------------------------
// Every value accessor, table-driven.

constexpr long kNoCode = -1;  // the accessor returns no code
const std::nullopt_t kAbsent = std::nullopt;

struct Result {
  long value;
  long code;
};

struct Case {
  std::optional<std::string> text;  // kAbsent: the key is not in the file
  long value;
  long code;
};

struct AccessorRow {
  const char* name;     // accessor, also the operation name in its log lines
  const char* logName;  // operation name its failure message carries
  std::string path;     // where the value lives (group parameters: "/kyro/vela/<name>")
  std::function<Result(CKyroSettingOP&)> call;
  std::vector<Case> cases;
};

template <typename T>
std::function<Result(CKyroSettingOP&)> CCall(int (CKyroSettingOP::*fn)(T&)) {
  return [fn](CKyroSettingOP& op) {
    T v{};
    long code = (op.*fn)(v);
    return Result{static_cast<long>(v), code};
  };
}

template <typename R>
std::function<Result(CKyroSettingOP&)> VCall(R (CKyroSettingOP::*fn)()) {
  return [fn](CKyroSettingOP& op) { return Result{static_cast<long>((op.*fn)()), kNoCode}; };
}

const std::string V = "/kyro/vela/";
const std::string AC = "/kyro/vela/alarm_configure/";
const std::string CP = "/kyro/vela/cor_postprocess/";

// Cases of a flag read as the exact text "true".
std::vector<Case> flagCases(long code = kNoCode, long absentCode = kNoCode) {
  return {{kAbsent, 0, absentCode}, {"true", 1, code}, {"TRUE", 0, code}, {"1", 0, code}, {"false", 0, code}};
}

// One accessor: its name (also the operation name of its log lines), key and call.
// Accessors that only name a key and range of a shared reader (readRanged,
// readFlag, exportRanged) are represented by a few rows each.
#define ROW_LOG(kind, fn, logName, path) #fn, logName, path, kind##Call(&CKyroSettingOP::fn)
#define ROW(kind, fn, path) ROW_LOG(kind, fn, #fn, path)

std::vector<AccessorRow> accessorRows() {
  auto ranged = [](long def, long lo, long hi, long okCode = kNoCode, long badCode = kNoCode, long outCode = kNoCode) {
    auto keep = [](long v) { return std::to_string(v); };
    return std::vector<Case>{{kAbsent, def, badCode},      {"abc", def, badCode},  {"12abc", def, badCode},
                             {keep(lo - 1), def, outCode}, {keep(lo), lo, okCode}, {keep(hi), hi, okCode},
                             {keep(hi + 1), def, outCode}};
  };
  const long S = FM_SUCCESS, F = FM_FAILURE, N = kNoCode;
  std::vector<AccessorRow> rows = {
      // Numbers are strict decimals with optional blanks around them and a sign.
      {ROW(C, getAlmListExpireTime, V + "AlarmListExpireTime"),
       {{kAbsent, 0, F}, {"abc", 0, F}, {"12abc", 0, F}, {"-5", 0, F}, {"-1", 0, F}, {"0", 0, S}, {" 24 ", 24, S},
        {"+3", 3, S}, {"168", 168, S}, {"169", 168, S}, {"200", 168, S}, {"", 0, F}, {"1 2", 0, F}, {"0x10", 0, F},
        {"99999999999999999999", 0, F}, {"-", 0, F}}},
      {ROW(C, getLogTableMaxRecordNum, V + "logTableCount"), ranged(500000, 200000, 2000000, S, S, S)},
      {ROW(C, getClrBufSize, AC + "clear_alm_buf_size"),
       {{kAbsent, 500, F}, {"abc", 500, F}, {"12abc", 500, F}, {"0", 0, S}, {"-3", -3, S}, {"800", 800, S}}},
      {ROW(C, getClrBufChkInter, AC + "clear_alm_buf_chk_period"), {{kAbsent, 60, F}, {"x", 60, F}, {"5", 5, S}}},
      {ROW(C, getClrBufLiveTime, AC + "clear_alm_buf_lifetime"), {{kAbsent, 60, F}, {"x", 60, F}, {"7", 7, S}}},
      {ROW(C, getClearAlmSynFlag, AC + "clear_alm_syn_flag"), flagCases(S, F)},
      {ROW(C, getAlarmOverFlowUpLimit, V + "AlarmOverFlowUpLimit"), ranged(2000000, 2000000, 30000000, S, S, S)},
      {ROW(C, getEventOverFlowUpLimit, V + "EventOverFlowUpLimit"), ranged(1200000, 1200000, 30000000, S, S, S)},
      {ROW(C, getOverflowAutoAckLogCount, V + "overflowAutoAckLogCount"), ranged(100000, 20000, 300000, S, F, F)},
      {ROW(V, enableAlmListLockFunc, V + "enableAlmListLock"), flagCases()},
      {ROW(C, getLctSyncSwitch, AC + "LCT_syn_switch"),
       {{kAbsent, 0, S}, {"true", 1, S}, {"1", 0, S}, {"false", 0, S}}},
      {ROW(V, isNeedFilterByNE, "/kyro/vela/EventProcess/NEDeletePolicy/IsNeedFilterByNE"),
       {{kAbsent, 0, N}, {"x", 0, N}, {"0", 0, N}, {"2", 1, N}, {"-1", 1, N}}},
      {ROW(V, getFilterNECycle, "/kyro/vela/EventProcess/NEDeletePolicy/NeFilterCycle"),
       {{kAbsent, 3600, N}, {"x", 3600, N}, {"0", 3600, N}, {"-1", 3600, N}, {"1", 1, N}, {"7200", 7200, N}}},
      {ROW(V, getShieldAlmFreqAna, V + "IsShieldAlmFreqAnalyze"),
       {{kAbsent, 0, N}, {"x", 0, N}, {"-1", 0, N}, {"0", 0, N}, {"5", 5, N}}},
      {ROW(V, getEfdThreadNum, V + "AlmEfdThreadNum"), ranged(5, 0, 10)},
      {ROW(C, getLogStatCount, "/kyro/common/manager/taskcontrol/logstatcount"), ranged(2, 1, 10, S, F, F)},
      {ROW(V, getPostExeThreadNum, "/kyro/vela/postexe/threadNum"),
       {{kAbsent, 1, N}, {"x", 1, N}, {"-3", 1, N}, {"0", 1, N}, {"1", 1, N}, {"5", 5, N}, {"10", 10, N},
        {"11", 10, N}}},
      {ROW(V, getIsMergerAlmFlag, "/kyro/vela/fm/supportMergerAlarm"),
       {{kAbsent, 1, N}, {"false", 0, N}, {"FALSE", 1, N}, {"0", 1, N}, {"true", 1, N}}},
      {ROW(V, getCorPostProcessDelayPeriod, CP + "cor_postprocess_delay_period"), ranged(180, 0, 600)},
      {ROW(V, getRaiseCorAlmChkInterval, V + "raise_corAlm_chk_interval"), ranged(300, 300, 86400)},
      {ROW(C, getC1ValueRuleExistTime, V + "C1ValueRuleExistTime"),
       {{kAbsent, 1800, S}, {"x", 1800, S}, {"0", 1800, S}, {"-1", 1800, S}, {"1", 1, S}, {"3600", 3600, S}}},
      {ROW(V, getNBMbtsFilterFlag, V + "mbtsfilter"), ranged(0, 0, 7)},
      {ROW(V, isSupportRNBigCapacity, V + "isSupportRNBigCapacity"),
       {{kAbsent, 0, N}, {"1", 1, N}, {" 1 ", 1, N}, {"2", 0, N}, {"true", 0, N}, {"0", 0, N}}},
      {ROW(V, supportDynamicDuration, V + "dynamicRefresh"),
       {{kAbsent, 0, N}, {"1", 1, N}, {" 1", 0, N}, {"true", 0, N}, {"0", 0, N}}},
      {ROW_LOG(C, getOMCNeType, "getOMCNetype", "/kyro/vela/omcne/netype"),
       {{kAbsent, 100000, S}, {"x", 100000, S}, {"5", 5, S}}},
      // Threshold and expiry export: 33000 when read, 33002 and the default on a failure.
      {ROW(C, getThresholdExportInterval, V + "threshold ExportInterval"), ranged(100, 30, 300, S, F, S)},
      {ROW(C, getThresholdExportIsExport, V + "threshold IsExport"),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 0, S}, {"1", 1, S}, {"7", 1, S}, {"-1", 1, S}}},
      {ROW(C, getThresholdExportIsZip, V + "threshold IsZip"),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 1, S}, {"1", 1, S}, {"2", 2, S}, {"3", 1, S}}},
      {ROW(C, getThresholdExportFileType, V + "threshold FileType"),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"xml", 1, S}, {"2", 1, S}, {"CSV", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportStartTime, V + "expireAlarmExportTime"), ranged(23, 0, 23, S, F, S)},
      {ROW(C, getAlarmExpireTimeExportDay, V + "expireAlarmExport Day"),
       {{kAbsent, 90, F}, {"x", 90, F}, {"0", 90, S}, {"-2", 90, S}, {"1", 1, S}, {"400", 400, S}}},
      {ROW(C, getEventExpireTimeExportIsZip, V + "expireEventExport IsZip"),
       {{kAbsent, 1, F}, {"2", 2, S}, {"5", 1, S}}},
      // Events use the file type configured for alarms.
      {ROW(C, getEventExpireTimeExportFileType, V + "expireAlarmExport FileType"),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"TXT", 1, S}}},
  };
  return rows;
}

TEST_F(KyroSettingOPTest, EveryAccessorOverAbsentMalformedOutOfRangeAndBoundaryValues) {
  for (const auto& row : accessorRows()) {
    for (const auto& c : row.cases) {
      KV kv;
      if (c.text) kv.emplace_back(row.path, *c.text);
      CKyroSettingOP& op = fresh(kv);
      fmtest::TraceCapture cap;
      Result r = row.call(op);
      const std::string what = std::string(row.name) + " with " + (c.text ? "'" + *c.text + "'" : "absent");
      EXPECT_EQ(std::make_pair(r.value, r.code), std::make_pair(c.value, c.code)) << what;
      const auto msgs = cap.sink().messages();
      EXPECT_TRUE(c.text || std::any_of(msgs.begin(), msgs.end(), [&](const KyroTraceMessage& m) {
                    return m.text.rfind(std::string("CKyroSettingOP::") + row.logName, 0) == 0 &&
                           m.text.find("failed") != std::string::npos && m.level >= TRACE_PROGRESS;
                  })) << what << ": the fallback is logged";
    }
  }
}

TEST_F(KyroSettingOPTest, CurrentAlarmBufferSizeFromItsKeyOrDerivedFromTheListSize) {
  // {current-alarm key, list-size key, expected}: nullptr is an absent key.
  const std::tuple<const char*, const char*, long> rows[] = {
      {nullptr, "40000", 100000}, {nullptr, "30000", 50000},   {nullptr, "30001", 100000},
      {nullptr, "80000", 100000}, {nullptr, "80001", 100001},  {nullptr, "280000", 300000},
      {nullptr, "99999999999", 300000}, {nullptr, nullptr, 50000}, {nullptr, "abc", 50000},
      {"49999", "200000", 50000}, {"50000", nullptr, 50000},   {"300000", nullptr, 300000},
      {"300001", nullptr, 50000}, {"12abc", "200000", 50000}};
  for (const auto& [cur, list, expect] : rows) {
    KV kv;
    if (cur) kv.emplace_back(V + "curAlmMaxCount", cur);
    if (list) kv.emplace_back(V + "alarmListMaxCount", list);
    long v = 0;
    EXPECT_EQ(fresh(kv).getCurAlmMaxRecordNum(v), FM_SUCCESS);
    EXPECT_EQ(v, expect) << (cur ? cur : "-") << "/" << (list ? list : "-");
  }
}

TEST_F(KyroSettingOPTest, ConstantsSplitterAndGreenChannelAlarms) {
  CKyroSettingOP& op = fresh({});
  CFDNSplitter::instance()->setSplitter('/');
  EXPECT_EQ(op.getFDNSplitter(), '/');
  EXPECT_FALSE(op.isGreenChannelsAlm(nullptr));
  const std::tuple<long, long, bool> rows[] = {{100000, 33, true},   {100000, 38, true}, {100000, 39, true},
                                               {100000, 37, false}, {100001, 33, false}};
  for (const auto& [neType, alarmId, green] : rows) {
    AlmRecord_t rec;
    rec.setNEType(neType);
    rec.setAlarmId(alarmId);
    EXPECT_EQ(op.isGreenChannelsAlm(&rec), green) << neType << "/" << alarmId;
  }
}

// ---------------------------------------------------------------------------
// Group parameters, generic lookups and lists

TEST_F(KyroSettingOPTest, GroupParametersAreLoadedOnceAtStart) {
  CKyroSettingOP& op = fresh({{V + "redefineRuleNum", "300"}, {V + "AlmEfdThreadNum", "3"}, {"/a/b/c", "1"}});
  std::string text;
  EXPECT_TRUE(op.getVelaSetting("redefineRuleNum", text));
  EXPECT_EQ(text, "300");
  EXPECT_FALSE(op.getVelaSetting("absent", text));
  // isPathExist is false only for "no such path", not for other answers.
  EXPECT_EQ(std::make_tuple(op.isPathExist("/a/b/c"), op.isPathExist("/a/b/d"), op.isPathExist("not/a/path")),
            std::make_tuple(true, false, true));
  // A later change reaches path reads at once and group reads only after a restart.
  ASSERT_EQ(Setting::instance()->setParam(V + "redefineRuleNum", "400"), 0);
  ASSERT_EQ(Setting::instance()->setParam(V + "AlmEfdThreadNum", "4"), 0);
  EXPECT_EQ(op.getRedefineRuleNum() * 10 + op.getEfdThreadNum(), 3004);
  CKyroSettingOP::destroy();
  EXPECT_EQ(CKyroSettingOP::instance()->getRedefineRuleNum(), 400);
}

TEST_F(KyroSettingOPTest, InitSetsNorthboundFlagsAndLanguage) {
  CKyroSettingOP& op = fresh({{"/kyro/vela/specialAlarmStatus/nbenable", "true"}, {V + "corAlmSendToNBFlag", "false"}});
  EXPECT_EQ(std::make_tuple(op.getLanguage(), g_NBSpecailAlmFlag.load(), g_NBCorAlmFlag.load()),
            std::make_tuple(std::string("en_US"), true, false));
  KyroMsg::instance()->setLanguage("zh_CN");
  std::filesystem::remove(m_file);
  CKyroSettingOP::destroy();
  const std::string language = CKyroSettingOP::instance()->getLanguage();
  EXPECT_EQ(std::make_tuple(language, g_NBSpecailAlmFlag.load(), g_NBCorAlmFlag.load()),
            std::make_tuple(std::string("zh_CN"), false, true));
}

TEST_F(KyroSettingOPTest, GrantSelectUsers) {
  const std::pair<const char*, std::list<std::string>> rows[] = {  // the users are appended
      {nullptr, {"in", "AutoCfg"}}, {"", {"in", "AutoCfg"}}, {" alice , ,bob ", {"in", "alice", "bob"}}, {",", {"in", "AutoCfg"}}};
  for (const auto& [text, expect] : rows) {
    KV kv;
    if (text) kv.emplace_back("/kyro/vela/databaseparam/vela_common/grant_select_on_alarm_table_to", text);
    std::list<std::string> users{"in"};
    fresh(kv).getGrantSelectUsers(users);
    EXPECT_EQ(users, expect) << (text ? text : "absent");
  }
}

TEST_F(KyroSettingOPTest, NESynchronisationAttributes) {
  CKyroSettingOP& op = fresh({});
  std::list<FMNameValue_t> got{{"keep", "x"}};
  EXPECT_EQ(op.getNESynAttr(got), FM_SUCCESS);
  EXPECT_EQ(got, (std::list<FMNameValue_t>{{"keep", "x"}, {"ne_startsvc_syn", "0"}, {"ne_recover_syn", "0"},
                                           {"LCT_user_logout_syn", "0"}}));
  EXPECT_EQ(op.setNESynAttr({{"ne_startsvc_syn", "1"}, {"ne_recover_syn", "2"}, {"LCT_user_logout_syn", "1"}}),
            FM_SUCCESS);
  got.clear();
  op.getNESynAttr(got);
  EXPECT_EQ(got, (std::list<FMNameValue_t>{{"ne_startsvc_syn", "1"}, {"ne_recover_syn", "0"},
                                           {"LCT_user_logout_syn", "1"}}))
      << "only the text 1 counts as on";
  // An invalid value stops the write: pairs before it are written, pairs after it not.
  EXPECT_EQ(op.setNESynAttr({{"ne_startsvc_syn", "0"}, {"LCT_user_logout_syn", "2"}, {"ne_recover_syn", "1"}}),
            FM_FAILURE);
  EXPECT_EQ(read(AC + "ne_startsvc_syn") + read(AC + "ne_recover_syn") + read(AC + "LCT_user_logout_syn"), "021");
  EXPECT_EQ(op.setNESynAttr({{"bogus", "1"}}), FM_SETTING_REFUSED);
  EXPECT_EQ(read(AC + "bogus"), "<absent>");
  breakStore();
  EXPECT_EQ(op.setNESynAttr({{"ne_recover_syn", "1"}}), FM_SETTING_REFUSED);
}

// ---------------------------------------------------------------------------
// Setters

TEST_F(KyroSettingOPTest, SettersWriteTheirKeysAndReportRefusedWrites) {
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.setAlmListExpireTime(24), FM_SUCCESS);
  EXPECT_EQ(op.setLogStatCount(5), FM_SUCCESS);
  EXPECT_EQ(op.setLctSyncSwitch(0), FM_SUCCESS);
  EXPECT_EQ(read(V + "AlarmListExpireTime") + read("/kyro/common/manager/taskcontrol/logstatcount") +
                read(AC + "LCT_syn_switch"),
            "245false");
  ASSERT_EQ(op.setLctSyncSwitch(1), FM_SUCCESS);
  EXPECT_EQ(op.setLctSyncSwitch(2), FM_FAILURE);
  EXPECT_EQ(op.setLctSyncSwitch(-1), FM_FAILURE);
  EXPECT_EQ(read(AC + "LCT_syn_switch"), "true") << "an invalid switch writes nothing";
  EXPECT_EQ(op.setSendCorAlmToNBFlag(false), FM_SUCCESS);
  EXPECT_EQ(read(V + "corAlmSendToNBFlag"), "false");
  breakStore();
  EXPECT_EQ((std::vector<long>{op.setAlmListExpireTime(1), op.setLogStatCount(1), op.setLctSyncSwitch(1),
                               op.setSendCorAlmToNBFlag(true)}),
            (std::vector<long>{FM_SETTING_REFUSED, FM_FAILURE, FM_SETTING_REFUSED, FM_SETTING_REFUSED}));
}

// ---------------------------------------------------------------------------
// Caches: the first good read is kept; a failed or invalid one is not.

TEST_F(KyroSettingOPTest, CachedValuesKeepTheirFirstGoodRead) {
  auto set = [](const std::string& path, const char* text) { ASSERT_EQ(Setting::instance()->setParam(path, text), 0); };
  CKyroSettingOP& op = fresh({});
  // init already read the flag: absent, true, not cached; the setter does not change the cached value.
  EXPECT_TRUE(op.getSendCorAlmToNBFlag());
  set(V + "corAlmSendToNBFlag", "false");
  EXPECT_FALSE(op.getSendCorAlmToNBFlag());
  EXPECT_EQ(op.setSendCorAlmToNBFlag(true), FM_SUCCESS);
  EXPECT_FALSE(op.getSendCorAlmToNBFlag());

  EXPECT_EQ(op.getNorthExportCharSet(), "UTF-8");
  set("/kyro/north/export/charset", "gbk");
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK");
  set("/kyro/north/export/charset", "ISO-8859-1");
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK");
  for (const auto& [text, expect] : {std::pair<const char*, const char*>{" gbk ", "GBK"}, {"iso-8859-1", "ISO-8859-1"},
                                     {"utf-8", "UTF-8"}, {"BIG5", "UTF-8"}, {"", "UTF-8"}}) {
    EXPECT_EQ(fresh({{"/kyro/north/export/charset", text}}).getNorthExportCharSet(), expect) << text;
  }

  const char* const delimiterPath = "/kyro/vela/location/delimiter";
  std::string delimiters;
  CKyroSettingOP& op1 = fresh({});
  for (const char* stored : {static_cast<const char*>(nullptr), "x", "1", "0"}) {  // absent and invalid: ", " not cached; "1": " " cached
    if (stored) set(delimiterPath, stored);
    delimiters += op1.getLocationDelimiter() + "|";
  }
  EXPECT_EQ(delimiters, ", |, | | |");
  CKyroSettingOP& op2 = fresh({{delimiterPath, "2"}});
  EXPECT_EQ(op2.getLocationDelimiter(), ", ");
  int t = 0;
  EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
  EXPECT_EQ(t, 100000);
  for (const char* stored : {"5", "6"}) {  // the fallback is not cached, the first good read is
    set("/kyro/vela/omcne/netype", stored);
    EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
    EXPECT_EQ(t, 5);
  }

  // {engine count in alarm_conf.xml (nullptr: no file; "1\"": malformed), restart first, expected}: out of
  // range and malformed give the default, not cached; the first good value is kept until a restart.
  const std::tuple<const char*, bool, int> engines[] = {{nullptr, false, 1}, {"9", false, 1}, {"0", false, 1},
      {" 3 ", false, 3}, {"4", false, 3}, {"4", true, 4}, {"1\"", true, 1}};
  for (const auto& [conf, restart, expect] : engines) {
    if (conf) writeAlarmConf(conf);
    if (restart) CKyroSettingOP::destroy();
    EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), expect) << (conf ? conf : "no file");
  }
}

// ---------------------------------------------------------------------------
// Character sets

TEST_F(KyroSettingOPTest, LocalCharsetFlagsAndForcedUtf8) {
  for (const auto& [env, local] : {std::pair<const char*, bool>{"1", true}, {"yes", false}, {nullptr, false}}) {
    env ? ::setenv("FILECONTENT_LOCAL_CHARSET", env, 1) : ::unsetenv("FILECONTENT_LOCAL_CHARSET");
    EXPECT_EQ(fresh({}).IsLocalCharSet(), local) << (env ? env : "unset");
  }
  KyroGlobalUtils::setLocalCharset("GBK");
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.GetLocalCharSet(), "GBK");
  KyroGlobalUtils::setLocalCharset("ISO-8859-1");
  EXPECT_EQ(op.GetLocalCharSet(), "GBK") << "cached";
  // {global edition, language, forced}
  for (const auto& [global, language, forced] : {std::make_tuple(true, "en_US", false), std::make_tuple(false, "en_US", true),
                                                 std::make_tuple(false, "zh_CN", false)}) {
    KyroCommonUtils::setGlobalVersion(global);
    KyroMsg::instance()->setLanguage(language);
    CKyroSettingOP& o = fresh({});
    o.initIsForceToUseUTF8();
    EXPECT_EQ(o.isForceToUseUTF8(), forced) << global << " " << language;
  }
}

const std::string kChinese = "\xE5\x91\x8A\xE8\xAD\xA6";  // 告警
const std::string kCafe = "caf\xC3\xA9";

std::string to(const char* cs, const std::string& utf8) {
  std::string out;
  EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", cs, utf8, out), KYRO_CONV_SUCCESS);
  return out;
}

// Conversion happens in the global edition towards a local code set other
// than UTF-8; texts that fail keep their bytes, the others still convert.
TEST_F(KyroSettingOPTest, ConvertCharSetOnlyInTheGlobalEditionAndForAnotherTarget) {
  const std::string bad("x\xC3", 2);
  // {local code set, global edition, text, expected}
  const std::tuple<const char*, bool, std::string, std::string, long> rows[] = {
      {"GBK", true, kChinese, to("GBK", kChinese), FM_SUCCESS},
      {"GBK", false, kChinese, kChinese, FM_SUCCESS},  // local edition: texts are already local
      {"utf8", true, bad, bad, FM_SUCCESS},            // target UTF-8: nothing to do, even for invalid bytes
      {"ISO-8859-1", true, bad, bad, FM_FAILURE}};
  fmtest::TraceCapture quiet;
  for (const auto& [cs, global, text, expect, rc] : rows) {
    KyroGlobalUtils::setLocalCharset(cs);
    KyroCommonUtils::setGlobalVersion(global);
    fresh({});
    std::string s = text;
    EXPECT_EQ(CKyroSettingOP::ConvertCharSet(s), rc) << cs;
    EXPECT_EQ(s, expect) << cs << global;
  }
  KyroCommonUtils::setGlobalVersion(true);
  std::list<std::string> list{kCafe, kChinese, bad};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(list), FM_FAILURE);
  EXPECT_EQ(list, (std::list<std::string>{to("ISO-8859-1", kCafe), kChinese, bad}));
}

TEST_F(KyroSettingOPTest, ConvertTableRowByRowWithFallbackPerString) {
  KyroGlobalUtils::setLocalCharset("GBK");
  fresh({});
  std::vector<std::vector<std::string>> table{
      {kChinese, "a", ""},
      {},
      {"x\x1By", kChinese},                        // ESC inside a string: split mismatch, one by one
      {kCafe, std::string("bad\xC3", 4), kChinese},  // one invalid string: the others still convert
  };
  fmtest::TraceCapture cap;
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(table), FM_FAILURE);
  const std::vector<std::vector<std::string>> expect{
      {to("GBK", kChinese), "a", ""},
      {},
      {"x\x1By", to("GBK", kChinese)},
      {to("GBK", kCafe), std::string("bad\xC3", 4), to("GBK", kChinese)},
  };
  EXPECT_EQ(table, expect);
  EXPECT_TRUE(cap.contains("CT_CKyroSettingOP::ConvertCharSet,4/", TRACE_PROGRESS));
  // In UTF-16BE every character takes two bytes: a joined row split at the
  // byte 0x1B would give pieces of the wrong bytes, so rows go string by string.
  KyroGlobalUtils::setLocalCharset("UTF-16BE");
  fresh({});
  table = {{"ab", kChinese, "c"}};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(table), FM_SUCCESS);
  EXPECT_EQ(table[0], (std::vector<std::string>{to("UTF-16BE", "ab"), to("UTF-16BE", kChinese), to("UTF-16BE", "c")}));
}

TEST_F(KyroSettingOPTest, ConvertNorthCharSetUsesTheExportCodeSet) {
  fresh({{"/kyro/north/export/charset", "gbk"}});
  std::string s = kChinese;
  std::vector<std::vector<std::string>> table{{kChinese, "n"}};
  EXPECT_EQ(CKyroSettingOP::ConvertNorthCharSet(s) + CKyroSettingOP::ConvertNorthCharSet(table), 2 * FM_SUCCESS);
  EXPECT_EQ(s + table[0][0], to("GBK", kChinese) + to("GBK", kChinese));
}

// ---------------------------------------------------------------------------
// The shipped default settings

TEST_F(KyroSettingOPTest, ShippedSettingsFileHoldsEveryKeyWithItsDefault) {
  const std::string shipped = std::string(FM_SOURCE_DIR) + "/etc/kyro_settings.xml";
  const std::string shippedConf = std::string(FM_SOURCE_DIR) + "/etc/alarm_conf.xml";
  fs::copy_file(shipped, m_file, fs::copy_options::overwrite_existing);
  Setting::instance()->setStorePath(m_file);
  ASSERT_FALSE(CKyroSettingOP::knownSettings().empty());
  std::set<std::string> seen;
  for (const auto& k : CKyroSettingOP::knownSettings()) {
    std::string v;
    const std::string where = (k.file.empty() ? "" : k.file + ":") + k.group + "/" + k.name;
    EXPECT_TRUE(seen.insert(where).second) << "declared twice: " << where;
    if (k.file.empty()) {
      ASSERT_EQ(Setting::instance()->getParamValue(k.group + "/" + k.name, v), 0) << where << " missing";
    } else {
      ASSERT_EQ(ConfigAdapter::readValue(std::string(FM_SOURCE_DIR) + "/etc/" + k.file, k.group, k.name, v), 0)
          << where << " missing";
    }
    EXPECT_EQ(v, k.defaultText) << where;
  }

  // Every accessor reads the shipped file successfully and gets its default.
  fs::create_directories(fmtest::kyroRoot() + "/etc");
  fs::copy_file(shippedConf, alarmConfPath(), fs::copy_options::overwrite_existing);
  CKyroSettingOP::destroy();
  CKyroSettingOP& op = *CKyroSettingOP::instance();
  fmtest::TraceCapture cap;
  for (const auto& row : accessorRows()) {
    Result r = row.call(op);
    EXPECT_EQ(r.value, row.cases.front().value) << row.name;
    EXPECT_TRUE(r.code == kNoCode || r.code == FM_SUCCESS) << row.name;
  }
  long cur = 0;
  EXPECT_EQ(op.getCurAlmMaxRecordNum(cur) + op.getCorEngineNum(), FM_SUCCESS + 1);
  for (const auto& m : cap.sink().messages()) {
    EXPECT_TRUE(m.text.find("failed") == std::string::npos && m.text.find("invalid") == std::string::npos &&
                m.text.find("out of range") == std::string::npos) << m.text;
  }
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

TEST(KyroSettingOPConcurrency, FirstCallsOfInstanceBuildOneObjectAndCachesAreSafe) {
  const std::string dir = fmtest::makeTempDir("settingop_conc");
  Setting::instance()->setStorePath(dir + "/kyro_settings.xml");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/north/export/charset", "gbk"), 0);
  for (int round = 0; round < 5; ++round) {
    CKyroSettingOP::destroy();
    std::atomic<int> wrongCharset{0};
    auto got = fmtest::firstCallsFromThreads([&] {
      CKyroSettingOP* op = CKyroSettingOP::instance();
      if (op->getNorthExportCharSet() != "GBK") ++wrongCharset;
      op->getCorEngineNum();
      op->getSendCorAlmToNBFlag();
      op->initIsForceToUseUTF8();
      op->isForceToUseUTF8();
      int t = 0;
      op->getOMCNeType(t);
      std::string s = kChinese;
      CKyroSettingOP::ConvertNorthCharSet(s);
      return static_cast<const void*>(op);
    });
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(wrongCharset.load(), 0);
  }
  CKyroSettingOP::destroy();
  Setting::instance()->setStorePath("");
}

}  // namespace
}  // namespace Kyrofm
