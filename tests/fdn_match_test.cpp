// Tests of the FDN pattern matcher: the documented cases and a differential
// test against a brute-force reference on random FDN trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fm_common/fmcommon/XRFMFdnMatch.h"
#include "fm_common/platform/CFDNSplitter.h"

namespace Kyrofm {
namespace {

// The components of `text`: the pieces between separators, empty ones dropped.
std::vector<std::string> components(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string c; std::getline(in, c, sep);)
    if (!c.empty()) out.push_back(c);
  return out;
}

// Brute force: some pattern with at least one component is a prefix of the
// FDN's components; "*" as the last pattern matches all unless ignored.
bool referenceMatch(const std::vector<std::string>& patterns, const std::string& fdn, char sep, bool ignoreMatchAll) {
  if (!ignoreMatchAll && !patterns.empty() && patterns.back() == "*") return true;
  std::vector<std::string> f = components(fdn, sep);
  for (const std::string& p : patterns) {
    std::vector<std::string> pc = components(p, sep);
    if (pc.empty() || pc.size() > f.size()) continue;
    if (std::equal(pc.begin(), pc.end(), f.begin())) return true;
  }
  return false;
}

XRFMFdnMatch matcherOf(const std::vector<std::string>& patterns, char sep = ',') {
  XRFMFdnMatch m(sep);
  for (const auto& p : patterns) m.addPattern(p.c_str());
  return m;
}

TEST(XRFMFdnMatchTest, DocumentedCases) {
  struct Case {
    std::vector<std::string> patterns;
    const char* fdn;
    bool ignoreMatchAll;
    bool expected;
  };
  const Case cases[] = {
      {{"A"}, "A", false, true}, {{"A"}, "A,B", false, true}, {{"A"}, "D", false, false}, {{"A"}, "", false, false},
      {{"A"}, "AB", false, false},    // one longer component
      {{"A,B"}, "A", false, false},   // above the pattern
      {{"A,B"}, "A,B,E", false, true}, {{"A,B"}, "A,BE", false, false},
      {{"A", "A,B"}, "A,D", false, true},  // through the end flag of A
      {{"A,B", "A"}, "A,D", false, true}, {{"A", "*"}, "Z,Y", false, true}, {{"A", "*"}, "Z,Y", true, false},
      {{"A", "*"}, "*,Y", true, true}, {{"A", "*"}, "", false, true},
      {{"*", "A"}, "Z", false, false},  // a later pattern clears the flag
      {{"*", "A"}, "*", false, true},
      {{",*"}, "Z", false, false},      // not exactly "*"
      {{}, "A", false, false}, {{}, "", false, false},
      {{""}, "A", false, false},        // an empty pattern matches nothing, also beside other patterns
      {{""}, "", false, false}, {{"", "A"}, "B", false, false}, {{"", "A"}, "", false, false},
      {{",,", "A"}, "B", false, false},
      {{",A,,B"}, "A,B", false, true},  // leading and doubled separators
      {{"A,B"}, ",,A,,,B,", false, true}, {{"A,B,"}, "A,B", false, true}, {{"A,,"}, "A,C", false, true},
      {{"A,B"}, "A,,", false, false}, {{"A", "A,B"}, "A,,", false, true}};
  for (const Case& c : cases) {
    std::string label = "patterns {";
    for (const auto& p : c.patterns) label += "\"" + p + "\" ";
    SCOPED_TRACE(label + "} fdn \"" + c.fdn + "\" ignore " + std::to_string(c.ignoreMatchAll));
    XRFMFdnMatch m = matcherOf(c.patterns);
    EXPECT_EQ(m.match(c.fdn, c.ignoreMatchAll), c.expected);
    EXPECT_EQ(referenceMatch(c.patterns, c.fdn, ',', c.ignoreMatchAll), c.expected);
  }
}

TEST(XRFMFdnMatchTest, NullInputsAndLongComponents) {
  XRFMFdnMatch m(',');
  m.addPattern(nullptr);
  EXPECT_TRUE(m.getPatterns().empty());
  const std::string longComp(1000, 'q');
  m.addPattern(("NE," + longComp).c_str());
  EXPECT_FALSE(m.match(nullptr, false));
  EXPECT_TRUE(m.match(("NE," + longComp + ",Board=1").c_str(), false));
  std::string almost = "NE," + longComp;
  almost[almost.size() - 10] = 'r';  // differs far beyond 255 characters
  EXPECT_FALSE(m.match(almost.c_str(), false));
  EXPECT_FALSE(m.match(("NE," + longComp.substr(0, 255)).c_str(), false));
  m.addPattern("*");
  EXPECT_TRUE(m.match(nullptr, false));
}

TEST(XRFMFdnMatchTest, CopyAndAssignmentRebuildIndependentTables) {
  XRFMFdnMatch a(',');
  a.addPattern("A,B");
  a.addPattern("*");
  XRFMFdnMatch copy(a);
  EXPECT_EQ(copy.getPatterns(), a.getPatterns());
  EXPECT_TRUE(copy.isMatchAll());
  a.addPattern("C");  // changes a only
  EXPECT_FALSE(a.isMatchAll());
  EXPECT_TRUE(copy.match("Z", false));
  EXPECT_FALSE(copy.match("C", true));
  EXPECT_TRUE(a.match("C,D", false));

  XRFMFdnMatch b('/');
  b.addPattern("X/Y");
  b = a;
  EXPECT_EQ(b.getSeparator(), ',');
  EXPECT_EQ(b.getPatterns(), a.getPatterns());
  EXPECT_FALSE(b.match("X/Y", false));
  EXPECT_TRUE(b.match("A,B,Q", false));
  XRFMFdnMatch& self = b;
  b = self;
  EXPECT_TRUE(b.match("C", false));
  EXPECT_EQ(b.getPatterns().size(), 3u);

  // The default splitter comes from the settings; a copy keeps the source's.
  CFDNSplitter::instance()->setSplitter('/');
  XRFMFdnMatch slash;
  CFDNSplitter::instance()->setSplitter(',');
  EXPECT_EQ(XRFMFdnMatch().getSeparator(), ',');
  slash.addPattern("A/B");
  EXPECT_TRUE(slash.match("/A//B/C", false));
  EXPECT_FALSE(slash.match("A,B", false));
  EXPECT_EQ(XRFMFdnMatch(slash).getSeparator(), '/');
}

TEST(XRFMFdnMatchTest, VeryDeepPatternIsFreedWithoutRecursion) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "a,";
  XRFMFdnMatch m(',');
  m.addPattern(deep.c_str());
  EXPECT_TRUE(m.match((deep + "b").c_str(), false));
  EXPECT_FALSE(m.match("a,a", false));
  // Patterns around the 64th component, beside a shallow one.
  for (size_t d : {63, 64, 65, 66}) {
    std::string p;
    for (size_t k = 0; k < d; ++k) p += "c" + std::to_string(k) + ",";
    XRFMFdnMatch dm(',');
    dm.addPattern("z");
    dm.addPattern(p.c_str());
    SCOPED_TRACE(d);
    EXPECT_TRUE(dm.match((p + "b").c_str(), false));
    EXPECT_TRUE(dm.match(p.c_str(), false));
    EXPECT_FALSE(dm.match(p.substr(0, p.rfind(',', p.size() - 2)).c_str(), false));
  }
  XRFMFdnMatch other(',');
  other = m;  // frees other's tree, builds a deep copy
  other = XRFMFdnMatch(',');
}

