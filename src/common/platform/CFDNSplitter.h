// CFDNSplitter.h: the platform's managed-object FDN service, as far as the
// fault-management library uses it: the character that separates the
// components of an FDN and the root FDN of the managed-object tree.
//
// An in-process registry: the host process (or a test) sets the values; the
// defaults are ',' and an empty root FDN.
//
// Ownership and threads: one process-wide object (instance/destroy); every
// operation may be called from any thread.
#ifndef FM_PLATFORM_CFDNSPLITTER_H
#define FM_PLATFORM_CFDNSPLITTER_H

#include <atomic>
#include <mutex>
#include <string>

namespace Kyrofm {

class CFDNSplitter {
 public:
  static CFDNSplitter* instance();
  static void destroy();

  // The FDN component separator; ',' unless set.
  char getSplitter() const { return m_cSplitter.load(std::memory_order_relaxed); }
  void setSplitter(char splitter) { m_cSplitter.store(splitter, std::memory_order_relaxed); }

  // The FDN of the root of the managed-object tree; empty unless set.
  std::string getRootFdn() const;
  void setRootFdn(const std::string& fdn);

  CFDNSplitter(const CFDNSplitter&) = delete;
  CFDNSplitter& operator=(const CFDNSplitter&) = delete;
  ~CFDNSplitter() = default;

 private:
  CFDNSplitter() = default;

  static std::atomic<CFDNSplitter*> _instance;
  static std::mutex _instanceMutex;

  std::atomic<char> m_cSplitter{','};
  mutable std::mutex m_mutex;
  std::string m_strRootFdn;
};

}  // namespace Kyrofm

#endif
