// Tests of CKyroSettingOP: the accessors over absent, malformed, out-of-range
// and boundary values; the caches; the setters and their refused writes; the
// character-set conversions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
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

using Result = std::pair<long, long>;  // value, code

struct Case {
  std::optional<std::string> text;  // kAbsent: the key is not in the file
  long value;
  long code;
};

struct AccessorRow {
  const char* name;
  std::string path;  // where the value lives (group parameters: "/kyro/vela/<name>")
  std::function<Result(CKyroSettingOP&)> call;
  std::vector<Case> cases;
};

template <typename T>
std::function<Result(CKyroSettingOP&)> CCall(int (CKyroSettingOP::*fn)(T&)) {
  return [fn](CKyroSettingOP& op) {
    T v{};
    long code = (op.*fn)(v);
    return Result(static_cast<long>(v), code);
  };
}

template <typename R>
std::function<Result(CKyroSettingOP&)> VCall(R (CKyroSettingOP::*fn)()) {
  return [fn](CKyroSettingOP& op) { return Result(static_cast<long>((op.*fn)()), kNoCode); };
}

const std::string V = "/kyro/vela/";
const std::string AC = "/kyro/vela/alarm_configure/";
const std::string NE = "/kyro/vela/EventProcess/NEDeletePolicy/";

// One accessor: its name, key and call. The number parser's rows are given
// once (getAlmListExpireTime); a shared reader (readRanged, readFlag, the
// export readers) gets its rows once and every other accessor over it one row.
#define ROW(kind, fn, path) #fn, path, kind##Call(&CKyroSettingOP::fn)

std::vector<AccessorRow> accessorRows() {
  // Absent, and below, at and above each bound.
  auto ranged = [](long def, long lo, long hi, long okCode = kNoCode, long badCode = kNoCode, long outCode = kNoCode) {
    return std::vector<Case>{{kAbsent, def, badCode}, {std::to_string(lo - 1), def, outCode},
                             {std::to_string(lo), lo, okCode}, {std::to_string(hi), hi, okCode},
                             {std::to_string(hi + 1), def, outCode}};
  };
  const long S = FM_SUCCESS, F = FM_FAILURE, N = kNoCode;
  std::vector<AccessorRow> rows = {
      // Numbers are strict decimals with optional blanks around them.
      {ROW(C, getAlmListExpireTime, V + "AlarmListExpireTime"),
       {{kAbsent, 0, F}, {"12abc", 0, F}, {"", 0, F}, {"1 2", 0, F}, {"-1", 0, F}, {"0", 0, S}, {" 24 ", 24, S},
        {"168", 168, S}, {"169", 168, S}}},
      // The current alarm buffer: its own key, else derived from the list size in tiers.
      {ROW(C, getCurAlmMaxRecordNum, V + "curAlmMaxCount"),
       {{"49999", 50000, S}, {"50000", 50000, S}, {"300000", 300000, S}, {"300001", 50000, S}, {"12abc", 50000, S}}},
      {ROW(C, getCurAlmMaxRecordNum, V + "alarmListMaxCount"),
       {{kAbsent, 50000, S}, {"30000", 50000, S}, {"30001", 100000, S}, {"80000", 100000, S}, {"80001", 100001, S},
        {"99999999999", 300000, S}}},
      {ROW(C, getLogTableMaxRecordNum, V + "logTableCount"), ranged(500000, 200000, 2000000, S, S, S)},
      {ROW(C, getClrBufSize, AC + "clear_alm_buf_size"), {{kAbsent, 500, F}, {"x", 500, F}, {"-3", -3, S}}},
      {ROW(C, getOverflowAutoAckLogCount, V + "overflowAutoAckLogCount"), ranged(100000, 20000, 300000, S, F, F)},
      {ROW(V, enableAlmListLockFunc, V + "enableAlmListLock"), {{kAbsent, 0, N}, {"true", 1, N}, {"1", 0, N}}},
      {ROW(C, getLctSyncSwitch, AC + "LCT_syn_switch"), {{kAbsent, 0, S}, {"true", 1, S}, {"1", 0, S}}},
      {ROW(V, isNeedFilterByNE, NE + "IsNeedFilterByNE"), {{kAbsent, 0, N}, {"x", 0, N}, {"0", 0, N}, {"-1", 1, N}}},
      {ROW(V, getFilterNECycle, NE + "NeFilterCycle"), {{kAbsent, 3600, N}, {"0", 3600, N}, {"1", 1, N}}},
      {ROW(V, getEfdThreadNum, V + "AlmEfdThreadNum"), ranged(5, 0, 10)},
      {ROW(C, getLogStatCount, "/kyro/common/manager/taskcontrol/logstatcount"), ranged(2, 1, 10, S, F, F)},
      {ROW(V, getPostExeThreadNum, "/kyro/vela/postexe/threadNum"),
       {{kAbsent, 1, N}, {"0", 1, N}, {"1", 1, N}, {"10", 10, N}, {"11", 10, N}}},
      {ROW(V, getIsMergerAlmFlag, "/kyro/vela/fm/supportMergerAlarm"),
       {{kAbsent, 1, N}, {"false", 0, N}, {"FALSE", 1, N}}},
      // Threshold and expiry export: a failed read gives FM_FAILURE and the default.
      {ROW(C, getThresholdExportInterval, V + "threshold ExportInterval"), ranged(100, 30, 300, S, F, S)},
      {ROW(C, getThresholdExportIsExport, V + "threshold IsExport"), {{kAbsent, 1, F}, {"0", 0, S}, {"7", 1, S}}},
      {ROW(C, getThresholdExportIsZip, V + "threshold IsZip"), {{kAbsent, 1, F}, {"2", 2, S}, {"3", 1, S}}},
      {ROW(C, getThresholdExportFileType, V + "threshold FileType"), {{kAbsent, 1, F}, {"XML", 2, S}, {"xml", 1, S}}},
      {ROW(C, getAlarmExpireTimeExportDay, V + "expireAlarmExport Day"), {{kAbsent, 90, F}, {"0", 90, S}, {"1", 1, S}}},
      // Events use the file type configured for alarms.
      {ROW(C, getEventExpireTimeExportFileType, V + "expireAlarmExport FileType"), {{"XML", 2, S}}},
  };
  return rows;
}

