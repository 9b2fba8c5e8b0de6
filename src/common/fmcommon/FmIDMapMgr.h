// FmIDMapMgr.h: FmIDMapMgr, the translation of field identifiers into texts.
//
// Some alarm fields are stored as integers whose texts live in id map tables,
// one per field, named "tbl_id_map_" followed by the field name
// (tbl_id_map_GroupId, tbl_id_map_ReasonType); the first column holds the
// text, the second the identifier. The manager loads every such table into
// memory when it is made, and translates on request. Field names are
// compared without regard to case, as the databases do with table names.
//
// The manager answers translation requests only once it is active:
// UpgradeGroupIdMap reloads the GroupId map and activates it; until then
// every request answers 33868, although the maps are loaded.
//
// Ownership and threads: one object made by Instance() and deleted by
// destroy() (no thread may use it then). Every other operation may be called
// from any thread: the maps are guarded by m_mapIDMaps_Mutex, the active flag
// by m_IsActive_Mutex (never held together). A reload that fails keeps the
// field's previous map.
#ifndef FM_FMCOMMON_FMIDMAPMGR_H
#define FM_FMCOMMON_FMIDMAPMGR_H

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Kyrofm {

// Result of a translation request before the manager is active.
constexpr long FM_IDMAP_NOT_ACTIVE = 33868;

// One id map: the field name and its identifier -> text map.
struct FmFieldIDMap {
  std::string m_strFieldName;
  std::map<int32_t, std::string> m_mapIDText;
};

class FmIDMapMgr {
 public:
  static constexpr const char* TABLE_PREFIX = "tbl_id_map_";

  // The process's manager, made and initialised (init) on first use.
  static FmIDMapMgr* Instance();
  // Deletes the manager; the next Instance() makes a new, inactive one.
  static void destroy();

  // readIDMapFromDB; 33000, else 33002.
  long init();
  // Finds every id map table and loads it; a field that fails is logged and
  // the others go on. 33000, or 33002 when the tables cannot be listed.
  long readIDMapFromDB();
  // (Re)loads the map of one field from "tbl_id_map_" + field. 33000; 33038
  // without a database connection; 33002 when the table cannot be read or the
  // field name is not usable in a table name. On failure the previous map
  // stays.
  int getSingleIdMap(const std::string& field);
  // out = copies of the maps of fields (of every loaded map when fields is
  // empty). 33000; 33002 for an unknown field (out then holds the maps
  // copied before it); 33868 while inactive.
  long getIDMap(const std::list<std::string>& fields, std::list<FmFieldIDMap>& out);
  // text = the text of key in the map of field. 33000; 33002 for an unknown
  // field or key; 33868 while inactive.
  long getIDMap(const std::string& field, long key, std::string& text);
  // Reloads GroupId and activates the manager (also when the reload failed).
  // The reload's result.
  int UpgradeGroupIdMap();
  // Reloads every map (field is not used). 33000.
  int updateIdMapMem(const std::string& field);

  bool isActive() const;

 private:
  FmIDMapMgr() = default;
  ~FmIDMapMgr() = default;
  friend struct std::default_delete<FmIDMapMgr>;
  FmIDMapMgr(const FmIDMapMgr&) = delete;
  FmIDMapMgr& operator=(const FmIDMapMgr&) = delete;

  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };

  std::map<std::string, std::unique_ptr<FmFieldIDMap>, NoCaseLess> m_mapIDMaps;
  bool m_bIsActive = false;
  mutable std::mutex m_IsActive_Mutex;

  static std::mutex m_mapIDMaps_Mutex;
  static std::atomic<FmIDMapMgr*> m_pInstance;
  static std::mutex m_FMIDMapMgr_Mutex;
};

}  // namespace Kyrofm

#endif
