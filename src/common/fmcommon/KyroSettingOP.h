// KyroSettingOP.h: CKyroSettingOP, the typed gateway to the fault-management
// service's tunable settings, and the owner of its character-set decisions.
//
// Every accessor knows its key, its default, the range it accepts and what it
// logs when it falls back; callers never see a raw setting text. Keys are read
// in one of three styles:
//  - path read: the settings service is asked on every call;
//  - group read: the parameters of the group "/kyro/vela" are loaded once when
//    the object is made and looked up in memory (a change reaches them only
//    after destroy() and a new instance());
//  - cached: the first successful read is kept for the life of the object; a
//    failed or invalid read is not cached, so a later good value is seen.
// Numbers must be decimal integers ("12abc" or "abc" is an invalid value, not
// 12 or 0); a flag is true only for the exact text "true" unless an accessor
// says otherwise. No accessor throws: a read failure or an invalid value gives
// the documented default and a log line.
//
// The character-set operations convert UTF-8 texts into the host's local code
// set (ConvertCharSet) or the northbound export code set (ConvertNorthCharSet)
// in the global edition; in the local edition texts are already in the local
// code set and are left alone.
//
// Ownership and threads: one process-wide object made by instance() and
// deleted by destroy() (no thread may use it then). Every other operation may
// be called from any thread; the caches are guarded by an internal mutex and
// the group parameters are read-only after construction.
#ifndef FM_FMCOMMON_KYROSETTINGOP_H
#define FM_FMCOMMON_KYROSETTINGOP_H

#include <atomic>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <ace/Thread_Mutex.h>

#include "fm_common/fmcommon/FMValueTypes.h"

namespace Kyrofm {

class AlmRecord_t;
struct KyroSettingDef;  // a key with its source and default (KyroSettingOP.cpp)

// Northbound flags set when the accessor is made; read by northbound code.
extern std::atomic<bool> g_NBSpecailAlmFlag;
extern std::atomic<bool> g_NBCorAlmFlag;

class CKyroSettingOP {
 public:
  // A key the accessor reads, with the default it documents. `file` is empty
  // for the settings service (then `group` + "/" + `name` is the path; group
  // reads use the group "/kyro/vela"), else the XML configuration file whose
  // node `group` holds the key `name`.
  struct KnownSetting {
    std::string file;
    std::string group;
    std::string name;
    std::string defaultText;
  };

  // ---- lifecycle
  // The process-wide accessor; made (and its group parameters loaded) on first use.
  static CKyroSettingOP* instance();
  static void destroy();

  // Every key an accessor of this class reads, with its default text.
  static const std::vector<KnownSetting>& knownSettings();

  // ---- generic
  // True and the text when the group "/kyro/vela" holds `name`.
  bool getVelaSetting(const std::string& name, std::string& value) const;
  // False only when the settings service answers "no such path" for `path`.
  bool isPathExist(const std::string& path);

  // ---- alarm list and buffers (codes: 33000, 33002 default used, 33029 write refused)
  int getAlmListExpireTime(long& hours);   // 0..168 (above 168 gives 168); else 0 and 33002
  int setAlmListExpireTime(long hours);    // 33000 or 33029
  int getCurAlmMaxRecordNum(long& num);    // 50000..300000, derived from the list size when unset; 33000
  int getLogTableMaxRecordNum(long& num);  // 200000..2000000, else 500000; 33000
  int getClrBufSize(long& size);           // default 500
  int getClrBufChkInter(long& seconds);    // default 60
  int getClrBufLiveTime(long& seconds);    // default 60
  int getClearAlmSynFlag(bool& flag);      // default false
  int getAlarmOverFlowUpLimit(long& num);  // 2000000..30000000, else 2000000; 33000
  int getEventOverFlowUpLimit(long& num);  // 1200000..30000000, else 1200000; 33000
  int getOverflowAutoAckLogCount(unsigned& count);  // 20000..300000, else 100000 and 33002
  bool enableAlmListLockFunc();
  long getMaxTemplateNumOnBoard();  // 10..50, else 10

