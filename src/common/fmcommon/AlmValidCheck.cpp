// AlmValidCheck.cpp: the validity checks of alarm fields and the trimming of
// record texts.
//
// The predicates are plain comparisons; what they share is the failure line
// they write, so each one is a condition plus its message. Values of type
// long are printed with %ld so that a rejected value outside the int range
// shows as it was given. The FDN parent tests compare the two strings from the
// start; the splitter decides whether the place where the parent ends is a
// component boundary of the child.
#include "fm_common/fmcommon/AlmValidCheck.h"

#include <strings.h>

#include <climits>

#include "fm_common/fmcommon/KyroSettingOP.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

// Code-set families that StringResize tells apart.
enum class CharWidth { SINGLE, UTF8, DOUBLE, GB18030, SHIFT_JIS, EUC_JP };

// "utf-8", "UTF8" and "utf_8" are the same name.
std::string normaliseCharset(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return out;
}

CharWidth charWidthOf(const std::string& encoding) {
  const std::string n = normaliseCharset(encoding);
  if (n == "UTF8") return CharWidth::UTF8;
  if (n == "GB18030") return CharWidth::GB18030;
  if (n == "GBK" || n == "GB2312" || n == "CP936" || n == "EUCCN" || n == "BIG5" || n == "BIG5HKSCS" ||
      n == "CP950" || n == "EUCKR" || n == "CP949" || n == "UHC") {
    return CharWidth::DOUBLE;
  }
  if (n == "SHIFTJIS" || n == "SJIS" || n == "CP932") return CharWidth::SHIFT_JIS;
  if (n == "EUCJP") return CharWidth::EUC_JP;
  return CharWidth::SINGLE;
}

// Byte length of the character that starts at text[i] in a multi-byte code
// set read from its start (UTF-8 is handled apart, from the cut backwards).
size_t charLength(const std::string& text, size_t i, CharWidth width) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  switch (width) {
    case CharWidth::DOUBLE:
      return b >= 0x81 && b <= 0xFE ? 2 : 1;
    case CharWidth::GB18030: {
      if (b < 0x81 || b > 0xFE) return 1;
      const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      return next >= 0x30 && next <= 0x39 ? 4 : 2;
    }
    case CharWidth::SHIFT_JIS:
      return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
    case CharWidth::EUC_JP:
      if (b == 0x8F) return 3;
      return b == 0x8E || (b >= 0xA1 && b <= 0xFE) ? 2 : 1;
    default:
      return 1;
  }
}

// Writes the failure line of a predicate and gives its result.
bool checked(bool ok, const char* fmt, long value) {
  if (!ok) KyroTrace::trace(TRACE_ERROR, FM_MODULE, fmt, value);
  return ok;
}

bool checkedText(bool ok, const char* fmt, const std::string& value) {
  if (!ok) KyroTrace::trace(TRACE_ERROR, FM_MODULE, fmt, value.c_str());
  return ok;
}

// Cuts one text field of the record byte-wise (or with StringResize) when it
// is longer than `limit`, and logs `message`.
template <typename Getter, typename Setter>
void resizeField(AlmRecord_t& record, Getter get, Setter set, size_t limit, bool byEncoding, const char* message) {
  std::string text = (record.*get)();
  if (text.size() <= limit) return;
  if (byEncoding) {
    StringResize(text, limit);
  } else {
    text.resize(limit);
  }
  (record.*set)(text);
  FM_TRACE(TRACE_ERROR, "%s", message);
}

}  // namespace

std::string& StringResize(std::string& text, size_t limit, const std::string& encoding) {
  if (text.size() <= limit) return text;
  const CharWidth width = charWidthOf(encoding);
  size_t cut = limit;
  if (width == CharWidth::UTF8) {
    // Step back over continuation bytes (10xxxxxx) so that the character the
    // limit falls into is dropped whole. A character has at most three of
    // them; more means the text is not UTF-8, and it is cut at the limit.
    auto continuation = [&](size_t i) { return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; };
    while (cut > 0 && limit - cut < 3 && continuation(cut)) --cut;
    if (continuation(cut)) cut = limit;
  } else if (width != CharWidth::SINGLE) {
    size_t i = 0;
    while (i < limit) {
      size_t len = charLength(text, i, width);
      if (i + len > limit) break;
      i += len;
    }
    cut = i;
  }
  text.resize(cut);
  return text;
}

