// AlarmExpQueryer.h: the read side of the alarm explanation knowledge base.
//
// CAlarmExpQueryer reads explanation entries from tbl_alm_exp_info (by key, by
// change time, every name) and answers the explanation, clear advice and
// meaning of alarms: one alarm at a time through two process-wide caches, or
// in bulk for a list of alarm records through a temporary key table joined
// with the knowledge base. Where an alarm's own row has no clear advice (blank
// after trimming), the group-wide table tbl_alm_exp_reason (texts per group id
// and reason id) supplies explanation and advice; such answers carry the key
// (group id, -1, reason id).
//
// Caches: m_oAlarmInfoExMap (AlarmInfoEx_t -> texts) and
// m_oAlarmInfoMeaningMap (AlarmInfo_t -> meaning), each behind its own
// reader/writer mutex, each taking new entries only while it holds fewer than
// 1000. The explanation operator keeps them coherent with the table through
// updateExpToMem and deleteExpFromMem after it changes rows; an answer read
// from the table while such a change runs is not cached, so a cache never
// serves a text the table no longer has.
//
// AlmExpVersionID is the version number of the knowledge base, kept in the
// settings service and in the file "KYRO_velasvc.xml" of the configuration
// directory. ExpLogBulkVector is a column buffer of explanation rows.
//
// Threads: every operation may be called from any thread. The caches are
// shared; the bulk maps belong to the caller; the bulk path's temporary table
// is named from the identifier allocator, so concurrent bulk calls do not
// collide.
#ifndef FM_FMLOG_ALARMEXPQUERYER_H
#define FM_FMLOG_ALARMEXPQUERYER_H

#include <ace/RW_Thread_Mutex.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/fmlog/AlmExp.h"
#include "fm_common/platform/AlmRecord.h"

namespace Kyrofmdb {
class SACommand;
}

namespace Kyrofm {

// A condition on the group-wide reason table: (group id, reason id).
struct GroupReason_t {
  long m_lGroupId = 0;
  long m_lReasonId = 0;

  GroupReason_t() = default;
  GroupReason_t(long groupId, long reasonId) : m_lGroupId(groupId), m_lReasonId(reasonId) {}
};

// One row of the group-wide reason table.
struct GroupReasonExp_t {
  long m_lGroupId = 0;
  long m_lReasonId = 0;
  std::string m_strExplain;
  std::string m_strClearAdvice;
};

// Bulk result maps owned by the caller of the bulk path.
using ExpInfoMap = std::map<AlarmInfoEx_t, ExpandInfo_t>;
using MeanInfoMap = std::map<AlarmInfo_t, std::string>;

// Column buffer for n rows of tbl_alm_exp_info: one vector of n values per
// column. Copyable; not shared between threads.
class ExpLogBulkVector {
 public:
  ExpLogBulkVector() = default;
  explicit ExpLogBulkVector(long n) { resize(n); }

  // Sets the capacity to n rows; new rows hold defaults.
  void resize(long n);
  long capacity() const { return m_lCount; }
  // Refills each of the six string columns with n empty strings.
  void clearStringInfo(long n);

  long m_lCount = 0;
  // Integer columns.
  std::vector<std::int32_t> m_vGroupID, m_vAlarmID, m_vReasonID, m_vCategory, m_vAlarmLevel, m_vAlarmType,
      m_vExpTimeStamp, m_vRelativeAlmID, m_vClearStrategy, m_vReasonType, m_vLinkType, m_vClearCategory,
      m_vOperationType, m_vMergeStrategy, m_vDefineField;
  // String columns.
  std::vector<std::string> m_vAlarmName, m_vExplain, m_vClearAdvice, m_vExpFormat, m_vAlarmGroupLabel, m_vMeaning;
};

// The current row of a statement that selects every column of
// tbl_alm_exp_info (by name), as an entry with one reason holding them all.
// Shared by the queryer, the operator and tools that read the table.
AlmExp_t expFromRow(const Kyrofmdb::SACommand& cmd);

class CAlarmExpQueryer {
 public:
  // Most entries a cache takes; further answers are not cached.
  static constexpr size_t CACHE_LIMIT = 1000;
  // Keys per statement of queryFromDB and getGroupReasonExp.
  static constexpr size_t KEYS_PER_STATEMENT = 200;
  // Fewer records than this make batchGetExpAndMean do nothing.
  static constexpr size_t BULK_MIN_RECORDS = 50;

