// Tests of the event channel, the fault-management event types and the
// name/value event sender.
#include <gtest/gtest.h>

#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fm_common/fmcommon/FMEvents.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "fm_common/platform/FMResult.h"
#include "fm_common/platform/KyroEvent.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

using Kyroem::EventBase;
using Kyroem::EventChannel;

// Collects the events pushed on one channel.
class Collector {
 public:
  explicit Collector(long channel = 0)
      : m_sub(EventChannel::instance()->subscribe(channel, [this](const EventBase& ev) {
          std::lock_guard<std::mutex> lock(m_mutex);
          m_events.push_back(ev);
        })) {}
  std::vector<EventBase> events() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
  }

 private:
  std::mutex m_mutex;
  std::vector<EventBase> m_events;
  EventChannel::Subscription m_sub;
};

// Marshals an event body into CDR and back, as it would cross a process
// boundary; needs the complete type codes of every attribute value.
EventBase throughCdr(const EventBase& ev) {
  cdrMemoryStream out;
  *ev.body() >>= out;
  cdrMemoryStream in(out.bufPtr(), out.bufSize());
  auto body = std::make_shared<Kyroem::StructuredEvent>();
  *body <<= in;
  return EventBase(body);
}

long norm(CORBA::Long v) { return v; }
int norm(CORBA::Char v) { return static_cast<unsigned char>(v); }
std::string norm(const std::string& v) { return v; }
std::vector<long> norm(const Kyrocommon::LongSeq& v) {
  std::vector<long> r;
  for (CORBA::ULong i = 0; i < v.length(); ++i) r.push_back(v[i]);
  return r;
}

Kyrocommon::LongSeq longSeq(std::initializer_list<CORBA::Long> vals) {
  Kyrocommon::LongSeq s;
  s.length(static_cast<CORBA::ULong>(vals.size()));
  CORBA::ULong i = 0;
  for (CORBA::Long v : vals) s[i++] = v;
  return s;
}

// One attribute of one event type: how to set it and check it on a received event.
struct AttrCase {
  std::string label, name;
  CORBA::ULong offset;
  std::string typeName;
  std::function<EventBase()> makeWithValue;              // typed setter on a fresh event
  std::function<bool(const EventBase&)> readsBack;       // typed getter over a received event (may throw)
};

template <class E, class S, class R, class V>
AttrCase attr(const char* label, const char* name, CORBA::ULong offset, const char* typeName,
              void (E::*setter)(S), R (E::*getter)() const, V value) {
  return {label, name, offset, typeName,
          [=] {
            E ev;
            (ev.*setter)(value);
            return EventBase(ev);
          },
          [=](const EventBase& received) { return norm((E(received).*getter)()) == norm(value); }};
}

// One or two attributes of each value type and event type: the accessors are
// generated alike.
std::vector<AttrCase> allAttributes() {
  std::vector<AttrCase> v;
  using CC = CCommentChangedEvent;
  using SF = AlarmSaveFileEvent;
  using AC = CAlmConfirmEvent;
  v.push_back(attr("CCommentChangedEvent", "lCsn", 1, "CORBA::Long", &CC::setlCsn, &CC::getlCsn, CORBA::Long(-2147483647 - 1)));
  v.push_back(attr("AlarmSaveFileEvent", "FileName", 1, "const char*", &SF::setFileName, &SF::getFileName,
                   std::string("/var/fm/alarms \xE4\xB8\xAD.csv")));
  v.push_back(attr("AlarmSaveFileEvent", "ErrorMsg", 6, "const char*", &SF::setErrorMsg, &SF::getErrorMsg, std::string()));
  v.push_back(attr("CAlmConfirmEvent", "category", 0, "CORBA::Char", &AC::setcategory, &AC::getcategory, CORBA::Char('\xff')));
  v.push_back(attr("CAlmConfirmEvent", "devcsnseq", 3, "Kyrocommon::LongSeq", &AC::setdevcsnseq, &AC::getdevcsnseq,
                   longSeq({1, -5, 2147483647})));
  v.push_back(attr("CAlmConfirmEvent", "devcsnseq", 3, "Kyrocommon::LongSeq", &AC::setdevcsnseq, &AC::getdevcsnseq,
                   longSeq({})));
  return v;
}

