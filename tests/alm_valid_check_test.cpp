// Tests of CAlmValidCheck: each accepted edge and the first rejected value of
// every range, set, length and date/time check with its failure line, the
// record check's order, the trimming operations' cut lengths (multi-byte texts
// included) and the writable-path probe.
#include <gtest/gtest.h>

#include <climits>
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
const char* const L = "";  // a rejection whose line another case asserts

class AlmValidCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {  // types 1..11 and levels 1..4
    CRecStringMap::Destroy();
    CCentralCfg::SetRecConfigFileName(std::string(FM_SOURCE_DIR) + "/etc/fm.xml");
  }
  void TearDown() override {
    CRecStringMap::Destroy();
    CCentralCfg::SetRecConfigFileName("");
  }
  // Runs the check; a failure writes exactly `msg` (nullptr: the check is silent).
  void expect(bool ok, bool want, const char* msg, const std::string& what) {
    EXPECT_EQ(ok, want) << what;
    auto lines = cap.sink().messages();
    if (!want && msg == L) {
      EXPECT_FALSE(lines.empty()) << what;
    } else if (want || msg == nullptr) {
      EXPECT_TRUE(lines.empty()) << what << ": " << (lines.empty() ? "" : lines[0].text);
    } else {
      ASSERT_EQ(lines.size(), 1u) << what;
      EXPECT_EQ(lines[0].level, TRACE_ERROR);
      EXPECT_EQ(lines[0].text, msg);
    }
    cap.sink().clear();
  }
  fmtest::TraceCapture cap;
};

