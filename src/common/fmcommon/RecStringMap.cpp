// RecStringMap.cpp: the display tables of alarm fields, read once from the
// fault-management information file, and the lookups over them.
//
// Naming of managed objects: a key (object identifier or FDN) is turned into
// its FDN by the product customisation; the naming service names it when asked
// to; otherwise the OMC NE and everything below it get the OMC name, and other
// objects the product library's name, or their FDN when no product library is
// loaded or it fails.
#include "fm_common/fmcommon/RecStringMap.h"

#include <ace/Guard_T.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "fm_common/platform/CCentralCfg.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroTrace.h"
#include "fm_common/platform/XRIMIrpPluginplat.h"
#include "fm_common/time/CalculateTime.h"
#include "fm_common/time/XRFMTimeUtil.h"

namespace Kyrofm {

namespace {

constexpr int MAX_TABLE_INDEX = 1024;
constexpr int IDENTIFIER_BITS = 11;  // bits 0..10
constexpr size_t NE_NAME_BATCH = 1000;

// A decimal integer made of digits only (an optional sign), within int.
bool parseInt(const std::string& text, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || end == text.c_str() || v < -2147483647L || v > 2147483647L) return false;
  value = v;
  return true;
}

const char* const kKeyWords[][2] = {
    {"Serial_number", "csn"},
    {"Object_identity", "fdn"},
    {"NE_identity", "nefdn"},
    {"Product_type", "product"},
    {"Ne_type", "netype"},
    {"Equipment_serial_number", "devcsn"},
    {"Alarm_level", "level"},
    {"Alarm_type", "type"},
    {"Clear_status", "recovery"},
    {"Acknowledge_status", "confirm"},
    {"Alarm_status", "status"},
    {"Alarm_category", "category"},
    {"Occurrence_date", "occurdate"},
    {"Occurrence_time", "occurtime"},
    {"Acknowledgement_date", "ackdate"},
    {"Acknowledgement_time", "acktime"},
    {"Clearance_date", "recoverydate"},
    {"Clearance_time", "recoverytime"},
    {"Acknowledge_operator", "operator"},
    {"Clear_operator", "clearoperator"},
    {"Additional_information", "extendinfo"},
    {"Alarm", "alarm"},
    {"Alarm_name", "alarmname"},
    {"Event_name", "eventname"},
    {"Alarm_id", "id"},
    {"Extend_param_1", "param1"},
    {"Extend_param_2", "param2"},
    {"Extend_param_3", "param3"},
    {"Extend_param_4", "param4"},
    {"Extend_param_5", "param5"},
    {"Extend_param_6", "param6"},
    {"Extend_param_7", "param7"},
    {"Extend_param_8", "param8"},
    {"Extend_param_9", "param9"},
    {"Extend_param_10", "param10"},
    {"Link_identity", "linkfdn"},
    {"Link_type", "linktype"},
    {"Reason_id", "reasonid"},
    {"Alarm_comment_information", "comment"},
};

}  // namespace

std::atomic<CRecStringMap*> CRecStringMap::m_pInstance{nullptr};
ACE_Thread_Mutex CRecStringMap::m_InstanceMutex;

CRecStringMap* CRecStringMap::Instance() {
  CRecStringMap* p = m_pInstance.load(std::memory_order_acquire);
  if (p) return p;
  ACE_Guard<ACE_Thread_Mutex> guard(m_InstanceMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p) return p;
  try {
    std::unique_ptr<CRecStringMap> map(new CRecStringMap());
    map->Init();  // a failed Init keeps what was read and the default ranges
    p = map.release();
    m_pInstance.store(p, std::memory_order_release);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Instance, exception: %s", e.what());
    return nullptr;
  }
  return p;
}

void CRecStringMap::Destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_InstanceMutex);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

CRecStringMap::CRecStringMap()
    : m_strDateFormat("%04d-%02d-%02d"), m_strHourFormat("%02d:%02d"), m_strTimeFormat("%02d:%02d:%02d"),
      m_NameLock("CRecStringMap::m_NameLock") {
  m_LogTypeName = {"", "Alarm_list", "Event_alarm", "Fault_alarm"};
  m_pLinkTypeName = std::make_unique<CLinkTypeName>();
  if (!m_pLinkTypeName) FM_TRACE(TRACE_ERROR, "CRecStringMap:CLinkTypeName == NULL");
}

CRecStringMap::~CRecStringMap() = default;

