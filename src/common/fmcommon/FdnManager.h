// FdnManager.h: CFdnManager, the process-wide map between managed-object FDNs
// and their integer identifiers (fdnid), and CTempTableGuard, the scope object
// that turns a set of identifiers into an SQL IN condition.
//
// CFdnManager keeps the whole mapping in memory (m_FdnStrMap FDN -> id, ordered
// byte-wise so that a subtree is one contiguous run, and its inverse
// m_FdnLongMap), persists it in the table tbl_fdn_mgr (fdnid, fdnname) and
// gives new FDNs the next free identifier. When the table refuses a write, the
// new pairs go to the FDN file (FdnFile, $KYRO_ROOT/var/fm/fmdb_FDN) with their
// identifiers and are usable at once; the file is replayed into the table at
// the next successful insert and at every start, then deleted.
//
// Identifiers are never handed out twice:
//   - only a process whose allocation flag is set gives new identifiers; the
//     others read identifiers that the allocating process wrote, and they
//     neither replay nor delete the FDN file;
//   - a process allocates only while its memory and counter come from a read
//     of the table made while it was allocating: an init that could not read
//     the table, or a process that becomes the allocating one later, reads the
//     table again before its first allocation (and allocates nothing while it
//     cannot);
//   - the counter starts above every identifier in the table, in the file and
//     in memory; an identifier whose row is deleted (DelFdn) or merged away
//     (the "needdelete" rows of a rename onto an existing FDN, UpdateFdnID or
//     updateNefdn) stays reserved in the table as a row with an empty name
//     when it was the highest one, so that a restart never gives it again;
//   - a deleted FDN also leaves the FDN file, so that no replay brings it
//     back;
//   - a pair that can be stored neither in the table nor in the file is not
//     handed out (its FDN answers -100/-2), so every identifier a caller ever
//     received survives a restart.
//
// Identifier markers: -1 the empty FDN; -2 an FDN that stayed unresolved in a
// list look-up; -100 an FDN that is unknown or could not be created.
//
// Threads: any thread may call any operation. One reader/writer lock (the
// RW_Lock "CFdnManager::m_rwLock", visible in the lock monitor) guards
// the maps, the counter and the flags: look-ups read; init, the additions,
// deletions and renames write and hold it across their database and file
// work. The one exception is GetIntFdn of a known FDN, the hot path: it reads
// the exact FDN table under that table's own shared mutex (see FdnIdIndex),
// which writers take only for the moment they change memory, so it neither
// takes the monitored lock nor waits for a writer's database work. Events (the object deletion event "FMMODelEvent") are sent after the
// lock is released, so a subscriber may call back into the manager.
#ifndef FM_FMCOMMON_FDNMANAGER_H
#define FM_FMCOMMON_FDNMANAGER_H

#include <atomic>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/fmcommon/FdnFile.h"

namespace Kyrofm {

// Result of a subtree-limited look-up: GetFdnIdByFdnName stopped at its
// maximum result count.
constexpr long FM_RESULT_LIMIT_REACHED = 33035;

// One NE FDN change as the configuration service reports it (names "oldFDN",
// "oldNEFDN", "oldNEType", "newFDN", "newNEFDN", "newNEType", "fdnStartTime";
// the last three decimal numbers, 0 when missing or not a number).
struct FdnUpdateSource {
  std::string m_strOldFdn;
  std::string m_strOldNeFdn;
  long m_lOldNeType = 0;
  std::string m_strNewFdn;
  std::string m_strNewNeFdn;
  long m_lNewNeType = 0;
  long m_lStartTime = 0;

  FdnUpdateSource() = default;
  explicit FdnUpdateSource(const std::list<FMNameValue_t>& attrs);
};

// Exact FDN -> id table: open addressing with linear probing over records
// that it allocates and owns (id, length, text), so that a look-up reads one
// slot and one record. At most half the slots are used. Not synchronised.
class FdnExactTable {
 public:
  FdnExactTable() = default;
  ~FdnExactTable();
  FdnExactTable(const FdnExactTable&) = delete;
  FdnExactTable& operator=(const FdnExactTable&) = delete;