  // The process's queryer, created on first use; the first call waits until
  // operation category 999999 is idle.
  static CAlarmExpQueryer* instance();
  // Clears both caches under their write locks, then deletes the queryer.
  static void destroy();

  // out = the entries of keys (one per key, reasons in row order). A first key
  // (g, -1) reads all of group g ((-1, -1): every row) and ignores the other
  // keys. 33021 for empty keys, else 33000 (also when nothing was found or
  // the database could not be reached; logged).
  long queryFromDB(const std::list<AlarmInfo_t>& keys, std::list<AlmExp_t>& out);
  // out = the entries with a reason changed after t. 33000.
  long queryByTimeStamp(long t, std::list<AlmExp_t>& out);
  // names[key] = AlarmName of every row. 33000, 33038 or 33002.
  long queryAllOldNames(std::map<AlarmInfo_t, std::string>& names);

  // Explanation, advice and meaning of one alarm: caches first, then the
  // table. Always 33000; missing texts stay empty.
  long getExpAndAdvice(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info);
  // From the explanation cache (exact key only). 33000 or 33002 (absent).
  long getExpAndAdviceFromMem(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info);
  // From the tables, caching the answer. 33000, or 33038 without connection.
  long getExpAndAdviceFromDB(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info);
  // Meaning of one alarm from the cache (33000 / 33002 absent) or from the
  // table (33000, caching it; 33038 without connection).
  long getMeanFromMem(const AlarmInfo_t& key, ExpandInfo_t& info);
  long getMeanFromDB(const AlarmInfo_t& key, ExpandInfo_t& info);
  // Uncached read: meaning, then explanation and advice of reasonId (-1: the
  // lowest reason) of the alarm's rows; only when the alarm has no such row
  // the reason table supplies them. 33000 or 33038.
  long getExplainAndClearAdvice(const AlarmInfo_t& key, long reasonId, std::string& explain,
                                std::string& advice, std::string& meaning);

  // Appends the reason-table rows matching conds (read 200 conditions per
  // statement). 33000, or the code of the last failing batch.
  long getGroupReasonExp(const std::list<GroupReason_t>& conds, std::list<GroupReasonExp_t>& out);
  // keys += every alarm whose rows have MergeStrategy 1. 33000, 33038, 33002.
  static long loadAlmKey4Frequency(std::set<AlarmExpKey>& keys);

  // Bulk path. Fills exp (texts per (group, alarm, reason), or per
  // (group, -1, reason) from the reason table) and mean (meaning per alarm)
  // for every record, keeping each map near batch entries by dropping its
  // first entries. Fewer than 50 records: nothing happens. Failures leave
  // entries missing; the caller then falls back to the single look-ups when
  // the static getExpAndAdvice answers false.
  void batchGetExpAndMean(const std::list<AlmRecord_t>& records, unsigned batch, ExpInfoMap& exp,
                          MeanInfoMap& mean);
  void batchGetExp(const std::list<AlmRecord_t>& records, unsigned batch, const std::string& table,
                   ExpInfoMap& exp, MeanInfoMap& mean);
  void batchGetMean(const std::list<AlmRecord_t>& records, unsigned batch, const std::string& table,
                    MeanInfoMap& mean);
  long batchInitExp(std::set<AlarmInfoEx_t>& pending, std::set<AlarmInfoEx_t>& found, const std::string& table,
                    unsigned batch, ExpInfoMap& exp, MeanInfoMap& mean);
  long batchInitReason(std::set<AlarmInfoEx_t>& pending, std::set<AlarmInfoEx_t>& found,
                       const std::string& table, unsigned batch, ExpInfoMap& exp);
  long batchInitMean(std::set<AlarmInfo_t>& pending, std::set<AlarmInfo_t>& found, const std::string& table,
                     unsigned batch, MeanInfoMap& mean);
  // name = prefix + a fresh identifier of kind 3; the table (GroupID,
  // AlarmID, ReasonID) is created empty. 33000 or 33002.
  long createTmpTable(std::string& name, const std::string& prefix);
  // Fill table with the keys and give the join that reads their texts. The
  // *FromReason form stores (group id, -1, reason id) rows. 33000 or 33002.
  long createWhereCondExp(const std::set<AlarmInfoEx_t>& keys, std::string& sql, const std::string& table);
  long createWhereCondExpFromReason(const std::set<AlarmInfoEx_t>& keys, std::string& sql,
                                    const std::string& table);
  long createWhereCondMean(const std::set<AlarmInfo_t>& keys, std::string& sql, const std::string& table);

