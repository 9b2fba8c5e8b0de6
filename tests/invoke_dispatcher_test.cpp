// Named-operation dispatcher: routing by full name, unknown names, refused registrations, concurrent callers.
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

// query answers with one property "<service>.query" = the caller's user id; `twice` adds query again.
class EchoService : public XRFMCommonInvokeService {
 public:
  explicit EchoService(const std::string& name, bool twice = false) : XRFMCommonInvokeService(name) {
    ++g_live, addMethod("query", &EchoService::query), addMethod(twice ? "query" : "fail", &EchoService::fail);
  }
  ~EchoService() override { --g_live; }
  long query(const ITOpInfo& op, const CorbaCommParam&, CorbaCommParam*& out) {
    (out = new CorbaCommParam())->props.length(1);
    out->props[0].name = (getName() + ".query").c_str(), out->props[0].value <<= CORBA::LongLong(op.userId);
    return 5;
  }
  long fail(const ITOpInfo&, const CorbaCommParam&, CorbaCommParam*&) { throw std::runtime_error("boom"); }
};

// The answer of one call: its code, and whether the output is what that code promises.
long call(XRFMCommonInvokeDispatcher& d, const std::string& name, long user, bool& outOk) {
  ITOpInfo op;
  CorbaCommParam* out = nullptr;
  op.userId = user;
  const long rc = d.invoke(op, name, CorbaCommParam(), out);
  std::unique_ptr<CorbaCommParam> owned(out);
  CORBA::LongLong v = -1;
  outOk = out != nullptr && (rc == FM_SUCCESS ? out->props.length() == 1 && (out->props[0].value >>= v) && v == user &&
                                                    name == std::string(out->props[0].name)
                                              : out->props.length() == 0);
  return rc;
}

TEST(InvokeDispatcherTest, RoutesByFullNameAndRefusesClashes) {
  {
    XRFMCommonInvokeDispatcher d;
    EXPECT_EQ(d.registerService(new EchoService("Alarm")), FM_SUCCESS);
    EXPECT_EQ(d.registerService(new EchoService("Alarm")), FM_INVALID_ARG);  // same name: deleted
    EXPECT_EQ(d.registerService(nullptr), FM_INVALID_ARG);
    EXPECT_EQ(d.registerService(new EchoService("Twice", true)), FM_INVALID_ARG);
    EXPECT_EQ(g_live.load(), 1); EXPECT_EQ(d.methodCount(), 2u);
    // Not the operation's own 5; a throwing operation still answers, with an empty output.
    const std::pair<const char*, long> cases[] = {{"Alarm.query", FM_SUCCESS}, {"Alarm.fail", FM_FAILURE},
        {"query", FM_METHOD_NOT_FOUND}, {"Alarm.", FM_METHOD_NOT_FOUND}, {"Alarm.query.x", FM_METHOD_NOT_FOUND},
        {"alarm.query", FM_METHOD_NOT_FOUND}, {"", FM_METHOD_NOT_FOUND}};
    for (const auto& k : cases) {
      bool outOk = false;
      EXPECT_EQ(call(d, k.first, 42, outOk), k.second) << k.first; EXPECT_TRUE(outOk) << k.first;
    }
  }
  EXPECT_EQ(g_live.load(), 0);
}

TEST(InvokeDispatcherTest, ConcurrencyOfCallersAndRegistrations) {
  {
    XRFMCommonInvokeDispatcher d;
    ASSERT_EQ(d.registerService(new EchoService("S0")), FM_SUCCESS);
    std::atomic<long> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
      callers.emplace_back([&, t] {  // callers run while the services S1..S39 register
        for (int i = 0; i < 20000; ++i) {
          const std::string name = i % 3 == 0 ? "S0.query" : "S" + std::to_string(i % 40) + (i % 2 ? ".query" : ".nope");
          bool outOk = false;
          const long rc = call(d, name, t, outOk);
          if (!outOk || (rc != FM_SUCCESS && rc != FM_METHOD_NOT_FOUND) || (i % 3 == 0 && rc != FM_SUCCESS)) ++wrong;
        }
      });
    }
    for (int s = 1; s < 40; ++s) EXPECT_EQ(d.registerService(new EchoService("S" + std::to_string(s))), FM_SUCCESS);
    for (auto& th : callers) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(d.serviceCount(), 40u); EXPECT_EQ(d.methodCount(), 80u);
  }
  EXPECT_EQ(g_live.load(), 0);
}

}  // namespace
}  // namespace Kyrofm