int CRecStringMap::Init() {
  if (!m_pLinkTypeName || XRIMIrpPluginplat::Instance() == nullptr) {
    FM_TRACE(TRACE_ERROR, "_LinkTypeName == 0 || XRIMIrpPluginplat::Instance() == 0!");
    return FM_FAILURE;
  }
  int ret = ReadFMInfoFile();
  if (ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Init, read ReadFMInfoFile fail !");
    return ret;
  }
  ret = ReadFMFieldFile();
  if (ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Init, read ReadFMFieldFile fail !");
    return ret;
  }
  int linkRet = m_pLinkTypeName->init();
  if (linkRet != 0) FM_TRACE(TRACE_ERROR, "_LinkTypeName.init, fail, return is: %d", linkRet);
  if (ReadMBTSFilterCfg() != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Init, read ReadMBTSFilterCfg fail !");
  }
  return linkRet == 0 ? FM_SUCCESS : linkRet;
}

bool CRecStringMap::TransformParams2Strings(const std::map<std::string, std::string>& params,
                                            std::vector<std::string>& table, const char* group) {
  if (params.empty()) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::TransformParams2Strings, group %s is empty", group);
    return false;
  }
  table.assign(params.size() + 1, std::string());
  for (const auto& kv : params) {
    long index = 0;
    if (!parseInt(kv.first, index) || index < 0 || index > MAX_TABLE_INDEX) {
      FM_TRACE(TRACE_ERROR, "CRecStringMap::TransformParams2Strings, group %s invalid name:%s", group,
               kv.first.c_str());
      continue;
    }
    if (static_cast<size_t>(index) >= table.size()) table.resize(static_cast<size_t>(index) + 1);
    table[static_cast<size_t>(index)] = kv.second;
  }
  return true;
}

bool CRecStringMap::isSafeFormat(const std::string& format) {
  std::string out;
  return DateTimeFormat(0, 0, 0, format, out) == FM_SUCCESS;
}

int CRecStringMap::ReadFMInfoFile() {
  std::string file = CCentralCfg::GetRecConfigFileName();
  FM_TRACE(TRACE_DETAIL, "fm.xml file path: %s", file.c_str());
  ConfigAdapter adapter;
  if (adapter.init(file) != 0) {
    FM_TRACE(TRACE_ERROR, "ReadFMInfoFile, ConfigAdapter init failed");
    return FM_FAILURE;
  }
  struct Group {
    const char* name;
    const char* path;
    std::map<std::string, std::string> params;
  } groups[] = {{"product", "/vela/product", {}}, {"category", "/vela/category", {}},
                {"level", "/vela/level", {}},     {"type", "/vela/type", {}},
                {"status", "/vela/status", {}},   {"identifier", "/vela/identifier", {}},
                {"format", "/vela/format", {}}};
  for (auto& g : groups) {
    int ret = CCentralCfg::GetParamGroups(adapter, g.path, g.params);
    if (ret != 0) {
      FM_TRACE(TRACE_ERROR, "ReadFMInfoFile, get %s failed", g.name);
      return FM_FAILURE;
    }
    FM_TRACE(TRACE_DETAIL, "ReadFMInfoFile, get %s result %d", g.name, ret);
  }
  auto& product = groups[0].params;
  auto& category = groups[1].params;
  auto& level = groups[2].params;
  auto& type = groups[3].params;
  auto& status = groups[4].params;
  auto& identifier = groups[5].params;
  auto& format = groups[6].params;

  TransformParams2Strings(product, m_ProductName, "product");
  TransformParams2Strings(category, m_CategoryName, "category");
  m_LogTypeName = {"", "Alarm_list", "Event_alarm", "Fault_alarm"};

  if (TransformParams2Strings(level, m_AlarmLevel, "level")) {
    ALARM_LEVEL_NUM = static_cast<int>(level.size());
    ALARM_LEVEL_MAX = ALARM_LEVEL_NUM + 1;
  }
  FM_TRACE(TRACE_DETAIL, "ALARM_LEVEL_NUM = %d, ALARM_LEVEL_MAX = %d", ALARM_LEVEL_NUM, ALARM_LEVEL_MAX);

  if (!type.empty()) {
    m_AlarmType.assign(17, std::string());
    int maxType = 0, minType = 999;
    for (const auto& kv : type) {
      long n = 0;
      if (!parseInt(kv.first, n) || n < 1 || n > 16) continue;
      m_AlarmType[static_cast<size_t>(n)] = kv.second;
      if (n > maxType) maxType = static_cast<int>(n);
      if (n < minType) minType = static_cast<int>(n);
    }
    // Without a name in 1..16 the range is empty: maximum 0, minimum 999.
    m_iAlarmTypeMax = maxType;
    m_iAlarmTypeMin = minType;
    ALARM_TYPE_NUM = static_cast<int>(type.size());
  }
  FM_TRACE(TRACE_ERROR, "ALARM_TYPE_NUM = %d ALARM_TYPE_MAX = %d", ALARM_TYPE_NUM, m_iAlarmTypeMax);

  TransformParams2Strings(status, m_StatusName, "status");
  TransformParams2Strings(identifier, m_AlarmIdentifier, "identifier");
  FM_TRACE(TRACE_DETAIL, "ReadFMInfoFile, get identifier success, m_AlarmIdentifier.size():%d",
           static_cast<int>(m_AlarmIdentifier.size()));

  for (const auto& kv : format) {
    if (kv.first.empty()) {
      FM_TRACE(TRACE_ERROR, "ReadFMInfoFile, params->name failed");
      continue;
    }
    std::string* target = kv.first == "date"   ? &m_strDateFormat
                          : kv.first == "hour" ? &m_strHourFormat
                          : kv.first == "time" ? &m_strTimeFormat
                                               : nullptr;
    if (!target) continue;
    if (!isSafeFormat(kv.second)) {
      FM_TRACE(TRACE_ERROR, "ReadFMInfoFile, format %s invalid:%s, keep %s", kv.first.c_str(),
               kv.second.c_str(), target->c_str());
      continue;
    }
    *target = kv.second;
  }
  FM_TRACE(TRACE_DETAIL, "m_strDateFormat = %s", m_strDateFormat.c_str());
  FM_TRACE(TRACE_DETAIL, "m_strHourFormat = %s", m_strHourFormat.c_str());
  FM_TRACE(TRACE_DETAIL, "m_strTimeFormat = %s", m_strTimeFormat.c_str());

  // NE type names are optional in the file.
  std::map<std::string, std::string> netype;
  if (CCentralCfg::GetParamGroups(adapter, "/vela/netype", netype) == 0) {
    for (const auto& kv : netype) {
      long n = 0;
      if (parseInt(kv.first, n)) m_NETypeName[n] = kv.second;
    }
  }
  FM_TRACE(TRACE_DETAIL, "ReadFMInfoFile success!");
  return FM_SUCCESS;
}

