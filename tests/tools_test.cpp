// Tests of the text, list, flag and file utilities.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <tuple>

#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroOS.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

// Random concatenations of `pieces`, the same ones on every run.
std::vector<std::string> mixes(const std::vector<std::string>& pieces, unsigned seed, int count, int maxLen) {
  std::mt19937 gen(seed);
  std::vector<std::string> out(count);
  for (auto& s : out) {
    for (int n = static_cast<int>(gen() % (maxLen + 1)); n > 0; --n) s += pieces[gen() % pieces.size()];
  }
  return out;
}

TEST(ToolsTextTest, ReplaceStringNeverRescansInsertedText) {
  struct Case {
    std::string text, from, to, all, first;
  };
  const std::vector<Case> cases = {
      {"a&b&", "&", "&amp;", "a&amp;b&amp;", "a&amp;b&"}, {"aaa", "a", "aa", "aaaaaa", "aaaa"},
      {"abcabc", "abc", "", "", "abc"},                  {"xyz", "q", "r", "xyz", "xyz"},
      {"", "a", "b", "", ""},                            {"aXbXXc", "XX", "Y", "aXbYc", "aXbYc"},
      {"same", "", "boom", "same", "same"},  // an empty pattern changes nothing
  };
  for (const auto& c : cases) {
    std::string all = c.text, first = c.text;
    replaceString(all, c.from, c.to);
    replaceStrFirst(first, c.from, c.to);
    EXPECT_EQ(all + "|" + first, c.all + "|" + c.first) << c.text;
  }
}