  // True and id set when fdn is in the table.
  bool find(std::string_view fdn, long& id) const;
  // Inserts fdn -> id, or sets the id of a present fdn.
  void put(std::string_view fdn, long id);
  // Removes fdn; false when absent.
  bool erase(std::string_view fdn);
  void clear();
  // Makes room for n entries without rehashing.
  void reserve(size_t n);
  size_t size() const { return m_nSize; }

 private:
  struct Record;
  struct Slot {
    size_t m_hash;
    Record* m_pRecord;  // null: free
  };
  static size_t hashOf(std::string_view fdn);
  static bool equals(const Record* r, std::string_view fdn);
  // The slot of fdn, or the free slot where it would go.
  size_t locate(std::string_view fdn, size_t hash) const;
  void rehash(size_t slots);

  std::vector<Slot> m_slots;  // a power of two, or empty
  size_t m_nSize = 0;
};

// FDN -> id map of the FDN manager: an ordered map, so that the FDNs below an
// FDN form one contiguous run from its lower bound, plus an exact table of the
// same pairs for look-ups by name, the hot path of alarm conversion and
// filters. Offers the subset of the std::map interface the manager uses; every
// change goes to both.
//
// Threads: the manager's reader/writer lock guards both (read for look-ups,
// write for changes). In addition, the exact table has a shared mutex of its
// own, taken exclusively by every change and shared by findShared, so that
// GetIntFdn can look up a known FDN without the manager's lock.
class FdnIdIndex {
 public:
  using map_type = std::map<std::string, long>;
  using value_type = map_type::value_type;
  using iterator = map_type::iterator;
  using const_iterator = map_type::const_iterator;

  // Look-ups of the exact table; the caller holds the manager's lock.
  bool find(const std::string& fdn, long& id) const { return m_exact.find(fdn, id); }
  bool contains(const std::string& fdn) const {
    long id;
    return m_exact.find(fdn, id);
  }
  // The same without the manager's lock.
  bool findShared(const std::string& fdn, long& id) const {
    std::shared_lock<std::shared_mutex> lock(m_mtxExact);
    return m_exact.find(fdn, id);
  }
  // The ordered map's entry of fdn (end() when absent).
  iterator find(const std::string& fdn) { return m_map.find(fdn); }
  const_iterator find(const std::string& fdn) const { return m_map.find(fdn); }
  // Sets fdn -> id.
  void set(const std::string& fdn, long id) {
    auto r = m_map.try_emplace(fdn, id);
    if (!r.second) r.first->second = id;
    std::unique_lock<std::shared_mutex> lock(m_mtxExact);
    m_exact.put(r.first->first, id);
  }
  // set() for many pairs in ascending name order: the map insertions are
  // hinted and the exact table is locked and sized once.
  void setSorted(const std::vector<std::pair<const std::string*, long>>& pairs);
  iterator erase(iterator it) {
    {
      std::unique_lock<std::shared_mutex> lock(m_mtxExact);
      m_exact.erase(it->first);
    }
    return m_map.erase(it);
  }
  size_t erase(const std::string& fdn) {
    auto it = m_map.find(fdn);
    if (it == m_map.end()) return 0;
    erase(it);
    return 1;
  }
  // Takes the content of `other` (which receives the old content) and
  // rebuilds the exact table.
  void swap(map_type& other);
  iterator begin() { return m_map.begin(); }
  iterator end() { return m_map.end(); }
  const_iterator begin() const { return m_map.begin(); }
  const_iterator end() const { return m_map.end(); }
  size_t size() const { return m_map.size(); }
  bool empty() const { return m_map.empty(); }
  // The ordered map itself, for subtree walks.
  const map_type& ordered() const { return m_map; }

