// FMTaskMgr.h: worker pools, relative timers and task buffers of a
// fault-management process.
//
// A process hands asynchronous work (a callback and its argument, wrapped in a
// CFMAsynMsgPack) to the process-wide CFMTaskMgr, which runs it on one of two
// fixed pools: the general schedule "FM_CSchedule" (10 threads) and the ASN
// schedule "FMASN_CSchedule" (5 threads). Periodic and one-shot jobs
// (TimerTask) are fired by the relative-timer service on its own pool of
// threads ("/kyro/vela/timer/threadcount", 10 by default); its timers run on
// the monotonic clock, so changing the wall clock moves none of them.
//
// Lifecycle: CFMTaskMgr::Instance() builds the pools without starting a
// thread; StartAllTask() starts them; StopAllTask() stops the timers, then the
// general pool, then the ASN pool, each waited for; Destroy() frees the
// manager. Messages still queued when a pool stops are never run: they are
// deleted with the pool. A message put on a stopped pool is deleted at once.
//
// Ownership: a message pack belongs to the pool once put (also when the put
// fails); a TimerTask belongs to the timer service once added (its owning
// pointer is emptied) and is deleted when its timer is cancelled, ends or the
// service closes. The argument of an asynchronous task is never owned.
//
// Threads: every operation of CFMTaskMgr may be called from any thread; puts
// to the ASN pool and its queue status are serialised by the manager's mutex.
#ifndef FM_FMCOMMON_FMTASKMGR_H
#define FM_FMCOMMON_FMTASKMGR_H

#include <ace/Event_Handler.h>
#include <ace/RW_Thread_Mutex.h>
#include <ace/Task.h>
#include <ace/Thread_Manager.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fm_common/fmcommon/FMLock.h"

class ACE_Reactor;

namespace Kyrofm {

enum FMTaskStatus { FM_TASK_RUNNING = 1, FM_TASK_STOPPING = 2, FM_TASK_STOPPED = 3 };

// Message types of a pack.
constexpr int FM_MSG_ASYN_TASK = 2;
constexpr int FM_MSG_STOP = 3;

// A message for a pool; owned by the pool once put.
class CFMMsgPack {
 public:
  explicit CFMMsgPack(int type = FM_MSG_STOP) : m_iMsgType(type) {}
  virtual ~CFMMsgPack() = default;
  int getMsgType() const { return m_iMsgType; }
  void setMsgType(int type) { m_iMsgType = type; }

 private:
  int m_iMsgType;
};

// An asynchronous task: the pool calls callback(arg) once. arg is not owned.
class CFMAsynMsgPack : public CFMMsgPack {
 public:
  typedef void (*Callback)(void*);
  CFMAsynMsgPack(Callback callback, void* arg) : CFMMsgPack(FM_MSG_ASYN_TASK), m_pCallback(callback), m_pArg(arg) {}
  void run() const {
    if (m_pCallback != nullptr) m_pCallback(m_pArg);
  }

 private:
  Callback m_pCallback;
  void* m_pArg;
};

// A pool of threads over ACE's message queue with an orderly stop: the last
// thread to leave sets the status to stopped, which ExitAllThread waits for.
class FMTask : public ACE_Task<ACE_MT_SYNCH> {
 public:
  FMTask();
  FMTask(const std::string& name, int threadNum);
  ~FMTask() override;

  // Starts GetThreadNum() threads running svc. 0, or -1 when they could not start.
  int open(void* args = nullptr) override;
  int svc() override { return 0; }
  // Stops the pool's threads (the base sets the status to stopping).
  virtual int Terminate();
  // Terminate, then waits until the last thread has left. Returns 0.
  virtual int ExitAllThread();
  // Called by each thread as it leaves (ACE's thread-exit hook).
  int close(u_long flags = 0) override;

  void SetThreadNum(int num);
  int GetThreadNum();
  void SetStatusGuard(FMTaskStatus status);
  FMTaskStatus GetStatusGuard();
  void SetTaskName(const std::string& name) { m_strTaskName = name; }
  void SetTaskName(const char* name) { m_strTaskName = name != nullptr ? name : ""; }
  const std::string& GetTaskName() const { return m_strTaskName; }

