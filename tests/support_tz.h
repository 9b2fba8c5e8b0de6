// support_tz.h: a scope that runs a test under another host time zone.
//
// ScopedTZ sets TZ (setenv + tzset) and restores the previous value, or its
// absence, when it goes. Only for single-threaded test bodies: the C library's
// zone is process-wide.
#ifndef FM_TESTS_SUPPORT_TZ_H
#define FM_TESTS_SUPPORT_TZ_H

#include <cstdlib>
#include <ctime>
#include <string>

namespace fmtest {

class ScopedTZ {
 public:
  explicit ScopedTZ(const std::string& zone) : m_old(std::getenv("TZ") ? std::getenv("TZ") : "") {
    m_bHad = std::getenv("TZ") != nullptr;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~ScopedTZ() {
    m_bHad ? ::setenv("TZ", m_old.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTZ(const ScopedTZ&) = delete;
  ScopedTZ& operator=(const ScopedTZ&) = delete;

 private:
  std::string m_old;
  bool m_bHad;
};

}  // namespace fmtest

#endif