int CRecStringMap::ReadFMFieldFile() {
  m_mapKeyWord.clear();
  for (const auto& kw : kKeyWords) m_mapKeyWord[kw[0]] = kw[1];
  if (m_mapKeyWord.size() != sizeof kKeyWords / sizeof kKeyWords[0]) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Init(), InitAlarmKeyWord failed");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

int CRecStringMap::ReadMBTSFilterCfg() {
  static const char* const confPath = "/kyro/vela/MBTS_Conf";
  static const char* const filterPath = "/kyro/vela/MBTS_Filter";
  std::map<std::string, std::string> conf, filter;
  if (Setting::instance()->getGroupParams(confPath, conf) != 0) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::ReadMBTSFilterCfg,get MBTS name-key map fail.path[%s]", confPath);
    return FM_FAILURE;
  }
  if (Setting::instance()->getGroupParams(filterPath, filter) != 0) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::ReadMBTSFilterCfg,get MBTS name-value map fail.path[%s]", filterPath);
    return FM_FAILURE;
  }
  for (const auto& kv : conf) {
    long flag = std::atol(kv.second.c_str());
    if (flag == 0) continue;
    auto it = filter.find(kv.first);
    if (it == filter.end()) {
      FM_TRACE(TRACE_PROGRESS, "CRecStringMap::ReadMBTSFilterCfg,no value for [%s]", kv.first.c_str());
      continue;
    }
    bool send = it->second != "no";
    {
      ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_ComAlmLock);
      m_mapComAlmFlag[flag] = send;
    }
    FM_TRACE(TRACE_DETAIL, "ReadMBTSFilterCfg insert into map:comAlmFlag:%d, value:%d", static_cast<int>(flag),
             send ? 1 : 0);
  }
  return FM_SUCCESS;
}

int CRecStringMap::ReadMBTSFilterFile() {
  std::string root = KyroCommonUtils::getRoot();
  if (root.empty()) {
    FM_TRACE(TRACE_ERROR, "ReadMBTSFilterFile, getenv KYRO_ROOT failed");
    return FM_FAILURE;
  }
  std::string file = root + "/etc/FMNotify/MBTSFilter.xml";
  ConfigAdapter adapter;
  std::map<std::string, std::string> params;
  if (adapter.init(file) != 0 || adapter.getAllSysParam("MBTS_Filter", params) != 0) {
    FM_TRACE(TRACE_ERROR, "ReadMBTSFilterFile getAllSysParam failed! section name:MBTS_Filter");
    return FM_FAILURE;
  }
  int count = 0;
  for (const auto& kv : params) {
    long flag = 0;
    if (!parseInt(kv.first, flag)) {
      FM_TRACE(TRACE_ERROR, "ReadMBTSFilterFile invalid name: %s", kv.first.c_str());
      continue;
    }
    bool send = kv.second != "no";
    {
      ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_ComAlmLock);
      m_mapComAlmFlag[flag] = send;
    }
    ++count;
    FM_TRACE(TRACE_DETAIL, "ReadMBTSFilterFile insert into map:comAlmFlag:%d, value:%d", static_cast<int>(flag),
             send ? 1 : 0);
  }
  FM_TRACE(TRACE_PROGRESS, "ReadMBTSFilterFile success! Read values count: %d", count);
  return FM_SUCCESS;
}

