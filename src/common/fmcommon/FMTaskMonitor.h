// FMTaskMonitor.h: the process-wide register of named units of work running now.
//
// Code that starts a long or important job calls `start` with the job's name
// and `end` when it finishes; the monitor logs both with times and thread ids,
// logs the elapsed seconds at the end, and lets a diagnostic caller list what
// is running (`get_task_info`). It only records and reports; it never
// interrupts a task. A task is identified by (name, thread id): one name may
// run on several threads at once, but not twice on one thread.
//
// Ownership: the monitor owns its records; `end` deletes the record of the
// task it ends. The singleton lives from the first `instance()` to `destroy()`.
//
// Threads: every operation may be called from any thread; all of them hold the
// monitor mutex while they touch the list.
#ifndef FM_FMCOMMON_FMTASKMONITOR_H
#define FM_FMCOMMON_FMTASKMONITOR_H

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace Kyrofm {

// One running task.
struct Task_Item_t {
  std::string name;
  int64_t start_time = 0;  // seconds since 1970 UTC
  uint32_t thread_id = 0;  // operating-system id of the thread that started it
};

class Task_Monitor {
 public:
  static Task_Monitor* instance();
  // Deletes the monitor and every record still in it.
  static void destroy();
  virtual ~Task_Monitor();

  // Records `name` as running on the calling thread and logs the start. A
  // second start of a name already running on this thread is logged and
  // ignored. `info` and `num` (for example the caller's file and line) are not
  // used.
  void start(const std::string& name, const char* info = nullptr, int num = 0);
  // Ends the calling thread's task `name`: logs the end with the whole seconds
  // it ran and deletes its record. An end without a start is logged and
  // ignored.
  void end(const std::string& name, const char* info = nullptr, int num = 0);
  // Replaces `out` with the records of the running tasks in start order. The
  // pointers stay valid only while those tasks run: `end` deletes the record,
  // so copy what you need at once.
  void get_task_info(std::vector<Task_Item_t*>& out);

  Task_Monitor(const Task_Monitor&) = delete;
  Task_Monitor& operator=(const Task_Monitor&) = delete;

 private:
  struct Record;
  using RecordList = std::list<std::unique_ptr<Record>>;

  Task_Monitor();
  // The calling thread's record of `name`, or the end of the list.
  RecordList::iterator find_task(const std::string& name);

  ACE_Thread_Mutex m_mutex;
  RecordList m_tasks;  // in start order

  static std::atomic<Task_Monitor*> _instance;
  static ACE_Thread_Mutex m_dmtx;
};

}  // namespace Kyrofm

#endif
