// CFDNSplitter.cpp: the in-process FDN service registry.
#include "fm_common/platform/CFDNSplitter.h"

namespace Kyrofm {

std::atomic<CFDNSplitter*> CFDNSplitter::_instance{nullptr};
std::mutex CFDNSplitter::_instanceMutex;

CFDNSplitter* CFDNSplitter::instance() {
  CFDNSplitter* p = _instance.load(std::memory_order_acquire);
  if (p == nullptr) {
    std::lock_guard<std::mutex> guard(_instanceMutex);
    p = _instance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      p = new CFDNSplitter();
      _instance.store(p, std::memory_order_release);
    }
  }
  return p;
}

void CFDNSplitter::destroy() {
  std::lock_guard<std::mutex> guard(_instanceMutex);
  delete _instance.exchange(nullptr, std::memory_order_acq_rel);
}

std::string CFDNSplitter::getRootFdn() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_strRootFdn;
}

void CFDNSplitter::setRootFdn(const std::string& fdn) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_strRootFdn = fdn;
}

}  // namespace Kyrofm
