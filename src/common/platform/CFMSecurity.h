// CFMSecurity.h: the platform's security service (CFMCallSMImpl) and
// equipment service (CFMCallEAMImpl), as far as the rights checks of
// managed objects use them.
//
// Both are other processes on a real server; here they are in-process
// registries that the host process (or a test) fills with the setters.
// The security service knows each user by session token: whether the user is
// in the super-user group, the NEs of the user's management domain, and the
// operations (access ids) granted per security class. The equipment service
// knows the security class of each NE; whether an NE exists with its zone
// information is the NE configuration service's (EAMUtil2DB).
//
// Ownership and threads: process-wide state behind one mutex per service;
// every operation may be called from any thread. Each service counts the
// requests it answered, so that callers' tests can see who was asked.
#ifndef FM_PLATFORM_CFMSECURITY_H
#define FM_PLATFORM_CFMSECURITY_H

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Kyrofm {

constexpr long SM_SERVICE_UNAVAILABLE = 33901;  // the security service cannot be reached
constexpr long EAM_NE_NOT_EXIST = 10113;        // the equipment database does not know the NE

struct SMUser_t {
  std::string strUserName;
  bool bSuperUser = false;
  std::set<std::string> domain;                              // NE FDNs of the management domain
  std::set<std::pair<std::string, std::string>> grants;      // (access id, security class)
};

class CFMCallSMImpl {
 public:
  // 33000 when the token's user is a super user, 33002 when not (or unknown),
  // 33901 when the service is unavailable.
  static long isSuperUser(const std::string& token);
  // Whether the domain of the token's user covers every FDN: 33000 with
  // `refused` holding those it does not cover (all of them for an unknown
  // token), or 33901.
  static long checkMODomain(const std::string& token, const std::set<std::string>& fdns,
                            std::vector<std::string>& refused);
  // 33000 when accessId is granted on secClass to the token's user, 33101
  // when not, 33901 when the service is unavailable.
  static long checkOperation(const std::string& token, const std::string& accessId, const std::string& secClass);

  static void setUser(const std::string& token, const SMUser_t& user);
  static void removeUser(const std::string& token);
  static void setAvailable(bool available);
  static void clear();  // no users, available, request count 0
  static size_t requestCount();
};

class CFMCallEAMImpl {
 public:
  // 33000 and the NE's security class (empty for an unknown NE), or 33901
  // when the service is unavailable.
  static long getSecClass(const std::string& neFdn, std::string& secClass);
  // One request for many NEs: the known ones are entered in `out`.
  static long batchGetSecClass(const std::vector<std::string>& neFdns, std::map<std::string, std::string>& out);
  // 33000 when the NE configuration knows the NE with its zone information,
  // else 10113.
  static long checkNEExist(const std::string& neFdn);

  static void setSecClass(const std::string& neFdn, const std::string& secClass);
  static void setAvailable(bool available);
  static void clear();
  static size_t requestCount();
};

}  // namespace Kyrofm

#endif
