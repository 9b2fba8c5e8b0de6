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
std::function<Result(CKyroSettingOP&)> codeCall(int (CKyroSettingOP::*fn)(T&)) {
  return [fn](CKyroSettingOP& op) {
    T v{};
    long code = (op.*fn)(v);
    return Result{static_cast<long>(v), code};
  };
}

template <typename R>
std::function<Result(CKyroSettingOP&)> valueCall(R (CKyroSettingOP::*fn)()) {
  return [fn](CKyroSettingOP& op) { return Result{static_cast<long>((op.*fn)()), kNoCode}; };
}

const std::string V = "/kyro/vela/";
const std::string AC = "/kyro/vela/alarm_configure/";
const std::string CP = "/kyro/vela/cor_postprocess/";

// Cases of a flag read as the exact text "true".
std::vector<Case> flagCases(long code = kNoCode, long absentCode = kNoCode) {
  return {{kAbsent, 0, absentCode}, {"true", 1, code}, {"TRUE", 0, code}, {"1", 0, code}, {"false", 0, code}};
}

std::vector<AccessorRow> accessorRows() {
  auto ranged = [](long def, long lo, long hi, long okCode = kNoCode, long badCode = kNoCode,
                   long outCode = kNoCode) {
    auto keep = [](long v) { return std::to_string(v); };
    return std::vector<Case>{{kAbsent, def, badCode},   {"abc", def, badCode},       {"12abc", def, badCode},
                             {keep(lo - 1), def, outCode}, {keep(lo), lo, okCode},    {keep(hi), hi, okCode},
                             {keep(hi + 1), def, outCode}};
  };
  const long S = FM_SUCCESS, F = FM_FAILURE;
  std::vector<AccessorRow> rows = {
      {"getAlmListExpireTime", "getAlmListExpireTime", V + "AlarmListExpireTime",
       codeCall(&CKyroSettingOP::getAlmListExpireTime),
       {{kAbsent, 0, F}, {"abc", 0, F}, {"12abc", 0, F}, {"-5", 0, F}, {"-1", 0, F}, {"0", 0, S}, {"24", 24, S},
        {"168", 168, S}, {"169", 168, S}, {"200", 168, S}}},
      {"getLogTableMaxRecordNum", "getLogTableMaxRecordNum", V + "logTableCount",
       codeCall(&CKyroSettingOP::getLogTableMaxRecordNum), ranged(500000, 200000, 2000000, S, S, S)},
      {"getClrBufSize", "getClrBufSize", AC + "clear_alm_buf_size", codeCall(&CKyroSettingOP::getClrBufSize),
       {{kAbsent, 500, F}, {"abc", 500, F}, {"12abc", 500, F}, {"0", 0, S}, {"-3", -3, S}, {"800", 800, S}}},
      {"getClrBufChkInter", "getClrBufChkInter", AC + "clear_alm_buf_chk_period",
       codeCall(&CKyroSettingOP::getClrBufChkInter), {{kAbsent, 60, F}, {"x", 60, F}, {"5", 5, S}}},
      {"getClrBufLiveTime", "getClrBufLiveTime", AC + "clear_alm_buf_lifetime",
       codeCall(&CKyroSettingOP::getClrBufLiveTime), {{kAbsent, 60, F}, {"x", 60, F}, {"7", 7, S}}},
      {"getClearAlmSynFlag", "getClearAlmSynFlag", AC + "clear_alm_syn_flag",
       codeCall(&CKyroSettingOP::getClearAlmSynFlag), flagCases(S, F)},
      {"getAlarmOverFlowUpLimit", "getAlarmOverFlowUpLimit", V + "AlarmOverFlowUpLimit",
       codeCall(&CKyroSettingOP::getAlarmOverFlowUpLimit), ranged(2000000, 2000000, 30000000, S, S, S)},
      {"getEventOverFlowUpLimit", "getEventOverFlowUpLimit", V + "EventOverFlowUpLimit",
       codeCall(&CKyroSettingOP::getEventOverFlowUpLimit), ranged(1200000, 1200000, 30000000, S, S, S)},
      {"getOverflowAutoAckLogCount", "getOverflowAutoAckLogCount", V + "overflowAutoAckLogCount",
       codeCall(&CKyroSettingOP::getOverflowAutoAckLogCount), ranged(100000, 20000, 300000, S, F, F)},
      {"enableAlmListLockFunc", "enableAlmListLockFunc", V + "enableAlmListLock",
       valueCall(&CKyroSettingOP::enableAlmListLockFunc), flagCases()},
      {"getMaxTemplateNumOnBoard", "getMaxTemplateNumOnBoard", V + "maxTemplateNumOnBoard",
       valueCall(&CKyroSettingOP::getMaxTemplateNumOnBoard), ranged(10, 10, 50)},
      {"getLctSyncSwitch", "getLctSyncSwitch", AC + "LCT_syn_switch", codeCall(&CKyroSettingOP::getLctSyncSwitch),
       {{kAbsent, 0, S}, {"true", 1, S}, {"1", 0, S}, {"false", 0, S}}},
      {"isNeedFilterByNE", "isNeedFilterByNE", "/kyro/vela/EventProcess/NEDeletePolicy/IsNeedFilterByNE",
       valueCall(&CKyroSettingOP::isNeedFilterByNE),
       {{kAbsent, 0, kNoCode}, {"x", 0, kNoCode}, {"0", 0, kNoCode}, {"2", 1, kNoCode}, {"-1", 1, kNoCode}}},
      {"getFilterNECycle", "getFilterNECycle", "/kyro/vela/EventProcess/NEDeletePolicy/NeFilterCycle",
       valueCall(&CKyroSettingOP::getFilterNECycle),
       {{kAbsent, 3600, kNoCode}, {"x", 3600, kNoCode}, {"0", 3600, kNoCode}, {"-1", 3600, kNoCode},
        {"1", 1, kNoCode}, {"7200", 7200, kNoCode}}},
      {"getAlmPersistTimeLen", "getAlmPersistTimeLen", V + "AlmPersistTimeLen",
       valueCall(&CKyroSettingOP::getAlmPersistTimeLen), ranged(60, 1, 90)},
      {"getAlmPersistStyle", "getAlmPersistStyle", V + "AlmPersistSetting",
       valueCall(&CKyroSettingOP::getAlmPersistStyle), ranged(0, 0, 3)},
      {"getPersistAlmPerFile", "getPersistAlmPerFile", V + "PersistAlmNumPerFile",
       valueCall(&CKyroSettingOP::getPersistAlmPerFile), ranged(5000, 2000, 50000)},
      {"getShieldAlmFreqAna", "getShieldAlmFreqAna", V + "IsShieldAlmFreqAnalyze",
       valueCall(&CKyroSettingOP::getShieldAlmFreqAna),
       {{kAbsent, 0, kNoCode}, {"x", 0, kNoCode}, {"-1", 0, kNoCode}, {"0", 0, kNoCode}, {"5", 5, kNoCode}}},
      {"getEfdThreadNum", "getEfdThreadNum", V + "AlmEfdThreadNum", valueCall(&CKyroSettingOP::getEfdThreadNum),
       ranged(5, 0, 10)},
      {"getLogStatCount", "getLogStatCount", "/kyro/common/manager/taskcontrol/logstatcount",
       codeCall(&CKyroSettingOP::getLogStatCount), ranged(2, 1, 10, S, F, F)},
      {"getPostExeEnableFlag", "getPostExeEnableFlag", "/kyro/vela/postexe/enable",
       valueCall(&CKyroSettingOP::getPostExeEnableFlag), flagCases()},
      {"getPostExeThreadNum", "getPostExeThreadNum", "/kyro/vela/postexe/threadNum",
       valueCall(&CKyroSettingOP::getPostExeThreadNum),
       {{kAbsent, 1, kNoCode}, {"x", 1, kNoCode}, {"-3", 1, kNoCode}, {"0", 1, kNoCode}, {"1", 1, kNoCode},
        {"5", 5, kNoCode}, {"10", 10, kNoCode}, {"11", 10, kNoCode}}},
      {"getIsMergerAlmFlag", "getIsMergerAlmFlag", "/kyro/vela/fm/supportMergerAlarm",
       valueCall(&CKyroSettingOP::getIsMergerAlmFlag),
       {{kAbsent, 1, kNoCode}, {"false", 0, kNoCode}, {"FALSE", 1, kNoCode}, {"0", 1, kNoCode}, {"true", 1, kNoCode}}},
      {"getCorPostProcessFlag", "getCorPostProcessFlag", CP + "cor_postprocess_flag",
       valueCall(&CKyroSettingOP::getCorPostProcessFlag), flagCases()},
      {"getCorPostProcessDelayPeriod", "getCorPostProcessDelayPeriod", CP + "cor_postprocess_delay_period",
       valueCall(&CKyroSettingOP::getCorPostProcessDelayPeriod), ranged(180, 0, 600)},
      {"getCorPostProcessNBProcID", "getCorPostProcessNBProcID", CP + "cor_postprocess_NB_procid",
       valueCall(&CKyroSettingOP::getCorPostProcessNBProcID), ranged(80, 0, 20000)},
      {"getCorPostProcessE2EProcID", "getCorPostProcessE2EProcID", CP + "cor_postprocess_E2E_procid",
       valueCall(&CKyroSettingOP::getCorPostProcessE2EProcID), ranged(102, 0, 20000)},
      {"getCorPostProcessMaxBufSize", "getCorPostProcessMaxBufSize", CP + "cor_postprocess_max_bufsize",
       valueCall(&CKyroSettingOP::getCorPostProcessMaxBufSize), ranged(7000, 0, 20000)},
      {"getRaiseCorAlmFlag", "getRaiseCorAlmFlag", V + "raise_corAlm_flag",
       valueCall(&CKyroSettingOP::getRaiseCorAlmFlag), flagCases()},
      {"getRaiseCorAlmChkInterval", "getRaiseCorAlmChkInterval", V + "raise_corAlm_chk_interval",
       valueCall(&CKyroSettingOP::getRaiseCorAlmChkInterval), ranged(300, 300, 86400)},
      {"getRaiseCorAlmClearPeriod", "getRaiseCorAlmClearPeriod", V + "raise_corAlm_clear_period",
       valueCall(&CKyroSettingOP::getRaiseCorAlmClearPeriod), ranged(300, 60, 3600)},
      {"getRedefineRuleNum", "getRedefineRuleNum", V + "redefineRuleNum",
       valueCall(&CKyroSettingOP::getRedefineRuleNum), ranged(200, 100, 500)},
      {"getC1ValueRuleExistTime", "getC1ValueRuleExistTime", V + "C1ValueRuleExistTime",
       codeCall(&CKyroSettingOP::getC1ValueRuleExistTime),
       {{kAbsent, 1800, S}, {"x", 1800, S}, {"0", 1800, S}, {"-1", 1800, S}, {"1", 1, S}, {"3600", 3600, S}}},
      {"getNBSpecialAlmFlag", "getNBSpecialAlmFlag", "/kyro/vela/specialAlarmStatus/nbenable",
       valueCall(&CKyroSettingOP::getNBSpecialAlmFlag), flagCases()},
      {"getNBMbtsFilterFlag", "getNBMbtsFilterFlag", V + "mbtsfilter", valueCall(&CKyroSettingOP::getNBMbtsFilterFlag),
       ranged(0, 0, 7)},
      {"isNeedClearShieldAlm", "isNeedClearShieldAlm", V + "clearShieldAlm",
       valueCall(&CKyroSettingOP::isNeedClearShieldAlm), flagCases()},
      {"isNetPC", "isNetPC", V + "netpc", valueCall(&CKyroSettingOP::isNetPC), flagCases()},
      {"isSupportRNBigCapacity", "isSupportRNBigCapacity", V + "isSupportRNBigCapacity",
       valueCall(&CKyroSettingOP::isSupportRNBigCapacity),
       {{kAbsent, 0, kNoCode}, {"1", 1, kNoCode}, {" 1 ", 1, kNoCode}, {"2", 0, kNoCode}, {"true", 0, kNoCode},
        {"0", 0, kNoCode}}},
      {"isMOAuthentication", "isMOAuthentication", V + "isAuthenticationMO",
       valueCall(&CKyroSettingOP::isMOAuthentication), flagCases()},
      {"getShortCommentFlag", "getShortCommentFlag", V + "shortComment",
       valueCall(&CKyroSettingOP::getShortCommentFlag), flagCases()},
      {"supportDynamicDuration", "supportDynamicDuration", V + "dynamicRefresh",
       valueCall(&CKyroSettingOP::supportDynamicDuration),
       {{kAbsent, 0, kNoCode}, {"1", 1, kNoCode}, {" 1", 0, kNoCode}, {"true", 0, kNoCode}, {"0", 0, kNoCode}}},
      {"getOMCNeType", "getOMCNetype", "/kyro/vela/omcne/netype", codeCall(&CKyroSettingOP::getOMCNeType),
       {{kAbsent, 100000, S}, {"x", 100000, S}, {"5", 5, S}}},
      // Threshold and expiry export: 33000 when read, 33002 and the default on a failure.
      {"getThresholdExportInterval", "getThresholdExportInterval", V + "threshold ExportInterval",
       codeCall(&CKyroSettingOP::getThresholdExportInterval), ranged(100, 30, 300, S, F, S)},
      {"getThresholdExportPercent", "getThresholdExportPercent", V + "threshold Percent",
       codeCall(&CKyroSettingOP::getThresholdExportPercent), ranged(40, 10, 90, S, F, S)},
      {"getThresholdExportIsExport", "getThresholdExportIsExport", V + "threshold IsExport",
       codeCall(&CKyroSettingOP::getThresholdExportIsExport),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 0, S}, {"1", 1, S}, {"7", 1, S}, {"-1", 1, S}}},
      {"getThresholdExportIsZip", "getThresholdExportIsZip", V + "threshold IsZip",
       codeCall(&CKyroSettingOP::getThresholdExportIsZip),
       {{kAbsent, 1, F}, {"x", 1, F}, {"0", 1, S}, {"1", 1, S}, {"2", 2, S}, {"3", 1, S}}},
      {"getThresholdExportFileType", "getThresholdExportFileType", V + "threshold FileType",
       codeCall(&CKyroSettingOP::getThresholdExportFileType),
       {{kAbsent, 1, F}, {"XML", 2, S}, {"xml", 1, S}, {"2", 1, S}, {"CSV", 1, S}}},
      {"getThresholdExportIsRegistTask", "getThresholdExportIsRegistTask", V + "threshold IsRegistTask",
       codeCall(&CKyroSettingOP::getThresholdExportIsRegistTask), {{kAbsent, 1, F}, {"0", 0, S}, {"3", 1, S}}},
      {"getAlarmExpireTimeExportStartTime", "getAlarmExpireTimeExportStartTime", V + "expireAlarmExportTime",
       codeCall(&CKyroSettingOP::getAlarmExpireTimeExportStartTime), ranged(23, 0, 23, S, F, S)},
      {"getAlarmExpireTimeExportIsExport", "getAlarmExpireTimeExportIsExport", V + "expireAlarmExport IsExport",
       codeCall(&CKyroSettingOP::getAlarmExpireTimeExportIsExport), {{kAbsent, 1, F}, {"0", 0, S}, {"9", 1, S}}},
      {"getAlarmExpireTimeExportIsZip", "getAlarmExpireTimeExportIsZip", V + "expireAlarmExport IsZip",
       codeCall(&CKyroSettingOP::getAlarmExpireTimeExportIsZip), {{kAbsent, 1, F}, {"2", 2, S}, {"0", 1, S}}},
      {"getAlarmExpireTimeExportFileType", "getAlarmExpireTimeExportFileType", V + "expireAlarmExport FileType",
       codeCall(&CKyroSettingOP::getAlarmExpireTimeExportFileType), {{kAbsent, 1, F}, {"XML", 2, S}, {"TXT", 1, S}}},
      {"getAlarmExpireTimeExportDay", "getAlarmExpireTimeExportDay", V + "expireAlarmExport Day",
       codeCall(&CKyroSettingOP::getAlarmExpireTimeExportDay),
       {{kAbsent, 90, F}, {"x", 90, F}, {"0", 90, S}, {"-2", 90, S}, {"1", 1, S}, {"400", 400, S}}},
      {"getEventExpireTimeExportStartTime", "getEventExpireTimeExportStartTime", V + "expireEventExportTime",
       codeCall(&CKyroSettingOP::getEventExpireTimeExportStartTime), ranged(23, 0, 23, S, F, S)},
      {"getEventExpireTimeExportIsExport", "getEventExpireTimeExportIsExport", V + "expireEventExport IsExport",
       codeCall(&CKyroSettingOP::getEventExpireTimeExportIsExport), {{kAbsent, 1, F}, {"0", 0, S}, {"9", 1, S}}},
      {"getEventExpireTimeExportIsZip", "getEventExpireTimeExportIsZip", V + "expireEventExport IsZip",
       codeCall(&CKyroSettingOP::getEventExpireTimeExportIsZip), {{kAbsent, 1, F}, {"2", 2, S}, {"5", 1, S}}},
      // Events use the file type configured for alarms.
      {"getEventExpireTimeExportFileType", "getEventExpireTimeExportFileType", V + "expireAlarmExport FileType",
       codeCall(&CKyroSettingOP::getEventExpireTimeExportFileType), {{kAbsent, 1, F}, {"XML", 2, S}, {"TXT", 1, S}}},
      {"getEventExpireTimeExportDay", "getEventExpireTimeExportDay", V + "expireEventExport Day",
       codeCall(&CKyroSettingOP::getEventExpireTimeExportDay), {{kAbsent, 90, F}, {"0", 90, S}, {"30", 30, S}}},
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

