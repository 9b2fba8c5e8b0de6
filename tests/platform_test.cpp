// Tests of the platform layer: trace client and alarm record.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>
#include <tuple>
#include <vector>

#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/KyroWideString.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

TEST(KyroTraceTest, FormatsBodyFiltersByLevelAndNeverTruncates) {
  fmtest::TraceCapture cap;
  KyroTrace::setMinLevel(TRACE_PROGRESS);
  FM_TRACE(TRACE_DETAIL, "hidden %d", 1);
  FM_TRACE(TRACE_ERROR, "CFdnManager::BatchInsert error %s %ld", "x", 42L);
  FM_TRACE(TRACE_ERROR, "%s!", std::string(5000, 'x').c_str());
  auto msgs = cap.sink().messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].text, "CFdnManager::BatchInsert error x 42");
  EXPECT_EQ(std::make_tuple(msgs[0].module, msgs[0].level, msgs[1].text.size()),
            std::make_tuple(FM_MODULE, static_cast<int>(TRACE_ERROR), size_t{5001}));
}

TEST(KyroTraceTest, FunctionGuardAndLongTrace) {
  fmtest::TraceCapture cap;
  {
    FM_FUNC_TRACE("neAlmSeqToList");
    KyroLongTrace lt(TRACE_PROGRESS, "ids", 10);
    for (int i = 0; i < 6; ++i) lt.add(i * 100);
  }
  auto msgs = cap.sink().messages();
  ASSERT_GE(msgs.size(), 4u);
  EXPECT_EQ(msgs.front().text, "enter neAlmSeqToList");
  EXPECT_EQ(msgs.back().text, "leave neAlmSeqToList");
  // Chunks of at most 10 characters of items: every item appears exactly once.
  for (int i = 1; i < 6; ++i) EXPECT_EQ(cap.count(std::to_string(i * 100)), 1u) << i;
}

TEST(KyroTraceConcurrency, ConcurrentTracing) {
  fmtest::TraceCapture cap;
  fmtest::runTogether(4, [](int t) {
    for (int i = 0; i < 200; ++i) FM_TRACE(TRACE_WARNING, "thread %d msg %d", t, i);
  });
  EXPECT_EQ(cap.sink().messages().size(), 800u);
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(KyroTraceFileTest, LineCarriesTimePidTidAndFoldsBreaks) {
  std::string path = fmtest::makeTempDir("trace_line") + "/t.log";
  KyroStreamSink(path).write({TRACE_ERROR, FM_MODULE, "first  \r\n  second\n"});
  auto lines = readLines(path);
  std::smatch m;
  std::regex re(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}Z pid=(\d+) tid=(\d+) ERROR mod=16 first \| second)");
  ASSERT_TRUE(lines.size() == 1 && std::regex_match(lines[0], m, re)) << lines.at(0);
  EXPECT_EQ(std::stol(m[1]), static_cast<long>(::getpid()));
  EXPECT_EQ(std::stol(m[2]), static_cast<long>(::syscall(SYS_gettid)));
}

// Together the two files hold a suffix of what was written: per writer, its
// numbers without a gap up to its last line; the last writer runs alone.
TEST(KyroTraceFileTest, RotatesAtTheCapKeepingOneOlderFile) {
  std::string path = fmtest::makeTempDir("trace_rot") + "/r.log";
  KyroTrace::setMaxFileBytes(3000);
  const int counts[] = {150, 150, 150, 60};
  {
    KyroStreamSink sink(path);
    auto writer = [&](int t) {
      for (int i = 0; i < counts[t]; ++i) sink.write({5, 16, " w" + std::to_string(t) + std::to_string(i)});
    };
    std::thread a(writer, 0), b(writer, 1), c(writer, 2);
    a.join(), b.join(), c.join(), writer(3);
  }
  KyroTrace::setMaxFileBytes(10u << 20);
  EXPECT_FALSE(std::ifstream(path + ".2").good());
  int next[] = {-1, -1, -1, -1};
  for (const std::string& file : {path + ".1", path}) {
    long size = std::ifstream(file, std::ios::ate).tellg();
    EXPECT_TRUE(size <= 3000 && (file == path || size > 2900)) << file << " " << size;
    for (const auto& l : readLines(file)) {
      int t = l[l.find(" w") + 2] - '0', i = std::stoi(l.substr(l.find(" w") + 3));
      EXPECT_TRUE(next[t] < 0 || next[t] == i) << l;
      next[t] = i + 1;
    }
  }
  for (int t = 0; t < 4; ++t) EXPECT_TRUE(next[t] == counts[t] || (t < 3 && next[t] < 0)) << t;
}

// Two processes share a trace file: the one that finds the name already
// rotated by the other reopens it and renames nothing (the older file stays).
TEST(KyroTraceFileTest, AFileAnotherWriterRotatedIsOnlyReopened) {
  const std::string path = fmtest::makeTempDir("trace_two") + "/r.log";
  KyroTrace::setMaxFileBytes(300);
  {
    KyroStreamSink a(path), b(path);
    for (int i = 0; i < 50 && !std::ifstream(path + ".1").good(); ++i) {
      a.write({5, 16, std::to_string(i) + std::string(100, 'a')});  // lines that differ
    }
    const auto older = readLines(path + ".1");
    ASSERT_FALSE(older.empty());
    b.write({5, 16, std::string(100, 'b')});
    EXPECT_EQ(readLines(path + ".1"), older);
  }
  KyroTrace::setMaxFileBytes(10u << 20);
}

