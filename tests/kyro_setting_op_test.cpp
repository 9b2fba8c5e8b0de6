// Tests of CKyroSettingOP: every accessor over absent, malformed, out-of-range
// and boundary values; the caches; the setters and their refused writes; the
// character-set conversions; the shipped default settings file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
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
      {ROW(C, getAlmListExpireTime, V + "AlarmListExpireTime"),
       {{kAbsent, 0, F}, {"abc", 0, F}, {"12abc", 0, F}, {"-5", 0, F}, {"-1", 0, F}, {"0", 0, S}, {"24", 24, S},
        {"168", 168, S}, {"169", 168, S}, {"200", 168, S}}},
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
      {ROW(V, getMaxTemplateNumOnBoard, V + "maxTemplateNumOnBoard"), ranged(10, 10, 50)},
      {ROW(C, getLctSyncSwitch, AC + "LCT_syn_switch"),
       {{kAbsent, 0, S}, {"true", 1, S}, {"1", 0, S}, {"false", 0, S}}},
      {ROW(V, isNeedFilterByNE, "/kyro/vela/EventProcess/NEDeletePolicy/IsNeedFilterByNE"),
       {{kAbsent, 0, N}, {"x", 0, N}, {"0", 0, N}, {"2", 1, N}, {"-1", 1, N}}},
      {ROW(V, getFilterNECycle, "/kyro/vela/EventProcess/NEDeletePolicy/NeFilterCycle"),
       {{kAbsent, 3600, N}, {"x", 3600, N}, {"0", 3600, N}, {"-1", 3600, N}, {"1", 1, N}, {"7200", 7200, N}}},
      {ROW(V, getAlmPersistTimeLen, V + "AlmPersistTimeLen"), ranged(60, 1, 90)},
      {ROW(V, getAlmPersistStyle, V + "AlmPersistSetting"), ranged(0, 0, 3)},
      {ROW(V, getPersistAlmPerFile, V + "PersistAlmNumPerFile"), ranged(5000, 2000, 50000)},
      {ROW(V, getShieldAlmFreqAna, V + "IsShieldAlmFreqAnalyze"),
       {{kAbsent, 0, N}, {"x", 0, N}, {"-1", 0, N}, {"0", 0, N}, {"5", 5, N}}},
      {ROW(V, getEfdThreadNum, V + "AlmEfdThreadNum"), ranged(5, 0, 10)},
      {ROW(C, getLogStatCount, "/kyro/common/manager/taskcontrol/logstatcount"), ranged(2, 1, 10, S, F, F)},
      {ROW(V, getPostExeEnableFlag, "/kyro/vela/postexe/enable"), flagCases()},
      {ROW(V, getPostExeThreadNum, "/kyro/vela/postexe/threadNum"),
       {{kAbsent, 1, N}, {"x", 1, N}, {"-3", 1, N}, {"0", 1, N}, {"1", 1, N}, {"5", 5, N}, {"10", 10, N},
        {"11", 10, N}}},
      {ROW(V, getIsMergerAlmFlag, "/kyro/vela/fm/supportMergerAlarm"),
       {{kAbsent, 1, N}, {"false", 0, N}, {"FALSE", 1, N}, {"0", 1, N}, {"true", 1, N}}},
      {ROW(V, getCorPostProcessFlag, CP + "cor_postprocess_flag"), flagCases()},
      {ROW(V, getCorPostProcessDelayPeriod, CP + "cor_postprocess_delay_period"), ranged(180, 0, 600)},
      {ROW(V, getCorPostProcessNBProcID, CP + "cor_postprocess_NB_procid"), ranged(80, 0, 20000)},
      {ROW(V, getCorPostProcessE2EProcID, CP + "cor_postprocess_E2E_procid"), ranged(102, 0, 20000)},
      {ROW(V, getCorPostProcessMaxBufSize, CP + "cor_postprocess_max_bufsize"), ranged(7000, 0, 20000)},
      {ROW(V, getRaiseCorAlmFlag, V + "raise_corAlm_flag"), flagCases()},
      {ROW(V, getRaiseCorAlmChkInterval, V + "raise_corAlm_chk_interval"), ranged(300, 300, 86400)},
      {ROW(V, getRaiseCorAlmClearPeriod, V + "raise_corAlm_clear_period"), ranged(300, 60, 3600)},
      {ROW(V, getRedefineRuleNum, V + "redefineRuleNum"), ranged(200, 100, 500)},
      {ROW(C, getC1ValueRuleExistTime, V + "C1ValueRuleExistTime"),
       {{kAbsent, 1800, S}, {"x", 1800, S}, {"0", 1800, S}, {"-1", 1800, S}, {"1", 1, S}, {"3600", 3600, S}}},
      {ROW(V, getNBSpecialAlmFlag, "/kyro/vela/specialAlarmStatus/nbenable"), flagCases()},
      {ROW(V, getNBMbtsFilterFlag, V + "mbtsfilter"), ranged(0, 0, 7)},
      {ROW(V, isNeedClearShieldAlm, V + "clearShieldAlm"), flagCases()},
      {ROW(V, isNetPC, V + "netpc"), flagCases()},
      {ROW(V, isSupportRNBigCapacity, V + "isSupportRNBigCapacity"),
       {{kAbsent, 0, N}, {"1", 1, N}, {" 1 ", 1, N}, {"2", 0, N}, {"true", 0, N}, {"0", 0, N}}},
      {ROW(V, isMOAuthentication, V + "isAuthenticationMO"), flagCases()},
      {ROW(V, getShortCommentFlag, V + "shortComment"), flagCases()},
      {ROW(V, supportDynamicDuration, V + "dynamicRefresh"),
       {{kAbsent, 0, N}, {"1", 1, N}, {" 1", 0, N}, {"true", 0, N}, {"0", 0, N}}},
      {ROW_LOG(C, getOMCNeType, "getOMCNetype", "/kyro/vela/omcne/netype"),
       {{kAbsent, 100000, S}, {"x", 100000, S}, {"5", 5, S}}},
      // Threshold and expiry export: 33000 when read, 33002 and the default on a failure.
      {ROW(C, getThresholdExportInterval, V + "threshold ExportInterval"), ranged(100, 30, 300, S, F, S)},
      {ROW(C, getThresholdExportPercent, V + "threshold Percent"), ranged(40, 10, 90, S, F, S)},
      {ROW(C, getThresholdExportIsExport, V + "threshold IsExport"),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 0, S}, {"1", 1, S}, {"7", 1, S}, {"-1", 1, S}}},
      {ROW(C, getThresholdExportIsZip, V + "threshold IsZip"),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 1, S}, {"1", 1, S}, {"2", 2, S}, {"3", 1, S}}},
      {ROW(C, getThresholdExportFileType, V + "threshold FileType"),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"xml", 1, S}, {"2", 1, S}, {"CSV", 1, S}}},
      {ROW(C, getThresholdExportIsRegistTask, V + "threshold IsRegistTask"),
       {{kAbsent, 1, F}, {"0", 0, S}, {"3", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportStartTime, V + "expireAlarmExportTime"), ranged(23, 0, 23, S, F, S)},
      {ROW(C, getAlarmExpireTimeExportIsExport, V + "expireAlarmExport IsExport"),
       {{kAbsent, 1, F}, {"0", 0, S}, {"9", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportIsZip, V + "expireAlarmExport IsZip"),
       {{kAbsent, 1, F}, {"2", 2, S}, {"0", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportFileType, V + "expireAlarmExport FileType"),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"TXT", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportDay, V + "expireAlarmExport Day"),
       {{kAbsent, 90, F}, {"x", 90, F}, {"0", 90, S}, {"-2", 90, S}, {"1", 1, S}, {"400", 400, S}}},
      {ROW(C, getEventExpireTimeExportStartTime, V + "expireEventExportTime"), ranged(23, 0, 23, S, F, S)},
      {ROW(C, getEventExpireTimeExportIsExport, V + "expireEventExport IsExport"),
       {{kAbsent, 1, F}, {"0", 0, S}, {"9", 1, S}}},
      {ROW(C, getEventExpireTimeExportIsZip, V + "expireEventExport IsZip"),
       {{kAbsent, 1, F}, {"2", 2, S}, {"5", 1, S}}},
      // Events use the file type configured for alarms.
      {ROW(C, getEventExpireTimeExportFileType, V + "expireAlarmExport FileType"),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"TXT", 1, S}}},
      {ROW(C, getEventExpireTimeExportDay, V + "expireEventExport Day"),
       {{kAbsent, 90, F}, {"0", 90, S}, {"30", 30, S}}},
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
      EXPECT_EQ(r.value, c.value) << what;
      EXPECT_EQ(r.code, c.code) << what;
      if (!c.text) {
        bool logged = false;
        for (const auto& m : cap.sink().messages()) {
          if (m.text.rfind(std::string("CKyroSettingOP::") + row.logName, 0) == 0 &&
              m.text.find("failed") != std::string::npos && m.level >= TRACE_PROGRESS) {
            logged = true;
          }
        }
        EXPECT_TRUE(logged) << what << ": the fallback is logged";
      }
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
  EXPECT_TRUE(op.getIsSaveDB());
  EXPECT_TRUE(op.getSpecialAlmFlag());
  EXPECT_EQ(op.getFDNSplitter(), ',');
  CFDNSplitter::instance()->setSplitter('/');
  EXPECT_EQ(op.getFDNSplitter(), '/');

  EXPECT_FALSE(op.isGreenChannelsAlm(nullptr));
  struct Row {
    long neType;
    long alarmId;
    bool green;
  } rows[] = {{100000, 33, true},  {100000, 38, true},  {100000, 39, true}, {100000, 34, false},
              {100000, 37, false}, {100001, 33, false}, {0, 38, false}};
  for (const auto& r : rows) {
    AlmRecord_t rec;
    rec.setNEType(r.neType);
    rec.setAlarmId(r.alarmId);
    EXPECT_EQ(op.isGreenChannelsAlm(&rec), r.green) << r.neType << "/" << r.alarmId;
  }
}

