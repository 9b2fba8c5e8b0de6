// AlarmExpOperator.h: CAlarmExpOperator, the writer of the alarm explanation
// knowledge base, and ExpChangedEvent, the event that announces its changes.
//
// The knowledge base lives in the table tbl_alm_exp_info, one row per (group
// id, alarm id, reason id). The operator keeps a reduced copy of it in memory
// (the explanation buffer: AlmBasicExpTable of AlmExp.h, 5 000 buckets), adds,
// updates and deletes reasons in table and buffer together, re-reads groups of
// alarms from the table (reload), applies user-defined alarm names, answers
// name and attribute look-ups from the buffer and sends explanation-changed
// events of at most 200 entries each.
//
// Deletion has two stages: a reason is first marked deleted (OperationType 3
// with a fresh time stamp) so that peers synchronising by time stamp
// (CAlarmExpQueryer::queryByTimeStamp with the highest stamp they have read)
// see it, and is later purged from buffer and table by cleanDeletedAlarmExp.
//
// Change time stamps. Every table write of the operator (one bulk batch, one
// updated or deleted reason, the stamping of rows without a stamp) runs as
// its own transaction with a stamp strictly greater than every stamp this
// operator gave before or found in the table at start-up: the current time,
// or the last stamp plus one when the clock has not moved on (or went back).
// Writes are committed in stamp order. So a peer that asks for the rows
// changed after the highest stamp it has read never misses a later change and
// never reads a change twice, also when several changes fall into one second.
// The buffer holds the same stamps as the table.
//
// Lifecycle: instance() builds the operator and loads the buffer (initialize);
// the buffer becomes usable only when the host then calls mergeRedefinedName
// (with the user-defined names, possibly none). Until then every mutating
// operation and the waiting look-ups block in waitForInit (polling once a
// second, giving up when the service is stopping or initialisation failed).
//
// Result codes: 33000 success, 33001 partial success, 33002 failure, 33021
// invalid argument, 33032 insert failed, 33033 update failed, 33034 mark or
// purge failed, 33038 no database connection, 33040 reason already present,
// 33041 key or reason unknown, 33044 entry without reason, 33047 empty
// buffer, 33201 the alarm's explanation is marked deleted. Error maps gather,
// per code, the keys of the entries that failed with it.
//
// Threads: any thread may call any operation. The explanation lock (the
// monitored Lock "Alarm explain Lock") guards the buffer; table writes run
// outside it and the buffer is updated afterwards under it. initialize and
// reload hold the init mutex for their whole run and take the explanation
// lock inside it (order: init mutex, then explanation lock). The init status
// has its own mutex.
#ifndef FM_FMLOG_ALARMEXPOPERATOR_H
#define FM_FMLOG_ALARMEXPOPERATOR_H

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "fm_common/fmcommon/FMLock.h"
#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/fmlog/AlmExp.h"
#include "fm_common/platform/KyroEvent.h"

namespace Kyrofm {

// Result codes of the operator besides the shared ones.
constexpr long FM_EXP_INSERT_FAIL = 33032;
constexpr long FM_EXP_UPDATE_FAIL = 33033;
constexpr long FM_EXP_DELETE_FAIL = 33034;
constexpr long FM_EXP_ALREADY_EXIST = 33040;
constexpr long FM_EXP_NOT_EXIST = 33041;
constexpr long FM_EXP_BUFFER_EMPTY = 33047;
constexpr long FM_EXP_MARKED_DELETED = 33201;

// Init status of the operator.
constexpr int EXP_INIT_NONE = 1;     // built, not initialised
constexpr int EXP_INIT_RUNNING = 2;  // initialising or reloading
constexpr int EXP_INIT_READY = 3;    // the buffer is usable
constexpr int EXP_INIT_FAILED = 4;   // initialisation failed

// The table of the knowledge base.
extern const char* const ALM_EXP_TABLE;  // "tbl_alm_exp_info"

// Explanation change: partition 0, source class "MyExpChangedSourceClass",
// event type "ExpChangedEvent". Attributes: 0 "Type" (CORBA::Long, the change
// type 1..5 chosen by the caller), 1 "AlmExpSeq" (a KyroExp::AlmExpSeq in an
// Any). A view made from a received event reads its last two attributes.
class ExpChangedEvent : public Kyroem::EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 2;
  ExpChangedEvent();
  explicit ExpChangedEvent(const Kyroem::EventBase& received);