TEST_F(KyroSettingOPTest, FailureAndRangeMessagesAreTheDocumentedOnes) {
  {
    CKyroSettingOP& op = fresh({});
    fmtest::TraceCapture cap;
    long v = 0;
    op.getClrBufSize(v);
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getClrBufSize  failed! use default value 500.", TRACE_ERROR));
    op.getFilterNECycle();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getFilterNECycle, getParamValue failed,Use the defalt value 1 hour !",
                             TRACE_PROGRESS));
    op.isNeedFilterByNE();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::isNeedFilterByNE, getParamValue failed siRet:1005 !", TRACE_ERROR));
    int t = 0;
    op.getOMCNeType(t);
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getOMCNetype, getParamValue failed !", TRACE_ERROR));
    op.getThresholdExportPercent(v);
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getThresholdExportPercent, getParamValue failed !", TRACE_ERROR));
    op.getShortCommentFlag();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getShortCommentFlag, getParamValue failed", TRACE_ERROR));
    op.isSupportRNBigCapacity();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::isSupportRNBigCapacity, SupportRNBigCapacity is disabled"));
  }
  {
    CKyroSettingOP& op = fresh({{V + "logTableCount", "100"},
                                {CP + "cor_postprocess_delay_period", "601"},
                                {V + "AlmPersistTimeLen", "91"},
                                {V + "mbtsfilter", "5"},
                                {V + "isSupportRNBigCapacity", "1"},
                                {"/kyro/vela/fm/supportMergerAlarm", "false"}});
    fmtest::TraceCapture cap;
    long v = 0;
    op.getLogTableMaxRecordNum(v);
    EXPECT_TRUE(cap.contains(
        "CKyroSettingOP::getLogTableMaxRecordNum, config value 100 out of range! use default value:500000"));
    op.getCorPostProcessDelayPeriod();
    EXPECT_TRUE(cap.contains(
        "CKyroSettingOP::getCorPostProcessDelayPeriod, config value 601 out of range! use default value:180"));
    op.getAlmPersistTimeLen();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getAlmPersistTimeLen, the value is invalid, use deafult!"));
    op.getNBMbtsFilterFlag();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getNBMbtsAlmFlag, bNBMbtsAlmFlag: [5]"));
    op.isSupportRNBigCapacity();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::isSupportRNBigCapacity, SupportRNBigCapacity is enabled"));
    op.getIsMergerAlmFlag();
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getIsMergerAlmFlag, settingvalue:false,bMergerAlmFlag:0!"));
  }
}

