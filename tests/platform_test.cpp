// Tests of the platform layer: trace client and alarm record.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "fm_common/platform/AlmRecord.h"
#include "fm_common/platform/KyroTrace.h"
#include "support/FmTestSupport.h"

namespace Kyrofm {
namespace {

TEST(KyroTraceTest, FormatsBodyAndFiltersByLevel) {
  fmtest::TraceCapture cap;
  KyroTrace::setMinLevel(TRACE_PROGRESS);
  FM_TRACE(TRACE_DETAIL, "hidden %d", 1);
  FM_TRACE(TRACE_ERROR, "CFdnManager::BatchInsert error %s %ld", "x", 42L);
  auto msgs = cap.sink().messages();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].text, "CFdnManager::BatchInsert error x 42");
  EXPECT_EQ(msgs[0].module, FM_MODULE);
  EXPECT_EQ(msgs[0].level, TRACE_ERROR);
}

TEST(KyroTraceTest, LongBodiesAreNotTruncated) {
  fmtest::TraceCapture cap;
  std::string big(5000, 'x');
  FM_TRACE(TRACE_ERROR, "%s!", big.c_str());
  ASSERT_EQ(cap.sink().messages().size(), 1u);
  EXPECT_EQ(cap.sink().messages()[0].text.size(), 5001u);
}

TEST(KyroTraceTest, FunctionGuardAndLongTrace) {
  fmtest::TraceCapture cap;
  {
    FM_FUNC_TRACE("neAlmSeqToList");
    KyroLongTrace lt(TRACE_PROGRESS, "ids", 10);
    for (int i = 0; i < 6; ++i) lt.add(i * 100);
  }
  auto msgs = cap.sink().messages();
  ASSERT_GE(msgs.size(), 4u);
  EXPECT_EQ(msgs.front().text, "enter neAlmSeqToList");
  EXPECT_EQ(msgs.back().text, "leave neAlmSeqToList");
  // Chunks of at most 10 characters of items: every item appears exactly once.
  std::string all;
  for (const auto& m : msgs) all += m.text + "|";
  for (int i = 1; i < 6; ++i) EXPECT_EQ(cap.count(std::to_string(i * 100)), 1u) << all;
}

TEST(KyroTraceConcurrency, ConcurrentTracing) {
  fmtest::TraceCapture cap;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) FM_TRACE(TRACE_WARNING, "thread %d msg %d", t, i);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(cap.sink().messages().size(), 800u);
}

TEST(AlmRecordTest, CopiesAreIndependentAndParamSixIsGroup) {
  AlmRecord_t a;
  a.setGroupId(12);
  a.setMoDn("NE=1,Shelf=2");
  a.setSeverity(3);
  a.setIntExtParam(0, 16, 99);
  a.setStrExtParam(1, 3, "root");
  a.setParam(8, 5);
  AlmRecord_t b = a;
  b.setStrExtParam(1, 3, "other");
  b.setParam(6, 13);
  EXPECT_EQ(a.getParam(6), 12);
  EXPECT_EQ(b.getGroupId(), 13);
  EXPECT_STREQ(a.getStrExtParam(1, 3), "root");
  EXPECT_STREQ(a.getStrExtParam(5, 5), "");
  EXPECT_EQ(b.getIntExtParam(0, 16), 99);
  EXPECT_EQ(b.getParam(8), 5);
  EXPECT_EQ(a.getParam(0), 0);
  EXPECT_EQ(a.getParam(11), 0);
  EXPECT_EQ(a.getLevel(), 3);
}

TEST(AlmRecordTest, CombinedStatus) {
  EXPECT_EQ(AlmRecord_t::getStatus(0, 0), 1);
  EXPECT_EQ(AlmRecord_t::getStatus(0, 1), 2);
  EXPECT_EQ(AlmRecord_t::getStatus(1, 0), 3);
  EXPECT_EQ(AlmRecord_t::getStatus(1, 1), 4);
  EXPECT_EQ(AlmRecord_t::getStatus(2, 0), 0);
}

TEST(AlmRecordTest, FieldPropertiesCoverTheMetadata) {
  auto* pm = XRFMAlarmFieldPropManager::instance();
  const auto* p = pm->getProp(6, 0, 16);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getDbName(), "IntExt0_16");
  ASSERT_NE(pm->getProp(7, 1, 3), nullptr);
  EXPECT_EQ(pm->getProp(7, 1, 3)->getDbName(), "StrExt1_3");
  EXPECT_EQ(pm->getProp(7, 9, 0), nullptr);
  EXPECT_EQ(pm->getProp(6, 0, AlmRecord_t::intExtMetadata.getColumnCount(0)), nullptr);
  EXPECT_EQ(pm->getProp(5, 0, 0), nullptr);
}

}  // namespace
}  // namespace Kyrofm