  // Throw Kyroem::EventAttributeTypeMismatch when the attribute holds
  // another type.
  CORBA::Long getType() const;
  void setType(CORBA::Long type);
  KyroExp::AlmExpSeq getAlmExpSeq() const;
  void setAlmExpSeq(const KyroExp::AlmExpSeq& seq);

 private:
  CORBA::ULong m_ulBaseIndex;
};

class CAlarmExpOperator {
 public:
  // Builds the operator on first call (under the static mutex) and loads
  // its buffer (initialize); the result of the load shows in getInitStatus.
  static CAlarmExpOperator* instance();
  // Deletes the operator; no call may be in flight.
  static void destroy();

  // Loads the buffer from the table: stamps rows without a time stamp
  // (then upgrades the knowledge base's version id), fills the buffer.
  // 33000 leaves the status at 2 until mergeRedefinedName; a failure sets 4.
  long initialize();
  void setInitStatus(int status);
  int getInitStatus();
  // 33000 once the status is 3; 33002 when it is or becomes 4, or when the
  // service stops while waiting (polls once a second).
  long waitForInit();
  // Gives every row whose ExpTimeStamp is <= 0 a fresh stamp.
  long initTimeStamp();
  // True when no row has a stamp <= 0 (also when that cannot be read).
  bool isTimeStampZero() const;
  // Fills the buffer from the table (the first row of a key gives the
  // attributes; LinkType stays -1). 33038 without connection.
  long initDataFromAlarmExp();

  // ---- Mutating entry points. Entries may hold several reasons; they are
  // expanded first, and the event lists hold one entry per key.

