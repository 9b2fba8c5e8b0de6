// FMIdMgr.h: FMIdMgr, the allocator of unique integer identifiers.
//
// Identifiers are handed out per kind (FMIDTYPE) in ranges of at most 100000,
// from 1 to 2147483647, without a database access for every request. Per kind
// the allocator keeps a counter in memory (lMemMax) and a persisted mark
// (lDBMax, a multiple of 10000 except at the top of the range): no identifier
// at or above the mark has been handed out. The mark lives in the table
// tbl_fm_id and, when the table cannot be written, in the file
// "$KYRO_ROOT/etc/dynamic/fm_cfg.xml" (section "vela/fmdb/tables/TBL_FM_ID",
// parameter strName, value "<mark>:<generation>"). Every persisted change
// increments the kind's generation (lDBTimer); at start the newer of table and
// file wins and is copied back into the table.
//
// What makes an identifier unique across restarts:
//  - a range is handed out only after a mark above its end is durable in the
//    table or in the file; when neither can be written the request fails;
//  - generations are never reused, also not after a failed write, so the
//    newer of two stored marks is always the one written last;
//  - after a restart the counter resumes at the winning mark;
//  - while the file cannot be read (it may hold a newer mark than the table)
//    no range is handed out; each request tries to read it again; the kinds
//    are loaded again on request while the table could not be read at start.
// The kinds themselves come from tbl_fm_id (read and written through the
// database library's identifier storage, platform/FMDBIdUtil.h); kind 3
// (temporary tables) is seeded there by the schema. A kind whose stored mark
// is the last identifier (2147483647) resumes with a restart at 1, so that
// 2147483647 is not handed out twice.
//
// It also hands out alarm shield rule identifiers, above the highest ID of
// tbl_alarm_shield_rule.
//
// Ownership and threads: one object made by instance() and deleted by
// destroy() (no thread may use it then). Every other operation may be called
// from any thread: the kinds are guarded by one recursive mutex (held across
// the persistence of a mark, so concurrent callers receive disjoint ranges),
// the shield rule identifier by its own mutex.
#ifndef FM_FMCOMMON_FMIDMGR_H
#define FM_FMCOMMON_FMIDMGR_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Kyrofm {

// Identifier kinds. The kinds in use and their states come from tbl_fm_id;
// any integer stored there is a kind. Kind 3 names temporary tables.
enum FMIDTYPE : int {
  FM_IDTYPE_TEMPTABLE = 3,
};

// State of one identifier kind.
struct SFMID {
  int32_t lMemMax = 0;   // next identifier to hand out (in memory)
  int32_t lDBMax = 0;    // persisted mark: no identifier at or above it has been handed out
  int32_t lDBTimer = 0;  // generation counter, incremented at every persisted change
  std::string strName;   // the kind's parameter name in the configuration file
};

class FMIdMgr {
 public:
  static constexpr long MAX_IDS_PER_REQUEST = 100000;
  static constexpr long MAX_ID = 2147483647;
  static constexpr long MARK_STEP = 10000;

  // The process's allocator, made and initialised (init) on first use.
  static FMIdMgr* instance();
  // Deletes the allocator; the next instance() makes a new one.
  static void destroy();

  // Reads the shield rule identifier, loads the kinds from tbl_fm_id and
  // reconciles them with the file. The result of the reconciliation: 33000,
  // or 33002 when the file could not be read (the kinds keep the table's
  // values but hand out nothing until the file can be read).
  long init();

  // Reads the highest ID of tbl_alarm_shield_rule. 33000 or 33002.
  long initFiltRuleID();
  // The next shield rule identifier; -1 while the highest stored ID could not
  // be read (it is read again on every call until it succeeds).
  int getFiltRuleID();

  // Reserves num identifiers (at most 100000) of kind type: [minID, maxID].
  // 33000; 33002 for an unknown kind, while the file cannot be read, or when
  // the new mark could be written neither to the table nor to the file;
  // 33021 for num < 1. minID = maxID = 0 on failure.
  long allocateIds(FMIDTYPE type, long num, long& minID, long& maxID);
  // One identifier of kind type, -1 on failure.
  long allocateId(FMIDTYPE type);
  // max = the next identifier of kind type. 33000 or 33002 (unknown kind).
  long getMaxID(FMIDTYPE type, long& max);
  // Sets the counter and the mark of kind type to value (a new generation)
  // and writes them to the table. 33002 for an unknown kind, else the
  // table's result (the next request persists again when it failed).
  long modifydb(FMIDTYPE type, long value);
  // Writes the mark and generation of sfmid to the file as parameter
  // sfmid.strName. 33000 or 33002.
  int modifycfg(FMIDTYPE type, const SFMID& sfmid);
  // Start-up reconciliation of ids with the file: a kind whose file entry has
  // a newer generation takes the file's mark as counter and mark and is
  // written back to the table. Unparsable entries are skipped. 33000, or
  // 33002 when the file cannot be read.
  int checkdbbycfg(std::map<FMIDTYPE, SFMID>& ids);
  // A copy of the kinds.
  void get(std::map<FMIDTYPE, SFMID>& ids);
  // "sFMID:lMemMax(..)lDBMax(..)lDBTimer(..)strName(..)".
  static std::string tostring(const SFMID& sfmid);

  // The file of the marks: "<root>/etc/dynamic/fm_cfg.xml" under
  // KyroCommonUtils::getRoot().
  static std::string getCfgFile();

 private:
  FMIdMgr() = default;
  ~FMIdMgr() = default;
  friend struct std::default_delete<FMIdMgr>;
  FMIdMgr(const FMIdMgr&) = delete;
  FMIdMgr& operator=(const FMIdMgr&) = delete;

  // Loads the kinds from the table and reconciles them with the file, as far
  // as that has not succeeded yet. Caller holds m_mapIDMutex.
  long loadKinds();

  const std::string m_strTableName = "tbl_fm_id";
  std::map<FMIDTYPE, SFMID> m_mapID;
  bool m_bDBLoaded = false;    // the kinds were read from the table
  bool m_bCfgChecked = false;  // the file was read and reconciled
  int64_t m_lFiltRuleID = 0;
  bool m_bFiltRuleIDRead = false;
  std::mutex m_filtRuleIDMutex;
  std::recursive_mutex m_mapIDMutex;

  static std::atomic<FMIdMgr*> m_pInstance;
  static std::mutex m_instanceMutex;
};

}  // namespace Kyrofm

#endif
