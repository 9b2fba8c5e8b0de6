// FMTaskMgr.cpp: worker pools, relative timers and task buffers.
#include "fm_common/fmcommon/FMTaskMgr.h"

#include <ace/High_Res_Timer.h>
#include <ace/Message_Block.h>
#include <ace/OS_NS_errno.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Reactor.h>
#include <ace/TP_Reactor.h>
#include <ace/Timer_Heap.h>

#include <mutex>

#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroSetting.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {

namespace {

// Counters that pace the log lines of the pools (every 100th put or task).
std::atomic<unsigned long> g_putCount{0};
std::atomic<unsigned long> g_asynCount{0};

CFMMsgPack* packOf(ACE_Message_Block* block) {
  return block != nullptr ? reinterpret_cast<CFMMsgPack*>(block->base()) : nullptr;
}

int threadId() { return static_cast<int>(ACE_OS::thr_self()); }

// The timer service's thread that is running now, so that close() called by
// ACE as one of its threads leaves does not wait for itself.
thread_local const CRelativeTimerTaskMgr* t_timerThreadOf = nullptr;

// Wraps a TimerTask for the reactor; reference counted, so that the reactor
// deletes it (and the task) when its timer is cancelled or ends, never while
// it is running.
class TimerHandler : public ACE_Event_Handler {
 public:
  explicit TimerHandler(std::unique_ptr<TimerTask> task) : m_task(std::move(task)) {
    reference_counting_policy().value(ACE_Event_Handler::Reference_Counting_Policy::ENABLED);
  }
  // The thread-pool reactor re-arms an interval timer before this call, so
  // another of its threads may reach the next tick while this one runs: the
  // ticks of one timer run one at a time, and none runs after a run that
  // asked to end the timer (the reactor drops it only once this returns).
  int handle_timeout(const ACE_Time_Value&, const void*) override {
    std::lock_guard<std::mutex> runGuard(m_runMutex);
    if (m_bEnded) return -1;
    int id;
    {
      std::lock_guard<std::mutex> guard(m_idMutex);  // the id is set right after scheduling
      id = m_task->getTimerId();
    }
    m_bEnded = m_task->run(id) < 0;
    return m_bEnded ? -1 : 0;
  }
  void setTimerId(long id) {
    std::lock_guard<std::mutex> guard(m_idMutex);
    m_task->setTimerId(static_cast<int>(id));
  }
  std::mutex& idMutex() { return m_idMutex; }
  const std::string& name() const { return m_task->name(); }

