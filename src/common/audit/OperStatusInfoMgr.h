// OperStatusInfoMgr.h: exclusive operation categories.
//
// Operations that change shared configuration (the alarm knowledge base, alarm
// level redefinitions, alarm shield rules, northbound filter rules, NE alarm
// synchronisation) must not run twice at once. Each belongs to a category; a
// caller takes the category before it starts (getStatus), and gives it back
// when it ends (setStatusIdle). A category taken by one caller answers every
// other caller with the category's busy code until it is given back. Waiting
// for a category polls once a second and gives up when the service flag says
// the service is stopping.
//
// A category is busy exactly while it is in the map; giving it back forgets
// it. Taking and giving back are not tied to a thread: whoever holds the
// category gives it back.
//
// Thread safety: all operations are static and may be called from any thread;
// the map is guarded by one mutex, never held while waiting.
#ifndef FM_AUDIT_OPERSTATUSINFOMGR_H
#define FM_AUDIT_OPERSTATUSINFOMGR_H

#include <ace/Thread_Mutex.h>

#include <map>

namespace Kyrofm {

// Operation categories.
constexpr int OPER_CATEGORY_ALARM_KNOWLG = 1;
constexpr int OPER_CATEGORY_REDEFINE = 104;
constexpr int OPER_CATEGORY_ALARM_FILTER = 204;
constexpr int OPER_CATEGORY_ALARM_SYNCHRONIZE = 401;
constexpr int OPER_CATEGORY_NB_FILTER = 604;

// Busy codes of the categories.
constexpr long FM_BUSY_ALARM_KNOWLG = 33990;
constexpr long FM_BUSY_REDEFINE = 33991;
constexpr long FM_BUSY_ALARM_FILTER = 33992;
constexpr long FM_BUSY_ALARM_SYNCHRONIZE = 33997;
constexpr long FM_BUSY_NB_FILTER = 33552;

class COperStatusInfoMgr {
 public:
  static constexpr int STATUS_BUSY = 1;
  static constexpr int STATUS_IDLE = 2;

  // Takes the category: 33000 when the caller now holds it, busyCode when
  // somebody else does.
  static long getStatus(int category, long busyCode);
  // Gives the category back (forgets it); a category not held is left alone.
  static void setStatusIdle(int category);
  // Waits until the category is free, polling once a second, at most maxTries
  // retries (-1: no limit), and leaves it free: 33000, or 33002 when the tries
  // ran out or the service is stopping.
  static long waitStatusIdle(int category, int maxTries);
  // Waits without limit until the caller holds the category: 33000, or 33002
  // when the service is stopping.
  static long waitStatusIdleAndSetBusy(int category);

 private:
  static long waitLoop(int category, int maxTries, bool keep);

  static std::map<int, int> _OperStatusMap;
  static ACE_Thread_Mutex _StatusMapLock;
};

}  // namespace Kyrofm

#endif