  // Look-up in bulk results: keyEx's entry, else (group id, -1, reason id);
  // then the alarm's meaning. True when both were found.
  static bool getExpAndAdvice(const AlarmInfoEx_t& keyEx, ExpandInfo_t& info, const ExpInfoMap& exp,
                              const MeanInfoMap& mean);

  // Cache maintenance after the table changed: for every reason of exps,
  // update (updateExpToMem; an entry whose new advice is blank is dropped, as
  // its answer now comes from the reason table) or drop (deleteExpFromMem)
  // the cached texts of (group, alarm, reason) and the alarm's meaning.
  // Absent entries are not created.
  static void updateExpToMem(const std::list<AlmExp_t>& exps);
  static void deleteExpFromMem(const std::list<AlmExp_t>& exps);

  // Appends rows 0 .. count-1 of bulk to out, one entry with one reason each.
  static void readFromBulkVector(ExpLogBulkVector& bulk, std::list<AlmExp_t>& out, int count);
  // Does nothing (rows are written by the explanation operator).
  static void putBulkVector(std::string& table, ExpLogBulkVector& bulk);

  // Cache sizes (for monitoring).
  static size_t expCacheSize();
  static size_t meanCacheSize();

 private:
  CAlarmExpQueryer() = default;
  ~CAlarmExpQueryer() = default;
  CAlarmExpQueryer(const CAlarmExpQueryer&) = delete;
  CAlarmExpQueryer& operator=(const CAlarmExpQueryer&) = delete;

  // Appends one entry per row of sql (every column) to out. Connection and
  // database failures are logged and leave out as it was.
  void executeQuery(const std::string& sql, std::list<AlmExp_t>& out);
  long getGroupReasonExpBatch(const std::list<GroupReason_t>& conds, std::list<GroupReasonExp_t>& out);

  const std::string m_strTableName = "tbl_alm_exp_info";

  static std::map<AlarmInfoEx_t, ExpandInfo_t> m_oAlarmInfoExMap;
  static ACE_RW_Thread_Mutex m_oAlarmInfoExMapLock;
  static std::map<AlarmInfo_t, std::string> m_oAlarmInfoMeaningMap;
  static ACE_RW_Thread_Mutex m_oAlarmInfoMeaningMapLock;
  // Counts cache maintenance calls; a table read that overlaps one is not
  // cached (its text may be older than the change).
  static std::atomic<unsigned long> m_ulCacheGeneration;

  static std::atomic<CAlarmExpQueryer*> m_pInstance;
  static std::mutex m_instanceMtx;
};

// Version number of the knowledge base: "major.minor.dynamic". Read from the
// settings service path "/kyro/vela/fmdb/tables/ALARM_EXPLAIN/versionId";
// written there and to parameter "versionId" of section
// "vela/fmdb/tables/ALARM_EXPLAIN" of "KYRO_velasvc.xml". Writes are
// serialised by m_mxInt; the numbers themselves belong to the caller's thread
// between init and get.
class AlmExpVersionID {
 public:
  static constexpr std::uint32_t DYNAMIC_MAX = 5000000;

  static AlmExpVersionID* instance();
  static void destroy();
  virtual ~AlmExpVersionID() = default;

  // Reads and parses the stored version. 33000, 33002 (unreadable or
  // missing a part).
  long init();
  // text = "%lu.%lu.%lu" of the three numbers. 33000.
  long get(std::string& text);
  // dynamic = dynamic mod 5000000 + 1, then writes the new text.
  long upgrade();
  // Writes text to the settings service and to the file. 33021 for an empty
  // text, 33002 when either write fails, else 33000.
  long writeToFile(const std::string& text);
  // init then get / init then upgrade; the last code.
  long getVersion(std::string& text);
  long upgradeVersion();

  // Splits text at '.' into the three numbers. 33000 or 33002.
  long parseVersionString(const std::string& text);

  std::uint32_t _majorID = 0;
  std::uint32_t _minorID = 0;
  std::uint32_t _dynamicID = 0;

 private:
  AlmExpVersionID() = default;

  static std::atomic<AlmExpVersionID*> m_pInstance;
  static std::mutex m_instanceMtx;
  static ACE_Thread_Mutex m_mxInt;
};

}  // namespace Kyrofm

#endif