// ---------------------------------------------------------------------------
// Ranges

bool CRecStringMap::isAlmLevelValidLong(long level) const {
  return level >= m_iAlarmLevelMin && level < ALARM_LEVEL_MAX;
}

bool CRecStringMap::isAlmLevelValid(char level) const { return isAlmLevelValidLong(level); }

bool CRecStringMap::isAlmTypeValidLong(long type) const {
  return type >= 1 && type <= 16 && static_cast<size_t>(type) < m_AlarmType.size() &&
         !m_AlarmType[static_cast<size_t>(type)].empty();
}

bool CRecStringMap::isAlmTypeValid(char type) const { return isAlmTypeValidLong(type); }

char CRecStringMap::convertCategoryForRN(char category) {
  switch (category) {
    case 2:
    case 7:
    case 8:
    case 9:
    case 11:
      return 1;
    default:
      return category;
  }
}

// ---------------------------------------------------------------------------
// Lookups

int CRecStringMap::lookupTable(const std::vector<std::string>& table, long code, std::string& text) {
  if (code < 1 || static_cast<unsigned long>(code) >= table.size() || table[static_cast<size_t>(code)].empty()) {
    text.clear();
    return FM_INVALID_ARG;
  }
  text = table[static_cast<size_t>(code)];
  return FM_SUCCESS;
}

