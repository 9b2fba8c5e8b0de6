// Tests of the event channel, the fault-management event types and the
// name/value event sender.
#include <gtest/gtest.h>

#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <list>
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

// Values of each value type (char, string, long sequence, long) come back
// through the channel and through CDR; a value never set or missing raises a
// mismatch instead of reading as zero.
TEST(EventTypesTest, ReceivedEventKeepsTypeAndEveryValueType) {
  EventBase bare;  // no attributes at all
  EXPECT_THROW(CAlmConfirmEvent(bare).getdevcsnseq(), Kyroem::EventAttributeTypeMismatch);
  EXPECT_THROW(AlarmSaveFileEvent(bare).getFileName(), Kyroem::EventAttributeTypeMismatch);
  EXPECT_THROW(CCommentChangedEvent(bare).getlCsn(), Kyroem::EventAttributeTypeMismatch);
  EXPECT_EQ(bare.getAttributeCount(), 0u);  // reading does not grow the event
  std::vector<EventBase> received;
  auto sub = EventChannel::instance()->subscribe(42, [&received](const EventBase& e) { received.push_back(e); });
  CAlmConfirmEvent ev;
  ev.setcategory(CORBA::Char('\xff'));
  ev.setnefdn("NE=9 \xE4\xB8\xAD");
  ev.setdevcsnseq(longSeq({1, -5, 2147483647}));
  ev.setdate(-2147483647 - 1);
  CAlmConfirmEvent copy(ev);  // shares the body, copies the base index
  copy.settime(42);
  ASSERT_EQ(Kyroem::EventSupplierProxy(42, true, 1).doPushEvent(ev), 0);
  ev.setnefdn("changed after the push");
  ASSERT_EQ(received.size(), 1u);
  for (const EventBase& got : {received[0], throughCdr(received[0])}) {
    CAlmConfirmEvent view(got);
    EXPECT_EQ(std::make_tuple(view.getEventType(), static_cast<unsigned char>(view.getcategory()), view.getnefdn(),
                              norm(view.getdevcsnseq()), view.getdate(), view.gettime()),
              std::make_tuple(std::string("CAlmConfirmEvent"), static_cast<unsigned char>(255),
                              std::string("NE=9 \xE4\xB8\xAD"), std::vector<long>{1, -5, 2147483647}, -2147483647L - 1,
                              42L));
    EXPECT_EQ(got.findAttribute("devcsnseq"), &got.getAttributeValue(3));
    EXPECT_EQ(got.getAttributeName(got.getAttributeCount()), "");  // past the last: none
    EXPECT_THROW(view.gettype(), Kyroem::EventAttributeTypeMismatch);  // never set
  }
  // An attribute holding any value keeps it as it is.
  EventForPreprocess pre;
  CORBA::Any payload;
  payload <<= longSeq({7});
  pre.setPreAttributeSeq(payload);
  const Kyrocommon::LongSeq* out = nullptr;
  EXPECT_TRUE((EventForPreprocess(throughCdr(pre)).getPreAttributeSeq() >>= out) && norm(*out) == std::vector<long>{7});
}

// ---------------------------------------------------------------------------
// CCommonEventSender

std::list<FMNameValue_t> pairs(int n) {
  std::list<FMNameValue_t> l;
  for (int i = 0; i < n; ++i) l.emplace_back("name" + std::to_string(i), "value" + std::to_string(i));
  return l;
}

// Chunks of at most 200 pairs in order; empty lists and the reserved types 13
// and 14 send nothing.
TEST(CommonEventSenderTest, ChunksOfAtMost200PairsInOrder) {
  const std::tuple<long, int, std::vector<size_t>> cases[] = {
      {7, 200, {200}}, {7, 401, {200, 200, 1}}, {7, 0, {}}, {13, 5, {}}, {14, 450, {}}};
  CCommonEventSender* sender = CCommonEventSender::instance();
  fmtest::TraceCapture quiet;
  for (const auto& [type, n, chunks] : cases) {
    SCOPED_TRACE(n);
    std::vector<EventBase> got;
    auto sub = EventChannel::instance()->subscribe(0, [&got](const EventBase& ev) { got.push_back(ev); });
    EXPECT_EQ(sender->sendNameValueEvents("FMSource", "FMNameValue", type, pairs(n)),
              chunks.empty() ? FM_INVALID_ARG : FM_SUCCESS);
    ASSERT_EQ(got.size(), chunks.size());
    int next = 0;
    for (size_t e = 0; e < got.size(); ++e) {
      Kyroem::NameValueEvent nv(got[e]);
      EXPECT_EQ(nv.getSourceClass() + std::to_string(nv.getType()), "FMSource" + std::to_string(type));
      Kyrocommon::NameValueSeq seq = nv.getNameValueSeq();
      ASSERT_EQ(seq.length(), chunks[e]);
      for (CORBA::ULong i = 0; i < seq.length(); ++i, ++next) {
        ASSERT_EQ(std::string(seq[i].name) + seq[i].value.in(), "name" + std::to_string(next) + "value" + std::to_string(next));
      }
    }
  }
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
  flag->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_RUNNING);
  EXPECT_EQ(seen, 1);
}

// ---------------------------------------------------------------------------
// Channel behaviour under several threads.

// Senders on several threads while subscribers come and go: nothing lost or
// duplicated.
TEST(EventChannelConcurrencyTest, ParallelSendersLoseAndDuplicateNothing) {
  std::atomic<long> events{0}, pairsSeen{0};
  auto sub = EventChannel::instance()->subscribe(0, [&](const EventBase& ev) {
    Kyroem::NameValueEvent nv(ev);
    if (nv.getSourceClass() != "ConcurrencySource") return;
    ++events;
    pairsSeen += nv.getNameValueSeq().length();
  });
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      auto other = EventChannel::instance()->subscribe(0, [](const EventBase&) {});
      auto elsewhere = EventChannel::instance()->subscribe(44, [](const EventBase&) {});
    }
  });
  fmtest::runTogether(3, [&](int) {
    const std::list<FMNameValue_t> l = pairs(401);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(CCommonEventSender::instance()->sendNameValueEvents("ConcurrencySource", "T", 1, l), FM_SUCCESS);
    }
  });
  stop = true;
  churn.join();
  EXPECT_EQ(events.load(), 3 * 3 * 3);
  EXPECT_EQ(pairsSeen.load(), 3 * 3 * 401);
}

TEST(EventChannelConcurrencyTest, ResetWaitsForCallbackInFlight) {
  std::atomic<int> inside{0}, calls{0};
  auto sub = EventChannel::instance()->subscribe(45, [&](const EventBase&) {
    ++inside;
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
