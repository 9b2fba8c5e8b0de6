// RecStringMap.h: display strings of alarm fields.
//
// CRecStringMap turns the coded fields of an alarm (level, type, status,
// category, log type, product, NE type, identifier flags, link type,
// managed-object names, times) into the display strings the service shows,
// exports and forwards northbound, and knows the valid ranges of levels and
// types. It also keeps the keyword table from display column keys
// ("Alarm_comment_information") to record field names, and the northbound
// filter of combined alarms.
//
// Where the tables come from:
//  - the fault-management information file "fm.xml" (groups "/vela/product",
//    "/vela/category", "/vela/level", "/vela/type", "/vela/status",
//    "/vela/identifier", "/vela/format", and optionally "/vela/netype"), found
//    by CCentralCfg::GetRecConfigFileName: first "$KYRO_ROOT/etc/fm.xml", then
//    the copy installed with the library in "<prefix>/share/fm_common/etc/fm.xml";
//  - the settings groups "/kyro/vela/MBTS_Conf" and "/kyro/vela/MBTS_Filter"
//    (combined-alarm flags not sent northbound), or the file
//    "$KYRO_ROOT/etc/FMNotify/MBTSFilter.xml" (ReadMBTSFilterFile);
//  - the platform's link type names and managed-object naming services.
// Until the file is read, and for every group the file lacks, the ranges keep
// their defaults: levels 1..4 (ALARM_LEVEL_MAX 5), types 1..11 (maximum 12).
//
// Ownership and threads: one process-wide object (Instance/Destroy). The
// tables are written only while Instance builds the object and read without
// locks afterwards; the combined-alarm map and the managed-object name cache
// have reader/writer locks of their own. Every operation may be called from
// any thread; no thread may use the object while another destroys it.
#ifndef FM_FMCOMMON_RECSTRINGMAP_H
#define FM_FMCOMMON_RECSTRINGMAP_H

#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fm_common/fmcommon/AlmRecordSt.h"
#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/CLinkTypeName.h"

namespace Kyrofm {

// Result codes of the record string map besides 33000, 33002 and 33021.
constexpr long FM_INVALID_STATUS = 33073;   // status arguments out of range
constexpr long FM_UNKNOWN_KEYWORD = 33406;  // display key not in the keyword table

class CRecStringMap {
 public:
  // The map, built and initialised on first use (a failed Init leaves the
  // tables read so far and the default ranges).
  static CRecStringMap* Instance();
  static void Destroy();

  // Reads the information file into the tables: 33000, or 33002 when the file
  // cannot be opened or a required group cannot be read (logged).
  int ReadFMInfoFile();
  // Builds the keyword table: 33000.
  int ReadFMFieldFile();
  // Reads the combined-alarm northbound filter from the settings service:
  // 33000, or 33002 when either group cannot be read.
  int ReadMBTSFilterCfg();
  // Reads it from "$KYRO_ROOT/etc/FMNotify/MBTSFilter.xml" (section
  // "MBTS_Filter", flag number -> "no" or another text): 33000 or 33002.
  int ReadMBTSFilterFile();

  // Ranges. A level is valid when min <= level < ALARM_LEVEL_MAX; a type
  // when it is 1..16 and the type table names it.
  bool isAlmLevelValid(char level) const;
  int getAlmLevelMax() const { return ALARM_LEVEL_MAX - 1; }
  int getAlmLevelMin() const { return m_iAlarmLevelMin; }
  int getAlmLevelCount() const { return ALARM_LEVEL_NUM; }
  bool isAlmTypeValid(char type) const;
  int getAlmTypeMax() const { return m_iAlarmTypeMax; }
  int getAlmTypeMin() const { return m_iAlarmTypeMin; }
  int getAlmTypeCount() const { return ALARM_TYPE_NUM; }
  // Categories 2, 7, 8, 9 and 11 become 1; others stay.
  static char convertCategoryForRN(char category);