  // Adds the reasons that the buffer does not hold (a reason present, even
  // marked deleted, goes to errors[33040]; none at all to errors[33044]).
  // keys: distinct keys added; forEvent: the added entries per key.
  long add(const AlmExpList& exps, AlmExpErrorMap& errors, std::list<AlarmInfo_t>& keys, AlmExpList& forEvent);
  // Updates the reasons the buffer holds (others: errors[33041]).
  long update(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& forEvent);
  // Marks the reasons deleted.
  long del(const AlmExpList& exps, std::list<AlarmInfo_t>& keys, AlmExpErrorMap& errors, AlmExpList& forEvent);
  // Updates the reasons the buffer holds, then adds the others.
  long addOrUpdate(const AlmExpList& exps, std::list<AlarmInfo_t>& keys, AlmExpList& added, AlmExpList& updated);
  // Re-reads the alarms of groupIds (none: all) from the table into the
  // buffer, applies names, and reports what was new, changed or gone.
  long reload(const std::list<long>& groupIds, const std::list<CAlarmRedefineAttr>& names, AlmExpList& added,
              AlmExpList& updated, AlmExpList& deleted, std::list<AlarmInfo_t>& deletedKeys);
  // Purges the reasons marked deleted whose stamp is <= timeStamp (-1: all)
  // from buffer and table. keys stays empty; cleaned: the purged reasons.
  long cleanDeletedAlarmExp(long timeStamp, std::list<AlarmInfo_t>& keys, AlmExpErrorMap& errors,
                            AlmExpList& cleaned);
  // Takes the reasons to purge out of the buffer (33047 empty buffer, 33002
  // nothing to purge).
  long cleanDeletedMem(long timeStamp, AlmExpList& removed);
  // Deletes the rows of the (expanded) entries from the table.
  long cleanDeletedExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& done) const;

  // ---- Table writes; each entry in expanded form. The written copies carry
  // the stamp and operation type stored.
  long addExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& added);
  long updateExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& updated);
  long delExp(const AlmExpList& exps, AlmExpErrorMap& errors, AlmExpList& deleted, AlmExpList& removed);

  // ---- Buffer writes. The single-entry forms expect the explanation lock
  // held; the list forms take it. Stamps and operation types come from the
  // entries (as the table writes stored them).
  long addExpToBuffer(const AlmExp_t& e);
  long addExpListToBuffer(const AlmExpList& exps);
  long updateExpToBuffer(const AlmExp_t& e);
  long updateExpListToBuffer(const AlmExpList& exps);
  long updateExpListToBuffer(const AlmExpList& exps, AlmExpList& done);
  long delExpFromBuffer(const AlmExp_t& e);
  long delExpListFromBuffer(const AlmExpList& exps);
  long delExpListFromBuffer(const AlmExpList& exps, AlmExpList& done);

  // Filters expanded entries against the buffer (taking the lock).
  void findNeedToAdd(const AlmExpList& exps, AlmExpList& out, AlmExpErrorMap& errors);
  void findNeedToUpdate(const AlmExpList& exps, AlmExpList& out, AlmExpErrorMap& errors);

  void asignExp2Basic(const AlmExp_t& src, AlmBasicExp_t& dst) const;
  void asignBasic2Exp(const AlmBasicExp_t& src, AlmExp_t& dst) const;

  // ---- Look-ups in the buffer.

  // 33000, 33201 (first reason marked deleted; name still filled) or 33002.
  long getAlarmName(const AlarmInfo_t& key, std::string& name);
  long getLatestAlarmName(const AlarmInfo_t& key, std::string& name);
  // ClearCategory per key, 1 for an unknown key; 33021 for no keys.
  long queryAlarmClearType(const std::list<AlarmInfo_t>& keys, std::list<long>& out);
  bool isAlmInfoValid(const AlarmInfo_t& key);
  // Attributes and reasons (without texts) of one alarm; waits for init.
  long getAlmStaticInfo(AlarmInfo_t& key, AlmExp_t& exp);
  // A copy of every buffer entry in iteration order; waits for init.
  long getAlarmExpBasicInfo(std::list<AlmBasicExp_t>& out);
  // Entries whose key is in the buffer take the buffer's AlarmName.
  void applyNewAlarmName(AlmExpList& exps);
  // Applies the active user-defined names to the buffer, then marks it
  // ready (status 3). Always 33000.
  long mergeRedefinedName(const std::list<CAlarmRedefineAttr>& names);

  // ---- Events.

  // Sends exps in events of at most 200 entries (type 1..5, else 33021; an
  // empty list is an error except for type 3, which sends one empty event).
  long batchSendExpEvent(int type, const AlmExpList& exps) const;
  // Sends exps as one ExpChangedEvent; 33000 also when the push failed.
  long sendExpChangedEvent(int type, const AlmExpList& exps) const;

  // Entries per event of batchSendExpEvent; rows per bulk insert.
  static constexpr size_t EVENT_CHUNK = 200;
  static constexpr size_t INSERT_BATCH = 1000;

  CAlarmExpOperator(const CAlarmExpOperator&) = delete;
  CAlarmExpOperator& operator=(const CAlarmExpOperator&) = delete;

 private:
  using ReasonKey = std::tuple<long, long, long>;  // group id, alarm id, reason id

  CAlarmExpOperator();
  ~CAlarmExpOperator();

  // The stamp of the next table write (see the top of this file); the
  // caller holds m_mxWrite until its write is committed.
  std::int32_t nextStamp();
  // Raises the last stamp given to at least stamp.
  void noteStamp(long stamp);

  void bakOldExp(const std::list<long>& groupIds, AlmBasicExpTable& tmp);
  long compareExp(const std::list<long>& groupIds, AlmExpList& addList, AlmExpList& updList,
                  AlmBasicExpTable& tmp, std::set<ReasonKey>& seen);
  void getDelExp(AlmBasicExpTable& tmp, const std::set<ReasonKey>& seen, AlmExpList& delList,
                 std::list<AlarmInfo_t>& deletedKeys);
  void copyItems(AlmBasicExpTable& tmp);
  long mergeRedefinedName(const std::list<CAlarmRedefineAttr>& names, AlmBasicExpTable& table);
  bool serviceStopping() const;

  AlmBasicExpTable m_expBuffer;
  Lock m_lockExp;             // "Alarm explain Lock": guards m_expBuffer
  int m_iInitStatus;
  std::mutex m_mxStatus;      // guards m_iInitStatus
  std::mutex m_mxInit;        // held by initialize and reload
  std::mutex m_mxWrite;       // orders table writes by stamp
  std::int32_t m_lLastStamp;  // under m_mxWrite

  static std::atomic<CAlarmExpOperator*> m_pInstance;
  static std::mutex m_mxInstance;
};

}  // namespace Kyrofm

#endif
