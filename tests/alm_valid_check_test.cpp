// Tests of CAlmValidCheck: accepted edges and first rejected values with their failure lines, the record
// check's order, the trimming's cut lengths (multi-byte texts too) and the writable-path probe.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using C = CAlmValidCheck;
using F = std::function<bool(long)>;

class AlmValidCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {  // types 1..11, levels 1..4; the settings accessor's start-up lines are not ours
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
    CRecStringMap::Destroy(), CRecStringMap::Instance(), CKyroSettingOP::instance(), cap.sink().clear();
  }
  void TearDown() override { CRecStringMap::Destroy(), CCentralCfg::SetRecConfigFileName(""); }
  // Accepted values are silent; each rejected one logs one level-5 line (none
  // when msg is empty), the first of them "CAlmValidCheck::" + msg.
  void table(const F& f, std::vector<long> ok, std::vector<long> bad, const std::string& msg) {
    for (long v : ok) EXPECT_TRUE(f(v)) << msg << " " << v;
    for (long v : bad) EXPECT_FALSE(f(v)) << msg << " " << v;
    auto lines = cap.sink().messages();
    ASSERT_EQ(lines.size(), msg.empty() ? 0u : bad.size()) << msg;
    EXPECT_TRUE(lines.empty() || lines[0].text == "CAlmValidCheck::" + msg) << lines[0].text;
    for (const auto& l : lines) EXPECT_EQ(l.level, TRACE_ERROR) << msg;
    cap.sink().clear();
  }
  fmtest::TraceCapture cap;
};

#define CH(fn) F([](long v) { return C::fn(static_cast<char>(v)); })
#define IN(fn) F([](long v) { return C::fn(static_cast<int>(v)); })
#define LEN(fn) F([](long n) { return C::fn(std::string(static_cast<size_t>(n), 'x')); })

TEST_F(AlmValidCheckTest, RangesSetsAndLengths) {
  table(C::isAlmCsnValid, {0, 2147483646}, {2147483647, -1}, "isAlmCsnValid failed, input is: 2147483647");
  table(CH(isCategoryValid), {1, 2, 3, 4, 5, 9, 20}, {21, 0, 6, 8, 10, 19}, "isCategoryValid failed, input is: 21");
  table(CH(isAlmTypeValid), {1, 11}, {12, 0}, "isAlmTypeValid failed, input is: 12");
  table(CH(isAlmLevelValid), {1, 4}, {0, 5}, "isAlmLevelValid failed, input is: 0");
  table(CH(isClearStatusValid), {0, 1}, {2, -1}, "isClearStatusValid failed, input is: 2");
  table(CH(isConfirmStatusValid), {0, 1}, {2, -1}, "isConfirmStatusValid failed, input is: 2");
  table(C::isDevCsnValid, {0, 1L << 40}, {-1}, "isDevCsnValid failed, input is: -1");
  table(IN(isAlmLogTypeValid), {1, 3}, {4, 0}, "isAlmLogTypeValid failed, input is: 4");
  table(IN(isAlmStatusValid), {1, 4}, {5, 0}, "isAlmStatusValid failed, input is: 5");
  table(IN(isTimeModeValid), {1, 5}, {0, 6}, "");
  table(C::isSpecialAlarmStatusValid, {0, 16}, {-1, 17}, "");
  table([](long v) { const int i = static_cast<int>(v); return C::isAlmIdentifyValid(i); }, {-5, 32}, {33}, "");
  table([](long v) { return C::isAlmUTCTimeValid(v); }, {1}, {0}, "isAlmUTCTimeValid failed, Alarm Time is: 0");
  table(C::isDateValid, {0, 20240000, 99991231}, {100000000, -1, 20241300, 20241232},
        "isDateValid failed, input is: 100000000");
  table(C::isTimeValid, {0, 235959}, {240000, -1, 236000, 235960}, "isTimeValid failed, input is: 240000");
  XRFMAlarmFieldPropManager::instance()->setAlmLocInfoLimit(10);
  table(LEN(isExtendInfoValid), {10}, {11}, "isExtendInfoValid failed, input is: xxxxxxxxxxx");
  XRFMAlarmFieldPropManager::instance()->setAlmLocInfoLimit(1024);
  table(LEN(isFDNValid), {1, 255}, {0, 256}, "isFDNValid length error, input is: ");
  table(LEN(isFileNameValid), {1, 120}, {0, 121}, "isFileNameValid failed, input is: ");
  const std::string l256 = " failed, input is: " + std::string(256, 'x');
  table(LEN(isOIDValid), {0, 255}, {256}, "isOIDValid" + l256);
  table(LEN(isLinkFDNValid), {0, 255}, {256}, "isLinkFDNValid" + l256);
  table(LEN(isLinkOIDValid), {0, 255}, {256}, "isLinkFDNValid" + l256);
}