TEST(EventTypesTest, EveryAttributeRoundTripsThroughChannelAndCdr) {
  Kyroem::EventSupplierProxy proxy(41, true, 1);
  for (const AttrCase& c : allAttributes()) {
    SCOPED_TRACE(c.label + "." + c.name);
    Collector col(41);
    EventBase sent = c.makeWithValue();
    ASSERT_EQ(proxy.doPushEvent(sent), 0);
    auto got = col.events();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].getAttributeName(c.offset), c.name);
    EXPECT_EQ(got[0].getAttributeName(got[0].getAttributeCount()), "");  // past the last: none
    EXPECT_EQ(got[0].findAttribute(c.name.c_str()), &got[0].getAttributeValue(c.offset));
    EXPECT_TRUE(c.readsBack(got[0]));
    EXPECT_TRUE(c.readsBack(throughCdr(got[0])));
  }
}

TEST(EventTypesTest, WrongTypeInAttributeRaisesMismatchNamingAttributeAndType) {
  for (const AttrCase& c : allAttributes()) {
    SCOPED_TRACE(c.label + "." + c.name);
    EventBase ev = c.makeWithValue();
    // Replace the value by one of another type, as a foreign sender might.
    if (c.typeName == "CORBA::Long") {
      ev.attributeValue(c.offset) <<= "20261205";
    } else {
      ev.attributeValue(c.offset) <<= CORBA::Long(20261205);
    }
    try {
      c.readsBack(ev);
      ADD_FAILURE() << "no mismatch raised";
    } catch (const Kyroem::EventAttributeTypeMismatch& ex) {
      EXPECT_EQ(ex.attributeName() + " " + ex.typeName(), c.name + " " + c.typeName);
    }
  }
}

TEST(EventTypesTest, ReceivedConfirmEventKeepsTypeAndAttributesBehindBaseAttributes) {
  EventBase bare;  // no attributes at all
  EXPECT_THROW(CAlmConfirmEvent(bare).getdevcsnseq(), Kyroem::EventAttributeTypeMismatch);
  EXPECT_EQ(bare.getAttributeCount(), 0u);  // reading does not grow the event
  Collector col(42);
  CAlmConfirmEvent ev;
  ev.setnefdn("NE=9");
  ev.setdate(20260101);
  CAlmConfirmEvent copy(ev);  // shares the body, copies the base index
  copy.settime(42);
  ASSERT_EQ(Kyroem::EventSupplierProxy(42, true, 1).doPushEvent(ev), 0);
  ev.setnefdn("changed after the push");
  auto got = col.events();
  ASSERT_EQ(got.size(), 1u);
  CAlmConfirmEvent view(got[0]);
  EXPECT_EQ(std::make_tuple(view.getEventType(), view.getnefdn(), view.getdate(), view.gettime()),
            std::make_tuple(std::string("CAlmConfirmEvent"), std::string("NE=9"), 20260101L, 42L));
  EXPECT_THROW(view.getcategory(), Kyroem::EventAttributeTypeMismatch);  // never set
}

TEST(EventTypesTest, PreprocessAttributeSeqIsStoredUnchanged) {
  EventForPreprocess ev;
  Kyrocommon::NameValueSeq seq;
  seq.length(2);
  seq[0].name = CORBA::string_dup("a");
  CORBA::Any payload;
  payload <<= seq;
  ev.setPreAttributeSeq(payload);
  const Kyrocommon::NameValueSeq* out = nullptr;
  CORBA::Any back = EventForPreprocess(throughCdr(ev)).getPreAttributeSeq();
  ASSERT_TRUE((back >>= out) && out->length() == 2u);
  EXPECT_EQ(std::string((*out)[0].name), "a");
}

// ---------------------------------------------------------------------------
// CCommonEventSender

std::list<FMNameValue_t> pairs(int n) {
  std::list<FMNameValue_t> l;
  for (int i = 0; i < n; ++i) l.emplace_back("name" + std::to_string(i), "value" + std::to_string(i));
  return l;
}

