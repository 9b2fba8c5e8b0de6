// FMValueTypes.h: plain value records of the fault-management service.
//
// These are the records that cross the library's interface: alarm keys
// (AlarmInfo_t, AlarmInfoEx_t, SCommonKey, ComFdnInfo_t, SProcInfo), the field
// conditions handed to the filter factory (FieldCond_t) and the small records
// that callers keep in lists, sets and maps. Every record is a value: it owns
// all of its fields (lists are copied element by element), it is default
// constructible, copyable and assignable, and assignment to itself is a no-op.
// The keys define the comparison operators that ordered containers need; all
// comparisons of long values are signed.
//
// Thread safety: none of the records is synchronised; a record shared between
// threads must be guarded by its owner.
#ifndef FM_FMCOMMON_FMVALUETYPES_H
#define FM_FMCOMMON_FMVALUETYPES_H

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "fm_common/platform/AlmRecord.h"

namespace Kyrofm {

// ---------------------------------------------------------------------------
// Keys with ordering.

// Alarm key: the alarm definition as (group id, alarm id).
struct AlarmInfo_t {
  long m_lGroupId = 0;
  long m_lAlarmId = 0;

  AlarmInfo_t() = default;
  AlarmInfo_t(long groupId, long alarmId) : m_lGroupId(groupId), m_lAlarmId(alarmId) {}

  bool operator==(const AlarmInfo_t& o) const;
  bool operator!=(const AlarmInfo_t& o) const { return !(*this == o); }
  // Orders by group id, then by alarm id.
  bool operator<(const AlarmInfo_t& o) const;
};

// Alarm key extended by a third value: the reason id where explanations are
// looked up by (group id, alarm id, reason id). An alarm id of -1 stands for
// "every alarm of the group" in the explanation caches.
struct AlarmInfoEx_t : public AlarmInfo_t {
  long m_lReasonId = 0;

  AlarmInfoEx_t() = default;
  AlarmInfoEx_t(const AlarmInfo_t& info, long reasonId) : AlarmInfo_t(info), m_lReasonId(reasonId) {}
  AlarmInfoEx_t(long groupId, long alarmId, long reasonId)
      : AlarmInfo_t(groupId, alarmId), m_lReasonId(reasonId) {}

  // Compare all three values.
  bool operator==(const AlarmInfoEx_t& o) const;
  bool operator!=(const AlarmInfoEx_t& o) const { return !(*this == o); }
  // Orders by group id, then alarm id, then reason id.
  bool operator<(const AlarmInfoEx_t& o) const;
};

// A key made of an ordered list of values. A shorter key is less than a
// longer one; keys of equal length compare value by value.
struct SCommonKey {
  std::list<long> m_lstKey;

  SCommonKey() = default;
  SCommonKey(long a, long b) : m_lstKey{a, b} {}

  bool operator==(const SCommonKey& o) const;
  bool operator!=(const SCommonKey& o) const { return !(*this == o); }
  bool operator<(const SCommonKey& o) const;
};

// A number paired with an FDN. The default is (0, "0").
struct ComFdnInfo_t {
  long m_lNum = 0;
  std::string m_strFdn = "0";

  ComFdnInfo_t() = default;
  ComFdnInfo_t(long num, std::string fdn) : m_lNum(num), m_strFdn(std::move(fdn)) {}

  bool operator==(const ComFdnInfo_t& o) const;
  bool operator!=(const ComFdnInfo_t& o) const { return !(*this == o); }
  // Orders by the number, then by the FDN (byte-wise string order).
  bool operator<(const ComFdnInfo_t& o) const;
};

// Forwarding-process information: four values compared lexicographically in
// declaration order.
struct SProcInfo {
  long m_lValue1 = 0;
  long m_lValue2 = 0;
  long m_lValue3 = 0;
  long m_lValue4 = 0;

  SProcInfo() = default;
  SProcInfo(long v1, long v2, long v3, long v4)
      : m_lValue1(v1), m_lValue2(v2), m_lValue3(v3), m_lValue4(v4) {}

  bool operator==(const SProcInfo& o) const;
  bool operator!=(const SProcInfo& o) const { return !(*this == o); }
  bool operator<(const SProcInfo& o) const;
};

// A name/value pair of strings (FDN look-up results, NE attributes, events).
struct FMNameValue_t {
  std::string m_strName;
  std::string m_strValue;

  FMNameValue_t() = default;
  FMNameValue_t(std::string name, std::string value) : m_strName(std::move(name)), m_strValue(std::move(value)) {}
  bool operator==(const FMNameValue_t& o) const { return m_strName == o.m_strName && m_strValue == o.m_strValue; }
  bool operator!=(const FMNameValue_t& o) const { return !(*this == o); }
};

// ---------------------------------------------------------------------------
// Filter input.

// One field condition of a client's filter: the condition's name, the field
// (condition type) it tests, the operator code (1 to 12, see filter/AlarmExp.h)
// and the values as texts.
struct FieldCond_t {
  std::string m_strCondName;
  std::string m_strFieldName;
  char m_cOperator = 1;
  std::list<std::string> m_lstValues;