// The escaped forms, and a round trip over entity texts: "&lt;" is sent as
// "&amp;lt;" and must not be decoded twice.
TEST(ToolsTextTest, XmlEscapesAndRoundTrip) {
  std::string s = "<a href='x'>", t = "a&b\"c\nd", v = "a\x7f" "b&lt;";
  transXmlChar(s);
  transXmlChar(t);
  EXPECT_EQ(s + "|" + t, "&lt;a href=&apos;x&apos;&gt;|a&amp;b&quot;c\n\x7f" "d");
  unTransXmlChar(v);  // a marker whose line feed was lost on the way becomes the line feed
  EXPECT_EQ(v, "a\nb<");
  for (const auto& m : mixes({"&", "<", ">", "'", "\"", "\n", "&lt;", "&gt;", "&amp;", "&apos;", "&quot;", "amp;",
                              "lt;", "a", ";", "\n\n", " "}, 11, 1000, 10)) {
    std::string x = m;
    transXmlChar(x);
    EXPECT_EQ(x.find_first_of("<>'\""), std::string::npos);
    unTransXmlChar(x);
    ASSERT_EQ(x, m);
  }
  std::string out;
  KyroCommonUtils::setGlobalVersion(false);
  getXmlHeadLine(out);
  KyroCommonUtils::setGlobalVersion(true);
  EXPECT_EQ(out, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?> \n");
}

// Pieces that collide with the escape texts: separators, their escapes,
// fragments of the escapes, the letters they are made of and odd bytes.
TEST(ToolsEncodeTest, ExampleAndRoundTripOverSeparatorsAndEscapeTexts) {
  EXPECT_EQ(EncodeString("a|b,c;d&e"), "a&vtl-b&cma-c&semi-d&amp-e");
  std::list<std::string> l = {"&amp-", "x&cma-y", ""};
  DecodeStringList(l);
  EXPECT_EQ(l, (std::list<std::string>{"&", "x,y", ""}));
  for (const auto& s : mixes({"&", "|", ",", ";", "-", "&amp-", "&vtl-", "&cma-", "&semi-", "amp-", "vtl-", "&amp",
                              "&a", "&s", "semi", "m", "a", "&&", "-&", "&amp;", "", std::string(1, '\0'), "\xff"},
                             7, 2000, 12)) {
    const std::string enc = EncodeString(s);
    EXPECT_EQ(enc.find_first_of("|,;"), std::string::npos);
    ASSERT_EQ(DecodeString(enc), s) << s;
  }
  // Joined with a separator and split again, encoded elements come back.
  std::list<std::string> in = {"a,b", "&cma-", "x|y;z"}, out;
  std::string joined;
  List2String(in, joined, ',', true);
  String2List(joined, out, ",");
  DecodeStringList(out);
  EXPECT_EQ(out, in);
}

TEST(ToolsListTest, JoinStringsAndNumbers) {
  std::string out = "old";
  List2String({}, out, ',', false);
  EXPECT_EQ(out, "");
  List2String({"a", ""}, out, ';', false);  // only one trailing separator is dropped
  EXPECT_EQ(out, "a;");
  out = "kept";
  List2String(std::list<long>{}, out);
  Set2String({}, out);
  EXPECT_EQ(out, "kept");
  List2String(std::list<long>{3, 1}, out);
  EXPECT_EQ(out, "3,1");
  Set2String({3, 1, -7}, out);
  EXPECT_EQ(out, "-7,1,3");
}

TEST(ToolsListTest, SplitSkipsEmptyPiecesAndTakesLongSeparators) {
  const std::vector<std::tuple<std::string, std::string, std::list<std::string>>> cases = {
      {",a,,b,", ",", {"a", "b"}},   {"a||||b||", "||", {"a", "b"}},     {"a|b||c", "||", {"a|b", "c"}},
      {"|||", "||", {"|"}},          {"abc", "abc", {}},                 {"xabcabcy", "abc", {"x", "y"}},
      {"no-sep", ";;", {"no-sep"}},  {"", ",", {}},
      {",a,,b,", "", {",a,,b,"}},  // an empty separator keeps the whole text
  };
  fmtest::TraceCapture quiet;
  for (const auto& [text, sep, expected] : cases) {
    std::list<std::string> out = {"stale"};
    String2List(text, out, sep);
    EXPECT_EQ(out, expected) << text << " / " << sep;
  }
  std::list<long> l = {99};
  std::set<long> s = {99}, one;
  String2LongList("12,3", "", l);
  String2LongSet("-4x", "", one);
  EXPECT_EQ(l, (std::list<long>{12}));
  EXPECT_EQ(one, (std::set<long>{-4}));
  String2LongSet("3;1;3", ";", s);
  EXPECT_EQ(s, (std::set<long>{1, 3}));
  String2LongList(";;7;;x;; -2;;", ";;", l);
  EXPECT_EQ(l, (std::list<long>{7, 0, -2}));
  // Numbers joined by List2String come back exactly, whatever their size.
  const std::list<long> big = {LONG_MIN, -1, 4294967296L, LONG_MAX};
  std::string text;
  List2String(big, text);
  String2LongList(text, ",", l);
  EXPECT_EQ(l, big);
}

TEST(ToolsFlagTest, BinaryDigitsAndParamFlagBitsModulo32) {
  EXPECT_EQ((std::vector<unsigned long>{Cnvt2to10("01"), Cnvt2to10("0011"), Cnvt2to10("x1a1"), Cnvt2to10(""),
                                        Cnvt2to10(std::string(32, '1')), Cnvt2to10(std::string(33, '1'))}),
            (std::vector<unsigned long>{2, 12, 10, 0, 4294967295ul, 0}));  // other characters keep their position
  unsigned long w = 0;
  setParamFlag(w, 3, 1);
  EXPECT_EQ(w, 8ul);
  setParamFlag(w, 35, 0);  // 35 mod 32 = 3
  EXPECT_EQ(w, 0ul);
  setParamFlag(w, 31, 7);
  EXPECT_EQ(w, 0x80000000ul);
  EXPECT_EQ(getParamFlag(w, 63) * 10 + getParamFlag(w, 30), 10);
  setParamFlag(w, static_cast<char>(-1), 1);  // -1 mod 32 = 31: no undefined shift
  EXPECT_EQ(w, 0x80000000ul);
}

// Correlation roles: the three bits 6, 7, 8 of the parameter flag word.
unsigned long bits(int b6, int b7, int b8) { return (b6 ? 1ul << 6 : 0) | (b7 ? 1ul << 7 : 0) | (b8 ? 1ul << 8 : 0); }

TEST(ToolsFlagTest, CorrelativeRoleOfEveryBitCombination) {
  struct Row {
    unsigned long start;
    unsigned int role;       // getCorrelativeFlag of the start word
    unsigned long asFirst;   // word after being linked as first
    unsigned long asSecond;  // word after being linked as second
  };
  const std::vector<Row> rows = {
      {bits(0, 0, 0), 0, bits(0, 0, 1), bits(1, 0, 0)}, {bits(1, 0, 0), 1, bits(0, 1, 0), bits(1, 0, 0)},
      {bits(0, 1, 0), 3, bits(0, 1, 0), bits(0, 1, 0)}, {bits(0, 0, 1), 2, bits(0, 0, 1), bits(0, 1, 0)},
      {bits(1, 1, 0), 1, bits(0, 1, 0), bits(1, 1, 0)}, {bits(1, 0, 1), 1, bits(0, 1, 1), bits(1, 1, 0)},
      {bits(0, 1, 1), 3, bits(0, 1, 1), bits(0, 1, 0)}, {bits(1, 1, 1), 1, bits(0, 1, 1), bits(1, 1, 0)},
  };
  const unsigned long others = 0x80000001ul | (1ul << 5) | (1ul << 9);  // untouched bits
  for (const auto& a : rows) {
    AlmRecord_t probe;
    probe.setParamFlagWord(a.start);
    EXPECT_EQ(getCorrelativeFlag(probe), a.role) << a.start;
    for (const auto& b : rows) {
      auto first = std::make_shared<AlmRecord_t>(), second = std::make_shared<AlmRecord_t>();
      first->setParamFlagWord(a.start | others);
      second->setParamFlagWord(b.start | others);
      setCorrelativeFlag(first, second);
      EXPECT_EQ(first->getParamFlagWord(), a.asFirst | others) << a.start << "/" << b.start;
      EXPECT_EQ(second->getParamFlagWord(), b.asSecond | others) << a.start << "/" << b.start;
    }
    // Either record may be missing.
    auto only = std::make_shared<AlmRecord_t>();
    only->setParamFlagWord(a.start);
    setCorrelativeFlag(only, nullptr);
    EXPECT_EQ(only->getParamFlagWord(), a.asFirst);
    only->setParamFlagWord(a.start);
    setCorrelativeFlag(nullptr, only);
    EXPECT_EQ(only->getParamFlagWord(), a.asSecond);
  }
  setCorrelativeFlag(nullptr, nullptr);
  // Linked both ways, or with itself: role three.
  auto a = std::make_shared<AlmRecord_t>(), b = std::make_shared<AlmRecord_t>(), c = std::make_shared<AlmRecord_t>();
  setCorrelativeFlag(a, b);
  setCorrelativeFlag(b, c);
  setCorrelativeFlag(c, c);
  EXPECT_EQ(getCorrelativeFlag(*b) * 10 + getCorrelativeFlag(*c), 33u);
}

// The combined alarm status and its two flags, both ways.
TEST(ToolsFlagTest, AlarmStatusRoundTrip) {
  for (long status : {1, 2, 3, 4}) {
    char ack = 7, clr = 7;
    getAlmStatus(status, ack, clr);
    EXPECT_EQ(ack * 2 + clr + 1, status);
    EXPECT_EQ(AlmRecord_t::getStatus(ack, clr), status);
  }
  for (long status : {0, 5, -1}) {
    char ack = 7, clr = 7;
    getAlmStatus(status, ack, clr);
    EXPECT_EQ(ack * 10 + clr, 77) << status;
  }
  EXPECT_EQ(AlmRecord_t::getStatus(2, 0) + AlmRecord_t::getStatus(0, -1), 0);
}

// Size, access and removal of a file: -1 for a missing file, an empty path or an unknown encoding.
TEST(ToolsFileTest, SizeAccessAndUnlink) {
  const std::string f = fmtest::makeTempDir("kyroos") + "/f";
  std::ofstream(f) << "12345";
  EXPECT_EQ((std::vector<long>{KYRO_OS_filesize(f, "UTF-8"), KYRO_OS_filesize(f, "GBK"), KYRO_OS_access(f, 0),
                               KYRO_OS_unlink(f, "latin1"), KYRO_OS_unlink("", ""), KYRO_OS_unlink(f, nullptr),
                               KYRO_OS_access(f, 0), KYRO_OS_unlink(f, "utf-8"), KYRO_OS_filesize(f, "")}),
            (std::vector<long>{5, -1, 0, -1, -1, 0, -1, -1, -1}));
}

}  // namespace
}  // namespace Kyrofm