// ---------------------------------------------------------------------------
// Group parameters, generic lookups and lists

TEST_F(KyroSettingOPTest, GroupParametersAreLoadedOnceAtStart) {
  CKyroSettingOP& op = fresh({{V + "redefineRuleNum", "300"}, {V + "AlmEfdThreadNum", "3"}});
  std::string text;
  EXPECT_TRUE(op.getVelaSetting("redefineRuleNum", text));
  EXPECT_EQ(text, "300");
  EXPECT_FALSE(op.getVelaSetting("absent", text));
  // A later change reaches path reads at once and group reads only after a restart.
  ASSERT_EQ(Setting::instance()->setParam(V + "redefineRuleNum", "400"), 0);
  ASSERT_EQ(Setting::instance()->setParam(V + "AlmEfdThreadNum", "4"), 0);
  EXPECT_EQ(op.getRedefineRuleNum(), 300);
  EXPECT_EQ(op.getEfdThreadNum(), 4);
  CKyroSettingOP::destroy();
  EXPECT_EQ(CKyroSettingOP::instance()->getRedefineRuleNum(), 400);
}

TEST_F(KyroSettingOPTest, InitSetsNorthboundFlagsAndLanguage) {
  CKyroSettingOP& op = fresh({{"/kyro/vela/specialAlarmStatus/nbenable", "true"}, {V + "corAlmSendToNBFlag", "false"}});
  EXPECT_EQ(op.getLanguage(), "en_US");
  EXPECT_TRUE(g_NBSpecailAlmFlag.load());
  EXPECT_FALSE(g_NBCorAlmFlag.load());
  KyroMsg::instance()->setLanguage("zh_CN");
  std::filesystem::remove(m_file);
  CKyroSettingOP::destroy();
  EXPECT_EQ(CKyroSettingOP::instance()->getLanguage(), "zh_CN");
  EXPECT_FALSE(g_NBSpecailAlmFlag.load());
  EXPECT_TRUE(g_NBCorAlmFlag.load());
}

