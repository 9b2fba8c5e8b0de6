// AlmValidCheck.h: CAlmValidCheck, the validity checks that guard alarm
// fields before an alarm is stored or forwarded, and the trimming of
// over-long text fields of a record.
//
// Every predicate returns bool. A failing predicate writes one level-5 trace
// line that names the operation and the input ("CAlmValidCheck::<op> failed,
// input is: ..."), except the few that the comments below call silent. The
// trimming operations change the record in place and write one level-5 line
// when they cut.
//
// Three groups of checks lean on other parts of the library: alarm types and
// levels are valid when the record string map (CRecStringMap) knows them, the
// FDN splitter comes from the settings accessor (CKyroSettingOP), and the
// limit of the extended information from the alarm field property manager.
//
// StringResize is the library's cutting tool for texts in the service's
// character encoding: it never leaves half a multi-byte character behind.
//
// All members are static and keep no state; they may be called from any
// thread (on records the calling thread owns).
#ifndef FM_FMCOMMON_ALMVALIDCHECK_H
#define FM_FMCOMMON_ALMVALIDCHECK_H

#include <cstddef>
#include <string>

#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// Cuts `text` to at most `limit` bytes without splitting a character of the
// code set `encoding`: UTF-8; the double-byte sets GBK, GB2312, CP936, BIG5,
// CP950, EUC-KR, CP949 and UHC; GB18030 (two- and four-byte forms);
// Shift_JIS and CP932; EUC-JP. Names are compared case-insensitively, with or
// without the dash ("utf8"). Any other code set is cut byte-wise. A text of
// at most `limit` bytes is left alone. Returns `text`.
std::string& StringResize(std::string& text, size_t limit, const std::string& encoding);
// The same in the service's character encoding: UTF-8 in the global edition
// or when the service is forced to UTF-8, else the host's local code set
// (CKyroSettingOP::GetLocalCharSet).
std::string& StringResize(std::string& text, size_t limit);

class CAlmValidCheck {
 public:
  // Longest FDN, OID and link FDN accepted, in bytes.
  static constexpr size_t MAX_FDN_LENGTH = 255;
  // Longest file name accepted by isFileNameValid, in bytes.
  static constexpr size_t MAX_FILE_NAME_LENGTH = 120;
  // Cut lengths of the trimming operations, in bytes.
  static constexpr size_t AGENT_ID_LIMIT = 32;
  static constexpr size_t ROOT_ID_LIMIT = 32;
  static constexpr size_t HOST_IP_LIMIT = 255;
  static constexpr size_t MO_TYPE_LIMIT = 32;
  static constexpr size_t DEV_ROOT_ID_LIMIT = 250;
  static constexpr size_t EXTEND_INFO_LIMIT = 255;
  static constexpr size_t APPEND_INFO_LIMIT = 250;

  // ---- ranges and sets of codes
  static bool isAlmCsnValid(long csn);          // 0 .. 2147483646
  static bool isCategoryValid(char category);   // 1, 2, 3, 4, 5, 9, 20
  static bool isAlmTypeValid(char type);        // CRecStringMap::isAlmTypeValid
  static bool isAlmLevelValid(char level);      // CRecStringMap::isAlmLevelValid
  static bool isClearStatusValid(char status);  // 0, 1
  static bool isConfirmStatusValid(char status);  // 0, 1
  static bool isDevCsnValid(long csn);          // 0 and above
  static bool isAlmIDValid(long id);            // every value; silent
  static bool isLinkTypeValid(long type);       // every value; silent
  static bool isNETypeValid(long type);         // every value; silent
  static bool isAlmLogTypeValid(int logType);   // 1, 2, 3
  static bool isAlmStatusValid(int status);     // 1 .. 4
  static bool isTimeModeValid(int mode);        // 1 .. 5; silent
  static bool isSpecialAlarmStatusValid(long status);  // 0 .. 16; silent
  static bool isAlmIdentifyValid(const int& identify);  // below 33 (negatives too); silent
  static bool isAlmUTCTimeValid(const long& time);      // above 0

  // ---- lengths of texts, in bytes
  static bool isFDNValid(const std::string& fdn);          // 1 .. 255
  static bool isOIDValid(const std::string& oid);          // 0 .. 255
  static bool isLinkFDNValid(const std::string& linkFdn);  // 0 .. 255
  static bool isLinkOIDValid(const std::string& linkOid);  // 0 .. 255 (logs as isLinkFDNValid)
  // At most XRFMAlarmFieldPropManager::getAlmLocInfoLimit() bytes.
  static bool isExtendInfoValid(const std::string& info);
  static bool isFileNameValid(const std::string& name);    // 1 .. 120

  // ---- composite checks
  // The NE type passes isNETypeValid and the NE FDN isFDNValid.
  static bool isNEInfoValid(const NEInfo_t& ne);
  // Group and alarm id pass isAlmIDValid: always true.
  static bool isAlmInfoValid(const AlarmInfo_t& info);
  // True when the record's link FDN is not empty.
  static bool isLinkAlarm(const AlmRecord_t& record);
  // The record's fields in this order, stopping at the first failure: type,
  // level, clear status, confirm status, device CSN, FDN, alarm id, NE, link
  // FDN, link type, occurrence NE time, occurrence UTC time, special status.
  static bool isAlmValid(const AlmRecord_t& record);

  // ---- dates and times written as decimal digits
  // YYYYMMDD in 0 .. 99999999, month below 13 and day below 32 (0 allowed).
  static bool isDateValid(long date);
  // HHMMSS in 0 .. 999999, hours up to 23, minutes and seconds up to 59.
  static bool isTimeValid(long time);
  // A time window: all four values valid; when both dates are set, the end is
  // not before the start (else false, silently) and timeType is 1 .. 7; when
  // only one date is set, timeType is 1 .. 7; two zero dates accept any type.
  static bool isDateTimeValid(long startDate, long startTime, long endDate, long endTime, long timeType);

  // ---- FDN parent relation
  // True when `fdn` equals `parent` or lies below it: `parent` is a prefix of
  // `fdn` and `fdn` ends there, or continues with the FDN splitter
  // (CKyroSettingOP::getFDNSplitter()), or `parent` itself ends with the
  // splitter. An empty string on either side gives !strict (strict: false with
  // a level-5 line); an fdn of 256 bytes or more gives false with a level-5
  // line; a parent longer than fdn gives false.
  static bool isFdnParent(const std::string& parent, const std::string& fdn, bool strict);
  // The same comparison with the given splitter, without the emptiness and
  // length rules and without logging.
  static bool CheckFdnParent(const std::string& parent, const std::string& fdn, const char& splitter);

  // ---- trimming: each cuts its field only when it is longer than its limit
  // The first five cut byte-wise; resizeExtendInfo and resizeAppendInfo cut
  // with StringResize in the service's encoding.
  static void resizeAgentId(AlmRecord_t& record);     // 32
  static void resizeRootId(AlmRecord_t& record);      // 32
  static void resizeHostIP(AlmRecord_t& record);      // 255
  static void resizeMOType(AlmRecord_t& record);      // 32
  static void resizeDevRootId(AlmRecord_t& record);   // 250
  static void resizeExtendInfo(AlmRecord_t& record);  // 255
  static void resizeAppendInfo(AlmRecord_t& record);  // 250 (the additional text)

  // ---- files
  // True when a file can be created in directory `path` (and it is removed
  // again): "temp_file_vela_server_for_test.test" is written there. An empty
  // path is refused rather than read as the root directory.
  static bool isPathWritable(const std::string& path);
};

}  // namespace Kyrofm

#endif
