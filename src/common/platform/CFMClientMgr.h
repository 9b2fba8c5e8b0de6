// CFMClientMgr.h: the registry of the fault-management clients' users as the
// library's filters see it: per user id, the managed objects the user may see
// and the name of the user's right table in the database.
//
// A user's managed objects come in two forms that the host keeps in step:
// their FDNs (the entry "*" alone stands for every object) and their ids in
// tbl_fdn_mgr (the id of "*" stands for every object). The right table is a
// table with one column MOid listing the same ids (its DDL:
// CFMDBSchema::rightTableDdl); SQL conditions select "NEFDNId in (select MOid
// from <right table>)".
//
// The real registry lives in the client-session service of another process;
// here it is an in-process registry that the host process (or a test) fills
// with the setters. Sets are copied in and out.
//
// Ownership and threads: one process-wide object (instance/destroy); every
// other operation may be called from any thread.
#ifndef FM_PLATFORM_CFMCLIENTMGR_H
#define FM_PLATFORM_CFMCLIENTMGR_H

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

namespace Kyrofm {

class CFMClientMgr {
 public:
  static CFMClientMgr* instance();
  static void destroy();

  // `fdns` (`ids`) becomes the FDNs (ids) of the user's managed objects:
  // 33000, or 33002 with the set emptied when nothing was set for the user.
  long getManagerMO(long userId, std::set<std::string>& fdns) const;
  long getManagerMO(long userId, std::set<long>& ids) const;
  // The name of the user's right table; empty when none was set.
  std::string getTableName(long userId) const;

  void setManagerMO(long userId, const std::set<std::string>& fdns);
  void setManagerMO(long userId, const std::set<long>& ids);
  void setTableName(long userId, const std::string& table);
  // Forgets one user, or every user.
  void removeUser(long userId);
  void clear();

  CFMClientMgr(const CFMClientMgr&) = delete;
  CFMClientMgr& operator=(const CFMClientMgr&) = delete;
  ~CFMClientMgr() = default;

 private:
  struct UserEntry {
    bool hasFdns = false;
    bool hasIds = false;
    std::set<std::string> fdns;
    std::set<long> ids;
    std::string rightTable;
  };

  CFMClientMgr() = default;

  static std::atomic<CFMClientMgr*> m_pInstance;
  static std::mutex m_mtxInstance;

  mutable std::shared_mutex m_mutex;
  std::map<long, UserEntry> m_users;
};

}  // namespace Kyrofm

#endif