TEST_F(KyroSettingOPTest, IsPathExistIsFalseOnlyForNoSuchPath) {
  CKyroSettingOP& op = fresh({{"/a/b/c", "1"}});
  EXPECT_TRUE(op.isPathExist("/a/b/c"));
  EXPECT_FALSE(op.isPathExist("/a/b/d"));
  EXPECT_TRUE(op.isPathExist("not/a/path")) << "an answer other than 1005 is not 'absent'";
}

TEST_F(KyroSettingOPTest, GrantSelectUsers) {
  const std::pair<const char*, std::list<std::string>> rows[] = {
      {nullptr, {"AutoCfg"}}, {"", {"AutoCfg"}}, {" alice , ,bob ", {"alice", "bob"}}, {",", {"AutoCfg"}}};
  for (const auto& [text, expect] : rows) {
    KV kv;
    if (text) kv.emplace_back("/kyro/vela/databaseparam/vela_common/grant_select_on_alarm_table_to", text);
    std::list<std::string> users{"existing"};
    fresh(kv).getGrantSelectUsers(users);
    EXPECT_EQ(users.front(), "existing");
    users.pop_front();
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
  long hours = 0;
  EXPECT_EQ(op.getAlmListExpireTime(hours), FM_SUCCESS);
  EXPECT_EQ(hours, 24);
  EXPECT_EQ(op.setLogStatCount(5), FM_SUCCESS);
  EXPECT_EQ(read("/kyro/common/manager/taskcontrol/logstatcount"), "5");
  EXPECT_EQ(op.setLctSyncSwitch(0), FM_SUCCESS);
  EXPECT_EQ(read(AC + "LCT_syn_switch"), "false");
  ASSERT_EQ(op.setLctSyncSwitch(1), FM_SUCCESS);
  EXPECT_EQ(op.setLctSyncSwitch(2), FM_FAILURE);
  EXPECT_EQ(op.setLctSyncSwitch(-1), FM_FAILURE);
  EXPECT_EQ(read(AC + "LCT_syn_switch"), "true") << "an invalid switch writes nothing";
  EXPECT_EQ(op.setSendCorAlmToNBFlag(false), FM_SUCCESS);
  EXPECT_EQ(read(V + "corAlmSendToNBFlag"), "false");

  breakStore();
  EXPECT_EQ(op.setAlmListExpireTime(1), FM_SETTING_REFUSED);
  EXPECT_EQ(op.setLogStatCount(1), FM_FAILURE);
  EXPECT_EQ(op.setLctSyncSwitch(1), FM_SETTING_REFUSED);
  EXPECT_EQ(op.setSendCorAlmToNBFlag(true), FM_SETTING_REFUSED);
}

// ---------------------------------------------------------------------------
// Caches: the first good read is kept; a failed or invalid one is not.

TEST_F(KyroSettingOPTest, SendCorAlmToNBFlagIsCachedAndNotChangedBySetter) {
  CKyroSettingOP& op = fresh({});
  // init already read it: absent, true, not cached.
  EXPECT_TRUE(op.getSendCorAlmToNBFlag());
  ASSERT_EQ(Setting::instance()->setParam(V + "corAlmSendToNBFlag", "false"), 0);
  EXPECT_FALSE(op.getSendCorAlmToNBFlag()) << "a failed read is not cached";
  ASSERT_EQ(Setting::instance()->setParam(V + "corAlmSendToNBFlag", "true"), 0);
  EXPECT_FALSE(op.getSendCorAlmToNBFlag()) << "the good read is cached";
  EXPECT_EQ(op.setSendCorAlmToNBFlag(true), FM_SUCCESS);
  EXPECT_FALSE(op.getSendCorAlmToNBFlag()) << "the setter does not change the cached value";
}

TEST_F(KyroSettingOPTest, CorrelationEngineNumberFromAlarmConfIsCachedOnceValid) {
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.getCorEngineNum(), 1);  // no alarm_conf.xml
  for (const char* bad : {"9", "0"}) {
    writeAlarmConf(bad);
    EXPECT_EQ(op.getCorEngineNum(), 1) << bad << ": out of range, default, not cached";
  }
  writeAlarmConf(" 3 ");
  EXPECT_EQ(op.getCorEngineNum(), 3);
  writeAlarmConf("4");
  EXPECT_EQ(op.getCorEngineNum(), 3);
  CKyroSettingOP::destroy();
  EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), 4);
  CKyroSettingOP::destroy();
  std::ofstream(alarmConfPath()) << "<vela><correlate>";
  EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), 1) << "a malformed file is treated as absent";
}