std::string& StringResize(std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  CKyroSettingOP* op = CKyroSettingOP::instance();
  std::string encoding = "UTF-8";
  if (op != nullptr && !op->IsGlobalVersion() && !op->isForceToUseUTF8()) encoding = op->GetLocalCharSet();
  return StringResize(text, limit, encoding);
}

// ---------------------------------------------------------------------------
// Ranges and sets

bool CAlmValidCheck::isAlmCsnValid(long csn) {
  return checked(csn >= 0 && csn <= 2147483646, "CAlmValidCheck::isAlmCsnValid failed, input is: %ld", csn);
}

bool CAlmValidCheck::isCategoryValid(char category) {
  const bool ok = category == 1 || category == 2 || category == 3 || category == 4 || category == 5 ||
                  category == 9 || category == 20;
  return checked(ok, "CAlmValidCheck::isCategoryValid failed, input is: %ld", category);
}

bool CAlmValidCheck::isAlmTypeValid(char type) {
  CRecStringMap* map = CRecStringMap::Instance();
  return checked(map != nullptr && map->isAlmTypeValid(type), "CAlmValidCheck::isAlmTypeValid failed, input is: %ld",
                 type);
}

bool CAlmValidCheck::isAlmLevelValid(char level) {
  CRecStringMap* map = CRecStringMap::Instance();
  return checked(map != nullptr && map->isAlmLevelValid(level),
                 "CAlmValidCheck::isAlmLevelValid failed, input is: %ld", level);
}

bool CAlmValidCheck::isClearStatusValid(char status) {
  return checked(status == 0 || status == 1, "CAlmValidCheck::isClearStatusValid failed, input is: %ld", status);
}

bool CAlmValidCheck::isConfirmStatusValid(char status) {
  return checked(status == 0 || status == 1, "CAlmValidCheck::isConfirmStatusValid failed, input is: %ld", status);
}

bool CAlmValidCheck::isDevCsnValid(long csn) {
  return checked(csn >= 0, "CAlmValidCheck::isDevCsnValid failed, input is: %ld", csn);
}

bool CAlmValidCheck::isAlmIDValid(long /*id*/) { return true; }
bool CAlmValidCheck::isLinkTypeValid(long /*type*/) { return true; }
bool CAlmValidCheck::isNETypeValid(long /*type*/) { return true; }

bool CAlmValidCheck::isAlmLogTypeValid(int logType) {
  return checked(logType >= 1 && logType <= 3, "CAlmValidCheck::isAlmLogTypeValid failed, input is: %ld", logType);
}

bool CAlmValidCheck::isAlmStatusValid(int status) {
  return checked(status >= 1 && status <= 4, "CAlmValidCheck::isAlmStatusValid failed, input is: %ld", status);
}

bool CAlmValidCheck::isTimeModeValid(int mode) { return mode >= 1 && mode <= 5; }

bool CAlmValidCheck::isSpecialAlarmStatusValid(long status) { return status >= 0 && status <= 16; }

bool CAlmValidCheck::isAlmIdentifyValid(const int& identify) { return identify < 33; }

bool CAlmValidCheck::isAlmUTCTimeValid(const long& time) {
  return checked(time > 0, "CAlmValidCheck::isAlmUTCTimeValid failed, Alarm Time is: %ld", time);
}

// ---------------------------------------------------------------------------
// Lengths

bool CAlmValidCheck::isFDNValid(const std::string& fdn) {
  return checkedText(!fdn.empty() && fdn.size() <= MAX_FDN_LENGTH,
                     "CAlmValidCheck::isFDNValid length error, input is: %s", fdn);
}

bool CAlmValidCheck::isOIDValid(const std::string& oid) {
  return checkedText(oid.size() <= MAX_FDN_LENGTH, "CAlmValidCheck::isOIDValid failed, input is: %s", oid);
}

bool CAlmValidCheck::isLinkFDNValid(const std::string& linkFdn) {
  return checkedText(linkFdn.size() <= MAX_FDN_LENGTH, "CAlmValidCheck::isLinkFDNValid failed, input is: %s",
                     linkFdn);
}

