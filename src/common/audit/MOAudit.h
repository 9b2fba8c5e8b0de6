// MOAudit.h: rights checks of managed objects before an operation touches
// network elements.
//
// Whether rights are checked at all is the service setting
// "isAuthenticationMO", read once by CMOAuditMgr, which then hands out one
// strategy: CMOAuditCheck (ask the security and equipment services and the
// audit facade) or CMOAuditNocheck (allow everything). CMOAuditBase adds the
// checks of a list of objects built on the strategy's single and batch forms,
// and static checks of a client's management domain.
//
// Rules kept on every entry point, so that no object escapes the check:
//  - the single and batch forms give the same answer for the same user and
//    object: both allow the root FDN (the OMC itself), empty names and super
//    users, and both deny an NE whose security class is unknown;
//  - CheckUserMORight checks an object below an NE through its NE, and an NE
//    that the NE configuration does not know is still checked against the
//    domain: neither is skipped.
//
// Ownership and threads: CMOAuditMgr owns its strategy (instance/destroy);
// the strategies hold no state besides their flag and may be used from any
// thread.
#ifndef FM_AUDIT_MOAUDIT_H
#define FM_AUDIT_MOAUDIT_H

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace Kyrofm {

// A client session: the user's name and the token the security service knows.
struct FMClient_t {
  std::string strUserName;
  std::string strToken;
};

class CMOAuditBase {
 public:
  static constexpr size_t BATCH_CHUNK = 1000;

  explicit CMOAuditBase(bool check) : m_bCheck(check) {}
  virtual ~CMOAuditBase() = default;

  // May the token's user perform accessId on the NE?
  virtual bool hasMOOperationRight(const std::string& neFdn, const std::string& accessId,
                                   const std::string& token) = 0;
  // accessId on every object (object identifiers), one by one; the first
  // refusal denies.
  virtual bool checkSomeMORight(const std::string& accessId, const std::string& token,
                                const std::vector<std::string>& oidList);
  // accessIdBoth on the objects of both lists, accessIdA on those only in
  // listA, accessIdB on those only in listB.
  virtual bool checkAllMORight(const std::string& accessIdA, const std::string& accessIdB,
                               const std::string& accessIdBoth, const std::string& token,
                               const std::vector<std::string>& listB, const std::vector<std::string>& listA);
  // accessId on every NE of the list (empty names and the root FDN are
  // removed from it), in chunks of BATCH_CHUNK.
  virtual bool batchHasMOOperationRight(std::vector<std::string>& neList, const std::string& accessId,
                                        const std::string& token) = 0;

  // checkSomeMORight through the batch form, on the sorted distinct FDNs.
  bool batchCheckSomeMORight(const std::string& accessId, const std::string& token,
                             const std::vector<std::string>& oidList);
  // checkAllMORight through batchCheckSomeMORight; empty groups are skipped.
  bool batchCheckAllMORight(const std::string& accessIdA, const std::string& accessIdB,
                            const std::string& accessIdBoth, const std::string& token,
                            const std::vector<std::string>& listB, const std::vector<std::string>& listA);

  bool isCheck() const { return m_bCheck; }

  // True when the FDN names an object below an NE (contains the splitter).
  static bool isMoDN(const std::string& fdn, char splitter);
  // The NE part of an FDN: before the first splitter, or the whole FDN.
  static std::string GetNednbyMOdn(const std::string& fdn, char splitter);
  // 33000 when the client's user is a super user, 33002 when not, the
  // security service's failure code otherwise.
  static long NoNeedCheckUserMORight(const FMClient_t& client);
  // Whether the client's management domain covers every object: 33000, or
  // 33101 (refused, empty list, all NEs asked by a common user), or the
  // security service's failure code when checkSuperUser asked it.
  static long CheckUserMORight(const FMClient_t& client, bool allNe, const std::vector<std::string>& oidList,
                               bool checkNeExists, bool checkSuperUser);
  static long CheckUserMORight(const FMClient_t& client, const std::string& oid, bool checkNeExists,
                               bool checkSuperUser);

 protected:
  static bool isSuperUser(const std::string& token);

 private:
  bool m_bCheck;
};

class CMOAuditCheck : public CMOAuditBase {
 public:
  CMOAuditCheck() : CMOAuditBase(true) {}
  bool hasMOOperationRight(const std::string& neFdn, const std::string& accessId,
                           const std::string& token) override;
  bool batchHasMOOperationRight(std::vector<std::string>& neList, const std::string& accessId,
                                const std::string& token) override;

 private:
  bool batchMOAudit(const std::vector<std::string>& chunk, const std::string& accessId, const std::string& token);
};

class CMOAuditNocheck : public CMOAuditBase {
 public:
  CMOAuditNocheck() : CMOAuditBase(false) {}
  bool hasMOOperationRight(const std::string& neFdn, const std::string& accessId,
                           const std::string& token) override;
  bool batchHasMOOperationRight(std::vector<std::string>& neList, const std::string& accessId,
                                const std::string& token) override;
  // Filters of alarm ids by right: without checks they change nothing.
  virtual void filterListIdByMORight(std::vector<long>& ids, const std::string& accessId, const std::string& token);
  virtual void filterLogIdByMORight(std::vector<long>& ids, const std::string& accessId, const std::string& token);
};

class CMOAuditMgr {
 public:
  static CMOAuditMgr* instance();
  static void destroy();

  CMOAuditBase* getMoAudit() { return m_pAudit; }
  bool isMOAudit() const { return m_bMOAudit; }

  CMOAuditMgr(const CMOAuditMgr&) = delete;
  CMOAuditMgr& operator=(const CMOAuditMgr&) = delete;

 private:
  CMOAuditMgr() = default;
  ~CMOAuditMgr();
  void initialize();

  CMOAuditBase* m_pAudit = nullptr;
  bool m_bMOAudit = false;
  static std::atomic<CMOAuditMgr*> m_pInstance;
  static std::mutex m_mtxInstance;
};

}  // namespace Kyrofm

#endif
