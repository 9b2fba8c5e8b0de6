// FmIDMapMgr.cpp: loading the id map tables and translating identifiers.
//
// A field's table is read into a fresh map that replaces the old one only
// when the whole table was read, so a failed reload loses no translation.
#include "fm_common/fmcommon/FmIDMapMgr.h"

#include <strings.h>

#include <vector>

#include "fm_common/platform/FMDBCommand.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMDBTools.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

std::mutex FmIDMapMgr::m_mapIDMaps_Mutex;
std::atomic<FmIDMapMgr*> FmIDMapMgr::m_pInstance{nullptr};
std::mutex FmIDMapMgr::m_FMIDMapMgr_Mutex;

bool FmIDMapMgr::NoCaseLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

FmIDMapMgr* FmIDMapMgr::Instance() {
  FmIDMapMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p != nullptr) return p;
  std::lock_guard<std::mutex> guard(m_FMIDMapMgr_Mutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (p == nullptr) {
    std::unique_ptr<FmIDMapMgr> made(new FmIDMapMgr());
    made->init();
    p = made.release();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void FmIDMapMgr::destroy() {
  std::lock_guard<std::mutex> guard(m_FMIDMapMgr_Mutex);
  delete m_pInstance.load(std::memory_order_relaxed);
  m_pInstance.store(nullptr, std::memory_order_release);
}

long FmIDMapMgr::init() {
  long rc = readIDMapFromDB();
  if (rc != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "FmIDMapMgr::init readIDMapFromDB return %ld", rc);
    return FM_FAILURE;
  }
  return FM_SUCCESS;
}

long FmIDMapMgr::readIDMapFromDB() {
  FM_FUNC_TRACE("FmIDMapMgr::readIDMapFromDB");
  std::vector<std::string> tables;
  if (Kyrofmdb::CFMDBTools::getFMDbTables("tbl/_id/_map%", tables) != FM_SUCCESS) {
    FM_TRACE(TRACE_ERROR, "CAlmExpLogImpl::readIDMapFromDB getFMDbTables fail");
    return FM_FAILURE;
  }
  const std::string prefix = TABLE_PREFIX;
  std::vector<std::string> fields;
  for (const auto& name : tables) {
    size_t pos = name.find(prefix);
    if (pos == std::string::npos) continue;
    std::string field = name.substr(pos + prefix.size());
    if (!field.empty()) fields.push_back(field);
  }
  FM_TRACE(TRACE_PROGRESS, "FmIDMapMgr::readIDMapFromDB, idmap Table name size is %d ", static_cast<int>(fields.size()));
  for (const auto& field : fields) {
    if (getSingleIdMap(field) != FM_SUCCESS) {
      FM_TRACE(TRACE_ERROR, "FmIDMapMgr::readIDMapFromDB, get field:%s fail.", field.c_str());
    }
  }
  return FM_SUCCESS;
}

int FmIDMapMgr::getSingleIdMap(const std::string& field) {
  const std::string table = TABLE_PREFIX + field;
  if (field.empty() || !Kyrofmdb::CFMDBTools::isValidTableName(table)) {
    FM_TRACE(TRACE_ERROR, "FmIDMapMgr::getSingleIdMap, get field[%s ]fail", field.c_str());
    return static_cast<int>(FM_FAILURE);
  }
  std::lock_guard<std::mutex> guard(m_mapIDMaps_Mutex);
  auto& slot = m_mapIDMaps[field];
  if (!slot) {
    slot.reset(new FmFieldIDMap());
    slot->m_strFieldName = field;
  }
  std::map<int32_t, std::string> loaded;
  long rc = Kyrofmdb::CFMDBGuard::run(__FILE__, __LINE__, "FmIDMapMgr::getSingleIdMap", FM_FAILURE,
                                      [&](Kyrofmdb::SAConnection& conn) -> long {
                                        Kyrofmdb::SACommand cmd(&conn, "select * from " + table);
                                        cmd.setOption("PreFetchRows", "200");
                                        cmd.Execute();
                                        while (cmd.FetchNext()) {
                                          loaded[static_cast<int32_t>(cmd.Field(2).asLong())] =
                                              cmd.Field(1).asString();
                                        }
                                        return FM_SUCCESS;
                                      });
  if (rc != FM_SUCCESS) return static_cast<int>(rc);
  slot->m_mapIDText.swap(loaded);
  FM_TRACE(TRACE_PROGRESS, "FmIDMapMgr::getSingleIdMap, field:%s, size:%d", field.c_str(),
           static_cast<int>(slot->m_mapIDText.size()));
  return static_cast<int>(FM_SUCCESS);
}

bool FmIDMapMgr::isActive() const {
  std::lock_guard<std::mutex> guard(m_IsActive_Mutex);
  return m_bIsActive;
}

long FmIDMapMgr::getIDMap(const std::list<std::string>& fields, std::list<FmFieldIDMap>& out) {
  if (!isActive()) {
    FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap is  not active");
    return FM_IDMAP_NOT_ACTIVE;
  }
  std::lock_guard<std::mutex> guard(m_mapIDMaps_Mutex);
  out.clear();
  if (fields.empty()) {
    for (const auto& kv : m_mapIDMaps) {
      if (kv.second) out.push_back(*kv.second);
    }
    FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap input FieldNamelist  is empty!");
    FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap input FieldNamelist  is empty! return size : %d",
             static_cast<int>(out.size()));
    return FM_SUCCESS;
  }
  for (const auto& field : fields) {
    FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap FieldName is  %s ", field.c_str());
    auto it = m_mapIDMaps.find(field);
    if (it == m_mapIDMaps.end() || !it->second) {
      FM_TRACE(TRACE_ERROR, " FmIDMapMgr::getIDMap fail, FieldName is  %s ", field.c_str());
      return FM_FAILURE;
    }
    out.push_back(*it->second);
  }
  FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap input:%d, output:%d", static_cast<int>(fields.size()),
           static_cast<int>(out.size()));
  return FM_SUCCESS;
}