TEST_F(KyroSettingOPTest, NorthExportCharsetCanonicalAndCached) {
  for (const auto& [text, expect] : {std::pair<const char*, const char*>{" gbk ", "GBK"}, {"iso-8859-1", "ISO-8859-1"},
                                     {"utf-8", "UTF-8"}, {"BIG5", "UTF-8"}, {"", "UTF-8"}}) {
    EXPECT_EQ(fresh({{"/kyro/north/export/charset", text}}).getNorthExportCharSet(), expect) << text;
  }
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.getNorthExportCharSet(), "UTF-8");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/north/export/charset", "gbk"), 0);
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK") << "a failed read is not cached";
  ASSERT_EQ(Setting::instance()->setParam("/kyro/north/export/charset", "ISO-8859-1"), 0);
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK");
}

TEST_F(KyroSettingOPTest, LocationDelimiterAndOMCNeTypeCaches) {
  CKyroSettingOP& op = fresh({});
  const char* const delimiterPath = "/kyro/vela/location/delimiter";
  EXPECT_EQ(op.getLocationDelimiter(), ", ");
  ASSERT_EQ(Setting::instance()->setParam(delimiterPath, "x"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), ", ");
  ASSERT_EQ(Setting::instance()->setParam(delimiterPath, "1"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), " ");
  ASSERT_EQ(Setting::instance()->setParam(delimiterPath, "0"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), " ");
  CKyroSettingOP& op2 = fresh({{delimiterPath, "2"}});
  EXPECT_EQ(op2.getLocationDelimiter(), ", ");

  int t = 0;
  EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
  EXPECT_EQ(t, 100000);
  for (const char* stored : {"5", "6"}) {  // the fallback is not cached, the first good read is
    ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/omcne/netype", stored), 0);
    EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
    EXPECT_EQ(t, 5);
  }
}

