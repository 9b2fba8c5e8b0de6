// FMTools.cpp: the shared text, list and flag utilities.
#include "fm_common/fmcommon/FMTools.h"

#include <cstdlib>

#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// Reads a piece as a decimal long: leading blanks and a sign allowed, reading
// stops at the first other character, nothing read gives 0, an out-of-range
// value is clamped.
long toLong(const std::string& piece) {
  return std::strtol(piece.c_str(), nullptr, 10);
}

// The shared splitting loop; `store` receives every non-empty piece.
// Walks the text by position, so a long list splits in linear time.
template <typename Store>
void splitText(const std::string& text, const std::string& separator, Store store) {
  std::string::size_type from = 0;
  while (from < text.size()) {
    std::string::size_type pos = text.find(separator, from);
    if (pos == std::string::npos) {
      store(text.substr(from));
      return;
    }
    if (pos > from) store(text.substr(from, pos - from));
    from = pos + separator.size();
  }
}

unsigned bitIndex(char bit) { return static_cast<unsigned>(static_cast<unsigned char>(bit)) % 32u; }

}  // namespace

void replaceString(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  std::string::size_type pos = text.find(from, 0);
  while (pos != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos = text.find(from, pos + to.size());
  }
}

void replaceStrFirst(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return;
  std::string::size_type pos = text.find(from);
  if (pos != std::string::npos) text.replace(pos, from.size(), to);
}

void transXmlChar(std::string& text) {
  replaceString(text, "&", "&amp;");
  replaceString(text, ">", "&gt;");
  replaceString(text, "'", "&apos;");
  replaceString(text, "\"", "&quot;");
  replaceString(text, "<", "&lt;");
  replaceString(text, "\n", "\n\x7f");
}

// Undoes transXmlChar, so that unTransXmlChar(transXmlChar(s)) == s for every
// text without the marker 0x7F. "&amp;" is decoded last: decoded first it
// would turn an escaped "&lt;" (sent as "&amp;lt;") into "<". A line feed
// sent as line feed + 0x7F comes back as one line feed; a marker whose line
// feed was lost on the way (XML whitespace handling) becomes the line feed.
void unTransXmlChar(std::string& text) {
  replaceString(text, "\n\x7f", "\n");
  replaceString(text, "\x7f", "\n");
  replaceString(text, "&gt;", ">");
  replaceString(text, "&apos;", "'");
  replaceString(text, "&quot;", "\"");
  replaceString(text, "&lt;", "<");
  replaceString(text, "&amp;", "&");
}

void getXmlHeadLine(std::string& out) {
  if (KyroCommonUtils::IsGlobalVersion()) {
    out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?> \n";
  } else {
    out = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?> \n";
  }
}

std::string EncodeString(const std::string& text) {
  std::string s = text;
  replaceString(s, "&", "&amp-");
  replaceString(s, "|", "&vtl-");
  replaceString(s, ",", "&cma-");
  replaceString(s, ";", "&semi-");
  return s;
}

std::string DecodeString(const std::string& text) {
  std::string s = text;
  replaceString(s, "&vtl-", "|");
  replaceString(s, "&cma-", ",");
  replaceString(s, "&semi-", ";");
  replaceString(s, "&amp-", "&");
  return s;
}

void DecodeStringList(std::list<std::string>& texts) {
  for (auto& t : texts) t = DecodeString(t);
}

void List2String(const std::list<std::string>& values, std::string& out, char separator, bool encode) {
  out.clear();
  for (const auto& v : values) {
    out += encode ? EncodeString(v) : v;
    out += separator;
  }
  if (!out.empty() && out.back() == separator) out.pop_back();
}

void List2String(const std::list<long>& values, std::string& out) {
  if (values.empty()) return;
  out.clear();
  for (long v : values) {
    out += std::to_string(v);
    out += ',';
  }
  if (!out.empty() && out.back() == ',') out.pop_back();
}

void Set2String(const std::set<long>& values, std::string& out) {
  if (values.empty()) return;
  out.clear();
  for (long v : values) {
    out += std::to_string(v);
    out += ',';
  }
  if (!out.empty() && out.back() == ',') out.pop_back();
  FM_TRACE(TRACE_PROGRESS, "tools:Set2String list.size=%d szString= %s", static_cast<int>(values.size()),
           out.c_str());
}

void String2List(const std::string& text, std::list<std::string>& out, std::string separator) {
  out.clear();
  if (text.empty()) return;
  if (separator.empty()) {
    FM_TRACE(TRACE_ERROR, "String2List strSeparator is empty.");
    out.push_back(text);
    return;
  }
  splitText(text, separator, [&out](const std::string& piece) { out.push_back(piece); });
}

