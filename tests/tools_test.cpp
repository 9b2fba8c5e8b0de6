// Tests of the text, list and flag utilities.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

TEST(ToolsTextTest, ReplaceStringNeverRescansInsertedText) {
  struct Case {
    std::string text, from, to, all, first;
  };
  const std::vector<Case> cases = {
      {"a&b&", "&", "&amp;", "a&amp;b&amp;", "a&amp;b&"},
      {"aaa", "a", "aa", "aaaaaa", "aaaa"},
      {"abcabc", "abc", "", "", "abc"},
      {"xyz", "q", "r", "xyz", "xyz"},
      {"", "a", "b", "", ""},
      {"aXbXXc", "XX", "Y", "aXbYc", "aXbYc"},
      {"same", "", "boom", "same", "same"},  // an empty pattern changes nothing
  };
  for (const auto& c : cases) {
    std::string all = c.text;
    replaceString(all, c.from, c.to);
    EXPECT_EQ(all, c.all) << c.text;
    std::string first = c.text;
    replaceStrFirst(first, c.from, c.to);
    EXPECT_EQ(first, c.first) << c.text;
  }
}

TEST(ToolsTextTest, XmlEscapes) {
  std::string s = "<a href='x'>";
  transXmlChar(s);
  EXPECT_EQ(s, "&lt;a href=&apos;x&apos;&gt;");
  std::string t = "a&b\"c\nd";
  transXmlChar(t);
  EXPECT_EQ(t, "a&amp;b&quot;c\n\x7f" "d");
  unTransXmlChar(t);
  EXPECT_EQ(t, "a&b\"c\nd");
  // A marker whose line feed was lost on the way becomes the line feed.
  std::string v = "a\x7f" "b&lt;";
  unTransXmlChar(v);
  EXPECT_EQ(v, "a\nb<");
}

TEST(ToolsTextTest, XmlRoundTripOverEntitiesAndSpecialCharacters) {
  // Escaped entity texts must come back as they were: "&lt;" is sent as
  // "&amp;lt;" and must not be decoded twice.
  const std::vector<std::string> pieces = {"&", "<", ">", "'", "\"", "\n", "&lt;", "&gt;", "&amp;", "&apos;",
                                           "&quot;", "amp;", "lt;", "a", ";", "\n\n", " "};
  std::mt19937 gen(11);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> len(0, 10);
  for (int i = 0; i < 1000; ++i) {
    std::string s;
    for (int n = len(gen); n > 0; --n) s += pieces[pick(gen)];
    std::string t = s;
    transXmlChar(t);
    EXPECT_EQ(t.find_first_of("<>'\""), std::string::npos);
    unTransXmlChar(t);
    ASSERT_EQ(t, s);
  }
}