// ---------------------------------------------------------------------------
// Character sets

TEST_F(KyroSettingOPTest, LocalCharsetFlagsAndForcedUtf8) {
  for (const auto& [env, local] : {std::pair<const char*, bool>{"1", true}, {"yes", false}, {nullptr, false}}) {
    if (env) {
      ::setenv("FILECONTENT_LOCAL_CHARSET", env, 1);
    } else {
      ::unsetenv("FILECONTENT_LOCAL_CHARSET");
    }
    EXPECT_EQ(fresh({}).IsLocalCharSet(), local) << (env ? env : "unset");
  }
  KyroGlobalUtils::setLocalCharset("GBK");
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.GetLocalCharSet(), "GBK");
  KyroGlobalUtils::setLocalCharset("ISO-8859-1");
  EXPECT_EQ(op.GetLocalCharSet(), "GBK") << "cached";

  struct ForceRow {
    bool global;
    const char* language;
    bool forced;
  } force[] = {{true, "en_US", false}, {false, "en_US", true}, {false, "zh_CN", false}};
  for (const auto& f : force) {
    KyroCommonUtils::setGlobalVersion(f.global);
    KyroMsg::instance()->setLanguage(f.language);
    CKyroSettingOP& o = fresh({});
    EXPECT_EQ(o.IsGlobalVersion(), f.global);
    EXPECT_FALSE(o.isForceToUseUTF8());
    o.initIsForceToUseUTF8();
    EXPECT_EQ(o.isForceToUseUTF8(), f.forced) << f.global << " " << f.language;
  }
}

const std::string kChinese = "\xE5\x91\x8A\xE8\xAD\xA6";  // 告警
const std::string kCafe = "caf\xC3\xA9";

std::string to(const char* cs, const std::string& utf8) {
  std::string out;
  EXPECT_EQ(KyroGlobalUtils::KyroCodeSetConvert("UTF-8", cs, utf8, out), KYRO_CONV_SUCCESS);
  return out;
}