TEST_F(AlmValidCheckTest, DateTimeWindows) {
  const struct { long sd, st, ed, et, type; bool ok; const char* msg; } cases[] = {
      {0, 0, 0, 0, 9, true, ""}, {20240101, 0, 20240102, 0, 7, true, ""}, {0, 0, 20240102, 0, 1, true, ""},
      {20240101, 120000, 20240101, 120000, 1, true, ""}, {20240102, 0, 20240101, 0, 1, false, ""},
      {20240101, 120000, 20240101, 115959, 1, false, ""}, {20240102, 0, 20240101, 0, 9, false, ""},
      {20240101, 0, 20240102, 0, 8, false, "isDateTimeValid failed, time type:8 error!"},
      {20240101, 0, 20240102, 0, 0, false, "isDateTimeValid failed, time type:0 error!"},
      {20240101, 0, 0, 0, 0, false, "isDateTimeValid failed, error time type:0"}};
  for (const auto& c : cases) {
    table([&](long) { return C::isDateTimeValid(c.sd, c.st, c.ed, c.et, c.type); }, std::vector<long>(c.ok, 0),
          std::vector<long>(!c.ok, 0), c.msg);
  }
  const long values[][4] = {{20241300, 0, 0, 0}, {0, 240000, 0, 0}, {0, 0, 20241300, 0}, {0, 0, 0, 240000}};
  for (const auto& v : values) EXPECT_FALSE(C::isDateTimeValid(v[0], v[1], v[2], v[3], 1));
  EXPECT_EQ(cap.count("CAlmValidCheck::isDateTimeValid, Date or Time is not valid", TRACE_ERROR), 4u);
}

TEST_F(AlmValidCheckTest, RecordCheckStopsAtTheFirstBadFieldInOrder) {
  AlmRecord_t rec;
  rec.setAlarmType(1), rec.setSeverity(1), rec.setMoDn("NE=1,B=2"), rec.setNE({"NE=1", 7});
  rec.setOccurNeTime(100), rec.setOccurUtcTime(100), rec.setSpecialAlmStatus(16);
  ASSERT_TRUE(C::isAlmValid(rec) && !C::isLinkAlarm(rec));
  // Spoiled cumulatively from the last field: the earliest spoiled one reports.
  const std::vector<std::pair<std::function<void(AlmRecord_t&)>, const char*>> breakers = {
      {[](AlmRecord_t& r) { r.setAlarmType(257); }, "isAlmTypeValid failed, input is: 257"},
      {[](AlmRecord_t& r) { r.setSeverity(0); }, "isAlmLevelValid"},
      {[](AlmRecord_t& r) { r.setClearStatus(2); }, "isClearStatusValid"},
      {[](AlmRecord_t& r) { r.setAckStatus(2); }, "isConfirmStatusValid"},
      {[](AlmRecord_t& r) { r.setDevCsn(-1); }, "isDevCsnValid"},
      {[](AlmRecord_t& r) { r.setMoDn(""); }, "isFDNValid"},
      {[](AlmRecord_t& r) { r.setNE({"", 7}); }, "isNEInfoValid false strNEFDN is , lNEType is 7"},
      {[](AlmRecord_t& r) { r.setLinkDn(std::string(256, 'l')); }, "isLinkFDNValid"},
      {[](AlmRecord_t& r) { r.setOccurNeTime(0); }, "Alarm Time is: 0"},
      {[](AlmRecord_t& r) { r.setOccurNeTime(5), r.setOccurUtcTime(-3); }, "Alarm Time is: -3"},
      {[](AlmRecord_t& r) { r.setSpecialAlmStatus(17); }, nullptr}};
  for (size_t i = breakers.size(); i-- > 0;) {
    breakers[i].first(rec);
    EXPECT_FALSE(C::isAlmValid(rec)) << i;
    EXPECT_TRUE(!breakers[i].second || cap.contains(breakers[i].second, TRACE_ERROR)) << i;
    EXPECT_EQ(cap.sink().messages().size(), breakers[i].second ? (i == 6 ? 2u : 1u) : 0u) << i;  // NE: + FDN's
    cap.sink().clear();
  }
  EXPECT_TRUE(C::isLinkAlarm(rec));
}