TEST_F(AlmValidCheckTest, CodeRangesAcceptTheirEdgesAndLogTheFirstRejectedValue) {
  CRecStringMap::Instance();
  cap.sink().clear();
  using F = std::function<bool(long)>;
  auto ch = [](bool (*f)(char)) { return F([f](long v) { return f(static_cast<char>(v)); }); };
  auto in = [](bool (*f)(int)) { return F([f](long v) { return f(static_cast<int>(v)); }); };
  const F csn = C::isAlmCsnValid, cat = ch(C::isCategoryValid), type = ch(C::isAlmTypeValid),
          lvl = ch(C::isAlmLevelValid), clr = ch(C::isClearStatusValid), ack = ch(C::isConfirmStatusValid),
          dev = C::isDevCsnValid, logt = in(C::isAlmLogTypeValid), st = in(C::isAlmStatusValid),
          mode = in(C::isTimeModeValid), spec = C::isSpecialAlarmStatusValid, date = C::isDateValid,
          time = C::isTimeValid;
  const F ident = [](long v) { const int i = static_cast<int>(v); return C::isAlmIdentifyValid(i); };
  const F utc = [](long v) { return C::isAlmUTCTimeValid(v); };
  const struct { F f; long v; bool ok; const char* msg; } cases[] = {
      {csn, 0, true, nullptr}, {csn, 2147483646, true, nullptr}, {csn, -1, false, L},
      {csn, 2147483647, false, "CAlmValidCheck::isAlmCsnValid failed, input is: 2147483647"},
      {cat, 1, true, nullptr}, {cat, 5, true, nullptr}, {cat, 9, true, nullptr}, {cat, 20, true, nullptr},
      {cat, 0, false, L}, {cat, 6, false, L}, {cat, 8, false, L}, {cat, 10, false, L},
      {cat, 21, false, "CAlmValidCheck::isCategoryValid failed, input is: 21"},
      {type, 1, true, nullptr}, {type, 11, true, nullptr}, {type, 0, false, L},
      {type, 12, false, "CAlmValidCheck::isAlmTypeValid failed, input is: 12"},
      {lvl, 1, true, nullptr}, {lvl, 4, true, nullptr}, {lvl, 5, false, L},
      {lvl, 0, false, "CAlmValidCheck::isAlmLevelValid failed, input is: 0"},
      {clr, 0, true, nullptr}, {clr, 1, true, nullptr}, {clr, -1, false, L},
      {clr, 2, false, "CAlmValidCheck::isClearStatusValid failed, input is: 2"},
      {ack, 0, true, nullptr}, {ack, 1, true, nullptr}, {ack, -1, false, L},
      {ack, 2, false, "CAlmValidCheck::isConfirmStatusValid failed, input is: 2"},
      {dev, 0, true, nullptr}, {dev, -1, false, "CAlmValidCheck::isDevCsnValid failed, input is: -1"},
      {logt, 1, true, nullptr}, {logt, 3, true, nullptr}, {logt, 0, false, L},
      {logt, 4, false, "CAlmValidCheck::isAlmLogTypeValid failed, input is: 4"},
      {st, 1, true, nullptr}, {st, 4, true, nullptr}, {st, 0, false, L},
      {st, 5, false, "CAlmValidCheck::isAlmStatusValid failed, input is: 5"},
      {mode, 1, true, nullptr}, {mode, 5, true, nullptr}, {mode, 0, false, nullptr}, {mode, 6, false, nullptr},
      {spec, 0, true, nullptr}, {spec, 16, true, nullptr}, {spec, -1, false, nullptr}, {spec, 17, false, nullptr},
      {ident, -5, true, nullptr}, {ident, 32, true, nullptr}, {ident, 33, false, nullptr},
      {utc, 1, true, nullptr}, {utc, 0, false, "CAlmValidCheck::isAlmUTCTimeValid failed, Alarm Time is: 0"},
      {date, 0, true, nullptr}, {date, 20240000, true, nullptr}, {date, 99991231, true, nullptr},
      {date, -1, false, L}, {date, 20241300, false, L}, {date, 20241232, false, L},
      {date, 100000000, false, "CAlmValidCheck::isDateValid failed, input is: 100000000"},
      {time, 0, true, nullptr}, {time, 235959, true, nullptr}, {time, -1, false, L},
      {time, 236000, false, L}, {time, 235960, false, L},
      {time, 240000, false, "CAlmValidCheck::isTimeValid failed, input is: 240000"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    const auto& c = cases[i];
    expect(c.f(c.v), c.ok, c.msg, "case " + std::to_string(i) + " value " + std::to_string(c.v));
  }
  EXPECT_TRUE(C::isAlmInfoValid(AlarmInfo_t(LONG_MIN, -1)));
}

TEST_F(AlmValidCheckTest, LengthsCountBytes) {
  XRFMAlarmFieldPropManager::instance()->setAlmLocInfoLimit(10);
  const struct { bool (*f)(const std::string&); size_t len; bool ok; const char* msg; } cases[] = {
      {C::isFDNValid, 1, true, nullptr}, {C::isFDNValid, 255, true, nullptr},
      {C::isFDNValid, 0, false, "CAlmValidCheck::isFDNValid length error, input is: "},
      {C::isFDNValid, 256, false, L}, {C::isOIDValid, 0, true, nullptr}, {C::isOIDValid, 255, true, nullptr},
      {C::isOIDValid, 256, false, L}, {C::isLinkFDNValid, 0, true, nullptr},
      {C::isLinkFDNValid, 255, true, nullptr}, {C::isLinkFDNValid, 256, false, L},
      {C::isLinkOIDValid, 0, true, nullptr}, {C::isLinkOIDValid, 255, true, nullptr},
      {C::isLinkOIDValid, 256, false, L}, {C::isExtendInfoValid, 10, true, nullptr},
      {C::isExtendInfoValid, 11, false, "CAlmValidCheck::isExtendInfoValid failed, input is: xxxxxxxxxxx"},
      {C::isFileNameValid, 1, true, nullptr}, {C::isFileNameValid, 120, true, nullptr},
      {C::isFileNameValid, 0, false, "CAlmValidCheck::isFileNameValid failed, input is: "},
      {C::isFileNameValid, 121, false, L}};
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    expect(cases[i].f(std::string(cases[i].len, 'x')), cases[i].ok, cases[i].msg, "case " + std::to_string(i));
  }
  XRFMAlarmFieldPropManager::instance()->setAlmLocInfoLimit(1024);
  std::string l256(256, 'x');
  C::isOIDValid(l256), C::isLinkFDNValid(l256), C::isLinkOIDValid(l256);
  EXPECT_EQ(cap.count("CAlmValidCheck::isOIDValid failed, input is: " + l256, TRACE_ERROR), 1u);
  EXPECT_EQ(cap.count("CAlmValidCheck::isLinkFDNValid failed, input is: " + l256, TRACE_ERROR), 2u);
}

