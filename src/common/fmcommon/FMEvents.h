// FMEvents.h: the fault-management event types and the name/value event sender.
//
// Each event type is a thin typed view over the platform event
// Kyroem::EventBase. It keeps one number, the base index: the number of
// attributes the event already had when the view was made; its own attributes
// sit at base index + 0, + 1, ... A default-made event appends its attributes to
// the base's; a view made from a received event adopts that event's body and
// takes its own attributes to be the last ones of the event. Setters write the
// attribute's name and value; getters throw Kyroem::EventAttributeTypeMismatch
// (attribute name, type name) when the attribute holds another type or none.
// An event (and every view sharing its body) belongs to one thread at a time.
//
// CCommonEventSender is the process-wide sender of name/value events. It owns
// its supplier proxy; all its operations may be called from any thread.
#ifndef FM_FMCOMMON_FMEVENTS_H
#define FM_FMCOMMON_FMEVENTS_H

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "fm_common/fmcommon/FMValueTypes.h"
#include "fm_common/platform/KyroEvent.h"

namespace Kyrofm {

// Comment of an alarm changed. Attributes: offset 0 counted and unused,
// 1 "lCsn" (CORBA::Long), 2 "lLogType" (CORBA::Long).
class CCommentChangedEvent : public Kyroem::EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 3;
  CCommentChangedEvent();
  CCommentChangedEvent(const CCommentChangedEvent& other) = default;
  explicit CCommentChangedEvent(const Kyroem::EventBase& received);
  CCommentChangedEvent& operator=(const CCommentChangedEvent&) = default;

  CORBA::Long getlCsn() const;
  void setlCsn(CORBA::Long v);
  CORBA::Long getlLogType() const;
  void setlLogType(CORBA::Long v);

 private:
  CORBA::ULong m_ulBaseIndex;
};

// Result of saving alarms to a file. Attributes: 0 "FileID", 1 "FileName"
// (string), 2 "FileSize", 3 "FileType", 4 "ErrorCode", 5 "ErrorLevel",
// 6 "ErrorMsg" (string), 7 "SessionID"; the others are CORBA::Long.
class AlarmSaveFileEvent : public Kyroem::EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 8;
  AlarmSaveFileEvent();
  AlarmSaveFileEvent(const AlarmSaveFileEvent& other) = default;
  explicit AlarmSaveFileEvent(const Kyroem::EventBase& received);
  AlarmSaveFileEvent& operator=(const AlarmSaveFileEvent&) = default;

  CORBA::Long getFileID() const;
  void setFileID(CORBA::Long v);
  std::string getFileName() const;
  void setFileName(const std::string& v);
  CORBA::Long getFileSize() const;
  void setFileSize(CORBA::Long v);
  CORBA::Long getFileType() const;
  void setFileType(CORBA::Long v);
  CORBA::Long getErrorCode() const;
  void setErrorCode(CORBA::Long v);
  CORBA::Long getErrorLevel() const;
  void setErrorLevel(CORBA::Long v);
  std::string getErrorMsg() const;
  void setErrorMsg(const std::string& v);
  CORBA::Long getSessionID() const;
  void setSessionID(CORBA::Long v);

 private:
  CORBA::ULong m_ulBaseIndex;
};

// Event handed to alarm preprocessing. Attributes: 0 "Type" (CORBA::Long),
// 1 "PreAttributeSeq" (an Any, stored and returned unchanged).
class EventForPreprocess : public Kyroem::EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 2;
  EventForPreprocess();
  EventForPreprocess(const EventForPreprocess& other) = default;
  explicit EventForPreprocess(const Kyroem::EventBase& received);
  EventForPreprocess& operator=(const EventForPreprocess&) = default;

  CORBA::Long getType() const;
  void setType(CORBA::Long v);
  CORBA::Any getPreAttributeSeq() const;
  void setPreAttributeSeq(const CORBA::Any& v);

 private:
  CORBA::ULong m_ulBaseIndex;
};

// Alarms of an NE confirmed. The default constructor sets the event type
// "CAlmConfirmEvent". Attributes: 0 "category" (CORBA::Char), 1 "nefdn"
// (string), 2 "type" (CORBA::Char), 3 "devcsnseq" (Kyrocommon::LongSeq),
// 4 "ackoperator" (string), 5 "date", 6 "time" (CORBA::Long).
class CAlmConfirmEvent : public Kyroem::EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 7;
  CAlmConfirmEvent();
  CAlmConfirmEvent(const CAlmConfirmEvent& other) = default;
  explicit CAlmConfirmEvent(const Kyroem::EventBase& received);
  CAlmConfirmEvent& operator=(const CAlmConfirmEvent&) = default;

  CORBA::Char getcategory() const;
  void setcategory(CORBA::Char v);
  std::string getnefdn() const;
  void setnefdn(const std::string& v);
  CORBA::Char gettype() const;
  void settype(CORBA::Char v);
  Kyrocommon::LongSeq getdevcsnseq() const;
  void setdevcsnseq(const Kyrocommon::LongSeq& v);
  std::string getackoperator() const;
  void setackoperator(const std::string& v);
  CORBA::Long getdate() const;
  void setdate(CORBA::Long v);
  CORBA::Long gettime() const;
  void settime(CORBA::Long v);

 private:
  CORBA::ULong m_ulBaseIndex;
};

// The process-wide sender of name/value events over its own supplier proxy
// (channel 0, supplier, one push attempt).
class CCommonEventSender {
 public:
  // Events carry at most this many name/value pairs.
  static constexpr size_t CHUNK_SIZE = 200;

  static CCommonEventSender* instance();
  // Deletes the sender and its proxy; no call may be in flight.
  static void destroy();

  // Sends `list` in events of at most CHUNK_SIZE pairs, in order. 33021 (and
  // nothing sent) for an empty list or a type of 13 or 14. Stops before the next
  // chunk when the service is stopping. Otherwise 33000, also when a push failed
  // or sending stopped early (both are logged).
  long sendNameValueEvents(const std::string& sourceClass, const std::string& eventType, long type,
                           const std::list<FMNameValue_t>& list);

  // Sends `list` as one name/value event (partition 0, the source class, the
  // event type, the type field `type`, the pairs as a Kyrocommon::NameValueSeq).
  // 33002 without a proxy, else 33000 whatever the push gave.
  long sendNameValueEvent(const std::string& sourceClass, const std::string& eventType, long type,
                          const std::list<FMNameValue_t>& list);

  // Pushes `event` through the sender's proxy (member form) or `proxy`: 33000
  // when the push gave 0; 33002 without a proxy or when the push failed (logged
  // with `functionName`).
  long sendEMEvent(const Kyroem::EventBase& event, const char* functionName);
  static long sendEMEvent(Kyroem::EventSupplierProxy* proxy, const Kyroem::EventBase& event,
                          const char* functionName);

  Kyroem::EventSupplierProxy* getProxy() const { return m_pProxy.get(); }

 private:
  CCommonEventSender();
  ~CCommonEventSender();
  CCommonEventSender(const CCommonEventSender&) = delete;
  CCommonEventSender& operator=(const CCommonEventSender&) = delete;

  std::unique_ptr<Kyroem::EventSupplierProxy> m_pProxy;

  static std::atomic<CCommonEventSender*> m_pInstance;
  static std::mutex m_mutex;
};

}  // namespace Kyrofm

#endif