 private:
  map_type m_map;
  FdnExactTable m_exact;
  mutable std::shared_mutex m_mtxExact;
};

class CFdnManager {
 public:
  static constexpr long FDN_EMPTY_ID = -1;
  static constexpr long FDN_UNRESOLVED_ID = -2;
  static constexpr long FDN_UNKNOWN_ID = -100;
  static constexpr size_t BATCH_SIZE = 1000;        // rows per batch insert
  static constexpr size_t OR_TERMS_PER_WRAP = 240;  // name terms per wrap of a read by names
  static constexpr size_t NAMES_PER_READ = 4 * OR_TERMS_PER_WRAP;  // names per statement of a read by names
  static constexpr size_t DELETE_CHUNK = 200;       // ids per delete statement
  static constexpr size_t MAX_QUERY_SIZE = 100000;  // results of GetFdnIdByFdnName

  // ---- lifecycle
  // The manager, made and initialised (init) on the first call whatever init
  // returned.
  static CFdnManager* instance();
  // Deletes the manager; the next instance() builds and loads a new one. No
  // other call may be in flight.
  static void Destroy();

  // Loads memory from the table and the FDN file (replaying the file into the
  // table when this process allocates). 33000; 33038 when the table could not
  // be read (the file is still loaded into memory; no identifier is given
  // until a later read of the table succeeds).
  int init();
  // Sets the allocation flag. Becoming the allocating process makes the next
  // allocation read the table first. 33000.
  long setServiceFlag(bool bAlloc);
  bool getServiceFlag() const;
  // The identifier the next new FDN receives.
  long getCurMaxFdnId();
  // Writes m_FdnLongMap to $KYRO_ROOT/log/fdnManager_data.log. 33000, 33002.
  int outPutMemInfo();

  // ---- FDN to identifier, creating missing identifiers
  // The id of fdn; -1 for "", -100 when it can be neither found nor created.
  int GetIntFdn(const std::string& fdn);
  // One id per input in input order (-1 empty, -2 unresolved). 33000, or 33002
  // when some FDN stayed unresolved or the addition failed.
  int GetIntFdnList(const std::list<std::string>& fdns, std::list<long>& ids);
  int GetIntFdnSet(const std::set<std::string>& fdns, std::set<long>& ids);
  int GetIntFdnMap(const std::set<std::string>& fdns, std::map<std::string, long>& ids);

  // ---- FDN to identifier, memory only
  // m_FdnStrMap, then the rename backup m_FdnStrMapTemp; -100 when in neither.
  int getFdnIdEx(const std::string& fdn);
  // Each found id, and -100 once for missing FDNs. 33000.
  int QueryIntFdnEqualSet(const std::list<std::string>& fdns, std::set<long>& ids);
  // The ids of each FDN and everything below it. 33000.
  int GetFdnLikeSet(const std::list<std::string>& fdns, std::set<long>& ids);
  // GetFdnLikeSet that also takes FDNs of CAlmValidCheck::MAX_FDN_LENGTH bytes
  // or more (as DelFdn does), for callers whose SQL must select every object
  // below an FDN that an in-memory subtree test accepts. 33000.
  int GetFdnLikeSetAnyLength(const std::list<std::string>& fdns, std::set<long>& ids);
  int GetIntFdnListLikeFdn(const std::string& fdn, std::set<int>& ids);
  int GetStrFdnListLikeFdn(const std::string& fdn, std::set<std::string>& fdns);
  // QueryIntFdnEqualSet(b) (GetFdnLikeSet(b)) restricted to the ids also in
  // the answer for a. 33000.
  int GetUserFdnEqualSet(const std::list<std::string>& a, const std::list<std::string>& b, std::set<long>& ids);
  int GetUserFdnLikeSet(const std::list<std::string>& a, const std::list<std::string>& b, std::set<long>& ids);
  // matchType 1: the given names that are known; 2: every known FDN at or below
  // one of the names. Appends (FDN, decimal id). 33000; 33035 after 100000
  // results (those stay in out); 33021 for another matchType.
  int GetFdnIdByFdnName(const std::list<std::string>& names, const char& matchType, std::list<FMNameValue_t>& out);
  // CAlmValidCheck::CheckFdnParent with the given splitter.
  bool IsFdnParent(const std::string& parent, const std::string& child, const char& splitter);

