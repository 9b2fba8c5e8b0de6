// FMEvents.cpp: the fault-management event types, typed views over the
// attributes of a platform event, and the name/value event sender, which cuts
// long name/value lists into events of at most 200 pairs.
#include "fm_common/fmcommon/FMEvents.h"


#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroTrace.h"

namespace Kyrofm {
namespace {

using Kyroem::EventAttributeTypeMismatch;
using Kyroem::EventBase;

// True while the service is stopping.
bool serviceStopping() {
  return Kyrofmdb::CFMServiceFlag::instance()->getServiceStatus() == Kyrofmdb::CFMServiceFlag::SERVICE_STOPPING;
}

// Base index of a view made by default construction: the attributes the base
// already has; the view's own attributes are appended after them.
CORBA::ULong appendAttributes(EventBase& ev, CORBA::ULong count) {
  CORBA::ULong base = ev.getAttributeCount();
  ev.setAttributeCount(base + count);
  return base;
}

// Base index of a view over a received event: its own attributes are the last
// `count` ones; an event with fewer attributes is read from index 0 (reading an
// attribute it lacks then reports a type mismatch).
CORBA::ULong adoptedBase(const EventBase& ev, CORBA::ULong count) {
  CORBA::ULong n = ev.getAttributeCount();
  return n >= count ? n - count : 0;
}

void putLong(EventBase& ev, CORBA::ULong index, const char* name, CORBA::Long v) {
  ev.setAttributeName(index, name);
  ev.attributeValue(index) <<= v;
}

CORBA::Long getLong(const EventBase& ev, CORBA::ULong index, const char* name) {
  CORBA::Long v = 0;
  if (!(ev.getAttributeValue(index) >>= v)) throw EventAttributeTypeMismatch(name, "CORBA::Long");
  return v;
}

void putString(EventBase& ev, CORBA::ULong index, const char* name, const std::string& v) {
  ev.setAttributeName(index, name);
  ev.attributeValue(index) <<= v.c_str();
}

std::string getString(const EventBase& ev, CORBA::ULong index, const char* name) {
  const char* v = nullptr;
  if (!(ev.getAttributeValue(index) >>= v) || !v) throw EventAttributeTypeMismatch(name, "const char*");
  return std::string(v);
}

void putChar(EventBase& ev, CORBA::ULong index, const char* name, CORBA::Char v) {
  ev.setAttributeName(index, name);
  ev.attributeValue(index) <<= CORBA::Any::from_char(v);
}

CORBA::Char getChar(const EventBase& ev, CORBA::ULong index, const char* name) {
  CORBA::Char v = 0;
  if (!(ev.getAttributeValue(index) >>= CORBA::Any::to_char(v))) throw EventAttributeTypeMismatch(name, "CORBA::Char");
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// CCommentChangedEvent

CCommentChangedEvent::CCommentChangedEvent() : m_ulBaseIndex(appendAttributes(*this, ATTR_COUNT)) {}
CCommentChangedEvent::CCommentChangedEvent(const EventBase& received)
    : EventBase(received), m_ulBaseIndex(adoptedBase(*this, ATTR_COUNT)) {}

CORBA::Long CCommentChangedEvent::getlCsn() const { return getLong(*this, m_ulBaseIndex + 1, "lCsn"); }
void CCommentChangedEvent::setlCsn(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 1, "lCsn", v); }
CORBA::Long CCommentChangedEvent::getlLogType() const { return getLong(*this, m_ulBaseIndex + 2, "lLogType"); }
void CCommentChangedEvent::setlLogType(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 2, "lLogType", v); }

// ---------------------------------------------------------------------------
// AlarmSaveFileEvent

AlarmSaveFileEvent::AlarmSaveFileEvent() : m_ulBaseIndex(appendAttributes(*this, ATTR_COUNT)) {}
AlarmSaveFileEvent::AlarmSaveFileEvent(const EventBase& received)
    : EventBase(received), m_ulBaseIndex(adoptedBase(*this, ATTR_COUNT)) {}

CORBA::Long AlarmSaveFileEvent::getFileID() const { return getLong(*this, m_ulBaseIndex + 0, "FileID"); }
void AlarmSaveFileEvent::setFileID(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 0, "FileID", v); }
std::string AlarmSaveFileEvent::getFileName() const { return getString(*this, m_ulBaseIndex + 1, "FileName"); }
void AlarmSaveFileEvent::setFileName(const std::string& v) { putString(*this, m_ulBaseIndex + 1, "FileName", v); }
CORBA::Long AlarmSaveFileEvent::getFileSize() const { return getLong(*this, m_ulBaseIndex + 2, "FileSize"); }
void AlarmSaveFileEvent::setFileSize(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 2, "FileSize", v); }
CORBA::Long AlarmSaveFileEvent::getFileType() const { return getLong(*this, m_ulBaseIndex + 3, "FileType"); }
void AlarmSaveFileEvent::setFileType(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 3, "FileType", v); }
CORBA::Long AlarmSaveFileEvent::getErrorCode() const { return getLong(*this, m_ulBaseIndex + 4, "ErrorCode"); }
void AlarmSaveFileEvent::setErrorCode(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 4, "ErrorCode", v); }
CORBA::Long AlarmSaveFileEvent::getErrorLevel() const { return getLong(*this, m_ulBaseIndex + 5, "ErrorLevel"); }
void AlarmSaveFileEvent::setErrorLevel(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 5, "ErrorLevel", v); }
std::string AlarmSaveFileEvent::getErrorMsg() const { return getString(*this, m_ulBaseIndex + 6, "ErrorMsg"); }
void AlarmSaveFileEvent::setErrorMsg(const std::string& v) { putString(*this, m_ulBaseIndex + 6, "ErrorMsg", v); }
CORBA::Long AlarmSaveFileEvent::getSessionID() const { return getLong(*this, m_ulBaseIndex + 7, "SessionID"); }
void AlarmSaveFileEvent::setSessionID(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 7, "SessionID", v); }

