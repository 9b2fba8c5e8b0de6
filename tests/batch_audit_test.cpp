// Exclusive categories and batch audit entries: category races, waits that end,
// entries written once whichever end comes first (close, time-out, replacement,
// shutdown; time driven by tick()), and the forms of the audit records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <string>
#include <tuple>
#include <functional>
#include <memory>
#include <thread>

#include <dirent.h>

#include "fm_common/audit/BatchOperAuditMgr.h"
#include "fm_common/audit/OperStatusInfoMgr.h"
#include "fm_common/platform/FMDBMaintain.h"
#include "support/FmTestSupport.h"

using namespace Kyrofm;

namespace {

size_t threadCount() {
  size_t n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// Runs f and g on two threads released together.
void race(const std::function<void()>& f, const std::function<void()>& g) {
  fmtest::runTogether(2, [&](int i) { i ? g() : f(); });
}

// A manager with its timer thread running; manual: its time is tick().
std::unique_ptr<CBatchOperAuditMgr> started(bool manual) {
  CFMAudit::clearEntries();
  auto mgr = std::make_unique<CBatchOperAuditMgr>();
  mgr->setManualTick(manual);
  EXPECT_EQ(33000, mgr->Init());
  EXPECT_EQ(0, mgr->open());
  return mgr;
}

}  // namespace

TEST(OperStatusConcurrency, OneOfTwoRacersTakesTheCategory) {
  for (int round = 0; round < 200; ++round) {
    long codes[2];
    race([&] { codes[0] = COperStatusInfoMgr::getStatus(604, 33552); },
         [&] { codes[1] = COperStatusInfoMgr::getStatus(604, 33552); });
    ASSERT_EQ(std::min(codes[0], codes[1]), 33000) << round;
    ASSERT_EQ(std::max(codes[0], codes[1]), 33552) << round;
    COperStatusInfoMgr::setStatusIdle(604);
  }
}

TEST(OperStatusConcurrency, WaitsEndWhenGivenBackOrStopping) {
  fmtest::TraceCapture cap;
  auto waitUntilPolled = [&](size_t polls) {  // the waiter found the category busy `polls` times
    while (cap.count("waitStatusIdle will sleep(1), oper=1") < polls) std::this_thread::yield();
  };
  ASSERT_EQ(33000, COperStatusInfoMgr::getStatus(1, 33990));
  EXPECT_EQ(33002, COperStatusInfoMgr::waitStatusIdle(1, 0));  // out of tries: the holder keeps it
  EXPECT_EQ(33990, COperStatusInfoMgr::getStatus(1, 33990));
  long waited = 0;
  std::thread waiter([&] { waited = COperStatusInfoMgr::waitStatusIdleAndSetBusy(1); });
  waitUntilPolled(1);
  COperStatusInfoMgr::setStatusIdle(1);
  waiter.join();
  EXPECT_EQ(33000, waited);
  EXPECT_EQ(33990, COperStatusInfoMgr::getStatus(1, 33990));  // now the waiter's

  std::thread stopped([&] { waited = COperStatusInfoMgr::waitStatusIdle(1, -1); });
  waitUntilPolled(2);
  Kyrofmdb::CFMServiceFlag::instance()->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_STOPPING);
  stopped.join();
  EXPECT_EQ(33002, waited);
  EXPECT_EQ(33002, COperStatusInfoMgr::waitStatusIdleAndSetBusy(1));
  Kyrofmdb::CFMServiceFlag::instance()->setServiceStatus(Kyrofmdb::CFMServiceFlag::SERVICE_RUNNING);
  COperStatusInfoMgr::setStatusIdle(1);
  EXPECT_EQ(33000, COperStatusInfoMgr::waitStatusIdle(1, 3));
  EXPECT_EQ(33000, COperStatusInfoMgr::getStatus(1, 33990));  // waitStatusIdle left it free
  COperStatusInfoMgr::setStatusIdle(1);
}

TEST(BatchAuditConcurrency, CloseAndTimeoutInTheSameSecondWriteOnce) {
  auto owner = started(true);
  CBatchOperAuditMgr& mgr = *owner;
  for (unsigned long s = 1; s <= 200; ++s) {
    const std::wstring target = L"obj" + std::to_wstring(s);
    ASSERT_EQ(33000, mgr.initAuditInfo(s, "tok", 1, 1, 1)) << s;  // the category came back
    ASSERT_EQ(33000, mgr.setOperateAuditInfo(s, 1, 33001, 1, 0, target, ""));
    long closed = 0;
    race([&] { closed = mgr.delAuditInfo(s, 1, 33000); }, [&] { mgr.tick(); });
    mgr.tick();
    ASSERT_EQ(s, CFMAudit::getEntryCount());  // one record per entry
    const CFMAuditEntry a = CFMAudit::getEntries().back();
    EXPECT_EQ(std::make_tuple(closed == 33000 ? 33000L : 33002L, CFMAuditEntry::SINGLE, 11u, target),
              std::make_tuple(a.m_lCode, a.m_kind, a.m_uItemType, a.m_wstrTarget));
  }
  EXPECT_EQ(33002, mgr.delAuditInfo(1, 1, 33000));
}

