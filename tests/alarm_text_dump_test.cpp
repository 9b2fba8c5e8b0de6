// Tests of the alarm text dump: the exact layout, the round trip of every
// record the layout can carry, and the refusal of what it cannot.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sstream>

#include "fm_common/fmcommon/AlarmTextDump.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

std::string slurp(const std::string& p) { std::ostringstream s; s << std::ifstream(p).rdbuf(); return s.str(); }

// Each field holds its column number (texts "s<n>"), so a column written from
// the wrong getter or in the wrong place shows in the line.
TEST(AlarmTextDumpTest, HeaderAndRecordAreByteExact) {
  AlmRecord_t r;
  r.setLogId(1), r.setListId(2), r.setRelatedLogId(3), r.setAlarmEventFlag(4), r.setEventSubType(5), r.setSeverity(6);
  r.setClearStatus(7), r.setClearCategory(8), r.setClearMatchStrategy(9), r.setClearType(10), r.setClearOperator(11);
  r.setClearNeTime(12), r.setClearUtcTime(13), r.setClearDst(14), r.setAckStatus(15), r.setAckUtcTime(16);
  r.setAckDst(17), r.setAckOperator(18), r.setAgentCsn(19), r.setAlarmId(20), r.setStatsticStamp(21);
  r.setAlmOperateTimes(22), r.setProcessMode(23), r.setFormNumber(24), r.setGroupId(25), r.setBackupedOnSource(26);
  r.setFlag(27), r.setFlashAlarmLogId(28), r.setOriginalSeverity(29), r.setFunctionType(30), r.setMoDn("s31");
  r.setNE({"s32", 0}), r.setLinkDn("s33"), r.setLinkType(34), r.setLocation("s35"), r.setReasonId(36);
  r.setOccurNeTime(37), r.setOccurUtcTime(38), r.setOccurDst(39), r.setArrivedUtcTime(40), r.setShortComment("s41");
  r.setBusinessAffected(42), r.setAddtionalText("s43"), r.setAgentId("s44"), r.setRootId("s45"), r.setHostIP("s46");
  r.setMOType("s47"), r.setDevRootID("s48"), r.setSpecialAlmStatus(49), r.setPreLogId(50), r.setMbscLable(51);
  r.setFirstOccurNeTime(52), r.setFirstOccurUtcTime(53), r.setFirstOccurDst(54), r.setOccurCount(55);
  r.setLastOccurLogId(56), r.setIntExtParam(0, 16, 57), r.setIntExtParam(0, 15, 58);
  std::string line;
  for (int i = 1; i <= 58; ++i) {
    const bool text = (i == 31 || i == 32 || i == 33 || i == 35 || i == 41 || (i >= 43 && i <= 48));
    line += (i > 1 ? "||" : "") + std::string(text ? "s" : "") + std::to_string(i);
  }
  const std::string path = fmtest::makeTempDir("dump") + "/d.txt";
  std::ofstream out(path);
  out << std::hex << std::showpos;  // the caller's formatting plays no part
  ASSERT_EQ(outPutAlarmColumn(out), 33000);
  out << "\n";
  ASSERT_EQ(outPutAlarmRecord(out, r), 33000);
  out.close();
  EXPECT_EQ(slurp(path),
            "LogId||ListId||RelatedLogId||AlarmEventFlag||EventSubType||Severity||ClearStatus||ClearCategory||"
            "ClearMatchStrategy||ClearType||ClearOperator||ClearNeTime||ClearUtcTime||ClearDst||AckStatus||AckUtcTime||"
            "AckDst||AckOperator||AgentCsn||AlarmId||StatsticStamp||AlmOperateTimes||ProcessMode||FormNumber||GroupId||"
            "BackupedOnSource||Flag||FlashAlarmLogId||OriginalSeverity||FunctionType||MoDn||NE.strNEFDN||LinkDn||"
            "LinkType||Location||ReasonId||OccurNeTime||OccurUtcTime||OccurDst||ArrivedUtcTime||ShortComment||"
            "BusinessAffected||AddtionalText||AgentId||RootId||HostIP||MOType||DevRootID||SpecialAlmStatus||PreLogId||"
            "MbscLable||FirstOccurNeTime||FirstOccurUtcTime||FirstOccurDst||OccurCount||LastOccurLogId||FdnId||NeFdnId\n" +
                line);
  EXPECT_EQ(outPutAlarmColumn(out), 33002);  // a stream that is not open
  EXPECT_EQ(outPutAlarmRecord(out, r), 33002);
}

