// BatchOperAuditMgr.h: audit records of operations that users start from
// client workstations.
//
// An operation that runs over several calls (a batch) opens a pending entry
// (COperAuditInfo) with initAuditInfo, keyed by the workstation session and
// the operation type. Opening it takes the exclusive category of the type
// (COperStatusInfoMgr), so a second operation of the same category is refused
// with the category's busy code (and that refusal is audited at once). While
// the operation runs, setOperateAuditInfo adds success and failure counts and
// flushAuditInfo restarts its time-out. The entry writes exactly one audit
// record through CFMAudit and gives its category back when it ends, which is
// the first of:
//   - delAuditInfo (the caller closes it with the operation's result);
//   - its time-out: a timer ticks once a second and an entry not flushed for
//     its time-out is written with 33002;
//   - a second initAuditInfo for the same session and type (written with
//     33002, then replaced);
//   - cleanup() of the manager (written with its stored result).
// tagFMAuditInfo is the scoped form for an operation that ends within one
// call: it writes its record when it is destroyed.
//
// Ownership and threads: CBatchOperAuditMgr is a process-wide object
// (Instance/Destroy) that owns its entries, a reactor and the one thread that
// runs the reactor's timer. Every operation may be called from any thread; the
// entry list has one lock, taken by callers and the timer alike, so each entry
// ends exactly once. Instance() starts the timer thread; cleanup() (run by
// Destroy and the destructor) stops and joins it before it writes the pending
// entries. Tests and hosts that drive time themselves call setManualTick(true)
// and then tick(): the reactor's own expiries are then ignored.
#ifndef FM_AUDIT_BATCHOPERAUDITMGR_H
#define FM_AUDIT_BATCHOPERAUDITMGR_H

#include <ace/RW_Thread_Mutex.h>
#include <ace/Task.h>
#include <ace/Thread_Mutex.h>

#include <atomic>
#include <list>
#include <memory>
#include <string>

#include "fm_common/platform/CFMAudit.h"

class ACE_Reactor;
class ACE_Thread_Manager;

namespace Kyrofm {

constexpr long FM_INVALID_OPER_TYPE = 33104;  // operation type not in the table
constexpr long FM_AUDIT_NO_RESULT = 33720;    // scoped audit never given a result

// Operation types.
constexpr int OPER_UPDATE_ALM_KNOWLG_DB = 1;
constexpr int OPER_UPDATE_ALM_COMMENT = 15;
constexpr int OPER_ADD_REDEFINE_ALM_LEVEL = 100;
constexpr int OPER_DEL_REDEFINE_ALM_LEVEL = 101;
constexpr int OPER_UPDATE_REDEFINE_ALM_LEVEL = 102;
constexpr int OPER_ADD_ALM_SHIELD_ATTR = 200;
constexpr int OPER_UPDATE_ALM_SHIELD_ATTR = 201;
constexpr int OPER_DEL_ALM_SHIELD_ATTR = 202;
constexpr int OPER_SYN_NE_ALM = 401;
constexpr int OPER_ADD_NB_FILTER_RULE = 600;
constexpr int OPER_UPDATE_NB_FILTER_RULE = 601;
constexpr int OPER_DEL_NB_FILTER_RULE = 602;

// The table of operation types: its name ("Update_Alm_Knowlg_DB", ...), its
// time-out cap in seconds, its category (0: none) and the category's busy
// code and message name. False for a type not in the table.
struct OperTypeInfo {
  const char* name;
  int timeoutCap;
  int category;
  long busyCode;
  const char* categoryName;
};
bool getOpInfoByType(int operType, OperTypeInfo& info);

// One attribute of an alarm shield rule, as audited: the audit item type that
// names it (CFMAudit::getAuditName) and its value.
struct AlmShieldAttr_t {
  unsigned m_uItemType = 0;
  std::string m_strValue;
};

// One pending audit entry. Owns its audit record; while it holds its type's
// category, destroying it gives the category back.
class COperAuditInfo {
 public:
  COperAuditInfo() = default;
  ~COperAuditInfo();
  COperAuditInfo(const COperAuditInfo&) = delete;
  COperAuditInfo& operator=(const COperAuditInfo&) = delete;

  // Fills the entry and takes the type's category: 33000; 33104 for a type
  // not in the table; the busy code when the category is taken (that refusal
  // is audited here and the entry must be discarded).
  long init(unsigned long sessionId, const std::string& token, int operType, int timeout, unsigned total);
  // Writes the entry's audit record with `code` (see the header comment of
  // BatchOperAuditMgr.cpp for the forms).
  void doAudit(long code);

  unsigned long getSessionId() const { return m_ulSessionId; }
  int getOperType() const { return m_iOperType; }
  int getTimeout() const { return m_iTimeout; }
  int getRemain() const { return m_iRemain; }
  long getResult() const { return m_lResult; }
  unsigned getTotal() const { return m_uTotal; }
  unsigned getSucceeded() const { return m_uSucceeded; }
  unsigned getFailed() const { return m_uFailed; }
  const std::wstring& getTarget() const { return m_wstrTarget; }
  CAuditInfo* getAuditInfo() const { return m_pAuditInfo.get(); }

 private:
  friend class CBatchOperAuditMgr;
  void makeAuditInfo(const char* typeName);

