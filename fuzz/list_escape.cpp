// Fuzz target: the text and list utilities (FMTools). Checks the round trips
// transXmlChar/unTransXmlChar and EncodeString/DecodeString, the join and
// split of lists with encoded separators, and String2List, Cnvt2to10 and
// replaceString against direct reference versions.
#include <list>

#include "FuzzSupport.h"
#include "fm_common/fmcommon/FMTools.h"

using namespace Kyrofm;

namespace {

std::list<std::string> refSplit(const std::string& text, const std::string& sep) {
  std::list<std::string> out;
  size_t start = 0;
  for (size_t pos; (pos = text.find(sep, start)) != std::string::npos; start = pos + sep.size()) {
    if (pos > start) out.push_back(text.substr(start, pos - start));
  }
  if (start < text.size()) out.push_back(text.substr(start));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fmfuzz::fuzzEnv();
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string xml = text;
  transXmlChar(xml);
  FUZZ_CHECK(xml.find_first_of("<>\"'") == std::string::npos);
  unTransXmlChar(xml);
  if (text.find('\x7f') == std::string::npos) FUZZ_CHECK(xml == text);

  std::string enc = EncodeString(text);
  FUZZ_CHECK(enc.find_first_of("|,;") == std::string::npos);
  FUZZ_CHECK(DecodeString(enc) == text);

  // The input's lines as a list, joined with each separator and split again.
  auto lines = fmfuzz::pieces(data, size, '\n');
  std::list<std::string> values(lines.begin(), lines.end()), nonEmpty;
  for (const auto& v : values) {
    if (!v.empty()) nonEmpty.push_back(v);
  }
  for (char sep : {',', '|', ';'}) {
    std::string joined;
    List2String(values, joined, sep, true);
    std::list<std::string> back;
    String2List(joined, back, std::string(1, sep));
    DecodeStringList(back);
    FUZZ_CHECK(back == nonEmpty);
  }

  // The first line is a separator (or pattern) applied to the rest.
  if (lines.size() >= 2 && !lines[0].empty()) {
    const std::string rest = text.substr(lines[0].size() + 1);
    std::list<std::string> got;
    String2List(rest, got, lines[0]);
    FUZZ_CHECK(got == refSplit(rest, lines[0]));
    std::string replaced = rest, want;
    replaceString(replaced, lines[0], "<>");
    size_t start = 0;
    for (size_t pos; (pos = rest.find(lines[0], start)) != std::string::npos; start = pos + lines[0].size()) {
      want += rest.substr(start, pos - start) + "<>";
    }
    want += rest.substr(start);
    FUZZ_CHECK(replaced == want);
  }

  unsigned long bits = 0;
  for (size_t i = 0; i < text.size() && text.size() <= 32; ++i) {
    if (text[i] == '1') bits |= 1UL << i;
  }
  FUZZ_CHECK(Cnvt2to10(text) == bits);
  return 0;
}