TEST_F(KyroSettingOPTest, CurrentAlarmBufferSizeFromItsKeyOrDerivedFromTheListSize) {
  struct Row {
    const char* cur;
    const char* list;
    long expect;
    const char* message;
  } rows[] = {
      {nullptr, "40000", 100000, nullptr},
      {nullptr, "10000", 50000, nullptr},
      {nullptr, "30000", 50000, nullptr},   // 50000 exactly stays
      {nullptr, "30001", 100000, nullptr},
      {nullptr, "80000", 100000, nullptr},  // 100000 exactly stays
      {nullptr, "80001", 100001, nullptr},
      {nullptr, "200000", 220000, nullptr},
      {nullptr, "280000", 300000, nullptr},
      {nullptr, "290000", 300000, nullptr},
      {nullptr, "99999999999", 300000, nullptr},
      {nullptr, nullptr, 50000, "CKyroSettingOP::getCurAlmMaxRecordNum, alm list max num use default value:20000"},
      {nullptr, "abc", 50000, "alm list max num use default value:20000"},
      {"49999", "200000", 50000,
       "CKyroSettingOP::getCurAlmMaxRecordNum, config value 49999 out of range! use default value:50000"},
      {"50000", nullptr, 50000, nullptr},
      {"300000", nullptr, 300000, nullptr},
      {"300001", nullptr, 50000, "config value 300001 out of range! use default value:50000"},
      {"12abc", "200000", 50000, "out of range! use default value:50000"},
  };
  for (const auto& r : rows) {
    KV kv;
    if (r.cur) kv.emplace_back(V + "curAlmMaxCount", r.cur);
    if (r.list) kv.emplace_back(V + "alarmListMaxCount", r.list);
    CKyroSettingOP& op = fresh(kv);
    fmtest::TraceCapture cap;
    long v = 0;
    EXPECT_EQ(op.getCurAlmMaxRecordNum(v), FM_SUCCESS);
    EXPECT_EQ(v, r.expect) << (r.cur ? r.cur : "-") << "/" << (r.list ? r.list : "-");
    if (r.message) {
      EXPECT_TRUE(cap.contains(r.message)) << r.message;
    }
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getCurAlmMaxRecordNum, curAlmMaxNum [" + std::to_string(r.expect) + "]"));
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

TEST_F(KyroSettingOPTest, InitSetsNorthboundFlagsAndLogsThem) {
  {
    fmtest::TraceCapture cap;
    CKyroSettingOP& op = fresh({{"/kyro/vela/specialAlarmStatus/nbenable", "true"}, {V + "corAlmSendToNBFlag", "false"}});
    EXPECT_EQ(op.getLanguage(), "en_US");
    EXPECT_TRUE(g_NBSpecailAlmFlag.load());
    EXPECT_FALSE(g_NBCorAlmFlag.load());
    EXPECT_TRUE(cap.contains("CKyroSettingOP::init, g_NBSpecailAlmFlag:1, g_NBCorAlmFlag:0,m_strLanguage:en_US"));
  }
  {
    KyroMsg::instance()->setLanguage("zh_CN");
    fmtest::TraceCapture cap;
    std::filesystem::remove(m_file);
    CKyroSettingOP::destroy();
    CKyroSettingOP& op = *CKyroSettingOP::instance();
    EXPECT_FALSE(g_NBSpecailAlmFlag.load());
    EXPECT_TRUE(g_NBCorAlmFlag.load());
    EXPECT_EQ(op.getLanguage(), "zh_CN");
    EXPECT_TRUE(cap.contains("CKyroSettingOP::init, get group params failed!", TRACE_PROGRESS));
  }
}

TEST_F(KyroSettingOPTest, IsPathExistIsFalseOnlyForNoSuchPath) {
  CKyroSettingOP& op = fresh({{"/a/b/c", "1"}});
  fmtest::TraceCapture cap;
  EXPECT_TRUE(op.isPathExist("/a/b/c"));
  EXPECT_FALSE(op.isPathExist("/a/b/d"));
  EXPECT_TRUE(cap.contains("CKyroSettingOP::isPathExist, return:1005, /a/b/d"));
  EXPECT_TRUE(op.isPathExist("not/a/path")) << "an answer other than 1005 is not 'absent'";
}

TEST_F(KyroSettingOPTest, GrantSelectUsers) {
  struct Row {
    const char* text;
    std::vector<std::string> users;
  } rows[] = {
      {nullptr, {"AutoCfg"}},        {"", {"AutoCfg"}},           {"alice,bob", {"alice", "bob"}},
      {" alice , ,bob ", {"alice", "bob"}}, {",", {"AutoCfg"}},   {"one", {"one"}},
  };
  for (const auto& r : rows) {
    KV kv;
    if (r.text) kv.emplace_back("/kyro/vela/databaseparam/vela_common/grant_select_on_alarm_table_to", r.text);
    CKyroSettingOP& op = fresh(kv);
    fmtest::TraceCapture cap;
    std::list<std::string> users{"existing"};
    op.getGrantSelectUsers(users);
    std::vector<std::string> got(std::next(users.begin()), users.end());
    EXPECT_EQ(got, r.users) << (r.text ? r.text : "absent");
    EXPECT_EQ(users.front(), "existing");
    EXPECT_TRUE(cap.contains("user name count is " + std::to_string(r.users.size())));
  }
}

TEST_F(KyroSettingOPTest, NESynchronisationAttributes) {
  CKyroSettingOP& op = fresh({});
  {
    fmtest::TraceCapture cap;
    std::list<FMNameValue_t> got{{"keep", "x"}};
    EXPECT_EQ(op.getNESynAttr(got), FM_SUCCESS);
    std::list<FMNameValue_t> expect{{"keep", "x"}, {"ne_startsvc_syn", "0"}, {"ne_recover_syn", "0"},
                                    {"LCT_user_logout_syn", "0"}};
    EXPECT_EQ(got, expect);
    EXPECT_TRUE(cap.contains("CKyroSettingOP::getNESynAttr getgroups :/kyro/vela/alarm_configure params  fail:1005 !"));
  }
  EXPECT_EQ(op.setNESynAttr({}), FM_SUCCESS);
  EXPECT_EQ(op.setNESynAttr({{"ne_startsvc_syn", "1"}, {"ne_recover_syn", "2"}, {"LCT_user_logout_syn", "1"}}),
            FM_SUCCESS);
  {
    std::list<FMNameValue_t> got;
    op.getNESynAttr(got);
    std::list<FMNameValue_t> expect{{"ne_startsvc_syn", "1"}, {"ne_recover_syn", "0"}, {"LCT_user_logout_syn", "1"}};
    EXPECT_EQ(got, expect) << "only the text 1 counts as on";
  }
  {
    fmtest::TraceCapture cap;
    EXPECT_EQ(op.setNESynAttr({{"ne_startsvc_syn", "0"}, {"LCT_user_logout_syn", "2"}, {"ne_recover_syn", "1"}}),
              FM_FAILURE);
    EXPECT_TRUE(cap.contains(
        "CKyroSettingOP::setNESynAttr, setParam failed ! Invalid param! LCT_user_logout_syn: 2", TRACE_ERROR));
    EXPECT_EQ(read(AC + "ne_startsvc_syn"), "0") << "pairs before the failure are written";
    EXPECT_EQ(read(AC + "ne_recover_syn"), "2") << "pairs after the failure are not";
    EXPECT_EQ(read(AC + "LCT_user_logout_syn"), "1");
  }
  {
    fmtest::TraceCapture cap;
    EXPECT_EQ(op.setNESynAttr({{"bogus", "1"}}), FM_SETTING_REFUSED);
    EXPECT_TRUE(cap.contains("CKyroSettingOP::setNESynAttr path is error, path:/kyro/vela/alarm_configure/bogus"));
    EXPECT_EQ(read(AC + "bogus"), "<absent>");
  }
  breakStore();
  fmtest::TraceCapture cap;
  EXPECT_EQ(op.setNESynAttr({{"ne_recover_syn", "1"}}), FM_SETTING_REFUSED);
  EXPECT_TRUE(cap.contains("CKyroSettingOP::setNESynAttr, setParam failed !"));
}

// ---------------------------------------------------------------------------
// Setters

TEST_F(KyroSettingOPTest, SettersWriteTheirKeysAndReportRefusedWrites) {
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.setAlmListExpireTime(24), FM_SUCCESS);
  EXPECT_EQ(read(V + "AlarmListExpireTime"), "24");
  long hours = 0;
  EXPECT_EQ(op.getAlmListExpireTime(hours), FM_SUCCESS);
  EXPECT_EQ(hours, 24);

  EXPECT_EQ(op.setLogStatCount(5), FM_SUCCESS);
  EXPECT_EQ(read("/kyro/common/manager/taskcontrol/logstatcount"), "5");

  EXPECT_EQ(op.setLctSyncSwitch(1), FM_SUCCESS);
  EXPECT_EQ(read(AC + "LCT_syn_switch"), "true");
  EXPECT_EQ(op.setLctSyncSwitch(0), FM_SUCCESS);
  EXPECT_EQ(read(AC + "LCT_syn_switch"), "false");
  {
    fmtest::TraceCapture cap;
    ASSERT_EQ(op.setLctSyncSwitch(1), FM_SUCCESS);
    EXPECT_EQ(op.setLctSyncSwitch(2), FM_FAILURE);
    EXPECT_EQ(op.setLctSyncSwitch(-1), FM_FAILURE);
    EXPECT_EQ(read(AC + "LCT_syn_switch"), "true") << "an invalid switch writes nothing";
    EXPECT_TRUE(cap.contains("CKyroSettingOP::setLctSyncSwitch, setParam failed ! Invalid param!", TRACE_ERROR));
  }
  EXPECT_EQ(op.setSendCorAlmToNBFlag(false), FM_SUCCESS);
  EXPECT_EQ(read(V + "corAlmSendToNBFlag"), "false");

  breakStore();
  struct Row {
    const char* name;
    std::function<int()> call;
    int code;
    const char* message;
  } rows[] = {
      {"setAlmListExpireTime", [&] { return op.setAlmListExpireTime(1); }, FM_SETTING_REFUSED,
       "CKyroSettingOP::setAlmListExpireTime, setParam failed !"},
      {"setLogStatCount", [&] { return op.setLogStatCount(1); }, FM_FAILURE,
       "CKyroSettingOP::setLogStatCount, setParam failed !"},
      {"setLctSyncSwitch", [&] { return op.setLctSyncSwitch(1); }, FM_SETTING_REFUSED,
       "CKyroSettingOP::setLctSyncSwitch, setParam failed !"},
      {"setSendCorAlmToNBFlag", [&] { return op.setSendCorAlmToNBFlag(true); }, FM_SETTING_REFUSED,
       "CKyroSettingOP::setSendCorAlmToNBFlag, setParam failed !"},
  };
  for (const auto& r : rows) {
    fmtest::TraceCapture cap;
    EXPECT_EQ(r.call(), r.code) << r.name;
    EXPECT_TRUE(cap.contains(r.message, TRACE_ERROR)) << r.name;
  }
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
  writeAlarmConf("9");
  EXPECT_EQ(op.getCorEngineNum(), 1);  // out of range: default, not cached
  writeAlarmConf("0");
  EXPECT_EQ(op.getCorEngineNum(), 1);
  writeAlarmConf(" 3 ");
  EXPECT_EQ(op.getCorEngineNum(), 3);  // trimmed, valid: cached
  writeAlarmConf("4");
  EXPECT_EQ(op.getCorEngineNum(), 3);
  CKyroSettingOP::destroy();
  EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), 4);
  CKyroSettingOP::destroy();
  writeAlarmConf("5");
  EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), 5);
  CKyroSettingOP::destroy();
  std::ofstream(alarmConfPath()) << "<vela><correlate>";
  EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), 1) << "a malformed file is treated as absent";
}