TEST_F(KyroSettingOPTest, EveryAccessorOverAbsentMalformedOutOfRangeAndBoundaryValues) {
  for (const auto& row : accessorRows()) {
    for (const auto& c : row.cases) {
      KV kv;
      if (c.text) kv.emplace_back(row.path, *c.text);
      EXPECT_EQ(row.call(fresh(kv)), Result(c.value, c.code))
          << row.name << " with " << (c.text ? "'" + *c.text + "'" : "absent");
    }
  }
}

// ---------------------------------------------------------------------------
// Initialisation and NE synchronisation

// init sets the northbound flags and takes the language.
TEST_F(KyroSettingOPTest, InitSetsNorthboundFlagsAndLanguage) {
  CKyroSettingOP& op = fresh({{"/kyro/vela/specialAlarmStatus/nbenable", "true"}, {V + "corAlmSendToNBFlag", "false"}});
  EXPECT_EQ(std::make_tuple(op.getLanguage(), g_NBSpecailAlmFlag.load(), g_NBCorAlmFlag.load()),
            std::make_tuple(std::string("en_US"), true, false));
}

TEST_F(KyroSettingOPTest, NESynchronisationAttributes) {
  CKyroSettingOP& op = fresh({});
  EXPECT_EQ(op.setNESynAttr({{"ne_startsvc_syn", "1"}, {"ne_recover_syn", "2"}, {"LCT_user_logout_syn", "1"}}),
            FM_SUCCESS);
  std::list<FMNameValue_t> got{{"keep", "x"}};  // the attributes are appended; only the text 1 counts as on
  EXPECT_EQ(op.getNESynAttr(got), FM_SUCCESS);
  EXPECT_EQ(got, (std::list<FMNameValue_t>{{"keep", "x"}, {"ne_startsvc_syn", "1"}, {"ne_recover_syn", "0"},
                                           {"LCT_user_logout_syn", "1"}}));
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
  const std::string charsetPath = "/kyro/north/export/charset";
  EXPECT_EQ(op.getNorthExportCharSet(), "UTF-8");
  set(charsetPath, " gbk ");
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK");
  set(charsetPath, "ISO-8859-1");
  EXPECT_EQ(op.getNorthExportCharSet(), "GBK");
  int t = 0;
  op.getOMCNeType(t);  // absent: the fallback is not cached, the first good read is
  for (const char* stored : {"5", "6"}) {
    set("/kyro/vela/omcne/netype", stored);
    op.getOMCNeType(t);
    EXPECT_EQ(t, 5);
  }

  // {engine count in alarm_conf.xml (nullptr: no file; "1\"": malformed), restart first, expected}: out of
  // range and malformed give the default, not cached; the first good value is kept until a restart.
  const std::tuple<const char*, bool, int> engines[] = {{nullptr, false, 1}, {"6", false, 1}, {"0", false, 1},
      {" 3 ", false, 3}, {"4", false, 3}, {"4", true, 4}, {"1\"", true, 1}};
  for (const auto& [conf, restart, expect] : engines) {
    if (conf) writeAlarmConf(conf);
    if (restart) CKyroSettingOP::destroy();
    EXPECT_EQ(CKyroSettingOP::instance()->getCorEngineNum(), expect) << (conf ? conf : "no file");
  }
}