TEST(BatchAuditConcurrency, TimeoutsFlushAndCaps) {
  auto owner = started(true);
  CBatchOperAuditMgr& mgr = *owner;
  struct { int type; int timeout; int ticks; } cases[] = {{401, 5000, 3600}, {100, 5000, 300}, {600, 3, 3}};
  for (auto& c : cases) {
    ASSERT_EQ(33000, mgr.initAuditInfo(9, "tok", c.type, c.timeout, 4));
    for (int i = 1; i < c.ticks; ++i) mgr.tick();
    if (c.ticks == 3) {  // a flush restarts the full time-out
      EXPECT_EQ(33000, mgr.flushAuditInfo(9, c.type));
      for (int i = 1; i < c.ticks; ++i) mgr.tick();
    }
    EXPECT_EQ(1u, mgr.getPendingCount()) << c.type;
    mgr.tick();
    EXPECT_EQ(0u, mgr.getPendingCount()) << c.type;
  }
  EXPECT_EQ(33002, mgr.flushAuditInfo(9, 600));
  auto audits = CFMAudit::getEntries();
  ASSERT_EQ(3u, audits.size());
  for (auto& a : audits) EXPECT_EQ(std::make_pair(CFMAuditEntry::BATCH, 33002L), std::make_pair(a.m_kind, a.m_lCode));
}