int CRecStringMap::Level(long level, std::string& text) const {
  if (!isAlmLevelValidLong(level) || lookupTable(m_AlarmLevel, level, text) != FM_SUCCESS) {
    text.clear();
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Level, invalid level:%d", static_cast<int>(level));
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

std::string CRecStringMap::Level(long level) const {
  std::string text;
  if (!isAlmLevelValidLong(level) || lookupTable(m_AlarmLevel, level, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Level, invalid Level: %d", static_cast<int>(level));
    return std::string();
  }
  return text;
}

int CRecStringMap::Type(long type, std::string& text) const {
  if (!isAlmTypeValidLong(type)) {
    text.clear();
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Type, invalid type:%d", static_cast<int>(type));
    return FM_INVALID_ARG;
  }
  text = m_AlarmType[static_cast<size_t>(type)];
  return FM_SUCCESS;
}

std::string CRecStringMap::Type(long type) const {
  if (!isAlmTypeValidLong(type)) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Type, invalid Type :%d", static_cast<int>(type));
    return std::string();
  }
  return m_AlarmType[static_cast<size_t>(type)];
}

int CRecStringMap::Category(long category, std::string& text) const {
  if (lookupTable(m_CategoryName, category, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Category, invalid category:%d", static_cast<int>(category));
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

std::string CRecStringMap::Category(long category) const {
  std::string text;
  if (lookupTable(m_CategoryName, category, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "Category is invalid !(%d)", static_cast<int>(category));
  }
  return text;
}

int CRecStringMap::LogType(long logType, std::string& text) const {
  if (lookupTable(m_LogTypeName, logType, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::LogType, invalid logType:%d", static_cast<int>(logType));
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

std::string CRecStringMap::LogType(long logType) const {
  std::string text;
  if (lookupTable(m_LogTypeName, logType, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "LogType is invalid !(%d)", static_cast<int>(logType));
  }
  return text;
}

int CRecStringMap::Product(long product, std::string& text) const {
  if (lookupTable(m_ProductName, product, text) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::Product, invalid product:%d", static_cast<int>(product));
    return FM_INVALID_ARG;
  }
  return FM_SUCCESS;
}

std::string CRecStringMap::Product(long product) const {
  std::string text;
  Product(product, text);
  return text;
}

int CRecStringMap::NEType(long neType, std::string& text) const {
  auto it = m_NETypeName.find(neType);
  if (it == m_NETypeName.end()) {
    text.clear();
    FM_TRACE(TRACE_ERROR, "CRecStringMap::NEType, invalid NE type:%ld", neType);
    return FM_INVALID_ARG;
  }
  text = it->second;
  return FM_SUCCESS;
}

std::string CRecStringMap::NEType(long neType) const {
  std::string text;
  NEType(neType, text);
  return text;
}

int CRecStringMap::AlmName(const AlarmInfo_t& alarm, std::string& text) const {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_AlmNameLock);
  auto it = m_mapAlmName.find(alarm);
  if (it == m_mapAlmName.end()) {
    text.clear();
    FM_TRACE(TRACE_ERROR, "CRecStringMap::AlmName, invalid alarm:%ld,%ld", alarm.m_lGroupId, alarm.m_lAlarmId);
    return FM_INVALID_ARG;
  }
  text = it->second;
  return FM_SUCCESS;
}

std::string CRecStringMap::AlmName(const AlarmInfo_t& alarm) const {
  std::string text;
  AlmName(alarm, text);
  return text;
}

void CRecStringMap::setAlmName(const AlarmInfo_t& alarm, const std::string& name) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_AlmNameLock);
  if (name.empty()) {
    m_mapAlmName.erase(alarm);
  } else {
    m_mapAlmName[alarm] = name;
  }
}

int CRecStringMap::Status(long kind, long a, long b, std::string& text) const {
  text.clear();
  if ((kind != 1 && kind != 2) || (a != 0 && a != 1) || (b != 0 && b != 1)) return FM_INVALID_STATUS;
  size_t index = static_cast<size_t>(1 + a + 2 * b);
  if (index >= m_StatusName.size()) return FM_INVALID_STATUS;
  text = m_StatusName[index];
  return FM_SUCCESS;
}

std::string CRecStringMap::Status(long kind, long a, long b) const {
  std::string text;
  Status(kind, a, b, text);
  return text;
}

int CRecStringMap::Status(long status, std::string& text) const {
  text.clear();
  if (status < 1 || status > 4 || static_cast<size_t>(status) >= m_StatusName.size()) return FM_INVALID_STATUS;
  text = m_StatusName[static_cast<size_t>(status)];
  return FM_SUCCESS;
}

std::string CRecStringMap::Status(long status) const {
  std::string text;
  Status(status, text);
  return text;
}

int CRecStringMap::KeyWord(const std::string& key, std::string& field) const {
  field.clear();
  if (key.empty()) {
    FM_TRACE(TRACE_ERROR, "Key word is NULL !");
    return FM_FAILURE;
  }
  auto it = m_mapKeyWord.find(key);
  if (it == m_mapKeyWord.end()) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::KeyWord, Unknown key word : %s", key.c_str());
    return FM_UNKNOWN_KEYWORD;
  }
  field = it->second;
  return FM_SUCCESS;
}

std::string CRecStringMap::KeyWord(const std::string& key) const {
  if (key.empty()) {
    FM_TRACE(TRACE_ERROR, "Key word is NULL !");
    return std::string();
  }
  auto it = m_mapKeyWord.find(key);
  if (it == m_mapKeyWord.end()) {
    FM_TRACE(TRACE_ERROR, "Unknown key word : %s", key.c_str());
    return std::string();
  }
  return it->second;
}

int CRecStringMap::LinkType(int linkType, std::string& text) const {
  text = m_pLinkTypeName->getName(linkType);
  if (text == CLinkTypeName::UNKNOWN_NAME) text = "Unknown_link_type";
  return FM_SUCCESS;
}

std::string CRecStringMap::LinkType(int linkType) const {
  std::string text;
  LinkType(linkType, text);
  return text;
}

void CRecStringMap::getAllLinkTypeInfo(std::map<ProductLinkType_t, std::string>& out) const {
  m_pLinkTypeName->getAllLinkTypeInfo(out);
}

int CRecStringMap::GetAlmLevelCfg(std::vector<std::string>& out) const {
  out = m_AlarmLevel;
  return FM_SUCCESS;
}

int CRecStringMap::GetAlmTypeCfg(std::vector<std::string>& out) const {
  out = m_AlarmType;
  return FM_SUCCESS;
}

int CRecStringMap::GetAlmStatusCfg(std::vector<std::string>& out) const {
  out = m_StatusName;
  return FM_SUCCESS;
}

int CRecStringMap::GetAlmIdentifierCfg(std::vector<std::string>& out) const {
  out = m_AlarmIdentifier;
  return FM_SUCCESS;
}

std::string CRecStringMap::AlarmIdentifier(long flags) const {
  std::string text;
  if (flags == 0) return text;
  for (int i = 0; i < IDENTIFIER_BITS; ++i) {
    if (((static_cast<unsigned long>(flags) >> i) & 1UL) == 0) continue;
    if (static_cast<size_t>(i) < m_AlarmIdentifier.size()) {
      text += "(" + m_AlarmIdentifier[static_cast<size_t>(i)] + ")";
    } else {
      text += "(UNKNOWN FLAG)";
      FM_TRACE(TRACE_ERROR, "CRecStringMap::AlarmIdentifier: unknown identifier %d.", i);
    }
  }
  return text;
}

// ---------------------------------------------------------------------------
// Time texts

void CRecStringMap::UTCToString(std::int64_t utc, std::string& text) const {
  if (utc == 0) {
    text = "0";
    return;
  }
  time_t t = static_cast<time_t>(utc);
  struct tm tmv;
  if (gmtime_r(&t, &tmv) == nullptr || tmv.tm_year > 9999 - 1900 || tmv.tm_year < 1 - 1900) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::UTCToString: time %ld invalid.", static_cast<long>(utc));
    text.clear();
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tmv.tm_year + 1900, tmv.tm_mon + 1,
                tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  text = buf;
}

int CRecStringMap::Time(long hhmmss, std::string& text, long offset, long dst) const {
  long ret = DateTimeFormat(static_cast<int>(hhmmss / 10000), static_cast<int>(hhmmss % 10000 / 100),
                            static_cast<int>(hhmmss % 100), m_strTimeFormat, text);
  if (ret != FM_SUCCESS) return static_cast<int>(ret);
  text += FormatTimeZone(offset);
  if (dst) text += " DST";
  return FM_SUCCESS;
}

int CRecStringMap::Date(long yyyymmdd, std::string& text) const {
  return static_cast<int>(DateTimeFormat(static_cast<int>(yyyymmdd / 10000), static_cast<int>(yyyymmdd % 10000 / 100),
                                         static_cast<int>(yyyymmdd % 100), m_strDateFormat, text));
}

int CRecStringMap::GetHourString(long hhmmss, std::string& text) const {
  return static_cast<int>(DateTimeFormat(static_cast<int>(hhmmss / 10000), static_cast<int>(hhmmss % 10000 / 100),
                                         0, m_strHourFormat, text));
}

int CRecStringMap::DateTimeEx(long wallSeconds, std::string& text, long offset, long dst) const {
  text.clear();
  long date = 0, time = 0;
  XRFMTimeUtil::Seconds2Time(wallSeconds, date, time);
  if (date == 0 && wallSeconds != 0) return FM_FAILURE;  // outside years 1..9999, logged
  std::string d, t;
  int ret = Date(date, d);
  if (ret == FM_SUCCESS) ret = Time(time, t, offset, dst);
  if (ret != FM_SUCCESS) return ret;
  text = d + " " + t;
  return FM_SUCCESS;
}

int CRecStringMap::TimeForXML(long wallSeconds, long offset, std::string& text) const {
  text.clear();
  time_t t = static_cast<time_t>(wallSeconds);
  struct tm tmv;
  if (gmtime_r(&t, &tmv) == nullptr || tmv.tm_year > 9999 - 1900 || tmv.tm_year < 1 - 1900 ||
      offset < -FM_ZONE_OFFSET_LIMIT || offset > FM_ZONE_OFFSET_LIMIT) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::TimeForXML: time %ld or offset %ld invalid.", wallSeconds, offset);
    return FM_FAILURE;
  }
  long a = offset < 0 ? -offset : offset;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", tmv.tm_year + 1900, tmv.tm_mon + 1,
                tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, offset < 0 ? '-' : '+', a / 3600, a % 3600 / 60);
  text = buf;
  return FM_SUCCESS;
}

int CRecStringMap::formatTime2Str(long utc, long offset, long dst, std::string& text) const {
  if (utc == 0) {
    text.clear();
    return FM_SUCCESS;
  }
  long wall = 0;
  if (__builtin_add_overflow(utc, offset, &wall) || __builtin_add_overflow(wall, dst, &wall)) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::formatTime2Str: time %ld with offset %ld and dst %ld invalid.", utc, offset,
             dst);
    text.clear();
    return FM_FAILURE;
  }
  return DateTimeEx(wall, text, offset, dst);
}