// Chunks of at most 200 pairs in order; empty lists and the reserved types 13
// and 14 send nothing (the single-event form has no reserved types).
TEST(CommonEventSenderTest, ChunksOfAtMost200PairsInOrder) {
  const std::tuple<long, int, std::vector<size_t>> cases[] = {
      {7, 1, {1}}, {7, 200, {200}}, {7, 201, {200, 1}}, {7, 450, {200, 200, 50}}, {7, 0, {}}, {13, 5, {}}, {14, 450, {}}};
  CCommonEventSender* sender = CCommonEventSender::instance();
  fmtest::TraceCapture quiet;
  for (const auto& [type, n, chunks] : cases) {
    SCOPED_TRACE(n);
    Collector col(0);
    EXPECT_EQ(sender->sendNameValueEvents("FMSource", "FMNameValue", type, pairs(n)),
              chunks.empty() ? FM_INVALID_ARG : FM_SUCCESS);
    auto got = col.events();
    ASSERT_EQ(got.size(), chunks.size());
    int next = 0;
    for (size_t e = 0; e < got.size(); ++e) {
      Kyroem::NameValueEvent nv(got[e]);
      EXPECT_EQ(std::make_tuple(nv.getPartition(), nv.getSourceClass(), nv.getEventType(), nv.getType()),
                std::make_tuple(0L, std::string("FMSource"), std::string("FMNameValue"), type));
      Kyrocommon::NameValueSeq seq = nv.getNameValueSeq();
      ASSERT_EQ(seq.length(), chunks[e]);
      for (CORBA::ULong i = 0; i < seq.length(); ++i, ++next) {
        ASSERT_EQ(std::string(seq[i].name) + seq[i].value.in(), "name" + std::to_string(next) + "value" + std::to_string(next));
      }
    }
  }
  Collector col(0);
  EXPECT_EQ(sender->sendNameValueEvent("S", "T", 13, pairs(2)), FM_SUCCESS);
  EXPECT_EQ(col.events().size(), 1u);
}

TEST(CommonEventSenderTest, FailedPushIsLoggedAndReportedByForm) {
  CCommonEventSender* sender = CCommonEventSender::instance();
  fmtest::TraceCapture cap;
  EventChannel::instance()->setAvailable(false);
  // The batch form swallows the failure, the single-event form reports it.
  EXPECT_EQ(sender->sendNameValueEvents("S", "T", 1, pairs(401)), FM_SUCCESS);
  EXPECT_EQ(cap.count("func:CCommonEventSender::sendNameValueEvent doPushEvent Send Fail:1", TRACE_ERROR), 3u);
  EventBase ev;
  EXPECT_EQ(sender->sendEMEvent(ev, "CFdnManager::DelFdn"), FM_FAILURE);
  EventChannel::instance()->setAvailable(true);
  EXPECT_EQ(sender->sendEMEvent(ev, "CFdnManager::DelFdn"), FM_SUCCESS);
  Kyroem::EventSupplierProxy consumerOnly(0, false, 1);
  EXPECT_EQ(CCommonEventSender::sendEMEvent(nullptr, ev, "x"), FM_FAILURE);
  EXPECT_EQ(CCommonEventSender::sendEMEvent(&consumerOnly, ev, "CAlarmExpOperator::sendEvent"), FM_FAILURE);
}

// The service starts stopping while the first chunk is delivered: sending
// ends between chunks, and nothing goes out while it is stopping.
TEST(CommonEventSenderTest, StoppingServiceEndsSendingBetweenChunks) {
  CCommonEventSender* sender = CCommonEventSender::instance();
  Kyrofmdb::CFMServiceFlag* flag = Kyrofmdb::CFMServiceFlag::instance();
  fmtest::TraceCapture quiet;
  int seen = 0;
  auto sub = EventChannel::instance()->subscribe(0, [&](const EventBase&) {
    if (++seen == 1) flag->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_STOPPING);
  });
  EXPECT_EQ(sender->sendNameValueEvents("S", "T", 1, pairs(450)), FM_SUCCESS);
  EXPECT_EQ(sender->sendNameValueEvents("S", "T", 1, pairs(3)), FM_SUCCESS);
  EXPECT_EQ(seen, 1);
  flag->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_RUNNING);
  EXPECT_EQ(sender->sendNameValueEvents("S", "T", 1, pairs(3)), FM_SUCCESS);
  EXPECT_EQ(seen, 2);
}