// ---------------------------------------------------------------------------
// EventForPreprocess

EventForPreprocess::EventForPreprocess() : m_ulBaseIndex(appendAttributes(*this, ATTR_COUNT)) {}
EventForPreprocess::EventForPreprocess(const EventBase& received)
    : EventBase(received), m_ulBaseIndex(adoptedBase(*this, ATTR_COUNT)) {}

CORBA::Long EventForPreprocess::getType() const { return getLong(*this, m_ulBaseIndex + 0, "Type"); }
void EventForPreprocess::setType(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 0, "Type", v); }
CORBA::Any EventForPreprocess::getPreAttributeSeq() const { return getAttributeValue(m_ulBaseIndex + 1); }
void EventForPreprocess::setPreAttributeSeq(const CORBA::Any& v) {
  setAttributeName(m_ulBaseIndex + 1, "PreAttributeSeq");
  attributeValue(m_ulBaseIndex + 1) = v;
}

// ---------------------------------------------------------------------------
// CAlmConfirmEvent

CAlmConfirmEvent::CAlmConfirmEvent() : m_ulBaseIndex(appendAttributes(*this, ATTR_COUNT)) {
  setEventType("CAlmConfirmEvent");
}
CAlmConfirmEvent::CAlmConfirmEvent(const EventBase& received)
    : EventBase(received), m_ulBaseIndex(adoptedBase(*this, ATTR_COUNT)) {}

CORBA::Char CAlmConfirmEvent::getcategory() const { return getChar(*this, m_ulBaseIndex + 0, "category"); }
void CAlmConfirmEvent::setcategory(CORBA::Char v) { putChar(*this, m_ulBaseIndex + 0, "category", v); }
std::string CAlmConfirmEvent::getnefdn() const { return getString(*this, m_ulBaseIndex + 1, "nefdn"); }
void CAlmConfirmEvent::setnefdn(const std::string& v) { putString(*this, m_ulBaseIndex + 1, "nefdn", v); }
CORBA::Char CAlmConfirmEvent::gettype() const { return getChar(*this, m_ulBaseIndex + 2, "type"); }
void CAlmConfirmEvent::settype(CORBA::Char v) { putChar(*this, m_ulBaseIndex + 2, "type", v); }

Kyrocommon::LongSeq CAlmConfirmEvent::getdevcsnseq() const {
  const Kyrocommon::LongSeq* seq = nullptr;
  if (!(getAttributeValue(m_ulBaseIndex + 3) >>= seq) || !seq)
    throw EventAttributeTypeMismatch("devcsnseq", "Kyrocommon::LongSeq");
  return *seq;
}
void CAlmConfirmEvent::setdevcsnseq(const Kyrocommon::LongSeq& v) {
  setAttributeName(m_ulBaseIndex + 3, "devcsnseq");
  attributeValue(m_ulBaseIndex + 3) <<= v;
}

std::string CAlmConfirmEvent::getackoperator() const { return getString(*this, m_ulBaseIndex + 4, "ackoperator"); }
void CAlmConfirmEvent::setackoperator(const std::string& v) { putString(*this, m_ulBaseIndex + 4, "ackoperator", v); }
CORBA::Long CAlmConfirmEvent::getdate() const { return getLong(*this, m_ulBaseIndex + 5, "date"); }
void CAlmConfirmEvent::setdate(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 5, "date", v); }
CORBA::Long CAlmConfirmEvent::gettime() const { return getLong(*this, m_ulBaseIndex + 6, "time"); }
void CAlmConfirmEvent::settime(CORBA::Long v) { putLong(*this, m_ulBaseIndex + 6, "time", v); }