// ---------------------------------------------------------------------------
// Character sets

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
      {"GBK", false, kChinese, kChinese, FM_SUCCESS},  // local edition: texts are already local
      {"utf8", true, bad, bad, FM_SUCCESS},            // target UTF-8: nothing to do, even for invalid bytes
      {"ISO-8859-1", true, bad, bad, FM_FAILURE}};
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
      {"x\x1By", kChinese},                        // ESC inside a string: split mismatch, one by one
      {kCafe, std::string("bad\xC3", 4), kChinese},  // one invalid string: the others still convert
  };
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(table), FM_FAILURE);
  const std::vector<std::vector<std::string>> expect{
      {to("GBK", kChinese), "a", ""},
      {"x\x1By", to("GBK", kChinese)},
      {to("GBK", kCafe), std::string("bad\xC3", 4), to("GBK", kChinese)},
  };
  EXPECT_EQ(table, expect);
  // In UTF-16BE every character takes two bytes: a joined row split at the
  // byte 0x1B would give pieces of the wrong bytes, so rows go string by string.
  KyroGlobalUtils::setLocalCharset("UTF-16BE");
  fresh({});
  table = {{"ab", kChinese, "c"}};
  EXPECT_EQ(CKyroSettingOP::ConvertCharSet(table), FM_SUCCESS);
  EXPECT_EQ(table[0], (std::vector<std::string>{to("UTF-16BE", "ab"), to("UTF-16BE", kChinese), to("UTF-16BE", "c")}));
  // Northbound texts use the export code set, not the local one.
  fresh({{"/kyro/north/export/charset", "gbk"}});
  std::string s = kChinese;
  table = {{kChinese, "n"}};
  EXPECT_EQ(CKyroSettingOP::ConvertNorthCharSet(s) + CKyroSettingOP::ConvertNorthCharSet(table), 2 * FM_SUCCESS);
  EXPECT_EQ(s + table[0][0], to("GBK", kChinese) + to("GBK", kChinese));
}

// ---------------------------------------------------------------------------
// Concurrency (also run under ThreadSanitizer)

TEST(KyroSettingOPConcurrency, FirstCallsOfInstanceBuildOneObjectAndCachesAreSafe) {
  Setting::instance()->setStorePath(fmtest::makeTempDir("settingop_conc") + "/kyro_settings.xml");
  ASSERT_EQ(Setting::instance()->setParam("/kyro/north/export/charset", "gbk"), 0);
  ASSERT_EQ(Setting::instance()->setParam("/kyro/vela/omcne/netype", "5"), 0);
  CKyroSettingOP::destroy();
  auto got = fmtest::firstCallsFromThreads([] {
    CKyroSettingOP* op = CKyroSettingOP::instance();
    op->getNorthExportCharSet();
    op->getSendCorAlmToNBFlag();
    op->initIsForceToUseUTF8();
    op->isForceToUseUTF8();
    int t = 0;
    op->getOMCNeType(t);
    return static_cast<const void*>(op);
  });
  EXPECT_EQ(got.size(), 1u);
  CKyroSettingOP::destroy();
  Setting::instance()->setStorePath("");
}

}  // namespace
}  // namespace Kyrofm
