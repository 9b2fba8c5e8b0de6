// KyroSettingOP.cpp: the settings accessor of the fault-management service.
//
// Every key is declared once in the table of known settings below, with the
// default text that the shipped settings file documents; the accessors read
// through those declarations, so the file and the code cannot drift apart
// without the tests noticing.
#include "fm_common/fmcommon/KyroSettingOP.h"

#include "fm_common/time/CalculateTime.h"

#include <strings.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <ace/Guard_T.h>

#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroOS.h"
#include "fm_common/platform/KyroCommonUtils.h"
#include "fm_common/platform/KyroConfigAdapter.h"
#include "fm_common/platform/KyroGlobalUtils.h"
#include "fm_common/platform/KyroMsg.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::atomic<bool> g_NBSpecailAlmFlag{false};
std::atomic<bool> g_NBCorAlmFlag{false};

std::atomic<CKyroSettingOP*> CKyroSettingOP::_instance{nullptr};
ACE_Thread_Mutex CKyroSettingOP::_mutex;

// Where a key lives: a path of the settings service, a parameter of the group
// "/kyro/vela" loaded at start, or a key of an XML configuration file.
struct KyroSettingDef {
  enum Source { PATH, GROUP, XML };
  Source src;
  const char* group;  // group of a path, node of an XML key
  const char* name;
  const char* def;    // the documented default, as text
  const char* file;   // XML file, else null
  std::string path() const { return std::string(group) + "/" + name; }
};

namespace {

const char* const kVela = "/kyro/vela";
const char* const kAlmConf = "/kyro/vela/alarm_configure";
const char* const kCorPost = "/kyro/vela/cor_postprocess";
const char* const kNeDelete = "/kyro/vela/EventProcess/NEDeletePolicy";

}  // namespace

#define FM_PATH(id, group, name, def) \
  const KyroSettingDef id{KyroSettingDef::PATH, group, name, def, nullptr}
#define FM_GROUP(id, name, def) \
  const KyroSettingDef id{KyroSettingDef::GROUP, kVela, name, def, nullptr}

namespace {
// ---- paths
FM_PATH(kAlmListExpireTime, kVela, "AlarmListExpireTime", "0");
FM_PATH(kClrBufSize, kAlmConf, "clear_alm_buf_size", "500");
FM_PATH(kClrBufChkPeriod, kAlmConf, "clear_alm_buf_chk_period", "60");
FM_PATH(kClrBufLifetime, kAlmConf, "clear_alm_buf_lifetime", "60");
FM_PATH(kClearAlmSynFlag, kAlmConf, "clear_alm_syn_flag", "false");
FM_PATH(kOverflowAutoAck, kVela, "overflowAutoAckLogCount", "100000");
FM_PATH(kMaxTemplateNum, kVela, "maxTemplateNumOnBoard", "10");
FM_PATH(kLctSynSwitch, kAlmConf, "LCT_syn_switch", "false");
FM_PATH(kNeStartSvcSyn, kAlmConf, "ne_startsvc_syn", "0");
FM_PATH(kNeRecoverSyn, kAlmConf, "ne_recover_syn", "0");
FM_PATH(kLctUserLogoutSyn, kAlmConf, "LCT_user_logout_syn", "0");
FM_PATH(kIsNeedFilterByNE, kNeDelete, "IsNeedFilterByNE", "0");
FM_PATH(kNeFilterCycle, kNeDelete, "NeFilterCycle", "3600");
FM_PATH(kAlmPersistTimeLen, kVela, "AlmPersistTimeLen", "60");
FM_PATH(kAlmPersistSetting, kVela, "AlmPersistSetting", "0");
FM_PATH(kPersistAlmPerFile, kVela, "PersistAlmNumPerFile", "5000");
FM_PATH(kShieldAlmFreqAna, kVela, "IsShieldAlmFreqAnalyze", "0");
FM_PATH(kAlmEfdThreadNum, kVela, "AlmEfdThreadNum", "5");
FM_PATH(kLogStatCount, "/kyro/common/manager/taskcontrol", "logstatcount", "2");
FM_PATH(kPostExeEnable, "/kyro/vela/postexe", "enable", "false");
FM_PATH(kPostExeThreadNum, "/kyro/vela/postexe", "threadNum", "1");
FM_PATH(kSupportMergerAlarm, "/kyro/vela/fm", "supportMergerAlarm", "true");
FM_PATH(kCorPostFlag, kCorPost, "cor_postprocess_flag", "false");
FM_PATH(kCorPostDelay, kCorPost, "cor_postprocess_delay_period", "180");
FM_PATH(kCorPostNBProcId, kCorPost, "cor_postprocess_NB_procid", "80");
FM_PATH(kCorPostE2EProcId, kCorPost, "cor_postprocess_E2E_procid", "102");
FM_PATH(kCorPostMaxBuf, kCorPost, "cor_postprocess_max_bufsize", "7000");
FM_PATH(kRaiseCorAlmFlag, kVela, "raise_corAlm_flag", "false");
FM_PATH(kRaiseCorAlmChk, kVela, "raise_corAlm_chk_interval", "300");
FM_PATH(kRaiseCorAlmClear, kVela, "raise_corAlm_clear_period", "300");
FM_PATH(kCorAlmSendToNB, kVela, "corAlmSendToNBFlag", "true");
FM_PATH(kNBSpecialAlm, "/kyro/vela/specialAlarmStatus", "nbenable", "false");
FM_PATH(kRNBigCapacity, kVela, "isSupportRNBigCapacity", "0");
FM_PATH(kOMCNeType, "/kyro/vela/omcne", "netype", "100000");
FM_PATH(kGrantSelect, "/kyro/vela/databaseparam/vela_common", "grant_select_on_alarm_table_to", "AutoCfg");
FM_PATH(kNorthCharset, "/kyro/north/export", "charset", "UTF-8");
FM_PATH(kLocationDelim, "/kyro/vela/location", "delimiter", "0");
// ---- parameters of the group "/kyro/vela"
FM_GROUP(kCurAlmMaxCount, "curAlmMaxCount", "50000");
FM_GROUP(kAlarmListMaxCount, "alarmListMaxCount", "20000");
FM_GROUP(kLogTableCount, "logTableCount", "500000");
FM_GROUP(kAlarmOverFlow, "AlarmOverFlowUpLimit", "2000000");
FM_GROUP(kEventOverFlow, "EventOverFlowUpLimit", "1200000");
FM_GROUP(kEnableAlmListLock, "enableAlmListLock", "false");
FM_GROUP(kRedefineRuleNum, "redefineRuleNum", "200");
FM_GROUP(kC1ValueRuleExist, "C1ValueRuleExistTime", "1800");
FM_GROUP(kMbtsFilter, "mbtsfilter", "0");
FM_GROUP(kClearShieldAlm, "clearShieldAlm", "false");
FM_GROUP(kNetPC, "netpc", "false");
FM_GROUP(kAuthMO, "isAuthenticationMO", "false");
FM_GROUP(kShortComment, "shortComment", "false");
FM_GROUP(kDynamicRefresh, "dynamicRefresh", "0");
FM_GROUP(kThrInterval, "threshold ExportInterval", "100");
FM_GROUP(kThrPercent, "threshold Percent", "40");
FM_GROUP(kThrIsExport, "threshold IsExport", "1");
FM_GROUP(kThrIsZip, "threshold IsZip", "1");
FM_GROUP(kThrFileType, "threshold FileType", "1");
FM_GROUP(kThrIsRegist, "threshold IsRegistTask", "1");
FM_GROUP(kAlmExpTime, "expireAlarmExportTime", "23");
FM_GROUP(kAlmExpIsExport, "expireAlarmExport IsExport", "1");
FM_GROUP(kAlmExpIsZip, "expireAlarmExport IsZip", "1");
FM_GROUP(kAlmExpFileType, "expireAlarmExport FileType", "1");
FM_GROUP(kAlmExpDay, "expireAlarmExport Day", "90");
FM_GROUP(kEvtExpTime, "expireEventExportTime", "23");
FM_GROUP(kEvtExpIsExport, "expireEventExport IsExport", "1");
FM_GROUP(kEvtExpIsZip, "expireEventExport IsZip", "1");
FM_GROUP(kEvtExpDay, "expireEventExport Day", "90");
// ---- XML configuration file
const KyroSettingDef kCorEngineNum{KyroSettingDef::XML, "/vela/correlate",
                                               "cor_engine_num", "1", "alarm_conf.xml"};

const KyroSettingDef* const kAllDefs[] = {
    &kAlmListExpireTime, &kClrBufSize, &kClrBufChkPeriod, &kClrBufLifetime, &kClearAlmSynFlag,
    &kOverflowAutoAck, &kMaxTemplateNum, &kLctSynSwitch, &kNeStartSvcSyn, &kNeRecoverSyn,
    &kLctUserLogoutSyn, &kIsNeedFilterByNE, &kNeFilterCycle, &kAlmPersistTimeLen, &kAlmPersistSetting,
    &kPersistAlmPerFile, &kShieldAlmFreqAna, &kAlmEfdThreadNum, &kLogStatCount, &kPostExeEnable,
    &kPostExeThreadNum, &kSupportMergerAlarm, &kCorPostFlag, &kCorPostDelay, &kCorPostNBProcId,
    &kCorPostE2EProcId, &kCorPostMaxBuf, &kRaiseCorAlmFlag, &kRaiseCorAlmChk, &kRaiseCorAlmClear,
    &kCorAlmSendToNB, &kNBSpecialAlm, &kRNBigCapacity, &kOMCNeType, &kGrantSelect, &kNorthCharset,
    &kLocationDelim, &kCurAlmMaxCount, &kAlarmListMaxCount, &kLogTableCount, &kAlarmOverFlow,
    &kEventOverFlow, &kEnableAlmListLock, &kRedefineRuleNum, &kC1ValueRuleExist, &kMbtsFilter,
    &kClearShieldAlm, &kNetPC, &kAuthMO, &kShortComment, &kDynamicRefresh, &kThrInterval, &kThrPercent,
    &kThrIsExport, &kThrIsZip, &kThrFileType, &kThrIsRegist, &kAlmExpTime, &kAlmExpIsExport,
    &kAlmExpIsZip, &kAlmExpFileType, &kAlmExpDay, &kEvtExpTime, &kEvtExpIsExport, &kEvtExpIsZip,
    &kEvtExpDay, &kCorEngineNum,
};

const char* const kNESynNames[] = {"ne_startsvc_syn", "ne_recover_syn", "LCT_user_logout_syn"};

long defaultOf(const KyroSettingDef& d) {
  long v = 0;
  Setting::parseLong(d.def, v);
  return v;
}

std::string trim(std::string s) { return FMTrim(s, " \t\n\v\f\r"); }

}  // namespace