  // ---- identifier to FDN
  // "" for -1, the FDN, or "UNKNOWN".
  std::string GetStrFdn(const long& id);
  int GetStrFdnMap(const std::set<long>& ids, std::map<long, std::string>& out);
  int GetStrFdnSet(const std::set<long>& ids, std::set<std::string>& out);

  // ---- changes
  // Deletes fdn and its subtree (FDNs of any length) from the table, from the
  // FDN file when it holds some of them, and, when the table delete succeeded,
  // from memory, then sends the deletion event. Nothing changes when the table
  // delete fails or the file cannot be read; pairs held by a file that cannot
  // be rewritten stay.
  void DelFdn(const std::string& fdn);
  // Renames single FDNs keeping their ids (in the table, or in the FDN file
  // when the table refuses). A new name that has an id already keeps it: the
  // renamed id is merged into it (its row renamed "needdelete", removed from
  // memory), as in updateNefdn. 33000; 33002 at the first rename that could be
  // stored nowhere (earlier ones stay done).
  int UpdateFdnID(std::map<std::string, std::string>& oldToNew);
  // NE FDN change: 33002 when something exists at or below the new FDN.
  long checkNewFdnIsExist(const FdnUpdateSource& src);
  // Copies the subtree of neFdn into the rename backup; clearOldFdnIdBack
  // empties the backup.
  void backOldFdnIdForNefdnUpdate(const std::string& neFdn);
  void clearOldFdnIdBack();
  // Renames the subtree of oldFDN to newFDN; merges an FDN whose new name
  // already exists into the existing id (old id -> existing id in idChange,
  // old row renamed "needdelete").
  void updateNefdn(const FdnUpdateSource& src, std::map<long, long>& idChange);
  // GetIntFdn(newNEFDN): the id, or the negative marker.
  long updateNefdnID(const FdnUpdateSource& src);

  // ---- FDN file operations (each takes the write lock)
  long saveFdnInfoToFile(const std::map<std::string, long>& fdnMap);
  long loadFdnStrFromFile(std::map<std::string, long>& fdnMap);
  long loadFdnLongFromFile(std::map<long, std::string>& fdnMap);
  long flushFdnStrToFile(const std::map<std::string, long>& fdnMap);
  long flushFdnLongToFile(const std::map<long, std::string>& fdnMap);
  bool isFileExist();
  long deleteFile();
  // Puts the pairs into memory (a pair names the current FDN of its id).
  long mergeFdn(const std::map<std::string, long>& fdnMap);
  // Writes the pairs to the table (inserted, or renamed when the id has a row
  // already); failed pairs go to `failed`. 33000 or 33002.
  long syncFileContentToDB(const std::map<std::string, long>& fdnMap, std::map<std::string, long>& failed);

  // The FDN file's path (set by init).
  std::string getFdnFileName();

 private:
  CFdnManager();
  ~CFdnManager();
  CFdnManager(const CFdnManager&) = delete;
  CFdnManager& operator=(const CFdnManager&) = delete;

  using StrMap = std::map<std::string, long>;
  using LongMap = std::map<long, std::string>;
  using EventList = std::list<std::list<FMNameValue_t>>;
  // Names held elsewhere (the caller's container, a map's keys), by address.
  using NameList = std::vector<const std::string*>;
  using NamePair = std::pair<const std::string*, long>;
  using PairList = std::vector<NamePair>;

  // Reads the table (and the file) into memory; caller holds the write lock.
  int loadLocked();
  int readTableLocked(StrMap& strMap, LongMap& longMap, long& maxId);
  // True when this process may allocate now (reads the table when needed).
  bool readyToAllocateLocked();

