// Fuzz target: the FDN pattern matcher (XRFMFdnMatch) against a brute-force
// reference. The first byte picks the separator; the lines up to the first
// empty line are patterns, the lines after it FDNs. Every FDN, and every
// pattern taken as an FDN, must get the reference's answer from the matcher
// and from a copy of it, with and without the match-all flag.
#include <algorithm>

#include "FuzzSupport.h"
#include "fm_common/fmcommon/XRFMFdnMatch.h"

using namespace Kyrofm;

namespace {

std::vector<std::string> components(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s + sep) {
    if (c != sep) {
      cur += c;
    } else if (!cur.empty()) {
      out.push_back(cur);
      cur.clear();
    }
  }
  return out;
}

bool refMatch(const std::vector<std::string>& patterns, const std::string& fdn, char sep, bool ignoreMatchAll) {
  if (!ignoreMatchAll && !patterns.empty() && patterns.back() == "*") return true;
  auto f = components(fdn, sep);
  for (const auto& p : patterns) {
    auto pc = components(p, sep);
    if (!pc.empty() && pc.size() <= f.size() && std::equal(pc.begin(), pc.end(), f.begin())) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fmfuzz::fuzzEnv();
  if (size == 0) return 0;
  const char sep = ",/;="[data[0] % 4];
  auto lines = fmfuzz::pieces(data + 1, size - 1, '\n');
  std::vector<std::string> patterns, fdns;
  size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) patterns.push_back(lines[i]);
  for (; i < lines.size(); ++i) fdns.push_back(lines[i]);
  fdns.insert(fdns.end(), patterns.begin(), patterns.end());

  XRFMFdnMatch matcher(sep);
  // Patterns reach the matcher as C strings: a NUL ends them.
  std::vector<std::string> added;
  for (const auto& p : patterns) {
    matcher.addPattern(p.c_str());
    added.push_back(p.c_str());
  }
  FUZZ_CHECK(matcher.getPatterns() == added);
  FUZZ_CHECK(matcher.isMatchAll() == (!added.empty() && added.back() == "*"));
  XRFMFdnMatch copy(matcher);
  for (const auto& f : fdns) {
    std::string fdn = f.c_str();
    for (bool ignore : {false, true}) {
      bool want = refMatch(added, fdn, sep, ignore);
      FUZZ_CHECK(matcher.match(fdn.c_str(), ignore) == want);
      FUZZ_CHECK(copy.match(fdn.c_str(), ignore) == want);
    }
  }
  FUZZ_CHECK(matcher.match(nullptr, false) == matcher.isMatchAll());
  FUZZ_CHECK(!matcher.match(nullptr, true));
  return 0;
}