  // The count itself lives here, not in ACE's base: the hand-over between the
  // thread that adds a timer and the reactor thread that ends it is then
  // visible to this library's own code (and to the thread checkers).
  Reference_Count add_reference() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  Reference_Count remove_reference() override {
    Reference_Count left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::unique_ptr<TimerTask> m_task;
  std::mutex m_idMutex;
  std::mutex m_runMutex;  // held while the task runs
  bool m_bEnded = false;  // a run returned a negative result; under m_runMutex
  std::atomic<Reference_Count> m_refs{1};
};

}  // namespace

// ---------------------------------------------------------------------------
// FMTask

FMTask::FMTask() = default;

FMTask::FMTask(const std::string& name, int threadNum) : m_iThreadNum(threadNum), m_strTaskName(name) {}

FMTask::~FMTask() = default;

int FMTask::open(void*) {
  int n = GetThreadNum();
  if (n <= 0) return -1;
  if (activate(THR_NEW_LWP | THR_JOINABLE, n) == -1) {
    FM_TRACE(5, "FMTask::open, activate failed, task name:%s, errno:%d", m_strTaskName.c_str(), ACE_OS::last_error());
    return -1;
  }
  return 0;
}

int FMTask::Terminate() {
  Lock_Guard guard(m_statusLock);
  if (m_eStatus != FM_TASK_STOPPED) m_eStatus = FM_TASK_STOPPING;
  return 0;
}

int FMTask::ExitAllThread() {
  Terminate();
  Lock_Guard guard(m_statusLock);
  while (m_eStatus != FM_TASK_STOPPED) {
    FM_TRACE(3, "FMTask::ExitAllThread, thread not exit, wait...");
    m_statusCond.wait();
    FM_TRACE(3, "FMTask::ExitAllThread, thread exit");
  }
  return 0;
}

int FMTask::close(u_long) {
  Lock_Guard guard(m_threadNumLock);
  FM_TRACE(2, "FMTask::close, task name:%s, thread id:%d, thread left num:%d", m_strTaskName.c_str(), threadId(),
           m_iThreadNum - 1);
  --m_iThreadNum;
  if (m_iThreadNum > 0) {
    Terminate();
  } else {
    SetStatusGuard(FM_TASK_STOPPED);
  }
  return 0;
}

void FMTask::SetThreadNum(int num) {
  Lock_Guard guard(m_threadNumLock);
  m_iThreadNum = num;
}

int FMTask::GetThreadNum() {
  Lock_Guard guard(m_threadNumLock);
  return m_iThreadNum;
}

void FMTask::SetStatusGuard(FMTaskStatus status) {
  Lock_Guard guard(m_statusLock);
  m_eStatus = status;
  if (status == FM_TASK_STOPPED) m_statusCond.signal();
}

FMTaskStatus FMTask::GetStatusGuard() {
  Lock_Guard guard(m_statusLock);
  return m_eStatus;
}

// ---------------------------------------------------------------------------
// CSchedule

CSchedule::~CSchedule() {
  m_bRunning = false;
  msg_queue()->deactivate();
  wait();
  dropQueued();
}

void CSchedule::dropQueued() {
  // The queue is deactivated: walk it directly and free every pack.
  ACE_Message_Block* block = nullptr;
  msg_queue()->activate();
  ACE_Time_Value now(0);
  while (msg_queue()->dequeue_head(block, &now) != -1) {
    delete packOf(block);
    block->release();
  }
  msg_queue()->deactivate();
}

int CSchedule::Terminate() {
  m_bRunning = false;
  msg_queue()->deactivate();
  return FMTask::Terminate();
}

int CSchedule::svc() {
  SetStatusGuard(FM_TASK_RUNNING);
  FM_TRACE(2, "CSchedule::svc, task name:%s, thread id:%d, thread number:%d", GetTaskName().c_str(), threadId(),
           GetThreadNum());
  while (m_bRunning) {
    ACE_Message_Block* block = nullptr;
    if (getq(block) != -1) {
      handleMsg(block);
      continue;
    }
    FM_TRACE(5, "CSchedule::svc, exit,ret code:%d", ACE_OS::last_error());
    if (!m_bRunning || msg_queue()->deactivated()) {
      msg_queue()->deactivate();
      break;
    }
  }
  return 0;
}

void CSchedule::handleMsg(ACE_Message_Block* block) {
  if (block == nullptr) {
    FM_TRACE(5, "CSchedule::handleMsg, pMB == NULL");
    return;
  }
  CFMMsgPack* pack = packOf(block);
  if (pack == nullptr) {
    FM_TRACE(5, "CSchedule::handleMsg, pTMsg == NULL");
    block->release();
    return;
  }
  switch (pack->getMsgType()) {
    case FM_MSG_ASYN_TASK: {
      auto* asyn = dynamic_cast<CFMAsynMsgPack*>(pack);
      if (asyn == nullptr) {
        FM_TRACE(5, "CSchedule::doAsynTask, pAsynPack == NULL");
        break;
      }
      asyn->run();
      unsigned long n = ++g_asynCount;
      if (n % 100 == 0)
        FM_TRACE(3, "CSchedule::doAsynTask, message_bytes:%d,message_length:%d,message_count:%d",
                 static_cast<int>(msg_queue()->message_bytes()), static_cast<int>(msg_queue()->message_length()),
                 static_cast<int>(msg_queue()->message_count()));
      break;
    }
    case FM_MSG_STOP:
      m_bRunning = false;
      break;
    default:
      FM_TRACE(5, "CSchedule::handleMsg, siMsgType error:%d", pack->getMsgType());
      break;
  }
  block->release();
  delete pack;
}

// ---------------------------------------------------------------------------
// CRelativeTimerTaskMgr

CRelativeTimerTaskMgr::CRelativeTimerTaskMgr(int threadNum)
    : m_threadMgr(0, 1, 1, 25000), m_iThreadNum(threadNum) {
  thr_mgr(&m_threadMgr);
  auto* queue = new ACE_Timer_Heap;
  // Relative timers: expiry times come from the monotonic high-resolution clock.
  queue->set_time_policy(&ACE_High_Res_Timer::gettimeofday_hr);
  m_pTimerQueue = queue;
  m_pReactor = new ACE_Reactor(new ACE_TP_Reactor(nullptr, queue), true);
}

CRelativeTimerTaskMgr::~CRelativeTimerTaskMgr() {
  close();
  m_threadMgr.close();
}

int CRelativeTimerTaskMgr::open(void*) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_closeMutex);
  if (m_pReactor == nullptr || m_bClosed) return -1;
  if (m_bOpened) return 0;
  if (activate(THR_NEW_LWP | THR_JOINABLE, m_iThreadNum) == -1) {
    FM_TRACE(5, "CRelativeTimerTaskMgr::open, activate failed, errno:%d", ACE_OS::last_error());
    return -1;
  }
  m_bOpened = true;
  return 0;
}