TEST_F(AlmValidCheckTest, DateTimeWindows) {
  const char* bad = "CAlmValidCheck::isDateTimeValid, Date or Time is not valid";
  const struct { long sd, st, ed, et, type; bool ok; const char* msg; } cases[] = {
      {0, 0, 0, 0, 9, true, nullptr},
      {20240101, 0, 20240102, 0, 7, true, nullptr},
      {20240101, 120000, 20240101, 120000, 1, true, nullptr},
      {20240102, 0, 20240101, 0, 1, false, nullptr},             // end date first: silent
      {20240101, 120000, 20240101, 115959, 1, false, nullptr},   // same date, end time first
      {20240102, 0, 20240101, 0, 9, false, nullptr},             // order is tested before the type
      {20240101, 0, 20240102, 0, 8, false, "CAlmValidCheck::isDateTimeValid failed, time type:8 error!"},
      {20240101, 0, 20240102, 0, 0, false, L},
      {0, 0, 20240102, 0, 1, true, nullptr},
      {20240101, 0, 0, 0, 0, false, "CAlmValidCheck::isDateTimeValid failed, error time type:0"},
  };
  for (const auto& c : cases) {
    expect(C::isDateTimeValid(c.sd, c.st, c.ed, c.et, c.type), c.ok, c.msg, std::to_string(c.sd));
  }
  const long values[][4] = {{20241300, 0, 0, 0}, {0, 240000, 0, 0}, {0, 0, 20241300, 0}, {0, 0, 0, 240000}};
  for (const auto& v : values) {
    EXPECT_FALSE(C::isDateTimeValid(v[0], v[1], v[2], v[3], 1));
    EXPECT_TRUE(cap.contains(bad, TRACE_ERROR));
    cap.sink().clear();
  }
}

TEST_F(AlmValidCheckTest, RecordCheckStopsAtTheFirstBadFieldInOrder) {
  AlmRecord_t good;
  good.setAlarmType(1), good.setSeverity(1), good.setMoDn("NE=1,B=2"), good.setNE({"NE=1", 7});
  good.setOccurNeTime(100), good.setOccurUtcTime(100), good.setSpecialAlmStatus(16);
  ASSERT_TRUE(C::isAlmValid(good));
  EXPECT_FALSE(C::isLinkAlarm(good));
  // Each breaker spoils one field; applied cumulatively from the last, the
  // earliest spoiled field is the one reported.
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
  AlmRecord_t rec = good;
  for (size_t i = breakers.size(); i-- > 0;) {
    breakers[i].first(rec);
    cap.sink().clear();
    EXPECT_FALSE(C::isAlmValid(rec)) << i;
    if (breakers[i].second) {
      EXPECT_TRUE(cap.contains(breakers[i].second, TRACE_ERROR)) << i;
    }
    EXPECT_EQ(cap.sink().messages().size(), breakers[i].second ? (i == 6 ? 2u : 1u) : 0u) << i;  // NE: + FDN's
  }
  EXPECT_TRUE(C::isLinkAlarm(rec));
}