#undef FM_PATH
#undef FM_GROUP

// ---------------------------------------------------------------------------
// Lifecycle

CKyroSettingOP* CKyroSettingOP::instance() {
  CKyroSettingOP* p = _instance.load(std::memory_order_acquire);
  if (p == nullptr) {
    ACE_Guard<ACE_Thread_Mutex> guard(_mutex);
    p = _instance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      try {
        p = new CKyroSettingOP();
        p->init();
      } catch (const std::exception& e) {
        FM_TRACE(TRACE_ERROR, "CKyroSettingOP::instance, %s", e.what());
        delete p;
        return nullptr;
      }
      _instance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CKyroSettingOP::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(_mutex);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

CKyroSettingOP::CKyroSettingOP() = default;

const std::vector<CKyroSettingOP::KnownSetting>& CKyroSettingOP::knownSettings() {
  static const std::vector<KnownSetting> known = [] {
    std::vector<KnownSetting> v;
    for (const KyroSettingDef* d : kAllDefs) {
      v.push_back(KnownSetting{d->file ? d->file : "", d->group, d->name, d->def});
    }
    return v;
  }();
  return known;
}

void CKyroSettingOP::init() {
  m_GroupParams.clear();
  int rc = Setting::instance()->getGroupParams(kVela, m_GroupParams);
  if (rc != 0) FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::init, get group params failed!");
  g_NBSpecailAlmFlag = getSpecialAlmFlag() && getNBSpecialAlmFlag();
  g_NBCorAlmFlag = getSendCorAlmToNBFlag();
  InitLocalCharSet();
  m_strLanguage = KyroMsg::instance()->getLanguage();
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::init, g_NBSpecailAlmFlag:%d, g_NBCorAlmFlag:%d,m_strLanguage:%s",
           g_NBSpecailAlmFlag.load() ? 1 : 0, g_NBCorAlmFlag.load() ? 1 : 0, m_strLanguage.c_str());
}

void CKyroSettingOP::InitLocalCharSet() {
  std::string env = KyroGlobalUtils::KyroGetEnv("FILECONTENT_LOCAL_CHARSET");
  if (env == "1") {
    m_bIsLocalCharSet = true;
  } else if (env == "0") {
    m_bIsLocalCharSet = false;
  }
  m_bIsGlobalVersion = KyroCommonUtils::IsGlobalVersion();
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::InitLocalCharSet, CharSet:%s,Version:%d", env.c_str(),
           m_bIsGlobalVersion ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Reading helpers

int CKyroSettingOP::readText(const KyroSettingDef& def, std::string& text) const {
  switch (def.src) {
    case KyroSettingDef::PATH:
      return Setting::instance()->getParamValue(def.path(), text);
    case KyroSettingDef::GROUP: {
      auto it = m_GroupParams.find(def.name);
      if (it == m_GroupParams.end()) return SETTING_NO_SUCH_PATH;
      text = it->second;
      return 0;
    }
    case KyroSettingDef::XML:
      return ConfigAdapter::readValue(def.file, def.group, def.name, text);
  }
  return SETTING_NO_SUCH_PATH;
}

CKyroSettingOP::ReadOutcome CKyroSettingOP::readTextLogged(const char* op, const KyroSettingDef& def,
                                                          std::string& text, int failLevel) const {
  int rc = readText(def, text);
  if (rc == 0) return READ_OK;
  if (failLevel > 0) {
    FM_TRACE(failLevel, "CKyroSettingOP::%s, getParamValue failed ! key:%s, ret:%d", op,
             def.src == KyroSettingDef::GROUP ? def.name : def.path().c_str(), rc);
  }
  return READ_FAILED;
}

CKyroSettingOP::ReadOutcome CKyroSettingOP::readNumber(const char* op, const KyroSettingDef& def, long& value,
                                                      int failLevel) const {
  std::string text;
  ReadOutcome r = readTextLogged(op, def, text, failLevel);
  if (r != READ_OK) return r;
  if (!Setting::parseLong(text, value)) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::%s, value '%s' of %s is not a valid number", op, text.c_str(),
             def.src == KyroSettingDef::GROUP ? def.name : def.path().c_str());
    return READ_INVALID;
  }
  return READ_OK;
}

