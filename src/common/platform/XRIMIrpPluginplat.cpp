// XRIMIrpPluginplat.cpp: the in-process plug-in object and naming registries.
#include "fm_common/platform/XRIMIrpPluginplat.h"

namespace Kyrofm {

std::atomic<XRIMIrpPluginplat*> XRIMIrpPluginplat::m_pInstance{nullptr};
std::mutex XRIMIrpPluginplat::m_InstanceMutex;

XRIMIrpPluginplat* XRIMIrpPluginplat::Instance() {
  XRIMIrpPluginplat* p = m_pInstance.load(std::memory_order_acquire);
  if (p) return p;
  std::lock_guard<std::mutex> lock(m_InstanceMutex);
  p = m_pInstance.load(std::memory_order_relaxed);
  if (!p) {
    p = new XRIMIrpPluginplat();
    m_pInstance.store(p, std::memory_order_release);
  }
  return p;
}

void XRIMIrpPluginplat::Destroy() {
  std::lock_guard<std::mutex> lock(m_InstanceMutex);
  delete m_pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

std::string XRIMIrpPluginplat::getOMCNeFdn() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strOMCNeFdn;
}

void XRIMIrpPluginplat::setOMCNeFdn(const std::string& fdn) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strOMCNeFdn = fdn;
}

std::string XRIMIrpPluginplat::getOMCName() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_strOMCName;
}

void XRIMIrpPluginplat::setOMCName(const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strOMCName = name;
}

int XRIMIrpPluginplat::getMOName(const std::string& fdn, std::string& name) const {
  ++m_lCalls;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bNamingAvailable) return MONAME_NOT_FOUND;
  auto it = m_names.find(fdn);
  if (it == m_names.end()) return MONAME_NOT_FOUND;
  name = it->second;
  return 33000;
}

int XRIMIrpPluginplat::getBatchMOName(const std::set<std::string>& fdns,
                                      std::map<std::string, std::string>& names) const {
  ++m_lCalls;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bNamingAvailable) return MONAME_NOT_FOUND;
  for (const auto& fdn : fdns) {
    auto it = m_names.find(fdn);
    if (it != m_names.end()) names[fdn] = it->second;
  }
  return 33000;
}

void XRIMIrpPluginplat::setMOName(const std::string& fdn, const std::string& name) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_names[fdn] = name;
}

void XRIMIrpPluginplat::removeMOName(const std::string& fdn) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_names.erase(fdn);
}

void XRIMIrpPluginplat::setNamingAvailable(bool available) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bNamingAvailable = available;
}

bool XRIMIrpPluginplat::hasProductLib() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<bool>(m_productNamer);
}

int XRIMIrpPluginplat::getProductMOName(const std::string& fdn, std::string& name) const {
  ProductNamer namer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    namer = m_productNamer;
  }
  if (!namer) return -1;
  return namer(fdn, name);
}

void XRIMIrpPluginplat::setProductNamer(ProductNamer namer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_productNamer = std::move(namer);
}

void XRIMIrpPluginplat::clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_strOMCNeFdn.clear();
  m_strOMCName.clear();
  m_names.clear();
  m_bNamingAvailable = true;
  m_productNamer = nullptr;
}

}  // namespace Kyrofm