  unsigned long m_ulSessionId = 0;
  std::string m_strToken;
  int m_iOperType = 0;
  int m_iTimeout = 0;
  int m_iRemain = 0;
  long m_lResult = 33000;
  unsigned m_uTotal = 0;
  unsigned m_uSucceeded = 0;
  unsigned m_uFailed = 0;
  std::wstring m_wstrTarget;
  std::unique_ptr<CAuditInfo> m_pAuditInfo;
  int m_iHeldCategory = 0;  // the category this entry holds, 0 when none
};

class CBatchOperAuditMgr : public ACE_Task_Base {
 public:
  // The manager, made on first use: Init() and open() (timer thread started).
  static CBatchOperAuditMgr* Instance();
  // cleanup() and delete.
  static void Destroy();

  // A manager of one's own (tests, hosts); Init() and open() start it.
  CBatchOperAuditMgr();
  ~CBatchOperAuditMgr() override;
  CBatchOperAuditMgr(const CBatchOperAuditMgr&) = delete;
  CBatchOperAuditMgr& operator=(const CBatchOperAuditMgr&) = delete;

  // Makes the reactor (high-resolution clock) and schedules the one-second
  // timer: 33000, 33011 (no memory) or 33002 (scheduling failed).
  long Init();
  // Starts the timer thread: 0, or -1 without a reactor or when it runs.
  int open(void* arg = nullptr) override;
  // The timer thread: owns the reactor and runs its loop until cleanup().
  int svc() override;
  int close(u_long flags = 0) override;
  // Stops the timer and joins its thread, then writes every pending entry
  // with its stored result and deletes it: 33000. Safe to call twice.
  long cleanup();

  // Opens an entry (see COperAuditInfo::init): 33000, a busy code, 33104 or
  // 33002. An entry of the same session and type is first written with 33002
  // and dropped. The time-out is capped at 3600 s for "Syn_NE_Alm", 300 s for
  // the other types.
  long initAuditInfo(unsigned long sessionId, const std::string& token, int operType, int timeout,
                     unsigned total);
  // Adds counts; a single-object entry without a target takes `target` and
  // `result` (and `detail` as its record's detail). 33000, 33002 (no entry).
  long setOperateAuditInfo(unsigned long sessionId, int operType, long result, unsigned succeeded,
                           unsigned failed, const std::wstring& target, const std::string& detail);
  // The same, with the record's detail built from shield attributes, one
  // line "<audit item name>: <value>" each.
  long setOperateAuditInfo(unsigned long sessionId, int operType, long result, unsigned succeeded,
                           unsigned failed, const std::wstring& target, const std::list<AlmShieldAttr_t>& attrs);
  // Restarts the entry's time-out: 33000, 33002 (no entry).
  long flushAuditInfo(unsigned long sessionId, int operType);
  // Closes the entry: writes it with `code`, gives its category back: 33000,
  // 33002 (no entry).
  long delAuditInfo(unsigned long sessionId, int operType, long code);

  // Timer expiry: one tick unless ticks are manual.
  int handle_timeout(const ACE_Time_Value& now, const void* act) override;
  // One second elapsed: every entry's remaining seconds drop by one; entries
  // below 1 are written with 33002 and dropped.
  void tick();
  void setManualTick(bool manual) { m_bManualTick.store(manual); }
  size_t getPendingCount();
  // True while the timer thread runs.
  bool isRunning() const { return thr_count() > 0; }

 private:
  using EntryList = std::list<std::unique_ptr<COperAuditInfo>>;
  EntryList::iterator findEntry(unsigned long sessionId, int operType);
  long setOperate(unsigned long sessionId, int operType, long result, unsigned succeeded, unsigned failed,
                  const std::wstring& target, const std::wstring& detail);

  ACE_RW_Thread_Mutex m_listLock;
  EntryList m_entries;
  std::unique_ptr<ACE_Reactor> m_pReactor;
  std::unique_ptr<ACE_Thread_Manager> m_pThrMgr;
  long m_lTimerId = -1;
  std::atomic<bool> m_bManualTick{false};
  ACE_Thread_Mutex m_lifeLock;  // serialises Init, open and cleanup

  static std::atomic<CBatchOperAuditMgr*> m_pInstance;
  static ACE_Thread_Mutex m_instanceMutex;
};

// The scoped audit of an operation that ends within one call: writes its
// record (which it owns) when destroyed. Counts A and B start at the total,
// the result at 33720 (no result given).
struct tagFMAuditInfo {
  long m_lResult = FM_AUDIT_NO_RESULT;
  unsigned m_uTotal = 0;
  unsigned m_uAuditItemType = 0;
  unsigned m_uCountA = 0;
  unsigned m_uCountB = 0;
  std::wstring m_wstrTarget;
  std::string m_strDetail;
  std::string m_strOperationName;
  std::unique_ptr<CAuditInfo> m_pAuditInfo;

  // Takes ownership of record (may be null: nothing is written).
  tagFMAuditInfo(unsigned total, unsigned auditItemType, const std::wstring& target,
                 const std::string& operationName, CAuditInfo* record);
  ~tagFMAuditInfo();
  tagFMAuditInfo(const tagFMAuditInfo&) = delete;
  tagFMAuditInfo& operator=(const tagFMAuditInfo&) = delete;

  // Result, count B = x, count A = y.
  void setResult(long result, unsigned x, unsigned y);
  // Result, count A = x.
  void setResult(long result, unsigned x);
  void setDetailInfo(const std::string& detail) { m_strDetail = detail; }
};

}  // namespace Kyrofm

#endif