bool CKyroSettingOP::readFlag(const char* op, const KyroSettingDef& def, bool defaultValue) const {
  std::string text;
  bool v = defaultValue;
  if (readTextLogged(op, def, text) == READ_OK) v = (text == "true");
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%d", op, v ? 1 : 0);
  return v;
}

long CKyroSettingOP::readRanged(const char* op, const KyroSettingDef& def, long defaultValue, long lo,
                                long hi) const {
  long v = defaultValue;
  ReadOutcome r = readNumber(op, def, v);
  if (r != READ_OK) {
    v = defaultValue;
  } else if (v < lo || v > hi) {
    FM_TRACE(TRACE_WARNING, "CKyroSettingOP::%s, the value is invalid, use deafult!", op);
    v = defaultValue;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return v;
}

bool CKyroSettingOP::cachedString(const std::string& name, std::string& value) {
  std::lock_guard<std::mutex> guard(m_cacheMutex);
  auto it = m_StrCache.find(name);
  if (it == m_StrCache.end()) return false;
  value = it->second;
  return true;
}

void CKyroSettingOP::storeString(const std::string& name, const std::string& value) {
  std::lock_guard<std::mutex> guard(m_cacheMutex);
  m_StrCache.emplace(name, value);  // the first stored value stays
}

// ---------------------------------------------------------------------------
// Generic

bool CKyroSettingOP::getVelaSetting(const std::string& name, std::string& value) const {
  auto it = m_GroupParams.find(name);
  if (it == m_GroupParams.end()) return false;
  value = it->second;
  return true;
}

bool CKyroSettingOP::isPathExist(const std::string& path) {
  std::string text;
  int rc = Setting::instance()->getParamValue(path, text);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::isPathExist, return:%d, %s", rc, path.c_str());
  return rc != SETTING_NO_SUCH_PATH;
}

// ---------------------------------------------------------------------------
// Alarm list and buffers

int CKyroSettingOP::getAlmListExpireTime(long& hours) {
  long v = 0;
  int code = FM_SUCCESS;
  if (readNumber("getAlmListExpireTime", kAlmListExpireTime, v) != READ_OK) {
    v = defaultOf(kAlmListExpireTime);
    code = FM_FAILURE;
  } else if (v > 168) {
    v = 168;
  } else if (v < 0) {
    FM_TRACE(TRACE_WARNING, "CKyroSettingOP::getAlmListExpireTime, the value is invalid, use deafult!");
    v = defaultOf(kAlmListExpireTime);
    code = FM_FAILURE;
  }
  hours = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getAlmListExpireTime, value:%ld", hours);
  return code;
}

int CKyroSettingOP::setAlmListExpireTime(long hours) {
  if (Setting::instance()->setParam(kAlmListExpireTime.path(), std::to_string(hours)) != 0) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setAlmListExpireTime, setParam failed !");
    return FM_SETTING_REFUSED;
  }
  return FM_SUCCESS;
}

int CKyroSettingOP::getCurAlmMaxRecordNum(long& num) {
  const long def = defaultOf(kCurAlmMaxCount);  // 50000
  long v = 0;
  std::string text;
  if (readText(kCurAlmMaxCount, text) == 0) {
    if (!Setting::parseLong(text, v)) {
      FM_TRACE(TRACE_ERROR, "CKyroSettingOP::getCurAlmMaxRecordNum, value '%s' of curAlmMaxCount is not a valid number",
               text.c_str());
      v = -1;  // reported below as out of range
    }
    if (v < 50000 || v > 300000) {
      FM_TRACE(TRACE_WARNING,
               "CKyroSettingOP::getCurAlmMaxRecordNum, config value %ld out of range! use default value:%ld", v,
               def);
      v = def;
    }
  } else {
    long list = defaultOf(kAlarmListMaxCount);  // 20000
    bool haveList = false;
    if (readText(kAlarmListMaxCount, text) == 0) {
      if (Setting::parseLong(text, list) && list >= 0) {
        haveList = true;
      } else {
        FM_TRACE(TRACE_ERROR, "CKyroSettingOP::getCurAlmMaxRecordNum, value '%s' of alarmListMaxCount is not valid",
                 text.c_str());
        list = defaultOf(kAlarmListMaxCount);
      }
    }
    if (!haveList) {
      FM_TRACE(TRACE_WARNING, "CKyroSettingOP::getCurAlmMaxRecordNum, alm list max num use default value:%ld",
               list);
    }
    // Beyond the highest tier the sum is capped anyway; avoid overflow of huge texts.
    v = list > 300000 ? 300000 : list + 20000;
    if (v <= 50000) {
      v = 50000;
    } else if (v <= 100000) {
      v = 100000;
    } else if (v > 300000) {
      v = 300000;
    }
  }
  num = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getCurAlmMaxRecordNum, curAlmMaxNum [%ld]", num);
  return FM_SUCCESS;
}