int CRelativeTimerTaskMgr::svc() {
  if (m_pReactor == nullptr) return -1;
  t_timerThreadOf = this;
  m_pReactor->run_reactor_event_loop();
  t_timerThreadOf = nullptr;
  return 0;
}

int CRelativeTimerTaskMgr::close(u_long) {
  if (t_timerThreadOf == this) return 0;  // one of our threads leaving
  ACE_Reactor* reactor;
  {
    ACE_Guard<ACE_Thread_Mutex> guard(m_closeMutex);
    if (m_bClosed) return 0;
    m_bClosed = true;
    m_bOpened = false;
    reactor = m_pReactor;
  }
  // Not under the mutex: a timer task that adds or cancels a timer while the
  // loop winds down must not block the threads waited for here.
  if (reactor != nullptr) {
    reactor->end_reactor_event_loop();
    wait();
  }
  ACE_Guard<ACE_Thread_Mutex> guard(m_closeMutex);
  delete m_pReactor;  // frees every timer still scheduled, and its task
  m_pReactor = nullptr;
  delete static_cast<ACE_Timer_Heap*>(m_pTimerQueue);
  m_pTimerQueue = nullptr;
  return 0;
}

long CRelativeTimerTaskMgr::addTimer(const ACE_Time_Value& delay, const ACE_Time_Value& interval,
                                     std::unique_ptr<TimerTask>& task, const void* arg) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_closeMutex);
  if (m_pReactor == nullptr || !task) return -1;
  auto* handler = new TimerHandler(std::move(task));
  long id;
  {
    // Held until the id is stored, so that a timer firing at once reads it.
    std::lock_guard<std::mutex> idGuard(handler->idMutex());
    id = m_pReactor->schedule_timer(handler, arg, delay, interval);
  }
  if (id != -1) handler->setTimerId(id);
  FM_TRACE(3, "CRelativeTimerTaskMgr::addTimer register timer:%s, timerid:%d", handler->name().c_str(),
           static_cast<int>(id));
  handler->remove_reference();  // the reactor holds the only reference now (none on failure: deleted)
  return id;
}

int CRelativeTimerTaskMgr::cancelTimer(long timerId) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_closeMutex);
  if (m_pReactor == nullptr) return -1;
  int n = m_pReactor->cancel_timer(timerId, nullptr, 1);
  FM_TRACE(3, "CRelativeTimerTaskMgr::cancelTimer cancel_timer timer id:%d", static_cast<int>(timerId));
  return n == 1 ? 0 : -1;
}

// ---------------------------------------------------------------------------
// CThreadTask

CThreadTask::CThreadTask(const std::string& name, long threadNum) : m_strTaskName(name), m_lThreadNum(threadNum) {}

int CThreadTask::open(void*) {
  if (m_lThreadNum <= 0) return -1;
  return activate(THR_NEW_LWP | THR_JOINABLE, static_cast<int>(m_lThreadNum)) == -1 ? -1 : 0;
}

int CThreadTask::svc() {
  ACE_OS::sleep(ACE_Time_Value(1));
  FM_TRACE(2, "CThreadTask::svc, task name:%s, thread id:%d, thread number:%d", m_strTaskName.c_str(), threadId(),
           static_cast<int>(m_lThreadNum));
  for (;;) {
    if (m_eStatus.load() == FM_TASK_STOPPING) {
      FM_TRACE(3, "CThreadTask::svc, exit thread, task name:%s, thread id:%d", m_strTaskName.c_str(), threadId());
      return 0;
    }
    if (Kyrofmdb::CFMServiceFlag::instance()->getServiceStatus() == Kyrofmdb::CFMServiceFlag::SERVICE_STOPPING) {
      FM_TRACE(5, "%s, the system is stopping!", "CThreadTask::svc");
      return 0;
    }
    DoWork();
  }
}