// ---------------------------------------------------------------------------
// CCommonEventSender

std::atomic<CCommonEventSender*> CCommonEventSender::m_pInstance{nullptr};
std::mutex CCommonEventSender::m_mutex;

CCommonEventSender::CCommonEventSender() : m_pProxy(new Kyroem::EventSupplierProxy(0, true, 1)) {}
CCommonEventSender::~CCommonEventSender() = default;

CCommonEventSender* CCommonEventSender::instance() {
  CCommonEventSender* p = m_pInstance.load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(m_mutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (!p) {
    try {
      p = new CCommonEventSender();
    } catch (const std::exception& ex) {
      FM_TRACE(TRACE_ERROR, "CCommonEventSender::instance, create failed: %s", ex.what());
      return nullptr;
    }
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void CCommonEventSender::destroy() {
  std::lock_guard<std::mutex> lock(m_mutex);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

long CCommonEventSender::sendNameValueEvents(const std::string& sourceClass, const std::string& eventType,
                                             long type, const std::list<FMNameValue_t>& list) {
  if (list.empty() || type == 13 || type == 14) {
    FM_TRACE(TRACE_ERROR, "CCommonEventSender::batchSendNameValueEvent, attrList is empty");
    return FM_INVALID_ARG;
  }
  auto it = list.begin();
  while (it != list.end()) {
    if (serviceStopping()) {
      FM_TRACE(TRACE_ERROR, "%s, the system is stopping!", "CCommonEventSender::sendNameValueEvents");
      break;
    }
    auto chunkEnd = it;
    size_t n = 0;
    while (chunkEnd != list.end() && n < CHUNK_SIZE) {
      ++chunkEnd;
      ++n;
    }
    std::list<FMNameValue_t> chunk(it, chunkEnd);
    sendNameValueEvent(sourceClass, eventType, type, chunk);
    it = chunkEnd;
  }
  return FM_SUCCESS;
}

long CCommonEventSender::sendNameValueEvent(const std::string& sourceClass, const std::string& eventType,
                                            long type, const std::list<FMNameValue_t>& list) {
  try {
    Kyrocommon::NameValueSeq seq;
    seq.length(static_cast<CORBA::ULong>(list.size()));
    CORBA::ULong i = 0;
    for (const FMNameValue_t& nv : list) {
      seq[i].name = CORBA::string_dup(nv.m_strName.c_str());
      seq[i].value = CORBA::string_dup(nv.m_strValue.c_str());
      ++i;
    }
    FM_TRACE(TRACE_DETAIL, "CCommonEventSender::sendNameValueEvent, count = %d", static_cast<int>(list.size()));

    Kyroem::NameValueEvent event;
    event.setPartition(0);
    event.setSourceClass(sourceClass);
    event.setEventType(eventType);
    event.setType(static_cast<CORBA::Long>(type));
    event.setNameValueSeq(seq);

    if (!m_pProxy) return FM_FAILURE;
    sendEMEvent(m_pProxy.get(), event, "CCommonEventSender::sendNameValueEvent");
    return FM_SUCCESS;
  } catch (const std::exception& ex) {
    FM_TRACE(TRACE_ERROR, "CCommonEventSender::sendNameValueEvent, exception: %s", ex.what());
  } catch (const CORBA::Exception&) {
    FM_TRACE(TRACE_ERROR, "CCommonEventSender::sendNameValueEvent, CORBA exception");
  }
  return FM_FAILURE;
}

long CCommonEventSender::sendEMEvent(Kyroem::EventSupplierProxy* proxy, const Kyroem::EventBase& event,
                                     const char* functionName) {
  if (!proxy) return FM_FAILURE;
  int rc = proxy->doPushEvent(event);
  if (rc == 0) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "func:%s doPushEvent Send Fail:%d", functionName ? functionName : "", rc);
  return FM_FAILURE;
}

long CCommonEventSender::sendEMEvent(const Kyroem::EventBase& event, const char* functionName) {
  if (!m_pProxy) return FM_FAILURE;
  int rc = m_pProxy->doPushEvent(event);
  if (rc == 0) return FM_SUCCESS;
  FM_TRACE(TRACE_ERROR, "CCommonEventSender::sendEMEvent func:%s doPushEvent Send Fail:%d",
           functionName ? functionName : "", rc);
  return FM_FAILURE;
}

}  // namespace Kyrofm