int CKyroSettingOP::getLogTableMaxRecordNum(long& num) {
  const long def = defaultOf(kLogTableCount);
  long v = def;
  if (readNumber("getLogTableMaxRecordNum", kLogTableCount, v) != READ_OK) {
    v = def;
  } else if (v < 200000 || v > 2000000) {
    FM_TRACE(TRACE_WARNING,
             "CKyroSettingOP::getLogTableMaxRecordNum, config value %ld out of range! use default value:%ld", v,
             def);
    v = def;
  }
  num = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getLogTableMaxRecordNum, value:%ld", num);
  return FM_SUCCESS;
}

int CKyroSettingOP::getClrBufSize(long& size) {
  long v = 0;
  int code = FM_SUCCESS;
  if (readNumber("getClrBufSize", kClrBufSize, v, 0) != READ_OK) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::getClrBufSize  failed! use default value 500.");
    v = defaultOf(kClrBufSize);
    code = FM_FAILURE;
  }
  size = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getClrBufSize, value:%ld", size);
  return code;
}

int CKyroSettingOP::getClrBufChkInter(long& seconds) {
  long v = 0;
  int code = FM_SUCCESS;
  if (readNumber("getClrBufChkInter", kClrBufChkPeriod, v) != READ_OK) {
    v = defaultOf(kClrBufChkPeriod);
    code = FM_FAILURE;
  }
  seconds = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getClrBufChkInter, value:%ld", seconds);
  return code;
}

int CKyroSettingOP::getClrBufLiveTime(long& seconds) {
  long v = 0;
  int code = FM_SUCCESS;
  if (readNumber("getClrBufLiveTime", kClrBufLifetime, v) != READ_OK) {
    v = defaultOf(kClrBufLifetime);
    code = FM_FAILURE;
  }
  seconds = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getClrBufLiveTime, value:%ld", seconds);
  return code;
}

int CKyroSettingOP::getClearAlmSynFlag(bool& flag) {
  std::string text;
  int code = FM_SUCCESS;
  if (readTextLogged("getClearAlmSynFlag", kClearAlmSynFlag, text) == READ_OK) {
    flag = (text == "true");
  } else {
    flag = false;
    code = FM_FAILURE;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getClearAlmSynFlag, value:%d", flag ? 1 : 0);
  return code;
}

int CKyroSettingOP::getAlarmOverFlowUpLimit(long& num) {
  const long def = defaultOf(kAlarmOverFlow);
  long v = def;
  if (readNumber("getAlarmOverFlowUpLimit", kAlarmOverFlow, v) != READ_OK) {
    v = def;
  } else if (v < 2000000 || v > 30000000) {
    FM_TRACE(TRACE_WARNING,
             "CKyroSettingOP::getAlarmOverFlowUpLimit, config value %ld out of range! use default value:%ld", v,
             def);
    v = def;
  }
  num = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getAlarmOverFlowUpLimit, value:%ld", num);
  return FM_SUCCESS;
}

int CKyroSettingOP::getEventOverFlowUpLimit(long& num) {
  const long def = defaultOf(kEventOverFlow);
  long v = def;
  if (readNumber("getEventOverFlowUpLimit", kEventOverFlow, v) != READ_OK) {
    v = def;
  } else if (v < 1200000 || v > 30000000) {
    FM_TRACE(TRACE_WARNING,
             "CKyroSettingOP::getEventOverFlowUpLimit, config value %ld out of range! use default value:%ld", v,
             def);
    v = def;
  }
  num = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getEventOverFlowUpLimit, value:%ld", num);
  return FM_SUCCESS;
}

int CKyroSettingOP::getOverflowAutoAckLogCount(unsigned& count) {
  const long def = defaultOf(kOverflowAutoAck);
  long v = def;
  int code = FM_SUCCESS;
  if (readNumber("getOverflowAutoAckLogCount", kOverflowAutoAck, v) != READ_OK) {
    v = def;
    code = FM_FAILURE;
  } else if (v < 20000 || v > 300000) {
    FM_TRACE(TRACE_WARNING,
             "CKyroSettingOP::getOverflowAutoAckLogCount, config value %ld out of range! use default value:%ld", v,
             def);
    v = def;
    code = FM_FAILURE;
  }
  count = static_cast<unsigned>(v);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getOverflowAutoAckLogCount, value:%u", count);
  return code;
}

bool CKyroSettingOP::enableAlmListLockFunc() { return readFlag("enableAlmListLockFunc", kEnableAlmListLock, false); }

long CKyroSettingOP::getMaxTemplateNumOnBoard() {
  return readRanged("getMaxTemplateNumOnBoard", kMaxTemplateNum, defaultOf(kMaxTemplateNum), 10, 50);
}

// ---------------------------------------------------------------------------
// NE synchronisation and LCT

int CKyroSettingOP::setLctSyncSwitch(int on) {
  const char* text = nullptr;
  if (on == 0) {
    text = "false";
  } else if (on == 1) {
    text = "true";
  } else {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setLctSyncSwitch, setParam failed ! Invalid param!");
    return FM_FAILURE;
  }
  int rc = Setting::instance()->setParam(kLctSynSwitch.path(), text);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setLctSyncSwitch, setParam failed ! ret:%d", rc);
    return FM_SETTING_REFUSED;
  }
  return FM_SUCCESS;
}

int CKyroSettingOP::getLctSyncSwitch(int& on) {
  std::string text;
  on = 0;
  if (readTextLogged("getLctSyncSwitch", kLctSynSwitch, text) == READ_OK && text == "true") on = 1;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getLctSyncSwitch, value:%d", on);
  return FM_SUCCESS;
}

int CKyroSettingOP::setNESynAttr(const std::list<FMNameValue_t>& attrs) {
  for (const auto& nv : attrs) {
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::setNESynAttr name: %s, value: %s", nv.m_strName.c_str(),
             nv.m_strValue.c_str());
    if (nv.m_strName == "LCT_user_logout_syn") {
      if (nv.m_strValue != "0" && nv.m_strValue != "1") {
        FM_TRACE(TRACE_ERROR,
                 "CKyroSettingOP::setNESynAttr, setParam failed ! Invalid param! LCT_user_logout_syn: %s",
                 nv.m_strValue.c_str());
        return FM_FAILURE;
      }
    } else if (nv.m_strName != "ne_recover_syn" && nv.m_strName != "ne_startsvc_syn") {
      std::string path = std::string(kAlmConf) + "/" + nv.m_strName;
      FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setNESynAttr path is error, path:%s", path.c_str());
      return FM_SETTING_REFUSED;
    }
    if (Setting::instance()->setParam(std::string(kAlmConf) + "/" + nv.m_strName, nv.m_strValue) != 0) {
      FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setNESynAttr, setParam failed !");
      return FM_SETTING_REFUSED;
    }
  }
  return FM_SUCCESS;
}