  // Code lookups: 33000 and the text, or 33021 and an empty text (logged).
  int Level(long level, std::string& text) const;
  std::string Level(long level) const;
  int Type(long type, std::string& text) const;
  std::string Type(long type) const;
  int Category(long category, std::string& text) const;
  std::string Category(long category) const;
  int LogType(long logType, std::string& text) const;
  std::string LogType(long logType) const;
  int Product(long product, std::string& text) const;
  std::string Product(long product) const;
  int NEType(long neType, std::string& text) const;
  std::string NEType(long neType) const;

  // Name of an alarm definition (group id, alarm id), as registered with
  // setAlmName: 33000, or 33021 and an empty text for an unknown alarm.
  int AlmName(const AlarmInfo_t& alarm, std::string& text) const;
  std::string AlmName(const AlarmInfo_t& alarm) const;
  // Registers (or, with an empty name, removes) the name of an alarm definition.
  void setAlmName(const AlarmInfo_t& alarm, const std::string& name);

  // Status of kind 1 or 2 with two flags 0/1: status table entry 1 + a + 2*b.
  // 33073 and an empty text for anything else.
  int Status(long kind, long a, long b, std::string& text) const;
  std::string Status(long kind, long a, long b) const;
  // Status table entry 1..4 by the combined status; 33073 otherwise.
  int Status(long status, std::string& text) const;
  std::string Status(long status) const;

  // Record field name of a display key: 33000; 33002 for an empty key;
  // 33406 and an empty text for an unknown key.
  int KeyWord(const std::string& key, std::string& field) const;
  std::string KeyWord(const std::string& key) const;

  // Link type name; "Unknown_link_type" when the service knows none.
  int LinkType(int linkType, std::string& text) const;
  std::string LinkType(int linkType) const;
  void getAllLinkTypeInfo(std::map<ProductLinkType_t, std::string>& out) const;
  // The link type name service (owned; for hosts that register names).
  CLinkTypeName* getLinkTypeNameService() { return m_pLinkTypeName.get(); }

  // Copies of the tables: 33000.
  int GetAlmLevelCfg(std::vector<std::string>& out) const;
  int GetAlmTypeCfg(std::vector<std::string>& out) const;
  int GetAlmStatusCfg(std::vector<std::string>& out) const;
  int GetAlmIdentifierCfg(std::vector<std::string>& out) const;

  // "(name)" for each identifier bit 0..10 set; "(UNKNOWN FLAG)" for a bit the
  // table does not name. Empty for 0.
  std::string AlarmIdentifier(long flags) const;

  // Time texts. UTCToString: "0" for 0, else "YYYY-MM-DD HH:MM:SS" of the
  // UTC time (empty and logged when it cannot be converted).
  void UTCToString(std::int64_t utc, std::string& text) const;
  // HHMMSS with the time format, the zone text of `offset` (FormatTimeZone)
  // and " DST" when dst is nonzero. 33000, or the formatting failure.
  int Time(long hhmmss, std::string& text, long offset, long dst) const;
  // YYYYMMDD with the date format.
  int Date(long yyyymmdd, std::string& text) const;
  // Hour and minute of HHMMSS with the hour format.
  int GetHourString(long hhmmss, std::string& text) const;
  // Wall-clock seconds (a local time counted like UTC seconds) as date, " ",
  // time, zone text of `offset` and " DST" when dst is nonzero. 33002 and
  // an empty text (logged) outside years 1..9999.
  int DateTimeEx(long wallSeconds, std::string& text, long offset, long dst) const;
  // Wall-clock seconds as "YYYY-MM-DDTHH:MM:SS+hh:mm" with `offset`. 33002
  // and an empty text (logged) outside years 1..9999 or for an offset
  // beyond +-86399.
  int TimeForXML(long wallSeconds, long offset, std::string& text) const;
  // An instant (UTC seconds) shown in the zone of `offset`: DateTimeEx of
  // utc + offset + dst. "" for utc 0; 33002 (logged) when the sum overflows.
  int formatTime2Str(long utc, long offset, long dst, std::string& text) const;

