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
      {{"A"}, "A,B", false, true},      {{"A"}, "AB", false, false},  {{"A,B"}, "A", false, false},
      {{"A", "*"}, "Z,Y", true, false}, {{"*", "A"}, "Z", false, false},  // a later pattern clears the flag
      {{"", "A"}, "B", false, false},  // an empty pattern matches nothing
      {{",A,,B"}, "A,B", false, true},  {{"A,B"}, ",,A,,,B,", false, true}};  // separator runs
  for (const Case& c : cases) {
    SCOPED_TRACE("row " + std::to_string(&c - cases));
    EXPECT_EQ(matcherOf(c.patterns).match(c.fdn, c.ignoreMatchAll), c.expected);
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
  m.addPattern("*");
  EXPECT_TRUE(m.match(nullptr, false));
}

TEST(XRFMFdnMatchTest, CopyAndAssignmentRebuildIndependentTables) {
  XRFMFdnMatch a(',');
  a.addPattern("A,B");
  a.addPattern("*");
  XRFMFdnMatch copy(a);
  a.addPattern("C");  // changes a only
  EXPECT_FALSE(a.isMatchAll());
  EXPECT_TRUE(copy.match("Z", false));
  EXPECT_FALSE(copy.match("C", true));

  XRFMFdnMatch b('/');
  b.addPattern("X/Y");
  b = a;
  XRFMFdnMatch& self = b;
  b = self;
  EXPECT_EQ(b.getPatterns(), a.getPatterns());
  EXPECT_FALSE(b.match("X/Y", false));
  EXPECT_TRUE(b.match("A,B,Q", false) && b.match("C", false));

  // The default splitter comes from the settings; a copy keeps the source's.
  CFDNSplitter::instance()->setSplitter('/');
  XRFMFdnMatch slash;
  CFDNSplitter::instance()->setSplitter(',');
  slash.addPattern("A/B");
  EXPECT_TRUE(XRFMFdnMatch(slash).match("/A//B/C", false));
  EXPECT_FALSE(slash.match("A,B", false));
}

// Patterns around the 64th component (the depth mask's edge), beside a shallow one.
TEST(XRFMFdnMatchTest, PatternsAroundTheDepthMaskEdge) {
  for (size_t d : {63, 64, 65, 66}) {
    std::string p;
    for (size_t k = 0; k < d; ++k) p += "c" + std::to_string(k) + ",";
    XRFMFdnMatch dm = matcherOf({"z", p});
    SCOPED_TRACE(d);
    EXPECT_TRUE(dm.match((p + "b").c_str(), false));
    EXPECT_TRUE(dm.match(p.c_str(), false));
    EXPECT_FALSE(dm.match(p.substr(0, p.rfind(',', p.size() - 2)).c_str(), false));
  }
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
      // Near a pattern (cut short, extended or with one change) or anywhere.
      std::vector<std::string> fc = randomPath(6);
      if (!patternComps.empty() && rng() % 2 == 0) {
        fc = patternComps[rng() % patternComps.size()];
        const unsigned how = rng() % 3;
        if (how == 0) fc.resize(rng() % (fc.size() + 1));
        if (how == 1) fc.push_back(alphabet[rng() % alphabet.size()]);
        if (how == 2 && !fc.empty()) fc[rng() % fc.size()] = alphabet[rng() % alphabet.size()];
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
