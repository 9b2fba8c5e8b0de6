// KyroCommonUtils.cpp: see the header.
#include "fm_common/platform/KyroCommonUtils.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

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
  if (root != nullptr && *root != '\0') return root;
  // Fixed at the first call so that a later chdir cannot split the files of
  // one process over two roots. The warning goes straight to stderr: the trace
  // client's default sink asks for the root itself.
  static std::once_flag once;
  static std::string fallback;
  std::call_once(once, [] {
    char cwd[4096];
    fallback = ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string(".");
    fallback += fallback.back() == '/' ? "var" : "/var";
    std::fprintf(stderr, "fm_common: warning: KYRO_ROOT is not set; every file goes below %s\n", fallback.c_str());
  });
  return fallback;
}

int KyroCommonUtils::Kyrochown(const std::string&) { return 0; }

}  // namespace Kyrofm
