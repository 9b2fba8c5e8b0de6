// RecStringMapDisplay.cpp: whole alarm records turned into display strings
// (AlmRecord_st) by the record string map.
//
// The conversion only combines lookups that exist elsewhere: the code tables
// and managed-object names of the map itself, the user directory for operator
// names, the link check of CAlmValidCheck, the explanation queryer for the
// knowledge-base texts, and the time-condition manager and system attributes
// for zones.
//
// Zones. An NE's times are shown at the NE's standard offset
// (XRFMTimeCondMgr::NETimeZone) plus the NE's DST offset in force at that
// instant (XRFMTimeCondMgr::GetNECurrentTime); the caller's column uses the
// offset it gave, or, for an offset beyond +-86399 s, the server's standard
// offset plus the server's DST offset at that instant. The record's own DST
// fields are not read: mediation fills them with the NE's raw DST offset,
// other sources with the packed NE/server pair, so they cannot be told apart.
//
// Clearance attributes (clear category, clear type, whether operation is
// affected) are localised resource strings of the message service, key
// "/fmAlarmField/<AlarmClearCategory|AlarmClearType|AffectOpFlag>/" and the
// code as field. Codes the host has not registered take the built-in English
// texts below; codes neither knows read as the resource strings
// "unknown_AlarmClearCategory", "unknown_AlarmClearType" and
// "unknown_IsAffectOperationFlag" (key "/fmAlarmField/"), which are those
// literals unless the host localises them.
#include <climits>
#include <cstdio>
#include <iterator>

#include "fm_common/fmcommon/AlmValidCheck.h"
#include "fm_common/fmcommon/FMTools.h"
#include "fm_common/fmcommon/RecStringMap.h"
#include "fm_common/fmcommon/SysAttr.h"
#include "fm_common/fmlog/AlarmExpQueryer.h"
#include "fm_common/platform/CUserIDMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/KyroWideString.h"
#include "fm_common/time/XRFMTimeCond.h"
#include "fm_common/time/XRFMTimeUtil.h"