  // Whole alarm records as display strings (AlmRecord_st; RecStringMapDisplay.cpp).
  // A `timeZone` whose magnitude exceeds 86399 seconds means the server's
  // zone (its standard offset and its DST offset at each instant); any other
  // is taken as the caller's complete offset east of UTC, without DST.
  static constexpr long SERVER_TIME_ZONE = 86400;
  // Every field, the knowledge base's explanation and advice included. 33000.
  int AlmMap(const AlmRecord_t& record, AlmRecord_st& st, long timeZone = SERVER_TIME_ZONE);
  // AlmMap with the export names of managed objects and without the knowledge
  // base look-up (exports fetch explanations in bulk). 33000.
  int AlmMapForExport(const AlmRecord_t& record, AlmRecord_st& st, long timeZone = SERVER_TIME_ZONE);
  // For post-processing scripts, times in the server's zone. Common: identity,
  // category, NE, object, type, level, names, identifier flags, additional
  // information, string parameters and time texts. Events get the common
  // fields; alarms also status, operators, link and knowledge-base texts.
  // 33000, or 33002 when an alarm's operator names cannot be given (no user
  // service; the other fields are filled).
  int MapForPostExeCommon(const AlmRecord_t& record, AlmRecord_st& st);
  int MapEventForPostExe(const AlmRecord_t& record, AlmRecord_st& st);
  int MapAlarmForPostExe(const AlmRecord_t& record, AlmRecord_st& st);
  // The base fields (identity, NE, object, type, level, status, operators,
  // additional information, link). 33000; 33002 and nothing filled (logged)
  // without the user service g_UserMaintain.
  int changeAlmBaseField2Str(const AlmRecord_t& record, AlmRecord_st& st, bool forExport = false);
  // Group id (parameter 6) and identifier flag texts (parameter 8).
  void changeAlmParam(const AlmRecord_t& record, AlmRecord_st& st) const;
  // Time texts and clearance attribute texts of `extend` (AlmRecordSt.h). 33000.
  int changeAlmIntExtend2Str(const AlmRecord_t& record, AlmRecord_st& st, long timeZone) const;
  // The additional information as shown: the record's extended information with
  // list-separator escapes decoded, then its additional text after " ; ".
  void formatExpInfo(const AlmRecord_t& record, std::string& text) const;
  // (display key, text) pairs of a converted record in a fixed order: the
  // keys of the keyword table where one names the field ("Serial_number",
  // "Alarm_level", ...), others such as "Alarm_explanation" and
  // "Occurrence_time_NE", then "Str_param_<row>_<col>" per string parameter.
  void TransFormAlmInfo2Struct(const AlmRecord_st& st, std::list<FMNameValue_t>& out) const;

  const std::string& getDateFormat() const { return m_strDateFormat; }
  const std::string& getHourFormat() const { return m_strHourFormat; }
  const std::string& getTimeFormat() const { return m_strTimeFormat; }

  // Managed-object names (see the naming rules in RecStringMap.cpp):
  // getMOName answers 33000 with the naming service's name (when useNaming),
  // else 0 with the OMC name, the FDN itself or the product library's name; a
  // product library failure answers its code with the FDN as the name.
  int getMOName(const std::string& key, std::string& name, bool useNaming) const;
  // Cached names (the cache keeps every name it was asked for).
  std::string getfdnOIDName(const std::string& key);
  std::string getfdnOIDName4Export(const std::string& key);
  // Replace the cached name of a cached key; nothing for others (logged).
  void setfdnOIDName(const std::string& key, const std::string& name);
  void setnefdnOIDName(const std::string& key, const std::string& name);
  void PreLoadNameByOID(const std::list<AlmRecord_t>& records);
  void batchInitNeNames(const std::list<std::string>& neOids);
  // Names of `fdns` in one naming call, stored under the identifier of each.
  void batchGetNeNames(const std::set<std::string>& fdns, const std::map<std::string, std::string>& fdn2Oid,
                       std::map<std::string, std::string>& cache);
  void deleteMO(const std::string& key);
  void deleteLinkMO(const std::string& key);
  // Removes every cached key whose FDN is the NE's or below it.
  void deleteNEMO(const std::string& neFdn);
  // Looks a cached key's name up again.
  void modifyMO(const std::string& key);
  // Whether `key` has a cached name (for hosts and tests).
  bool isNameCached(const std::string& key) const;