TEST(BatchAuditConcurrency, ShutdownWritesPendingOnceAndJoins) {
  const size_t before = threadCount();
  {
    auto owner = started(false);
    CBatchOperAuditMgr& mgr = *owner;
    EXPECT_TRUE(mgr.isRunning());
    ASSERT_EQ(33000, mgr.initAuditInfo(5, "tok", 15, 1, 2));  // forgotten: the real timer ends it
    for (int i = 0; i < 500 && mgr.getPendingCount() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(1u, CFMAudit::getEntryCount());
    ASSERT_EQ(33000, mgr.initAuditInfo(1, "tok", 200, 300, 1));
    ASSERT_EQ(33000, mgr.initAuditInfo(2, "tok", 401, 300, 1));
    ASSERT_EQ(33000, mgr.setOperateAuditInfo(2, 401, 33001, 0, 1, L"ne", ""));
    EXPECT_EQ(33992, mgr.initAuditInfo(3, "tok", 202, 300, 1));  // busy: audited, not kept
    EXPECT_EQ(33992, mgr.initAuditInfo(4, "tok", 201, 300, 1));  // the refusal released nothing
    EXPECT_EQ(33104, mgr.initAuditInfo(5, "tok", 7, 300, 1));
    std::thread closer([&] { mgr.cleanup(); });
    mgr.cleanup();
    closer.join();
    EXPECT_FALSE(mgr.isRunning());
    EXPECT_EQ(0u, mgr.getPendingCount());
  }
  EXPECT_EQ(before, threadCount());
  auto audits = CFMAudit::getEntries();
  ASSERT_EQ(5u, audits.size());
  EXPECT_EQ(std::make_tuple(CFMAuditEntry::BATCH, 33002L), std::make_tuple(audits[0].m_kind, audits[0].m_lCode));
  EXPECT_EQ(std::make_tuple(33992L, 202u), std::make_tuple(audits[1].m_lCode, audits[1].m_uItemType));
  EXPECT_EQ(std::make_tuple(33000L, 10u), std::make_tuple(audits[3].m_lCode, audits[3].m_uItemType));
  EXPECT_EQ(std::make_tuple(33001L, 12u, std::wstring(L"ne")),
            std::make_tuple(audits[4].m_lCode, audits[4].m_uItemType, audits[4].m_wstrTarget));
  EXPECT_EQ(std::make_pair(std::wstring(L"ADD_Alm_Shield_Attr"), std::string("vela_audit")),
            std::make_pair(audits[3].m_info.m_wstrOperation, audits[3].m_info.m_strSource));
  EXPECT_EQ(33000, COperStatusInfoMgr::getStatus(204, 33992));  // every category came back
  EXPECT_EQ(33000, COperStatusInfoMgr::getStatus(401, 33997));
  COperStatusInfoMgr::setStatusIdle(204), COperStatusInfoMgr::setStatusIdle(401);
}

TEST(BatchAudit, RecordForms) {
  CFMAudit::clearEntries();
  CBatchOperAuditMgr mgr;  // never started: no timer
  struct { int type; unsigned total, ok, bad; long code; CFMAuditEntry::Kind kind; long wrote; unsigned item; } cases[] = {
      {15, 1, 0, 0, 33002, CFMAuditEntry::SINGLE, 33002, 11}, {201, 1, 1, 0, 33002, CFMAuditEntry::SINGLE, 33000, 10},
      {601, 1, 1, 1, 33002, CFMAuditEntry::SINGLE, 33002, 8}, {201, 5, 4, 1, 33001, CFMAuditEntry::BATCH_TARGET, 33001, 0},
      {601, 5, 0, 5, 33002, CFMAuditEntry::BATCH, 33002, 0}, {202, 5, 5, 0, 33000, CFMAuditEntry::BATCH_TARGET, 33000, 0},
      {602, 5, 0, 5, 33002, CFMAuditEntry::BATCH, 33002, 0}, {1, 3, 3, 0, 33000, CFMAuditEntry::BATCH, 33000, 0},
  };
  for (auto& c : cases) {
    ASSERT_EQ(33000, mgr.initAuditInfo(1, "tok", c.type, 60, c.total));
    ASSERT_EQ(33000, mgr.setOperateAuditInfo(1, c.type, c.code, c.ok, c.bad, L"t", ""));
    ASSERT_EQ(33000, mgr.delAuditInfo(1, c.type, c.code));
    auto a = CFMAudit::getEntries().back();
    EXPECT_EQ(std::make_tuple(c.kind, c.wrote, c.item, c.total > 1 ? c.bad : 0u),
              std::make_tuple(a.m_kind, a.m_lCode, a.m_uItemType, a.m_uFailed)) << c.type << "/" << c.total;
  }
  ASSERT_EQ(33000, mgr.initAuditInfo(1, "tok", 200, 60, 1));
  ASSERT_EQ(33000, mgr.setOperateAuditInfo(1, 200, 33000, 1, 0, L"r", std::list<AlmShieldAttr_t>{{1, "a"}, {2, "b"}}));
  ASSERT_EQ(33000, mgr.setOperateAuditInfo(1, 200, 33002, 0, 0, L"r2", std::list<AlmShieldAttr_t>{{1, "c"}}));
  ASSERT_EQ(33000, mgr.delAuditInfo(1, 200, 33001));
  auto shield = CFMAudit::getEntries().back();  // the first target and detail stay
  EXPECT_EQ(std::make_tuple(33000L, std::wstring(L"r"), std::wstring(L"AuditItem1: a\nAuditItem2: b")),
            std::make_tuple(shield.m_lCode, shield.m_wstrTarget, shield.m_info.m_wstrDetail));
  ASSERT_EQ(33000, mgr.initAuditInfo(1, "tok", 1, 60, 0));
  ASSERT_EQ(33000, mgr.initAuditInfo(1, "tok", 1, 60, 0));  // replaced: a total of 0 writes nothing
  EXPECT_EQ(9u, CFMAudit::getEntryCount());

  CFMAudit::clearEntries();
  struct { long result; unsigned total; const char* op; CFMAuditEntry::Kind kind; int flag; std::string extra; } scoped[] = {
      {33101, 1, "x", CFMAuditEntry::RIGHT_FAIL, 0, ""}, {33000, 1, "Manu_Send_Notify", CFMAuditEntry::SINGLE, 0, ""},
      {33000, 1, "x", CFMAuditEntry::SINGLE, 1, ""}, {33001, 4, "Manu_Send_Notify", CFMAuditEntry::BATCH, 0, "AuditItem3ne"},
      {33001, 0, "x", CFMAuditEntry::SINGLE, -1, ""},
  };
  for (auto& s : scoped) {
    { tagFMAuditInfo a(s.total, 3, L"ne", s.op, new CAuditInfo()); a.setResult(s.result, 1, 2); }
    if (s.flag == -1) { EXPECT_EQ(4u, CFMAudit::getEntryCount()); continue; }
    auto e = CFMAudit::getEntries().back();
    EXPECT_EQ(std::make_tuple(s.kind, s.result, s.extra), std::make_tuple(e.m_kind, e.m_lCode, e.m_strExtra));
    EXPECT_EQ(s.kind == CFMAuditEntry::SINGLE ? s.flag : 0, e.m_iFlag);
    EXPECT_EQ(s.kind == CFMAuditEntry::BATCH ? std::make_pair(2u, 1u) : std::make_pair(0u, 0u),
              std::make_pair(e.m_uFailed, e.m_uSucceeded));
  }
}