// Renders components with random separator noise: sometimes a leading one,
// one to three between components, sometimes trailing ones.
std::string render(const std::vector<std::string>& comps, char sep, std::mt19937& rng) {
  std::string s;
  if (rng() % 3 == 0) s.append(1 + rng() % 2, sep);
  for (size_t i = 0; i < comps.size(); ++i) {
    if (i > 0) s.append(rng() % 4 == 0 ? 2 + rng() % 2 : 1, sep);
    s += comps[i];
  }
  if (rng() % 4 == 0) s.append(1 + rng() % 2, sep);
  return s;
}

TEST(XRFMFdnMatchTest, AgreesWithBruteForceOnRandomTrees) {
  std::mt19937 rng(20261205);
  long positives = 0, negatives = 0;
  for (int trial = 0; trial < 100; ++trial) {
    const char sep = (trial % 3 == 0) ? '/' : ',';
    // Components of a small tree; the other separator appears inside some.
    // Components of 7, 8, 9, 16 and 17 bytes end inside, at and just past a
    // word of the scan.
    const std::vector<std::string> alphabet = {"A",   "B",       "AB",       "NE=1",      "NE=12",
                                               "*",   "x,y",     "x/y",      "R=1",       "Rack=12",
                                               "Rack=123", "Rack=1234", "Board=1234567890", "Board=1234567,/9"};
    auto randomPath = [&](size_t maxDepth) {
      std::vector<std::string> comps;
      size_t depth = rng() % (maxDepth + 1);
      for (size_t i = 0; i < depth; ++i) comps.push_back(alphabet[rng() % alphabet.size()]);
      return comps;
    };
    std::vector<std::vector<std::string>> patternComps;
    std::vector<std::string> patterns;
    size_t n = trial % 20 == 0 ? 800 : rng() % 12;  // some trials make the table grow
    for (size_t i = 0; i < n; ++i) {
      patternComps.push_back(randomPath(4));
      patterns.push_back(render(patternComps.back(), sep, rng));
    }
    if (rng() % 5 == 0) patterns.push_back("*");
    if (rng() % 10 == 0) patterns.push_back("");
    XRFMFdnMatch m(sep);
    for (const auto& p : patterns) m.addPattern(p.c_str());
    XRFMFdnMatch copy(m);

    for (int q = 0; q < 200; ++q) {
      std::vector<std::string> fc;
      if (!patternComps.empty() && rng() % 2 == 0) {
        // Near a pattern: the pattern cut short, extended or with one change.
        fc = patternComps[rng() % patternComps.size()];
        switch (rng() % 3) {
          case 0:
            if (!fc.empty()) fc.resize(rng() % fc.size());
            break;
          case 1:
            for (size_t k = rng() % 3; k > 0; --k) fc.push_back(alphabet[rng() % alphabet.size()]);
            break;
          default:
            if (!fc.empty()) fc[rng() % fc.size()] = alphabet[rng() % alphabet.size()];
        }
      } else {
        fc = randomPath(6);
      }
      const std::string fdn = render(fc, sep, rng);
      const bool ignore = rng() % 2 == 0;
      const bool expected = referenceMatch(patterns, fdn, sep, ignore);
      ASSERT_EQ(m.match(fdn.c_str(), ignore), expected)
          << "trial " << trial << " fdn \"" << fdn << "\" ignore " << ignore;
      ASSERT_EQ(copy.match(fdn.c_str(), ignore), expected) << "copy, trial " << trial;
      (expected ? positives : negatives)++;
    }
  }
  // The generator produces both outcomes in quantity.
  EXPECT_GT(positives, 2500);
  EXPECT_GT(negatives, 2500);
}

}  // namespace
}  // namespace Kyrofm