int CThreadTask::Terminate() {
  m_eStatus.store(FM_TASK_STOPPING);
  OnStop();
  return 0;
}

int CThreadTask::finalize() {
  Terminate();
  return wait();
}

// ---------------------------------------------------------------------------
// CFMTaskMgr

std::atomic<CFMTaskMgr*> CFMTaskMgr::m_pInstance{nullptr};
ACE_Thread_Mutex CFMTaskMgr::m_instanceMutex;

CFMTaskMgr* CFMTaskMgr::Instance() {
  CFMTaskMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CFMTaskMgr;
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CFMTaskMgr::Destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
  delete m_pInstance.exchange(nullptr);
  FM_TRACE(5, "CFMTaskMgr::Destroy, fmtaskmgr destroyed!");
}

CFMTaskMgr::CFMTaskMgr() {
  long count = 0;
  int threads = DEFAULT_TIMER_THREADS;
  if (Setting::instance()->getParamValue(TIMER_THREAD_COUNT_PATH, count) != 0) {
    FM_TRACE(3, "CFMTaskMgr::CFMTaskMgr, getParamValue FM_TIMER_THREAD_COUNT_PATH failed, use default instead!");
  } else {
    FM_TRACE(3, "CFMTaskMgr::CFMTaskMgr, getParamValue FM_TIMER_THREAD_COUNT_PATH value:%d", static_cast<int>(count));
    // A bound keeps a mistyped value from asking for millions of threads.
    if (count > 0 && count <= 1000) threads = static_cast<int>(count);
  }
  m_pTimerMgr.reset(new CRelativeTimerTaskMgr(threads));
  m_pSchedule.reset(new CSchedule("FM_CSchedule", 10));
  m_pAsnSchedule.reset(new CSchedule("FMASN_CSchedule", 5));
}

CFMTaskMgr::~CFMTaskMgr() {
  m_pTimerMgr.reset();
  m_pSchedule.reset();
  m_pAsnSchedule.reset();
}

int CFMTaskMgr::StartAllTask() {
  if (m_pTimerMgr) m_pTimerMgr->open();
  if (m_pSchedule) m_pSchedule->open();
  if (m_pAsnSchedule) m_pAsnSchedule->open();
  return static_cast<int>(FM_SUCCESS);
}

int CFMTaskMgr::StopAllTask() {
  if (m_pTimerMgr) m_pTimerMgr->close();
  if (m_pSchedule) {
    m_pSchedule->ExitAllThread();
    FM_TRACE(2, "CFMTaskMgr::StopAllTask, CSchedule is stopped!");
  }
  if (m_pAsnSchedule) {
    m_pAsnSchedule->ExitAllThread();
    FM_TRACE(2, "CFMTaskMgr::StopAllTask, ASN CSchedule is stopped!");
  }
  FM_TRACE(2, "CFMTaskMgr::StopAllTask, CACEEventHandleProcess is stopped");
  return static_cast<int>(FM_SUCCESS);
}

int CFMTaskMgr::PutMsgCommon(CSchedule* schedule, CFMMsgPack* pack) {
  if (schedule == nullptr) {
    FM_TRACE(3, "CFMTaskMgr::PutMsgCommon, Schedule is null!");
    return static_cast<int>(FM_FAILURE);
  }
  if (pack == nullptr) return static_cast<int>(FM_INVALID_ARG);
  size_t size;
  switch (pack->getMsgType()) {
    case FM_MSG_ASYN_TASK: size = 16; break;
    case FM_MSG_STOP: size = 8; break;
    default:
      FM_TRACE(3, "CFMTaskMgr::PutMsgCommon, default!");
      return static_cast<int>(FM_SUCCESS);
  }
  auto* block = new ACE_Message_Block(reinterpret_cast<const char*>(pack), size);
  block->wr_ptr(size);
  if (schedule->putq(block) == -1) {
    FM_TRACE(5, "CFMTaskMgr::PutMsgCommon, items in queue is null in the putq!");
    // The pool is stopped: the pack is ours to free, never to run.
    block->release();
    delete pack;
    return static_cast<int>(FM_SUCCESS);
  }
  unsigned long n = ++g_putCount;
  if (n % 100 == 0) {
    ACE_Message_Queue<ACE_MT_SYNCH>* q = schedule->msg_queue();
    FM_TRACE(3, "CFMTaskMgr::PutMsgCommon, message_bytes:%d,message_length:%d,message_count:%d",
             static_cast<int>(q->message_bytes()), static_cast<int>(q->message_length()),
             static_cast<int>(q->message_count()));
  }
  return static_cast<int>(FM_SUCCESS);
}