namespace Kyrofm {

namespace {

const char* const USER_DOMAIN = "SM_ROOT";
const char* const RES_KEY = "/fmAlarmField/";

std::string decimal(long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld", value);
  return buf;
}

struct CodeText {
  long code;
  const char* text;
};

struct Attribute {
  const char* group;
  const char* unknown;
  const CodeText* defaults;
  size_t count;
};

const CodeText kClearCategory[] = {{1, "ADAC"}, {2, "ADMC"}};
const CodeText kClearType[] = {
    {0, "Normal clear"}, {1, "Manual clear"}, {2, "Synchronisation clear"}, {3, "Configuration clear"}};
const CodeText kAffectOp[] = {{0, "No"}, {1, "Yes"}};

const Attribute kClearCategoryAttr = {"AlarmClearCategory", "unknown_AlarmClearCategory", kClearCategory,
                                      std::size(kClearCategory)};
const Attribute kClearTypeAttr = {"AlarmClearType", "unknown_AlarmClearType", kClearType, std::size(kClearType)};
const Attribute kAffectOpAttr = {"AffectOpFlag", "unknown_IsAffectOperationFlag", kAffectOp, std::size(kAffectOp)};

// The registered resource string of the code, else the built-in text, else
// the "unknown" resource string.
std::string attributeText(const Attribute& a, long code) {
  KyroMsg* msg = KyroMsg::instance();
  const std::string field = decimal(code);
  // Unregistered strings of a key ending in '/' read as the field itself.
  const std::wstring text = msg->getResString(std::string(RES_KEY) + a.group + "/", field);
  if (text != KyroA2W(field)) return KyroW2A(text);
  for (size_t i = 0; i < a.count; ++i) {
    if (a.defaults[i].code == code) return a.defaults[i].text;
  }
  return KyroW2A(msg->getResString(RES_KEY, a.unknown));
}

// Operator name of a user id: "" for 0, the decimal id for a user the
// directory no longer knows (the id is all that is left to show).
std::string operatorName(long id) {
  if (id == 0) return std::string();
  std::string name = CUserIDMaintain::GetUserName(id, USER_DOMAIN);
  return name.empty() ? decimal(id) : name;
}

// Fields that need neither the user service nor the knowledge base.
void objectFields(CRecStringMap& map, const AlmRecord_t& r, AlmRecord_st& st, bool forExport) {
  const std::string neFdn = r.getNEInfo().strNEFDN;
  st.strNEType = map.NEType(r.getNEType());
  st.strNEName = forExport ? map.getfdnOIDName4Export(neFdn) : map.getfdnOIDName(neFdn);
  st.strMOName = forExport ? map.getfdnOIDName4Export(r.getMoDn()) : map.getfdnOIDName(r.getMoDn());
  st.strType = map.Type(r.getAlarmType());
  st.strLevel = map.Level(r.getLevel());
  st.strCsn = decimal(r.getLogId());
  st.strAlarmId = decimal(r.getAlarmId());
  map.formatExpInfo(r, st.strExtendInfo);
  st.strCommonLinkType = map.LinkType(static_cast<int>(r.getLinkType()));
  st.strDevCsn = decimal(r.getDevCsn());
  st.strOccurCount = decimal(r.getOccurCount());
}

// Status, operators and link: the fields that describe the alarm's state.
void stateFields(CRecStringMap& map, const AlmRecord_t& r, AlmRecord_st& st, bool forExport) {
  const long category = r.getCategory();
  st.strStatus = map.Status(category, r.getClearStatus(), r.getAckStatus());
  st.strAckOperator = operatorName(r.getAckOperator());
  st.strClearOperator = (category == 1 || category == 2) ? operatorName(r.getClearOperator()) : std::string();
  if (CAlmValidCheck::isLinkAlarm(r)) {
    st.strLinkName = forExport ? map.getfdnOIDName4Export(r.getLinkDn()) : map.getfdnOIDName(r.getLinkDn());
    st.strLinkType = st.strCommonLinkType;
  } else {
    st.strLinkName.clear();
    st.strLinkType.clear();
  }
}

void knowledgeBaseTexts(const AlmRecord_t& r, AlmRecord_st& st) {
  ExpandInfo_t info;
  CAlarmExpQueryer* queryer = CAlarmExpQueryer::instance();
  if (queryer != nullptr) {
    queryer->getExpAndAdvice(AlarmInfoEx_t(r.getGroupId(), r.getAlarmId(), r.getReasonId()), info);
  }
  st.strExplanation = info.m_strExplanation;
  st.strClearAdvice = info.m_strClearAdvice;
}

void copyStrExt(const AlmRecord_t& r, AlmRecord_st& st) {
  const XRFMExtMetadata& meta = AlmRecord_t::strExtMetadata;
  for (int row = 0; row < meta.getRowCount(); ++row) {
    for (int col = 0; col < meta.getColumnCount(row); ++col) {
      st.strExt.setValue(row, col, r.getStrExtParam(row, col));
    }
  }
}

// The category as clients group it; a value beyond char is shown as it is
// (and found in no table) rather than cut into another category.
std::string categoryText(const CRecStringMap& map, long category) {
  const bool small = category >= CHAR_MIN && category <= CHAR_MAX;
  return map.Category(small ? CRecStringMap::convertCategoryForRN(static_cast<char>(category)) : category);
}

// AlmMap and its export form, in the order the conversion is defined.
void mapRecord(CRecStringMap& map, const AlmRecord_t& r, AlmRecord_st& st, long timeZone, bool forExport) {
  st = AlmRecord_st();
  st.strCategory = categoryText(map, r.getCategory());
  map.changeAlmBaseField2Str(r, st, forExport);
  st.strAlarmName = map.AlmName(AlarmInfo_t(r.getGroupId(), r.getAlarmId()));
  if (!forExport) knowledgeBaseTexts(r, st);
  map.changeAlmParam(r, st);
  copyStrExt(r, st);
  map.changeAlmIntExtend2Str(r, st, timeZone);
}

}  // namespace

int CRecStringMap::changeAlmBaseField2Str(const AlmRecord_t& record, AlmRecord_st& st, bool forExport) {
  if (g_UserMaintain == nullptr) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::changeAlmBaseField2Str: g_UserMaintain IS NULL");
    return FM_FAILURE;
  }
  objectFields(*this, record, st, forExport);
  stateFields(*this, record, st, forExport);
  return FM_SUCCESS;
}

