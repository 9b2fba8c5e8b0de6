// Tests of the managed-object rights checks against a brute-force model of
// the security and equipment services, on every entry point.
#include <gtest/gtest.h>

#include <random>

#include "fm_common/audit/MOAudit.h"
#include "fm_common/platform/CFDNSplitter.h"
#include "fm_common/platform/CFMSecurity.h"
#include "fm_common/platform/EAMUtil2DB.h"
#include "support/FmTestSupport.h"

using namespace Kyrofm;

namespace {

const char* const kRoot = "OMC=1";

struct World {
  std::vector<std::string> nes;           // NE FDNs, some without a class or zone
  std::map<std::string, std::string> cls;  // NE -> security class
  std::map<std::string, SMUser_t> users;   // token -> user
};

World makeWorld(std::mt19937& rng) {
  CFMCallSMImpl::clear();
  CFMCallEAMImpl::clear();
  EAMUtil2DB::Clear();
  CFDNSplitter::instance()->setRootFdn(kRoot);
  CFDNSplitter::instance()->setSplitter(',');
  World w;
  for (int i = 0; i < 40; ++i) {
    std::string ne = "NE=" + std::to_string(i);
    w.nes.push_back(ne);
    if (rng() % 8 != 0) CFMCallEAMImpl::setSecClass(ne, w.cls[ne] = "C" + std::to_string(rng() % 3));
    if (rng() % 8 != 0) EAMUtil2DB::SetZoneInfoByNe(ne, "UTC");
  }
  for (int u = 0; u < 6; ++u) {
    SMUser_t user;
    user.bSuperUser = u == 0;  // token t0: super user; t5: no right at all
    for (const auto& ne : w.nes)
      if (u != 5 && rng() % 3 != 0) user.domain.insert(ne);
    for (const char* access : {"ack", "clear"})
      for (const char* c : {"C0", "C1", "C2"})
        if (u != 5 && rng() % 2 == 0) user.grants.insert({access, c});
    CFMCallSMImpl::setUser(w.users.emplace("t" + std::to_string(u), user).first->first, user);
  }
  return w;
}

// The model: may `token` perform `access` on `fdn` (an NE, an object below
// one, the root or an empty name)?
bool modelRight(const World& w, const std::string& token, const std::string& access, const std::string& fdn) {
  if (fdn.empty() || fdn == kRoot) return true;
  const SMUser_t& u = w.users.at(token);
  if (u.bSuperUser) return true;
  auto c = w.cls.find(fdn);
  return c != w.cls.end() && u.grants.count({access, c->second}) != 0;
}

long modelDomain(const World& w, const std::string& token, const std::vector<std::string>& fdns) {
  const SMUser_t& u = w.users.at(token);
  if (u.bSuperUser) return 33000;
  if (fdns.empty()) return 33101;
  for (const auto& f : fdns)
    if (u.domain.count(f.substr(0, f.find(','))) == 0) return 33101;
  return 33000;
}

std::vector<std::string> randomObjects(const World& w, std::mt19937& rng, size_t n) {
  std::vector<std::string> out;
  for (size_t i = 0; i < n; ++i) {
    switch (rng() % 10) {
      case 0: out.push_back(""); break;
      case 1: out.push_back(kRoot); break;
      case 2: out.push_back(w.nes[rng() % w.nes.size()] + ",Board=1"); break;
      default: out.push_back(w.nes[rng() % w.nes.size()]);
    }
  }
  return out;
}

}  // namespace

TEST(MOAudit, EveryEntryPointAgreesWithTheModel) {
  std::mt19937 rng(11);
  CMOAuditCheck check;
  for (int round = 0; round < 12; ++round) {
    World w = makeWorld(rng);
    for (size_t n : {size_t(0), size_t(1), size_t(3), size_t(1000), size_t(1001)}) {
      for (const auto& [token, user] : w.users) {
        std::vector<std::string> objs = randomObjects(w, rng, n);
        const std::string access = rng() % 2 ? "ack" : "clear";
        bool all = true;
        for (const auto& o : objs) {
          bool m = modelRight(w, token, access, o);
          ASSERT_EQ(m, check.hasMOOperationRight(o, access, token)) << token << " " << o;
          all = all && m;
        }
        std::vector<std::string> list = objs;
        EXPECT_EQ(all, check.batchHasMOOperationRight(list, access, token)) << token << " n=" << n;
        EXPECT_EQ(all, check.checkSomeMORight(access, token, objs)) << token << " n=" << n;
        EXPECT_EQ(all, check.batchCheckSomeMORight(access, token, objs)) << token << " n=" << n;
        FMClient_t client{"u", token};
        EXPECT_EQ(modelDomain(w, token, objs), CMOAuditBase::CheckUserMORight(client, false, objs, true, true))
            << token << " n=" << n;
        if (!user.bSuperUser && n > 0) {
          EXPECT_EQ(33101, CMOAuditBase::CheckUserMORight(client, true, objs, false, true));
          EXPECT_EQ(modelDomain(w, token, {objs[0]}), CMOAuditBase::CheckUserMORight(client, objs[0], true, true));
        }
      }
    }
  }
}