int CFMTaskMgr::PutMsg(CFMMsgPack* pack) { return PutMsgCommon(m_pSchedule.get(), pack); }

int CFMTaskMgr::PutAsnMsg(CFMMsgPack* pack) {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  return PutMsgCommon(m_pAsnSchedule.get(), pack);
}

int CFMTaskMgr::GetAsnMsgBuffStatus() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_mutex);
  if (!m_pAsnSchedule) return 0;
  size_t n = m_pAsnSchedule->msg_queue()->message_count();
  return n == 0 ? 0 : (n <= 5 ? 1 : 2);
}

long CFMTaskMgr::RegisteTimerTask(std::unique_ptr<TimerTask>& task, long delay, long interval) {
  FM_TRACE(3, "CFMTaskMgr::RegisteTimerTask, taskName:%s", task ? task->name().c_str() : "");
  if (!m_pTimerMgr) return -1;
  return m_pTimerMgr->addTimer(ACE_Time_Value(delay), ACE_Time_Value(interval), task);
}

int CFMTaskMgr::UnRegisteTimerTask(long timerId) {
  FM_TRACE(3, "CFMTaskMgr::UnRegisteTimerTask, taskId:%d", static_cast<int>(timerId));
  int ret = m_pTimerMgr ? m_pTimerMgr->cancelTimer(timerId) : -1;
  FM_TRACE(3, "CFMTaskMgr::UnRegisteTimerTask, cancelTimer timeId:%d, ret:%d", static_cast<int>(timerId), ret);
  return static_cast<int>(FM_SUCCESS);
}

// ---------------------------------------------------------------------------
// CFMTaskBufMgr

std::atomic<CFMTaskBufMgr*> CFMTaskBufMgr::m_pInstance{nullptr};
ACE_Thread_Mutex CFMTaskBufMgr::m_instanceMutex;

CFMTaskBufMgr* CFMTaskBufMgr::instance() {
  CFMTaskBufMgr* p = m_pInstance.load(std::memory_order_acquire);
  if (p == nullptr) {
    ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
    p = m_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CFMTaskBufMgr;
      m_pInstance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CFMTaskBufMgr::destroy() {
  ACE_Guard<ACE_Thread_Mutex> guard(m_instanceMutex);
  delete m_pInstance.exchange(nullptr);
}

uint16_t CFMTaskBufMgr::Registe(const std::string& name, XRFMTaskBufferBase* buffer) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  FMTaskBufVector entry;
  entry.name = name;
  entry.buffer = buffer;
  entry.index = static_cast<uint16_t>(m_entries.size() + 1);
  m_entries.push_back(entry);
  return entry.index;
}

void CFMTaskBufMgr::unRegiste(const std::string& name) {
  ACE_Write_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->name == name) {
      it->buffer = nullptr;
      m_entries.erase(it);
      return;
    }
  }
}

uint16_t CFMTaskBufMgr::GetBuffNum() {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  return static_cast<uint16_t>(m_entries.size());
}

std::string CFMTaskBufMgr::GetBuffName(uint16_t pos) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  return pos < m_entries.size() ? m_entries[pos].name : std::string();
}

long CFMTaskBufMgr::GetBuffSize(uint16_t pos) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  if (pos >= m_entries.size() || m_entries[pos].buffer == nullptr) return 0;
  return m_entries[pos].buffer->getItemCount();
}

long CFMTaskBufMgr::GetAllTaskBuffSize() {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  long total = 0;
  for (const auto& e : m_entries)
    if (e.buffer != nullptr) total += e.buffer->getItemCount();
  return total;
}

void CFMTaskBufMgr::GetTaskBuffInfo(std::vector<FMTaskBufVector>& out) {
  ACE_Read_Guard<ACE_RW_Thread_Mutex> guard(m_rwMutex);
  out = m_entries;
}

}  // namespace Kyrofm
