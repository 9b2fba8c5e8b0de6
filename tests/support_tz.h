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
  explicit ScopedTZ(const std::string& zone) {
    const char* old = std::getenv("TZ");
    m_bHad = old != nullptr;
    if (old) m_strOld = old;
    ::setenv("TZ", zone.c_str(), 1);
    ::tzset();
  }
  ~ScopedTZ() {
    if (m_bHad) {
      ::setenv("TZ", m_strOld.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTZ(const ScopedTZ&) = delete;
  ScopedTZ& operator=(const ScopedTZ&) = delete;

 private:
  bool m_bHad = false;
  std::string m_strOld;
};

}  // namespace fmtest

#endif