  // The subtree walk: calls take(entry) for P and every FDN below it. FDNs longer
  // than CAlmValidCheck::MAX_FDN_LENGTH bytes are skipped unless anyLength.
  template <typename Take>
  void walkSubtree(const StrMap& map, const std::string& fdn, Take take, bool anyLength = false) const;
  void likeSetLocked(const std::list<std::string>& fdns, std::set<long>& ids, bool log, bool anyLength = false);
  void equalSetLocked(const std::list<std::string>& fdns, std::set<long>& ids, bool log);

  // Sorts names by text and drops repeated ones (the order of a set).
  static void sortUnique(NameList& names);
  // fdns: sorted, without duplicates; the known ones are dropped from it.
  long AddFdnSetToDBAndMem(NameList& fdns);
  // succ and fail point into fdns' names, or, for a process that does not
  // allocate, into readBack.
  long AddFdnListToDB(const NameList& fdns, PairList& succ, PairList& fail, StrMap& readBack);
  long BatchInsert(const NamePair* rows, size_t count);
  long Insert(const std::string& fdn, long id);
  long GetFdnidListFromDB(const std::set<std::string>& fdns, StrMap& out);
  long GetFdnidFromDB(const std::string& fdn, long& id);
  long DelFdnSetFromDB(const std::set<long>& ids);
  long UpdateFdnToDBOrFile(long id, const std::string& newName, const std::string& oldName, EventList& events);
  long UpdateFdnIDToDB(long id, const std::string& name);
  long UpdateNeFdnToFile(long id, const std::string& name);
  long ProcessFdnFile();
  // Replays the FDN file after a successful insert; caller holds the lock.
  void replayFileLocked();
  long mergeFdnLocked(const StrMap& fdnMap);
  long syncLocked(const StrMap& fdnMap, StrMap& failed);
  long syncBatchLocked(const PairList& batch);
  long saveFileLocked(const StrMap& fdnMap);
  long loadLongLocked(LongMap& fdnMap);
  long flushLongLocked(const LongMap& fdnMap);

  void putLocked(const std::string& fdn, long id);
  // putLocked for each pair; pairs in name order with fresh ascending ids (the
  // common case of new FDNs) are appended in one pass.
  void putManyLocked(const PairList& pairs);
  // The counter stays above id.
  void raiseNextLocked(long id);
  static void sendEvents(const EventList& events);

  mutable RW_Lock m_rwLock;  // "CFdnManager::m_rwLock" in the lock monitor
  bool m_bServiceFlag = true;       // the allocation flag
  bool m_bLoadedForAlloc = false;   // memory and counter come from a table read made while allocating
  long m_lNextFdnId = 1;            // the id the next new FDN receives
  FdnIdIndex m_FdnStrMap;
  LongMap m_FdnLongMap;
  StrMap m_FdnStrMapTemp;
  std::string m_strTableName;
  FdnFile m_fdnFile;

  static std::atomic<CFdnManager*> m_instance;
  static std::mutex m_mtxInstance;
};

// Turns a set of fdnid values into an SQL IN condition: an inline list below
// 200 ids, else a subquery over a temporary table that the guard fills and
// drops when it goes out of scope (also during stack unwinding). Owned by one
// thread.
class CTempTableGuard {
 public:
  static constexpr size_t INLINE_LIMIT = 200;
  // Identifier kind of temporary tables at the identifier allocator.
  static constexpr int TEMP_TABLE_ID_TYPE = 3;

  // name empty: "tbl_tmpfm_" and a fresh identifier of the allocator (left
  // empty, with a level-5 line, when the allocator fails).
  explicit CTempTableGuard(const std::string& name = std::string());
  ~CTempTableGuard();
  CTempTableGuard(const CTempTableGuard&) = delete;
  CTempTableGuard& operator=(const CTempTableGuard&) = delete;

  // cond = " ( 1,2,3 ) " or "( select id from <table> )". False (cond empty)
  // for an empty set, an empty table name or a failed fill.
  bool getSqlInCond(const std::set<long>& ids, std::string& cond);

  const std::string& getTableName() const { return m_strTempTable; }

 private:
  std::string m_strTempTable;
  bool m_bCreated = false;
};

}  // namespace Kyrofm

#endif
