// CUserIDMaintain.h: the platform's user directory as the fault-management
// library uses it: the numeric id of a user, known by name within a security
// domain (the library asks in the domain "SM_ROOT").
//
// The real directory belongs to the security service in another process; here
// it is an in-process registry that the host process (or a test) fills with
// SetUserID. Ids are positive; 0 means "no such user".
//
// Thread safety: every operation may be called from any thread; readers share
// a lock, setters take it exclusively.
#ifndef FM_PLATFORM_CUSERIDMAINTAIN_H
#define FM_PLATFORM_CUSERIDMAINTAIN_H

#include <cstddef>
#include <string>

namespace Kyrofm {

class CUserIDMaintain {
 public:
  // The id of user `name` in `domain`; 0 when the user is not registered.
  static long GetUserID(const std::string& name, const std::string& domain);

  // The name of the user with `id` in `domain` ("" when none; a linear
  // search, the directory holds the service's operators only).
  static std::string GetUserName(long id, const std::string& domain);

  // Registers (or re-registers) the user: 33000, or 33021 for an empty name or
  // domain or an id that is not positive (nothing is changed then).
  static long SetUserID(const std::string& name, const std::string& domain, long id);
  // Forgets the user; false when it was not registered.
  static bool RemoveUser(const std::string& name, const std::string& domain);
  // Forgets every user.
  static void Clear();
  static std::size_t Count();
};

// The user service as the service processes reach it: present once the
// process is connected to the security service (here: from the start); a
// host that runs without it sets the pointer to null, and callers that need
// user names then log and leave them out.
extern CUserIDMaintain* g_UserMaintain;

}  // namespace Kyrofm

#endif