void CRecStringMap::changeAlmParam(const AlmRecord_t& record, AlmRecord_st& st) const {
  st.strGroupId = decimal(record.getParam(6));
  st.strIdentifier = AlarmIdentifier(record.getParam(8));
}

void CRecStringMap::formatExpInfo(const AlmRecord_t& record, std::string& text) const {
  text = DecodeString(record.getExtendInfo());
  if (*record.getAddtionalText() != '\0') {
    if (!text.empty()) text += " ; ";
    text += record.getAddtionalText();
  }
}

int CRecStringMap::changeAlmIntExtend2Str(const AlmRecord_t& record, AlmRecord_st& st, long timeZone) const {
  const std::string neFdn = record.getNEInfo().strNEFDN;
  XRFMTimeCondMgr* zones = XRFMTimeCondMgr::instance();
  const long neOffset = zones->NETimeZone(neFdn);
  const bool serverZone = timeZone > FM_ZONE_OFFSET_LIMIT || timeZone < -FM_ZONE_OFFSET_LIMIT;
  const long callerOffset = serverZone ? CSysAttr::Instance()->GetSvrTimeZone() : timeZone;
  const struct {
    long utc;
    AlmStExtColumn neColumn;
  } times[] = {
      {record.getOccurUtcTime(), ALMST_OCCUR_NE},
      {record.getClearUtcTime(), ALMST_CLEAR_NE},
      {record.getAckUtcTime(), ALMST_ACK_NE},
      {record.getFirstOccurUtcTime(), ALMST_FIRST_OCCUR_NE},
      {record.getArrivedUtcTime(), ALMST_ARRIVED_NE},
  };
  for (const auto& t : times) {
    std::string& neText = st.extend[t.neColumn];
    std::string& localText = st.extend[t.neColumn + 1];
    if (t.utc == 0) {
      neText.clear(), localText.clear();
      continue;
    }
    CMOTimeInfo info;
    zones->GetNECurrentTime(neFdn, t.utc, info);
    formatTime2Str(t.utc, neOffset, info.m_lNEDstOffset, neText);
    formatTime2Str(t.utc, callerOffset, serverZone ? XRFMTimeUtil::GetSvrCurrentDstOffset(t.utc) : 0, localText);
  }
  st.extend[ALMST_CLEAR_CATEGORY] = attributeText(kClearCategoryAttr, record.getClearCategory());
  st.extend[ALMST_CLEAR_TYPE] = attributeText(kClearTypeAttr, record.getClearType());
  st.extend[ALMST_AFFECT_OPERATION] = attributeText(kAffectOpAttr, record.getBusinessAffected());
  return FM_SUCCESS;
}

int CRecStringMap::AlmMap(const AlmRecord_t& record, AlmRecord_st& st, long timeZone) {
  mapRecord(*this, record, st, timeZone, false);
  return FM_SUCCESS;
}

int CRecStringMap::AlmMapForExport(const AlmRecord_t& record, AlmRecord_st& st, long timeZone) {
  mapRecord(*this, record, st, timeZone, true);
  return FM_SUCCESS;
}

