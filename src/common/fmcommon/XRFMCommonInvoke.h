// XRFMCommonInvoke.h: routing of named remote operations.
//
// A fault-management process offers many small remote operations through one
// generic CORBA entry point. Each operation is a member function of a service
// (a class derived from XRFMCommonInvokeService) registered under a method
// name; the dispatcher finds it by its full name "<service>.<method>" and
// calls it with the caller's identity (ITOpInfo) and the input parameters, and
// the function allocates the output parameters (CorbaCommParam).
//
// Ownership: a service owns its method entries; the dispatcher owns the
// services registered with it (and so, through them, every entry its method
// map points to). Destroying the dispatcher deletes every registered service.
//
// Threads: a service is built and its methods added by one thread before it
// is registered; afterwards it is not changed. registerService and invoke may
// be called from any thread at the same time (a reader/writer lock guards the
// maps); invoke runs the operation without holding the lock's write side, so
// operations of many callers run concurrently and must be thread-safe
// themselves.
#ifndef FM_FMCOMMON_XRFMCOMMONINVOKE_H
#define FM_FMCOMMON_XRFMCOMMONINVOKE_H

#include <list>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <type_traits>

#include "fm_common/idl/KyroAlarmSeq.hh"

namespace Kyrofm {

using CorbaCommParam = KyroAlarm::CorbaCommParam;
using ITOpInfo = KyroAlarm::ITOpInfo;

// Result of invoke for a full name that no registered service offers.
constexpr long FM_METHOD_NOT_FOUND = 33900;

class XRFMCommonInvokeService;

// One registered operation. The function receives the caller's identity, the
// input parameters and an out-reference through which it hands back output
// parameters it allocated with new (the caller of invoke deletes them).
struct RpcMethodEntry {
  using MethodFunc = long (XRFMCommonInvokeService::*)(const ITOpInfo& opInfo, const CorbaCommParam& in,
                                                        CorbaCommParam*& out);
  XRFMCommonInvokeService* m_pService = nullptr;  // not owned: the service owns the entry
  std::string m_strFullName;                      // "<service>.<method>"
  MethodFunc m_pFunc = nullptr;
};

// Base class of a group of operations. Derived classes add their member
// functions in their constructor:
//   addMethod("query", &AlarmService::query);
class XRFMCommonInvokeService {
 public:
  explicit XRFMCommonInvokeService(std::string name) : m_strName(std::move(name)) {}
  // Deletes the method entries.
  virtual ~XRFMCommonInvokeService();
  XRFMCommonInvokeService(const XRFMCommonInvokeService&) = delete;
  XRFMCommonInvokeService& operator=(const XRFMCommonInvokeService&) = delete;

  const std::string& getName() const { return m_strName; }

  // Appends an entry "<name>.<methodName>" that calls `func` on this service.
  void addMethod(const std::string& methodName, RpcMethodEntry::MethodFunc func);
  // The same for a member function of a derived class; `this` must be a T.
  template <typename T>
  void addMethod(const std::string& methodName,
                 long (T::*func)(const ITOpInfo&, const CorbaCommParam&, CorbaCommParam*&)) {
    static_assert(std::is_base_of<XRFMCommonInvokeService, T>::value, "a service's own member function");
    addMethod(methodName, static_cast<RpcMethodEntry::MethodFunc>(func));
  }

  // The entries in the order they were added.
  const std::list<std::unique_ptr<RpcMethodEntry>>& getMethodSeq() const { return m_lstMethods; }

 private:
  std::string m_strName;
  std::list<std::unique_ptr<RpcMethodEntry>> m_lstMethods;
};

class XRFMCommonInvokeDispatcher {
 public:
  XRFMCommonInvokeDispatcher() = default;
  // Deletes every registered service (and with them their entries).
  ~XRFMCommonInvokeDispatcher();
  XRFMCommonInvokeDispatcher(const XRFMCommonInvokeDispatcher&) = delete;
  XRFMCommonInvokeDispatcher& operator=(const XRFMCommonInvokeDispatcher&) = delete;

  // Takes ownership of `service` in every case, files it under its name and
  // each of its entries under its full name. 33000; 33021 (logged; the service
  // is deleted, nothing is filed) for a null service, a service name already
  // registered or a full method name already filed (two entries of one
  // service included).
  long registerService(XRFMCommonInvokeService* service);

  // Calls the operation filed under `fullName` with (opInfo, in, out) and
  // returns 33000. For a name that is not filed: `out` = a new empty
  // CorbaCommParam and 33900; 33011 (errno ENOMEM) when that allocation
  // fails. An operation that throws gives 33002 (logged); an operation that
  // leaves `out` null gets an empty one, so a 33000 or 33002 answer always
  // carries output. Whatever `out` held before is overwritten, not freed.
  long invoke(const ITOpInfo& opInfo, const std::string& fullName, const CorbaCommParam& in, CorbaCommParam*& out);

  // Number of registered services and filed entries.
  size_t serviceCount() const;
  size_t methodCount() const;

 private:
  mutable std::shared_mutex m_mutex;
  std::map<std::string, std::unique_ptr<XRFMCommonInvokeService>> m_mapServices;  // owned
  std::map<std::string, RpcMethodEntry*> m_mapMethods;                            // owned by the services
};

}  // namespace Kyrofm

#endif