  // ---- NE synchronisation and LCT
  int setLctSyncSwitch(int on);     // 0 or 1 (else 33002, nothing written); 33000 or 33029
  int getLctSyncSwitch(int& on);    // 1 for "true", else 0; 33000
  // Writes "ne_startsvc_syn", "ne_recover_syn" (any value) and
  // "LCT_user_logout_syn" ("0" or "1") in list order, stopping at the first
  // failure: 33002 invalid value, 33029 unknown name or refused write.
  int setNESynAttr(const std::list<FMNameValue_t>& attrs);
  // Appends the three attributes, each "1" or "0"; 33000.
  int getNESynAttr(std::list<FMNameValue_t>& attrs);
  bool isNeedFilterByNE();  // a nonzero number gives true
  int getFilterNECycle();   // seconds; zero, negative or unreadable give 3600

  // ---- persistence and logs
  long getAlmPersistTimeLen();   // 1..90, else 60
  int getAlmPersistStyle();      // 0..3, else 0
  long getPersistAlmPerFile();   // 2000..50000, else 5000
  long getShieldAlmFreqAna();    // negative gives 0
  int getEfdThreadNum();         // 0..10, else 5
  int getLogStatCount(unsigned& count);  // 1..10, else 2 and 33002
  int setLogStatCount(unsigned count);   // 33000, or 33002 when the write is refused
  bool getPostExeEnableFlag();
  unsigned getPostExeThreadNum();  // clamped to 1..10

  // ---- correlation and northbound
  bool getIsMergerAlmFlag();  // false only for the text "false"
  bool getCorPostProcessFlag();
  long getCorPostProcessDelayPeriod();  // 0..600, else 180
  long getCorPostProcessNBProcID();     // 0..20000, else 80
  long getCorPostProcessE2EProcID();    // 0..20000, else 102
  long getCorPostProcessMaxBufSize();   // 0..20000, else 7000
  bool getRaiseCorAlmFlag();
  long getRaiseCorAlmChkInterval();     // 300..86400, else 300
  long getRaiseCorAlmClearPeriod();     // 60..3600, else 300
  int getRedefineRuleNum();             // 100..500, else 200
  int getC1ValueRuleExistTime(long& seconds);  // zero or negative give 1800; 33000
  int getCorEngineNum();  // "cor_engine_num" of "alarm_conf.xml", 1..5, else 1; cached
  bool getIsSaveDB();     // always true
  bool getSendCorAlmToNBFlag();  // false only for "false"; cached
  // Writes the flag; the cached value is not changed. 33000 or 33029.
  int setSendCorAlmToNBFlag(bool flag);
  bool getSpecialAlmFlag();  // always true
  bool getNBSpecialAlmFlag();
  int getNBMbtsFilterFlag();  // 0..7, else 0
  bool isNeedClearShieldAlm();
  bool isNetPC();
  bool isSupportRNBigCapacity();  // true only for the number 1
  bool isMOAuthentication();
  bool getShortCommentFlag();
  bool supportDynamicDuration();  // true only for the text "1"
  int getOMCNeType(int& neType);  // default 100000; cached once read; 33000
  // Database users granted select on the alarm tables; never empty ("AutoCfg").
  void getGrantSelectUsers(std::list<std::string>& users);
  char getFDNSplitter();
  // True for an alarm of NE type 100000 with alarm id 33, 38 or 39.
  bool isGreenChannelsAlm(const AlmRecord_t* record);

  // ---- threshold and expiry export (group reads; 33000, or 33002 and the default)
  int getThresholdExportInterval(long& v);        // 30..300, else 100
  int getThresholdExportPercent(long& v);         // 10..90, else 40
  int getThresholdExportIsExport(long& v);        // nonzero 1, zero 0; default 1
  int getThresholdExportIsZip(long& v);           // 2 stays 2, else 1
  int getThresholdExportFileType(long& v);        // "XML" 2, else 1
  int getThresholdExportIsRegistTask(long& v);    // nonzero 1; default 1
  int getAlarmExpireTimeExportStartTime(long& v); // 0..23, else 23
  int getAlarmExpireTimeExportIsExport(long& v);
  int getAlarmExpireTimeExportIsZip(long& v);
  int getAlarmExpireTimeExportFileType(long& v);
  int getAlarmExpireTimeExportDay(long& v);       // zero or negative give 90
  int getEventExpireTimeExportStartTime(long& v);
  int getEventExpireTimeExportIsExport(long& v);
  int getEventExpireTimeExportIsZip(long& v);
  int getEventExpireTimeExportFileType(long& v);  // reads the alarm export file type
  int getEventExpireTimeExportDay(long& v);