TEST(MOAudit, CheckAllSplitsTheListsByAccess) {
  std::mt19937 rng(3);
  World w = makeWorld(rng);
  SMUser_t u;
  u.grants = {{"both", "C0"}, {"a", "C1"}, {"b", "C2"}};
  CFMCallSMImpl::setUser("tu", u);
  for (const char* c : {"C0", "C1", "C2"}) CFMCallEAMImpl::setSecClass(std::string("N") + c, c);
  CMOAuditCheck check;
  // listB = {NC0, NC2}, listA = {NC0, NC1}: NC0 needs "both", NC1 "a", NC2 "b".
  EXPECT_EQ((std::vector<bool>{check.checkAllMORight("a", "b", "both", "tu", {"NC0", "NC2"}, {"NC0", "NC1"}),
                               check.batchCheckAllMORight("a", "b", "both", "tu", {"NC0", "NC2"}, {"NC0", "NC1"}),
                               check.checkAllMORight("b", "a", "both", "tu", {"NC0", "NC2"}, {"NC0", "NC1"}),
                               check.batchCheckAllMORight("b", "a", "both", "tu", {"NC0", "NC2"}, {"NC0", "NC1"})}),
            (std::vector<bool>{true, true, false, false}));
}

TEST(MOAudit, ChunksStopAtTheFirstRefusalAndTrivialListsAskNobody) {
  std::mt19937 rng(5);
  makeWorld(rng);
  SMUser_t u;
  u.grants = {{"ack", "C"}};
  CFMCallSMImpl::setUser("tu", u);
  std::vector<std::string> list;
  for (int i = 0; i < 2500; ++i) {
    list.push_back("X=" + std::to_string(i));
    CFMCallEAMImpl::setSecClass(list.back(), i == 1500 ? "secret" : "C");
  }
  CMOAuditCheck check;
  size_t before = CFMCallEAMImpl::requestCount();
  EXPECT_FALSE(check.batchHasMOOperationRight(list, "ack", "tu"));
  EXPECT_EQ(before + 2, CFMCallEAMImpl::requestCount());  // chunks 1 and 2, not 3
  CFMCallEAMImpl::setAvailable(false);  // the class cannot be read: no right
  EXPECT_FALSE(check.hasMOOperationRight("X=1", "ack", "tu"));
  CFMCallEAMImpl::setAvailable(true);

  CFMCallSMImpl::clear();
  CFMCallEAMImpl::clear();
  std::vector<std::string> trivial{"", kRoot, ""};
  EXPECT_TRUE(check.batchHasMOOperationRight(trivial, "ack", "nobody"));
  EXPECT_TRUE(trivial.empty());
  EXPECT_EQ(0u, CFMCallSMImpl::requestCount() + CFMCallEAMImpl::requestCount());

  CFMCallSMImpl::setAvailable(false);
  FMClient_t client{"u", "tu"};
  EXPECT_EQ(33901, CMOAuditBase::NoNeedCheckUserMORight(client));
  EXPECT_EQ(33901, CMOAuditBase::CheckUserMORight(client, false, {"X=1"}, false, true));
  CFMCallSMImpl::clear();
  // The NE registry is asked only when the caller wants it.
  fmtest::TraceCapture trace;
  for (bool checkNe : {false, true}) CMOAuditBase::CheckUserMORight(client, false, {"NE=404"}, checkNe, false);
  EXPECT_EQ(trace.count("NEfdn [NE=404] not exist!"), 1u);
}

TEST(MOAudit, WithoutChecksEverythingPasses) {
  CMOAuditMgr* mgr = CMOAuditMgr::instance();  // default settings: no checks
  EXPECT_FALSE(mgr->isMOAudit());
  std::vector<std::string> list{"NE=1"};
  EXPECT_TRUE(mgr->getMoAudit()->hasMOOperationRight("NE=1", "ack", "nobody") &&
              mgr->getMoAudit()->batchHasMOOperationRight(list, "ack", "nobody") &&
              mgr->getMoAudit()->batchCheckSomeMORight("ack", "nobody", list));
  CMOAuditMgr::destroy();
  EXPECT_EQ(CMOAuditBase::GetNednbyMOdn("NE=1", ',') + CMOAuditBase::GetNednbyMOdn("NE=1,B=2", ','), "NE=1NE=1");
}