TEST_F(KyroSettingOPTest, NorthExportCharsetCanonicalAndCached) {
  struct Row {
    const char* text;
    const char* expect;
  } rows[] = {{"gbk", "GBK"},         {"GBK", "GBK"},      {"iso-8859-1", "ISO-8859-1"}, {"utf-8", "UTF-8"},
              {"BIG5", "UTF-8"},      {"", "UTF-8"},       {" gbk ", "GBK"}};
  for (const auto& r : rows) {
    CKyroSettingOP& op = fresh({{"/kyro/north/export/charset", r.text}});
    EXPECT_EQ(op.getNorthExportCharSet(), r.expect) << r.text;
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
  EXPECT_EQ(op.getLocationDelimiter(), ", ");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/location/delimiter", "x"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), ", ");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/location/delimiter", "1"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), " ");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/location/delimiter", "0"), 0);
  EXPECT_EQ(op.getLocationDelimiter(), " ");
  CKyroSettingOP& op2 = fresh({{"/kyro/vela/location/delimiter", "2"}});
  EXPECT_EQ(op2.getLocationDelimiter(), ", ");

  int t = 0;
  EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
  EXPECT_EQ(t, 100000);
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/omcne/netype", "5"), 0);
  EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
  EXPECT_EQ(t, 5) << "the fallback is not cached";
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/omcne/netype", "6"), 0);
  EXPECT_EQ(op2.getOMCNeType(t), FM_SUCCESS);
  EXPECT_EQ(t, 5);
}