  // ---- character sets and language
  std::string getLanguage() const;
  bool IsLocalCharSet() const { return m_bIsLocalCharSet; }
  bool IsGlobalVersion() const { return m_bIsGlobalVersion; }
  std::string GetLocalCharSet();         // cached
  std::string getNorthExportCharSet();   // "UTF-8", "GBK" or "ISO-8859-1"; cached
  std::string getLocationDelimiter();    // " " or ", "; cached
  void initIsForceToUseUTF8();
  bool isForceToUseUTF8();

  // Convert UTF-8 texts in place to the local code set (ConvertCharSet) or
  // the northbound export code set (ConvertNorthCharSet); nothing happens in
  // the local edition or when the target is UTF-8. A text that cannot be
  // converted stays as it was. 33000, or 33002 when some text could not be
  // converted (each failure is logged), 33011 when memory ran out.
  static int ConvertCharSet(std::string& text);
  static int ConvertCharSet(std::list<std::string>& texts);
  static int ConvertCharSet(std::vector<std::string>& texts);
  static int ConvertCharSet(std::list<std::list<std::string>>& table);
  static int ConvertCharSet(std::vector<std::vector<std::string>>& table);
  static int ConvertNorthCharSet(std::string& text);
  static int ConvertNorthCharSet(std::list<std::string>& texts);
  static int ConvertNorthCharSet(std::vector<std::string>& texts);
  static int ConvertNorthCharSet(std::list<std::list<std::string>>& table);
  static int ConvertNorthCharSet(std::vector<std::vector<std::string>>& table);

  CKyroSettingOP(const CKyroSettingOP&) = delete;
  CKyroSettingOP& operator=(const CKyroSettingOP&) = delete;

 private:
  enum ReadOutcome { READ_OK, READ_FAILED, READ_INVALID };

  CKyroSettingOP();
  ~CKyroSettingOP() = default;

  void init();
  void InitLocalCharSet();

  // Raw text of a key: 0, or the settings service's (or adapter's) code.
  int readText(const KyroSettingDef& def, std::string& text) const;
  // Text read with the standard failure log ("CKyroSettingOP::<op>, getParamValue
  // failed ..." at `failLevel`, none when failLevel is 0).
  ReadOutcome readTextLogged(const char* op, const KyroSettingDef& def, std::string& text, int failLevel = 5) const;
  // Number read: READ_INVALID (logged) when the text is not a decimal integer.
  ReadOutcome readNumber(const char* op, const KyroSettingDef& def, long& value, int failLevel = 5) const;
  bool readFlag(const char* op, const KyroSettingDef& def, bool defaultValue) const;
  // Number in lo..hi, else the default (logged with the "invalid" message).
  long readRanged(const char* op, const KyroSettingDef& def, long defaultValue, long lo, long hi) const;
  // The threshold and expiry export reads.
  int exportRanged(const char* op, const KyroSettingDef& def, long& v, long def0, long lo, long hi) const;
  int exportNonzero(const char* op, const KyroSettingDef& def, long& v) const;
  int exportZip(const char* op, const KyroSettingDef& def, long& v) const;
  int exportFileType(const char* op, const KyroSettingDef& def, long& v) const;
  int exportPositive(const char* op, const KyroSettingDef& def, long& v, long def0) const;

  bool cachedString(const std::string& name, std::string& value);
  void storeString(const std::string& name, const std::string& value);

  template <typename Table>
  static int convertTable(Table& table, bool north);
  template <typename List>
  static int convertList(List& texts, bool north);
  static int convertOne(std::string& text, bool north);
  // Target code set of a conversion, empty when nothing is to be converted.
  static std::string conversionTarget(bool north);

  static void split(const std::string& text, char delimiter, std::list<std::string>& out);

  static std::atomic<CKyroSettingOP*> _instance;
  static ACE_Thread_Mutex _mutex;

  std::map<std::string, std::string> m_GroupParams;  // "/kyro/vela", loaded by init
  std::atomic<int> m_iOMCNeType{0};
  bool m_bIsForceToUseUTF8 = false;  // guarded by _mutex
  bool m_bIsLocalCharSet = false;
  bool m_bIsGlobalVersion = true;
  std::string m_strLanguage = "en_US";
  mutable std::mutex m_cacheMutex;
  std::map<std::string, std::string> m_StrCache;  // "char_set", "char_set_north", "location_delimiter"
  std::map<std::string, int> m_ValueCache;        // "COR_ENGINE_NUM", "corAlmSendToNBFlag"
};

}  // namespace Kyrofm

#endif