TEST_F(AlmValidCheckTest, TrimmingCutsAtItsLimitAndLogsOnce) {
  using Get = const char* (AlmRecord_t::*)() const;
  using Set = void (AlmRecord_t::*)(const std::string&);
  const struct { void (*op)(AlmRecord_t&); Get get; Set set; size_t limit; const char* msg; } cases[] = {
      {C::resizeAgentId, &AlmRecord_t::getAgentId, &AlmRecord_t::setAgentId, 32, "AgentId"},
      {C::resizeRootId, &AlmRecord_t::getRootId, &AlmRecord_t::setRootId, 32, "RootId"},
      {C::resizeHostIP, &AlmRecord_t::getHostIP, &AlmRecord_t::setHostIP, 255, "hostIP"},
      {C::resizeMOType, &AlmRecord_t::getMOType, &AlmRecord_t::setMOType, 32, "dnType"},
      {C::resizeDevRootId, &AlmRecord_t::getDevRootID, &AlmRecord_t::setDevRootID, 250, "resizeDevRootId"},
      {C::resizeExtendInfo, &AlmRecord_t::getExtendInfo, &AlmRecord_t::setExtendInfo, 255, "ExtendInfo"},
      {C::resizeAppendInfo, &AlmRecord_t::getAddtionalText, &AlmRecord_t::setAddtionalText, 250, "AppendInfo"}};
  CKyroSettingOP::instance();  // its start-up lines are not the trimming's
  cap.sink().clear();
  for (const auto& c : cases) {
    AlmRecord_t r;
    std::string text;
    for (size_t i = 0; i < c.limit + 8; ++i) text += static_cast<char>('a' + i % 26);
    (r.*c.set)(text.substr(0, c.limit));
    expect((c.op(r), std::string((r.*c.get)()) == text.substr(0, c.limit)), true, nullptr, c.msg);
    (r.*c.set)(text);
    c.op(r);
    EXPECT_EQ((r.*c.get)(), text.substr(0, c.limit)) << c.msg;
    expect(false, false, ("CAlmValidCheck::" + std::string(c.msg) + " overflow and resize.").c_str(), c.msg);
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
      {"UTF-8", "a\xC3\xA9", 2, "a"}, {"utf8", "a\xC3\xA9", 3, "a\xC3\xA9"}, {"UTF-8", "ab\xC3\xA9", 3, "ab"},
      {"UTF-8", "\xF0\x9F\x98\x80z", 3, ""}, {"UTF-8", "\xF0\x9F\x98\x80z", 4, "\xF0\x9F\x98\x80"},
      {"UTF-8", "a\x80\x80\x80\x80\x80", 5, "a\x80\x80\x80\x80"},  // not UTF-8: byte-wise
      {"GBK", "\xC4\xE3\xBA\xC3", 3, "\xC4\xE3"}, {"gb2312", "a\xC4\xE3", 2, "a"},
      {"BIG5", "\xA4\x40" "a", 1, ""}, {"GB18030", "a\x81\x30\x81\x30", 4, "a"},
      {"GB18030", "a\x81\x40z", 3, "a\x81\x40"}, {"Shift_JIS", "\xB1\x82\xA0", 2, "\xB1"},
      {"EUC-JP", "\x8F\xA1\xA1z", 2, ""}, {"EUC-JP", "\x8E\xB1z", 2, "\x8E\xB1"},
      {"ISO-8859-1", "a\xC3\xA9", 2, "a\xC3"}, {"UTF-8", "abc", 3, "abc"}};
  for (const auto& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(StringResize(s, c.limit, c.enc), c.out) << c.enc << " " << c.limit;
  }
}

TEST_F(AlmValidCheckTest, PathWritableProbeLeavesNothingBehind) {
  const std::string dir = fmtest::makeTempDir("writable");
  const std::string probe = "/temp_file_vela_server_for_test.test";
  EXPECT_TRUE(C::isPathWritable(dir));
  EXPECT_TRUE(C::isPathWritable(dir + "/"));
  EXPECT_FALSE(std::filesystem::exists(dir + probe));
  EXPECT_FALSE(cap.contains("isPathWritable"));
  expect(C::isPathWritable(dir + "/missing"), false,
         ("CAlmValidCheck::isPathWritable failed, input is: " + dir + "/missing").c_str(), "missing");
  expect(C::isPathWritable(""), false, "CAlmValidCheck::isPathWritable failed, input is: ", "empty");
}

}  // namespace
}  // namespace Kyrofm