// ---------------------------------------------------------------------------
// Character sets

TEST_F(KyroSettingOPTest, LocalCharsetFlagsAndForcedUtf8) {
  struct Row {
    const char* env;
    bool local;
  } rows[] = {{"1", true}, {"0", false}, {"yes", false}, {nullptr, false}};
  for (const auto& r : rows) {
    if (r.env) {
      ::setenv("FILECONTENT_LOCAL_CHARSET", r.env, 1);
    } else {
      ::unsetenv("FILECONTENT_LOCAL_CHARSET");
    }
    fmtest::TraceCapture cap;
    CKyroSettingOP& op = fresh({});
    EXPECT_EQ(op.IsLocalCharSet(), r.local) << (r.env ? r.env : "unset");
    EXPECT_TRUE(cap.contains(std::string("CKyroSettingOP::InitLocalCharSet, CharSet:") + (r.env ? r.env : "") +
                             ",Version:1"));
  }
  ::unsetenv("FILECONTENT_LOCAL_CHARSET");

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

TEST_F(KyroSettingOPTest, ConvertCharSetFailuresLeaveTheTextAndAreReported) {
  KyroGlobalUtils::setLocalCharset("ISO-8859-1");
  fresh({});
  fmtest::TraceCapture cap;
  std::string s = kChinese;
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(s), FM_FAILURE);
  EXPECT_EQ(s, kChinese);
  std::list<std::string> list{kCafe, kChinese, std::string("x\xC3", 2)};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(list), FM_FAILURE);
  EXPECT_EQ(list, (std::list<std::string>{to("ISO-8859-1", kCafe), kChinese, std::string("x\xC3", 2)}));
  EXPECT_GE(cap.count("KyroGlobalUtils::KyroCodeSetConvert", TRACE_ERROR), 3u);
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
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<CKyroSettingOP*> got(kThreads, nullptr);
    std::vector<std::string> charsets(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        ready.fetch_add(1);
        while (!go.load()) std::this_thread::yield();
        got[i] = CKyroSettingOP::instance();
        charsets[i] = got[i]->getNorthExportCharSet();
        got[i]->getCorEngineNum();
        got[i]->getSendCorAlmToNBFlag();
        got[i]->initIsForceToUseUTF8();
        got[i]->isForceToUseUTF8();
        int t = 0;
        got[i]->getOMCNeType(t);
        std::string s = kChinese;
        CKyroSettingOP::ConvertNorthCharSet(s);
      });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    go.store(true);
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<CKyroSettingOP*>(got.begin(), got.end()).size(), 1u);
    for (const auto& cs : charsets) EXPECT_EQ(cs, "GBK");
  }
  CKyroSettingOP::destroy();
  Setting::instance()->setStorePath("");
}

}  // namespace
}  // namespace Kyrofm