 private:
  int m_iThreadNum = 1;
  Lock m_threadNumLock{"FMTask_ThreadNumLock"};
  std::string m_strTaskName;
  FMTaskStatus m_eStatus = FM_TASK_STOPPED;
  Lock m_statusLock{"FMTask_StatusLock"};
  Condition m_statusCond{m_statusLock};
};

// A pool that runs the packs put on its queue.
class CSchedule : public FMTask {
 public:
  CSchedule(const std::string& name, int threadNum) : FMTask(name, threadNum) {}
  // Stops the threads, then deletes every pack still queued (never run).
  ~CSchedule() override;
  int svc() override;
  // Clears the running flag and deactivates the queue: every waiting worker
  // wakes and leaves.
  int Terminate() override;

 private:
  void handleMsg(ACE_Message_Block* block);
  void dropQueued();
  std::atomic<bool> m_bRunning{true};
};

// A job fired by the relative-timer service; run's result below 0 ends a
// periodic timer.
class TimerTask {
 public:
  explicit TimerTask(const std::string& name = "") : m_strName(name) {}
  TimerTask(const TimerTask&) = default;
  TimerTask& operator=(const TimerTask&) = default;
  virtual ~TimerTask() = default;
  virtual int run(int timerId) {
    (void)timerId;
    return 0;
  }
  const std::string& name() const { return m_strName; }
  int getTimerId() const { return m_iTimerId; }
  void setTimerId(int id) { m_iTimerId = id; }

 private:
  std::string m_strName;
  int m_iTimerId = 0;
};

// Relative timers on a pool of threads running a thread-pool reactor whose
// timer queue reads the monotonic clock.
class CRelativeTimerTaskMgr : public ACE_Task<ACE_MT_SYNCH> {
 public:
  explicit CRelativeTimerTaskMgr(int threadNum);
  ~CRelativeTimerTaskMgr() override;

  // Starts the threads. 0, or -1 without a reactor or when they could not start.
  int open(void* args = nullptr) override;
  // Runs the reactor's event loop; -1 without a reactor.
  int svc() override;
  // Ends the event loop, waits for the threads and deletes the reactor with
  // every timer still scheduled (and its task). Only the first call does
  // anything; a thread of the pool leaving calls it harmlessly.
  int close(u_long flags = 0) override;

  // Takes ownership of `task` (emptied) and schedules it after `delay`, then
  // every `interval` (zero: once). The timer id, or -1 (the task then is
  // deleted; without a reactor it stays the caller's).
  long addTimer(const ACE_Time_Value& delay, const ACE_Time_Value& interval, std::unique_ptr<TimerTask>& task,
                const void* arg = nullptr);
  // 0 when exactly one timer was cancelled (its task is deleted), else -1.
  int cancelTimer(long timerId);

  int getThreadNum() const { return m_iThreadNum; }

 private:
  ACE_Thread_Manager m_threadMgr;
  ACE_Reactor* m_pReactor = nullptr;
  void* m_pTimerQueue = nullptr;  // the reactor's timer heap, deleted after it
  int m_iThreadNum;
  std::atomic<bool> m_bOpened{false};
  std::atomic<bool> m_bClosed{false};
  ACE_Thread_Mutex m_closeMutex;
};

// A worker that calls DoWork until it is told to stop or the service stops.
class CThreadTask : public ACE_Task<ACE_MT_SYNCH> {
 public:
  explicit CThreadTask(const std::string& name = "CThreadTask", long threadNum = 1);
  ~CThreadTask() override = default;

  int open(void* args = nullptr) override;
  int svc() override;
  // Status := stopping, then OnStop.
  virtual int Terminate();
  // Terminate, then waits for the threads.
  virtual int finalize();

  void SetThreadNum(long num) { m_lThreadNum = num; }
  long GetThreadNum() const { return m_lThreadNum; }
  void SetTaskName(const std::string& name) { m_strTaskName = name; }
  const std::string& GetTaskName() const { return m_strTaskName; }
  void SetStatusGuard(FMTaskStatus status) { m_eStatus.store(status); }
  FMTaskStatus GetStatusGuard() const { return m_eStatus.load(); }