TEST(KyroTraceFileTest, DefaultSinkMakesTheFolderWithParentsOrFallsBackToStderr) {
  std::string base = fmtest::makeTempDir("trace_root");
  std::ofstream(base + "/plain") << "x";
  struct { std::string root, file; } cases[] = {
      {base + "/a/b", base + "/a/b/log/fm_common.log"}, {base + "/plain/r", ""}};
  auto previous = KyroTrace::setSink(nullptr);
  for (const auto& c : cases) {
    ::setenv("KYRO_ROOT", c.root.c_str(), 1);
    FM_TRACE(TRACE_ERROR, "marker %s", c.root.c_str());
    EXPECT_EQ(KyroTrace::logFilePath(), c.file);
    EXPECT_TRUE(c.file.empty() || readLines(c.file).at(0).find("marker " + c.root) != std::string::npos);
  }
  ::setenv("KYRO_ROOT", fmtest::kyroRoot().c_str(), 1);
  KyroTrace::setSink(previous);
}

TEST(KyroTraceTest, LevelParsing) {
  struct { const char* text; int level; } cases[] = {
      {"detail", 2}, {"PROGRESS", 3}, {" Warning ", 4}, {"error", 5}, {"2", 2}, {"5", 5},
      {"debug", 0}, {"1", 0}, {"6", 0}, {"3x", 0}, {"", 0}, {"err", 0}};
  for (const auto& c : cases) {
    int level = 0;
    EXPECT_EQ(KyroTrace::parseLevel(c.text, level), c.level != 0) << c.text;
    EXPECT_EQ(level, c.level) << c.text;
  }
}

TEST(AlmRecordTest, CopiesAreIndependentAndParamSixIsGroup) {
  AlmRecord_t a;
  a.setGroupId(12);
  a.setMoDn("NE=1,Shelf=2");
  a.setSeverity(3);
  a.setIntExtParam(0, 16, 99);
  a.setStrExtParam(1, 3, "root");
  a.setParam(8, 5);
  AlmRecord_t b = a;
  b.setStrExtParam(1, 3, "other");
  b.setParam(6, 13);
  EXPECT_EQ((std::vector<long>{a.getParam(6), b.getGroupId(), b.getIntExtParam(0, 16), b.getParam(8), a.getParam(0),
                               a.getParam(11), a.getLevel()}),
            (std::vector<long>{12, 13, 99, 5, 0, 0, 3}));
  EXPECT_STREQ(a.getStrExtParam(1, 3), "root");
  EXPECT_STREQ(a.getStrExtParam(5, 5), "");
}

TEST(AlmRecordTest, FieldPropertiesCoverTheMetadata) {
  auto* pm = XRFMAlarmFieldPropManager::instance();
  const auto* p = pm->getProp(6, 0, 16);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getDbName(), "IntExt0_16");
  EXPECT_EQ(pm->getProp(7, 1, 3)->getDbName(), "StrExt1_3");
  EXPECT_EQ(pm->getProp(7, 9, 0), nullptr);
  EXPECT_EQ(pm->getProp(6, 0, AlmRecord_t::intExtMetadata.getColumnCount(0)), nullptr);
  EXPECT_EQ(pm->getProp(5, 0, 0), nullptr);
}

// UTF-8 at each boundary of the sequence lengths converts both ways; what is
// not well formed (overlong, surrogate, above U+10FFFF, bad lead, cut short)
// comes through byte by byte as Latin-1; a wide non-code point becomes '?'.
TEST(KyroWideStringTest, Utf8BoundariesAndMalformedBytes) {
  auto w = [](std::initializer_list<char32_t> cps) {
    std::wstring out;
    for (char32_t c : cps) out.push_back(static_cast<wchar_t>(c));
    return out;
  };
  const std::pair<std::string, std::wstring> valid[] = {
      {"\x7F", w({0x7F})},           {"\xC2\x80", w({0x80})},          {"\xDF\xBF", w({0x7FF})},
      {"\xE0\xA0\x80", w({0x800})}, {"\xEF\xBF\xBF", w({0xFFFF})},    {"\xF0\x90\x80\x80", w({0x10000})},
      {"\xF4\x8F\xBF\xBF", w({0x10FFFF})}};
  for (const auto& [utf8, wide] : valid) {
    EXPECT_EQ(KyroA2W(utf8), wide) << utf8;
    EXPECT_EQ(KyroW2A(wide), utf8) << utf8;
  }
  for (const std::string bad : {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                                "\xE4\xB8", "\xC3("}) {
    std::wstring latin1;
    for (unsigned char c : bad) latin1.push_back(static_cast<wchar_t>(c));
    EXPECT_EQ(KyroA2W(bad), latin1);
  }
  // A UTF-16 pair is two invalid characters in a 4-byte wchar_t, not one.
  EXPECT_EQ(KyroW2A(w({0xD800, 'x', 0x110000, 0xD83D, 0xDE00})), "?x???");
  EXPECT_EQ(KyroA2W(static_cast<const char*>(nullptr)) + KyroA2W(""), L"");
}

}  // namespace
}  // namespace Kyrofm