int CKyroSettingOP::getNESynAttr(std::list<FMNameValue_t>& attrs) {
  std::map<std::string, std::string> group;
  int rc = Setting::instance()->getGroupParams(kAlmConf, group);
  if (rc != 0) {
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getNESynAttr getgroups :%s params  fail:%d !", kAlmConf, rc);
  }
  for (const char* name : kNESynNames) {
    auto it = group.find(name);
    attrs.emplace_back(name, (it != group.end() && it->second == "1") ? "1" : "0");
  }
  return FM_SUCCESS;
}

bool CKyroSettingOP::isNeedFilterByNE() {
  std::string text;
  long v = 0;
  int rc = readText(kIsNeedFilterByNE, text);
  if (rc != 0) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::isNeedFilterByNE, getParamValue failed siRet:%d !", rc);
    return false;
  }
  if (!Setting::parseLong(text, v)) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::isNeedFilterByNE, value '%s' is not a valid number", text.c_str());
    return false;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::isNeedFilterByNE, value:%ld", v);
  return v != 0;
}

int CKyroSettingOP::getFilterNECycle() {
  const long def = defaultOf(kNeFilterCycle);
  long v = def;
  ReadOutcome r = readNumber("getFilterNECycle", kNeFilterCycle, v, 0);
  if (r == READ_FAILED) {
    FM_TRACE(TRACE_PROGRESS,
             "CKyroSettingOP::getFilterNECycle, getParamValue failed,Use the defalt value 1 hour !");
    v = def;
  } else if (r == READ_INVALID || v <= 0 || v > 0x7fffffffL) {
    v = def;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getFilterNECycle, value:%ld", v);
  return static_cast<int>(v);
}

// ---------------------------------------------------------------------------
// Persistence and logs

long CKyroSettingOP::getAlmPersistTimeLen() {
  return readRanged("getAlmPersistTimeLen", kAlmPersistTimeLen, defaultOf(kAlmPersistTimeLen), 1, 90);
}

int CKyroSettingOP::getAlmPersistStyle() {
  return static_cast<int>(readRanged("getAlmPersistStyle", kAlmPersistSetting, defaultOf(kAlmPersistSetting), 0, 3));
}

long CKyroSettingOP::getPersistAlmPerFile() {
  return readRanged("getPersistAlmPerFile", kPersistAlmPerFile, defaultOf(kPersistAlmPerFile), 2000, 50000);
}

long CKyroSettingOP::getShieldAlmFreqAna() {
  long v = 0;
  if (readNumber("getShieldAlmFreqAna", kShieldAlmFreqAna, v) != READ_OK || v < 0) v = 0;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getShieldAlmFreqAna, value:%ld", v);
  return v;
}

int CKyroSettingOP::getEfdThreadNum() {
  return static_cast<int>(readRanged("getEfdThreadNum", kAlmEfdThreadNum, defaultOf(kAlmEfdThreadNum), 0, 10));
}

int CKyroSettingOP::getLogStatCount(unsigned& count) {
  const long def = defaultOf(kLogStatCount);
  long v = def;
  int code = FM_SUCCESS;
  if (readNumber("getLogStatCount", kLogStatCount, v) != READ_OK) {
    v = def;
    code = FM_FAILURE;
  } else if (v < 1 || v > 10) {
    FM_TRACE(TRACE_WARNING, "CKyroSettingOP::getLogStatCount, the value is invalid, use deafult!");
    v = def;
    code = FM_FAILURE;
  }
  count = static_cast<unsigned>(v);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getLogStatCount, value:%u", count);
  return code;
}

int CKyroSettingOP::setLogStatCount(unsigned count) {
  if (Setting::instance()->setParam(kLogStatCount.path(), std::to_string(count)) != 0) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setLogStatCount, setParam failed !");
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

bool CKyroSettingOP::getPostExeEnableFlag() { return readFlag("getPostExeEnableFlag", kPostExeEnable, false); }

unsigned CKyroSettingOP::getPostExeThreadNum() {
  long v = defaultOf(kPostExeThreadNum);
  if (readNumber("getPostExeThreadNum", kPostExeThreadNum, v) != READ_OK) v = defaultOf(kPostExeThreadNum);
  if (v < 1) v = 1;
  if (v > 10) v = 10;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getPostExeThreadNum, value:%ld", v);
  return static_cast<unsigned>(v);
}

// ---------------------------------------------------------------------------
// Correlation and northbound

bool CKyroSettingOP::getIsMergerAlmFlag() {
  std::string text;
  readTextLogged("getIsMergerAlmFlag", kSupportMergerAlarm, text);
  bool flag = text != "false";
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getIsMergerAlmFlag, settingvalue:%s,bMergerAlmFlag:%d!", text.c_str(),
           flag ? 1 : 0);
  return flag;
}

bool CKyroSettingOP::getCorPostProcessFlag() { return readFlag("getCorPostProcessFlag", kCorPostFlag, false); }

long CKyroSettingOP::getCorPostProcessDelayPeriod() {
  const long def = defaultOf(kCorPostDelay);
  long v = def;
  if (readNumber("getCorPostProcessDelayPeriod", kCorPostDelay, v) != READ_OK) {
    v = def;
  } else if (v < 0 || v > 600) {
    FM_TRACE(TRACE_WARNING,
             "CKyroSettingOP::getCorPostProcessDelayPeriod, config value %ld out of range! use default value:%ld", v,
             def);
    v = def;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getCorPostProcessDelayPeriod, value:%ld", v);
  return v;
}

long CKyroSettingOP::getCorPostProcessNBProcID() {
  return readRanged("getCorPostProcessNBProcID", kCorPostNBProcId, defaultOf(kCorPostNBProcId), 0, 20000);
}

long CKyroSettingOP::getCorPostProcessE2EProcID() {
  return readRanged("getCorPostProcessE2EProcID", kCorPostE2EProcId, defaultOf(kCorPostE2EProcId), 0, 20000);
}

long CKyroSettingOP::getCorPostProcessMaxBufSize() {
  return readRanged("getCorPostProcessMaxBufSize", kCorPostMaxBuf, defaultOf(kCorPostMaxBuf), 0, 20000);
}

bool CKyroSettingOP::getRaiseCorAlmFlag() { return readFlag("getRaiseCorAlmFlag", kRaiseCorAlmFlag, false); }

long CKyroSettingOP::getRaiseCorAlmChkInterval() {
  return readRanged("getRaiseCorAlmChkInterval", kRaiseCorAlmChk, defaultOf(kRaiseCorAlmChk), 300, 86400);
}

long CKyroSettingOP::getRaiseCorAlmClearPeriod() {
  return readRanged("getRaiseCorAlmClearPeriod", kRaiseCorAlmClear, defaultOf(kRaiseCorAlmClear), 60, 3600);
}

int CKyroSettingOP::getRedefineRuleNum() {
  return static_cast<int>(readRanged("getRedefineRuleNum", kRedefineRuleNum, defaultOf(kRedefineRuleNum), 100, 500));
}

int CKyroSettingOP::getC1ValueRuleExistTime(long& seconds) {
  long v = defaultOf(kC1ValueRuleExist);
  if (readNumber("getC1ValueRuleExistTime", kC1ValueRuleExist, v) != READ_OK || v <= 0) {
    v = defaultOf(kC1ValueRuleExist);
  }
  seconds = v;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getC1ValueRuleExistTime, value:%ld", seconds);
  return FM_SUCCESS;
}

int CKyroSettingOP::getCorEngineNum() {
  {
    std::lock_guard<std::mutex> guard(m_cacheMutex);
    auto it = m_ValueCache.find("COR_ENGINE_NUM");
    if (it != m_ValueCache.end()) return it->second;
  }
  const long def = defaultOf(kCorEngineNum);
  std::string text;
  long v = def;
  if (readTextLogged("getCorEngineNum", kCorEngineNum, text) != READ_OK) {
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getCorEngineNum, value:%ld", def);
    return static_cast<int>(def);
  }
  if (!Setting::parseLong(trim(text), v) || v < 1 || v > 5) {
    FM_TRACE(TRACE_WARNING, "CKyroSettingOP::getCorEngineNum, the value '%s' is invalid, use deafult!", text.c_str());
    return static_cast<int>(def);  // an invalid value is not cached either
  }
  {
    std::lock_guard<std::mutex> guard(m_cacheMutex);
    m_ValueCache.emplace("COR_ENGINE_NUM", static_cast<int>(v));
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getCorEngineNum, value:%ld", v);
  return static_cast<int>(v);
}

bool CKyroSettingOP::getIsSaveDB() { return true; }

bool CKyroSettingOP::getSendCorAlmToNBFlag() {
  {
    std::lock_guard<std::mutex> guard(m_cacheMutex);
    auto it = m_ValueCache.find("corAlmSendToNBFlag");
    if (it != m_ValueCache.end()) return it->second != 0;
  }
  std::string text;
  if (readTextLogged("getSendCorAlmToNBFlag", kCorAlmSendToNB, text) != READ_OK) {
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getSendCorAlmToNBFlag, value:1");
    return true;
  }
  bool flag = text != "false";
  {
    std::lock_guard<std::mutex> guard(m_cacheMutex);
    m_ValueCache.emplace("corAlmSendToNBFlag", flag ? 1 : 0);
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getSendCorAlmToNBFlag, value:%d", flag ? 1 : 0);
  return flag;
}

int CKyroSettingOP::setSendCorAlmToNBFlag(bool flag) {
  if (Setting::instance()->setParam(kCorAlmSendToNB.path(), flag ? "true" : "false") != 0) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::setSendCorAlmToNBFlag, setParam failed !");
    return FM_SETTING_REFUSED;
  }
  return FM_SUCCESS;
}

bool CKyroSettingOP::getSpecialAlmFlag() { return true; }

bool CKyroSettingOP::getNBSpecialAlmFlag() { return readFlag("getNBSpecialAlmFlag", kNBSpecialAlm, false); }

int CKyroSettingOP::getNBMbtsFilterFlag() {
  long v = 0;
  if (readNumber("getNBMbtsFilterFlag", kMbtsFilter, v) != READ_OK || v < 0 || v > 7) v = 0;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getNBMbtsAlmFlag, bNBMbtsAlmFlag: [%ld]", v);
  return static_cast<int>(v);
}

bool CKyroSettingOP::isNeedClearShieldAlm() { return readFlag("isNeedClearShieldAlm", kClearShieldAlm, false); }

bool CKyroSettingOP::isNetPC() { return readFlag("isNetPC", kNetPC, false); }

bool CKyroSettingOP::isSupportRNBigCapacity() {
  long v = 0;
  bool on = readNumber("isSupportRNBigCapacity", kRNBigCapacity, v) == READ_OK && v == 1;
  FM_TRACE(TRACE_PROGRESS, on ? "CKyroSettingOP::isSupportRNBigCapacity, SupportRNBigCapacity is enabled"
                              : "CKyroSettingOP::isSupportRNBigCapacity, SupportRNBigCapacity is disabled");
  return on;
}

bool CKyroSettingOP::isMOAuthentication() { return readFlag("isMOAuthentication", kAuthMO, false); }

bool CKyroSettingOP::getShortCommentFlag() { return readFlag("getShortCommentFlag", kShortComment, false); }

bool CKyroSettingOP::supportDynamicDuration() {
  std::string text;
  bool on = readTextLogged("supportDynamicDuration", kDynamicRefresh, text) == READ_OK && text == "1";
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::supportDynamicDuration, value:%d", on ? 1 : 0);
  return on;
}

int CKyroSettingOP::getOMCNeType(int& neType) {
  int cached = m_iOMCNeType.load(std::memory_order_acquire);
  if (cached != 0) {
    neType = cached;
    return FM_SUCCESS;
  }
  long v = 0;
  if (readNumber("getOMCNeType", kOMCNeType, v, 0) != READ_OK || v < INT32_MIN || v > INT32_MAX) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::getOMCNetype, getParamValue failed !");
    neType = static_cast<int>(defaultOf(kOMCNeType));  // not cached: a later good value is read
  } else {
    neType = static_cast<int>(v);
    m_iOMCNeType.store(neType, std::memory_order_release);
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getOMCNeType, value:%d", neType);
  return FM_SUCCESS;
}

void CKyroSettingOP::getGrantSelectUsers(std::list<std::string>& users) {
  std::string text;
  std::list<std::string> names;
  if (readTextLogged("getGrantSelectUsers", kGrantSelect, text) == READ_OK) split(text, ',', names);
  if (names.empty()) names.push_back(kGrantSelect.def);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getGrantSelectUsers, param value is '%s', user name count is %d",
           text.c_str(), static_cast<int>(names.size()));
  users.splice(users.end(), names);
}

char CKyroSettingOP::getFDNSplitter() { return CFDNSplitter::instance()->getSplitter(); }

bool CKyroSettingOP::isGreenChannelsAlm(const AlmRecord_t* record) {
  if (record == nullptr) return false;
  if (record->getNEType() != 100000) return false;
  long id = record->getAlarmId();
  return id == 33 || id == 38 || id == 39;
}

// ---------------------------------------------------------------------------
// Threshold and expiry export

int CKyroSettingOP::exportRanged(const char* op, const KyroSettingDef& def, long& v, long def0, long lo,
                                 long hi) const {
  long x = def0;
  int code = FM_SUCCESS;
  if (readNumber(op, def, x) != READ_OK) {
    x = def0;
    code = FM_FAILURE;
  } else if (x < lo || x > hi) {
    x = def0;
  }
  v = x;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return code;
}

int CKyroSettingOP::exportNonzero(const char* op, const KyroSettingDef& def, long& v) const {
  long x = 1;
  int code = FM_SUCCESS;
  if (readNumber(op, def, x) != READ_OK) {
    x = 1;
    code = FM_FAILURE;
  } else {
    x = x != 0 ? 1 : 0;
  }
  v = x;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return code;
}

int CKyroSettingOP::exportZip(const char* op, const KyroSettingDef& def, long& v) const {
  long x = 1;
  int code = FM_SUCCESS;
  if (readNumber(op, def, x) != READ_OK) {
    code = FM_FAILURE;
    x = 1;
  } else if (x != 2) {
    x = 1;
  }
  v = x;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return code;
}

int CKyroSettingOP::exportFileType(const char* op, const KyroSettingDef& def, long& v) const {
  std::string text;
  int code = FM_SUCCESS;
  if (readTextLogged(op, def, text) != READ_OK) {
    code = FM_FAILURE;
    v = 1;
  } else {
    v = text == "XML" ? 2 : 1;
  }
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return code;
}

int CKyroSettingOP::exportPositive(const char* op, const KyroSettingDef& def, long& v, long def0) const {
  long x = def0;
  int code = FM_SUCCESS;
  if (readNumber(op, def, x) != READ_OK) {
    x = def0;
    code = FM_FAILURE;
  } else if (x <= 0) {
    x = def0;
  }
  v = x;
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::%s, value:%ld", op, v);
  return code;
}

int CKyroSettingOP::getThresholdExportInterval(long& v) {
  return exportRanged("getThresholdExportInterval", kThrInterval, v, defaultOf(kThrInterval), 30, 300);
}
int CKyroSettingOP::getThresholdExportPercent(long& v) {
  return exportRanged("getThresholdExportPercent", kThrPercent, v, defaultOf(kThrPercent), 10, 90);
}
int CKyroSettingOP::getThresholdExportIsExport(long& v) {
  return exportNonzero("getThresholdExportIsExport", kThrIsExport, v);
}
int CKyroSettingOP::getThresholdExportIsZip(long& v) { return exportZip("getThresholdExportIsZip", kThrIsZip, v); }
int CKyroSettingOP::getThresholdExportFileType(long& v) {
  return exportFileType("getThresholdExportFileType", kThrFileType, v);
}
int CKyroSettingOP::getThresholdExportIsRegistTask(long& v) {
  return exportNonzero("getThresholdExportIsRegistTask", kThrIsRegist, v);
}
int CKyroSettingOP::getAlarmExpireTimeExportStartTime(long& v) {
  return exportRanged("getAlarmExpireTimeExportStartTime", kAlmExpTime, v, defaultOf(kAlmExpTime), 0, 23);
}
int CKyroSettingOP::getAlarmExpireTimeExportIsExport(long& v) {
  return exportNonzero("getAlarmExpireTimeExportIsExport", kAlmExpIsExport, v);
}
int CKyroSettingOP::getAlarmExpireTimeExportIsZip(long& v) {
  return exportZip("getAlarmExpireTimeExportIsZip", kAlmExpIsZip, v);
}
int CKyroSettingOP::getAlarmExpireTimeExportFileType(long& v) {
  return exportFileType("getAlarmExpireTimeExportFileType", kAlmExpFileType, v);
}
int CKyroSettingOP::getAlarmExpireTimeExportDay(long& v) {
  return exportPositive("getAlarmExpireTimeExportDay", kAlmExpDay, v, defaultOf(kAlmExpDay));
}
int CKyroSettingOP::getEventExpireTimeExportStartTime(long& v) {
  return exportRanged("getEventExpireTimeExportStartTime", kEvtExpTime, v, defaultOf(kEvtExpTime), 0, 23);
}
int CKyroSettingOP::getEventExpireTimeExportIsExport(long& v) {
  return exportNonzero("getEventExpireTimeExportIsExport", kEvtExpIsExport, v);
}
int CKyroSettingOP::getEventExpireTimeExportIsZip(long& v) {
  return exportZip("getEventExpireTimeExportIsZip", kEvtExpIsZip, v);
}
int CKyroSettingOP::getEventExpireTimeExportFileType(long& v) {
  // Events are exported in the file type configured for alarms.
  return exportFileType("getEventExpireTimeExportFileType", kAlmExpFileType, v);
}
int CKyroSettingOP::getEventExpireTimeExportDay(long& v) {
  return exportPositive("getEventExpireTimeExportDay", kEvtExpDay, v, defaultOf(kEvtExpDay));
}

// ---------------------------------------------------------------------------
// Character sets and language

std::string CKyroSettingOP::getLanguage() const { return m_strLanguage; }

std::string CKyroSettingOP::GetLocalCharSet() {
  std::string cs;
  if (cachedString("char_set", cs)) return cs;
  cs = KyroGlobalUtils::KyroGetLocalCharset();
  if (!cs.empty()) storeString("char_set", cs);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::GetLocalCharSet, value:%s", cs.c_str());
  return cs;
}

std::string CKyroSettingOP::getNorthExportCharSet() {
  std::string cs;
  if (cachedString("char_set_north", cs)) return cs;
  std::string text;
  if (readTextLogged("getNorthExportCharSet", kNorthCharset, text) != READ_OK) return "UTF-8";
  text = trim(text);
  if (strcasecmp(text.c_str(), "GBK") == 0) {
    cs = "GBK";
  } else if (strcasecmp(text.c_str(), "ISO-8859-1") == 0) {
    cs = "ISO-8859-1";
  } else {
    if (strcasecmp(text.c_str(), "UTF-8") != 0) {
      FM_TRACE(TRACE_WARNING, "CKyroSettingOP::getNorthExportCharSet, unsupported charset '%s', use UTF-8",
               text.c_str());
    }
    cs = "UTF-8";
  }
  storeString("char_set_north", cs);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getNorthExportCharSet, value:%s", cs.c_str());
  return cs;
}

std::string CKyroSettingOP::getLocationDelimiter() {
  std::string d;
  if (cachedString("location_delimiter", d)) return d;
  long v = 0;
  if (readNumber("getLocationDelimiter", kLocationDelim, v) != READ_OK) return ", ";
  d = v == 1 ? " " : ", ";
  storeString("location_delimiter", d);
  FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::getLocationDelimiter, value:'%s'", d.c_str());
  return d;
}

void CKyroSettingOP::initIsForceToUseUTF8() {
  ACE_Guard<ACE_Thread_Mutex> guard(_mutex);
  if (KyroCommonUtils::IsGlobalVersion()) return;
  if (m_strLanguage == "en_US") {
    m_bIsForceToUseUTF8 = true;
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::initIsForceToUseUTF8 m_bIsForceToUseUTF8 = true");
  }
}

bool CKyroSettingOP::isForceToUseUTF8() {
  ACE_Guard<ACE_Thread_Mutex> guard(_mutex);
  return m_bIsForceToUseUTF8;
}

std::string CKyroSettingOP::conversionTarget(bool north) {
  CKyroSettingOP* op = instance();
  if (op == nullptr || !op->IsGlobalVersion()) return std::string();
  std::string target = north ? op->getNorthExportCharSet() : op->GetLocalCharSet();
  if (target.empty() || strcasecmp(target.c_str(), "UTF-8") == 0 || strcasecmp(target.c_str(), "UTF8") == 0) {
    return std::string();
  }
  return target;
}

int CKyroSettingOP::convertOne(std::string& text, bool north) {
  std::string target = conversionTarget(north);
  if (target.empty()) return FM_SUCCESS;
  return KyroGlobalUtils::KyroCodeSetConvert("UTF-8", target, text, text) == KYRO_CONV_SUCCESS ? FM_SUCCESS
                                                                                               : FM_FAILURE;
}

template <typename List>
int CKyroSettingOP::convertList(List& texts, bool north) {
  std::string target = conversionTarget(north);
  if (target.empty()) return FM_SUCCESS;
  int code = FM_SUCCESS;
  for (auto& s : texts) {
    if (KyroGlobalUtils::KyroCodeSetConvert("UTF-8", target, s, s) != KYRO_CONV_SUCCESS) code = FM_FAILURE;
  }
  return code;
}

template <typename Table>
int CKyroSettingOP::convertTable(Table& table, bool north) {
  std::string target = conversionTarget(north);
  if (target.empty()) return FM_SUCCESS;
  std::unique_ptr<CCalculateTime> timer;
  if (!north) {
    timer = std::make_unique<CCalculateTime>("CKyroSettingOP::ConvertCharSet",
                                             static_cast<unsigned>(table.size()));
  }
  const char kSep = '\x1B';
  // A row is converted in one call with its strings joined by ESC, which is
  // only sound when ESC stays the single byte 0x1B in the target code set
  // (not so for UTF-16 or UTF-32, for example); otherwise, and whenever the
  // split does not give the row back, each string is converted on its own.
  std::string esc;
  bool joinable = KyroGlobalUtils::KyroCodeSetConvert("UTF-8", target, std::string(1, kSep), esc) ==
                      KYRO_CONV_SUCCESS &&
                  esc == std::string(1, kSep);
  int code = FM_SUCCESS;
  for (auto& row : table) {
    if (row.empty()) continue;
    if (joinable) {
      std::string joined;
      for (const auto& s : row) {
        joined += s;
        joined += kSep;
      }
      std::string converted;
      if (KyroGlobalUtils::KyroCodeSetConvert("UTF-8", target, joined, converted) == KYRO_CONV_SUCCESS) {
        std::vector<std::string> pieces;
        size_t start = 0;
        for (size_t i = 0; i < converted.size(); ++i) {
          if (converted[i] == kSep) {
            pieces.push_back(converted.substr(start, i - start));
            start = i + 1;
          }
        }
        // Every piece must end with its separator: nothing may follow the last one.
        if (pieces.size() == row.size() && start == converted.size()) {
          size_t i = 0;
          for (auto& s : row) s = std::move(pieces[i++]);
          continue;
        }
      }
    }
    for (auto& s : row) {
      if (KyroGlobalUtils::KyroCodeSetConvert("UTF-8", target, s, s) != KYRO_CONV_SUCCESS) code = FM_FAILURE;
    }
  }
  return code;
}

namespace {

// Runs a conversion; an exception (out of memory) becomes a failure code.
template <typename Fn>
int guardedConvert(const char* op, Fn fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::%s, out of memory", op);
    return static_cast<int>(FM_NO_MEMORY);
  } catch (const std::exception& e) {
    FM_TRACE(TRACE_ERROR, "CKyroSettingOP::%s, %s", op, e.what());
    return static_cast<int>(FM_FAILURE);
  }
}

}  // namespace

int CKyroSettingOP::ConvertCharSet(std::string& text) {
  return guardedConvert("ConvertCharSet", [&] { return convertOne(text, false); });
}
int CKyroSettingOP::ConvertCharSet(std::list<std::string>& texts) {
  return guardedConvert("ConvertCharSet", [&] { return convertList(texts, false); });
}
int CKyroSettingOP::ConvertCharSet(std::vector<std::string>& texts) {
  return guardedConvert("ConvertCharSet", [&] { return convertList(texts, false); });
}
int CKyroSettingOP::ConvertCharSet(std::list<std::list<std::string>>& table) {
  return guardedConvert("ConvertCharSet", [&] { return convertTable(table, false); });
}
int CKyroSettingOP::ConvertCharSet(std::vector<std::vector<std::string>>& table) {
  return guardedConvert("ConvertCharSet", [&] { return convertTable(table, false); });
}
int CKyroSettingOP::ConvertNorthCharSet(std::string& text) {
  return guardedConvert("ConvertNorthCharSet", [&] { return convertOne(text, true); });
}
int CKyroSettingOP::ConvertNorthCharSet(std::list<std::string>& texts) {
  return guardedConvert("ConvertNorthCharSet", [&] { return convertList(texts, true); });
}
int CKyroSettingOP::ConvertNorthCharSet(std::vector<std::string>& texts) {
  return guardedConvert("ConvertNorthCharSet", [&] { return convertList(texts, true); });
}
int CKyroSettingOP::ConvertNorthCharSet(std::list<std::list<std::string>>& table) {
  return guardedConvert("ConvertNorthCharSet", [&] { return convertTable(table, true); });
}
int CKyroSettingOP::ConvertNorthCharSet(std::vector<std::vector<std::string>>& table) {
  return guardedConvert("ConvertNorthCharSet", [&] { return convertTable(table, true); });
}

void CKyroSettingOP::split(const std::string& text, char delimiter, std::list<std::string>& out) {
  if (text.empty()) {
    FM_TRACE(TRACE_PROGRESS, "CKyroSettingOP::split input text is empty.");
    return;
  }
  size_t start = 0;
  for (;;) {
    size_t pos = text.find(delimiter, start);
    std::string piece = trim(text.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
    if (!piece.empty()) out.push_back(piece);
    if (pos == std::string::npos) break;
    start = pos + 1;
  }
}

}  // namespace Kyrofm