  // Combined-alarm northbound filter: true when the flag is configured not to
  // be sent.
  bool filterAlmByComFlag(long comFlag) const;
  bool isExistComFlagNotSendToNB() const;
  // Flags not sent northbound, in ascending order.
  std::list<std::string> getComFlagsNotSendToNB() const;
  // Puts the flags not sent northbound, as decimal texts, into the values of
  // `cond` (replacing them): 33000.
  long setComAlmFilterCondForNB(FieldCond_t& cond) const;
  // The same flags written to `out` separated by ",": 33000.
  long setComAlmCondForNBExport(std::ostringstream& out) const;

  CRecStringMap(const CRecStringMap&) = delete;
  CRecStringMap& operator=(const CRecStringMap&) = delete;
  ~CRecStringMap();

 private:
  CRecStringMap();
  int Init();
  // Stores each value at the index its name gives (table grown to fit, names
  // that are not numbers 0..1024 skipped); false for an empty group.
  static bool TransformParams2Strings(const std::map<std::string, std::string>& params,
                                      std::vector<std::string>& table, const char* group);
  static int lookupTable(const std::vector<std::string>& table, long code, std::string& text);
  static bool isSafeFormat(const std::string& format);
  bool isAlmLevelValidLong(long level) const;
  bool isAlmTypeValidLong(long type) const;
  // Looks up `key` in the cache (caller holds m_NameLock for writing), else
  // names it and stores it.
  std::string cachedNameLocked(const std::string& key);
  static std::string keyToFdn(const std::string& key);
  static bool isFdnAtOrBelow(const std::string& fdn, const std::string& parent);

  static std::atomic<CRecStringMap*> m_pInstance;
  static ACE_Thread_Mutex m_InstanceMutex;

  std::vector<std::string> m_ProductName;
  std::vector<std::string> m_CategoryName;
  std::vector<std::string> m_LogTypeName;
  std::vector<std::string> m_AlarmLevel;
  std::vector<std::string> m_AlarmType;
  std::vector<std::string> m_StatusName;
  std::vector<std::string> m_AlarmIdentifier;
  std::map<long, std::string> m_NETypeName;
  std::string m_strDateFormat;
  std::string m_strHourFormat;
  std::string m_strTimeFormat;

  int ALARM_LEVEL_MAX = 5;
  int m_iAlarmLevelMin = 1;
  int ALARM_LEVEL_NUM = 4;
  int m_iAlarmTypeMax = 12;
  int m_iAlarmTypeMin = 1;
  int ALARM_TYPE_NUM = 11;

  std::map<std::string, std::string> m_mapKeyWord;

  mutable ACE_RW_Thread_Mutex m_AlmNameLock;
  std::map<AlarmInfo_t, std::string> m_mapAlmName;

  mutable ACE_RW_Thread_Mutex m_ComAlmLock;
  std::map<long, bool> m_mapComAlmFlag;  // flag -> send to northbound

  mutable RW_Lock m_NameLock;  // "CRecStringMap::m_NameLock" in the lock monitor
  std::map<std::string, std::string> m_mapOIDName;

  std::unique_ptr<CLinkTypeName> m_pLinkTypeName;
};

}  // namespace Kyrofm

#endif