TEST(ToolsTextTest, XmlHeadLineFollowsTheEdition) {
  std::string out;
  KyroCommonUtils::setGlobalVersion(false);
  getXmlHeadLine(out);
  KyroCommonUtils::setGlobalVersion(true);
  EXPECT_EQ(out, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?> \n");
}

TEST(ToolsEncodeTest, DocumentedExample) {
  EXPECT_EQ(EncodeString("a|b,c;d&e"), "a&vtl-b&cma-c&semi-d&amp-e");
  EXPECT_EQ(DecodeString("a&vtl-b&cma-c&semi-d&amp-e"), "a|b,c;d&e");
  std::list<std::string> l = {"&amp-", "x&cma-y", ""};
  DecodeStringList(l);
  EXPECT_EQ(l, (std::list<std::string>{"&", "x,y", ""}));
}

TEST(ToolsEncodeTest, RoundTripOverEveryByte) {
  std::mt19937 gen(20261205);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> len(0, 64);
  for (int i = 0; i < 500; ++i) {
    std::string s;
    for (int n = len(gen); n > 0; --n) s += static_cast<char>(byte(gen));
    const std::string enc = EncodeString(s);
    EXPECT_EQ(enc.find_first_of("|,;"), std::string::npos);
    ASSERT_EQ(DecodeString(enc), s);
  }
}

TEST(ToolsEncodeTest, RoundTripOverSeparatorsAndEscapeTexts) {
  // Pieces that collide with the escape texts: separators, their escapes,
  // fragments of the escapes and the letters they are made of.
  const std::vector<std::string> pieces = {"&",     "|",     ",",      ";",     "-",     "&amp-", "&vtl-",
                                           "&cma-", "&semi-", "amp-",  "vtl-",  "&amp", "&a",    "&s",
                                           "semi",  "m",     "a",      "&&",    "-&",    "&amp;", ""};
  std::mt19937 gen(7);
  std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> len(0, 12);
  for (int i = 0; i < 2000; ++i) {
    std::string s;
    for (int n = len(gen); n > 0; --n) s += pieces[pick(gen)];
    ASSERT_EQ(DecodeString(EncodeString(s)), s) << s;
  }
  // Joined with a separator and split again, encoded elements come back.
  std::list<std::string> in = {"a,b", "&cma-", "x|y;z"};
  std::string joined;
  List2String(in, joined, ',', true);
  std::list<std::string> out;
  String2List(joined, out, ",");
  DecodeStringList(out);
  EXPECT_EQ(out, in);
}

TEST(ToolsListTest, JoinStrings) {
  std::string out = "old";
  List2String({}, out, ',', false);
  EXPECT_EQ(out, "");
  List2String({"a", ""}, out, ';', false);  // only one trailing separator is dropped
  EXPECT_EQ(out, "a;");
  List2String({"a|", "b"}, out, '|', true);
  EXPECT_EQ(out, "a&vtl-|b");
}

TEST(ToolsListTest, JoinNumbers) {
  std::string out = "kept";
  List2String(std::list<long>{}, out);
  EXPECT_EQ(out, "kept");
  Set2String({}, out);
  EXPECT_EQ(out, "kept");
  List2String(std::list<long>{3, 1}, out);
  EXPECT_EQ(out, "3,1");
  Set2String({3, 1, -7}, out);
  EXPECT_EQ(out, "-7,1,3");
}

TEST(ToolsListTest, SplitSkipsEmptyPiecesAndTakesLongSeparators) {
  struct Case {
    std::string text, sep;
    std::list<std::string> expected;
  };
  const std::vector<Case> cases = {
      {",a,,b,", ",", {"a", "b"}},
      {"a||||b||", "||", {"a", "b"}},
      {"a|b||c", "||", {"a|b", "c"}},
      {"|||", "||", {"|"}},
      {"abc", "abc", {}},
      {"xabcabcy", "abc", {"x", "y"}},
      {"no-sep", ";;", {"no-sep"}},
      {"", ",", {}},
  };
  for (const auto& c : cases) {
    std::list<std::string> out = {"stale"};
    String2List(c.text, out, c.sep);
    EXPECT_EQ(out, c.expected) << c.text << " / " << c.sep;
  }
}

TEST(ToolsListTest, EmptySeparatorKeepsTheWholeText) {
  fmtest::TraceCapture cap;
  std::list<std::string> out;
  String2List(",a,,b,", out, "");
  EXPECT_EQ(out, (std::list<std::string>{",a,,b,"}));
  std::list<long> ll;
  String2LongList("12,3", "", ll);
  EXPECT_EQ(ll, (std::list<long>{12}));
  std::set<long> ls;
  String2LongSet("-4x", "", ls);
  EXPECT_EQ(ls, (std::set<long>{-4}));
}

TEST(ToolsListTest, SplitNumbers) {
  std::set<long> s = {99};
  String2LongSet("3;1;3", ";", s);
  EXPECT_EQ(s, (std::set<long>{1, 3}));
  std::list<long> l = {99};
  String2LongList(";;7;;x;; -2;;", ";;", l);
  EXPECT_EQ(l, (std::list<long>{7, 0, -2}));
  // Numbers joined by List2String come back exactly, whatever their size.
  const std::list<long> big = {LONG_MIN, -1, 4294967296L, LONG_MAX};
  std::string text;
  List2String(big, text);
  String2LongList(text, ",", l);
  EXPECT_EQ(l, big);
}

TEST(ToolsFlagTest, BinaryDigitStrings) {
  EXPECT_EQ(Cnvt2to10("01"), 2u);
  EXPECT_EQ(Cnvt2to10("0011"), 12u);
  EXPECT_EQ(Cnvt2to10("x1a1"), 10u);  // other characters keep their position
  EXPECT_EQ(Cnvt2to10(""), 0u);
  EXPECT_EQ(Cnvt2to10(std::string(32, '1')), 4294967295ul);
  EXPECT_EQ(Cnvt2to10(std::string(33, '1')), 0u);
}

TEST(ToolsFlagTest, ParamFlagBitsModulo32) {
  unsigned long w = 0;
  setParamFlag(w, 3, 1);
  EXPECT_EQ(w, 8ul);
  setParamFlag(w, 35, 0);  // 35 mod 32 = 3
  EXPECT_EQ(w, 0ul);
  setParamFlag(w, 31, 7);
  EXPECT_EQ(w, 0x80000000ul);
  EXPECT_EQ(getParamFlag(w, 63), 1);
  EXPECT_EQ(getParamFlag(w, 30), 0);
  setParamFlag(w, static_cast<char>(-1), 1);  // -1 mod 32 = 31: no undefined shift
  EXPECT_EQ(w, 0x80000000ul);
}

// Correlation roles: the three bits 6, 7, 8 of the parameter flag word.
unsigned long bits(int b6, int b7, int b8) { return (b6 ? 1ul << 6 : 0) | (b7 ? 1ul << 7 : 0) | (b8 ? 1ul << 8 : 0); }

TEST(ToolsFlagTest, CorrelativeRoleOfEveryBitCombination) {
  struct Row {
    unsigned long start;
    unsigned int role;         // getCorrelativeFlag of the start word
    unsigned long asFirst;     // word after being linked as first
    unsigned long asSecond;    // word after being linked as second
  };
  const std::vector<Row> rows = {
      {bits(0, 0, 0), 0, bits(0, 0, 1), bits(1, 0, 0)},
      {bits(1, 0, 0), 1, bits(0, 1, 0), bits(1, 0, 0)},
      {bits(0, 1, 0), 3, bits(0, 1, 0), bits(0, 1, 0)},
      {bits(0, 0, 1), 2, bits(0, 0, 1), bits(0, 1, 0)},
      {bits(1, 1, 0), 1, bits(0, 1, 0), bits(1, 1, 0)},
      {bits(1, 0, 1), 1, bits(0, 1, 1), bits(1, 1, 0)},
      {bits(0, 1, 1), 3, bits(0, 1, 1), bits(0, 1, 0)},
      {bits(1, 1, 1), 1, bits(0, 1, 1), bits(1, 1, 0)},
  };
  const unsigned long others = 0x80000001ul | (1ul << 5) | (1ul << 9);  // untouched bits
  for (const auto& a : rows) {
    AlmRecord_t probe;
    probe.setParamFlagWord(a.start);
    EXPECT_EQ(getCorrelativeFlag(probe), a.role) << a.start;
    for (const auto& b : rows) {
      auto first = std::make_shared<AlmRecord_t>();
      auto second = std::make_shared<AlmRecord_t>();
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
}

TEST(ToolsFlagTest, RecordLinkedBothWaysHasRoleThree) {
  auto a = std::make_shared<AlmRecord_t>();
  auto b = std::make_shared<AlmRecord_t>();
  auto c = std::make_shared<AlmRecord_t>();
  setCorrelativeFlag(a, b);
  setCorrelativeFlag(b, c);
  setCorrelativeFlag(c, c);  // the same record on both sides
  EXPECT_EQ(getCorrelativeFlag(*b), 3u);
  EXPECT_EQ(getCorrelativeFlag(*c), 3u);
}

TEST(ToolsFlagTest, AlarmStatus) {
  struct Row {
    long status;
    char ack, clr;
  };
  for (const Row& r : std::vector<Row>{{1, 0, 0}, {2, 0, 1}, {3, 1, 0}, {4, 1, 1}, {0, 7, 7}, {5, 7, 7}, {-1, 7, 7}}) {
    char ack = 7, clr = 7;
    getAlmStatus(r.status, ack, clr);
    EXPECT_EQ(ack, r.ack) << r.status;
    EXPECT_EQ(clr, r.clr) << r.status;
  }
}

}  // namespace
}  // namespace Kyrofm