TEST_F(AlmValidCheckTest, TrimmingCutsAtItsLimitAndLogsOnce) {
  const struct { void (*op)(AlmRecord_t&); const char* (AlmRecord_t::*get)() const;
    void (AlmRecord_t::*set)(const std::string&); size_t limit; std::string name; } cases[] = {
      {C::resizeAgentId, &AlmRecord_t::getAgentId, &AlmRecord_t::setAgentId, 32, "AgentId"},
      {C::resizeRootId, &AlmRecord_t::getRootId, &AlmRecord_t::setRootId, 32, "RootId"},
      {C::resizeHostIP, &AlmRecord_t::getHostIP, &AlmRecord_t::setHostIP, 255, "hostIP"},
      {C::resizeMOType, &AlmRecord_t::getMOType, &AlmRecord_t::setMOType, 32, "dnType"},
      {C::resizeDevRootId, &AlmRecord_t::getDevRootID, &AlmRecord_t::setDevRootID, 250, "resizeDevRootId"},
      {C::resizeExtendInfo, &AlmRecord_t::getExtendInfo, &AlmRecord_t::setExtendInfo, 255, "ExtendInfo"},
      {C::resizeAppendInfo, &AlmRecord_t::getAddtionalText, &AlmRecord_t::setAddtionalText, 250, "AppendInfo"}};
  std::string text;
  for (size_t i = 0; i < 300; ++i) text += static_cast<char>('a' + i % 26);
  for (const auto& c : cases) {
    AlmRecord_t r;
    F cut = [&](long n) {  // false when the field was cut, which must be at the limit
      (r.*c.set)(text.substr(0, n)), c.op(r);
      EXPECT_EQ((r.*c.get)(), text.substr(0, n < static_cast<long>(c.limit) ? n : c.limit)) << c.name;
      return (r.*c.get)() == text.substr(0, n);
    };
    table(cut, {static_cast<long>(c.limit)}, {static_cast<long>(c.limit) + 1}, c.name + " overflow and resize.");
  }
  // The two free texts keep whole characters: "é" would straddle byte 250.
  AlmRecord_t r;
  r.setAddtionalText(std::string(249, 'a') + "\xC3\xA9" + "b");
  C::resizeAppendInfo(r);
  EXPECT_EQ(std::string(r.getAddtionalText()), std::string(249, 'a'));
  KyroCommonUtils::setGlobalVersion(false), KyroGlobalUtils::setLocalCharset("GBK"), CKyroSettingOP::destroy();
  r.setExtendInfo(std::string(254, 'a') + "\xC4\xE3");  // one GBK character across byte 255
  C::resizeExtendInfo(r);
  KyroCommonUtils::setGlobalVersion(true), KyroGlobalUtils::setLocalCharset(""), CKyroSettingOP::destroy();
  EXPECT_EQ(std::string(r.getExtendInfo()), std::string(254, 'a'));
}

TEST(StringResizeTest, KeepsWholeCharactersOfTheEncoding) {
  const struct { const char* enc; std::string in; size_t limit; std::string out; } cases[] = {
      {"UTF-8", "ab\xC3\xA9", 3, "ab"}, {"utf8", "\xF0\x9F\x98\x80z", 4, "\xF0\x9F\x98\x80"},
      {"UTF-8", "\xF0\x9F\x98\x80z", 3, ""}, {"UTF-8", "a\x80\x80\x80\x80\x80", 5, "a\x80\x80\x80\x80"},  // not UTF-8
      {"GBK", "\x81\x40\xBA\xC3", 3, "\x81\x40"},
      {"GB18030", "a\x81\x30\x81\x30", 4, "a"},
      {"GB18030", "a\x81\x40z", 3, "a\x81\x40"}, {"Shift_JIS", "\xB1\x82\xA0", 2, "\xB1"},
      {"GB18030", "\x81\x30\x81\x30z", 3, ""}, {"Shift_JIS", "a\x9F\x40", 2, "a"}, {"Shift_JIS", "a\xFC\x40", 2, "a"},
      {"EUC-JP", "\x8F\xA1\xA1z", 2, ""}, {"EUC-JP", "\x8E\xB1z", 2, "\x8E\xB1"},
      {"ISO-8859-1", "a\xC3\xA9", 2, "a\xC3"}};
  for (auto c : cases) EXPECT_EQ(StringResize(c.in, c.limit, c.enc), c.out) << c.enc << " " << c.limit;
  for (const char* enc : {"GB2312", "CP936", "EUC-CN", "Big5", "Big5-HKSCS", "CP950", "EUC-KR", "CP949", "UHC"}) {
    std::string two = "\x81\x40\xBA\xC3";
    EXPECT_EQ(StringResize(two, 3, enc), "\x81\x40") << enc;  // the other double-byte code sets
  }
}

TEST_F(AlmValidCheckTest, PathWritableProbeLeavesNothingBehind) {
  const std::string dir = fmtest::makeTempDir("writable");
  table([&](long) { return C::isPathWritable(dir) && C::isPathWritable(dir + "/"); }, {0}, {}, "");
  EXPECT_FALSE(std::filesystem::exists(dir + "/temp_file_vela_server_for_test.test"));
  table([&](long v) { return C::isPathWritable(v ? "" : dir + "/missing"); }, {}, {0, 1},  // "" is not "/"
        "isPathWritable failed, input is: " + dir + "/missing");
}

}  // namespace
}  // namespace Kyrofm
