// KyroEvent.cpp: the in-process event channel. Events are structured events
// whose bodies are shared between handles; a push deep-copies the body once per
// subscriber so that no two threads ever share a body through the channel.
#include "fm_common/platform/KyroEvent.h"

#include <algorithm>
#include <cstring>
#include <chrono>
#include <thread>

#include "fm_common/platform/KyroTrace.h"

namespace Kyroem {

EventAttributeTypeMismatch::EventAttributeTypeMismatch(const std::string& attributeName,
                                                       const std::string& typeName)
    : m_strAttributeName(attributeName),
      m_strTypeName(typeName),
      m_strWhat("event attribute " + attributeName + " is not of type " + typeName) {}

CORBA::ORB_ptr processOrb() {
  static CORBA::ORB_ptr orb = [] {
    int argc = 0;
    return CORBA::ORB_init(argc, nullptr);
  }();
  return orb;
}

// ---------------------------------------------------------------------------
// EventBase

EventBase::EventBase() {
  processOrb();
  m_pBody = std::make_shared<StructuredEvent>();
  m_pBody->partition = 0;
  m_pBody->sourceClass = CORBA::string_dup("");
  m_pBody->typeName = CORBA::string_dup("");
}

EventBase::EventBase(std::shared_ptr<StructuredEvent> body) : m_pBody(std::move(body)) {
  processOrb();
  if (!m_pBody) *this = EventBase();
}

EventBase EventBase::clone() const {
  return EventBase(std::make_shared<StructuredEvent>(*m_pBody));
}

CORBA::Long EventBase::getPartition() const { return m_pBody->partition; }
void EventBase::setPartition(CORBA::Long partition) { m_pBody->partition = partition; }

std::string EventBase::getSourceClass() const {
  const char* s = m_pBody->sourceClass;
  return s ? std::string(s) : std::string();
}
void EventBase::setSourceClass(const std::string& sourceClass) {
  m_pBody->sourceClass = CORBA::string_dup(sourceClass.c_str());
}

std::string EventBase::getEventType() const {
  const char* s = m_pBody->typeName;
  return s ? std::string(s) : std::string();
}
void EventBase::setEventType(const std::string& eventType) {
  m_pBody->typeName = CORBA::string_dup(eventType.c_str());
}

CORBA::ULong EventBase::getAttributeCount() const { return m_pBody->attributes.length(); }

void EventBase::setAttributeCount(CORBA::ULong count) {
  CORBA::ULong old = m_pBody->attributes.length();
  m_pBody->attributes.length(count);
  for (CORBA::ULong i = old; i < count; ++i) m_pBody->attributes[i].name = CORBA::string_dup("");
}

std::string EventBase::getAttributeName(CORBA::ULong index) const {
  if (index >= m_pBody->attributes.length()) return std::string();
  const char* s = m_pBody->attributes[index].name;
  return s ? std::string(s) : std::string();
}

void EventBase::setAttributeName(CORBA::ULong index, const char* name) {
  if (index >= getAttributeCount()) setAttributeCount(index + 1);
  m_pBody->attributes[index].name = CORBA::string_dup(name ? name : "");
}

const CORBA::Any& EventBase::getAttributeValue(CORBA::ULong index) const {
  static const CORBA::Any* const empty = new CORBA::Any();  // process lifetime
  if (index >= m_pBody->attributes.length()) return *empty;
  return m_pBody->attributes[index].value;
}

CORBA::Any& EventBase::attributeValue(CORBA::ULong index) {
  if (index >= getAttributeCount()) setAttributeCount(index + 1);
  return m_pBody->attributes[index].value;
}

const CORBA::Any* EventBase::findAttribute(const char* name) const {
  if (!name) return nullptr;
  const EventAttributeSeq& attrs = m_pBody->attributes;
  for (CORBA::ULong i = 0; i < attrs.length(); ++i) {
    const char* n = attrs[i].name;
    if (n && std::strcmp(n, name) == 0) return &attrs[i].value;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// NameValueEvent

NameValueEvent::NameValueEvent() : m_ulBaseIndex(getAttributeCount()) {
  setAttributeCount(m_ulBaseIndex + ATTR_COUNT);
}

NameValueEvent::NameValueEvent(const EventBase& received)
    : EventBase(received),
      m_ulBaseIndex(getAttributeCount() >= ATTR_COUNT ? getAttributeCount() - ATTR_COUNT : 0) {}

CORBA::Long NameValueEvent::getType() const {
  CORBA::Long v = 0;
  if (!(getAttributeValue(m_ulBaseIndex) >>= v)) throw EventAttributeTypeMismatch("Type", "CORBA::Long");
  return v;
}

void NameValueEvent::setType(CORBA::Long type) {
  setAttributeName(m_ulBaseIndex, "Type");
  attributeValue(m_ulBaseIndex) <<= type;
}

Kyrocommon::NameValueSeq NameValueEvent::getNameValueSeq() const {
  const Kyrocommon::NameValueSeq* seq = nullptr;
  if (!(getAttributeValue(m_ulBaseIndex + 1) >>= seq) || !seq)
    throw EventAttributeTypeMismatch("NameValueSeq", "Kyrocommon::NameValueSeq");
  return *seq;
}

void NameValueEvent::setNameValueSeq(const Kyrocommon::NameValueSeq& seq) {
  setAttributeName(m_ulBaseIndex + 1, "NameValueSeq");
  attributeValue(m_ulBaseIndex + 1) <<= seq;
}

// ---------------------------------------------------------------------------
// EventChannel

struct EventChannel::Entry {
  std::uint64_t id;
  long channelId;
  Callback callback;
  // Held while the callback runs; recursive so that a callback may end its own
  // subscription.
  std::recursive_mutex runMutex;
  bool active = true;  // guarded by runMutex
};

std::atomic<EventChannel*> EventChannel::m_pInstance{nullptr};
std::mutex EventChannel::m_instanceMutex;

EventChannel* EventChannel::instance() {
  EventChannel* p = m_pInstance.load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(m_instanceMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (!p) {
    p = new EventChannel();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void EventChannel::destroy() {
  std::lock_guard<std::mutex> lock(m_instanceMutex);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

EventChannel::Subscription EventChannel::subscribe(long channelId, Callback callback) {
  auto entry = std::make_shared<Entry>();
  entry->channelId = channelId;
  entry->callback = std::move(callback);
  std::lock_guard<std::mutex> lock(m_mutex);
  entry->id = m_nextId++;
  m_entries.push_back(entry);
  return Subscription(entry->id);
}

void EventChannel::unsubscribe(std::uint64_t id) {
  std::shared_ptr<Entry> entry;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [id](const std::shared_ptr<Entry>& e) { return e->id == id; });
    if (it == m_entries.end()) return;
    entry = *it;
    m_entries.erase(it);
  }
  // Waits for a callback in flight on another thread.
  std::lock_guard<std::recursive_mutex> run(entry->runMutex);
  entry->active = false;
}

int EventChannel::push(long channelId, const EventBase& event) {
  if (!m_bAvailable.load()) return PUSH_CHANNEL_UNAVAILABLE;
  std::vector<std::shared_ptr<Entry>> targets;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& e : m_entries)
      if (e->channelId == channelId) targets.push_back(e);
  }
  m_nPushed.fetch_add(1);
  for (const auto& e : targets) {
    std::lock_guard<std::recursive_mutex> run(e->runMutex);
    if (!e->active) continue;
    try {
      EventBase copy = event.clone();
      e->callback(copy);
    } catch (const std::exception& ex) {
      FM_TRACE(Kyrofm::TRACE_ERROR, "EventChannel::push, subscriber %llu failed: %s",
               static_cast<unsigned long long>(e->id), ex.what());
    } catch (...) {
      FM_TRACE(Kyrofm::TRACE_ERROR, "EventChannel::push, subscriber %llu failed",
               static_cast<unsigned long long>(e->id));
    }
  }
  return PUSH_OK;
}

void EventChannel::setAvailable(bool available) { m_bAvailable.store(available); }
bool EventChannel::isAvailable() const { return m_bAvailable.load(); }
std::uint64_t EventChannel::pushedCount() const { return m_nPushed.load(); }

EventChannel::Subscription::Subscription(Subscription&& other) noexcept : m_id(other.m_id) {
  other.m_id = 0;
}

EventChannel::Subscription& EventChannel::Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    reset();
    m_id = other.m_id;
    other.m_id = 0;
  }
  return *this;
}

EventChannel::Subscription::~Subscription() { reset(); }

void EventChannel::Subscription::reset() {
  if (m_id == 0) return;
  std::uint64_t id = m_id;
  m_id = 0;
  EventChannel::instance()->unsubscribe(id);
}

// ---------------------------------------------------------------------------
// EventSupplierProxy

EventSupplierProxy::EventSupplierProxy(long channelId, bool supplier, long pushAttempts)
    : m_lChannelId(channelId), m_bSupplier(supplier), m_lPushAttempts(pushAttempts < 1 ? 1 : pushAttempts) {}

int EventSupplierProxy::doPushEvent(const EventBase& event) {
  if (!m_bSupplier) return PUSH_NOT_SUPPLIER;
  if (!m_bConnected.load()) return PUSH_DISCONNECTED;
  int rc = PUSH_CHANNEL_UNAVAILABLE;
  for (long attempt = 0; attempt < m_lPushAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rc = EventChannel::instance()->push(m_lChannelId, event);
    if (rc != PUSH_CHANNEL_UNAVAILABLE) break;
  }
  return rc;
}

void EventSupplierProxy::disconnect() { m_bConnected.store(false); }

}  // namespace Kyroem
