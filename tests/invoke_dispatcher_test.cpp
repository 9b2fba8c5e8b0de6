// Tests of the named-operation dispatcher: routing by full name, unknown names, refused
// registrations, and callers on several threads while services register; every service is freed.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "fm_common/fmcommon/XRFMCommonInvoke.h"
#include "fm_common/platform/FMResult.h"

namespace Kyrofm {
namespace {

std::atomic<int> g_live{0};

// Answers with one property named after the service and method, value = the caller's user id.
class EchoService : public XRFMCommonInvokeService {
 public:
  explicit EchoService(const std::string& name) : XRFMCommonInvokeService(name) {
    ++g_live;
    addMethod("query", &EchoService::query);
    addMethod("fail", &EchoService::fail);
  }
  ~EchoService() override { --g_live; }
  long query(const ITOpInfo& op, const CorbaCommParam& in, CorbaCommParam*& out) {
    out = new CorbaCommParam(in);
    out->props.length(in.props.length() + 1);
    out->props[in.props.length()].name = (getName() + ".query").c_str();
    out->props[in.props.length()].value <<= static_cast<CORBA::LongLong>(op.userId);
    return 5;
  }
  long fail(const ITOpInfo&, const CorbaCommParam&, CorbaCommParam*&) { throw std::runtime_error("boom"); }
};

TEST(InvokeDispatcherTest, RoutesByFullNameAndRefusesClashes) {
  {
    XRFMCommonInvokeDispatcher d;
    EXPECT_EQ(d.registerService(new EchoService("Alarm")), FM_SUCCESS);
    EXPECT_EQ(d.registerService(new EchoService("Alarm")), FM_INVALID_ARG);  // same name: deleted
    EXPECT_EQ(d.registerService(nullptr), FM_INVALID_ARG);
    auto* dup = new EchoService("Twice");
    dup->addMethod("query", &EchoService::query);
    EXPECT_EQ(d.registerService(dup), FM_INVALID_ARG);
    EXPECT_EQ(g_live.load(), 1);
    EXPECT_EQ(d.methodCount(), 2u);
    ITOpInfo op;
    op.userId = 42;
    CorbaCommParam in;
    const struct { const char* name; long rc; CORBA::ULong props; } cases[] = {
        {"Alarm.query", FM_SUCCESS, 1},  // not the operation's own 5
        {"Alarm.fail", FM_FAILURE, 0},   // a throwing operation still answers
        {"query", FM_METHOD_NOT_FOUND, 0}, {"Alarm.", FM_METHOD_NOT_FOUND, 0},
        {"Alarm.query.x", FM_METHOD_NOT_FOUND, 0}, {"alarm.query", FM_METHOD_NOT_FOUND, 0}, {"", FM_METHOD_NOT_FOUND, 0}};
    for (const auto& k : cases) {
      CorbaCommParam* out = nullptr;
      EXPECT_EQ(d.invoke(op, k.name, in, out), k.rc) << k.name;
      ASSERT_NE(out, nullptr);
      std::unique_ptr<CorbaCommParam> owned(out);
      ASSERT_EQ(out->props.length(), k.props) << k.name;
      CORBA::LongLong v = 0;
      EXPECT_TRUE(!k.props || (std::string(out->props[0].name) == "Alarm.query" && (out->props[0].value >>= v) && v == 42));
    }
  }
  EXPECT_EQ(g_live.load(), 0);
}

TEST(InvokeDispatcherTest, ConcurrencyOfCallersAndRegistrations) {
  {
    XRFMCommonInvokeDispatcher d;
    ASSERT_EQ(d.registerService(new EchoService("S0")), FM_SUCCESS);
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
      callers.emplace_back([&, t] {
        ITOpInfo op;
        op.userId = t;
        CorbaCommParam in;
        for (int i = 0; i < 3000 || !stop; ++i) {
          const std::string name = i % 3 == 0 ? "S0.query" : "S" + std::to_string(i % 40) + (i % 2 ? ".query" : ".nope");
          CorbaCommParam* out = nullptr;
          const long rc = d.invoke(op, name, in, out);
          CORBA::LongLong v = -1;
          const bool ok = rc == FM_SUCCESS ? out->props.length() == 1 && (out->props[0].value >>= v) && v == t
                                           : rc == FM_METHOD_NOT_FOUND && out->props.length() == 0;
          if (!ok || (name == "S0.query" && rc != FM_SUCCESS)) ++wrong;
          delete out;
          if (i > 100000) break;
        }
      });
    }
    for (int s = 1; s < 40; ++s) EXPECT_EQ(d.registerService(new EchoService("S" + std::to_string(s))), FM_SUCCESS);
    stop = true;
    for (auto& th : callers) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(d.serviceCount(), 40u); EXPECT_EQ(d.methodCount(), 80u);
  }
  EXPECT_EQ(g_live.load(), 0);
}

}  // namespace
}  // namespace Kyrofm