void String2LongList(const std::string& text, const std::string& separator, std::list<long>& out) {
  out.clear();
  if (text.empty()) return;
  if (separator.empty()) {
    FM_TRACE(TRACE_ERROR, "String2LongList strSeparator is empty.");
    out.push_back(toLong(text));
    return;
  }
  splitText(text, separator, [&out](const std::string& piece) { out.push_back(toLong(piece)); });
}

void String2LongSet(const std::string& text, const std::string& separator, std::set<long>& out) {
  out.clear();
  if (text.empty()) return;
  if (separator.empty()) {
    FM_TRACE(TRACE_ERROR, "String2LongSet strSeparator is empty.");
    out.insert(toLong(text));
    return;
  }
  splitText(text, separator, [&out](const std::string& piece) { out.insert(toLong(piece)); });
}

unsigned long Cnvt2to10(std::string digits) {
  unsigned long sum = 0;
  if (digits.size() <= 32) {
    for (std::string::size_type i = 0; i < digits.size(); ++i) {
      if (digits[i] == '1') sum += 1ul << i;
    }
  }
  FM_TRACE(TRACE_PROGRESS, "tools:Cnvt2to10, input binary=%s, return value= %lu", digits.c_str(), sum);
  return sum;
}

void setParamFlag(unsigned long& word, char bit, char on) {
  const unsigned long mask = 1ul << bitIndex(bit);
  if (on != 0) {
    word |= mask;
  } else {
    word &= ~mask;
  }
}

char getParamFlag(unsigned long word, char bit) { return (word & (1ul << bitIndex(bit))) != 0 ? 1 : 0; }

unsigned int getCorrelativeFlag(const AlmRecord_t& record) {
  const unsigned long word = record.getParamFlagWord();
  if (getParamFlag(word, CORRELATIVE_BIT_SECOND)) return 1;
  if (getParamFlag(word, CORRELATIVE_BIT_BOTH)) return 3;
  if (getParamFlag(word, CORRELATIVE_BIT_FIRST)) return 2;
  return 0;
}

void setCorrelativeFlag(std::shared_ptr<AlmRecord_t> first, std::shared_ptr<AlmRecord_t> second) {
  if (first) {
    unsigned long word = first->getParamFlagWord();
    if (getParamFlag(word, CORRELATIVE_BIT_SECOND)) {
      setParamFlag(word, CORRELATIVE_BIT_SECOND, 0);
      setParamFlag(word, CORRELATIVE_BIT_BOTH, 1);
    } else if (!getParamFlag(word, CORRELATIVE_BIT_BOTH)) {
      setParamFlag(word, CORRELATIVE_BIT_FIRST, 1);
    }
    first->setParamFlagWord(word);
  }
  if (second) {
    unsigned long word = second->getParamFlagWord();
    if (getParamFlag(word, CORRELATIVE_BIT_FIRST)) {
      setParamFlag(word, CORRELATIVE_BIT_FIRST, 0);
      setParamFlag(word, CORRELATIVE_BIT_BOTH, 1);
    } else if (!getParamFlag(word, CORRELATIVE_BIT_BOTH)) {
      setParamFlag(word, CORRELATIVE_BIT_SECOND, 1);
    }
    second->setParamFlagWord(word);
  }
}

void getAlmStatus(long status, char& acknowledged, char& cleared) {
  switch (status) {
    case 1:
      acknowledged = 0;
      cleared = 0;
      break;
    case 2:
      acknowledged = 0;
      cleared = 1;
      break;
    case 3:
      acknowledged = 1;
      cleared = 0;
      break;
    case 4:
      acknowledged = 1;
      cleared = 1;
      break;
    default:
      break;
  }
}

long transSmTokenCode(int code) {
  switch (code) {
    case 0:
      return 33097;
    case 1:
      return 33098;
    case 2:
      return 33099;
    case 3:
      return 33100;
    default:
      return 33000;
  }
}

long transTopoErrorCode(long code) {
  switch (code) {
    case 0:
      return 33000;
    case 34003:
      return 33901;
    case 35701:
      return 33100;
    case 36526:
      return 33097;
    case 36527:
      return 33098;
    case 36528:
      return 33099;
    case 36529:
    case 36532:
      return 33100;
    case 36537:
      return 33031;
    default:
      return 33002;
  }
}

}  // namespace Kyrofm