  FieldCond_t() = default;
  FieldCond_t(std::string condName, std::string fieldName, char op)
      : m_strCondName(std::move(condName)), m_strFieldName(std::move(fieldName)), m_cOperator(op) {}
};

// ---------------------------------------------------------------------------
// Other records. Fields are in the order in which callers fill them; where a
// record's meaning belongs to its caller the field names are neutral.

// Explanation texts of one alarm: explanation, clear advice and meaning.
struct ExpandInfo_t {
  std::string m_strExplanation;
  std::string m_strClearAdvice;
  std::string m_strMeaning;
};

// One weekly time condition as entered: the week-day text ("1,2,3") and the
// period text ("08001800|20002200"). Compared as a pair.
struct CNMTime {
  std::string m_strWeekDay;
  std::string m_strPeriod;

  CNMTime() = default;
  CNMTime(std::string weekDay, std::string period) : m_strWeekDay(std::move(weekDay)), m_strPeriod(std::move(period)) {}
  bool operator==(const CNMTime& o) const { return m_strWeekDay == o.m_strWeekDay && m_strPeriod == o.m_strPeriod; }
  bool operator!=(const CNMTime& o) const { return !(*this == o); }
  bool operator<(const CNMTime& o) const;
};

// Status of one alarm as reported to callers.
struct StatusAlm_t {
  long m_lGroupId = 0;
  long m_lAlarmId = 0;
  long m_lStatus = 0;
  long m_lLevel = 0;
  std::string m_strFdn;
  std::string m_strNeFdn;
  std::string m_strText;
};

// Alarm statistics of one board: one (level, text) entry per alarm.
struct FMBoardAlarmInfo {
  long m_lValue = 0;
  std::string m_strText;
};

// Status of one board: its FDN and its alarms.
struct boardStatInfo_t {
  std::string m_strBoardFdn;
  std::list<FMBoardAlarmInfo> m_lstAlarms;
};

// Status of one NE: its status value, its FDN and its boards.
struct NEStatus_t {
  long m_lStatus = 0;
  std::string m_strNeFdn;
  std::list<boardStatInfo_t> m_lstBoards;
};

// Alarms synchronised from one NE: the NE's FDN and its records keyed by
// device CSN (a device CSN may occur more than once, 0 in particular).
struct SynAlm_t {
  std::string m_strNeFdn;
  std::multimap<long, AlmRecord_t> m_mapAlarms;
};

// An alarm with the log ids of its correlated alarms.
struct CorAlmAttr_t {
  AlmRecord_t m_Alarm;
  std::list<long> m_lstRelatedIds;
};

// Attributes of a set of alarms: numeric attributes and text attributes.
struct AlarmAttribute_t {
  std::list<long> m_lstValues;
  std::list<std::string> m_lstTexts;
};

// One redefinition: two numbers (old and new) and two texts (old and new).
struct RedefineInfo_t {
  long m_lOldValue = 0;
  long m_lNewValue = 0;
  std::string m_strOldText;
  std::string m_strNewText;
};

// Redefinition of an alarm's level.
struct CAlmLevelRedefine_t {
  long m_lId = 0;
  char m_Active = 0;
  char m_OldLevel = 0;
  char m_NewLevel = 0;
  char m_Reserved = 0;
  std::string m_strName;
  AlarmInfo_t m_AlarmInfo;
  std::list<long> m_lstNeTypes;
};

// A user's redefinition of an alarm's attributes (its name in particular).
// The explanation buffer takes m_NewName as the alarm's name when m_Active is
// nonzero and m_NewName is not empty.
struct CAlarmRedefineAttr {
  long m_lId = 0;
  long m_lUserId = 0;
  char m_Active = 0;
  char m_OldLevel = 0;
  char m_NewLevel = 0;
  char m_OldType = 0;
  char m_NewType = 0;
  char m_Reserved = 0;
  AlarmInfo_t m_AlarmInfo;
  std::string m_OldName;
  std::string m_NewName;
  std::string m_Comment;
  std::list<long> m_lstNeTypes;
  CNMTime m_Time;
};

// Counters of the active alarms: twelve 32-bit words.
struct ActiveAlarm_t {
  std::int32_t m_iValues[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
};

// Description of one alarm table: nine 32-bit words and two texts.
struct TableInfo {
  std::int32_t m_iValues[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::string m_strTableName;
  std::string m_strText;
};

// A mapped alarm value: five 32-bit words.
struct AlmMapValue {
  std::int32_t m_iValues[5] = {0, 0, 0, 0, 0};
};

// A fault-matching entry: a text and five 32-bit words.
struct FaultMatchInfo_t {
  std::string m_strText;
  std::int32_t m_iValues[5] = {0, 0, 0, 0, 0};
};

// Attributes of an object group.
struct ObjectGroupAttr_t {
  std::int32_t m_iValues[3] = {0, 0, 0};
  std::list<long> m_lstIds;
  std::string m_strName;
  std::string m_strText;
};

// Attributes of a group of alarm names.
struct AlarmNameGroupAttr_t {
  std::int32_t m_iValues[4] = {0, 0, 0, 0};
  std::string m_strName;
  std::string m_strText;
  std::list<AlarmInfo_t> m_lstAlarms;
};

// Relation of a function to a rule.
struct FuncRuleRelation_t {
  long m_lId = 0;
  std::string m_strFunction;
  std::string m_strRule;
};

// A user with the names of the objects it may see.
struct CUserInfo {
  std::string m_strUserName;
  std::list<std::string> m_lstObjects;
};

// Information on one client operation.
struct ClientOPInfo_t {
  std::int32_t m_iValue1 = 0;
  std::int32_t m_iValue2 = 0;
  std::string m_strUserName;
  long m_lSessionId = 0;
  std::string m_strHost;
  std::string m_strSecurityToken;
};

}  // namespace Kyrofm

#endif