// ---------------------------------------------------------------------------
// Managed-object names

std::string CRecStringMap::keyToFdn(const std::string& key) {
  std::string fdn;
  if (ProductCustomizeModuleManager::instance()->oid2Fdn(key, fdn) != FM_SUCCESS || fdn.empty()) fdn = key;
  return fdn;
}

bool CRecStringMap::isFdnAtOrBelow(const std::string& fdn, const std::string& parent) {
  if (parent.empty() || fdn.size() < parent.size() || fdn.compare(0, parent.size(), parent) != 0) return false;
  if (fdn.size() == parent.size()) return true;
  char splitter = CFDNSplitter::instance()->getSplitter();
  return fdn[parent.size()] == splitter || parent.back() == splitter;
}

int CRecStringMap::getMOName(const std::string& key, std::string& name, bool useNaming) const {
  std::string fdn = keyToFdn(key);
  XRIMIrpPluginplat* plat = XRIMIrpPluginplat::Instance();
  if (useNaming) {
    std::string named;
    if (plat->getMOName(fdn, named) == FM_SUCCESS) {
      name = named;
      return FM_SUCCESS;
    }
  }
  int result = 0;
  std::string omc = plat->getOMCNeFdn();
  if (isFdnAtOrBelow(fdn, omc)) {
    name = plat->getOMCName();
    if (name.empty()) name = CFDNSplitter::instance()->getRootFdn();
    if (name.empty()) name = fdn;
    FM_TRACE(TRACE_PROGRESS, "getMOName,FDN(%s)OMCName(%s)", fdn.c_str(), name.c_str());
  } else if (!plat->hasProductLib()) {
    name = fdn;
    FM_TRACE(TRACE_PROGRESS, "getMOName,FDN(%s)DftName(%s)", fdn.c_str(), name.c_str());
  } else {
    std::string product;
    int ret = plat->getProductMOName(fdn, product);
    if (ret != 0) {
      FM_TRACE(TRACE_ERROR, "CRecStringMap::getMOName: unrecognized fdn %s iRet: %d", fdn.c_str(), ret);
      name = fdn;
      result = ret;
    } else {
      name = product;
    }
    FM_TRACE(TRACE_PROGRESS, "getMOName,FDN(%s)ProductName(%s)", fdn.c_str(), name.c_str());
  }
  return result;
}