bool CAlmValidCheck::isLinkOIDValid(const std::string& linkOid) {
  return checkedText(linkOid.size() <= MAX_FDN_LENGTH, "CAlmValidCheck::isLinkFDNValid failed, input is: %s",
                     linkOid);
}

bool CAlmValidCheck::isExtendInfoValid(const std::string& info) {
  const long limit = XRFMAlarmFieldPropManager::instance()->getAlmLocInfoLimit();
  return checkedText(limit >= 0 && info.size() <= static_cast<size_t>(limit),
                     "CAlmValidCheck::isExtendInfoValid failed, input is: %s", info);
}

bool CAlmValidCheck::isFileNameValid(const std::string& name) {
  return checkedText(!name.empty() && name.size() <= MAX_FILE_NAME_LENGTH,
                     "CAlmValidCheck::isFileNameValid failed, input is: %s", name);
}

// ---------------------------------------------------------------------------
// Composite checks

bool CAlmValidCheck::isNEInfoValid(const NEInfo_t& ne) {
  if (isNETypeValid(ne.lNEType) && isFDNValid(ne.strNEFDN)) return true;
  FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isNEInfoValid false strNEFDN is %s, lNEType is %ld", ne.strNEFDN.c_str(),
           ne.lNEType);
  return false;
}

bool CAlmValidCheck::isAlmInfoValid(const AlarmInfo_t& info) {
  return isAlmIDValid(info.m_lGroupId) && isAlmIDValid(info.m_lAlarmId);
}

bool CAlmValidCheck::isLinkAlarm(const AlmRecord_t& record) { return !record.getLinkDn().empty(); }

bool CAlmValidCheck::isAlmValid(const AlmRecord_t& record) {
  // The record keeps its type as a long: a value outside the range of char is
  // refused here instead of being narrowed into a valid code (257 -> 1).
  const long type = record.getAlarmType();
  if (type < CHAR_MIN || type > CHAR_MAX) {
    return checked(false, "CAlmValidCheck::isAlmTypeValid failed, input is: %ld", type);
  }
  const long occurNeTime = record.getOccurNeTime();
  const long occurUtcTime = record.getOccurUtcTime();
  return isAlmTypeValid(static_cast<char>(type)) && isAlmLevelValid(record.getSeverity()) &&
         isClearStatusValid(record.getClearStatus()) && isConfirmStatusValid(record.getAckStatus()) &&
         isDevCsnValid(record.getDevCsn()) && isFDNValid(record.getMoDn()) && isAlmIDValid(record.getAlarmId()) &&
         isNEInfoValid(record.getNEInfo()) && isLinkFDNValid(record.getLinkDn()) &&
         isLinkTypeValid(record.getLinkType()) && isAlmUTCTimeValid(occurNeTime) &&
         isAlmUTCTimeValid(occurUtcTime) && isSpecialAlarmStatusValid(record.getSpecialAlmStatus());
}

// ---------------------------------------------------------------------------
// Dates and times

bool CAlmValidCheck::isDateValid(long date) {
  const bool ok = date >= 0 && date <= 99999999 && date % 10000 / 100 < 13 && date % 100 < 32;
  return checked(ok, "CAlmValidCheck::isDateValid failed, input is: %ld", date);
}

bool CAlmValidCheck::isTimeValid(long time) {
  const bool ok = time >= 0 && time <= 999999 && time / 10000 <= 23 && time % 10000 / 100 <= 59 && time % 100 <= 59;
  return checked(ok, "CAlmValidCheck::isTimeValid failed, input is: %ld", time);
}

bool CAlmValidCheck::isDateTimeValid(long startDate, long startTime, long endDate, long endTime, long timeType) {
  // Each of the four values is checked (and logged) on its own.
  const bool sd = isDateValid(startDate), st = isTimeValid(startTime);
  const bool ed = isDateValid(endDate), et = isTimeValid(endTime);
  if (!(sd && st && ed && et)) {
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isDateTimeValid, Date or Time is not valid");
    return false;
  }
  const bool typeOk = timeType >= 1 && timeType <= 7;
  if (startDate != 0 && endDate != 0) {
    if (endDate < startDate || (endDate == startDate && endTime < startTime)) return false;
    if (!typeOk) {
      FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isDateTimeValid failed, time type:%ld error!", timeType);
      return false;
    }
  }
  if ((startDate == 0 && endDate == 0) || typeOk) return true;
  FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isDateTimeValid failed, error time type:%ld", timeType);
  return false;
}