long FmIDMapMgr::getIDMap(const std::string& field, long key, std::string& text) {
  if (!isActive()) {
    FM_TRACE(TRACE_DETAIL, " FmIDMapMgr::getIDMap is  not active");
    return FM_IDMAP_NOT_ACTIVE;
  }
  std::lock_guard<std::mutex> guard(m_mapIDMaps_Mutex);
  auto it = m_mapIDMaps.find(field);
  if (it == m_mapIDMaps.end()) {
    FM_TRACE(TRACE_ERROR, " FmIDMapMgr::getIDMap key fail, FieldName is  %s ", field.c_str());
    return FM_FAILURE;
  }
  if (!it->second) {
    FM_TRACE(TRACE_ERROR, " FmIDMapMgr::getIDMap key fail, pFieldIDMap is NULL ");
    return FM_FAILURE;
  }
  auto kit = (key < INT32_MIN || key > INT32_MAX) ? it->second->m_mapIDText.end()
                                                    : it->second->m_mapIDText.find(static_cast<int32_t>(key));
  if (kit == it->second->m_mapIDText.end()) {
    FM_TRACE(TRACE_ERROR, " FmIDMapMgr::getIDMap key fail, sdwKey is %d", static_cast<int>(key));
    return FM_FAILURE;
  }
  text = kit->second;
  return FM_SUCCESS;
}

int FmIDMapMgr::UpgradeGroupIdMap() {
  int res = getSingleIdMap("GroupId");
  if (res != static_cast<int>(FM_SUCCESS)) {
    FM_TRACE(TRACE_ERROR, "FmIDMapMgr::UpgradeGroupIdMap getSingleIdMap GroupId fail! ");
  }
  {
    std::lock_guard<std::mutex> guard(m_IsActive_Mutex);
    m_bIsActive = true;
  }
  FM_TRACE(TRACE_PROGRESS, "FmIDMapMgr::UpgradeGroupIdMap res = %d", res);
  return res;
}

int FmIDMapMgr::updateIdMapMem(const std::string& field) {
  (void)field;
  readIDMapFromDB();
  return static_cast<int>(FM_SUCCESS);
}

}  // namespace Kyrofm