TEST_F(KyroSettingOPTest, ConvertCharSetOnlyInTheGlobalEditionAndForAnotherTarget) {
  KyroGlobalUtils::setLocalCharset("GBK");
  fresh({});
  std::string s = kChinese;
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(s), FM_SUCCESS);
  EXPECT_EQ(s, to("GBK", kChinese));

  std::vector<std::string> list{kChinese, "plain", ""};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(list), FM_SUCCESS);
  EXPECT_EQ(list, (std::vector<std::string>{to("GBK", kChinese), "plain", ""}));

  // Local edition: texts are already in the local code set.
  KyroCommonUtils::setGlobalVersion(false);
  fresh({});
  s = kChinese;
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(s), FM_SUCCESS);
  EXPECT_EQ(s, kChinese);
  KyroCommonUtils::setGlobalVersion(true);

  // Target UTF-8: nothing to do, even for invalid bytes.
  KyroGlobalUtils::setLocalCharset("utf8");
  fresh({});
  s = std::string("\xC3\x28", 2);
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(s), FM_SUCCESS);
  EXPECT_EQ(s, std::string("\xC3\x28", 2));
}

TEST_F(KyroSettingOPTest, ConvertCharSetFailuresLeaveTheText) {
  KyroGlobalUtils::setLocalCharset("ISO-8859-1");
  fresh({});
  fmtest::TraceCapture quiet;
  std::list<std::string> list{kCafe, kChinese, std::string("x\xC3", 2)};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(list), FM_FAILURE);
  EXPECT_EQ(list, (std::list<std::string>{to("ISO-8859-1", kCafe), kChinese, std::string("x\xC3", 2)}));
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

  std::list<std::list<std::string>> ltable{{kChinese, kCafe}};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(ltable), FM_SUCCESS);
  EXPECT_EQ(ltable.front(), (std::list<std::string>{to("GBK", kChinese), to("GBK", kCafe)}));
}

TEST_F(KyroSettingOPTest, ConvertTableIntoACodeSetWhereEscIsNotOneByte) {
  // In UTF-16BE every character takes two bytes: a joined row split at the
  // byte 0x1B would give pieces of the wrong bytes, so rows go string by string.
  KyroGlobalUtils::setLocalCharset("UTF-16BE");
  fresh({});
  std::vector<std::vector<std::string>> table{{"ab", kChinese, "c"}};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(table), FM_SUCCESS);
  EXPECT_EQ(table[0], (std::vector<std::string>{to("UTF-16BE", "ab"), to("UTF-16BE", kChinese), to("UTF-16BE", "c")}));
}

TEST_F(KyroSettingOPTest, ConvertNorthCharSetUsesTheExportCodeSet) {
  fresh({{"/kyro/north/export/charset", "gbk"}});
  std::string s = kChinese;
  EXPECT_EQ(CKyroSettingOP::ConvertNorthCharSet(s), FM_SUCCESS);
  EXPECT_EQ(s, to("GBK", kChinese));
  std::vector<std::vector<std::string>> table{{kChinese, "n"}};
  EXPECT_EQ(CKyroSettingOP::ConvertNorthCharSet(table), FM_SUCCESS);
  EXPECT_EQ(table[0][0], to("GBK", kChinese));

  fresh({});  // export code set UTF-8: nothing converted
  s = kChinese;
  EXPECT_EQ(CKyroSettingOP::ConvertNorthCharSet(s), FM_SUCCESS);
  EXPECT_EQ(s, kChinese);
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
    long absentValue = row.cases.front().value;
    ASSERT_FALSE(row.cases.front().text.has_value());
    Result r = row.call(op);
    EXPECT_EQ(r.value, absentValue) << row.name;
    if (r.code != kNoCode) {
      EXPECT_EQ(r.code, FM_SUCCESS) << row.name;
    }
  }
  long cur = 0;
  op.getCurAlmMaxRecordNum(cur);
  EXPECT_EQ(cur, 50000);
  EXPECT_EQ(op.getCorEngineNum(), 1);
  EXPECT_EQ(op.getNorthExportCharSet(), "UTF-8");
  EXPECT_EQ(op.getLocationDelimiter(), ", ");
  EXPECT_TRUE(op.getSendCorAlmToNBFlag());
  std::list<std::string> users;
  op.getGrantSelectUsers(users);
  EXPECT_EQ(users, std::list<std::string>{"AutoCfg"});
  for (const auto& m : cap.sink().messages()) {
    EXPECT_EQ(m.text.find("failed"), std::string::npos) << m.text;
    EXPECT_EQ(m.text.find("invalid"), std::string::npos) << m.text;
    EXPECT_EQ(m.text.find("out of range"), std::string::npos) << m.text;
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
