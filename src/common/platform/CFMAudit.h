// CFMAudit.h: the platform audit client as the library uses it: the audit-info
// record of an operation (CAuditInfo) and the facade that writes audit log
// entries from it (CFMAudit).
//
// The real audit service is another process. Here the facade is an in-process
// registry: every call is kept, in order, as one CFMAuditEntry holding the
// arguments and a copy of the record as it was when the call was made, so that
// a host process can forward the entries and a test can read them back
// (getEntries). At most getCapacity() entries are kept (default 10 000); the
// oldest are dropped first. The records themselves stay with the caller: the
// facade never takes ownership of a CAuditInfo.
//
// Thread safety: every operation of CFMAudit may be called from any thread.
// A CAuditInfo is a plain value, guarded by its owner.
#ifndef FM_PLATFORM_CFMAUDIT_H
#define FM_PLATFORM_CFMAUDIT_H

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Kyrofm {

// The audit-info record of one operation: who (the user's security token),
// what (the operation description), a detail text, the label of the target
// objects, the source that writes it, a level and a flag; and, once known, an
// additional information text and a result (0 success, 1 failure).
struct CAuditInfo {
  std::string m_strToken;
  std::wstring m_wstrOperation;
  std::wstring m_wstrDetail;
  std::wstring m_wstrTargetLabel;
  std::string m_strSource;
  int m_iLevel = 0;
  int m_iFlag = 0;
  std::wstring m_wstrAddInfo;
  int m_iResult = 0;

  CAuditInfo() = default;
  CAuditInfo(std::string token, std::wstring operation, std::wstring detail, std::wstring targetLabel,
             std::string source, int level, int flag)
      : m_strToken(std::move(token)),
        m_wstrOperation(std::move(operation)),
        m_wstrDetail(std::move(detail)),
        m_wstrTargetLabel(std::move(targetLabel)),
        m_strSource(std::move(source)),
        m_iLevel(level),
        m_iFlag(flag) {}
};

// One call of the facade as it was given.
struct CFMAuditEntry {
  enum Kind { SINGLE = 1, BATCH = 2, BATCH_TARGET = 3, RIGHT_FAIL = 4 };
  Kind m_kind = SINGLE;
  long m_lCode = 0;
  unsigned m_uItemType = 0;    // SINGLE
  unsigned m_uTotal = 0;       // BATCH, BATCH_TARGET
  unsigned m_uFailed = 0;      // BATCH, BATCH_TARGET (count A of the batch form)
  unsigned m_uSucceeded = 0;   // BATCH, BATCH_TARGET (count B of the batch form)
  std::wstring m_wstrTarget;   // SINGLE, BATCH_TARGET
  std::string m_strDetail;     // SINGLE, BATCH, BATCH_TARGET
  std::string m_strExtra;      // BATCH
  int m_iFlag = 0;             // SINGLE
  CAuditInfo m_info;           // the record at the time of the call
};

class CFMAudit {
 public:
  // An operation on one object: result code, audit item type, target
  // description, the record, a detail text and a flag. 33000, or 33021 when
  // record is null (nothing is written).
  static long handleSingleAudit(long code, unsigned itemType, const std::wstring& target, CAuditInfo* record,
                                const std::string& detail, int flag);
  // An operation on `total` objects of which `failed` failed and `succeeded`
  // succeeded, with the target description. 33000 or 33021 (null record).
  static long handleBatchAudit(long code, unsigned total, unsigned failed, unsigned succeeded,
                               const std::wstring& target, CAuditInfo* record, const std::string& detail);
  // The same without a target, with a detail and an extra text.
  static long handleBatchAudit(long code, unsigned total, unsigned failed, unsigned succeeded, CAuditInfo* record,
                               const std::string& detail, const std::string& extra);
  // An operation refused for lack of rights. 33000 or 33021 (null record).
  static long handleRightFailAudit(CAuditInfo* record, long code);
  // The display name of an audit item type: the registered one, else
  // "AuditItem" followed by the number.
  static std::string getAuditName(unsigned itemType);

  // Rights decisions (CFMAuditRight.cpp): may the user of `token` perform the
  // operation `accessId` on NEs of security class `secClass`? The security
  // service's grants decide. 33000 allowed, 33101 refused, 33901 when the
  // security service is unavailable.
  static long RightMOCheck(const std::string& accessId, const std::string& secClass, const std::string& neFdn,
                           const std::string& token);
  // The same for many NEs (NE FDN -> security class): 33000 only when every
  // one is allowed.
  static long batchRightMOCheck(const std::string& accessId, const std::map<std::string, std::string>& neSecClass,
                                const std::string& token);

  // ---- registry
  static void setAuditName(unsigned itemType, const std::string& name);
  static std::vector<CFMAuditEntry> getEntries();
  static size_t getEntryCount();
  static void clearEntries();
  static size_t getCapacity();
  static void setCapacity(size_t capacity);  // 0 keeps nothing
};

}  // namespace Kyrofm

#endif