// Random records over texts made of 'a', 'b', ' ', '|', '\n' and '\r': a record
// reads back equal exactly when checkAlarmDumpRecord accepts it, so the check
// refuses nothing the layout carries and lets nothing through it does not.
TEST(AlarmTextDumpTest, RoundTripHoldsExactlyForAcceptedRecords) {
  std::mt19937 rng(7);
  const auto& cols = alarmDumpColumns();
  int accepted = 0, refused = 0;
  for (int n = 0; n < 1000; ++n) {
    AlmRecord_t r;
    for (const auto& c : cols) {
      if (c.kind == AlarmDumpColumn::TEXT) {
        std::string t;
        for (int len = static_cast<int>(rng() % 4); len > 0; --len) t += "aab |\n\r"[rng() % (n % 4 ? 5 : 7)];
        c.setText(r, t);
      } else {
        const long edge[] = {0, -1, LONG_MIN, LONG_MAX, CHAR_MIN, CHAR_MAX, 12345};
        c.setNumber(r, c.kind == AlarmDumpColumn::CHAR ? static_cast<signed char>(rng()) : edge[rng() % 7]);
      }
    }
    std::string why;
    const bool ok = checkAlarmDumpRecord(r, why) == 33000;
    std::stringstream io;
    ASSERT_TRUE(writeAlarmColumns(io) && io << "\r\n" && writeAlarmRecord(io, r));  // no line end at the end
    std::vector<AlmRecord_t> back;
    bool same = readAlarmDump(io, back, why) == 33000 && back.size() == 1;
    for (size_t i = 0; same && i < cols.size(); ++i) {
      same = cols[i].kind == AlarmDumpColumn::TEXT ? cols[i].getText(back[0]) == cols[i].getText(r)
                                                   : cols[i].getNumber(back[0]) == cols[i].getNumber(r);
    }
    ASSERT_EQ(ok, same) << "record " << n << ": " << why;
    (ok ? accepted : refused)++;
    if (same) {
      EXPECT_EQ(back[0].getIntExt().empty(), r.getIntExtParam(0, 16) == 0 && r.getIntExtParam(0, 15) == 0);
    }
  }
  EXPECT_TRUE(accepted > 100 && refused > 100) << accepted << " " << refused;
}

TEST(AlarmTextDumpTest, ReaderRefusesBrokenDumpsWhole) {
  std::stringstream good;
  writeAlarmColumns(good);
  good << "\n";
  writeAlarmRecord(good, AlmRecord_t());
  const std::string header = good.str().substr(0, good.str().find('\n') + 1);
  const std::string zeros = good.str().substr(header.size());  // "0||0||...||0", 58 fields
  auto withField = [&](int i, const std::string& v) {  // zeros with field i (0-based) replaced
    std::string s = zeros;
    size_t pos = 0;
    for (int k = 0; k < i; ++k) pos = s.find("||", pos) + 2;
    return s.replace(pos, s.find("||", pos) == std::string::npos ? std::string::npos : s.find("||", pos) - pos, v);
  };
  for (const auto& [text, error] : std::vector<std::pair<std::string, std::string>>{
           {"", "empty input"},
           {"LogId||ListId\n", "line 1: not the alarm dump header"},
           {header + zeros + "\n" + zeros.substr(3) + "\n", "line 3: 57 fields instead of 58"},
           {header + zeros + "||0", "line 2: 59 fields instead of 58"},
           {header + withField(0, "9223372036854775808"), "field LogId is not a decimal integer"},
           {header + withField(1, " 1"), "field ListId is not a decimal integer"},
           {header + withField(2, ""), "field RelatedLogId is not"},
           {header + withField(5, "128"), "field Severity is not an integer in -128..127"},
           {header + withField(4, "-129"), "field EventSubType is not an integer in -128..127"},
           {header + withField(30, "a\rb"), "field MoDn holds a carriage return"},
       }) {
    std::vector<AlmRecord_t> back(1);
    std::string why;
    std::stringstream in(text);
    EXPECT_EQ(readAlarmDump(in, back, why), 33021) << text;
    EXPECT_NE(why.find(error), std::string::npos) << why;
    EXPECT_TRUE(back.empty());
  }
  std::stringstream ok(header + withField(5, "-128") + "\n" + withField(0, "+7") + "\n");
  std::vector<AlmRecord_t> back;
  std::string why;
  ASSERT_EQ(readAlarmDump(ok, back, why), 33000) << why;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].getSeverity(), -128);
  EXPECT_EQ(back[1].getLogId(), 7);
}

}  // namespace
}  // namespace Kyrofm