std::string CRecStringMap::cachedNameLocked(const std::string& key) {
  auto it = m_mapOIDName.find(key);
  if (it != m_mapOIDName.end()) return it->second;
  std::string name;
  getMOName(key, name, true);
  m_mapOIDName[key] = name;
  return name;
}

std::string CRecStringMap::getfdnOIDName(const std::string& key) {
  Write_Lock_Guard guard(m_NameLock);
  return cachedNameLocked(key);
}

std::string CRecStringMap::getfdnOIDName4Export(const std::string& key) {
  Write_Lock_Guard guard(m_NameLock);
  return cachedNameLocked(key);
}

void CRecStringMap::setfdnOIDName(const std::string& key, const std::string& name) {
  Write_Lock_Guard guard(m_NameLock);
  auto it = m_mapOIDName.find(key);
  if (it == m_mapOIDName.end()) {
    FM_TRACE(TRACE_PROGRESS, "CRecStringMap::setfdnOIDName oid not found:%s", key.c_str());
    return;
  }
  it->second = name;
}

void CRecStringMap::setnefdnOIDName(const std::string& key, const std::string& name) {
  Write_Lock_Guard guard(m_NameLock);
  auto it = m_mapOIDName.find(key);
  if (it == m_mapOIDName.end()) {
    FM_TRACE(TRACE_PROGRESS, "CRecStringMap::setnefdnOIDName oid not found:%s", key.c_str());
    return;
  }
  it->second = name;
}

void CRecStringMap::PreLoadNameByOID(const std::list<AlmRecord_t>& records) {
  CCalculateTime timer("PreLoadNameByOID", static_cast<unsigned>(records.size()));
  Write_Lock_Guard guard(m_NameLock);
  std::set<std::string> fdns;
  std::map<std::string, std::string> oid2fdn;
  for (const auto& rec : records) {
    std::string oid = rec.getMoDn();
    if (oid.empty() || m_mapOIDName.count(oid) || oid2fdn.count(oid)) continue;
    std::string fdn = keyToFdn(oid);
    oid2fdn[oid] = fdn;
    fdns.insert(fdn);
  }
  if (fdns.empty()) return;
  std::map<std::string, std::string> fdn2name;
  int ret = XRIMIrpPluginplat::Instance()->getBatchMOName(fdns, fdn2name);
  if (ret != FM_SUCCESS || fdn2name.empty()) {
    FM_TRACE(TRACE_PROGRESS, "getBatchMOName, iRet =%d or mapFDN2Name.empty().", ret);
    return;
  }
  KyroLongTrace trace(TRACE_DETAIL, "PreLoadNameByOID,OID/NAME:");
  for (const auto& kv : oid2fdn) {
    std::string name;
    auto it = fdn2name.find(kv.second);
    if (it != fdn2name.end()) {
      name = it->second;
    } else {
      getMOName(kv.first, name, true);
    }
    m_mapOIDName[kv.first] = name;
    trace.addText(kv.first + "/" + name);
  }
}

