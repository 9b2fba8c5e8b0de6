// KyroEvent.h: the platform event channel as the fault-management processes
// see it.
//
// An event is a structured event (Kyroem::StructuredEvent, see
// idl/KyroEvent.idl): a partition, a source class, an event type and a numbered
// list of named attributes whose values are CORBA Any values. EventBase is a
// handle on such a body; copies of a handle share the body, so that a typed view
// built over a received event reads the same attributes. The body is not locked:
// a handle and its copies belong to one thread at a time.
//
// Suppliers push events through an EventSupplierProxy into the process-wide
// EventChannel; every subscriber registered on the proxy's channel receives a
// private deep copy of the event, on the pushing thread. Hosts and tests register
// subscribers; the channel may be marked unavailable to make pushes fail.
//
// Thread safety: EventChannel and EventSupplierProxy may be used from any
// thread. Callbacks of one subscriber never run concurrently with each other;
// callbacks of different subscribers may.
#ifndef FM_PLATFORM_KYROEVENT_H
#define FM_PLATFORM_KYROEVENT_H

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fm_common/idl/KyroEvent.hh"
#include "fm_common/idl/Kyrocommon.hh"

namespace Kyroem {

// The process's ORB, initialised on first call (no arguments) and kept for the
// life of the process. omniORB needs an initialised ORB before Any values are
// copied or marshalled; every EventBase constructor calls this, and code that
// uses CORBA::Any before making any event calls it first. Any thread.
CORBA::ORB_ptr processOrb();

// Thrown by the typed getters of an event when an attribute's Any holds another
// type than the getter reads (or nothing at all).
class EventAttributeTypeMismatch : public std::exception {
 public:
  EventAttributeTypeMismatch(const std::string& attributeName, const std::string& typeName);
  const std::string& attributeName() const { return m_strAttributeName; }
  const std::string& typeName() const { return m_strTypeName; }
  const char* what() const noexcept override { return m_strWhat.c_str(); }

 private:
  std::string m_strAttributeName;
  std::string m_strTypeName;
  std::string m_strWhat;
};

// Handle on a structured event. A default-made event has partition 0, empty
// source class and event type and no attributes.
class EventBase {
 public:
  EventBase();
  // Adopts `body` (shared, not copied); a null body is replaced by an empty one.
  explicit EventBase(std::shared_ptr<StructuredEvent> body);
  EventBase(const EventBase&) = default;             // shares the body
  EventBase& operator=(const EventBase&) = default;  // shares the body
  virtual ~EventBase() = default;

  // A handle on a deep copy of this event's body.
  EventBase clone() const;
  const std::shared_ptr<StructuredEvent>& body() const { return m_pBody; }

  CORBA::Long getPartition() const;
  void setPartition(CORBA::Long partition);
  std::string getSourceClass() const;
  void setSourceClass(const std::string& sourceClass);
  std::string getEventType() const;
  void setEventType(const std::string& eventType);

  // Number of attributes. Raising it appends attributes with an empty name and
  // an empty Any; lowering it drops the last ones.
  CORBA::ULong getAttributeCount() const;
  void setAttributeCount(CORBA::ULong count);

  // Name and value of attribute `index`. The setters raise the attribute count
  // to index + 1 when needed. The const getters give an empty name and an empty
  // Any for an index beyond the count.
  std::string getAttributeName(CORBA::ULong index) const;
  void setAttributeName(CORBA::ULong index, const char* name);
  const CORBA::Any& getAttributeValue(CORBA::ULong index) const;
  CORBA::Any& attributeValue(CORBA::ULong index);

  // The value of the first attribute called `name`, null when there is none.
  const CORBA::Any* findAttribute(const char* name) const;

 private:
  std::shared_ptr<StructuredEvent> m_pBody;
};

// The platform's name/value event: its own attributes "Type" (CORBA::Long, the
// type field) and "NameValueSeq" (the payload, a Kyrocommon::NameValueSeq in an
// Any) follow the attributes the base already had.
class NameValueEvent : public EventBase {
 public:
  static constexpr CORBA::ULong ATTR_COUNT = 2;
  NameValueEvent();
  // Typed view over a received event; its two attributes are the last two.
  explicit NameValueEvent(const EventBase& received);

  // Throw EventAttributeTypeMismatch when the attribute holds another type.
  CORBA::Long getType() const;
  void setType(CORBA::Long type);
  Kyrocommon::NameValueSeq getNameValueSeq() const;
  void setNameValueSeq(const Kyrocommon::NameValueSeq& seq);

 private:
  CORBA::ULong m_ulBaseIndex;
};

// Results of a push.
enum PushResult {
  PUSH_OK = 0,
  PUSH_CHANNEL_UNAVAILABLE = 1,  // the channel was marked unavailable
  PUSH_NOT_SUPPLIER = 2,         // the proxy was not made as a supplier
  PUSH_DISCONNECTED = 3,         // the proxy has been disconnected
};

// The process-wide in-process channel. Channel ids separate independent
// channels; a push reaches the subscribers of its channel id only.
class EventChannel {
 public:
  using Callback = std::function<void(const EventBase&)>;

  // Unsubscribes on destruction (or reset()); after that returns, the callback
  // is not running and will not be called again, unless reset() is called from
  // inside the callback itself, which then finishes normally.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription();
    void reset();
    bool active() const { return m_id != 0; }

   private:
    friend class EventChannel;
    explicit Subscription(std::uint64_t id) : m_id(id) {}
    std::uint64_t m_id = 0;
  };

  static EventChannel* instance();
  // Deletes the channel. No subscription may be live and no push in flight.
  static void destroy();

  // Registers `callback` for the events pushed on `channelId`.
  Subscription subscribe(long channelId, Callback callback);

  // Delivers a deep copy of `event` to every subscriber of `channelId`, on the
  // calling thread, and returns PUSH_OK; PUSH_CHANNEL_UNAVAILABLE when the
  // channel is unavailable. An exception thrown by a subscriber is caught and
  // logged; the other subscribers still receive the event.
  int push(long channelId, const EventBase& event);

  // Marks the channel (all ids) available or unavailable; available when made.
  void setAvailable(bool available);
  bool isAvailable() const;

  // Number of events accepted by push since the channel was made.
  std::uint64_t pushedCount() const;

 private:
  struct Entry;
  EventChannel() = default;
  void unsubscribe(std::uint64_t id);

  mutable std::mutex m_mutex;
  std::vector<std::shared_ptr<Entry>> m_entries;
  std::uint64_t m_nextId = 1;
  std::atomic<bool> m_bAvailable{true};
  std::atomic<std::uint64_t> m_nPushed{0};

  static std::atomic<EventChannel*> m_pInstance;
  static std::mutex m_instanceMutex;
};

// A supplier's connection to a channel. Made with the channel id, whether it
// supplies (only suppliers may push) and the number of push attempts made
// while the channel is unavailable (at least 1).
class EventSupplierProxy {
 public:
  EventSupplierProxy(long channelId, bool supplier, long pushAttempts);
  EventSupplierProxy(const EventSupplierProxy&) = delete;
  EventSupplierProxy& operator=(const EventSupplierProxy&) = delete;

  // Pushes `event` on the proxy's channel; returns a PushResult.
  int doPushEvent(const EventBase& event);
  void disconnect();

  long getChannelId() const { return m_lChannelId; }
  bool isSupplier() const { return m_bSupplier; }

 private:
  long m_lChannelId;
  bool m_bSupplier;
  long m_lPushAttempts;
  std::atomic<bool> m_bConnected{true};
};

}  // namespace Kyroem

#endif