 protected:
  virtual void DoWork() = 0;
  virtual void OnStop() = 0;

 private:
  std::string m_strTaskName;
  long m_lThreadNum;
  std::atomic<FMTaskStatus> m_eStatus{FM_TASK_STOPPED};
};

class CFMTaskMgr {
 public:
  static constexpr const char* TIMER_THREAD_COUNT_PATH = "/kyro/vela/timer/threadcount";
  static constexpr int DEFAULT_TIMER_THREADS = 10;

  static CFMTaskMgr* Instance();
  static void Destroy();

  // Opens the timer service, the general and the ASN pool. 33000.
  int StartAllTask();
  // Closes the timer service, then stops the general and the ASN pool, each
  // waited for. 33000.
  int StopAllTask();

  // Puts the pack (owned from now on) on the general / ASN pool: 33000, or
  // 33002 without the pool. A pack of an unknown type is logged, not queued,
  // and stays the caller's. A full queue blocks the caller until a worker
  // takes a message or the pool stops.
  int PutMsg(CFMMsgPack* pack);
  int PutAsnMsg(CFMMsgPack* pack);
  // 0: the ASN queue is empty, 1: it holds 1 to 5 messages, 2: more.
  int GetAsnMsgBuffStatus();

  // Hands the task (emptied) to the timer service: delay and interval in
  // seconds, interval 0 for a one-shot timer. The timer id, -1 on failure.
  long RegisteTimerTask(std::unique_ptr<TimerTask>& task, long delay, long interval);
  // Cancels the timer. Always 33000.
  int UnRegisteTimerTask(long timerId);

  CRelativeTimerTaskMgr* getTimerMgr() { return m_pTimerMgr.get(); }
  CSchedule* getSchedule() { return m_pSchedule.get(); }
  CSchedule* getAsnSchedule() { return m_pAsnSchedule.get(); }

  CFMTaskMgr(const CFMTaskMgr&) = delete;
  CFMTaskMgr& operator=(const CFMTaskMgr&) = delete;

 private:
  CFMTaskMgr();
  ~CFMTaskMgr();
  int PutMsgCommon(CSchedule* schedule, CFMMsgPack* pack);

  std::unique_ptr<CSchedule> m_pSchedule;
  ACE_Thread_Mutex m_mutex;
  std::unique_ptr<CSchedule> m_pAsnSchedule;
  std::unique_ptr<CRelativeTimerTaskMgr> m_pTimerMgr;

  static std::atomic<CFMTaskMgr*> m_pInstance;
  static ACE_Thread_Mutex m_instanceMutex;
};

// A buffer that reports how many items it holds.
class XRFMTaskBufferBase {
 public:
  virtual ~XRFMTaskBufferBase() = default;
  virtual long getItemCount() = 0;
};

struct FMTaskBufVector {
  std::string name;
  XRFMTaskBufferBase* buffer = nullptr;  // not owned
  uint16_t index = 0;
};

// Registry of named task buffers.
class CFMTaskBufMgr {
 public:
  static CFMTaskBufMgr* instance();
  static void destroy();

  // Appends the entry; its index is the entry count after the append (1 first).
  uint16_t Registe(const std::string& name, XRFMTaskBufferBase* buffer);
  // Removes the first entry with that name.
  void unRegiste(const std::string& name);
  uint16_t GetBuffNum();
  // By zero-based position; "" / 0 out of range.
  std::string GetBuffName(uint16_t pos);
  long GetBuffSize(uint16_t pos);
  // Sum of the item counts of every entry with a buffer.
  long GetAllTaskBuffSize();
  void GetTaskBuffInfo(std::vector<FMTaskBufVector>& out);

 private:
  CFMTaskBufMgr() = default;
  ACE_RW_Thread_Mutex m_rwMutex;
  std::vector<FMTaskBufVector> m_entries;
  static std::atomic<CFMTaskBufMgr*> m_pInstance;
  static ACE_Thread_Mutex m_instanceMutex;
};

}  // namespace Kyrofm

#endif