int CRecStringMap::MapForPostExeCommon(const AlmRecord_t& record, AlmRecord_st& st) {
  st = AlmRecord_st();
  st.strCategory = categoryText(*this, record.getCategory());
  objectFields(*this, record, st, false);
  st.strAlarmName = AlmName(AlarmInfo_t(record.getGroupId(), record.getAlarmId()));
  changeAlmParam(record, st);
  copyStrExt(record, st);
  return changeAlmIntExtend2Str(record, st, SERVER_TIME_ZONE);
}

int CRecStringMap::MapEventForPostExe(const AlmRecord_t& record, AlmRecord_st& st) {
  return MapForPostExeCommon(record, st);
}

int CRecStringMap::MapAlarmForPostExe(const AlmRecord_t& record, AlmRecord_st& st) {
  MapForPostExeCommon(record, st);
  knowledgeBaseTexts(record, st);
  if (g_UserMaintain == nullptr) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::changeAlmBaseField2Str: g_UserMaintain IS NULL");
    return FM_FAILURE;
  }
  stateFields(*this, record, st, false);
  return FM_SUCCESS;
}

void CRecStringMap::TransFormAlmInfo2Struct(const AlmRecord_st& st, std::list<FMNameValue_t>& out) const {
  const std::pair<const char*, const std::string*> fields[] = {
      {"Serial_number", &st.strCsn},
      {"Alarm_id", &st.strAlarmId},
      {"Equipment_serial_number", &st.strDevCsn},
      {"Occurrence_count", &st.strOccurCount},
      {"Group_id", &st.strGroupId},
      {"Alarm_category", &st.strCategory},
      {"Ne_type", &st.strNEType},
      {"NE_identity", &st.strNEName},
      {"Object_identity", &st.strMOName},
      {"Alarm_type", &st.strType},
      {"Alarm_level", &st.strLevel},
      {"Alarm_status", &st.strStatus},
      {"Acknowledge_operator", &st.strAckOperator},
      {"Clear_operator", &st.strClearOperator},
      {"Additional_information", &st.strExtendInfo},
      {"Link_identity", &st.strLinkName},
      {"Link_type", &st.strCommonLinkType},
      {"Alarm_identifier", &st.strIdentifier},
      {"Alarm_name", &st.strAlarmName},
      {"Alarm_explanation", &st.strExplanation},
      {"Clear_advice", &st.strClearAdvice},
      {"Occurrence_time_NE", &st.extend[ALMST_OCCUR_NE]},
      {"Occurrence_time", &st.extend[ALMST_OCCUR_LOCAL]},
      {"Clearance_time_NE", &st.extend[ALMST_CLEAR_NE]},
      {"Clearance_time", &st.extend[ALMST_CLEAR_LOCAL]},
      {"Acknowledgement_time_NE", &st.extend[ALMST_ACK_NE]},
      {"Acknowledgement_time", &st.extend[ALMST_ACK_LOCAL]},
      {"First_occurrence_time_NE", &st.extend[ALMST_FIRST_OCCUR_NE]},
      {"First_occurrence_time", &st.extend[ALMST_FIRST_OCCUR_LOCAL]},
      {"Arrival_time_NE", &st.extend[ALMST_ARRIVED_NE]},
      {"Arrival_time", &st.extend[ALMST_ARRIVED_LOCAL]},
      {"Clear_category", &st.extend[ALMST_CLEAR_CATEGORY]},
      {"Clear_type", &st.extend[ALMST_CLEAR_TYPE]},
      {"Affect_operation", &st.extend[ALMST_AFFECT_OPERATION]},
  };
  out.clear();
  for (const auto& f : fields) out.emplace_back(f.first, *f.second);
  const XRFMExtMetadata& meta = AlmRecord_t::strExtMetadata;
  for (int row = 0; row < meta.getRowCount(); ++row) {
    for (int col = 0; col < meta.getColumnCount(row); ++col) {
      out.emplace_back("Str_param_" + decimal(row) + "_" + decimal(col), st.strExt.getValue(row, col, ""));
    }
  }
}

}  // namespace Kyrofm