void CRecStringMap::batchInitNeNames(const std::list<std::string>& neOids) {
  Write_Lock_Guard guard(m_NameLock);
  std::set<std::string> fdns;
  std::map<std::string, std::string> fdn2oid;
  for (const auto& oid : neOids) {
    if (m_mapOIDName.count(oid)) continue;
    std::string fdn = keyToFdn(oid);
    fdn2oid[fdn] = oid;
    fdns.insert(fdn);
    if (fdns.size() >= NE_NAME_BATCH) {
      batchGetNeNames(fdns, fdn2oid, m_mapOIDName);
      fdns.clear();
      fdn2oid.clear();
    }
  }
  if (!fdns.empty()) batchGetNeNames(fdns, fdn2oid, m_mapOIDName);
}

void CRecStringMap::batchGetNeNames(const std::set<std::string>& fdns,
                                    const std::map<std::string, std::string>& fdn2Oid,
                                    std::map<std::string, std::string>& cache) {
  std::map<std::string, std::string> names;
  int ret = XRIMIrpPluginplat::Instance()->getBatchMOName(fdns, names);
  if (ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::batchGetNeNames, getBatchMOName fail:%d", ret);
    return;
  }
  for (const auto& kv : names) {
    auto it = fdn2Oid.find(kv.first);
    if (it != fdn2Oid.end()) cache[it->second] = kv.second;
  }
}

void CRecStringMap::deleteMO(const std::string& key) {
  Write_Lock_Guard guard(m_NameLock);
  m_mapOIDName.erase(key);
}

void CRecStringMap::deleteLinkMO(const std::string& key) {
  Write_Lock_Guard guard(m_NameLock);
  m_mapOIDName.erase(key);
}

void CRecStringMap::deleteNEMO(const std::string& neFdn) {
  Write_Lock_Guard guard(m_NameLock);
  for (auto it = m_mapOIDName.begin(); it != m_mapOIDName.end();) {
    if (isFdnAtOrBelow(keyToFdn(it->first), neFdn)) {
      it = m_mapOIDName.erase(it);
    } else {
      ++it;
    }
  }
}

void CRecStringMap::modifyMO(const std::string& key) {
  Write_Lock_Guard guard(m_NameLock);
  auto it = m_mapOIDName.find(key);
  if (it == m_mapOIDName.end()) return;
  std::string name;
  int ret = getMOName(key, name, true);
  if (ret != 0 && ret != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CRecStringMap::modifyMO getMOName failed");
    return;
  }
  it->second = name;
}

bool CRecStringMap::isNameCached(const std::string& key) const {
  Read_Lock_Guard guard(m_NameLock);
  return m_mapOIDName.count(key) != 0;
}

// ---------------------------------------------------------------------------
// Combined-alarm northbound filter

bool CRecStringMap::filterAlmByComFlag(long comFlag) const {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_ComAlmLock);
  auto it = m_mapComAlmFlag.find(comFlag);
  return it != m_mapComAlmFlag.end() && !it->second;
}

bool CRecStringMap::isExistComFlagNotSendToNB() const {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_ComAlmLock);
  for (const auto& kv : m_mapComAlmFlag) {
    if (!kv.second) {
      FM_TRACE(TRACE_PROGRESS, "CRecStringMap::isExistComFlagNotSendToNB, comFlag:%d", static_cast<int>(kv.first));
      return true;
    }
  }
  return false;
}

std::list<std::string> CRecStringMap::getComFlagsNotSendToNB() const {
  std::list<std::string> out;
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_ComAlmLock);
  for (const auto& kv : m_mapComAlmFlag) {
    if (!kv.second) out.push_back(std::to_string(kv.first));
  }
  return out;
}

long CRecStringMap::setComAlmFilterCondForNB(FieldCond_t& cond) const {
  cond.m_lstValues = getComFlagsNotSendToNB();
  std::string joined;
  for (const auto& flag : cond.m_lstValues) joined += (joined.empty() ? "" : ",") + flag;
  FM_TRACE(TRACE_PROGRESS, "CRecStringMap::setComAlmFilterCondForNB not send to NB ComAlmValue:%s", joined.c_str());
  return FM_SUCCESS;
}

long CRecStringMap::setComAlmCondForNBExport(std::ostringstream& out) const {
  std::string joined;
  for (const auto& flag : getComFlagsNotSendToNB()) {
    if (!joined.empty()) joined += ",";
    joined += flag;
  }
  out << joined;
  FM_TRACE(TRACE_PROGRESS, "CRecStringMap::setComAlmCondForNBExport, not send to NB ComAlmValue:%s", joined.c_str());
  return FM_SUCCESS;
}

}  // namespace Kyrofm