// ---------------------------------------------------------------------------
// Channel behaviour under several threads.

// Senders on several threads, through the shared sender and straight through a
// proxy, while subscribers come and go: nothing lost or duplicated.
TEST(EventChannelConcurrencyTest, ParallelSendersLoseAndDuplicateNothing) {
  std::atomic<long> events{0}, pairsSeen{0}, direct{0};
  auto sub = EventChannel::instance()->subscribe(0, [&](const EventBase& ev) {
    Kyroem::NameValueEvent nv(ev);
    if (nv.getSourceClass() != "ConcurrencySource") return;
    ++events;
    pairsSeen += nv.getNameValueSeq().length();
  });
  auto sub43 = EventChannel::instance()->subscribe(43, [&](const EventBase&) { ++direct; });
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      auto other = EventChannel::instance()->subscribe(0, [](const EventBase&) {});
      auto elsewhere = EventChannel::instance()->subscribe(44, [](const EventBase&) {});
    }
  });
  std::vector<CCommonEventSender*> seen(4, nullptr);
  fmtest::runTogether(4, [&](int t) {
    const std::list<FMNameValue_t> l = pairs(450);
    Kyroem::EventSupplierProxy proxy(43, true, 1);
    for (int i = 0; i < 5; ++i) {
      seen[t] = CCommonEventSender::instance();
      EXPECT_EQ(seen[t]->sendNameValueEvents("ConcurrencySource", "T", 1, l), FM_SUCCESS);
      for (int k = 0; k < 20; ++k) EXPECT_EQ(proxy.doPushEvent(EventBase()), 0);
    }
  });
  stop = true;
  churn.join();
  for (CCommonEventSender* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_EQ(events.load(), 4 * 5 * 3);
  EXPECT_EQ(pairsSeen.load(), 4 * 5 * 450);
  EXPECT_EQ(direct.load(), 4 * 5 * 20);
}

TEST(EventChannelConcurrencyTest, ResetWaitsForCallbackInFlight) {
  std::atomic<int> inside{0}, calls{0};
  std::atomic<bool> overlap{false};
  auto sub = EventChannel::instance()->subscribe(45, [&](const EventBase&) {
    if (inside.fetch_add(1) != 0) overlap = true;  // one subscriber's calls never overlap
    ++calls;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    --inside;
  });
  std::atomic<bool> stop{false};
  std::vector<std::thread> pushers;
  for (int t = 0; t < 2; ++t)
    pushers.emplace_back([&] {
      Kyroem::EventSupplierProxy proxy(45, true, 1);
      EventBase ev;
      while (!stop.load()) proxy.doPushEvent(ev);
    });
  while (calls.load() < 20) std::this_thread::yield();
  sub.reset();
  EXPECT_EQ(inside.load(), 0);
  int after = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(calls.load(), after);
  stop = true;
  for (auto& th : pushers) th.join();
  EXPECT_FALSE(overlap.load());
}

TEST(EventChannelConcurrencyTest, ThrowingOrSelfRemovingSubscriberDoesNotStopDelivery) {
  fmtest::TraceCapture cap;
  int good = 0, once = 0;
  auto bad = EventChannel::instance()->subscribe(46, [](const EventBase&) { throw std::runtime_error("boom"); });
  EventChannel::Subscription self;
  self = EventChannel::instance()->subscribe(46, [&](const EventBase&) {
    ++once;
    self.reset();
  });
  auto ok = EventChannel::instance()->subscribe(46, [&](const EventBase&) { ++good; });
  Kyroem::EventSupplierProxy proxy(46, true, 1);
  EventBase ev;
  EXPECT_EQ(proxy.doPushEvent(ev), 0);
  EXPECT_EQ(proxy.doPushEvent(ev), 0);
  EXPECT_EQ(good, 2);
  EXPECT_EQ(once, 1);
  EXPECT_TRUE(cap.contains("boom", TRACE_ERROR));
}

}  // namespace
}  // namespace Kyrofm