// ---------------------------------------------------------------------------
// FDN parent relation

bool CAlmValidCheck::CheckFdnParent(const std::string& parent, const std::string& fdn, const char& splitter) {
  if (parent.size() > fdn.size()) return false;
  size_t i = 0;
  while (i < parent.size() && parent[i] == fdn[i]) ++i;
  if (i != parent.size()) return false;
  if (i == fdn.size()) return true;
  if (fdn[i] == splitter) return true;
  return !parent.empty() && parent[parent.size() - 1] == splitter;
}

bool CAlmValidCheck::isFdnParent(const std::string& parent, const std::string& fdn, bool strict) {
  if (parent.empty() || fdn.empty()) {
    if (!strict) return true;
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isFdnParent failed, input strNefdn is: %s, strFdn is %s", parent.c_str(),
             fdn.c_str());
    return false;
  }
  if (fdn.size() > MAX_FDN_LENGTH) {
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isFdnParent failed, fdn:%s size[%d] reach max size:%d", fdn.c_str(),
             static_cast<int>(fdn.size()), static_cast<int>(MAX_FDN_LENGTH));
    return false;
  }
  const char splitter = CKyroSettingOP::instance()->getFDNSplitter();
  return CheckFdnParent(parent, fdn, splitter);
}

// ---------------------------------------------------------------------------
// Trimming

void CAlmValidCheck::resizeAgentId(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getAgentId, &AlmRecord_t::setAgentId, AGENT_ID_LIMIT, false,
              "CAlmValidCheck::AgentId overflow and resize.");
}

void CAlmValidCheck::resizeRootId(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getRootId, &AlmRecord_t::setRootId, ROOT_ID_LIMIT, false,
              "CAlmValidCheck::RootId overflow and resize.");
}

void CAlmValidCheck::resizeHostIP(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getHostIP, &AlmRecord_t::setHostIP, HOST_IP_LIMIT, false,
              "CAlmValidCheck::hostIP overflow and resize.");
}

void CAlmValidCheck::resizeMOType(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getMOType, &AlmRecord_t::setMOType, MO_TYPE_LIMIT, false,
              "CAlmValidCheck::dnType overflow and resize.");
}

void CAlmValidCheck::resizeDevRootId(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getDevRootID, &AlmRecord_t::setDevRootID, DEV_ROOT_ID_LIMIT, false,
              "CAlmValidCheck::resizeDevRootId overflow and resize.");
}

void CAlmValidCheck::resizeExtendInfo(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getExtendInfo, &AlmRecord_t::setExtendInfo, EXTEND_INFO_LIMIT, true,
              "CAlmValidCheck::ExtendInfo overflow and resize.");
}

void CAlmValidCheck::resizeAppendInfo(AlmRecord_t& record) {
  resizeField(record, &AlmRecord_t::getAddtionalText, &AlmRecord_t::setAddtionalText, APPEND_INFO_LIMIT, true,
              "CAlmValidCheck::AppendInfo overflow and resize.");
}

// ---------------------------------------------------------------------------
// Files

bool CAlmValidCheck::isPathWritable(const std::string& path) {
  if (path.empty()) {
    FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isPathWritable failed, input is: %s", path.c_str());
    return false;
  }
  std::string file = path;
  const char last = file[file.size() - 1];
  if (last != '\\' && last != '/') file += "/";
  file += "temp_file_vela_server_for_test.test";
  {
    UTF8_ofstream out(file);
    if (!out.is_open()) {
      FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isPathWritable failed, input is: %s", path.c_str());
      return false;
    }
    out.close();
  }
  if (KYRO_OS_unlink(file, "UTF-8") != 0) FM_TRACE(TRACE_ERROR, "CAlmValidCheck::isPathWritable unlink failed ");
  return true;
}

}  // namespace Kyrofm
