// KyroCommonUtils.cpp: see the header.
#include "fm_common/platform/KyroCommonUtils.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace Kyrofm {
namespace {

int initialGlobal() {
  const char* env = std::getenv("KYRO_GLOBAL_VERSION");
  return (env && std::strcmp(env, "0") == 0) ? 0 : 1;
}

std::atomic<int> g_global{initialGlobal()};

}  // namespace

bool KyroCommonUtils::IsGlobalVersion() { return g_global.load() != 0; }
void KyroCommonUtils::setGlobalVersion(bool global) { g_global.store(global ? 1 : 0); }

const std::string& KyroCommonUtils::getEscapeString() {
  static const std::string clause = " escape '\\'";
  return clause;
}

std::string KyroCommonUtils::getRoot() {
  const char* root = std::getenv("KYRO_ROOT");
  return root ? std::string(root) : std::string();
}

int KyroCommonUtils::Kyrochown(const std::string&) { return 0; }

}  // namespace Kyrofm
